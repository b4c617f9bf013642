#include "OfferFilter.h"

#include <windows.h>

#include <algorithm>

#include "Registry.h"
#include "api/Package.h"
#include "config/ConfigurationManager.h"
#include "util/Base62.h"
#include "util/Text.h"

namespace {

bool Contains(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

size_t Dots(const std::wstring& text) { return static_cast<size_t>(std::count(text.begin(), text.end(), L'.')); }

}  // namespace

int64_t WrappedDaySeconds(int32_t days) {
    // Unsigned arithmetic wraps by definition where the signed product would
    // overflow; the wrapped bits are then read back as a signed 32-bit value.
    const uint32_t product = static_cast<uint32_t>(days) * 86400u;
    return product <= static_cast<uint32_t>(INT32_MAX) ? static_cast<int64_t>(product)
                                                       : static_cast<int64_t>(product) - (int64_t{1} << 32);
}

const OfferFilter::Rule OfferFilter::kRules[] = {
    // In-memory rules first: they cost no measurement.
    &OfferFilter::ShowOrderRule,
    &OfferFilter::VerticalRule,
    &OfferFilter::ExclusiveRule,
    &OfferFilter::RegistryRule,
    &OfferFilter::DiskRule,
    &OfferFilter::MemoryRule,
    &OfferFilter::ProcessorRule,
    &OfferFilter::WindowsVersionRule,
    &OfferFilter::ProgramVersionRule,
    &OfferFilter::Windows64Rule,
    &OfferFilter::FilesPresentRule,
    &OfferFilter::FilesRequiredRule,
    &OfferFilter::RunningProgramRule,
    &OfferFilter::InstalledProgramsRule,
    &OfferFilter::UninstallTimeRule,
    &OfferFilter::ChromeRule,
    &OfferFilter::InternetExplorerRule,
    &OfferFilter::PushNotificationDateRule,
};

OfferFilter::OfferFilter(int32_t maxOffers, std::shared_ptr<ConfigurationManager> config)
    : OfferFilter(maxOffers, std::make_shared<SystemFacts>(config->GetFolderPlaceholders()), config) {}

OfferFilter::OfferFilter(int32_t maxOffers, std::shared_ptr<MachineFacts> facts,
                         std::shared_ptr<ConfigurationManager> config)
    : facts_(std::move(facts)), config_(std::move(config)), maxOffers_(maxOffers) {}

bool OfferFilter::CheckOffer(const std::shared_ptr<Package>& package, bool& limitReached,
                             const PackageList& accepted) {
    // 64-bit sum: a limit near the top of the int range plus an allowance
    // must not overflow.
    if (int64_t{acceptedCount_} >= int64_t{maxOffers_} + config_->extraOfferAllowance) {
        limitReached = true;
        return false;
    }
    for (const Rule rule : kRules) {
        const std::string reason = (this->*rule)(*package, accepted);
        if (!reason.empty()) {
            ReportRejection(package, reason);
            return false;
        }
    }
    AcceptOffer(package);
    return true;
}

void OfferFilter::AcceptOffer(const std::shared_ptr<Package>& package) {
    ++acceptedCount_;
    verticals_.insert(package->vertical.load());
    acceptedIds_.push_back(package->offerId);
    // Such an offer may be skipped later in the flow; until then it must not
    // use up a place of the offers after it.
    if (package->flow.sied && acceptedCount_ > 1) ++config_->extraOfferAllowance;
}

void OfferFilter::ReportRejection(const std::shared_ptr<Package>& package, const std::string& reason) {
    // Past the limit only the extra allowance lets offers in; their
    // rejections are no news to the publisher.
    if (acceptedCount_ >= maxOffers_) return;
    package->SendEvent(2, nlohmann::json{{"13", reason}});
}

std::string OfferFilter::ShowOrderRule(const Package& p, const PackageList& accepted) {
    if (p.flow.mb < acceptedCount_) {
        return "SHOWED " + std::to_string(acceptedCount_) + " PRODUCTS BUT ONLY " + std::to_string(p.flow.mb) +
               " ALLOWED BEFORE";
    }
    if (!p.flow.ab.empty() && !acceptedIds_.empty()) {
        std::vector<std::string> notAllowed;
        for (const std::string& id : acceptedIds_) {
            if (!Contains(p.flow.ab, EncodeId(id))) notAllowed.push_back(id);
        }
        if (!notAllowed.empty()) return "NOT ALLOWED AFTER " + JoinWithComma(notAllowed);
    }
    if (config_->extraOfferAllowance != 0) return {};

    for (const auto& earlier : accepted) {
        // Offers accepted after it; unsigned, so a negative "ma" never rejects.
        const int64_t after = static_cast<int64_t>(accepted.size()) - earlier->position - 1;
        if (static_cast<uint32_t>(after) >= static_cast<uint32_t>(earlier->flow.ma)) {
            return "ONLY " + std::to_string(earlier->flow.ma) + " PRODUCTS ALLOWED TO BE SHOWN AFTER " +
                   earlier->offerId;
        }
    }
    const std::string encoded = EncodeId(p.offerId);
    std::vector<std::string> refusing;
    for (const auto& earlier : accepted) {
        if (!earlier->flow.aa.empty() && !Contains(earlier->flow.aa, encoded)) refusing.push_back(earlier->offerId);
    }
    if (!refusing.empty()) return "NOT ALLOWED AFTER " + JoinWithComma(refusing);
    return {};
}

std::string OfferFilter::VerticalRule(const Package& p, const PackageList&) {
    const int32_t vertical = p.vertical.load();
    if (verticals_.count(vertical) == 0) return {};
    return vertical == -1 ? "MULTIPLE OFFERS W/O VERTICAL" : "SAME VERTICAL OFFER ALREADY PRESENT";
}

std::string OfferFilter::ExclusiveRule(const Package& p, const PackageList&) {
    return p.exclusive && acceptedCount_ != 0 ? "EXCLUSIVE, BUT ANOTHER OFFER ALREADY PRESENT" : "";
}

std::vector<std::wstring> OfferFilter::Candidates(const std::wstring& entry) {
    if (entry.empty()) return {};
    return win32::ExpandKeyPath(win32::LowerCase(entry), facts_->IsUnderWow64());
}

std::string OfferFilter::RegistryRule(const Package& p, const PackageList&) {
    for (const std::wstring& entry : p.registryExcluded) {
        const auto candidates = Candidates(entry);
        if (candidates.empty()) break;  // an empty entry ends the list
        for (const std::wstring& key : candidates) {
            if (facts_->KeyExists(key)) return "REGISTRY KEY EXISTS";
        }
    }

    if (!p.registryIncluded.empty()) {
        bool found = false;
        for (const std::wstring& entry : p.registryIncluded) {
            const auto candidates = Candidates(entry);
            if (candidates.empty()) break;
            found = std::any_of(candidates.begin(), candidates.end(),
                                [&](const std::wstring& key) { return facts_->KeyExists(key); });
            if (found) break;
        }
        if (!found) return "NONE OF THE REGISTRY KEYS EXISTS";
    }

    for (const std::wstring& entry : p.registryValueNames) {
        const auto candidates = Candidates(entry);
        if (candidates.empty()) break;
        for (const std::wstring& candidate : candidates) {
            std::wstring key, name;
            if (SplitAtLastBackslash(candidate, key, name) && facts_->ValueExists(key, name)) return "REGISTRY VALUE EXISTS";
        }
    }

    for (const std::wstring& entry : p.registryValueData) {
        // Unlike the lists above, an empty entry here is skipped.
        for (const std::wstring& candidate : Candidates(entry)) {
            std::wstring value, data, key, name;
            if (!SplitAtLastBackslash(candidate, value, data) || !SplitAtLastBackslash(value, key, name)) continue;
            if (facts_->ValueDataEquals(key, name, data)) return "REGISTRY VALUE DATA MATCHES";
        }
    }
    return {};
}

namespace {

std::string AtLeast(uint64_t required, const Measurement& measured, const char* shortfall) {
    if (!measured.ok) return measured.failure;
    return measured.value < required ? shortfall : "";
}

}  // namespace

std::string OfferFilter::DiskRule(const Package& p, const PackageList&) {
    return p.disk == 0 ? "" : AtLeast(p.disk, facts_->FreeDiskSpaceMiB(), "NOT ENOUGH DISK SPACE");
}

std::string OfferFilter::MemoryRule(const Package& p, const PackageList&) {
    return p.ram == 0 ? "" : AtLeast(p.ram, facts_->TotalMemoryMiB(), "NOT ENOUGH RAM");
}

std::string OfferFilter::ProcessorRule(const Package& p, const PackageList&) {
    return p.cpu == 0 ? "" : AtLeast(p.cpu, facts_->ProcessorSpeedMHz(), "NOT ENOUGH CPU");
}

std::string OfferFilter::WindowsVersionRule(const Package& p, const PackageList&) {
    if (p.osRule < 1) return {};
    bool supported = false;
    switch (p.osRule) {
        case 61: supported = facts_->IsWindowsAtLeast(6, 1); break;
        case 62: supported = facts_->IsWindowsAtLeast(6, 2); break;
        case 63: supported = facts_->IsWindowsAtLeast(6, 3); break;
        case 100: supported = facts_->IsWindowsAtLeast(10, 0); break;
        default: break;  // a code we do not know is never met
    }
    return supported ? "" : "UNSUPPORTED OS VERSION";
}

std::string OfferFilter::ProgramVersionRule(const Package& p, const PackageList&) {
    if (p.versionRule.empty()) return {};
    const std::vector<int32_t> wanted = ParseVersion(AnsiToWide(p.versionRule, CP_ACP));
    const std::vector<int32_t> own = ParseVersion(config_->fileVersion);
    for (size_t i = 0; i < std::max(wanted.size(), own.size()); ++i) {
        const int32_t mine = i < own.size() ? own[i] : 0;
        const int32_t theirs = i < wanted.size() ? wanted[i] : 0;
        if (mine != theirs) return mine < theirs ? "UNSUPPORTED PLATFORM VERSION" : "";
    }
    return {};
}

std::string OfferFilter::Windows64Rule(const Package& p, const PackageList&) {
    return p.win64 && !facts_->IsUnderWow64() ? "64 BIT OS REQUIRED" : "";
}

std::string OfferFilter::FilesPresentRule(const Package& p, const PackageList&) {
    return !p.filesExcluded.empty() && facts_->AnyPathExists(p.filesExcluded) ? "FILE EXISTS" : "";
}

std::string OfferFilter::FilesRequiredRule(const Package& p, const PackageList&) {
    return !p.filesIncluded.empty() && !facts_->AnyPathExists(p.filesIncluded) ? "NONE OF THE FILES EXISTS" : "";
}

std::string OfferFilter::RunningProgramRule(const Package& p, const PackageList&) {
    if (p.applications.empty()) return {};
    std::vector<std::wstring> processes = facts_->RunningProcesses();
    for (std::wstring& process : processes) process = win32::LowerCase(process);
    for (const std::string& application : p.applications) {
        const std::wstring name = win32::LowerCase(AnsiToWide(application, CP_ACP));
        const size_t dots = Dots(name);
        for (const std::wstring& process : processes) {
            // "chrome" names chrome.exe; "chrome.exe" also names chrome.exe.old.
            const std::wstring compared = Dots(process) > dots ? process.substr(0, process.rfind(L'.')) : process;
            if (compared == name) return "APPLICATION RUNNING";
        }
    }
    return {};
}

std::string OfferFilter::InstalledProgramsRule(const Package& p, const PackageList&) {
    for (const std::wstring& name : p.appsIncluded) {
        if (!facts_->IsAppRegistered(name)) return "REGISTRY INCLUDE APP NOT FOUND";
    }
    for (const std::wstring& name : p.appsExcluded) {
        if (facts_->IsAppRegistered(name)) return "REGISTRY EXCLUDE APP FOUND";
    }
    return {};
}

std::string OfferFilter::UninstallTimeRule(const Package& p, const PackageList&) {
    for (const RegistryCommand& command : p.registryCommands) {
        std::wstring text;
        if (!facts_->ReadValueAsText(win32::LowerCase(command.utr), win32::LowerCase(command.utk),
                                     win32::LowerCase(command.utvn), text)) {
            continue;
        }
        uint64_t stored = std::stoull(text, nullptr, 10);  // not a number: leaves the check
        if (command.utms) stored /= 1000;
        const uint64_t deadline = stored + static_cast<uint64_t>(WrappedDaySeconds(command.umd));
        if (static_cast<uint64_t>(facts_->CurrentUnixSeconds()) < deadline) return "MIN DAYS UNINSTALL CHECKER";
    }
    return {};
}

std::string OfferFilter::ChromeRule(const Package& p, const PackageList&) {
    if (!p.chromeRequired && !p.chromeAbsent) return {};
    const bool present = facts_->ChromePresent();
    if (p.chromeRequired && !present) return "NO CHROME";
    if (p.chromeAbsent && present) return "HAVE CHROME";
    return {};
}

std::string OfferFilter::InternetExplorerRule(const Package& p, const PackageList&) {
    if (!p.ieCheck) return {};
    const IeVersion ie = facts_->InternetExplorerVersion();
    return ie.found && ie.version * 10.0f < 90.0f ? "OLD IE VERSION" : "";
}

std::string OfferFilter::PushNotificationDateRule(const Package& p, const PackageList&) {
    if (!p.push.pn) return {};
    std::wstring keyPath, valueName;
    if (!SplitDateMarkerPath(p.push.pnr, keyPath, valueName)) return {};
    std::wstring stored;
    if (!facts_->ReadValueAsText(L"hkey_local_machine", keyPath, valueName, stored)) return {};
    // Dates as "YYYYMMDD" order like numbers; the marker holds the first day
    // the offer may be shown again.
    return facts_->TodayLocalDate() < stored ? "PN NO SHOW" : "";
}
