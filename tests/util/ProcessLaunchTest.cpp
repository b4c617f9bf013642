// Starting programs: the child program built beside the test program, copied
// into a folder whose name has a space, reports its command line and exits
// with the code it is told; with "wait=NAME" it holds until the test sets
// that event.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <future>
#include <string>

#include "LaunchFiles.h"
#include "util/Handles.h"
#include "util/ProcessLaunch.h"

using namespace launchtest;

namespace {

// The system's own text for an error code, in the user's default language.
std::wstring SystemText(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                         FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                     reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text(buffer ? buffer : L"", n);
    ::LocalFree(buffer);
    return text;
}

// Open handles of this process, found by asking after each possible value
// (Wine's GetProcessHandleCount always answers 0).
size_t CountOpenHandles() {
    size_t count = 0;
    for (ULONG_PTR value = 4; value <= 0x10000; value += 4) {
        DWORD flags = 0;
        if (::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
    }
    return count;
}

// What the child wrote: its process id and its command line.
struct Report {
    DWORD processId = 0;
    std::wstring commandLine;
};

class ChildLaunch : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(::CreateDirectoryW((folder_ / L"a b").c_str(), nullptr));
        program_ = folder_ / L"a b\\x.exe";
        ASSERT_TRUE(::CopyFileW(ChildProgram().c_str(), program_.c_str(), FALSE)) << ::GetLastError();
        eventName_ = L"TamselLaunchTest" + std::to_wstring(::GetCurrentProcessId());
        release_.Reset(::CreateEventW(nullptr, TRUE, FALSE, eventName_.c_str()));
        ASSERT_TRUE(release_);
    }
    void TearDown() override {
        // A child still waiting is let go and waited for, so its folder can go.
        ::SetEvent(release_.Get());
        if (Reported()) {
            const tamsel::KernelHandle child(::OpenProcess(SYNCHRONIZE, FALSE, Read().processId));
            if (child) ::WaitForSingleObject(child.Get(), 30000);
        }
    }

    std::wstring ReportPath() const { return program_ + L".txt"; }
    bool Reported() const { return Exists(ReportPath()); }
    bool WaitForReport() const {
        return Eventually([this] { return Reported(); });
    }
    Report Read() const {
        const std::string bytes = ReadBytes(ReportPath());
        const std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
        Report report;
        const size_t newline = text.find(L'\n');
        if (newline == std::wstring::npos) return report;
        report.processId = std::stoul(text.substr(0, newline));
        report.commandLine = text.substr(newline + 1);
        return report;
    }
    std::wstring WaitArgument() const { return L"wait=" + eventName_; }

    TempFolder folder_;
    std::wstring program_;
    std::wstring eventName_;
    tamsel::KernelHandle release_;
};

}  // namespace

TEST_F(ChildLaunch, WaitsForTheExitCodeAndPassesTheCommandLineAsIs) {
    const struct {
        const wchar_t* arguments;
        DWORD exitCode;
        const wchar_t* message;
    } cases[] = {
        {L"exit=0", 0, L""},
        {L"exit=3", 3, L"exit code = 3"},
        {L"/S", 0, L""},
        {L"", 0, L""},
        {L"/S  exit=7 \"quoted arg\"", 7, L"exit code = 7"},
        {L"exit=4294967294", 4294967294u, L"exit code = 4294967294"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.arguments));
        ::DeleteFileW(ReportPath().c_str());
        EXPECT_EQ(LaunchProcess(program_, c.arguments, true), LaunchResult(c.exitCode, c.message));
        ASSERT_TRUE(Reported());  // waited: the child has written before it ended
        // A double quote, the path, a double quote, a space, the arguments.
        EXPECT_EQ(Read().commandLine, L"\"" + program_ + L"\" " + c.arguments);
    }
}

TEST_F(ChildLaunch, DoesNotWaitUnlessAsked) {
    // The child holds until released, so an answer here means no wait.
    const LaunchResult result = LaunchProcess(program_, WaitArgument() + L" exit=5", false);
    EXPECT_EQ(result, LaunchResult(4294967295u, L"exit code = 4294967295"));
    ASSERT_TRUE(WaitForReport());
    const tamsel::KernelHandle child(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, Read().processId));
    ASSERT_TRUE(child);
    EXPECT_EQ(::WaitForSingleObject(child.Get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));  // still running
    ::SetEvent(release_.Get());
    ASSERT_EQ(::WaitForSingleObject(child.Get(), 30000), WAIT_OBJECT_0);
    DWORD code = 0;
    ASSERT_TRUE(::GetExitCodeProcess(child.Get(), &code));
    EXPECT_EQ(code, 5u);
}

TEST_F(ChildLaunch, ReportsWhyAProgramCouldNotStart) {
    ASSERT_TRUE(WriteBytes(folder_ / L"a b\\readme.txt", "not a program"));
    const struct {
        const char* what;
        std::wstring program;
        DWORD error;
    } cases[] = {
        {"missing program", folder_ / L"a b\\missing.exe", ERROR_FILE_NOT_FOUND},
        {"not a program", folder_ / L"a b\\readme.txt", ERROR_BAD_EXE_FORMAT},
        {"no program named", L"", ERROR_INVALID_NAME},
        // A quote would close the program's name early: x.exe would start
        // with "exit=7" as its arguments.
        {"quote in the program's path", program_ + L"\" exit=7 \"", ERROR_INVALID_NAME},
        {"NUL in the program's path", program_ + std::wstring(1, L'\0') + L"more", ERROR_INVALID_NAME},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::wstring text = SystemText(c.error);
        ASSERT_FALSE(text.empty());
        EXPECT_EQ(LaunchProcess(c.program, L"exit=0", true),
                  LaunchResult(4294967295u, L"Error launching executable: " + text));
        EXPECT_FALSE(Reported());
    }
    // The system's text keeps its line break.
    const LaunchResult missing = LaunchProcess(folder_ / L"a b\\missing.exe", L"", false);
    EXPECT_EQ(missing.second.back(), L'\n');
}

TEST_F(ChildLaunch, AsyncAnswersBeforeAWaitedChildEnds) {
    std::future<LaunchResult> launch = LaunchProcessAsync(program_, WaitArgument() + L" exit=3", true);
    // The child has started and is held; the task waits for it, not this thread.
    ASSERT_TRUE(WaitForReport());
    EXPECT_EQ(launch.wait_for(std::chrono::seconds(0)), std::future_status::timeout);
    ::SetEvent(release_.Get());
    EXPECT_EQ(launch.get(), LaunchResult(3, L"exit code = 3"));
}

TEST_F(ChildLaunch, AsyncPassesItsOwnCopiesOfTheArguments) {
    std::wstring program = program_;
    std::wstring arguments = L"exit=0";
    std::future<LaunchResult> launch = LaunchProcessAsync(program, arguments, true);
    program.assign(L"changed");
    arguments.assign(L"exit=9");
    EXPECT_EQ(launch.get(), LaunchResult(0, L""));
    EXPECT_EQ(Read().commandLine, L"\"" + program_ + L"\" exit=0");
}

TEST_F(ChildLaunch, AsyncUnwaitedAndFailedStarts) {
    std::future<LaunchResult> unwaited = LaunchProcessAsync(program_, WaitArgument(), false);
    EXPECT_EQ(unwaited.get(), LaunchResult(4294967295u, L"exit code = 4294967295"));
    ASSERT_TRUE(WaitForReport());  // started, and still held by the event

    std::future<LaunchResult> failed = LaunchProcessAsync(folder_ / L"missing.exe", L"", true);
    EXPECT_EQ(failed.get(), LaunchResult(4294967295u, L"Error launching executable: " + SystemText(ERROR_FILE_NOT_FOUND)));
}

TEST_F(ChildLaunch, KeepsNoHandles) {
    const size_t before = CountOpenHandles();
    LaunchProcess(program_, WaitArgument(), false);
    ASSERT_TRUE(WaitForReport());
    {
        const tamsel::KernelHandle child(::OpenProcess(SYNCHRONIZE, FALSE, Read().processId));
        ::SetEvent(release_.Get());
        if (child) ::WaitForSingleObject(child.Get(), 30000);
    }
    LaunchProcess(program_, L"exit=1", true);
    LaunchProcess(folder_ / L"missing.exe", L"", true);
    EXPECT_EQ(CountOpenHandles(), before);
}
