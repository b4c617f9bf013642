#pragma once
// Decides which offers of one configuration response join the list shown to
// the user: the first rule that fails rejects the offer and reports why; an
// accepted offer constrains the ones after it (vertical, exclusivity, show
// order), and the whole list is capped at the configured number of offers.
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "MachineFacts.h"

class Package;
class ConfigurationManager;

class OfferFilter {
public:
    using PackageList = std::vector<std::shared_ptr<Package>>;

    // maxOffers: the configuration's offer limit. The machine is measured
    // through SystemFacts, whose answers last as long as this filter. The
    // configuration gives the program's version and the offer allowance,
    // which the filter raises.
    OfferFilter(int32_t maxOffers, std::shared_ptr<ConfigurationManager> config);
    OfferFilter(int32_t maxOffers, std::shared_ptr<MachineFacts> facts, std::shared_ptr<ConfigurationManager> config);

    // True when the offer is accepted (the caller appends it to accepted).
    // limitReached comes back true when no further offer can be accepted.
    // Throws when the offer's configuration cannot be evaluated (numbers that
    // are not numbers, unknown roots, a registry entry that names no key).
    bool CheckOffer(const std::shared_ptr<Package>& package, bool& limitReached, const PackageList& accepted);

private:
    // A rule gives the reason it rejects the offer, or "" when it passes.
    using Rule = std::string (OfferFilter::*)(const Package&, const PackageList&);

    void AcceptOffer(const std::shared_ptr<Package>& package);
    void ReportRejection(const std::shared_ptr<Package>& package, const std::string& reason);

    std::string ShowOrderRule(const Package& p, const PackageList& accepted);
    std::string VerticalRule(const Package& p, const PackageList& accepted);
    std::string ExclusiveRule(const Package& p, const PackageList& accepted);
    std::string RegistryRule(const Package& p, const PackageList& accepted);
    std::string DiskRule(const Package& p, const PackageList& accepted);
    std::string MemoryRule(const Package& p, const PackageList& accepted);
    std::string ProcessorRule(const Package& p, const PackageList& accepted);
    std::string WindowsVersionRule(const Package& p, const PackageList& accepted);
    std::string ProgramVersionRule(const Package& p, const PackageList& accepted);
    std::string Windows64Rule(const Package& p, const PackageList& accepted);
    std::string FilesPresentRule(const Package& p, const PackageList& accepted);
    std::string FilesRequiredRule(const Package& p, const PackageList& accepted);
    std::string RunningProgramRule(const Package& p, const PackageList& accepted);
    std::string InstalledProgramsRule(const Package& p, const PackageList& accepted);
    std::string UninstallTimeRule(const Package& p, const PackageList& accepted);
    std::string ChromeRule(const Package& p, const PackageList& accepted);
    std::string InternetExplorerRule(const Package& p, const PackageList& accepted);
    std::string PushNotificationDateRule(const Package& p, const PackageList& accepted);

    std::vector<std::wstring> Candidates(const std::wstring& entry);

    static const Rule kRules[];

    std::shared_ptr<MachineFacts> facts_;
    std::shared_ptr<ConfigurationManager> config_;
    int32_t maxOffers_;
    int32_t acceptedCount_ = 0;
    std::set<int32_t> verticals_;
    std::vector<std::string> acceptedIds_;
};

// "umd" days in seconds as a 32-bit signed product: wrapped on overflow,
// then widened with its sign.
int64_t WrappedDaySeconds(int32_t days);
