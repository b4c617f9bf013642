#pragma once
// Runs the probe child (TamselChild.Probe.exe beside the test program) until
// the owner ends it.
#include <windows.h>

#include <stdexcept>
#include <string>

#include "common/TestEnvironment.h"
#include "util/Handles.h"

class ChildProcess {
public:
    ChildProcess() {
        const std::wstring eventName = L"TamselProbeChild" + std::to_wstring(::GetCurrentProcessId());
        done_.Reset(::CreateEventW(nullptr, TRUE, FALSE, eventName.c_str()));
        if (!done_) throw std::runtime_error("CreateEventW failed");
        std::wstring command = L"\"" + testenv::ProgramFolder() + L"\\" + kImageName + L"\" " + eventName;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        if (!::CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
            throw std::runtime_error("CreateProcessW failed: " + std::to_string(::GetLastError()));
        }
        process_.Reset(info.hProcess);
        tamsel::KernelHandle thread(info.hThread);
    }
    ~ChildProcess() { End(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    void End() {
        if (!process_) return;
        ::SetEvent(done_.Get());
        ::WaitForSingleObject(process_.Get(), 10000);
        process_.Reset();
    }

    static constexpr const wchar_t* kImageName = L"TamselChild.Probe.exe";

private:
    tamsel::KernelHandle done_;
    tamsel::KernelHandle process_;
};
