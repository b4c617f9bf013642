#pragma once
// Runs of the real wizard in another process, driven the way a user drives
// it: buttons clicked through window messages.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "ProcessDriver.h"
#include "WizardWindows.h"
#include "util/Handles.h"
#include "resources/resource.h"

namespace wizardrun {

inline std::string LocalTimestamp() {
    SYSTEMTIME t;
    ::GetLocalTime(&t);
    char text[32];
    std::snprintf(text, sizeof text, "%04u%02u%02u%02u%02u%02u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                  t.wSecond);
    return text;
}

// Waits for the next second of the local clock and returns it: a run that
// starts then is told apart from every earlier run by its timestamp, which
// has whole seconds only.
inline std::string NextSecond() {
    const std::string now = LocalTimestamp();
    std::string next = now;
    while (next == now) {
        ::Sleep(20);
        next = LocalTimestamp();
    }
    return next;
}

// Where the download manager saves the product.
inline std::wstring DownloadsFolder() {
    PWSTR path = nullptr;
    std::wstring folder;
    if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_Downloads, 0, nullptr, &path))) folder = path;
    ::CoTaskMemFree(path);
    return folder;
}

// Names in the folder that start with prefix: a product, or a part of one.
inline std::vector<std::wstring> FilesStartingWith(const std::wstring& folder, const std::wstring& prefix) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry;
    const tamsel::FindHandle search(::FindFirstFileW((folder + L"\\" + prefix + L"*").c_str(), &entry));
    if (!search) return names;
    do names.push_back(entry.cFileName);
    while (::FindNextFileW(search.Get(), &entry));
    return names;
}

// A copy of the wizard named setup_<tag>.exe: its configuration request
// carries the tag, which picks the service's scenario.
inline std::wstring WizardNamedFor(const std::string& tag) {
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"tamsel-wizard-tests";
    ::CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring path = folder + L"\\setup_" + std::wstring(tag.begin(), tag.end()) + L".exe";
    EXPECT_TRUE(::CopyFileW(TAMSEL_EXE_UNDER_TEST, path.c_str(), FALSE)) << ::GetLastError();
    return path;
}

// One run of the wizard; a run that failed half-way is ended with it, so it
// never keeps the single-instance mutex.
class WizardRun {
public:
    // title: the download manager's window title; the installer's is the
    // product's name and a space.
    explicit WizardRun(const std::string& tag, const std::wstring& title = L"Setup")
        : WizardRun(Program{WizardNamedFor(tag)}, title) {}
    // A copy of the wizard that the caller placed itself.
    struct Program {
        std::wstring path;
    };
    // A start whose wizard shows no window within half a minute is reported
    // on the output and tried once more: in one CI run a started wizard never
    // showed its window, which no run here has shown again. The stuck process
    // is ended first, so it keeps no mutex.
    WizardRun(const Program& program, const std::wstring& title) : since_(NextSecond()) {
        for (int attempt = 1; attempt <= 2 && !wizard_; ++attempt) {
            process_.reset();
            process_ = std::make_unique<ProcessDriver>(program.path);
            wizard_ = process_->WaitForWindow(title, 30000);
            if (!wizard_) {
                const std::string state = process_->Describe();
                std::printf("[wizard run] start %d of 2 showed no wizard window within 30 s: %s\n", attempt,
                            state.c_str());
                std::fflush(stdout);
                if (attempt == 2) ADD_FAILURE() << "no wizard window in two starts: " << state;
            }
        }
    }

    bool Started() const { return wizard_ != nullptr; }
    HWND Wizard() const { return wizard_; }
    const std::string& Since() const { return since_; }
    const ProcessDriver& Process() const { return *process_; }

    HWND Control(int id, int seconds = 60) const { return wizardwindows::WaitForVisibleControl(wizard_, id, seconds); }
    // Clicks and waits until the page that held the button has gone.
    bool Click(int id) {
        HWND button = Control(id);
        if (!button || !wizardwindows::Click(button)) return false;
        for (int i = 0; i < 1200 && ::IsWindow(button) && ::IsWindowVisible(button); ++i) ::Sleep(50);
        return true;
    }
    bool Shows(int id) const { return wizardwindows::FindVisibleControl(wizard_, id) != nullptr; }

    // Closes the window and answers the question with OK or Cancel.
    std::wstring CloseAnswering(bool ok) {
        ::PostMessageW(wizard_, WM_CLOSE, 0, 0);
        HWND box = process_->WaitForWindow(L"", 20000);
        if (!box) return L"(no question)";
        std::wstring question;
        for (const std::wstring& text : ChildTexts(box))
            if (text.size() > question.size() && text != L"OK" && text != L"Cancel") question = text;
        PressButton(box, ok ? L"OK" : L"Cancel");
        return question;
    }

private:
    std::string since_;
    std::unique_ptr<ProcessDriver> process_;
    HWND wizard_ = nullptr;
};

// Language page, then the welcome page once the offers have arrived.
inline void ToWelcomePage(WizardRun& run) {
    ASSERT_TRUE(run.Started());
    ASSERT_TRUE(run.Click(IDC_NEXT));
    ASSERT_NE(run.Control(IDC_WELCOME_TITLE), nullptr) << "no welcome page";
}

// After the last product page: the downloads run by themselves, then Finish.
inline void ToTheEnd(WizardRun& run) {
    ASSERT_NE(run.Control(IDC_FINISH, 180), nullptr) << "no finish page";
    ASSERT_TRUE(run.Click(IDC_FINISH));
    DWORD exitCode = 99;
    EXPECT_TRUE(run.Process().WaitForExit(30000, &exitCode));
}

}  // namespace wizardrun
