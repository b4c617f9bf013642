#include "SignedRequest.h"

#include <windows.h>

#include "config/ConfigurationManager.h"
#include "util/Digest.h"
#include "util/Text.h"
#include "util/WindowsVersion.h"
#include "util/Wow64.h"

std::string WindowsVersionText() {
    const WindowsVersion& v = GetWindowsVersion();
    if (!v.known) return std::string();
    return std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.build);
}

std::wstring SignatureHeaderValue(const std::string& machineGuid, const std::string& timestamp) {
    return L"Signature=" + AnsiToWide(Sha256Hex(machineGuid + timestamp), CP_ACP);
}

SignedRequest BuildSignedRequest(ConfigurationManager& config) {
    const std::string guid = config.GetMachineGuid();
    const std::string timestamp = config.GetTimestamp();

    SignedRequest request;
    request.headers.emplace_back(L"Authorization", SignatureHeaderValue(guid, timestamp));
    request.body = nlohmann::json::object();
    for (int key = 0; key <= 22; ++key) request.body[std::to_string(key)] = "";
    // Texts the configuration keeps wide go out in the ANSI code page.
    auto ansi = [](const std::wstring& w) { return WideToAnsi(w, CP_ACP); };
    request.body["1"] = guid;
    request.body["2"] = timestamp;
    request.body["3"] = ansi(config.brand);
    request.body["4"] = ansi(config.appId);
    request.body["7"] = ansi(config.fileVersion);
    request.body["15"] = 0;
    request.body["19"] = ansi(config.productCfl);
    request.body["21"] = ansi(config.productCh);
    request.body["22"] = ansi(config.productTitle);
    request.body["31"] = WindowsVersionText();
    request.body["38"] = IsUnderWow64() ? "1" : "0";
    return request;
}
