#include <windows.h>
#include <wininet.h>

#include "DownloadManager.h"
#include "TransferSupport.h"
#include "util/SystemError.h"

void DownloadManager::TransferWinInet(const std::wstring& url, HWND window, const std::wstring& fileName,
                                      bool useTempFolder) {
    using namespace download;
    const Target target = PrepareTarget(url, fileName, useTempFolder);
    const std::wstring name = TargetName(url, fileName);
    RefuseEscapingName(name);
    PartFile part(target.path);
    if (cancelled) Fail(L"Download cancelled.");

    tamsel::WinInetHandle session(::InternetOpenW(L"", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!session) FailWithCode(L"Failed to initialize WinINet:", ::GetLastError());
    // WinINet follows redirects itself.
    tamsel::WinInetHandle request(::InternetOpenUrlW(session.Get(), url.c_str(), nullptr, 0, INTERNET_FLAG_RELOAD, 0));
    if (!request) FailWithCode(L"Failed to open URL:", ::GetLastError());

    DWORD status = 0;
    DWORD size = sizeof status;
    if (!::HttpQueryInfoW(request.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr))
        FailWithCode(L"Failed to query HTTP status code", ::GetLastError());
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
        progress.Add(read);
    }
    if (progress.Known()) part.CheckLength(progress.Length(), L"Failed to open downloaded file", true);
    part.Commit();
    lastFilePath = target.path;
    progress.Complete();
}
