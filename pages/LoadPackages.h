#pragma once
// What the loading task does with the configuration answer, apart from the
// page and the network: the product block and flow values go into the
// configuration, and the offers that pass the filter come back in order.
#include <nlohmann/json.hpp>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class ConfigurationManager;
class OfferFilter;
class Package;

using OfferList = std::vector<std::shared_ptr<Package>>;

struct LoadOutcome {
    // "ct" or "cu" of the product block is empty (the download-manager type).
    bool configurationError = false;
    OfferList offers;
};

struct LoadFactories {
    // The filter for the configuration's offer limit.
    std::function<std::unique_ptr<OfferFilter>(int32_t maxOffers)> filter;
    // A package for an element of "o" at a position of the offer list.
    std::function<std::shared_ptr<Package>(const nlohmann::json& element, int32_t position)> package;
};

// Throws the JSON library's exceptions for a missing key or a value of the
// wrong type, and whatever a package or the filter throws.
LoadOutcome ReadConfigurationAnswer(const nlohmann::json& answer, ConfigurationManager& config,
                                    const LoadFactories& make);
