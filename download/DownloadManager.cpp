#include "DownloadManager.h"

#include <exception>
#include <mutex>

#include "TransferSupport.h"
#include "util/Text.h"

namespace {

// Failures become result texts; nothing leaves a transfer as an exception.
template <typename Transfer>
DownloadResult Run(const wchar_t* prefix, Transfer&& transfer) {
    DownloadResult result{false, std::wstring()};
    try {
        transfer();
        result.first = true;
    } catch (const download::Failure& failure) {
        result.second = prefix + failure.text;
    } catch (const std::exception& e) {
        result.second = prefix + AnsiToWide(e.what(), CP_ACP);
    }
    return result;
}

}  // namespace

DownloadManager::~DownloadManager() { cancelled = true; }

std::shared_ptr<DownloadManager> GetDownloadManager() {
    static const std::shared_ptr<DownloadManager> manager = std::make_shared<DownloadManager>();
    return manager;
}

DownloadResult DownloadManager::DownloadFile(const std::wstring& url, HWND window, const std::wstring& fileName,
                                             bool useTempFolder, const std::string& sha256) {
    DownloadResult result =
        Run(L"[WINHTTP] ", [&] { TransferWinHttp(url, window, fileName, useTempFolder, sha256); });
    // Once the user quits, no second transport starts the file again.
    if (result.first || cancelled) return result;

    download::PauseUnlessCancelled(2000, cancelled);
    // The original URL again: WinINet follows redirects on its own.
    const DownloadResult fallback = DownloadFileWinInet(url, window, fileName, useTempFolder, sha256);
    if (fallback.first) {
        result.first = true;
    } else {
        result.second += fallback.second;
    }
    return result;
}

DownloadResult DownloadManager::DownloadFileWinInet(const std::wstring& url, HWND window, const std::wstring& fileName,
                                                    bool useTempFolder, const std::string& sha256) {
    return Run(L" [WININET] ", [&] { TransferWinInet(url, window, fileName, useTempFolder, sha256); });
}
