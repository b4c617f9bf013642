#pragma once
// Starts a program and reads and drives its windows from outside, as a user
// (or an accessibility tool) would.
#include <windows.h>

#include <string>
#include <vector>

#include "util/Handles.h"

class ProcessDriver {
public:
    explicit ProcessDriver(const std::wstring& program);
    ~ProcessDriver();  // ends the process if it still runs

    DWORD Id() const { return info_.dwProcessId; }
    bool Started() const { return static_cast<bool>(process_); }
    // Waits up to timeoutMs for a visible top-level window of the process
    // with that title; null when none appeared.
    HWND WaitForWindow(const std::wstring& title, DWORD timeoutMs = 20000) const;
    std::vector<HWND> VisibleTopLevelWindows() const;
    // Waits for the process to end; false on time-out.
    bool WaitForExit(DWORD timeoutMs = 20000, DWORD* exitCode = nullptr) const;
    // What the process is doing now, for a test that waited in vain: not
    // started, ended with its code, or the windows it shows and their texts.
    std::string Describe() const;

private:
    PROCESS_INFORMATION info_{};
    DWORD startError_ = 0;
    tamsel::KernelHandle process_;
    tamsel::KernelHandle thread_;
};

std::wstring WindowText(HWND window);
// The same, and whether the window answered at all ("" then).
bool ReadWindowText(HWND window, std::wstring& text);
// Texts of every child of a window, in order (message box texts, labels).
std::vector<std::wstring> ChildTexts(HWND window);
// Presses the button with that text in a dialog (a message box's "OK").
bool PressButton(HWND dialog, const std::wstring& text);
