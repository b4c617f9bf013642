#include <gtest/gtest.h>


#include <future>
#include <thread>
#include <vector>

#include "BuildSettings.h"
#include "common/TestEnvironment.h"
#include "config/ConfigurationManager.h"
#include "util/Handles.h"
#include "util/KnownFolders.h"

namespace {

struct Recorder {
    std::vector<std::wstring> messages;
    MessageSink Sink() {
        return [this](const std::wstring& text) { messages.push_back(text); };
    }
};

// A manager of a given type whose temporary folder goes with it.
struct ScopedConfiguration {
    Recorder recorder;
    std::unique_ptr<ConfigurationManager> config;
    explicit ScopedConfiguration(const std::string& type)
        : config(std::make_unique<ConfigurationManager>(type, recorder.Sink())) {}
    ~ScopedConfiguration() {
        if (!config->tempFolder.empty()) ::RemoveDirectoryW(config->tempFolder.c_str());
    }
    ConfigurationManager* operator->() { return config.get(); }
};

bool FolderExists(const std::wstring& path) {
    const DWORD a = ::GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

const wchar_t kCryptography[] = L"SOFTWARE\\Microsoft\\Cryptography";

tamsel::RegKey OpenCryptography(REGSAM view) {
    tamsel::RegKey key;
    ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kCryptography, 0, nullptr, 0, KEY_READ | KEY_WRITE | view, nullptr,
                      key.Put(), nullptr);
    return key;
}

std::string ReadString(HKEY key, const char* name) {
    char buffer[1024] = {};
    DWORD size = sizeof buffer - 1;
    if (::RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS)
        return std::string();
    return buffer;
}

void WriteString(HKEY key, const char* name, const std::string& value) {
    ASSERT_EQ(::RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                               static_cast<DWORD>(value.size() + 1)),
              ERROR_SUCCESS);
}

// Puts the machine's identifier back whatever the test did to it.
struct MachineGuidGuard {
    tamsel::RegKey key = OpenCryptography(KEY_WOW64_64KEY);
    std::string saved = ReadString(key.Get(), "MachineGuid");
    ~MachineGuidGuard() {
        if (!saved.empty()) WriteString(key.Get(), "MachineGuid", saved);
    }
};

}  // namespace

TEST(WizardType, TableMapsKnownNamesOnly) {
    EXPECT_EQ(LookupWizardType("DLM"), 1);
    EXPECT_EQ(LookupWizardType("ISV"), 2);
    for (const char* other : {"dlm", "", "XYZ", "DLM ", "BT"}) EXPECT_EQ(LookupWizardType(other), 0) << other;
}

TEST(ConfigurationManager, DownloadManagerSetUp) {
    ScopedConfiguration c("DLM");
    EXPECT_TRUE(c.recorder.messages.empty());
    EXPECT_EQ(c->wizardType, 1);
    EXPECT_EQ(c->productTitle, L"");
    EXPECT_EQ(c->downloadFolder, GetKnownFolderPath(FOLDERID_Downloads, false));
    ASSERT_TRUE(FolderExists(c->tempFolder));
    const size_t slash = c->tempFolder.find_last_of(L'\\');
    EXPECT_EQ(c->tempFolder.substr(slash + 1, 3), L"ISV");
    EXPECT_NE(c->tempFolder, ScopedConfiguration("DLM")->tempFolder) << "every run gets a folder of its own";

    EXPECT_EQ(c->fileVersion, L"3.2.2.1212");
    const std::wstring base = std::wstring(L"https://") + TAMSEL_EXPECTED_CONTENT_HOST;
    EXPECT_EQ(c->configEndpointUrl, base + L"/o");
    EXPECT_EQ(c->eventEndpointUrl, base + L"/zbd");
    EXPECT_EQ(c->fileEndpointUrl, base + L"/f/");
    EXPECT_EQ(c->sdkPrivacyUrl, std::wstring(L"https://") + TAMSEL_PRIVACY_HOST + L"/privacy/");
    EXPECT_EQ(c->brand, L"Harlix");
    EXPECT_EQ(c->appId, L"Harlix_DLM");
    EXPECT_EQ(c->stubId, L"Harlix_3cpp");
    EXPECT_EQ(c->backgroundColor, RGB(250, 250, 250));
    EXPECT_EQ(c->accentColor, RGB(2, 119, 189));
    EXPECT_TRUE(c->downloadEventFlag);
    EXPECT_FALSE(c->btFlow);
    EXPECT_FALSE(c->userQuit);
}

TEST(ConfigurationManager, InstallerSetUpDownloadsIntoItsTemporaryFolder) {
    ScopedConfiguration c("ISV");
    EXPECT_TRUE(c.recorder.messages.empty());
    EXPECT_EQ(c->wizardType, 2);
    EXPECT_EQ(c->productTitle, L"Harlix");
    ASSERT_TRUE(FolderExists(c->tempFolder));
    EXPECT_EQ(c->downloadFolder, c->tempFolder);
    EXPECT_EQ(c->productUrl, L"");
    EXPECT_EQ(c->launchCommand, L"");
}

TEST(ConfigurationManager, UnknownTypeIsReportedAndSetsNothingUp) {
    ScopedConfiguration c("Bogus");
    EXPECT_EQ(c.recorder.messages, std::vector<std::wstring>{L"Unknown wizard type"});
    EXPECT_EQ(c->wizardType, 0);
    EXPECT_EQ(c->tempFolder, L"");
    EXPECT_EQ(c->downloadFolder, L"");
    EXPECT_EQ(c->fileVersion, L"3.2.2.1212");  // compiled-in values are still there
    EXPECT_EQ(c->brand, L"Harlix");
}

TEST(ConfigurationManager, TimestampIsTakenOnceAndKept) {
    ScopedConfiguration c("DLM");
    const std::string first = c->GetTimestamp();
    ASSERT_EQ(first.size(), 14u);
    EXPECT_EQ(first.find_first_not_of("0123456789"), std::string::npos);
    ::Sleep(1100);
    EXPECT_EQ(c->GetTimestamp(), first);

    const std::string ms = ConfigurationManager::GetEpochMilliseconds();
    EXPECT_EQ(ms.find_first_not_of("0123456789"), std::string::npos);
    EXPECT_GE(ms.size(), 13u);
}

TEST(ConfigurationManager, MachineGuidComesFromTheNativeRegistryView) {
    MachineGuidGuard guard;
    ASSERT_FALSE(guard.saved.empty()) << "the prefix has a machine identifier";
    ScopedConfiguration c("DLM");
    if (testenv::Config() != "win32") {
        // A different value in the 32-bit branch must not be picked up.
        tamsel::RegKey redirected = OpenCryptography(KEY_WOW64_32KEY);
        const std::string before = ReadString(redirected.Get(), "MachineGuid");
        WriteString(redirected.Get(), "MachineGuid", "decoy-from-the-32-bit-view");
        EXPECT_EQ(c->GetMachineGuid(), guard.saved);
        if (before.empty())
            ::RegDeleteValueA(redirected.Get(), "MachineGuid");
        else
            WriteString(redirected.Get(), "MachineGuid", before);
    } else {
        EXPECT_EQ(c->GetMachineGuid(), guard.saved);
    }
}

TEST(ConfigurationManager, MissingOrOverlongMachineGuidIsEmptyAndTriedAgain) {
    MachineGuidGuard guard;
    ASSERT_FALSE(guard.saved.empty());
    ScopedConfiguration c("DLM");

    ASSERT_EQ(::RegDeleteValueA(guard.key.Get(), "MachineGuid"), ERROR_SUCCESS);
    EXPECT_EQ(c->GetMachineGuid(), "");
    WriteString(guard.key.Get(), "MachineGuid", std::string(300, 'x'));  // does not fit the 255-byte buffer
    EXPECT_EQ(c->GetMachineGuid(), "");
    WriteString(guard.key.Get(), "MachineGuid", std::string(254, 'y'));  // fits exactly
    EXPECT_EQ(c->GetMachineGuid(), std::string(254, 'y'));
    WriteString(guard.key.Get(), "MachineGuid", guard.saved);
    EXPECT_EQ(c->GetMachineGuid(), std::string(254, 'y')) << "a value once read is kept";
}

TEST(ConfigurationManager, LazyValuesAgreeUnderConcurrentFirstUse) {
    ScopedConfiguration c("DLM");
    std::vector<std::future<std::string>> results;
    for (int i = 0; i < 8; ++i) {
        results.push_back(std::async(std::launch::async, [&c] {
            const auto placeholders = c->GetFolderPlaceholders();
            return c->GetTimestamp() + "|" + c->GetMachineGuid() + "|" + std::to_string(placeholders.size());
        }));
    }
    const std::string first = results[0].get();
    for (size_t i = 1; i < results.size(); ++i) EXPECT_EQ(results[i].get(), first);
}

TEST(GetConfiguration, CreatesOneInstanceUnderConcurrentFirstCalls) {
    std::vector<std::future<ConfigurationManager*>> calls;
    for (int i = 0; i < 8; ++i)
        calls.push_back(std::async(std::launch::async, [] { return GetConfiguration().get(); }));
    ConfigurationManager* first = calls[0].get();
    for (size_t i = 1; i < calls.size(); ++i) EXPECT_EQ(calls[i].get(), first);
    EXPECT_EQ(first->wizardType, LookupWizardType(CompiledWizardTypeName()));
    ::RemoveDirectoryW(first->tempFolder.c_str());
}
