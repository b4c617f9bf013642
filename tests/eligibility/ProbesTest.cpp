// The probes against the prefix's real machine: memory, processor, disk,
// versions, processes, files, Chrome, Internet Explorer and App Paths.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>

#include "ChildProcess.h"
#include "TestRegistry.h"
#include "common/TestEnvironment.h"
#include "eligibility/Probes.h"
#include "util/Handles.h"
#include "util/Text.h"
#include "util/WindowsVersion.h"

namespace {

using testreg::ScopedKey;
using testreg::Unique;

bool Wow64Prefix() { return testenv::Config() == "wow64"; }

// Files and the folders created for them, removed again in reverse order.
class ScopedFiles {
public:
    ~ScopedFiles() {
        for (auto it = files_.rbegin(); it != files_.rend(); ++it) ::DeleteFileW(it->c_str());
        for (auto it = folders_.rbegin(); it != folders_.rend(); ++it) ::RemoveDirectoryW(it->c_str());
    }
    const std::wstring& File(const std::wstring& path) {
        Folder(path.substr(0, path.find_last_of(L'\\')));
        const tamsel::FileHandle file(
            ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) throw std::runtime_error("CreateFileW failed");
        files_.push_back(path);
        return files_.back();
    }
    void Folder(const std::wstring& path) {
        if (::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return;
        Folder(path.substr(0, path.find_last_of(L'\\')));
        if (::CreateDirectoryW(path.c_str(), nullptr)) folders_.push_back(path);
    }

private:
    std::vector<std::wstring> files_;
    std::vector<std::wstring> folders_;
};

std::wstring TempFolder() {
    wchar_t path[MAX_PATH];
    const DWORD n = ::GetTempPathW(MAX_PATH, path);
    std::wstring folder(path, n);
    if (!folder.empty() && folder.back() == L'\\') folder.pop_back();
    return folder + L"\\" + Unique(L"tamsel-probes-");
}

// The host's memory as Linux reports it, through Wine's Z: drive; 0 when
// that view is not there.
uint64_t HostMemoryMiB() {
    std::ifstream meminfo("Z:\\proc\\meminfo");
    std::string line;
    while (std::getline(meminfo, line)) {
        std::istringstream fields(line);
        std::string key;
        uint64_t kib = 0;
        if (fields >> key >> kib && key == "MemTotal:") return kib / 1024;
    }
    return 0;
}

TEST(Measurements, MemoryIsTheMachinesInMiB) {
    ProbeCache cache;
    const Measurement memory = ProbeTotalMemory(cache);
    ASSERT_TRUE(memory.ok) << memory.failure;
    const uint64_t host = HostMemoryMiB();
    if (host == 0) GTEST_SKIP() << "no view of the host's memory";
    EXPECT_NEAR(static_cast<double>(memory.value), static_cast<double>(host), 2.0);
}

TEST(Measurements, ProcessorSpeedIsProcessorZerosRegistryFigure) {
    tamsel::RegKey key;
    ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0", 0,
                              KEY_READ | KEY_WOW64_64KEY, key.Put()),
              ERROR_SUCCESS);
    DWORD mhz = 0, size = sizeof mhz;
    ASSERT_EQ(::RegGetValueW(key.Get(), nullptr, L"~MHz", RRF_RT_REG_DWORD, nullptr, &mhz, &size), ERROR_SUCCESS);
    ProbeCache cache;
    const Measurement speed = ProbeProcessorSpeed(cache);
    ASSERT_TRUE(speed.ok) << speed.failure;
    EXPECT_EQ(speed.value, mhz);
}

TEST(Measurements, FreeDiskSpaceIsTheSystemDrivesInMiB) {
    ProbeCache cache;
    const Measurement free = ProbeFreeDiskSpace(cache);
    ASSERT_TRUE(free.ok) << free.failure;
    ULARGE_INTEGER available{};
    ASSERT_TRUE(::GetDiskFreeSpaceExW(L"C:\\", &available, nullptr, nullptr));
    // Other programs write to the same disk meanwhile: same drive, same unit.
    EXPECT_NEAR(static_cast<double>(free.value), static_cast<double>(available.QuadPart >> 20), 1024.0);
}

TEST(Measurements, AMeasuredValueIsNotMeasuredAgain) {
    ProbeCache cache;
    cache.memoryMeasured = cache.processorMeasured = cache.diskMeasured = true;
    cache.totalMemoryMiB = 11;
    cache.processorMHz = 22;
    cache.freeDiskMiB = 33;
    EXPECT_EQ(ProbeTotalMemory(cache).value, 11u);
    EXPECT_EQ(ProbeProcessorSpeed(cache).value, 22u);
    EXPECT_EQ(ProbeFreeDiskSpace(cache).value, 33u);

    ProbeCache fresh;
    ASSERT_TRUE(ProbeTotalMemory(fresh).ok);
    EXPECT_TRUE(fresh.memoryMeasured);
    EXPECT_EQ(ProbeTotalMemory(fresh).value, fresh.totalMemoryMiB);
}

// The system refuses a memory status whose length member is wrong; the
// probe's own text must carry the code the system gave.
BOOL WINAPI MemoryStatusOfWrongLength(LPMEMORYSTATUSEX status) {
    status->dwLength = sizeof *status - 1;
    return ::GlobalMemoryStatusEx(status);
}

// A drive letter that names no drive of this machine.
std::wstring AbsentDrive() {
    for (wchar_t letter = L'Q'; letter <= L'Y'; ++letter) {
        const std::wstring root = std::wstring(1, letter) + L":\\";
        if (::GetDriveTypeW(root.c_str()) == DRIVE_NO_ROOT_DIR) return root;
    }
    return std::wstring();
}

TEST(Measurements, FailedMeasurementsGiveTheirReasonsAndKeepNothing) {
    const std::wstring absent = AbsentDrive();
    ASSERT_FALSE(absent.empty());
    const std::wstring vendor = Unique(L"TamselProcessor");
    ScopedKey withoutValue(HKEY_CURRENT_USER, L"Software\\" + vendor, L"NoValue", KEY_WOW64_64KEY);
    ScopedKey tooWide(HKEY_CURRENT_USER, L"Software\\" + vendor, L"Qword", KEY_WOW64_64KEY);
    tooWide.SetQword(L"~MHz", 2400);
    // The processor's figure read from a key of this test instead.
    const auto processorKey = [&](const std::string& name) {
        return [=](ProbeSources& s) {
            s.processorRoot = HKEY_CURRENT_USER;
            s.processorKey = "Software\\" + WideToUtf8(vendor) + "\\" + name;
        };
    };

    const struct {
        const char* what;
        std::function<void(ProbeSources&)> point;
        std::function<Measurement(ProbeCache&)> probe;
        std::string reason;
    } cases[] = {
        {"memory status refused", [](ProbeSources& s) { s.memoryStatus = MemoryStatusOfWrongLength; },
         ProbeTotalMemory, "RAM CHECK FAILED " + std::to_string(ERROR_INVALID_PARAMETER)},
        {"no processor key", processorKey("Missing"), ProbeProcessorSpeed, "CPU CHECK FAILED: Couldn't open registry"},
        {"no ~MHz value", processorKey("NoValue"), ProbeProcessorSpeed, "CPU CHECK FAILED: Couldn't read value"},
        {"~MHz wider than four bytes", processorKey("Qword"), ProbeProcessorSpeed,
         "CPU CHECK FAILED: Couldn't read value"},
        {"desktop on a drive that does not exist",
         [&](ProbeSources& s) { s.diskFolder = absent + L"Users\\Default\\Desktop"; }, ProbeFreeDiskSpace,
         "DISK SPACE CHECK FAILED " + std::to_string(ERROR_PATH_NOT_FOUND)},
    };
    for (const auto& c : cases) {
        ProbeCache cache;
        c.point(cache.sources);
        const Measurement failed = c.probe(cache);
        EXPECT_FALSE(failed.ok) << c.what;
        EXPECT_EQ(failed.failure, c.reason) << c.what;
        EXPECT_FALSE(cache.memoryMeasured || cache.processorMeasured || cache.diskMeasured) << c.what;
        // The next offer measures again, and succeeds where the machine does.
        cache.sources = ProbeSources();
        const Measurement again = c.probe(cache);
        EXPECT_TRUE(again.ok) << c.what << ": " << again.failure;
    }
}

// The probes read what their sources hold: the processor's figure as a
// 32-bit number, the disk of the folder's drive whatever the folder.
TEST(Measurements, TheSourcesDecideWhatIsMeasured) {
    const std::wstring vendor = Unique(L"TamselProcessor");
    ScopedKey processor(HKEY_CURRENT_USER, L"Software\\" + vendor, L"0", KEY_WOW64_64KEY);
    processor.SetDword(L"~MHz", 3210);
    ProbeCache cache;
    cache.sources.processorRoot = HKEY_CURRENT_USER;
    cache.sources.processorKey = "Software\\" + WideToUtf8(vendor) + "\\0";
    cache.sources.diskFolder = L"C:\\no\\such\\folder";
    const Measurement speed = ProbeProcessorSpeed(cache);
    ASSERT_TRUE(speed.ok) << speed.failure;
    EXPECT_EQ(speed.value, 3210u);
    const Measurement free = ProbeFreeDiskSpace(cache);
    ASSERT_TRUE(free.ok) << free.failure;
    ULARGE_INTEGER available{};
    ASSERT_TRUE(::GetDiskFreeSpaceExW(L"C:\\", &available, nullptr, nullptr));
    EXPECT_NEAR(static_cast<double>(free.value), static_cast<double>(available.QuadPart >> 20), 1024.0);
}

TEST(Versions, WindowsVersionTestsMatchTheTrueVersion) {
    const WindowsVersion& version = GetWindowsVersion();
    ASSERT_TRUE(version.known);
    const std::pair<DWORD, DWORD> pairs[] = {{5, 1}, {6, 0}, {6, 1}, {6, 2}, {6, 3}, {10, 0}, {11, 0}};
    for (const auto& [major, minor] : pairs) {
        EXPECT_EQ(IsWindowsAtLeast(major, minor), version.AtLeast(major, minor)) << major << "." << minor;
    }
}

TEST(Versions, Wow64IsThePrefixKind) { EXPECT_EQ(IsUnderWow64(), Wow64Prefix()); }

bool Lists(const std::vector<std::wstring>& names, const std::wstring& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

TEST(Processes, TheListHoldsRunningProgramsAsTheSystemNamesThem) {
    ProbeCache before;
    ASSERT_FALSE(ProbeRunningProcesses(before).empty());
    ASSERT_FALSE(Lists(before.runningProcesses, ChildProcess::kImageName));

    ChildProcess child;
    ProbeCache during;
    EXPECT_TRUE(Lists(ProbeRunningProcesses(during), ChildProcess::kImageName));
    // A list once taken is kept for the run.
    EXPECT_FALSE(Lists(ProbeRunningProcesses(before), ChildProcess::kImageName));

    child.End();
    EXPECT_TRUE(Lists(ProbeRunningProcesses(during), ChildProcess::kImageName));
    ProbeCache after;
    EXPECT_FALSE(Lists(ProbeRunningProcesses(after), ChildProcess::kImageName));
}

TEST(Paths, AnyPathExists) {
    ScopedFiles files;
    const std::wstring folder = TempFolder();
    const std::wstring file = files.File(folder + L"\\present.txt");
    const std::wstring missing = folder + L"\\missing.txt";
    const struct {
        std::vector<std::wstring> paths;
        bool any;
    } cases[] = {
        {{}, false},
        {{missing}, false},
        {{file}, true},
        {{folder}, true},
        {{missing, file}, true},
        {{L"{commonpf64}\\x"}, false},
        {{L""}, false},
    };
    for (const auto& c : cases) EXPECT_EQ(AnyPathExists(c.paths), c.any) << testing::PrintToString(c.paths);
}

class Chrome : public testing::Test {
protected:
    void SetUp() override {
        if (Present()) GTEST_SKIP() << "this prefix has Chrome";
    }
    static bool Present() {
        ProbeCache cache;
        cache.folders = BuildFolderPlaceholderList(ReadFolderFacts());
        return ProbeChromePresent(cache);
    }
    ScopedFiles files_;
};

TEST_F(Chrome, FoundThroughTheBrowsersBeacon) {
    const std::wstring exe = files_.File(TempFolder() + L"\\beacon\\chrome.exe");
    ScopedKey beacon(HKEY_CURRENT_USER, L"SOFTWARE\\Google\\Chrome", L"BLBeacon", KEY_WOW64_32KEY);
    beacon.SetString(L"Path", exe + L".missing");
    EXPECT_FALSE(Present());
    beacon.SetString(L"Path", exe);
    EXPECT_TRUE(Present());
}

TEST_F(Chrome, FoundThroughAppPathsInTheDefaultView) {
    const std::wstring folder = TempFolder() + L"\\apppaths";
    files_.File(folder + L"\\chrome.exe");
    const std::wstring parent = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths";
    // The subkey is written with capitals: read through the default view
    // (which Wine shares with the native one for App Paths).
    ScopedKey registered(HKEY_LOCAL_MACHINE, parent, L"chrome.exe", KEY_WOW64_32KEY);
    registered.SetString(L"Path", folder + L"\\elsewhere");
    EXPECT_FALSE(Present());
    registered.SetString(L"Path", folder);
    EXPECT_TRUE(Present());
}

TEST_F(Chrome, FoundInTheProgramFilesOfCommonPf) {
    // {commonpf} is the 64-bit folder under WOW64 and the only one on a
    // 32-bit Windows; without WOW64 it is the x86 folder, which is also what
    // the 64-bit test build sees.
    const bool x86 = testenv::Config() == "x64";
    const std::wstring seen = x86 ? L"C:\\Program Files (x86)" : L"C:\\Program Files";
    const std::wstring other = x86 ? L"C:\\Program Files" : L"C:\\Program Files (x86)";
    files_.File(other + L"\\Google\\Chrome\\Application\\chrome.exe");
    EXPECT_FALSE(Present());
    files_.File(seen + L"\\Google\\Chrome\\Application\\chrome.exe");
    EXPECT_TRUE(Present());
}

// Chromium counts as Chrome, in the program files of {commonpf} and in the
// user's local application data alike.
TEST_F(Chrome, ChromiumFoundInEitherOfItsFolders) {
    const bool x86 = testenv::Config() == "x64";
    const std::wstring programFiles = x86 ? L"C:\\Program Files (x86)" : L"C:\\Program Files";
    const std::wstring localAppData = ReadFolderFacts().localAppData;
    ASSERT_FALSE(localAppData.empty());
    for (const std::wstring& folder : {programFiles, localAppData}) {
        {
            ScopedFiles files;
            files.File(folder + L"\\Chromium\\Application\\chrome.exe");
            EXPECT_TRUE(Present()) << WideToUtf8(folder);
        }
        EXPECT_FALSE(Present()) << WideToUtf8(folder) << ": gone again";
    }
}

// Internet Explorer's version text, replaced for a moment in the default view.
class InternetExplorer : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Internet Explorer", 0, nullptr, 0,
                                    KEY_READ | KEY_SET_VALUE, nullptr, key_.Put(), nullptr),
                  ERROR_SUCCESS);
        DWORD bytes = sizeof saved_;
        hadVersion_ = ::RegGetValueW(key_.Get(), nullptr, L"Version", RRF_RT_REG_SZ, nullptr, saved_, &bytes) ==
                      ERROR_SUCCESS;
    }
    void TearDown() override {
        if (hadVersion_) {
            Write(saved_);
        } else {
            ::RegDeleteValueW(key_.Get(), L"Version");
        }
    }
    void Write(const std::wstring& text) {
        ASSERT_EQ(::RegSetValueExW(key_.Get(), L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                   static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }

    tamsel::RegKey key_;
    wchar_t saved_[256] = {};
    bool hadVersion_ = false;
};

TEST_F(InternetExplorer, VersionIsTheLeadingNumber) {
    const std::pair<const wchar_t*, float> cases[] = {
        {L"9.11.19041.0", 9.11f}, {L"11.0.19041.1", 11.0f}, {L"8.0.7601.17514", 8.0f}, {L"9", 9.0f}, {L" 7.5x", 7.5f},
        // Texts that used to end the whole check with an exception.
        {L"unknown", 0.0f}, {L"", 0.0f}, {L"1e99", HUGE_VALF}, {L"-1e99", -HUGE_VALF},
    };
    for (const auto& [text, version] : cases) {
        Write(text);
        ProbeCache cache;
        const IeVersion ie = ProbeIeVersion(cache);
        EXPECT_TRUE(ie.found) << testing::PrintToString(std::wstring(text));
        EXPECT_EQ(ie.version, version) << testing::PrintToString(std::wstring(text));
    }
}

TEST_F(InternetExplorer, NoVersionIsNotFound) {
    ::RegDeleteValueW(key_.Get(), L"Version");
    ProbeCache cache;
    EXPECT_FALSE(ProbeIeVersion(cache).found);
}

class AppPaths : public testing::Test {
protected:
    std::unique_ptr<ScopedKey> Register(HKEY root, REGSAM view, const std::wstring& name, const std::wstring& exe) {
        auto key = std::make_unique<ScopedKey>(root, kParent, name, view);
        key->SetString(L"", exe);
        return key;
    }

    const std::wstring kParent = L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths";
    const std::wstring name_ = Unique(L"tamselapp") + L".exe";
    ScopedFiles files_;
    const std::wstring exe_ = files_.File(TempFolder() + L"\\app.exe");
    const std::wstring missing_ = TempFolder() + L"\\missing.exe";
};

TEST_F(AppPaths, RegisteredWhenEitherRecordPointsAtAnExecutable) {
    struct Case {
        const char* what;
        std::vector<std::tuple<HKEY, REGSAM, std::wstring>> registrations;
        bool registered;
    };
    const Case cases[] = {
        {"machine, default view", {{HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, exe_}}, true},
        {"machine, native view", {{HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, exe_}}, true},
        {"user", {{HKEY_CURRENT_USER, KEY_WOW64_32KEY, exe_}}, true},
        {"executable missing", {{HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, missing_}}, false},
        {"empty default value", {{HKEY_CURRENT_USER, KEY_WOW64_32KEY, L""}}, false},
        {"machine missing, user present",
         {{HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, missing_}, {HKEY_CURRENT_USER, KEY_WOW64_32KEY, exe_}},
         true},
        {"not registered", {}, false},
    };
    for (const Case& c : cases) {
        std::vector<std::unique_ptr<ScopedKey>> keys;
        for (const auto& [root, view, exe] : c.registrations) keys.push_back(Register(root, view, name_, exe));
        ProbeCache cache;
        EXPECT_EQ(IsAppRegistered(cache, name_), c.registered) << c.what;
    }
}

TEST_F(AppPaths, NamesAreComparedExactlyAgainstLowerCaseNames) {
    const auto key = Register(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, L"TamselUpper" + name_, exe_);
    ProbeCache cache;
    EXPECT_TRUE(IsAppRegistered(cache, L"tamselupper" + name_));
    EXPECT_FALSE(IsAppRegistered(cache, L"TamselUpper" + name_));
}

TEST_F(AppPaths, TheIndexAndEachPathAreReadOncePerRun) {
    ProbeCache cache;
    const auto key = Register(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, name_, exe_);
    ASSERT_TRUE(IsAppRegistered(cache, name_));

    // Registered after the index was built: not seen in this run.
    const std::wstring later = L"later" + name_;
    const auto laterKey = Register(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, later, exe_);
    EXPECT_FALSE(IsAppRegistered(cache, later));

    // The resolved path is kept; whether the file exists is asked each time.
    key->SetString(L"", missing_);
    EXPECT_TRUE(IsAppRegistered(cache, name_));

    ProbeCache fresh;
    EXPECT_TRUE(IsAppRegistered(fresh, later));
    EXPECT_FALSE(IsAppRegistered(fresh, name_));
}

TEST(Clock, LocalDates) {
    // Noon UTC: the same calendar day in every time zone within 12 hours.
    EXPECT_EQ(LocalDate(1706702400), L"20240131");
    EXPECT_EQ(LocalDate(951825600), L"20000229");
    EXPECT_EQ(LocalDate(-1), L"");
    // The run's timestamp comes from the same local time.
    EXPECT_EQ(LocalTimestamp(1706702400).substr(0, 8), "20240131");
    EXPECT_EQ(LocalTimestamp(1706702400).size(), 14u);
    EXPECT_EQ(LocalTimestamp(-1), "");

    SYSTEMTIME before{}, after{};
    ::GetLocalTime(&before);
    const std::wstring today = TodayLocalDate();
    ::GetLocalTime(&after);
    const auto text = [](const SYSTEMTIME& t) {
        return std::to_wstring(t.wYear * 10000 + t.wMonth * 100 + t.wDay);
    };
    EXPECT_TRUE(today == text(before) || today == text(after)) << testing::PrintToString(today);
}

}  // namespace
