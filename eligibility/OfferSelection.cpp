#include "OfferSelection.h"

#include <string>

#include "api/Package.h"
#include "util/TamselException.h"

OfferFilter::PackageList SelectOffers(const nlohmann::json& offers, OfferFilter& filter, const PackageFactory& make,
                                      int& packageCount) {
    // Iterating an object would take its values for offers.
    if (!offers.is_array())
        throw nlohmann::json::type_error::create(302, std::string("type must be array, but is ") + offers.type_name(),
                                                 &offers);
    OfferFilter::PackageList accepted;
    for (const nlohmann::json& element : offers) {
        auto package = make(element, static_cast<int32_t>(accepted.size()));
        if (!package) throw TamselException("No package was built for an offer");
        bool limitReached = false;
        if (filter.CheckOffer(package, limitReached, accepted)) {
            accepted.push_back(package);
            ++packageCount;
            if (package->exclusive) break;
        }
        if (limitReached) break;
    }
    return accepted;
}
