#pragma once
// A package environment with fixed facts, whose event posts never leave the
// process: each event's data object goes to `record`, and the post succeeds.
#include <nlohmann/json.hpp>

#include <functional>
#include <string>
#include <utility>

#include "api/Package.h"

inline PackageEnvironment RecordingEnvironment(std::function<void(const nlohmann::json& event)> record) {
    PackageEnvironment env;
    env.machineGuid = "c0ffee00-1111-2222-3333-444455556666";
    env.timestamp = "20261210093000";
    env.windowsMajorMinor = "10.0";
    env.epochMilliseconds = [] { return std::string("1765359000123"); };
    env.expandFolders = [](const std::wstring& text) { return text; };
    env.eventEndpointUrl = L"https://localhost/zbd";
    env.fileEndpointUrl = L"https://localhost/f/";
    env.post = [record = std::move(record)](const std::wstring&, const std::string& document,
                                            const std::vector<HttpHeader>&, std::string&, int32_t& status) {
        if (record) record(nlohmann::json::parse(nlohmann::json::parse(document).at("data").get<std::string>()));
        status = 200;
        return true;
    };
    return env;
}
