#include "Package.h"

#include <windows.h>

#include "PackageJson.h"
#include "Transport.h"
#include "util/Images.h"
#include "config/ConfigurationManager.h"
#include "download/DownloadManager.h"
#include "util/Aflt.h"
#include "util/Base62.h"
#include "util/Digest.h"
#include "util/TamselException.h"
#include "util/Text.h"
#include "util/WindowsVersion.h"

using nlohmann::json;
using namespace packagejson;

namespace {

// An expansion that would grow a text past this is a broken configuration.
constexpr size_t kMaxExpandedLength = 1 << 20;

std::vector<std::wstring> Widened(const std::vector<std::string>& texts, unsigned codePage) {
    std::vector<std::wstring> result;
    result.reserve(texts.size());
    for (const auto& text : texts) result.push_back(AnsiToWide(text, codePage));
    return result;
}

std::vector<std::wstring> FromUtf8(const std::vector<std::string>& texts) {
    std::vector<std::wstring> result;
    result.reserve(texts.size());
    for (const auto& text : texts) result.push_back(Utf8ToWide(text));
    return result;
}

}  // namespace

bool IsClosingEventCode(int32_t code) {
    return code == -1 || code == 2 || code == 3 || code == 4 || code == 5;
}

PackageEnvironment EnvironmentFromConfiguration(std::shared_ptr<ConfigurationManager> config) {
    PackageEnvironment env;
    env.machineGuid = config->GetMachineGuid();
    env.timestamp = config->GetTimestamp();
    env.remoteL = config->remoteL;
    env.remoteFa = config->remoteFa;
    env.productCb = config->productCb;
    env.brand = config->brand;
    env.appId = config->appId;
    const WindowsVersion& version = GetWindowsVersion();
    if (version.known) env.windowsMajorMinor = std::to_string(version.major) + "." + std::to_string(version.minor);
    env.epochMilliseconds = &ConfigurationManager::GetEpochMilliseconds;
    env.expandFolders = [config](const std::wstring& text) { return config->ExpandFolderPlaceholders(text); };
    env.eventEndpointUrl = config->eventEndpointUrl;
    env.fileEndpointUrl = config->fileEndpointUrl;
    env.post = [](const std::wstring& url, const std::string& body, const std::vector<HttpHeader>& headers,
                  std::string& response, int32_t& status) { return PostJson(url, body, headers, response, status); };
    return env;
}

Package::Package(Token, PackageEnvironment environment) : environment_(std::move(environment)) {}

std::shared_ptr<Package> Package::CreateOffer(const SignedRequest& request, const json& element,
                                              const std::string& defaultC, int32_t position,
                                              PackageEnvironment environment) {
    auto package = std::make_shared<Package>(Token{}, std::move(environment));
    package->request = request;
    package->isMain = false;
    package->cValue = defaultC;
    package->position = position;
    package->ReadOffer(element);
    package->BuildEventTemplate();
    return package;
}

std::shared_ptr<Package> Package::CreateMain(const SignedRequest& request, const std::wstring& displayName,
                                             const std::wstring& offerId, const std::wstring& feedId,
                                             const std::wstring& cValue, PackageEnvironment environment) {
    auto package = std::make_shared<Package>(Token{}, std::move(environment));
    package->Reinitialise(request, displayName, offerId, feedId, cValue);
    return package;
}

void Package::Reinitialise(const SignedRequest& newRequest, const std::wstring& newDisplayName,
                           const std::wstring& newOfferId, const std::wstring& newFeedId,
                           const std::wstring& newCValue) {
    request = newRequest;
    isMain = true;
    position = 0;
    displayName = WideToAnsi(newDisplayName, CP_ACP);
    offerId = WideToAnsi(newOfferId, CP_ACP);
    feedId = WideToAnsi(newFeedId, CP_ACP);
    cValue = WideToAnsi(newCValue, CP_ACP);
    BuildEventTemplate();
}

void Package::AddParameter(const std::string& key, const std::string& value) {
    trackingParameters.emplace(key, value);  // the first value of a key stays
}

void Package::FillConfigurationParameters() {
    const PackageEnvironment& env = environment_;
    if (!env.machineGuid.empty()) AddParameter("userid", env.machineGuid);
    if (!env.timestamp.empty()) AddParameter("sessionid", env.timestamp);
    if (!env.remoteL.empty()) AddParameter("cc", env.remoteL);
    if (!env.remoteFa.empty()) AddParameter("pubid", env.remoteFa);
    if (!env.productCb.empty()) AddParameter("ispb", env.productCb);
    AddParameter("aflt", AfltForCountry(env.remoteL));
    if (!env.brand.empty()) AddParameter("account_md5", Md5Hex(env.brand));
}

std::string Package::ExpandParameters(const std::string& text) const {
    // One pass per key into a new string: replacing in place would move the
    // rest of the text at every occurrence.
    std::string result = text;
    std::string expanded;
    for (const auto& [key, value] : trackingParameters) {
        const std::string placeholder = "{" + key + "}";
        size_t at = result.find(placeholder);
        if (at == std::string::npos) continue;
        expanded.clear();
        size_t from = 0;  // first character of result not yet copied
        for (; at != std::string::npos; at = result.find(placeholder, from)) {
            // The length the text has once this occurrence is replaced.
            const size_t grown =
                expanded.size() + (at - from) + value.size() + (result.size() - at - placeholder.size());
            if (value.size() > placeholder.size() && grown > kMaxExpandedLength)
                throw TamselException("An offer text grows too long when its placeholders are filled in");
            expanded.append(result, from, at - from);
            expanded.append(value);
            from = at + placeholder.size();  // never look inside what was just inserted
        }
        expanded.append(result, from, std::string::npos);
        result.swap(expanded);
    }
    return result;
}

void Package::ReadOffer(const json& element) {
    FillConfigurationParameters();

    const json& ad = RequiredObject(element, "ad");
    feedId = RequiredString(ad, "f");
    offerId = RequiredString(ad, "o");
    std::string encoded;
    try {
        encoded = EncodeId(environment_.machineGuid + "|" + offerId + "|" + environment_.timestamp);
    } catch (const std::exception&) {
        encoded.clear();
    }
    AddParameter("pxl", encoded);
    AddParameter("of", feedId);

    const json& ps = RequiredObject(element, "ps");
    imagePath = ExpandParameters(RequiredString(ps, "i"));
    displayName = ExpandParameters(RequiredString(ps, "dn"));
    downloadUrl = ExpandParameters(RequiredString(ps, "u"));
    sha256 = OptionalSha256(ps);

    ReadPushNotificationBlock(ps);

    parameters = ExpandParameters(OptionalString(ps, "p"));
    privacyUrl = ExpandParameters(OptionalString(ps, "cp"));
    termsUrl = ExpandParameters(OptionalString(ps, "ctu"));
    vertical = OptionalInt32(ps, "v");
    exclusive = OptionalBool(ps, "exc");
    cValue = ExpandParameters(OptionalString(ps, "c", cValue));
    disk = OptionalUInt64(ps, "disk");
    ram = OptionalUInt64(ps, "ram");
    cpu = OptionalUInt64(ps, "cpu");
    osRule = OptionalInt32(ps, "ov");
    versionRule = OptionalString(ps, "pv");
    win64 = OptionalBool(ps, "win64");
    if (ps.contains("x")) {
        switch (ToInt32(ps["x"])) {
            case 1: disk = 2500; ram = 250; break;
            case 2: chromeRequired = true; ieCheck = true; break;
            case 3: disk = 512; ram = 1536; cpu = 1500; break;
            case 10: win64 = true; break;
            case 12: chromeRequired = true; break;
            case 13: chromeAbsent = true; break;
            default: break;
        }
    }

    // Paths come in the ANSI code page; registry rules are UTF-8.
    for (const auto& path : Widened(OptionalStrings(ps, "fe"), CP_THREAD_ACP))
        filesExcluded.push_back(environment_.expandFolders ? environment_.expandFolders(path) : path);
    for (const auto& path : Widened(OptionalStrings(ps, "ife"), CP_THREAD_ACP))
        filesIncluded.push_back(environment_.expandFolders ? environment_.expandFolders(path) : path);
    applications = OptionalStrings(ps, "a");
    registryExcluded = FromUtf8(OptionalStrings(ps, "r"));
    registryIncluded = FromUtf8(OptionalStrings(ps, "ir"));
    registryValueNames = FromUtf8(OptionalStrings(ps, "rvn"));
    registryValueData = FromUtf8(OptionalStrings(ps, "rvd"));
    if (const json* records = OptionalArray(ps, "cmdu")) {
        for (const json& record : *records) {
            RegistryCommand command;
            command.utr = Utf8ToWide(RequiredString(record, "utr"));
            command.utk = Utf8ToWide(RequiredString(record, "utk"));
            command.utvn = Utf8ToWide(RequiredString(record, "utvn"));
            command.utvt = Utf8ToWide(RequiredString(record, "utvt"));
            command.umd = ToInt32(record.at("umd"));
            command.utms = OptionalBool(record, "utms");
            registryCommands.push_back(std::move(command));
        }
    }
    appsExcluded = FromUtf8(OptionalStrings(ps, "eapp"));
    appsIncluded = FromUtf8(OptionalStrings(ps, "iapp"));
}

void Package::ReadPushNotificationBlock(const json& ps) {
    push.pn = OptionalBool(ps, "pn");
    if (!push.pn) return;
    push.pnau = OptionalString(ps, "pnau");
    push.pnak = OptionalString(ps, "pnak");
    push.pnr = ExpandParameters(OptionalString(ps, "pnr"));
    push.pnop = OptionalString(ps, "pnop");
    push.pnsi = OptionalBool(ps, "pnsi");
    push.la = OptionalString(ps, "la");

    std::string chosen;
    const auto pnrp = ps.find("pnrp");
    if (pnrp != ps.end() && pnrp->is_object()) {
        // "default" must be a string whether or not it is the one chosen.
        const std::string fallback = OptionalString(*pnrp, "default");
        const auto forVersion = pnrp->find(environment_.windowsMajorMinor);
        chosen = forVersion != pnrp->end() ? forVersion->get<std::string>() : fallback;
    }
    AddParameter("pnrparam", chosen);
    push.sp = ExpandParameters(OptionalString(ps, "sp"));

    AddParameter("pnstubparams", push.sp);
    AddParameter("pnapiurl", push.pnau);
    AddParameter("pnapikey", push.pnak);
    AddParameter("pnop", push.pnop);
    AddParameter("account", WideToUtf8(environment_.brand));
    AddParameter("installer", WideToUtf8(environment_.appId));
    AddParameter("pnsid", environment_.epochMilliseconds ? environment_.epochMilliseconds() : std::string());

    if (!ps.contains("cfs")) return;
    const json& settings = RequiredObject(ps, "cfs");
    flow.mb = OptionalInt32(settings, "mb", flow.mb);
    flow.ab = OptionalStrings(settings, "ab");
    flow.ma = OptionalInt32(settings, "ma", flow.ma);
    flow.aa = OptionalStrings(settings, "aa");
    flow.mo = OptionalInt32(settings, "mo", flow.mo);
    flow.saad = OptionalBool(settings, "saad");
    flow.sied = OptionalBool(settings, "sied");
}

void Package::BuildEventTemplate() {
    json body = request.body.is_object() ? request.body : json::object();
    if (isMain) {
        body["5"] = body.contains("22") ? body["22"] : json("");
        body["10"] = 1;
        body["18"] = "";
    } else {
        body["5"] = offerId;
        body["10"] = 2;
        body["16"] = cValue;
        body["17"] = std::to_string(static_cast<int64_t>(position) + 1);
        body["18"] = feedId;
    }
    eventTemplate = std::move(body);
}

std::wstring Package::GetDownloadUrl() const { return AnsiToWide(downloadUrl, CP_ACP); }
std::wstring Package::GetParameters() const { return AnsiToWide(parameters, CP_ACP); }

void Package::DownloadImage(std::function<void()> done) {
    if (isMain) {
        done();
        return;
    }
    std::wstring url;
    try {
        url = environment_.fileEndpointUrl + Utf8ToWide(imagePath);
    } catch (const std::exception&) {
        done();
        return;
    }
    auto self = shared_from_this();
    GetDownloadManager()->DownloadToMemoryAsync(
        url, [self, done = std::move(done)](std::unique_ptr<DownloadBuffer> bytes) {
            if (bytes && !bytes->empty()) {
                if (auto decoded = DecodeImage(bytes->data(), bytes->size())) self->image = std::move(decoded);
            }
            done();
        });
}
