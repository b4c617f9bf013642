#include "DownloadPage.h"

#include <commctrl.h>

#include <exception>
#include <system_error>

#include "api/Package.h"
#include "config/ConfigurationManager.h"
#include "locale/LanguageManager.h"
#include "resources/resource.h"
#include "util/ArchiveLaunch.h"
#include "util/Text.h"
#include "util/WindowMessages.h"

namespace {

constexpr UINT kMarqueeMilliseconds = 30;

template <typename T>
std::future<T> ReadyFuture(T value) {
    std::promise<T> promise;
    promise.set_value(std::move(value));
    return promise.get_future();
}

std::wstring ExceptionText(const std::exception& e) { return AnsiToWide(e.what(), CP_ACP); }

}  // namespace

DownloadPage::DownloadPage(std::shared_ptr<LanguageManager> languageManager, std::shared_ptr<ConfigurationManager> config,
                           UINT templateId, HWND parent)
    : IPage(std::move(languageManager), std::move(config), templateId, parent), downloads(GetDownloadManager()) {}

// The futures' own destructors wait for their tasks; a running download has
// been cancelled by then when the user quit.
DownloadPage::~DownloadPage() = default;

BOOL DownloadPage::OnInitDialog() {
    RegisterText(IDC_PROGRESS_TITLE, "PROGRESS_TITLE");
    RegisterText(IDC_PROGRESS_DESC, "PROGRESS_DESC");
    ApplyTexts();
    progressBar = GetItem(IDC_PROGRESS);
    image.Attach(GetItem(IDC_PAGE_IMAGE));
    LoadPageImage();
    return TRUE;
}

void DownloadPage::OnNavigateToPage() {
    if (config->mainPackage) downloadQueue.push_back(config->mainPackage);
    const auto shown = config->shownOffers;
    for (const auto& offer : shown)
        if (offer && offer->push.pn) offer->WriteDateMarker();
    const auto accepted = config->acceptedOffers;
    for (const auto& offer : accepted)
        if (offer) downloadQueue.push_back(offer);
    if (downloadQueue.empty()) return OnDownloadsDone();
    StartNextDownload();
}

void DownloadPage::StopWork() {
    stopped = true;
    if (hwnd_) ::KillTimer(hwnd_, DOWNLOAD_POLL_TIMER);
    if (currentDownload.valid()) currentDownload.wait();
}

void DownloadPage::StartNextDownload() {
    if (config->userQuit || stopped || downloadQueue.empty()) return;
    const DownloadSource source = SourceFor(*downloadQueue.front());
    try {
        currentDownload = std::async(std::launch::async, [manager = downloads, source, window = hwnd_] {
            return manager->DownloadFile(source.url, window, source.fileName, source.useTempFolder, source.sha256);
        });
    } catch (const std::system_error& e) {
        // No thread: the download fails like any other, and the queue goes on.
        currentDownload = ReadyFuture(DownloadResult{false, ExceptionText(e)});
    }
    ::SetTimer(hwnd_, DOWNLOAD_POLL_TIMER, kPollMilliseconds, nullptr);
}

void DownloadPage::OnTimer(UINT_PTR id) {
    if (id == DOWNLOAD_POLL_TIMER) OnDownloadTimer();
}

void DownloadPage::OnDownloadTimer() {
    if (stopped || !currentDownload.valid()) return;
    if (currentDownload.wait_for(std::chrono::seconds(0)) != std::future_status::ready) return;
    ::KillTimer(hwnd_, DOWNLOAD_POLL_TIMER);
    const std::shared_ptr<Package> package = downloadQueue.front();
    downloadQueue.pop_front();
    DownloadResult result;
    try {
        result = currentDownload.get();
    } catch (const std::exception& e) {
        result = {false, ExceptionText(e)};
    }
    if (!result.first) {
        SendFailure(package, "DOWNLOAD FAILED: ", result.second);
        OnDownloaded(package, false);
    } else {
        OnDownloaded(package, true);
    }
    if (!downloadQueue.empty())
        StartNextDownload();
    else
        OnDownloadsDone();
}

void DownloadPage::SendFailure(const std::shared_ptr<Package>& package, const char* prefix,
                               const std::wstring& text) {
    const int code = package->isMain && config->downloadEventFlag ? 3 : -1;
    package->SendEvent(code, nlohmann::json{{"12", FailureEventText(prefix, text)}});
}

void DownloadPage::StartLaunch(const std::wstring& path, const std::wstring& arguments, bool wait) {
    // Replacing the future waits for the previous start's task.
    currentLaunch = std::future<LaunchResult>();
    try {
        currentLaunch = LaunchProcessAsync(path, arguments, wait);
    } catch (const std::system_error& e) {
        currentLaunch = ReadyFuture(LaunchResult{kNoExitCode, L"Error launching executable: " + ExceptionText(e)});
    }
}

std::wstring DownloadPage::LaunchTargetOf(const std::wstring& path, const std::wstring& base) {
    const int type = DetectArchiveType(path);
    if (type == kNotArchive) return path;
    try {
        return PrepareLaunchTarget(path, type, base);
    } catch (const std::bad_alloc&) {
        return path;  // unpacking never stops the start: the archive is started as it is
    }
}

void DownloadPage::EnterMarquee() {
    ::SendMessageW(progressBar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    ::SendMessageW(progressBar, PBM_SETPOS, 0, 0);
    // The style first: a bar without it ignores PBM_SETMARQUEE.
    const LONG_PTR style = ::GetWindowLongPtrW(progressBar, GWL_STYLE);
    ::SetWindowLongPtrW(progressBar, GWL_STYLE, style | PBS_MARQUEE);
    ::SendMessageW(progressBar, PBM_SETMARQUEE, TRUE, kMarqueeMilliseconds);
}

void DownloadPage::OnDownloadSizeUnknown() {
    EnterMarquee();
    marqueeMode = true;
}

void DownloadPage::OnDownloadProgress(WPARAM percent) {
    if (percent > 100) return EnterMarquee();
    if (marqueeMode) {
        ::SendMessageW(progressBar, PBM_SETMARQUEE, FALSE, 0);
        const LONG_PTR style = ::GetWindowLongPtrW(progressBar, GWL_STYLE);
        ::SetWindowLongPtrW(progressBar, GWL_STYLE, style & ~static_cast<LONG_PTR>(PBS_MARQUEE));
        ::SendMessageW(progressBar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
        ::SendMessageW(progressBar, PBM_SETPOS, 0, 0);
        ::SendMessageW(progressBar, PBM_SETSTEP, 1, 0);
        marqueeMode = false;
    }
    ::SendMessageW(progressBar, PBM_SETPOS, percent, 0);
}

bool DownloadPage::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (message) {
    case WM_TIMER:
        OnTimer(static_cast<UINT_PTR>(wParam));
        result = 0;
        return true;
    case WM_DOWNLOAD_PROGRESS:
        OnDownloadProgress(wParam);
        result = 0;
        return true;
    case WM_DOWNLOAD_SIZE_UNKNOWN:
        OnDownloadSizeUnknown();
        result = 0;
        return true;
    }
    return IPage::OnMessage(message, wParam, lParam, result);
}
