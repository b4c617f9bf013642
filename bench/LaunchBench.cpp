// Launch time of the wizard beside a bare dialog program, measured the same
// way in one run:
//   launch_bench RUNS WIZARD.exe BARE.exe
// Each start is timed from CreateProcess until a visible top-level window of
// the new process titled "Setup" shows a visible control 1010 (the language
// page's Next, the bare dialog's only button); then the process is ended.
// The two programs take turns, after one untimed start of each.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "ProcessDriver.h"
#include "WizardWindows.h"

namespace {

constexpr int kShownControl = 1010;
constexpr double kGiveUpSeconds = 60;

double Now() {
    LARGE_INTEGER frequency, now;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The titles are read with GetWindowText, which answers from the window's
// stored text and sends nothing into the process being timed.
bool PageShown(const ProcessDriver& process) {
    for (HWND window : process.VisibleTopLevelWindows()) {
        if (wizardwindows::Text(window) == L"Setup" && wizardwindows::FindVisibleControl(window, kShownControl))
            return true;
    }
    return false;
}

// Milliseconds until the page shows, or a negative figure when it never did.
double TimeOneStart(const std::wstring& program) {
    const double start = Now();
    ProcessDriver process(program);
    if (!process.Started()) return -1;
    for (;;) {
        if (PageShown(process)) return (Now() - start) * 1000.0;
        if (process.WaitForExit(0) || Now() - start > kGiveUpSeconds) return -1;
        ::Sleep(5);
    }
    // The driver ends the process when it goes out of scope.
}

double Median(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    const size_t n = samples.size();
    return n % 2 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
}

std::wstring FileName(const std::wstring& path) { return path.substr(path.find_last_of(L"\\/") + 1); }

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const int runs = argc == 4 ? _wtoi(argv[1]) : 0;
    if (runs < 1 || runs > 1000) {
        std::fwprintf(stderr, L"usage: launch_bench RUNS WIZARD.exe BARE.exe\n");
        return 2;
    }
    const std::wstring programs[2] = {argv[2], argv[3]};
    std::vector<double> times[2];

    // The first start of each also fills caches both share; it is not counted.
    for (int round = -1; round < runs; ++round) {
        for (int which = 0; which < 2; ++which) {
            const double ms = TimeOneStart(programs[which]);
            if (ms < 0) {
                std::fwprintf(stderr, L"%ls: no visible control %d in a window titled \"Setup\"\n",
                              programs[which].c_str(), kShownControl);
                return 1;
            }
            if (round >= 0) times[which].push_back(ms);
            // Let the ended process's teardown finish before the next start.
            ::Sleep(300);
        }
    }

    BOOL wow64 = FALSE;
    ::IsWow64Process(::GetCurrentProcess(), &wow64);
    std::printf("launch benchmark: %s, %d runs each, taking turns after one untimed start each\n",
                sizeof(void*) == 8 ? "64-bit programs" : wow64 ? "32-bit programs under WOW64" : "32-bit Windows",
                runs);
    for (int which = 0; which < 2; ++which) {
        const auto& t = times[which];
        std::printf("  %-16ls median %8.1f ms   min %8.1f   max %8.1f\n", FileName(programs[which]).c_str(),
                    Median(t), *std::min_element(t.begin(), t.end()), *std::max_element(t.begin(), t.end()));
    }
    std::printf("  wizard / bare dialog: %.2f x (medians)\n", Median(times[0]) / Median(times[1]));
    return 0;
}
