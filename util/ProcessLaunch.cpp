#include "ProcessLaunch.h"

#include "Handles.h"
#include "SystemError.h"

namespace {

LaunchResult StartFailure(DWORD error) { return {kNoExitCode, L"Error launching executable: " + FormatSystemMessage(error)}; }

}  // namespace

LaunchResult LaunchProcess(const std::wstring& program, const std::wstring& arguments, bool wait) {
    // A quote would end the program's name early and make the rest of the
    // path its arguments; a NUL would cut the line.
    if (program.empty() || program.find_first_of(std::wstring(L"\"\0", 2)) != std::wstring::npos)
        return StartFailure(ERROR_INVALID_NAME);

    std::wstring commandLine = L"\"" + program + L"\" " + arguments;  // CreateProcessW may write into it
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        const DWORD error = ::GetLastError();
        return StartFailure(error);
    }
    const tamsel::KernelHandle process(info.hProcess);
    const tamsel::KernelHandle thread(info.hThread);

    DWORD exitCode = kNoExitCode;
    if (wait && ::WaitForSingleObject(process.Get(), INFINITE) == WAIT_OBJECT_0) {
        DWORD code = 0;
        if (::GetExitCodeProcess(process.Get(), &code)) exitCode = code;
    }
    return {exitCode, exitCode == 0 ? std::wstring() : L"exit code = " + std::to_wstring(exitCode)};
}

std::future<LaunchResult> LaunchProcessAsync(const std::wstring& program, const std::wstring& arguments, bool wait) {
    return std::async(std::launch::async, [program, arguments, wait] { return LaunchProcess(program, arguments, wait); });
}
