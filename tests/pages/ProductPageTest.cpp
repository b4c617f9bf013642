#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <climits>
#include <mutex>

#include "PageTestHost.h"
#include "api/Package.h"
#include "common/RecordingEnvironment.h"
#include "pages/LanguagePage.h"
#include "pages/ProductPage.h"
#include "util/Images.h"

using nlohmann::json;

namespace {

// Every event code the packages of one test posted, in the order posted.
struct EventLog {
    std::mutex lock;
    std::vector<int> codes;

    std::vector<int> Codes() {
        std::lock_guard<std::mutex> guard(lock);
        return codes;
    }
};

PackageEnvironment RecordingEnvironment(std::shared_ptr<EventLog> log) {
    return ::RecordingEnvironment([log](const json& event) {
        std::lock_guard<std::mutex> guard(log->lock);
        log->codes.push_back(std::stoi(event.at("6").get<std::string>()));
    });
}

struct Offer {
    json settings = json::object();
    int32_t position = 0;
};

std::shared_ptr<Package> MakeOffer(const Offer& offer, std::shared_ptr<EventLog> log) {
    json ps{{"i", "images/x.png"},
            {"dn", "Notes"},
            {"u", "https://example.test/notes.exe"},
            {"cp", "https://example.test/privacy"},
            {"ctu", "https://example.test/terms"}};
    ps.update(offer.settings);
    SignedRequest request;
    request.body = json::object();
    return Package::CreateOffer(request, json{{"ad", {{"o", "offer-1"}, {"f", "feed-9"}}}, {"ps", ps}}, "",
                                offer.position, RecordingEnvironment(std::move(log)));
}

// A wizard with English loaded and its own event log.
struct OfferWizard : Wizard {
    std::shared_ptr<EventLog> log = std::make_shared<EventLog>();
    std::unique_ptr<LanguagePage> language;

    OfferWizard() { language = Create<LanguagePage>(); }

    std::unique_ptr<ProductPage> Page(const Offer& offer = {}) {
        return Create<ProductPage>(config, MakeOffer(offer, log));
    }
    std::unique_ptr<ProductPage> Page(std::shared_ptr<Package> package) {
        return Create<ProductPage>(config, std::move(package));
    }
};

HWND Disclaimer(const ProductPage& page) { return ::GetDlgItem(page.GetSafeHwnd(), IDC_PRODUCT_DISCLAIMER); }

}  // namespace

TEST(ProductPage, SkipAllRule) {
    constexpr int32_t kNoLimit = INT32_MAX;
    const struct {
        int32_t position, flowLimit;
        int packageCount;
        bool shown;
    } cases[] = {
        {0, kNoLimit, 3, true},
        {1, kNoLimit, 3, true},
        {2, kNoLimit, 3, false},  // the last offer
        {0, kNoLimit, 1, false},  // the only offer
        {0, 1, 3, false},         // "mo" 1 ends the flow at the first offer
        {1, 1, 3, true},          // ... and is no limit for a later one
        {1, 2, 4, false},
        {0, 0, 3, true},
        {0, -5, 3, true},
        {0, kNoLimit, 0, true},
        // Position + 1 must not wrap to the bottom of the range.
        {INT32_MAX, kNoLimit, INT_MIN, true},
        {INT32_MAX, INT32_MIN, 3, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ShowsSkipAll(c.position, c.flowLimit, c.packageCount), c.shown)
            << "position " << c.position << ", mo " << c.flowLimit << ", count " << c.packageCount;
}

TEST(ProductPage, SkipAllOnThreeOffers) {
    OfferWizard w;
    w.config->packageCount = 3;
    const struct {
        const char* what;
        Offer offer;
        bool shown;
    } cases[] = {
        {"first of three", {json::object(), 0}, true},
        {"second of three", {json::object(), 1}, true},
        {"third of three", {json::object(), 2}, false},
        {"first, with mo 1", {json{{"pn", true}, {"cfs", {{"mo", 1}}}}, 0}, false},
        {"second, with mo 2", {json{{"pn", true}, {"cfs", {{"mo", 2}}}}, 1}, false},
        {"first, with mo 3", {json{{"pn", true}, {"cfs", {{"mo", 3}}}}, 0}, true},
        {"mo without pn is not read", {json{{"cfs", {{"mo", 1}}}}, 0}, true},
    };
    for (const auto& c : cases) {
        auto page = w.Page(c.offer);
        HWND skipAll = ::GetDlgItem(page->GetSafeHwnd(), IDC_SKIP_ALL);
        EXPECT_EQ(Shown(skipAll), c.shown) << c.what;
        EXPECT_EQ(Text(skipAll), L"Skip All") << c.what;
        EXPECT_TRUE(Shown(::GetDlgItem(page->GetSafeHwnd(), IDC_ACCEPT))) << c.what;
        EXPECT_TRUE(Shown(::GetDlgItem(page->GetSafeHwnd(), IDC_DECLINE))) << c.what;
    }
}

TEST(ProductPage, DisclaimerPlaceholders) {
    const std::wstring name = L"[PACKAGE_NAME]", privacy = L"[PACKAGE_PRIVACY_URL]", eula = L"[PACKAGE_EULA_URL]";
    const struct {
        const char* what;
        std::string dn, cp, ctu;
        std::wstring text, expected;
    } cases[] = {
        {"each once", "Notes", "https://p.test/", "https://t.test/",
         L"Install \"" + name + L"\" <a href=\"" + privacy + L"\">P</a> <a href=\"" + eula + L"\">T</a>",
         L"Install \"Notes\" <a href=\"https://p.test/\">P</a> <a href=\"https://t.test/\">T</a>"},
        {"every occurrence", "N", "p", "t", name + name + L" " + privacy + eula + name, L"NN ptN"},
        {"a name holding its own placeholder", "A [PACKAGE_NAME] B", "p", "t", L"<" + name + L">",
         L"<A [PACKAGE_NAME] B>"},
        {"a name holding a later placeholder", "[PACKAGE_PRIVACY_URL]", "https://p.test/", "t", name + L" " + privacy,
         L"[PACKAGE_PRIVACY_URL] https://p.test/"},
        {"a URL holding the name's placeholder", "Notes", "[PACKAGE_NAME]", "t", privacy + L" " + name,
         L"[PACKAGE_NAME] Notes"},
        {"empty values", "", "", "", L"a" + name + L"b" + privacy + L"c" + eula, L"abc"},
        {"no placeholders", "Notes", "p", "t", L"plain text", L"plain text"},
        {"cut-off and misspelt placeholders", "Notes", "p", "t", L"[PACKAGE_NAME [package_name] [PACKAGE_NAME",
         L"[PACKAGE_NAME [package_name] [PACKAGE_NAME"},
        {"UTF-8 name", "B\xC3\xBCro \xE2\x82\xAC", "p", "t", name, L"B\u00FCro \u20AC"},
        {"empty text", "Notes", "p", "t", L"", L""},
    };
    auto log = std::make_shared<EventLog>();
    for (const auto& c : cases) {
        auto package = MakeOffer({}, log);
        package->displayName = c.dn;
        package->privacyUrl = c.cp;
        package->termsUrl = c.ctu;
        EXPECT_EQ(FillDisclaimer(c.text, *package), c.expected) << c.what;
    }
}

TEST(ProductPage, DisclaimerNamesTheOfferAndLinksItsAddresses) {
    OfferWizard w;
    auto page = w.Page({json{{"dn", "Notes [PACKAGE_NAME] Pro"},
                             {"cp", "https://example.test/privacy?a=1"},
                             {"ctu", "https://example.test/terms"}},
                        0});
    HWND disclaimer = Disclaimer(*page);
    const std::wstring english = Text(disclaimer);
    EXPECT_NE(english.find(L"When you click \"Accept\", you agree to the installation of \"Notes [PACKAGE_NAME] Pro\""),
              std::wstring::npos)
        << english;
    EXPECT_NE(english.find(L"Privacy Policy"), std::wstring::npos) << english;
    EXPECT_NE(english.find(L"End User License Agreement"), std::wstring::npos) << english;
    EXPECT_EQ(LinkUrls(disclaimer),
              (std::vector<std::wstring>{L"https://example.test/privacy?a=1", L"https://example.test/terms"}));
    EXPECT_EQ(Text(::GetDlgItem(page->GetSafeHwnd(), IDC_ACCEPT)), L"Accept");
    EXPECT_EQ(Text(::GetDlgItem(page->GetSafeHwnd(), IDC_DECLINE)), L"Decline");

    // Another language later: the offer's name and links are still put in.
    Select(w.language->GetSafeHwnd(), L"Deutsch");
    const std::wstring german = Text(disclaimer);
    EXPECT_NE(german, english);
    EXPECT_NE(german.find(L"Notes [PACKAGE_NAME] Pro"), std::wstring::npos) << german;
    EXPECT_EQ(LinkUrls(disclaimer),
              (std::vector<std::wstring>{L"https://example.test/privacy?a=1", L"https://example.test/terms"}));
}

TEST(ProductPage, DisclaimerWithoutTranslationKeepsTheTemplateText) {
    Wizard w;  // no language loaded
    auto log = std::make_shared<EventLog>();
    auto page = w.Create<ProductPage>(w.config, MakeOffer({}, log));
    EXPECT_EQ(Text(Disclaimer(*page)), L"Disclaimer placeholder");
    EXPECT_EQ(Text(::GetDlgItem(page->GetSafeHwnd(), IDC_ACCEPT)), L"Accept placeholder");
}

TEST(ProductPage, AnswersReachListsFlagsEventsAndTheWizard) {
    const struct {
        const char* what;
        int button;
        ButtonType reported;
        bool accepted;
        bool declined;
        std::vector<int> events;
    } cases[] = {
        {"Accept", IDC_ACCEPT, ButtonType::Accept, true, false, {}},
        {"Decline", IDC_DECLINE, ButtonType::Decline, false, true, {4}},
        {"Skip All", IDC_SKIP_ALL, ButtonType::SkipAll, false, true, {4}},
    };
    for (const auto& c : cases) {
        OfferWizard w;
        w.config->packageCount = 3;
        auto package = MakeOffer({}, w.log);
        auto page = w.Page(package);
        std::vector<ButtonType> pressed;
        page->SetButtonCallback([&](ButtonType b) {
            // The lists and the flag are up to date when the wizard hears of it.
            EXPECT_EQ(w.config->offerDeclined.load(), c.declined) << c.what;
            EXPECT_EQ(w.config->acceptedOffers.size(), c.accepted ? 1u : 0u) << c.what;
            pressed.push_back(b);
        });
        Click(page->GetSafeHwnd(), c.button);
        package->WaitForEvents();
        EXPECT_EQ(pressed, std::vector<ButtonType>{c.reported}) << c.what;
        EXPECT_EQ(w.config->offerDeclined.load(), c.declined) << c.what;
        EXPECT_EQ(w.config->acceptedOffers, c.accepted ? std::vector<std::shared_ptr<Package>>{package}
                                                       : std::vector<std::shared_ptr<Package>>{})
            << c.what;
        EXPECT_EQ(w.log->Codes(), c.events) << c.what;
        EXPECT_TRUE(w.config->shownOffers.empty()) << c.what;

        // A quit afterwards reports nothing more for a declined offer.
        package->SendEvent(5);
        package->WaitForEvents();
        std::vector<int> afterQuit = c.events;
        if (c.events.empty()) afterQuit.push_back(5);
        EXPECT_EQ(w.log->Codes(), afterQuit) << c.what;
    }
}

TEST(ProductPage, ButtonsWithoutCallbackStillRecordTheAnswer) {
    OfferWizard w;
    auto package = MakeOffer({}, w.log);
    auto page = w.Page(package);
    Click(page->GetSafeHwnd(), IDC_ACCEPT);
    EXPECT_EQ(w.config->acceptedOffers.size(), 1u);
    Click(page->GetSafeHwnd(), IDC_DECLINE);
    package->WaitForEvents();
    EXPECT_TRUE(w.config->offerDeclined.load());
    EXPECT_EQ(w.log->Codes(), std::vector<int>{4});
}

TEST(ProductPage, AnOfferIsAcceptedOnceAndNotAfterADecline) {
    // Reached again after Back, the page must neither queue its offer twice
    // nor keep one the user declined the second time.
    OfferWizard w;
    auto package = MakeOffer({}, w.log);
    auto other = MakeOffer({json::object(), 1}, w.log);
    auto page = w.Page(package);
    auto otherPage = w.Page(other);
    Click(otherPage->GetSafeHwnd(), IDC_ACCEPT);
    Click(page->GetSafeHwnd(), IDC_ACCEPT);
    Click(page->GetSafeHwnd(), IDC_ACCEPT);
    EXPECT_EQ(w.config->acceptedOffers, (std::vector<std::shared_ptr<Package>>{other, package}));
    Click(page->GetSafeHwnd(), IDC_DECLINE);
    package->WaitForEvents();
    EXPECT_EQ(w.config->acceptedOffers, std::vector<std::shared_ptr<Package>>{other});
    EXPECT_EQ(w.log->Codes(), std::vector<int>{4});
}

TEST(ProductPage, NavigationMarksTheOfferShownOnce) {
    OfferWizard w;
    auto first = MakeOffer({}, w.log);
    auto second = MakeOffer({json::object(), 1}, w.log);
    auto firstPage = w.Page(first);
    auto secondPage = w.Page(second);
    EXPECT_TRUE(w.config->shownOffers.empty());
    firstPage->OnNavigateToPage();
    secondPage->OnNavigateToPage();
    firstPage->OnNavigateToPage();  // Back and Next again
    EXPECT_EQ(w.config->shownOffers, (std::vector<std::shared_ptr<Package>>{first, second}));
    EXPECT_EQ(firstPage->GetName(), L"ProductPage");
    EXPECT_TRUE(w.log->Codes().empty());
}

TEST(ProductPage, LinkClicksOpenWebAddressesOnly) {
    const struct {
        const char* what;
        std::string cp, ctu;
        std::vector<std::wstring> opened;  // after clicking both links
    } cases[] = {
        {"two web addresses", "https://example.test/privacy", "http://example.test/terms",
         {L"https://example.test/privacy", L"http://example.test/terms"}},
        {"empty addresses open nothing", "", "", {}},
        {"a program is not started", "C:\\Windows\\system32\\calc.exe", "https://example.test/terms",
         {L"https://example.test/terms"}},
        {"a file address is not opened", "file:///C:/Windows/win.ini", "", {}},
    };
    for (const auto& c : cases) {
        OfferWizard w;
        auto page = w.Page({json{{"cp", c.cp}, {"ctu", c.ctu}}, 0});
        OpenedLinks opened;
        page->SetLinkOpener(opened.Opener());
        ::SetWindowPos(page->GetSafeHwnd(), nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_SHOWWINDOW);
        HWND disclaimer = Disclaimer(*page);
        ASSERT_EQ(LinkUrls(disclaimer).size(), 2u) << c.what;
        EXPECT_TRUE(ClickLink(disclaimer, 0)) << c.what;
        EXPECT_TRUE(ClickLink(disclaimer, 1)) << c.what;
        EXPECT_EQ(opened.urls, c.opened) << c.what;
        EXPECT_TRUE(w.log->Codes().empty()) << c.what;
    }
}

TEST(ProductPage, ShowsTheOffersImageOrNothing) {
    // A 4 x 4 green PNG.
    const unsigned char greenPng[] = {
        0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44, 0x52, 0x00, 0x00,
        0x00, 0x04, 0x00, 0x00, 0x00, 0x04, 0x08, 0x02, 0x00, 0x00, 0x00, 0x26, 0x93, 0x09, 0x29, 0x00, 0x00, 0x00,
        0x0f, 0x49, 0x44, 0x41, 0x54, 0x78, 0xda, 0x63, 0x60, 0xf8, 0xcf, 0x80, 0x40, 0xc4, 0x71, 0x00, 0x9e, 0xa3,
        0x0f, 0xf1, 0xdc, 0xcc, 0xd8, 0x4f, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82};
    OfferWizard w;
    auto withImage = MakeOffer({}, w.log);
    withImage->image = DecodeImage(greenPng, sizeof greenPng);
    ASSERT_TRUE(withImage->image);
    auto page = w.Page(withImage);
    EXPECT_EQ(PaintedPixel(*page, IDC_PRODUCT_IMAGE, 0.5, 0.5), RGB(0, 255, 0));
    auto without = w.Page();
    EXPECT_EQ(PaintedPixel(*without, IDC_PRODUCT_IMAGE, 0.5, 0.5), w.config->backgroundColor);
}

TEST(ProductPage, DisclaimerIsPaintedOnThePageBackground) {
    OfferWizard w;
    auto page = w.Page();
    HWND disclaimer = Disclaimer(*page);
    HDC dc = ::GetDC(disclaimer);
    const auto brush = reinterpret_cast<HBRUSH>(::SendMessageW(
        page->GetSafeHwnd(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(disclaimer)));
    const int mode = ::GetBkMode(dc);
    ::ReleaseDC(disclaimer, dc);
    LOGBRUSH description{};
    ASSERT_TRUE(::GetObjectW(brush, sizeof description, &description));
    EXPECT_EQ(description.lbColor, w.config->backgroundColor);
    EXPECT_EQ(mode, TRANSPARENT);
}
