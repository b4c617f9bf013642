// The wizard's navigation without its windows: button sequences over a page
// list like the one the dialog builds, with the offers' flow settings, and
// what is shown and reported on the way.
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "app/WizardFlow.h"
#include "config/ConfigurationManager.h"
#include "eligibility/OfferFactory.h"

namespace {

using json = nlohmann::json;
using Skip = std::pair<std::string, std::string>;  // offer id, reason

// Carries out the flow's decisions the way the dialog does, and records them.
class Wizard {
public:
    explicit Wizard(const std::vector<FlowSettings>& offerFlows, int32_t maxOffers = 10)
        : config_("Bogus", nullptr),
          flow_(config_, [this](const std::shared_ptr<Package>& offer, const std::string& reason) {
              skips.emplace_back(offer->offerId, reason);
          }) {
        config_.maxOffers = maxOffers;
        for (size_t i = 0; i < offerFlows.size(); ++i) {
            auto offer = factory_.Make("o" + std::to_string(i + 1), json::object(), static_cast<int32_t>(i));
            offer->flow = offerFlows[i];
            offers_.push_back(offer);
        }
        AddPage(L"LanguagePage", "Language");
        AddPage(L"LoadingPage", "Loading");
    }

    // The first Next, then the loading page's hand-over: the rest of the
    // sequence and the move to the page after loading.
    void StartAndLoad() {
        Press(ButtonType::Next);
        AddPage(L"WelcomePage", "Welcome");
        for (size_t i = 0; i < offers_.size(); ++i) AddPage(L"ProductPage", "P" + std::to_string(i + 1));
        AddPage(L"DownloadPageDLM", "Download");
        AddPage(L"FinishPageDLM", "Finish");
        flow_.SetOffers(offers_);
        Press(ButtonType::Next);
    }

    void Press(ButtonType button) {
        // The product page records the answer before it calls back.
        if (button == ButtonType::Decline || button == ButtonType::SkipAll) config_.offerDeclined = true;
        const WizardFlow::Decision d = flow_.OnButton(button);
        switch (d.step) {
        case WizardFlow::Step::StartMainPackage:
            ++mainPackages;
            [[fallthrough]];
        case WizardFlow::Step::GoTo:
            if (flow_.MoveTo(d.page)) shown.push_back(labels_[d.page]);
            break;
        case WizardFlow::Step::Finish:
            shown.push_back("finished");
            break;
        case WizardFlow::Step::Close:
            shown.push_back("closed");
            break;
        case WizardFlow::Step::None:
            break;
        }
    }

    ConfigurationManager& Config() { return config_; }
    WizardFlow& Flow() { return flow_; }
    const std::vector<std::shared_ptr<Package>>& Offers() const { return offers_; }

    std::vector<std::string> shown;
    std::vector<Skip> skips;
    int mainPackages = 0;

private:
    void AddPage(const std::wstring& name, const std::string& label) {
        flow_.AddPage(name);
        labels_.push_back(label);
    }

    ConfigurationManager config_;
    OfferFactory factory_;
    std::vector<std::shared_ptr<Package>> offers_;
    std::vector<std::string> labels_;
    WizardFlow flow_;
};

FlowSettings Plain() { return {}; }
FlowSettings WithMo(int32_t mo) {
    FlowSettings f;
    f.mo = mo;
    return f;
}
FlowSettings Saad() {
    FlowSettings f;
    f.saad = true;
    return f;
}
FlowSettings Sied() {
    FlowSettings f;
    f.sied = true;
    return f;
}

struct FlowCase {
    const char* what;
    std::vector<FlowSettings> offers;
    int32_t maxOffers;
    std::vector<ButtonType> buttons;  // after the load
    std::vector<std::string> shown;   // from the first Next on
    std::vector<Skip> skips;
};

const ButtonType Accept = ButtonType::Accept, Decline = ButtonType::Decline, SkipAll = ButtonType::SkipAll,
                 Next = ButtonType::Next;

TEST(WizardFlow, ButtonSequences) {
    const std::string stop = WizardFlow::kStopAfterDecline, all = WizardFlow::kSkipAllClicked,
                      sied = WizardFlow::kSkippedByDecline, limit = WizardFlow::kOfferLimit;
    const FlowCase cases[] = {
        {"three offers accepted",
         {Plain(), Plain(), Plain()}, 10, {Next, Accept, Accept, Accept},
         {"Loading", "Welcome", "P1", "P2", "P3", "Download"}, {}},
        {"declined offers are still followed by the next one",
         {Plain(), Plain(), Plain()}, 10, {Next, Decline, Decline, Accept},
         {"Loading", "Welcome", "P1", "P2", "P3", "Download"}, {}},
        {"decline with saad skips the rest",
         {Saad(), Plain(), Plain()}, 10, {Next, Decline},
         {"Loading", "Welcome", "P1", "Download"}, {{"o2", stop}, {"o3", stop}}},
        {"saad only counts when declined",
         {Saad(), Plain(), Plain()}, 10, {Next, Accept, Accept, Accept},
         {"Loading", "Welcome", "P1", "P2", "P3", "Download"}, {}},
        {"skip all",
         {Plain(), Plain(), Plain()}, 10, {Next, SkipAll},
         {"Loading", "Welcome", "P1", "Download"}, {{"o2", all}, {"o3", all}}},
        {"skip all on the second offer",
         {Plain(), Plain(), Plain()}, 10, {Next, Accept, SkipAll},
         {"Loading", "Welcome", "P1", "P2", "Download"}, {{"o3", all}}},
        {"skip all with saad: skip all is the reason",
         {Saad(), Plain(), Plain()}, 10, {Next, SkipAll},
         {"Loading", "Welcome", "P1", "Download"}, {{"o2", all}, {"o3", all}}},
        {"sied after a decline is skipped, the next offer decided normally",
         {Plain(), Sied(), Plain()}, 10, {Next, Decline, Accept},
         {"Loading", "Welcome", "P1", "P3", "Download"}, {{"o2", sied}}},
        {"sied without a decline is shown",
         {Plain(), Sied(), Plain()}, 10, {Next, Accept, Accept, Accept},
         {"Loading", "Welcome", "P1", "P2", "P3", "Download"}, {}},
        {"mo 2 with four offers",
         {WithMo(2), Plain(), Plain(), Plain()}, 10, {Next, Accept, Accept},
         {"Loading", "Welcome", "P1", "P2", "Download"}, {{"o3", limit}, {"o4", limit}}},
        {"mo of a later offer limits from its own position on",
         {Plain(), WithMo(2), Plain(), Plain()}, 10, {Next, Accept, Decline},
         {"Loading", "Welcome", "P1", "P2", "Download"}, {{"o3", limit}, {"o4", limit}}},
        {"a negative mo limits at once",
         {WithMo(-1), Plain()}, 10, {Next, Accept},
         {"Loading", "Welcome", "P1", "Download"}, {{"o2", limit}}},
        {"only offers below the configuration's limit are reported",
         {Plain(), Plain(), Plain(), Plain()}, 2, {Next, SkipAll},
         {"Loading", "Welcome", "P1", "Download"}, {{"o2", all}}},
        {"no offers",
         {}, 10, {Next, Next},
         {"Loading", "Welcome", "Download", "Finish"}, {}},
        {"finish",
         {Plain()}, 10, {Next, Accept, Next, ButtonType::Finish},
         {"Loading", "Welcome", "P1", "Download", "Finish", "finished"}, {}},
        {"close",
         {Plain()}, 10, {Next, ButtonType::Close},
         {"Loading", "Welcome", "P1", "closed"}, {}},
        {"back to the language page and on again",
         {Plain()}, 10, {ButtonType::Back, Next, Next},
         {"Loading", "Welcome", "Language", "Welcome", "P1"}, {}},
        {"next past the last page does nothing",
         {}, 10, {Next, Next, Next, Next},
         {"Loading", "Welcome", "Download", "Finish"}, {}},
    };
    for (const FlowCase& c : cases) {
        SCOPED_TRACE(c.what);
        Wizard wizard(c.offers, c.maxOffers);
        wizard.StartAndLoad();
        for (ButtonType button : c.buttons) wizard.Press(button);
        EXPECT_EQ(wizard.shown, c.shown);
        EXPECT_EQ(wizard.skips, c.skips);
        EXPECT_EQ(wizard.mainPackages, 1) << "one main package, whatever Back and Next do";
    }
}

TEST(WizardFlow, SkippingForAnEarlierDeclineLiftsTheOffersLimitAndLowersTheAllowance) {
    Wizard wizard({Plain(), [] { FlowSettings f = Sied(); f.mo = 2; return f; }(), Plain(), Plain()});
    wizard.Config().extraOfferAllowance = 5;
    wizard.StartAndLoad();
    wizard.Press(Next);
    wizard.Press(Decline);
    EXPECT_EQ(wizard.Offers()[1]->flow.mo, std::numeric_limits<int32_t>::max());
    EXPECT_EQ(wizard.Config().extraOfferAllowance, 4);
    // o2's own "mo" of 2 would have stopped o3; lifted, it does not.
    wizard.Press(Accept);
    EXPECT_EQ(wizard.shown, (std::vector<std::string>{"Loading", "Welcome", "P1", "P3", "P4"}));
}

TEST(WizardFlow, FlagsStaySetOnceSet) {
    Wizard wizard({Saad(), Plain(), Plain()});
    wizard.StartAndLoad();
    wizard.Press(Next);
    wizard.Press(ButtonType::Back);
    EXPECT_TRUE(wizard.Flow().BackPressed());
    wizard.Press(Next);
    wizard.Press(Decline);
    EXPECT_TRUE(wizard.Flow().StopAfterDecline());
    EXPECT_FALSE(wizard.Flow().SkipAllClicked());
    EXPECT_EQ(wizard.Flow().OfferIndex(), 2u);
}

TEST(WizardFlow, BackOnTheLanguagePageAndMovesOutOfRangeDoNothing) {
    Wizard wizard({});
    wizard.Press(ButtonType::Back);
    EXPECT_TRUE(wizard.shown.empty());
    EXPECT_FALSE(wizard.Flow().MoveTo(2));
    EXPECT_EQ(wizard.Flow().CurrentPage(), 0u);
}

TEST(WizardFlow, ClosingAsksUnlessOnTheLastPageOrAfterAnError) {
    Wizard wizard({Plain()});
    // Only the language and loading pages: the offers have not arrived.
    EXPECT_TRUE(wizard.Flow().CloseNeedsConfirmation(false));
    EXPECT_FALSE(wizard.Flow().CloseNeedsConfirmation(true));
    wizard.StartAndLoad();
    EXPECT_TRUE(wizard.Flow().CloseNeedsConfirmation(false));
    wizard.Press(Next);
    wizard.Press(Accept);
    wizard.Press(Next);
    ASSERT_EQ(wizard.shown.back(), "Finish");
    EXPECT_FALSE(wizard.Flow().CloseNeedsConfirmation(false));
}

}  // namespace
