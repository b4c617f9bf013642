#include "DownloadPlan.h"

#include <windows.h>

#include "util/Text.h"
#include "util/Url.h"

std::wstring ResolveAgainstFileEndpoint(const std::wstring& address, const std::wstring& fileEndpointUrl) {
    return IsValidUrl(address) ? address : fileEndpointUrl + address;
}

DownloadSource MainSourceDlm(const std::wstring& productUrl, const std::wstring& productFileName,
                             const std::string& sha256) {
    return {productUrl, productFileName, false, sha256};
}

DownloadSource MainSourceIsv(const std::wstring& productUrl, const std::wstring& fileEndpointUrl) {
    return {ResolveAgainstFileEndpoint(productUrl, fileEndpointUrl), std::wstring(), true, std::string()};
}

DownloadSource OfferSource(const std::wstring& offerUrl, const std::wstring& fileEndpointUrl,
                           const std::string& sha256) {
    return {ResolveAgainstFileEndpoint(offerUrl, fileEndpointUrl), std::wstring(), true, sha256};
}

std::string FailureEventText(const char* prefix, const std::wstring& text) {
    return std::string(prefix) + WideToUtf8(text);
}

std::wstring ForcedInstallArguments(const std::array<bool, 3>& options, const std::array<bool, 5>& configurations) {
    const auto digit = [](bool checked) { return checked ? L'1' : L'0'; };
    std::wstring digits;
    digits += digit(configurations[2]);
    digits += digit(configurations[3]);
    digits += digit(configurations[0]);
    digits += L"00";
    digits += digit(configurations[1]);
    digits += L"0101";
    digits += digit(configurations[4]);
    digits += digit(configurations[2]);
    digits += digit(options[1]);
    digits += digit(options[2]);
    digits += digit(options[0]);
    digits += L'0';
    return L"/S /FORCEINSTALL " + digits;
}
