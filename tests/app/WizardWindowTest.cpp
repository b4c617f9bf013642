#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "ProcessDriver.h"
#include "app/TamselDlg.h"
#include "resources/resource.h"

namespace {

bool Contains(const std::vector<std::wstring>& texts, const std::wstring& text) {
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

// Answers a message box of the process with that caption and text by "OK".
void ExpectMessageBox(const ProcessDriver& process, const std::wstring& caption, const std::wstring& text) {
    HWND box = process.WaitForWindow(caption);
    ASSERT_NE(box, nullptr) << "no message box";
    EXPECT_TRUE(Contains(ChildTexts(box), text));
    EXPECT_TRUE(PressButton(box, L"OK"));
    for (int i = 0; i < 100 && ::IsWindow(box); ++i) ::Sleep(50);
}

// Closing short of the last page asks first (an OK/Cancel box with no
// caption): answer OK.
void CloseConfirmed(const ProcessDriver& process, HWND wizard) {
    ::PostMessageW(wizard, WM_CLOSE, 0, 0);
    if (HWND question = process.WaitForWindow(L"")) PressButton(question, L"OK");
}

bool ItemVisible(HWND dialog, int id) {
    HWND item = ::GetDlgItem(dialog, id);
    return item && (::GetWindowLongW(item, GWL_STYLE) & WS_VISIBLE);
}

}  // namespace

// Opened and closed at once: a handle kept open would keep the mutex alive.
static bool MutexExists(const wchar_t* name) {
    const tamsel::KernelHandle mutex(::OpenMutexW(SYNCHRONIZE, FALSE, name));
    return static_cast<bool>(mutex);
}

TEST(WizardWindow, DownloadManagerOpensOneSetupWindowAndRefusesASecondCopy) {
    ProcessDriver first(TAMSEL_EXE_DLM);
    ASSERT_TRUE(first.Started());
    HWND wizard = first.WaitForWindow(L"Setup");
    ASSERT_NE(wizard, nullptr);
    EXPECT_EQ(first.VisibleTopLevelWindows().size(), 1u);
    EXPECT_FALSE(ItemVisible(wizard, IDC_TITLE_TEXT)) << "the title line waits for the product";
    EXPECT_TRUE(ItemVisible(wizard, IDC_PRODUCT_ICON));
    EXPECT_TRUE(ItemVisible(wizard, IDC_HEADER_LINE));
    EXPECT_NE(::GetWindowLongW(wizard, GWL_EXSTYLE) & WS_EX_APPWINDOW, 0);
    // The running wizard holds the machine-wide mutex of its type, by name.
    EXPECT_TRUE(MutexExists(L"Global\\TamselDLMSingleInstanceMutex"));
    EXPECT_FALSE(MutexExists(L"Global\\TamselISVSingleInstanceMutex"));

    ProcessDriver second(TAMSEL_EXE_DLM);
    ASSERT_TRUE(second.Started());
    ExpectMessageBox(second, L"Error", L"Another setup is already running, please close it and try again");
    EXPECT_TRUE(second.WaitForExit());
    EXPECT_EQ(second.WaitForWindow(L"Setup", 0), nullptr);

    // The first one is unaffected and closes on request.
    EXPECT_TRUE(::IsWindowVisible(wizard));
    CloseConfirmed(first, wizard);
    EXPECT_TRUE(first.WaitForExit());
    EXPECT_FALSE(MutexExists(L"Global\\TamselDLMSingleInstanceMutex")) << "released with the wizard";

    // Once it has gone, a new copy starts normally.
    ProcessDriver third(TAMSEL_EXE_DLM);
    HWND again = third.WaitForWindow(L"Setup");
    ASSERT_NE(again, nullptr);
    CloseConfirmed(third, again);
    EXPECT_TRUE(third.WaitForExit());
}

TEST(WizardWindow, AboutItemShowsTheVersion) {
    ProcessDriver process(TAMSEL_EXE_DLM);
    HWND wizard = process.WaitForWindow(L"Setup");
    ASSERT_NE(wizard, nullptr);
    ::PostMessageW(wizard, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
    HWND about = process.WaitForWindow(L"About Tamsel");
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(WindowText(::GetDlgItem(about, IDC_ABOUT_VERSION)), L"Tamsel, Version 3.2.2.1212");
    EXPECT_TRUE(PressButton(about, L"OK"));
    for (int i = 0; i < 100 && ::IsWindow(about); ++i) ::Sleep(50);
    EXPECT_FALSE(::IsWindow(about));
    CloseConfirmed(process, wizard);
    EXPECT_TRUE(process.WaitForExit());
}

namespace {

struct MenuItem {
    UINT id;
    UINT state;
    std::wstring text;
};

// Runs on a second thread while the wizard window runs modally on the test's
// main thread: menus are only readable inside the process that owns them.
void InspectSystemMenu(std::vector<MenuItem>& items) {
    HWND wizard = nullptr;
    for (int i = 0; i < 400 && !wizard; ++i) {
        wizard = ::FindWindowW(L"#32770", L"Setup");
        if (!wizard) ::Sleep(25);
    }
    if (!wizard) return;
    if (HMENU menu = ::GetSystemMenu(wizard, FALSE)) {
        for (int i = 0; i < ::GetMenuItemCount(menu); ++i) {
            wchar_t text[64] = {};
            ::GetMenuStringW(menu, i, text, 64, MF_BYPOSITION);
            items.push_back({::GetMenuItemID(menu, i), ::GetMenuState(menu, i, MF_BYPOSITION), text});
        }
    }
    ::PostMessageW(wizard, WM_CLOSE, 0, 0);
    // The question box of this process: no caption. FindWindow also finds a
    // box still being made, before its buttons have their texts, so only a
    // visible one is answered, and the search goes on until OK was pressed;
    // a box left unanswered would hold the test for ever.
    for (int i = 0; i < 400; ++i) {
        HWND question = ::FindWindowW(L"#32770", L"");
        DWORD owner = 0;
        if (question) ::GetWindowThreadProcessId(question, &owner);
        if (question && owner == ::GetCurrentProcessId() && ::IsWindowVisible(question) &&
            PressButton(question, L"OK"))
            break;
        ::Sleep(25);
    }
}

}  // namespace

TEST(WizardWindow, SystemMenuEndsWithTheAboutItem) {
    std::vector<MenuItem> items;
    std::thread inspector(InspectSystemMenu, std::ref(items));
    {
        CTamselDlg dialog;
        dialog.DoModal();
    }
    inspector.join();
    ASSERT_GE(items.size(), 2u);
    EXPECT_EQ(items.back().id, static_cast<UINT>(IDM_ABOUTBOX));
    EXPECT_EQ(items.back().text, L"&About Tamsel...");
    EXPECT_NE(items[items.size() - 2].state & MF_SEPARATOR, 0u);
}

TEST(WizardWindow, InstallerTitleIsTheBrandAndHidesTheHeader) {
    ProcessDriver process(TAMSEL_EXE_ISV);
    HWND wizard = process.WaitForWindow(L"Harlix ");
    ASSERT_NE(wizard, nullptr);
    EXPECT_FALSE(ItemVisible(wizard, IDC_TITLE_TEXT));
    EXPECT_FALSE(ItemVisible(wizard, IDC_PRODUCT_ICON));
    EXPECT_FALSE(ItemVisible(wizard, IDC_HEADER_LINE));
    // An installer holds the mutex of its own type, not the download manager's.
    EXPECT_TRUE(MutexExists(L"Global\\TamselISVSingleInstanceMutex"));
    EXPECT_FALSE(MutexExists(L"Global\\TamselDLMSingleInstanceMutex"));
    CloseConfirmed(process, wizard);
    EXPECT_TRUE(process.WaitForExit());
    EXPECT_FALSE(MutexExists(L"Global\\TamselISVSingleInstanceMutex"));
}

TEST(WizardWindow, UnknownWizardTypeIsRefusedWithoutAWizard) {
    ProcessDriver process(TAMSEL_EXE_BOGUS);
    ASSERT_TRUE(process.Started());
    ExpectMessageBox(process, L"Error", L"Unknown wizard type");
    ExpectMessageBox(process, L"Error", L"Invalid wizard type");
    EXPECT_TRUE(process.WaitForExit());
}
