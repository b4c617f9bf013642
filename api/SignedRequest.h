#pragma once
#include <nlohmann/json.hpp>

#include <string>
#include <utility>
#include <vector>

// One extra request header: name and value.
using HttpHeader = std::pair<std::wstring, std::wstring>;

// The common body of every event report and its "Authorization" header.
struct SignedRequest {
    nlohmann::json body;
    std::vector<HttpHeader> headers;
};

class ConfigurationManager;

// Reads the configuration and the machine; sends nothing.
SignedRequest BuildSignedRequest(ConfigurationManager& config);
// "major.minor.build" from RtlGetVersion, "" when it fails.
std::string WindowsVersionText();
// "Signature=" and the SHA-256 of machine identifier and timestamp.
std::wstring SignatureHeaderValue(const std::string& machineGuid, const std::string& timestamp);
