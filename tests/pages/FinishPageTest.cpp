#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "PageTestHost.h"
#include "common/TestEnvironment.h"
#include "pages/FinishActions.h"
#include "pages/FinishPageDlm.h"
#include "pages/FinishPageIsv.h"
#include "pages/LanguagePage.h"
#include "util/Handles.h"
#include "util/KnownFolders.h"
#include "util/Text.h"

namespace {

constexpr int kDlm = 1;
constexpr int kIsv = 2;

// The finish artwork is a green disc.
bool Greenish(COLORREF c) { return GetGValue(c) > GetRValue(c) + 40 && GetGValue(c) > GetBValue(c) + 40; }

bool Checked(HWND page, int id) { return ::SendDlgItemMessageW(page, id, BM_GETCHECK, 0, 0) == BST_CHECKED; }

bool SamePath(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// The arguments a command line splits into, as a started program sees them.
std::vector<std::wstring> Arguments(const std::wstring& commandLine) {
    int count = 0;
    LPWSTR* argv = ::CommandLineToArgvW(commandLine.c_str(), &count);
    std::vector<std::wstring> arguments;
    if (!argv) return arguments;
    for (int i = 0; i < count; ++i) arguments.emplace_back(argv[i]);
    ::LocalFree(argv);
    return arguments;
}

// Every call a page handed to its shell opener.
struct ShellCalls {
    std::vector<std::pair<std::wstring, std::wstring>> calls;
    ShellOpener Opener() {
        return [this](const std::wstring& file, const std::wstring& parameters) { calls.emplace_back(file, parameters); };
    }
};

struct Pressed {
    std::vector<ButtonType> buttons;
    ButtonCallback Callback() {
        return [this](ButtonType b) { buttons.push_back(b); };
    }
};

std::wstring SystemWindows() {
    wchar_t folder[MAX_PATH] = {};
    const UINT n = ::GetSystemWindowsDirectoryW(folder, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::wstring(folder, n) : std::wstring();
}

// A folder of this test's own under `parent`, removed with what is left in it.
class OwnFolder {
public:
    OwnFolder(const std::wstring& parent, const std::wstring& name)
        : path_(parent + L"\\" + name + L" " + std::to_wstring(::GetCurrentProcessId())) {
        ::CreateDirectoryW(path_.c_str(), nullptr);
    }
    ~OwnFolder() {
        // A started child may still be ending and hold its image: try for a while.
        for (int attempt = 0; attempt < 200; ++attempt) {
            bool left = false;
            WIN32_FIND_DATAW entry;
            tamsel::FindHandle find(::FindFirstFileW((path_ + L"\\*").c_str(), &entry));
            if (find) {
                do {
                    const std::wstring name = entry.cFileName;
                    if (name == L"." || name == L"..") continue;
                    if (!::DeleteFileW((path_ + L"\\" + name).c_str())) left = true;
                } while (::FindNextFileW(find.Get(), &entry));
            }
            if (!left && ::RemoveDirectoryW(path_.c_str())) return;
            ::Sleep(50);
        }
    }
    OwnFolder(const OwnFolder&) = delete;
    OwnFolder& operator=(const OwnFolder&) = delete;
    const std::wstring& Path() const { return path_; }

private:
    std::wstring path_;
};

// Puts a copy of the launch child at `path`.
bool PlaceChild(const std::wstring& path) {
    const std::wstring child = testenv::ProgramFolder() + L"\\TamselFinishChild.exe";
    return ::CopyFileW(child.c_str(), path.c_str(), FALSE) != 0;
}

// The command line the child at `path` was started with, once it has written
// it; nothing if no child there ran within a minute.
std::optional<std::wstring> CommandLineOfChild(const std::wstring& path) {
    const std::wstring marker = path + L".ran";
    for (int i = 0; i < 1200; ++i) {
        tamsel::FileHandle file(::CreateFileW(marker.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file) {
            LARGE_INTEGER size{};
            if (!::GetFileSizeEx(file.Get(), &size) || size.QuadPart > 1 << 20) return std::nullopt;
            std::wstring text(static_cast<size_t>(size.QuadPart) / sizeof(wchar_t), L'\0');
            DWORD read = 0;
            const DWORD bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
            if (bytes && (!::ReadFile(file.Get(), &text[0], bytes, &read, nullptr) || read != bytes))
                return std::nullopt;
            return text;
        }
        ::Sleep(50);
    }
    return std::nullopt;
}

// "{commonpf}" as the machine has it: the native folder under WOW64, the x86
// one for a 64-bit process and on 32-bit Windows.
std::wstring CommonProgramFiles() {
    if (testenv::Config() == "wow64") {
        wchar_t folder[MAX_PATH] = {};
        const DWORD n = ::GetEnvironmentVariableW(L"ProgramW6432", folder, MAX_PATH);
        return n > 0 && n < MAX_PATH ? std::wstring(folder, n) : std::wstring();
    }
    return GetKnownFolderPath(FOLDERID_ProgramFilesX86, false);
}

// The wizard's main window as the finish page's parent sees it: a caption,
// a system menu and a minimise box. Records the frame changes applied to it.
struct FramedHost {
    static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR self) {
        if (message == WM_WINDOWPOSCHANGED &&
            (reinterpret_cast<const WINDOWPOS*>(lParam)->flags & SWP_FRAMECHANGED))
            ++reinterpret_cast<FramedHost*>(self)->frameChanges;
        return ::DefSubclassProc(hwnd, message, wParam, lParam);
    }
    explicit FramedHost(HWND window) : host(window) {
        ::SetWindowLongW(host, GWL_STYLE,
                         ::GetWindowLongW(host, GWL_STYLE) | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX);
        ::SetWindowPos(host, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
        ::SetWindowSubclass(host, Proc, 1, reinterpret_cast<DWORD_PTR>(this));
    }
    ~FramedHost() { ::RemoveWindowSubclass(host, Proc, 1); }
    LONG Style() const { return ::GetWindowLongW(host, GWL_STYLE); }

    HWND host;
    int frameChanges = 0;
};

}  // namespace

TEST(FinishActions, ExplorerSelectQuotesTheWholePathOrRefusesIt) {
    // The longest path the shell takes is MAX_PATH - 1 characters.
    const auto pathOf = [](size_t length) { return L"C:\\" + std::wstring(length - 7, L'd') + L".exe"; };
    const struct {
        const char* what;
        std::wstring path;
        bool built;
    } cases[] = {
        {"plain", L"C:\\Users\\me\\Downloads\\Harlix.exe", true},
        {"spaces and commas", L"C:\\Users\\Jo Smith\\Downloads\\Harlix, v2 Setup.exe", true},
        {"forward slash after the drive", L"D:/Downloads/Harlix.exe", true},
        {"UNC", L"\\\\server\\share\\Harlix.exe", true},
        {"not Latin", L"C:\\Users\\\u00E9l\u00E8ve\\\u4E0B\u8F7D\\Harlix.exe", true},
        {"longest the shell takes", pathOf(MAX_PATH - 1), true},
        {"one too long", pathOf(MAX_PATH), false},
        {"far too long", pathOf(40000), false},
        {"empty", L"", false},
        {"relative", L"Harlix.exe", false},
        {"drive-relative", L"C:Harlix.exe", false},
        {"root-relative", L"\\Downloads\\Harlix.exe", false},
        {"double quote", L"C:\\Downloads\\a\" /root,C:\\b.exe", false},
        {"line break", L"C:\\Downloads\\a\nb.exe", false},
        {"tab", L"C:\\Downloads\\a\tb.exe", false},
        {"trailing backslash", L"C:\\Downloads\\", false},
        {"trailing slash", L"C:\\Downloads/", false},
    };
    for (const auto& c : cases) {
        const auto parameters = ExplorerSelectParameters(c.path);
        ASSERT_EQ(parameters.has_value(), c.built) << c.what;
        if (!parameters) continue;
        EXPECT_EQ(*parameters, L"/select,\"" + c.path + L"\"") << c.what;
        // Explorer's command line keeps the path as one argument.
        EXPECT_EQ(Arguments(L"explorer.exe " + *parameters),
                  (std::vector<std::wstring>{L"explorer.exe", L"/select," + c.path}))
            << c.what;
    }
}

TEST(FinishActions, WhatFinishHandsToTheShell) {
    const std::wstring file = L"C:\\Users\\Jo Smith\\Downloads\\Harlix, v2.exe";
    const std::wstring select = L"/select,\"" + file + L"\"";
    using Call = std::optional<std::pair<std::wstring, std::wstring>>;
    const struct {
        const char* what;
        DlmFinishChoice choice;
        std::wstring path, windows;
        Call expected;
    } dlm[] = {
        {"launch", DlmFinishChoice::Launch, file, L"C:\\windows", Call{{file, L""}}},
        {"launch, no path", DlmFinishChoice::Launch, L"", L"C:\\windows", std::nullopt},
        {"launch, a bare name the shell would search for", DlmFinishChoice::Launch, L"Harlix.exe", L"C:\\windows",
         std::nullopt},
        {"launch, too long for the shell", DlmFinishChoice::Launch, L"C:\\" + std::wstring(MAX_PATH, L'x'),
         L"C:\\windows", std::nullopt},
        {"open folder", DlmFinishChoice::OpenFolder, file, L"C:\\windows",
         Call{{L"C:\\windows\\explorer.exe", select}}},
        {"open folder, Windows folder with a separator", DlmFinishChoice::OpenFolder, file, L"C:\\",
         Call{{L"C:\\explorer.exe", select}}},
        {"open folder, no Windows folder", DlmFinishChoice::OpenFolder, file, L"", std::nullopt},
        {"open folder, relative Windows folder", DlmFinishChoice::OpenFolder, file, L"windows", std::nullopt},
        {"open folder, Windows folder too long for the shell", DlmFinishChoice::OpenFolder, file,
         L"C:\\" + std::wstring(MAX_PATH - 15, L'w'), std::nullopt},
        {"open folder, no path", DlmFinishChoice::OpenFolder, L"", L"C:\\windows", std::nullopt},
        {"open folder, unquotable path", DlmFinishChoice::OpenFolder, L"C:\\a\"b.exe", L"C:\\windows",
         std::nullopt},
        {"neither radio", DlmFinishChoice::None, file, L"C:\\windows", std::nullopt},
    };
    for (const auto& c : dlm) {
        const auto call = DlmFinishCall(c.choice, c.path, c.windows);
        ASSERT_EQ(call.has_value(), c.expected.has_value()) << c.what;
        if (!call) continue;
        EXPECT_EQ(call->file, c.expected->first) << c.what;
        EXPECT_EQ(call->parameters, c.expected->second) << c.what;
    }

    const struct {
        const char* what;
        bool checked;
        std::wstring command, parameters;
        Call expected;
    } isv[] = {
        {"checked", true, L"C:\\Program Files\\Harlix\\Harlix.exe", L"--first-run",
         Call{{L"C:\\Program Files\\Harlix\\Harlix.exe", L"--first-run"}}},
        {"checked, no parameters", true, L"C:\\Harlix.exe", L"", Call{{L"C:\\Harlix.exe", L""}}},
        {"cleared", false, L"C:\\Harlix.exe", L"--first-run", std::nullopt},
        {"checked, no command", true, L"", L"--first-run", std::nullopt},
        {"checked, a command too long for the shell", true, L"C:\\" + std::wstring(MAX_PATH, L'x'), L"",
         std::nullopt},
    };
    for (const auto& c : isv) {
        const auto call = IsvFinishCall(c.checked, c.command, c.parameters);
        ASSERT_EQ(call.has_value(), c.expected.has_value()) << c.what;
        if (!call) continue;
        EXPECT_EQ(call->file, c.expected->first) << c.what;
        EXPECT_EQ(call->parameters, c.expected->second) << c.what;
    }
}

TEST(FinishPages, TextsDefaultChoiceAndImage) {
    struct Binding {
        int id;
        const char* key;
        std::wstring english;
    };
    const struct {
        int wizardType;
        std::wstring productTitle, name, otherLanguage;
        std::vector<Binding> texts;
        int checked, unchecked;
    } cases[] = {
        {kDlm,
         L"Harlix Notes",
         L"FinishPageDLM",
         L"de",
         {{IDC_FINISH_TITLE, "PAGE_FINISH_TITLE", L"Thank you.\r\nYou have successfully downloaded Harlix Notes."},
          {IDC_FINISH_TEXT, "PAGE_FINISH_TEXT",
           L"To install the software on your machine, click \"Launch\"\r\nClick the \"Finish\" button to exit the "
           L"Setup Wizard"},
          {IDC_FINISH, "BUTTON_FINISH", L"Finish"},
          {IDC_LAUNCH_RADIO, "LAUNCH_RADIO", L"Launch"},
          {IDC_OPEN_FOLDER_RADIO, "OPEN_FOLDER_RADIO", L"Open Folder"}},
         IDC_LAUNCH_RADIO,
         IDC_OPEN_FOLDER_RADIO},
        {kIsv,
         L"Harlix",
         L"FinishPageISV",
         L"es",
         {{IDC_FINISH_TITLE, "PAGE_FINISH_TITLE", L"Thank you.\r\nYour installation is complete."},
          {IDC_FINISH_TEXT, "PAGE_FINISH_TEXT", L"You have successfully installed Harlix. Click \"Finish\" to proceed."},
          {IDC_FINISH, "BUTTON_FINISH", L"Finish"},
          {IDC_LAUNCH_CHECK, "LAUNCH_CHECKBOX", L"Launch the application on exit"}},
         IDC_LAUNCH_CHECK,
         0},
    };
    for (const auto& c : cases) {
        Wizard w(false, c.wizardType);
        w.config->productTitle = c.productTitle;
        auto language = w.Create<LanguagePage>();
        std::unique_ptr<IPage> page;
        if (c.wizardType == kDlm)
            page = w.Create<FinishPageDlm>(w.config);
        else
            page = w.Create<FinishPageIsv>(w.config);
        ASSERT_TRUE(page->GetSafeHwnd());
        HWND hwnd = page->GetSafeHwnd();
        const std::string what = WideToUtf8(c.name);
        EXPECT_EQ(page->GetName(), c.name);
        for (const Binding& b : c.texts) EXPECT_EQ(Text(::GetDlgItem(hwnd, b.id)), b.english) << what << " " << b.key;
        EXPECT_TRUE(Checked(hwnd, c.checked)) << what;
        if (c.unchecked) {
            EXPECT_FALSE(Checked(hwnd, c.unchecked)) << what;
        }
        EXPECT_EQ(LOWORD(::SendMessageW(hwnd, DM_GETDEFID, 0, 0)), IDC_FINISH) << what;

        const COLORREF inside = PaintedPixel(*page, IDC_PAGE_IMAGE, 0.15, 0.5);
        EXPECT_TRUE(Greenish(inside)) << what << " " << std::hex << inside;

        // Another language re-translates the page and keeps the user's choice.
        if (c.unchecked) Click(hwnd, c.unchecked);
        Select(language->GetSafeHwnd(), LanguageManager::GetNativeLanguageName(c.otherLanguage));
        for (const Binding& b : c.texts) {
            const std::wstring translated = w.manager->Translate(b.key);
            EXPECT_EQ(Text(::GetDlgItem(hwnd, b.id)), translated) << what << " " << b.key;
            EXPECT_NE(translated, b.english) << what << " " << b.key;
        }
        if (c.unchecked) {
            EXPECT_TRUE(Checked(hwnd, c.unchecked)) << what;
            EXPECT_FALSE(Checked(hwnd, c.checked)) << what;
        } else {
            EXPECT_TRUE(Checked(hwnd, c.checked)) << what;
        }
    }
}

TEST(FinishPageDlm, LaunchStartsTheDownloadedFileThenFinishes) {
    OwnFolder folder(GetKnownFolderPath(FOLDERID_LocalAppData, false), L"Tamsel finish, launch");
    const std::wstring file = folder.Path() + L"\\Harlix Notes, v2 Setup.exe";
    ASSERT_TRUE(PlaceChild(file));
    Wizard w;
    w.config->downloadedFilePath = file;
    auto page = w.Create<FinishPageDlm>(w.config);
    Pressed pressed;
    page->SetButtonCallback(pressed.Callback());
    Click(page->GetSafeHwnd(), IDC_FINISH);  // the launch radio, as it starts
    EXPECT_EQ(pressed.buttons, std::vector<ButtonType>{ButtonType::Finish});
    const auto commandLine = CommandLineOfChild(file);
    ASSERT_TRUE(commandLine) << "the downloaded file was not started";
    const auto arguments = Arguments(*commandLine);
    ASSERT_EQ(arguments.size(), 1u) << WideToUtf8(*commandLine);
    EXPECT_TRUE(SamePath(arguments[0], file)) << WideToUtf8(*commandLine);
}

TEST(FinishPageDlm, OpenFolderShowsTheFileSelectedInExplorer) {
    const std::wstring windows = SystemWindows();
    ASSERT_FALSE(windows.empty());
    const std::wstring explorer = windows + L"\\explorer.exe";
    ASSERT_NE(::GetFileAttributesW(explorer.c_str()), INVALID_FILE_ATTRIBUTES) << "no Explorer to start";
    const std::wstring file = L"C:\\Users\\Jo Smith\\Downloads\\Harlix, v2 Setup.exe";
    Wizard w;
    w.config->downloadedFilePath = file;
    auto page = w.Create<FinishPageDlm>(w.config);
    ShellCalls shell;
    page->SetShellOpener(shell.Opener());
    Pressed pressed;
    page->SetButtonCallback(pressed.Callback());
    HWND hwnd = page->GetSafeHwnd();
    Click(hwnd, IDC_OPEN_FOLDER_RADIO);
    EXPECT_FALSE(Checked(hwnd, IDC_LAUNCH_RADIO)) << "the radios are one group";
    Click(hwnd, IDC_FINISH);
    ASSERT_EQ(shell.calls.size(), 1u);
    EXPECT_TRUE(SamePath(shell.calls[0].first, explorer)) << WideToUtf8(shell.calls[0].first);
    EXPECT_EQ(shell.calls[0].second, L"/select,\"" + file + L"\"");
    EXPECT_EQ(pressed.buttons, std::vector<ButtonType>{ButtonType::Finish});

    // Back to launch: the file itself, nothing else.
    Click(hwnd, IDC_LAUNCH_RADIO);
    EXPECT_FALSE(Checked(hwnd, IDC_OPEN_FOLDER_RADIO));
    Click(hwnd, IDC_FINISH);
    ASSERT_EQ(shell.calls.size(), 2u);
    EXPECT_EQ(shell.calls[1].first, file);
    EXPECT_EQ(shell.calls[1].second, L"");
}

TEST(FinishPageDlm, NothingUsableToOpenStillFinishes) {
    const std::wstring missing = GetKnownFolderPath(FOLDERID_LocalAppData, false) + L"\\Tamsel no such folder\\x.exe";
    const struct {
        const char* what;
        std::wstring path;
        int radio;
        size_t shellCalls;  // what reaches the shell
    } cases[] = {
        {"no path, launch", L"", IDC_LAUNCH_RADIO, 0},
        {"no path, open folder", L"", IDC_OPEN_FOLDER_RADIO, 0},
        {"bare name, launch", L"explorer.exe", IDC_LAUNCH_RADIO, 0},
        {"quote in the path, open folder", L"C:\\a\" /root,C:\\Windows", IDC_OPEN_FOLDER_RADIO, 0},
        {"missing file, launch", missing, IDC_LAUNCH_RADIO, 1},
        {"missing file, the longest path the shell takes", L"C:\\" + std::wstring(MAX_PATH - 8, L'x') + L".exe",
         IDC_LAUNCH_RADIO, 1},
        // Wine's shell ends the process on such a path: it must never get it.
        {"far too long a path, launch", L"C:\\" + std::wstring(40000, L'x') + L".exe", IDC_LAUNCH_RADIO, 0},
        {"far too long a path, open folder", L"C:\\" + std::wstring(40000, L'x') + L".exe", IDC_OPEN_FOLDER_RADIO,
         0},
    };
    for (const auto& c : cases) {
        for (const bool realShell : {false, true}) {
            Wizard w;
            w.config->downloadedFilePath = c.path;
            auto page = w.Create<FinishPageDlm>(w.config);
            ShellCalls shell;
            // The real shell must fail without a message box: one would block here.
            if (!realShell) page->SetShellOpener(shell.Opener());
            Pressed pressed;
            page->SetButtonCallback(pressed.Callback());
            Click(page->GetSafeHwnd(), c.radio);
            Click(page->GetSafeHwnd(), IDC_FINISH);
            EXPECT_EQ(pressed.buttons, std::vector<ButtonType>{ButtonType::Finish}) << c.what;
            if (!realShell) {
                EXPECT_EQ(shell.calls.size(), c.shellCalls) << c.what;
            }
        }
    }
    // Without a callback Finish only launches.
    Wizard w;
    auto page = w.Create<FinishPageDlm>(w.config);
    ShellCalls shell;
    page->SetShellOpener(shell.Opener());
    Click(page->GetSafeHwnd(), IDC_FINISH);
    EXPECT_TRUE(shell.calls.empty());
}

TEST(FinishPageIsv, LaunchStartsTheExpandedCommandWithItsParameters) {
    const std::wstring programFiles = CommonProgramFiles();
    ASSERT_FALSE(programFiles.empty());
    OwnFolder folder(programFiles, L"Tamsel Finish Test");
    const std::wstring relative = folder.Path().substr(programFiles.size()) + L"\\Harlix App.exe";
    const std::wstring installed = programFiles + relative;
    ASSERT_TRUE(PlaceChild(installed)) << WideToUtf8(installed);

    Wizard w(false, kIsv);
    w.config->launchCommand = L"{commonpf}" + relative;
    w.config->launchParameters = L"--welcome \"two words\"";
    auto page = w.Create<FinishPageIsv>(w.config);
    Pressed pressed;
    page->SetButtonCallback(pressed.Callback());
    Click(page->GetSafeHwnd(), IDC_FINISH);  // the box is checked as the page starts
    EXPECT_EQ(pressed.buttons, std::vector<ButtonType>{ButtonType::Finish});
    const auto commandLine = CommandLineOfChild(installed);
    ASSERT_TRUE(commandLine) << "the application was not started from " << WideToUtf8(installed);
    const auto arguments = Arguments(*commandLine);
    ASSERT_EQ(arguments.size(), 3u) << WideToUtf8(*commandLine);
    EXPECT_TRUE(SamePath(arguments[0], installed)) << WideToUtf8(*commandLine);
    EXPECT_EQ(arguments[1], L"--welcome");
    EXPECT_EQ(arguments[2], L"two words");
}

TEST(FinishPageIsv, WhatFinishStarts) {
    const std::wstring programFiles = CommonProgramFiles();
    ASSERT_FALSE(programFiles.empty());
    const struct {
        const char* what;
        std::wstring command;
        bool clearBox;
        std::vector<std::pair<std::wstring, std::wstring>> calls;
    } cases[] = {
        {"checked", L"{commonpf}\\Harlix\\Harlix.exe", false,
         {{programFiles + L"\\Harlix\\Harlix.exe", L"--first-run"}}},
        {"box cleared", L"{commonpf}\\Harlix\\Harlix.exe", true, {}},
        {"no command (the installer's own set-up)", L"", false, {}},
    };
    for (const auto& c : cases) {
        Wizard w(false, kIsv);
        w.config->launchCommand = c.command;
        w.config->launchParameters = L"--first-run";
        auto page = w.Create<FinishPageIsv>(w.config);
        ShellCalls shell;
        page->SetShellOpener(shell.Opener());
        Pressed pressed;
        page->SetButtonCallback(pressed.Callback());
        if (c.clearBox) Click(page->GetSafeHwnd(), IDC_LAUNCH_CHECK);
        EXPECT_EQ(Checked(page->GetSafeHwnd(), IDC_LAUNCH_CHECK), !c.clearBox) << c.what;
        Click(page->GetSafeHwnd(), IDC_FINISH);
        EXPECT_EQ(shell.calls, c.calls) << c.what;
        EXPECT_EQ(pressed.buttons, std::vector<ButtonType>{ButtonType::Finish}) << c.what;
    }
}

TEST(FinishPages, ShowingThePageTakesTheMinimiseBoxOffTheWizard) {
    const struct {
        const char* what;
        std::function<std::unique_ptr<IPage>(Wizard&)> create;
    } cases[] = {
        {"DLM", [](Wizard& w) -> std::unique_ptr<IPage> { return w.Create<FinishPageDlm>(w.config); }},
        {"ISV", [](Wizard& w) -> std::unique_ptr<IPage> { return w.Create<FinishPageIsv>(w.config); }},
    };
    for (const auto& c : cases) {
        Wizard w;
        auto page = c.create(w);
        FramedHost host(w.host);
        ASSERT_TRUE(host.Style() & WS_MINIMIZEBOX) << c.what;
        const LONG before = host.Style();
        page->OnNavigateToPage();
        EXPECT_EQ(host.Style(), before & ~static_cast<LONG>(WS_MINIMIZEBOX)) << c.what << ": only the box goes";
        EXPECT_GE(host.frameChanges, 1) << c.what << ": the frame is redrawn at once";
        page->OnNavigateToPage();  // entered again after Back
        EXPECT_FALSE(host.Style() & WS_MINIMIZEBOX) << c.what;
        EXPECT_TRUE(host.Style() & WS_SYSMENU) << c.what;
    }
}
