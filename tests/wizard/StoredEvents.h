#pragma once
// What the service stored for the wizard's events, read back through its
// read-back route (the tests' service runs with it on).
#include <gtest/gtest.h>

#include <windows.h>

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "api/Transport.h"
#include "config/ConfigurationManager.h"

namespace wizardrun {

struct StoredEvent {
    int code;
    std::string reason;   // "13"
    std::string failure;  // "12"
};

// Events the service stored for an offer, sent from this prefix since `since`.
inline std::vector<StoredEvent> StoredEvents(const std::string& offerId, const std::string& since) {
    std::string response;
    int32_t status = 0;
    const std::wstring path = L"/events?offer=" + std::wstring(offerId.begin(), offerId.end());
    std::vector<StoredEvent> events;
    if (!PostJsonToHost(L"localhost", path, "{}", {}, response, status) || status != 200) {
        ADD_FAILURE() << "read-back answered " << status << ": " << response;
        return events;
    }
    static const std::string machine = ConfigurationManager::ReadMachineGuid();
    for (const nlohmann::json& stored : nlohmann::json::parse(response)) {
        const nlohmann::json data = nlohmann::json::parse(stored.at("data").get<std::string>());
        if (data.value("1", "") != machine || data.value("2", "") < since) continue;
        events.push_back({stored.at("code").get<int>(), stored.value("reason", ""), stored.value("failure", "")});
    }
    return events;
}

// Waits until the service has at least `count` such events (events travel on
// threads of their own, and a failed attempt is tried again 5 s later).
inline std::vector<StoredEvent> AwaitEvents(const std::string& offerId, const std::string& since, size_t count) {
    std::vector<StoredEvent> events;
    for (int i = 0; i < 300; ++i) {
        events = StoredEvents(offerId, since);
        if (events.size() >= count) break;
        ::Sleep(100);
    }
    return events;
}

inline std::vector<int> Codes(const std::vector<StoredEvent>& events) {
    std::vector<int> codes;
    for (const auto& e : events) codes.push_back(e.code);
    return codes;
}

}  // namespace wizardrun
