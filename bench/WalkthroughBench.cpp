// The whole wizard walked through without pauses, as the demo's user would:
//   walkthrough_bench WIZARD.exe
// Next on the language page, Next on the welcome page, Accept on every offer,
// then Finish once the downloads have ended; prints the wall time from the
// program's start to its end in milliseconds ("walkthrough_ms N"), or a
// failure line and exit code 1.
#include <windows.h>

#include <cstdio>
#include <string>

#include "ProcessDriver.h"
#include "WizardWindows.h"
#include "resources/resource.h"

namespace {

constexpr int kGiveUpSeconds = 300;

double Now() {
    LARGE_INTEGER frequency, now;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Clicks the visible button with that id and waits until it has gone with its
// page; false when there was none or the page stayed.
bool ClickAway(HWND wizard, int id) {
    HWND button = wizardwindows::WaitForVisibleControl(wizard, id, kGiveUpSeconds);
    if (!button || !wizardwindows::Click(button)) return false;
    for (int i = 0; i < kGiveUpSeconds * 200 && ::IsWindowVisible(button); ++i) ::Sleep(5);
    return !::IsWindowVisible(button);
}

int Fail(const char* what) {
    std::printf("walkthrough failed: %s\n", what);
    return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::printf("usage: walkthrough_bench WIZARD.exe\n");
        return 2;
    }
    const double start = Now();
    ProcessDriver process(argv[1]);
    if (!process.Started()) return Fail("the wizard did not start");
    HWND wizard = process.WaitForWindow(L"Setup", kGiveUpSeconds * 1000);
    if (!wizard) return Fail("no wizard window");
    if (!ClickAway(wizard, IDC_NEXT)) return Fail("language page");
    if (!wizardwindows::WaitForVisibleControl(wizard, IDC_WELCOME_TITLE, kGiveUpSeconds)) return Fail("welcome page");
    if (!ClickAway(wizard, IDC_NEXT)) return Fail("welcome page's Next");
    // Offers until the download page (or the finish page) shows.
    int offers = 0;
    for (;;) {
        if (wizardwindows::FindVisibleControl(wizard, IDC_PROGRESS) || wizardwindows::FindVisibleControl(wizard, IDC_FINISH))
            break;
        if (wizardwindows::FindVisibleControl(wizard, IDC_ACCEPT)) {
            if (!ClickAway(wizard, IDC_ACCEPT)) return Fail("an offer");
            ++offers;
            continue;
        }
        if (Now() - start > kGiveUpSeconds) return Fail("no download page");
        ::Sleep(5);
    }
    if (!ClickAway(wizard, IDC_FINISH)) return Fail("finish page");
    if (!process.WaitForExit(kGiveUpSeconds * 1000)) return Fail("the wizard did not end");
    std::printf("offers %d\nwalkthrough_ms %.0f\n", offers, (Now() - start) * 1000);
    return 0;
}
