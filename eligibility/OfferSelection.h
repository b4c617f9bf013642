#pragma once
// The loop that turns the configuration's offers into the list shown to the
// user: each offer is built, judged by the filter and appended when accepted.
#include <nlohmann/json.hpp>

#include <cstdint>
#include <functional>
#include <memory>

#include "OfferFilter.h"

class Package;

// Builds the package of one element of the offers array, or throws; position
// is the number of offers already in the list.
using PackageFactory = std::function<std::shared_ptr<Package>(const nlohmann::json& element, int32_t position)>;

// Walks the offers in order: an accepted offer is appended and counted in
// packageCount; an accepted exclusive offer ends the list, and so does the
// filter once it reports the limit reached. offers must be an array (the
// JSON library's type_error otherwise); exceptions of the factory and the
// filter leave the loop as they are.
OfferFilter::PackageList SelectOffers(const nlohmann::json& offers, OfferFilter& filter, const PackageFactory& make,
                                      int& packageCount);
