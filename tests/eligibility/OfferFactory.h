#pragma once
// Offers built from configuration JSON the way the loading task builds them,
// whose events go through the real event path into a recording.
#include <windows.h>

#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "api/Package.h"
#include "common/RecordingEnvironment.h"

// Offers as the loading task builds them, with every event they post kept.
class OfferFactory {
public:
    using json = nlohmann::json;

    OfferFactory() = default;
    OfferFactory(const OfferFactory&) = delete;
    OfferFactory& operator=(const OfferFactory&) = delete;
    // The posters write into this object: no event may outlive it.
    ~OfferFactory() {
        for (const auto& package : made_) package->WaitForEvents();
    }

    std::shared_ptr<Package> Make(const std::string& id, const json& settings, int32_t position) {
        json ps{{"i", "images/" + id + ".png"}, {"dn", id}, {"u", "https://example.test/" + id + ".exe"}};
        ps.update(settings);
        const json element{{"ad", {{"o", id}, {"f", "feed"}}}, {"ps", ps}};
        SignedRequest request;
        request.body = json::object();
        auto package = Package::CreateOffer(request, element, "", position, Environment());
        made_.push_back(package);
        return package;
    }

    // Codes and "13" texts of every event posted for the offer, once all
    // have gone out.
    std::vector<std::pair<std::string, std::string>> Events(const std::string& id) {
        for (const auto& package : made_) package->WaitForEvents();
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<std::pair<std::string, std::string>> events;
        for (const json& body : bodies_) {
            if (body.value("5", "") == id) events.emplace_back(body.value("6", ""), body.value("13", ""));
        }
        return events;
    }

private:
    PackageEnvironment Environment() {
        PackageEnvironment env = RecordingEnvironment([this](const json& body) {
            std::lock_guard<std::mutex> lock(mutex_);
            bodies_.push_back(body);
        });
        // The moment and the Windows the rule tables are written for.
        env.timestamp = "20240131120000";
        env.windowsMajorMinor = "6.1";
        env.epochMilliseconds = [] { return std::string("1706702400000"); };
        return env;
    }

    std::mutex mutex_;
    std::vector<json> bodies_;
    std::vector<std::shared_ptr<Package>> made_;
};
