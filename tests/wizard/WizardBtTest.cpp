// The installer build with the BT classic flow, against the real service:
// driven from another process from its language page through the warning,
// licence, product, options and configurations pages to the installation and
// the finish page, with the main installer's command line read back from the
// stand-in installer's record.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "StoredEvents.h"
#include "WizardRun.h"
#include "common/DemoMarkers.h"
#include "resources/resource.h"

namespace {

using namespace wizardrun;

// The main product's events carry its title, the installer build's "Harlix".
const char* const kMainOffer = "Harlix";
// The installer's window title: its product's name and a space.
const wchar_t* const kTitle = L"Harlix ";

bool Checked(HWND box) { return ::SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED; }

// Toggles a check box the way a click does, and waits until it shows `checked`.
bool Toggle(WizardRun& run, int id, bool checked) {
    HWND box = run.Control(id);
    if (!box || !wizardwindows::Click(box)) return false;
    for (int i = 0; i < 100 && Checked(box) != checked; ++i) ::Sleep(50);
    return Checked(box) == checked;
}

std::vector<bool> States(WizardRun& run, const std::vector<int>& ids) {
    std::vector<bool> states;
    for (int id : ids) states.push_back(Checked(run.Control(id)));
    return states;
}

const std::vector<int> kOptions = {IDC_OPTIONS_CHECK_1, IDC_OPTIONS_CHECK_2, IDC_OPTIONS_CHECK_3};
const std::vector<int> kConfigurations = {IDC_CONFIGURATIONS_CHECK_1, IDC_CONFIGURATIONS_CHECK_2,
                                          IDC_CONFIGURATIONS_CHECK_3, IDC_CONFIGURATIONS_CHECK_4,
                                          IDC_CONFIGURATIONS_CHECK_5};

}  // namespace

TEST(WizardBt, ClassicPagesChoicesReachTheMainInstaller) {
    for (const char* name : {"app", "notes", "weather"}) demomarkers::Remove(name);
    demomarkers::Remove("app", "launched");

    WizardRun run("tb-isv1", kTitle);
    ASSERT_TRUE(run.Started());
    EXPECT_FALSE(run.Shows(IDC_LANGUAGE_COMBO)) << "the flow's language page hides the list";
    EXPECT_TRUE(run.Shows(IDC_SPLASH_TITLE_BT));
    ASSERT_TRUE(run.Click(IDC_NEXT));

    // Warning, then the licence; Back on the warning page leads to the
    // language page, and Next there straight back to the warning page.
    ASSERT_NE(run.Control(IDC_WARNING_TITLE), nullptr) << "no warning page";
    ASSERT_TRUE(run.Click(IDC_BACK));
    ASSERT_NE(run.Control(IDC_SPLASH_TITLE_BT), nullptr) << "Back did not reach the language page";
    ASSERT_TRUE(run.Click(IDC_NEXT));
    ASSERT_NE(run.Control(IDC_WARNING_TITLE), nullptr) << "Next did not come back to the warning page";
    ASSERT_TRUE(run.Click(IDC_NEXT));
    ASSERT_NE(run.Control(IDC_LICENSE_TITLE), nullptr) << "no licence page";
    ASSERT_TRUE(run.Click(IDC_AGREE));
    for (int offer = 0; offer < 2; ++offer) ASSERT_TRUE(run.Click(IDC_ACCEPT)) << "offer " << offer;

    // Options: all checked at first; the user clears the second.
    ASSERT_NE(run.Control(IDC_OPTIONS_TITLE), nullptr) << "no options page";
    EXPECT_EQ(States(run, kOptions), (std::vector<bool>{true, true, true}));
    ASSERT_TRUE(Toggle(run, IDC_OPTIONS_CHECK_2, false));
    ASSERT_TRUE(run.Click(IDC_NEXT));

    // Configurations: the user clears the second and the fifth, goes back to
    // the options, which are as left, and comes forward again.
    ASSERT_NE(run.Control(IDC_CONFIGURATIONS_TITLE), nullptr) << "no configurations page";
    EXPECT_EQ(States(run, kConfigurations), (std::vector<bool>{true, true, true, true, true}));
    ASSERT_TRUE(Toggle(run, IDC_CONFIGURATIONS_CHECK_2, false));
    ASSERT_TRUE(Toggle(run, IDC_CONFIGURATIONS_CHECK_5, false));
    ASSERT_TRUE(run.Click(IDC_BACK));
    ASSERT_NE(run.Control(IDC_OPTIONS_TITLE), nullptr) << "Back did not reach the options page";
    EXPECT_EQ(States(run, kOptions), (std::vector<bool>{true, false, true}));
    ASSERT_TRUE(run.Click(IDC_NEXT));
    ASSERT_NE(run.Control(IDC_CONFIGURATIONS_TITLE), nullptr);
    EXPECT_EQ(States(run, kConfigurations), (std::vector<bool>{true, false, true, true, false}));
    ASSERT_TRUE(run.Click(IDC_NEXT));

    // Downloads, the main installer waited for, the offers started, then the
    // finish page with its launch box checked.
    HWND launch = run.Control(IDC_LAUNCH_CHECK, 180);
    ASSERT_NE(launch, nullptr) << "no finish page";
    EXPECT_TRUE(Checked(launch));
    // Options {1, 0, 1} and configurations {1, 0, 1, 1, 0}, in the switch's order.
    EXPECT_NE(demomarkers::Read("app").find("/S /FORCEINSTALL 1110000101010110"), std::string::npos)
        << "main installer's command line: " << demomarkers::Read("app");
    for (const char* name : {"notes", "weather"}) {
        const std::string line = demomarkers::Await(name);
        EXPECT_NE(line.find("/quiet /from=tb-isv1"), std::string::npos) << name << ": " << line;
    }
    EXPECT_EQ(Codes(AwaitEvents(kMainOffer, run.Since(), 2)), (std::vector<int>{1, 3}));
    for (const char* offer : {"tb-isv1-1", "tb-isv1-2"})
        EXPECT_EQ(Codes(AwaitEvents(offer, run.Since(), 1)), std::vector<int>{3}) << offer;

    // Finish starts the installed program.
    ToTheEnd(run);
    EXPECT_NE(demomarkers::Await("app", 30, "launched").find("/launched"), std::string::npos);
}
