#pragma once
// Starting a downloaded program, optionally waiting for its end, away from
// the user-interface thread.
#include <windows.h>

#include <future>
#include <string>
#include <utility>

// Exit code, and "" when it is 0, otherwise "exit code = <code>" or
// "Error launching executable: <the system's text, with its line break>".
using LaunchResult = std::pair<DWORD, std::wstring>;

// The exit code of a process not waited for, or not started.
constexpr DWORD kNoExitCode = 0xFFFFFFFF;

// Runs "\"program\" arguments" (the line ends in the space when arguments is
// empty) with the caller's environment and folder, inheriting no handles.
// Never throws for a program that cannot be started.
LaunchResult LaunchProcess(const std::wstring& program, const std::wstring& arguments, bool wait);

// LaunchProcess on a thread of its own; answers at once. Destroying the future
// waits for that thread, which for an unwaited start ends once the process is
// created. Throws std::system_error when no thread can be started.
std::future<LaunchResult> LaunchProcessAsync(const std::wstring& program, const std::wstring& arguments, bool wait);
