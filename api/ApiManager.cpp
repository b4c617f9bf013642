#include "ApiManager.h"

#include <windows.h>

#include <algorithm>
#include <utility>

#include "Transport.h"
#include "util/TamselException.h"
#include "util/Text.h"

using nlohmann::json;

namespace {

constexpr size_t kDownloadTagLength = 7;

bool IsJsonWhitespace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Language codes are ASCII; other characters stay as they are.
wchar_t AsciiLower(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

}  // namespace

std::string DownloadTagFromPath(const std::wstring& modulePath) {
    // A folder name may hold "_" and "."; the tag belongs to the file name.
    const std::wstring name = FileNameOf(modulePath);
    const size_t underscore = name.rfind(L'_');
    if (underscore == std::wstring::npos) return std::string();
    std::wstring tag = name.substr(underscore + 1);
    const size_t dot = tag.rfind(L'.');
    if (dot != std::wstring::npos) tag.erase(dot);
    if (tag.size() != kDownloadTagLength || tag.find(L'-') == std::wstring::npos) return std::string();
    return WideToAnsi(tag, CP_ACP);
}

std::string OwnDownloadTag() {
    wchar_t path[MAX_PATH];
    const DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (n == 0) return std::string();
    return DownloadTagFromPath(std::wstring(path, std::min<DWORD>(n, MAX_PATH)));
}

json BuildConfigurationRequest(const ConfigurationRequestFacts& facts) {
    std::wstring language = facts.languageCode.substr(0, 2);
    std::transform(language.begin(), language.end(), language.begin(), AsciiLower);
    return json{
        {"prv", "0.1"},
        {"plv", WideToAnsi(facts.fileVersion, CP_ACP)},
        {"l", WideToAnsi(language, CP_ACP)},
        {"a", WideToAnsi(facts.brand, CP_ACP)},
        {"i", WideToAnsi(facts.appId, CP_ACP)},
        {"s", WideToAnsi(facts.stubId, CP_ACP)},
        {"u", facts.downloadTag},
        {"o", facts.windowsVersion},
    };
}

ApiManager::ApiManager()
    : ApiManager(
          [](const std::wstring& url, const std::string& body, std::vector<HttpHeader> headers, std::string& response,
             int32_t& status) { return PostJson(url, body, std::move(headers), response, status); },
          [](uint32_t milliseconds) { ::Sleep(milliseconds); }) {}

ApiManager::ApiManager(Poster post, Sleeper sleep) : post_(std::move(post)), sleep_(std::move(sleep)) {}

json ApiManager::RequestConfiguration(const std::wstring& url, const json& request) const {
    if (url.empty()) throw TamselException("No configuration endpoint is configured");
    // ANSI text outside ASCII is not UTF-8: the serialiser replaces what it
    // cannot take (U+FFFD), as in event bodies, instead of failing the request.
    const std::string body = request.dump(-1, ' ', false, json::error_handler_t::replace);

    std::string response;
    int32_t status = 0;
    bool answered = false;
    bool succeeded = false;
    for (int attempt = 0; attempt < kAttempts && !succeeded; ++attempt) {
        // The poster appends: each attempt starts from an empty answer.
        response.clear();
        status = 0;
        answered = post_(url, body, {}, response, status);
        succeeded = answered && status >= 200 && status <= 399;
        if (!succeeded) sleep_(kPauseMilliseconds);
    }
    // An error status is not a configuration, whatever its body says.
    if (!succeeded)
        throw TamselException(answered ? "The configuration request failed " + std::to_string(kAttempts) +
                                             " times; the last answer had status " + std::to_string(status)
                                       : "The configuration request got no answer in " +
                                             std::to_string(kAttempts) + " attempts");

    if (std::all_of(response.begin(), response.end(), IsJsonWhitespace))
        throw TamselException("The configuration answer is empty");
    json document = json::parse(response);
    if (document.is_discarded()) throw TamselException("The configuration answer holds no JSON value");
    return document;
}

std::shared_ptr<ApiManager> GetApiManager() {
    // Initialised once, also under concurrent first calls.
    static const std::shared_ptr<ApiManager> manager = std::make_shared<ApiManager>();
    return manager;
}
