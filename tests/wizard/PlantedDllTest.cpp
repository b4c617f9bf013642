// DLLs planted beside the wizard under the names of the system DLLs it uses
// that are not among the loader's known DLLs. The wizard runs from the user's
// Downloads folder, elevated; it must take each of them from the system folder.
//
// Wine normally substitutes its own built-in DLL for any file of such a
// name; with-planted-overrides.sh makes it load the file from the program's
// folder, as Windows does. The probe shows the planted DLLs are then really
// loadable from there, so that the wizard's clean record means something.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "WizardRun.h"
#include "resources/resource.h"

namespace {

using namespace wizardrun;

// version.dll is not among them although the program uses it the same way:
// Wine's own advapi32 imports it, so with the override every program, guarded
// or not, loads a planted version.dll before its first instruction (Windows'
// advapi32 does not). The product check keeps it out of the import table.
const std::vector<std::wstring> kPlanted = {L"gdiplus", L"comctl32", L"winhttp", L"wininet", L"riched20"};

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

class PlantedDll : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, temp);
        // A folder per test: a program that crashed on a planted DLL may hold it a while.
        static int run = 0;
        folder_ = std::wstring(temp) + L"tamsel-planted-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                  std::to_wstring(++run);
        ASSERT_TRUE(::CreateDirectoryW(folder_.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS);
        wchar_t overrides[4096] = {};
        ::GetEnvironmentVariableW(L"WINEDLLOVERRIDES", overrides, 4096);
        for (const auto& name : kPlanted) {
            ASSERT_NE(std::wstring(overrides).find(name), std::wstring::npos)
                << "run through with-planted-overrides.sh, which has Wine load each planted DLL";
            ASSERT_TRUE(::CopyFileW((std::wstring(TAMSEL_PLANTED_DIR) + L"\\" + name + L".dll").c_str(),
                                    Dll(name).c_str(), FALSE))
                << ::GetLastError();
        }
        ClearRecords();
    }
    void TearDown() override {
        for (const auto& name : kPlanted) {
            ::DeleteFileW(Dll(name).c_str());
            ::DeleteFileW(Record(name).c_str());
        }
        for (const wchar_t* program : {L"probe.exe", L"setup_planted.exe", L"Harlix_planted.exe"})
            ::DeleteFileW((folder_ + L"\\" + program).c_str());
        ::RemoveDirectoryW(folder_.c_str());
    }

    std::wstring Dll(const std::wstring& name) const { return folder_ + L"\\" + name + L".dll"; }
    std::wstring Record(const std::wstring& name) const { return Dll(name) + L".loaded"; }
    void ClearRecords() const {
        for (const auto& name : kPlanted) ::DeleteFileW(Record(name).c_str());
    }
    // A planted DLL without the functions the program needs usually crashes
    // it: the records say which one was loaded.
    std::string RecordedText() const {
        std::string text = "loaded from the program's folder:";
        for (const auto& name : Recorded()) text += " " + std::string(name.begin(), name.end());
        return text;
    }
    std::vector<std::wstring> Recorded() const {
        std::vector<std::wstring> loaded;
        for (const auto& name : kPlanted)
            if (Exists(Record(name))) loaded.push_back(name);
        return loaded;
    }
    // The program copied into the folder of the planted DLLs.
    std::wstring Place(const wchar_t* source, const wchar_t* name) const {
        const std::wstring path = folder_ + L"\\" + name;
        EXPECT_TRUE(::CopyFileW(source, path.c_str(), FALSE)) << ::GetLastError();
        return path;
    }

    std::wstring folder_;
};

}  // namespace

TEST_F(PlantedDll, AProgramThatSearchesItsOwnFolderLoadsEveryOne) {
    const std::wstring probe = Place(TAMSEL_PLANTED_PROBE, L"probe.exe");
    std::wstring commandLine = L"\"" + probe + L"\"";
    for (const auto& name : kPlanted) commandLine += L" " + name + L".dll";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    ASSERT_TRUE(::CreateProcessW(probe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                 &startup, &info));
    const tamsel::KernelHandle process(info.hProcess), thread(info.hThread);
    ASSERT_EQ(::WaitForSingleObject(process.Get(), 60000), WAIT_OBJECT_0);
    DWORD loaded = 0;
    ::GetExitCodeProcess(process.Get(), &loaded);
    EXPECT_EQ(loaded, kPlanted.size());
    EXPECT_EQ(Recorded(), kPlanted);
}

TEST_F(PlantedDll, TheDownloadManagerLoadsNoneUpToItsWelcomePage) {
    // The configuration request on the way loads the transport.
    WizardRun run(WizardRun::Program{Place(TAMSEL_EXE_UNDER_TEST, L"setup_planted.exe")}, L"Setup");
    ASSERT_TRUE(run.Started()) << RecordedText();
    ASSERT_TRUE(run.Click(IDC_NEXT));
    ASSERT_NE(run.Control(IDC_WELCOME_TITLE), nullptr) << "no welcome page; " << RecordedText();
    EXPECT_EQ(Recorded(), std::vector<std::wstring>());
}

TEST_F(PlantedDll, TheInstallerLoadsNoneUpToItsLicencePage) {
    // The licence text needs the rich edit control.
    WizardRun run(WizardRun::Program{Place(TAMSEL_EXE_ISV_BT, L"Harlix_planted.exe")}, L"Harlix ");
    ASSERT_TRUE(run.Started()) << RecordedText();
    ASSERT_TRUE(run.Click(IDC_NEXT));
    ASSERT_NE(run.Control(IDC_WARNING_TITLE), nullptr) << "no warning page; " << RecordedText();
    ASSERT_TRUE(run.Click(IDC_NEXT));
    ASSERT_NE(run.Control(IDC_EULA_TEXT), nullptr) << "no licence page; " << RecordedText();
    EXPECT_EQ(Recorded(), std::vector<std::wstring>());
}
