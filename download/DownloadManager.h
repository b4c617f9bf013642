#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "util/MessageSink.h"
#include "util/WindowMessages.h"  // WM_DOWNLOAD_PROGRESS, WM_DOWNLOAD_SIZE_UNKNOWN to the page window

// success, and the failure texts of the transports that failed ("" after a
// clean WinHTTP success).
using DownloadResult = std::pair<bool, std::wstring>;

// Bytes of a download into memory; the callback of DownloadToMemoryAsync owns them.
using DownloadBuffer = std::vector<unsigned char>;
using DownloadCallback = std::function<void(std::unique_ptr<DownloadBuffer>)>;

// Fetches files and images over HTTP(S): WinHTTP first, WinINet as the
// fallback for files. Shared by every page; one per process.
class DownloadManager : public std::enable_shared_from_this<DownloadManager> {
public:
    DownloadManager() = default;
    ~DownloadManager();
    DownloadManager(const DownloadManager&) = delete;
    DownloadManager& operator=(const DownloadManager&) = delete;

    // Only ever goes from false to true (the user quit); polled by workers.
    std::atomic<bool> cancelled{false};
    // The file written by the last successful DownloadFile.
    std::wstring lastFilePath;
    // Where files go: the product into downloadFolder, offers into
    // tempFolder. Set by the program before the first download.
    std::wstring downloadFolder;
    std::wstring tempFolder;
    // Where "Invalid path" goes; a message box from the calling thread.
    MessageSink showMessage = ApplicationMessageBoxSink();

    // Blocking; never throws for a transfer failure. Once cancelled is set the
    // transfer ends, its part file is removed and no fallback follows.
    // sha256: "" or the 64 hex digits the file must hash to; a file that does
    // not is a failed transfer and never takes its final name.
    DownloadResult DownloadFile(const std::wstring& url, HWND window, const std::wstring& fileName,
                                bool useTempFolder, const std::string& sha256 = std::string());
    DownloadResult DownloadFileWinInet(const std::wstring& url, HWND window, const std::wstring& fileName,
                                       bool useTempFolder, const std::string& sha256 = std::string());
    // Downloads into memory are images. A body larger than this stops the
    // download at once (an announced length before any byte is read) and
    // yields an empty buffer, without a second attempt.
    static constexpr uint64_t kMemoryDownloadLimit = 16u << 20;

    // The body, or empty when both attempts failed or it exceeds the limit.
    DownloadBuffer DownloadToMemory(const std::wstring& url);
    // Runs DownloadToMemory on a detached thread, then the callback there: a
    // null buffer when cancelled was set meanwhile (or, on the calling
    // thread, when no thread could be started).
    void DownloadToMemoryAsync(const std::wstring& url, DownloadCallback callback);

    // Folder (downloadFolder or tempFolder) joined with fileName or the URL's
    // last piece; "" when the folder is unusable, the name is not a plain file
    // name, or the result is too long.
    std::wstring BuildTargetPath(const std::wstring& url, const std::wstring& fileName, bool useTempFolder);
    static bool AppendPathComponent(std::wstring& path, const std::wstring& name);

    // What a download would be called: fileName, or the URL after its last "/".
    static std::wstring TargetName(const std::wstring& url, const std::wstring& fileName);
    // A name that stays inside its folder: no separators, drive, "." or "..",
    // trailing dot or space, control characters or device names.
    static bool IsPlainFileName(const std::wstring& name);

    // A download is written to a part file in its folder and moved onto its
    // final name once complete. The suffix marks a part file left behind by a
    // killed run; the next run of the same download replaces it.
    static constexpr const wchar_t* kPartSuffix = L".tamsel-part";
    // The part file of a final path: the path plus kPartSuffix while that fits
    // MAX_PATH; otherwise as many of the name's first characters as fit, "~"
    // and a digest of the whole name, then the suffix. Where even that cannot fit,
    // the full name plus the suffix in the extended-length form ("\\?\").
    static std::wstring PartPath(const std::wstring& finalPath);

private:
    struct Target {
        std::wstring path;
        DWORD error = 0;  // of the call that made the path unusable
    };
    Target PrepareTarget(const std::wstring& url, const std::wstring& fileName, bool useTempFolder);
    // Each throws download::Failure; defined next to its transport.
    void TransferWinHttp(const std::wstring& url, HWND window, const std::wstring& fileName, bool useTempFolder,
                         const std::string& sha256);
    void TransferWinInet(const std::wstring& url, HWND window, const std::wstring& fileName, bool useTempFolder,
                         const std::string& sha256);
};

// The one download manager, created on first use.
std::shared_ptr<DownloadManager> GetDownloadManager();
