#include "WinHttpSupport.h"

#include <memory>
#include <new>
#include <vector>

#include "DownloadManager.h"
#include "TransferSupport.h"
#include "util/WinHttpSession.h"
#include "util/WinHttpUrl.h"
#include "util/WindowsVersion.h"

namespace download {
namespace {

// The buffer a redirect's Location is read into.
constexpr DWORD kLocationBytes = 260;
constexpr size_t kLongestLocation = kLocationBytes / sizeof(wchar_t) - 1;

DWORD QueryStatus(HINTERNET request) {
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                               WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
        status = 0;
    return status;
}

}  // namespace

void OpenWinHttpResponse(const std::wstring& url, const WinHttpRequestSetup& setup, WinHttpResponse& response) {
    std::wstring current = url;
    int redirects = 0;
    bool wasSecure = false;
    for (;;) {
        response.request.Reset();
        response.connection.Reset();
        response.session.Reset();

        WinHttpSession session = OpenWinHttpSession(setup.userAgent, setup.accessType);
        if (session.failure) FailWithCode(session.failure, session.code);
        response.session = std::move(session.handle);

        // A text that is not an absolute URL (a relative Location too) ends here.
        const CrackedUrl parts = CrackUrl(current);
        if (!parts.ok) FailWithCode(L"Failed to parse URL", parts.error);
        const std::wstring& host = parts.host;
        std::wstring path = parts.path + parts.extra;
        if (path.empty()) path = L"/";
        const bool secure = parts.scheme == INTERNET_SCHEME_HTTPS;
        // Redirects are followed here, so WinHTTP's own refusal of this is off:
        // a file asked for over HTTPS never comes over plain HTTP.
        if (secure) wasSecure = true;
        else if (wasSecure) Fail(kRedirectToHttpRefused);

        response.connection.Reset(::WinHttpConnect(response.session.Get(), host.c_str(), parts.port, 0));
        if (!response.connection) FailWithCode(L"Failed to connect", ::GetLastError());

        response.request.Reset(::WinHttpOpenRequest(response.connection.Get(), L"GET", path.c_str(), nullptr,
                                                    WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                    (secure ? WINHTTP_FLAG_SECURE : 0) | setup.extraFlags));
        if (!response.request) FailWithCode(L"Failed to open request", ::GetLastError());
        // Redirects are counted and followed here, not inside WinHTTP.
        DWORD disable = WINHTTP_DISABLE_REDIRECTS;
        if (!::WinHttpSetOption(response.request.Get(), WINHTTP_OPTION_DISABLE_FEATURE, &disable, sizeof disable))
            FailWithCode(L"Failed to open request", ::GetLastError());

        if (!::WinHttpSendRequest(response.request.Get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0,
                                  0, 0))
            FailWithCode(L"Failed to send request", ::GetLastError());
        if (!::WinHttpReceiveResponse(response.request.Get(), nullptr))
            FailWithCode(L"Failed to receive response", ::GetLastError());

        const DWORD status = QueryStatus(response.request.Get());
        if (status >= 300 && status <= 399) {
            if (++redirects > 5) Fail(L"Too many redirects.");
            // The size is in bytes and counts the terminating NUL: 260 bytes hold
            // 129 characters. A longer Location fails rather than being cut
            // into a different URL.
            wchar_t location[kLocationBytes / sizeof(wchar_t)] = {};
            DWORD size = sizeof location;
            if (!::WinHttpQueryHeaders(response.request.Get(), WINHTTP_QUERY_LOCATION, WINHTTP_HEADER_NAME_BY_INDEX,
                                       location, &size, WINHTTP_NO_HEADER_INDEX)) {
                const DWORD error = ::GetLastError();
                if (error == ERROR_INSUFFICIENT_BUFFER)
                    Fail(L"Redirect location longer than " + std::to_wstring(kLongestLocation) + L" characters.");
                FailWithCode(L"Failed to read redirect location", error);
            }
            location[kLongestLocation] = L'\0';
            current = location;
            continue;
        }
        if (status < 200 || status > 299)
            Fail(L"Download failed: Server returned status code: " + std::to_wstring(status));
        return;
    }
}

bool QueryContentLength(HINTERNET request, uint64_t& length) {
    wchar_t text[32] = {};
    DWORD size = sizeof text - sizeof(wchar_t);
    if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, text, &size,
                               WINHTTP_NO_HEADER_INDEX))
        return false;
    text[31] = L'\0';
    return ParseContentLength(text, length);
}

void ReadWinHttpBody(HINTERNET request, const std::atomic<bool>& cancelled,
                     const std::function<void(const char*, DWORD)>& sink) {
    // The server decides the chunk sizes; a wild figure is read in parts.
    constexpr DWORD maxChunk = 16u << 20;
    for (;;) {
        if (cancelled) Fail(L"Download cancelled.");
        DWORD available = 0;
        if (!::WinHttpQueryDataAvailable(request, &available)) FailWithCode(L"Failed to query data", ::GetLastError());
        if (available == 0) return;
        const DWORD wanted = available > maxChunk ? maxChunk : available;
        std::unique_ptr<char[]> buffer(new (std::nothrow) char[wanted + 1]());
        if (!buffer) Fail(L"Out of memory.");
        DWORD read = 0;
        if (!::WinHttpReadData(request, buffer.get(), wanted, &read)) FailWithCode(L"Failed to read data", ::GetLastError());
        if (read > wanted) read = wanted;
        sink(buffer.get(), read);
    }
}

}  // namespace download

void DownloadManager::TransferWinHttp(const std::wstring& url, HWND window, const std::wstring& fileName,
                                      bool useTempFolder, const std::string& sha256) {
    using namespace download;
    const Target target = PrepareTarget(url, fileName, useTempFolder);
    const std::wstring name = TargetName(url, fileName);
    RefuseEscapingName(name);
    PartFile part(target.path);
    if (cancelled) Fail(L"Download cancelled.");
    WinHttpResponse response;
    OpenWinHttpResponse(url, {nullptr, WinHttpAccessType(), 0}, response);

    Progress progress(window);
    uint64_t length = 0;
    const bool known = QueryContentLength(response.request.Get(), length);
    progress.SetLength(known, length);
    OpenTarget(part, target.path, target.error, name);

    PayloadCheck payload(sha256);
    ReadWinHttpBody(response.request.Get(), cancelled, [&](const char* data, DWORD size) {
        part.Write(data, size);
        payload.Add(data, size);
        progress.Add(size);
    });
    if (progress.Known()) part.CheckLength(progress.Length(), L"Failed to open downloaded file.", false);
    payload.Verify();
    part.Commit();
    lastFilePath = target.path;
    progress.Complete();
}
