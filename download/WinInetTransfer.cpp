#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <cwchar>
#include <string>

#include "DownloadManager.h"
#include "TransferSupport.h"
#include "util/SystemError.h"

namespace {

// WinINet's own following went further than WinHTTP's five; so does this.
constexpr int kMaxWinInetRedirects = 10;
// Locations longer than the longest URL WinINet takes are refused.
constexpr DWORD kLongestLocation = INTERNET_MAX_URL_LENGTH;

bool IsHttps(const std::wstring& url) { return ::_wcsnicmp(url.c_str(), L"https://", 8) == 0; }

// The statuses WinINet follows by itself.
bool IsFollowedRedirect(DWORD status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool QueryLocation(HINTERNET request, std::wstring& location) {
    std::wstring buffer(kLongestLocation + 1, L'\0');
    DWORD size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    if (!::HttpQueryInfoW(request, HTTP_QUERY_LOCATION, buffer.data(), &size, nullptr)) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_INSUFFICIENT_BUFFER)
            download::Fail(L"Redirect location longer than " + std::to_wstring(kLongestLocation) + L" characters.");
        if (error == ERROR_HTTP_HEADER_NOT_FOUND) return false;
        download::FailWithCode(L"Failed to read redirect location", error);
    }
    buffer.resize(std::min<size_t>(size / sizeof(wchar_t), kLongestLocation));
    location = buffer.c_str();
    return true;
}

// A relative Location is taken against the address that answered.
std::wstring Combine(const std::wstring& base, const std::wstring& location) {
    std::wstring combined(kLongestLocation + 1, L'\0');
    DWORD length = static_cast<DWORD>(combined.size());
    if (!::InternetCombineUrlW(base.c_str(), location.c_str(), combined.data(), &length, ICU_NO_ENCODE))
        download::FailWithCode(L"Failed to follow redirect", ::GetLastError());
    combined.resize(std::min<size_t>(length, kLongestLocation));
    return combined.c_str();
}

}  // namespace

void DownloadManager::TransferWinInet(const std::wstring& url, HWND window, const std::wstring& fileName,
                                      bool useTempFolder, const std::string& sha256) {
    using namespace download;
    const Target target = PrepareTarget(url, fileName, useTempFolder);
    const std::wstring name = TargetName(url, fileName);
    RefuseEscapingName(name);
    PartFile part(target.path);
    if (cancelled) Fail(L"Download cancelled.");

    tamsel::WinInetHandle session(::InternetOpenW(L"", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!session) FailWithCode(L"Failed to initialize WinINet:", ::GetLastError());
    tamsel::WinInetHandle request;
    DWORD status = 0;
    DWORD size = 0;
    // Redirects are followed here rather than inside WinINet, so that each
    // address is seen before it is asked for.
    std::wstring current = url;
    bool wasSecure = false;
    for (int redirects = 0;; ++redirects) {
        if (IsHttps(current)) wasSecure = true;
        else if (wasSecure) Fail(kRedirectToHttpRefused);
        request.Reset(::InternetOpenUrlW(session.Get(), current.c_str(), nullptr, 0,
                                         INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_AUTO_REDIRECT, 0));
        if (!request) FailWithCode(L"Failed to open URL:", ::GetLastError());
        status = 0;
        size = sizeof status;
        if (!::HttpQueryInfoW(request.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr))
            FailWithCode(L"Failed to query HTTP status code", ::GetLastError());
        if (!IsFollowedRedirect(status)) break;
        std::wstring location;
        if (!QueryLocation(request.Get(), location)) break;  // no Location: the status stands
        if (redirects == kMaxWinInetRedirects) Fail(L"Too many redirects.");
        current = Combine(current, location);
    }
    if (status != 200) {
        const DWORD error = ::GetLastError();
        Fail(L"Server returned status code: HTTP " + std::to_wstring(status) + L" - " + FormatSystemMessage(error));
    }

    Progress progress(window);
    wchar_t lengthText[32] = {};
    size = sizeof lengthText - sizeof(wchar_t);
    uint64_t length = 0;
    const bool known = ::HttpQueryInfoW(request.Get(), HTTP_QUERY_CONTENT_LENGTH, lengthText, &size, nullptr) &&
                       ParseContentLength(lengthText, length);
    progress.SetLength(known, length);
    OpenTarget(part, target.path, target.error, name);

    PayloadCheck payload(sha256);
    for (;;) {
        // The user quit: no retry is left to finish the file for them.
        if (cancelled) Fail(L"Download cancelled.");
        char buffer[4096];
        DWORD read = 0;
        // A read that fails midway is a broken transfer, not the end of the body.
        if (!::InternetReadFile(request.Get(), buffer, sizeof buffer, &read))
            FailWithCode(L"Failed to read data", ::GetLastError());
        if (read == 0) break;
        if (read > sizeof buffer) read = sizeof buffer;
        part.Write(buffer, read);
        payload.Add(buffer, read);
        progress.Add(read);
    }
    if (progress.Known()) part.CheckLength(progress.Length(), L"Failed to open downloaded file", true);
    payload.Verify();
    part.Commit();
    lastFilePath = target.path;
    progress.Complete();
}
