// Cost of judging offers: the filter over 100 offers that carry registry,
// file, process and App Paths rules, beside the cost of filling, from empty,
// exactly the caches the filter fills for those offers (the process list, the
// App Paths index with the one entry the offers resolve, and the software
// subkey lists their registry candidates reach). Both are timed in this
// process, so the ratio between them holds across machines better than either
// number alone. "Cold" means the program's caches are empty; the system's own
// caches are warm after the first run, for the filter and the baseline alike.
#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "api/Package.h"
#include "config/ConfigurationManager.h"
#include "eligibility/OfferFilter.h"
#include "eligibility/OfferSelection.h"
#include "eligibility/Probes.h"
#include "eligibility/TestRegistry.h"
#include "util/Handles.h"

using nlohmann::json;

namespace {

constexpr int kOffers = 100;
constexpr int kRuns = 15;

double Microseconds(const std::function<void()>& work) {
    LARGE_INTEGER frequency, start, end;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    work();
    ::QueryPerformanceCounter(&end);
    return static_cast<double>(end.QuadPart - start.QuadPart) * 1e6 / static_cast<double>(frequency.QuadPart);
}

double NowMicroseconds() {
    LARGE_INTEGER frequency, now;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1e6 / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

double MedianOf(const std::function<void()>& work) {
    std::vector<double> samples;
    for (int i = 0; i < kRuns; ++i) samples.push_back(Microseconds(work));
    return Median(samples);
}

std::string Narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }

// What the offers look for: one vendor with a key and values, one App Paths
// registration pointing at a real file.
struct Machine {
    Machine()
        : vendor(L"TamselBench" + std::to_wstring(::GetCurrentProcessId())),
          appName(L"tamselbench" + std::to_wstring(::GetCurrentProcessId()) + L".exe"),
          vendorKey(HKEY_LOCAL_MACHINE, L"Software", vendor + L"\\App", KEY_WOW64_64KEY),
          appKey(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths", appName,
                 KEY_WOW64_32KEY) {
        vendorKey.SetString(L"mode", L"on");
        vendorKey.SetDword(L"count", 7);
        wchar_t temp[MAX_PATH];
        const DWORD n = ::GetTempPathW(MAX_PATH, temp);
        file = std::wstring(temp, n) + vendor + L".exe";
        tamsel::FileHandle created(::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                                 FILE_ATTRIBUTE_NORMAL, nullptr));
        appKey.SetString(L"", file);
    }
    ~Machine() { ::DeleteFileW(file.c_str()); }

    std::wstring vendor;
    std::wstring appName;
    std::wstring file;
    testreg::ScopedKey vendorKey;
    testreg::ScopedKey appKey;
};

// Offers that pass every rule, so that each one runs every rule it names;
// keep names the rule keys they carry (all when empty).
std::vector<std::shared_ptr<Package>> MakeOffers(const Machine& machine, const std::vector<std::string>& keep = {}) {
    const std::string vendor = Narrow(machine.vendor);
    const std::string missing = "C:\\tamsel-bench-missing\\";
    std::vector<std::shared_ptr<Package>> offers;
    for (int i = 0; i < kOffers; ++i) {
        const std::string n = std::to_string(i);
        json ps{
            {"i", "i.png"},
            {"dn", "Offer " + n},
            {"u", "https://example.test/" + n + ".exe"},
            {"v", i + 1},
            {"r", {"absentvendor" + n + "\\app", vendor + "\\App\\Missing" + n, "hkcu\\software\\absent" + n}},
            {"ir", {vendor + "\\App"}},
            {"rvn", {vendor + "\\App\\missing" + n}},
            {"rvd", {vendor + "\\App\\mode\\off", vendor + "\\App\\count\\" + std::to_string(8 + i)}},
            {"fe", {missing + n + ".exe", missing + "other" + n}},
            {"ife", {Narrow(machine.file)}},
            {"a", {"tamselbench-idle" + n, "tamselbench.helper" + n}},
            {"iapp", {Narrow(machine.appName)}},
            {"eapp", {"absentapp" + n + ".exe"}},
        };
        if (!keep.empty()) {
            for (const char* key : {"r", "ir", "rvn", "rvd", "fe", "ife", "a", "iapp", "eapp"}) {
                if (std::find(keep.begin(), keep.end(), key) == keep.end()) ps.erase(key);
            }
        }
        PackageEnvironment env;
        env.epochMilliseconds = [] { return std::string("0"); };
        env.post = [](const std::wstring&, const std::string&, const std::vector<HttpHeader>&, std::string&,
                      int32_t& status) {
            status = 200;
            return true;
        };
        SignedRequest request;
        request.body = json::object();
        offers.push_back(Package::CreateOffer(request, {{"ad", {{"o", "bench" + n}, {"f", "f"}}}, {"ps", ps}}, "", i,
                                              std::move(env)));
    }
    return offers;
}

// The offers' indices, as the elements the selection loop walks.
json Indices(size_t count) {
    json indices = json::array();
    for (size_t i = 0; i < count; ++i) indices.push_back(i);
    return indices;
}

// The loading task's loop over offers built beforehand, so that their
// parsing is not timed; mark, when given, gets the time each offer's turn
// starts.
OfferFilter::PackageList Select(OfferFilter& filter, const std::vector<std::shared_ptr<Package>>& offers,
                                std::vector<double>* marks = nullptr) {
    int packageCount = 0;
    return SelectOffers(
        Indices(offers.size()), filter,
        [&](const json& element, int32_t) {
            if (marks) marks->push_back(NowMicroseconds());
            return offers.at(element.get<size_t>());
        },
        packageCount);
}

// Non-empty software subkey lists in a cache: the registry lists filled.
int FilledLists(const win32::SoftwareSubkeyCache& cache) {
    int filled = 0;
    for (const auto& root : cache)
        for (const auto& view : root.second)
            for (const auto& list : view.second)
                if (!list.second.empty()) ++filled;
    return filled;
}

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(::towlower(c));
    return text;
}

}  // namespace

int main() {
    const Machine machine;
    const auto offers = MakeOffers(machine);

    // What the filter's caches hold after the first offer: the same calls,
    // from an empty cache each time.
    const std::vector<std::wstring> vendorCandidates = win32::ExpandKeyPath(Lower(machine.vendor + L"\\App"));
    const struct {
        const char* name;
        std::function<void(ProbeCache&)> fill;
    } caches[] = {
        {"process list", [](ProbeCache& c) { ProbeRunningProcesses(c); }},
        {"App Paths index", [&](ProbeCache& c) { IsAppRegistered(c, machine.appName); }},
        {"software subkeys",
         [&](ProbeCache& c) {
             for (const std::wstring& candidate : vendorCandidates) win32::KeyExists(candidate, c.softwareSubkeys);
         }},
    };

    std::printf("eligibility benchmark: %s, %d offers, median of %d runs\n",
                IsUnderWow64() ? "WOW64 (64-bit Windows)" : "32-bit Windows", kOffers, kRuns);
    std::printf("baseline: the caches the filter fills for these offers, filled from empty (cold):\n");
    double baseline = 0;
    for (const auto& c : caches) {
        const double us = MedianOf([&] {
            ProbeCache cache;
            c.fill(cache);
        });
        baseline += us;
        std::printf("  %-18s %10.1f us\n", c.name, us);
    }
    {
        ProbeCache cache;
        for (const auto& c : caches) c.fill(cache);
        std::printf("  %-18s %10.1f us  (%d software subkey lists, %zu App Paths names, %zu processes)\n",
                    "baseline", baseline, FilledLists(cache.softwareSubkeys), cache.appPaths.size(),
                    cache.runningProcesses.size());
    }

    std::vector<double> runs, firsts, rests;
    int accepted = 0;
    for (int run = 0; run < kRuns; ++run) {
        OfferFilter filter(kOffers * 2, GetConfiguration());
        // An offer's turn lasts from its mark to the next one: its check and
        // its place in the list.
        std::vector<double> marks;
        const auto list = Select(filter, offers, &marks);
        marks.push_back(NowMicroseconds());
        const double first = marks[1] - marks[0];
        const double total = marks.back() - marks.front();
        accepted = static_cast<int>(list.size());
        runs.push_back(total);
        firsts.push_back(first);
        rests.push_back((total - first) / (kOffers - 1));
    }
    const double perOffer = Median(runs) / kOffers;
    std::printf("filter over %d offers (%d accepted), a fresh filter each run: %.1f us per run\n", kOffers, accepted,
                Median(runs));
    std::printf("  %-34s %10.1f us  = %.2f x baseline\n", "first offer (cold: fills the caches)", Median(firsts),
                Median(firsts) / baseline);
    std::printf("  %-34s %10.1f us  = %.2f x baseline\n", "each later offer (warm caches)", Median(rests),
                Median(rests) / baseline);
    std::printf("  %-34s %10.1f us  = %.2f x baseline\n", "per offer over the run", perOffer, perOffer / baseline);

    // One family of rules at a time, through a fresh filter each run: the
    // first offer fills that family's caches (cold), the others find them
    // filled (warm); the figure is the run's median over its offers.
    const struct {
        const char* name;
        std::vector<std::string> keys;
    } families[] = {
        {"registry rules", {"r", "ir", "rvn", "rvd"}},
        {"file rules", {"fe", "ife"}},
        {"process rule", {"a"}},
        {"App Paths rules", {"iapp", "eapp"}},
    };
    std::printf("one rule family per offer, a fresh filter each run (run / %d offers, one cold fill included):\n",
                kOffers);
    for (const auto& family : families) {
        const auto only = MakeOffers(machine, family.keys);
        const double us = MedianOf([&] {
            OfferFilter filter(kOffers * 2, GetConfiguration());
            Select(filter, only);
        });
        std::printf("  %-18s %10.1f us per offer\n", family.name, us / kOffers);
        for (const auto& offer : only) offer->WaitForEvents();
    }
    for (const auto& offer : offers) offer->WaitForEvents();
    return accepted == kOffers ? 0 : 1;
}
