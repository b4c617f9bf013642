#include <gtest/gtest.h>

#include <thread>

#include <windows.h>

#include <cerrno>

#include "util/DetachedThread.h"
#include "util/Handles.h"
#include "util/KnownFolders.h"
#include "util/MessageSink.h"
#include "util/WinHttpSession.h"
#include "util/WindowsVersion.h"


#include "util/SystemError.h"

TEST(FormatSystemMessage, DescribesSystemAndInternetCodes) {
    const std::wstring notFound = FormatSystemMessage(ERROR_FILE_NOT_FOUND);
    ASSERT_FALSE(notFound.empty());
    EXPECT_EQ(notFound.back(), L'\n');
    EXPECT_EQ(DescribeFailure(L"Open", ERROR_FILE_NOT_FOUND), L"Open: 2 - " + notFound);
    // Internet codes are not in the system's table but in the modules' own.
    EXPECT_FALSE(FormatSystemMessage(12007).empty());  // name not resolved
    EXPECT_EQ(FormatSystemMessage(0x7FFFFFF0), L"");
}

TEST(GetKnownFolderPath, AnswersForCurrentAndDefaultUser) {
    EXPECT_FALSE(GetKnownFolderPath(FOLDERID_Downloads, false).empty());
    EXPECT_FALSE(GetKnownFolderPath(FOLDERID_Desktop, true).empty());
    GUID unknown = {};
    EXPECT_EQ(GetKnownFolderPath(unknown, false), L"");
}

// A refused thread start names the system's reason, or the runtime's turned
// into the nearest system code; never a code left over from an earlier call.
TEST(ThreadStartError, PrefersTheSystemsCodeThenTheRuntimes) {
    const struct {
        unsigned long lastError;
        int errnoValue;
        unsigned long expected;
    } cases[] = {
        {ERROR_NOT_ENOUGH_MEMORY, EAGAIN, ERROR_NOT_ENOUGH_MEMORY},
        {ERROR_ACCESS_DENIED, 0, ERROR_ACCESS_DENIED},
        {0, EINVAL, ERROR_INVALID_PARAMETER},
        {0, EACCES, ERROR_ACCESS_DENIED},
        {0, EAGAIN, ERROR_NOT_ENOUGH_MEMORY},
        {0, 0, ERROR_NOT_ENOUGH_MEMORY},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ThreadStartError(c.lastError, c.errnoValue), c.expected) << c.lastError << " " << c.errnoValue;
}

TEST(StartDetachedThread, RunsTheWork) {
    const tamsel::KernelHandle done(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    HANDLE signal = done.Get();
    ASSERT_TRUE(StartDetachedThread([signal] { ::SetEvent(signal); }));
    EXPECT_EQ(::WaitForSingleObject(signal, 30000), WAIT_OBJECT_0);
}

// The program's own boxes ("Invalid path") carry its title, also when a
// worker thread shows them.
TEST(ApplicationMessageBoxSink, CaptionIsTheProgramsTitle) {
    EXPECT_EQ(ApplicationTitle(), L"Tamsel");
    std::thread worker([] { ApplicationMessageBoxSink()(L"Invalid path"); });
    HWND box = nullptr;
    for (int i = 0; i < 200 && !box; ++i) {
        box = ::FindWindowW(L"#32770", L"Tamsel");
        if (!box) ::Sleep(50);
    }
    EXPECT_NE(box, nullptr) << "no box captioned with the program's title";
    // Whatever its caption, the box is closed so the worker ends.
    for (int i = 0; i < 200 && !box; ++i) {
        box = ::FindWindowW(L"#32770", nullptr);
        if (!box) ::Sleep(50);
    }
    if (box) ::PostMessageW(box, WM_COMMAND, IDOK, 0);
    worker.join();
}

// What a WinHTTP session asks of each Windows: the proxy access type and the
// secure protocols.
TEST(WinHttpSession, AccessTypeAndProtocolsFollowTheVersion) {
    const DWORD kOld = 0x20 | 0x80;                 // SSL 3.0, TLS 1.0
    const DWORD kNew = kOld | 0x200 | 0x800;        // and TLS 1.1, 1.2
    const DWORD kAutomatic = 4;
    const struct {
        const char* what;
        WindowsVersion version;
        DWORD access;
        DWORD protocols;
        bool noSecureConnections;
    } cases[] = {
        {"Vista", {true, 6, 0, 6002, 2}, kAutomatic, kOld, false},
        {"7", {true, 6, 1, 7600, 0}, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, kOld, true},
        {"7 SP1", {true, 6, 1, 7601, 1}, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, kNew, false},
        {"8", {true, 6, 2, 9200, 0}, kAutomatic, kNew, false},
        {"10", {true, 10, 0, 19045, 0}, kAutomatic, kNew, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WinHttpAccessType(c.version), c.access) << c.what;
        EXPECT_EQ(WinHttpSecureProtocols(c.version), c.protocols) << c.what;
        EXPECT_EQ(c.version.LacksSecureConnections(), c.noSecureConnections) << c.what;
    }
    const WinHttpSession session = OpenWinHttpSession(nullptr, WinHttpAccessType());
    EXPECT_TRUE(session.handle) << session.code;
    EXPECT_EQ(session.failure, nullptr);
}
