#pragma once
// What both download pages share: the queue of packages downloaded one after
// the other on a worker task, the 100 ms poll of that task from the window
// thread, the progress bar fed by the download's messages, and the failure
// events. The two wizard types differ in where the product goes and in how
// the downloaded files are installed.
#include <deque>
#include <future>
#include <memory>
#include <string>
#include <utility>

#include "DownloadPlan.h"
#include "IPage.h"
#include "app/StaticFromImage.h"
#include "download/DownloadManager.h"
#include "util/ProcessLaunch.h"

class Package;

class DownloadPage : public IPage {
public:
    static constexpr UINT_PTR DOWNLOAD_POLL_TIMER = 0x1000;
    static constexpr UINT kPollMilliseconds = 100;

    DownloadPage(std::shared_ptr<LanguageManager> languageManager, std::shared_ptr<ConfigurationManager> config,
                 UINT templateId, HWND parent);
    ~DownloadPage() override;

    // Starts the downloads; expected once (the page has no Back button).
    void OnNavigateToPage() override;
    // The user quit: no further step is taken, and the running download
    // (cancelled by the caller) has ended when this returns, so its file is
    // no longer written while the temporary folder is removed.
    void StopWork() override;

protected:
    using InstallEntry = std::pair<std::shared_ptr<Package>, std::wstring>;

    BOOL OnInitDialog() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    virtual void LoadPageImage() = 0;
    virtual DownloadSource SourceFor(const Package& package) const = 0;
    // A download has been collected and taken off the queue.
    virtual void OnDownloaded(const std::shared_ptr<Package>& package, bool success) = 0;
    // Every download has been collected.
    virtual void OnDownloadsDone() = 0;
    virtual void OnTimer(UINT_PTR id);

    void StartNextDownload();
    void OnDownloadTimer();
    // Starts an installer on its task; the previous task has ended when this
    // returns. A task that cannot be started gives a failed launch at once.
    void StartLaunch(const std::wstring& path, const std::wstring& arguments, bool wait);
    // The downloaded file itself, or the program inside a ZIP archive
    // unpacked under base.
    static std::wstring LaunchTargetOf(const std::wstring& path, const std::wstring& base);
    void SendFailure(const std::shared_ptr<Package>& package, const char* prefix, const std::wstring& text);
    void EnterMarquee();
    void OnDownloadProgress(WPARAM percent);
    void OnDownloadSizeUnknown();

    bool stopped = false;
    HWND progressBar = nullptr;
    bool marqueeMode = false;
    std::future<DownloadResult> currentDownload;
    std::future<LaunchResult> currentLaunch;
    std::deque<std::shared_ptr<Package>> downloadQueue;
    std::deque<InstallEntry> installQueue;
    CStaticFromImage image;
    std::shared_ptr<DownloadManager> downloads;
};
