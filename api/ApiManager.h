#pragma once
#include <nlohmann/json.hpp>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "SignedRequest.h"

// The download tag of a program file: the part of its file name after the
// last "_", up to the last "." (the whole rest when there is no dot), kept
// only when it is 7 characters long and holds a "-"; "" otherwise. Narrow
// text in the ANSI code page. Only the file name counts, never the folders.
std::string DownloadTagFromPath(const std::wstring& modulePath);
// The download tag of the running program's own file.
std::string OwnDownloadTag();

// What the configuration request tells the service.
struct ConfigurationRequestFacts {
    std::wstring fileVersion;   // "plv"
    std::wstring languageCode;  // "l": its first two characters, lower-cased
    std::wstring brand;         // "a"
    std::wstring appId;         // "i"
    std::wstring stubId;        // "s"
    std::string downloadTag;    // "u"
    std::string windowsVersion; // "o": "major.minor.build"
};

// The request object; every value a string, wide ones in the ANSI code page.
nlohmann::json BuildConfigurationRequest(const ConfigurationRequestFacts& facts);

// The exchanges with the remote service that are not package events.
class ApiManager {
public:
    // PostJson's contract: true with a status and the body appended to
    // response, or a thrown exception when no request could be made.
    using Poster = std::function<bool(const std::wstring& url, const std::string& body,
                                      std::vector<HttpHeader> headers, std::string& response, int32_t& status)>;
    using Sleeper = std::function<void(uint32_t milliseconds)>;

    static constexpr int kAttempts = 3;
    static constexpr uint32_t kPauseMilliseconds = 5000;

    // Posts with PostJson and pauses with Sleep.
    ApiManager();
    ApiManager(Poster post, Sleeper sleep);

    // Posts the request (unsigned) to url up to three times, pausing after
    // every attempt that failed; returns the parsed answer of the attempt
    // that succeeded. Throws TamselException for an empty url, three failed
    // attempts or an answer with nothing but whitespace, the JSON library's
    // parse_error for an answer that is not JSON, and whatever the poster
    // throws (not retried).
    nlohmann::json RequestConfiguration(const std::wstring& url, const nlohmann::json& request) const;

private:
    Poster post_;
    Sleeper sleep_;
};

// The process's one ApiManager, created on first use.
std::shared_ptr<ApiManager> GetApiManager();
