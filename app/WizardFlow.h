#pragma once
// The wizard's decisions, apart from its windows: which page comes next for
// each button, which offers are skipped on the way and why, and when closing
// needs the user's confirmation. The dialog turns messages into calls here and
// carries out what comes back.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "pages/IPage.h"

class ConfigurationManager;
class Package;

class WizardFlow {
public:
    // What the dialog does after a button.
    enum class Step {
        None,              // nothing
        GoTo,              // show page `page`
        StartMainPackage,  // create the main product's package, report its event 1, then show page `page`
        Finish,            // clean up the temporary folder and end the wizard
        Close,             // end the wizard at once
    };
    struct Decision {
        Step step = Step::None;
        size_t page = 0;
    };
    // Reports an offer that is skipped on the way, with its reason; the
    // program sends event 2 with {"13": reason}.
    using SkipReporter = std::function<void(const std::shared_ptr<Package>& offer, const std::string& reason)>;

    static constexpr const char* kSkipAllClicked = "SKIP ALL CLICKED";
    static constexpr const char* kSkippedByDecline = "SKIPPED BECAUSE OF EARLIER DECLINE";
    static constexpr const char* kOfferLimit = "EXCEEDED MAX NUMBER OF OFFERS IN FLOW";
    static constexpr const char* kStopAfterDecline = "SKIP ALL AFTER DECLINE OFFER DECLINED";

    // The flow reads and updates the configuration's offer-flow values
    // (maxOffers, extraOfferAllowance, offerDeclined).
    WizardFlow(ConfigurationManager& config, SkipReporter report);

    // The page sequence by the pages' names, in order.
    void AddPage(const std::wstring& name) { pages_.push_back(name); }
    size_t PageCount() const { return pages_.size(); }
    size_t CurrentPage() const { return currentPage_; }
    // The offers of the product pages, in page order.
    void SetOffers(std::vector<std::shared_ptr<Package>> offers) { offers_ = std::move(offers); }
    const std::vector<std::shared_ptr<Package>>& Offers() const { return offers_; }

    Decision OnButton(ButtonType button);
    // Makes index the current page; false (and nothing changes) when there is
    // no such page.
    bool MoveTo(size_t index);
    // Product pages to pass over after the current page, each reported once.
    size_t CountSkippedOffers();
    // Closing the window asks first, unless the error page is up, while the
    // wizard has not reached its last page or the offers have not arrived.
    bool CloseNeedsConfirmation(bool errorShown) const;

    bool BackPressed() const { return backPressed_; }
    bool SkipAllClicked() const { return skipAllClicked_; }
    bool StopAfterDecline() const { return stopAfterDecline_; }
    bool OfferLimitReached() const { return offerLimitReached_; }
    size_t OfferIndex() const { return offerIndex_; }

private:
    Decision GoTo(size_t page) const { return {Step::GoTo, page}; }
    Decision AfterAnswer();

    ConfigurationManager& config_;
    SkipReporter report_;
    std::vector<std::wstring> pages_;
    std::vector<std::shared_ptr<Package>> offers_;
    size_t currentPage_ = 0;
    size_t offerIndex_ = 0;
    bool backPressed_ = false;
    bool skipAllClicked_ = false;
    bool stopAfterDecline_ = false;
    bool offerLimitReached_ = false;
};
