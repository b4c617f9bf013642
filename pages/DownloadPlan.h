#pragma once
// What the download pages decide without a window: where each package comes
// from, the texts of their failure events and the installer switch of the
// classic flow.
#include <array>
#include <string>

// One DownloadFile call: the address, the file name ("" takes the address's
// last piece), whether the file goes into the temporary folder, and the
// digest the file must have ("" when the configuration states none).
struct DownloadSource {
    std::wstring url;
    std::wstring fileName;
    bool useTempFolder = true;
    std::string sha256;
};

// An address that is not a full one is a path below the file endpoint.
std::wstring ResolveAgainstFileEndpoint(const std::wstring& address, const std::wstring& fileEndpointUrl);

// The download manager's product: saved under its own name in the download folder.
DownloadSource MainSourceDlm(const std::wstring& productUrl, const std::wstring& productFileName,
                             const std::string& sha256 = std::string());
// The installer's product: named after its address, kept with the offers.
DownloadSource MainSourceIsv(const std::wstring& productUrl, const std::wstring& fileEndpointUrl);
DownloadSource OfferSource(const std::wstring& offerUrl, const std::wstring& fileEndpointUrl,
                           const std::string& sha256 = std::string());

// The text of a failure event: prefix and the wide failure text in UTF-8, the
// event document's encoding. (In the ANSI code page every letter outside it
// would reach the service as a replacement character.)
std::string FailureEventText(const char* prefix, const std::wstring& text);

// "/S /FORCEINSTALL " and sixteen digits built from the classic flow's boxes.
std::wstring ForcedInstallArguments(const std::array<bool, 3>& options, const std::array<bool, 5>& configurations);
