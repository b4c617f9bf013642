#include "WizardFlow.h"

#include <limits>

#include "api/Package.h"
#include "config/ConfigurationManager.h"

namespace {
constexpr size_t kLanguagePage = 0;
constexpr size_t kLoadingPage = 1;
constexpr size_t kFirstPageAfterLoading = 2;
const wchar_t* const kProductPageName = L"ProductPage";
}  // namespace

WizardFlow::WizardFlow(ConfigurationManager& config, SkipReporter report)
    : config_(config), report_(std::move(report)) {}

WizardFlow::Decision WizardFlow::OnButton(ButtonType button) {
    switch (button) {
    case ButtonType::Next:
        if (currentPage_ == kLanguagePage) {
            // The loading page runs once; after Back the offers are known.
            if (backPressed_) return GoTo(kFirstPageAfterLoading);
            return {Step::StartMainPackage, kLoadingPage};
        }
        return GoTo(currentPage_ + 1);
    case ButtonType::Accept:
        return AfterAnswer();
    case ButtonType::SkipAll:
        skipAllClicked_ = true;
        [[fallthrough]];
    case ButtonType::Decline:
        if (offerIndex_ < offers_.size() && offers_[offerIndex_] && offers_[offerIndex_]->flow.saad)
            stopAfterDecline_ = true;
        return AfterAnswer();
    case ButtonType::Back:
        backPressed_ = true;
        if (currentPage_ == kFirstPageAfterLoading) return GoTo(kLanguagePage);
        if (currentPage_ == kLanguagePage) return {};
        return GoTo(currentPage_ - 1);
    case ButtonType::Finish:
        return {Step::Finish, currentPage_};
    case ButtonType::Close:
        return {Step::Close, currentPage_};
    }
    return {};
}

WizardFlow::Decision WizardFlow::AfterAnswer() {
    const size_t skipped = CountSkippedOffers();
    return GoTo(currentPage_ + 1 + skipped);
}

bool WizardFlow::MoveTo(size_t index) {
    if (index >= pages_.size()) return false;
    currentPage_ = index;
    return true;
}

size_t WizardFlow::CountSkippedOffers() {
    constexpr int32_t kNoLimit = std::numeric_limits<int32_t>::max();
    size_t count = 0;
    for (;;) {
        const size_t next = currentPage_ + count + 1;
        // A sequence without download and finish pages can end on a product page.
        if (next >= pages_.size() || pages_[next] != kProductPageName) return count;
        if (offerIndex_ + 1 >= offers_.size()) return count;
        ++offerIndex_;
        const std::shared_ptr<Package>& offer = offers_[offerIndex_];
        bool skippedByDecline = false;
        if (!skipAllClicked_ && !offerLimitReached_ && !stopAfterDecline_) {
            if (config_.offerDeclined && offer && offer->flow.sied) {
                skippedByDecline = true;
                // A skipped offer no longer limits the ones after it.
                offer->flow.mo = kNoLimit;
                if (config_.extraOfferAllowance > std::numeric_limits<int>::min()) --config_.extraOfferAllowance;
            }
            for (size_t i = 0; i < offerIndex_; ++i) {
                if (offers_[i] && static_cast<int64_t>(offers_[i]->flow.mo) <= static_cast<int64_t>(offerIndex_)) {
                    offerLimitReached_ = true;
                    break;
                }
            }
        }
        if (!skipAllClicked_ && !offerLimitReached_ && !stopAfterDecline_ && !skippedByDecline) return count;

        if (static_cast<int64_t>(offerIndex_) < config_.maxOffers && report_) {
            const char* reason = skipAllClicked_     ? kSkipAllClicked
                                 : skippedByDecline  ? kSkippedByDecline
                                 : offerLimitReached_ ? kOfferLimit
                                                      : kStopAfterDecline;
            report_(offer, reason);
        }
        ++count;
    }
}

bool WizardFlow::CloseNeedsConfirmation(bool errorShown) const {
    if (errorShown) return false;
    return currentPage_ + 1 < pages_.size() || pages_.size() == 2;
}
