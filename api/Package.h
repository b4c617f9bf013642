#pragma once
#include <nlohmann/json.hpp>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "SignedRequest.h"

namespace Gdiplus { class Image; }
class ConfigurationManager;

// Placeholder values ("{key}") for an offer's texts.
using TrackingParameters = std::unordered_map<std::string, std::string>;

// Posts one event document; PostJson in the program, a recorder in tests.
// Same contract as PostJson: true with a status when an answer came, throws
// a std::exception when no request could be made.
using EventPoster = std::function<bool(const std::wstring& url, const std::string& body,
                                       const std::vector<HttpHeader>& headers, std::string& response,
                                       int32_t& status)>;

// Everything a package takes from the build configuration and the machine,
// gathered once so that parsing and events can be driven directly.
struct PackageEnvironment {
    std::string machineGuid;      // "" when unknown
    std::string timestamp;        // run timestamp "%Y%m%d%H%M%S"
    std::string remoteL;          // country code of the configuration response
    std::string remoteFa;         // publisher id
    std::string productCb;
    std::wstring brand;
    std::wstring appId;
    std::string windowsMajorMinor;  // "10.0"; "" when the version is unknown
    std::function<std::string()> epochMilliseconds;
    std::function<std::wstring(const std::wstring&)> expandFolders;
    std::wstring eventEndpointUrl;
    std::wstring fileEndpointUrl;
    EventPoster post;
};

// Reads the shared configuration (and the machine's version); posts with PostJson.
PackageEnvironment EnvironmentFromConfiguration(std::shared_ptr<ConfigurationManager> config);

// A "cmdu" record: the offer waits until a time stored in the registry is
// "umd" days old (the uninstall-time rule). Members keep the keys' names.
struct RegistryCommand {
    std::wstring utr;   // full root name ("hkey_local_machine")
    std::wstring utk;   // key path below the root
    std::wstring utvn;  // value holding the time since 1970 (seconds, or milliseconds with utms)
    std::wstring utvt;  // carried, not used by the rules
    int32_t umd = 0;    // days that must have passed since that time
    bool utms = false;  // the stored time is in milliseconds
};

// "cfs": show-order and flow limits of a push-notification offer.
struct FlowSettings {
    int32_t mb = std::numeric_limits<int32_t>::max();  // most offers accepted before this one
    std::vector<std::string> ab;                       // encoded ids of offers that may come before it
    int32_t ma = std::numeric_limits<int32_t>::max();  // most offers that may follow it
    std::vector<std::string> aa;                       // encoded ids of offers that may follow it
    int32_t mo = std::numeric_limits<int32_t>::max();  // most offers in a flow holding this one
    bool saad = false;                                 // declined: skip every offer after it
    bool sied = false;                                 // skip it after any earlier decline
};

struct PushNotificationBlock {
    bool pn = false;   // the offer carries this block
    std::string pnau;  // push-notification API address
    std::string pnak;  // its API key, as configured
    std::string pnr;   // date marker, expanded: key path, "\\", value name
    std::string pnop;  // option text, also a tracking parameter
    bool pnsi = false;  // carried
    std::string la;    // carried text
    std::string sp;    // stub parameters, expanded
};

// Event codes after whose delivery a package reports nothing more.
bool IsClosingEventCode(int32_t code);

// An offer of the remote configuration or the main product. Always held by a
// shared pointer: every event worker holds one too, so a package outlives its
// workers whatever its other holders do.
class Package : public std::enable_shared_from_this<Package> {
    struct Token {};

public:
    // An element of the response's "o" array. Throws the JSON library's
    // exceptions for a missing required key or a value of the wrong type
    // (numbers that do not fit their member count as the wrong type).
    static std::shared_ptr<Package> CreateOffer(const SignedRequest& request, const nlohmann::json& element,
                                                const std::string& defaultC, int32_t position,
                                                PackageEnvironment environment);
    // The main product: texts converted in the ANSI code page; no tracking
    // parameters, rule fields at their defaults.
    static std::shared_ptr<Package> CreateMain(const SignedRequest& request, const std::wstring& displayName,
                                               const std::wstring& offerId, const std::wstring& feedId,
                                               const std::wstring& cValue, PackageEnvironment environment);

    Package(Token, PackageEnvironment environment);
    Package(const Package&) = delete;
    Package& operator=(const Package&) = delete;

    // Once the remote configuration has arrived; before any further event.
    void Reinitialise(const SignedRequest& request, const std::wstring& displayName, const std::wstring& offerId,
                      const std::wstring& feedId, const std::wstring& cValue);

    // Replaces every "{key}" of the tracking parameters; each replacement
    // resumes after the inserted value, so a value holding its own
    // placeholder does not expand forever.
    std::string ExpandParameters(const std::string& text) const;

    // Never blocks: the event goes out on a thread of its own. extra is null
    // or an object whose keys override the template's.
    void SendEvent(int32_t code, const nlohmann::json& extra = nullptr);
    // Until every event started so far has been delivered or dropped.
    void WaitForEvents();
    // The body of an event with that code, before it is wrapped for posting.
    nlohmann::json BuildEventBody(int32_t code, const nlohmann::json& extra) const;

    // Decodes the image from the file endpoint; done runs on the download
    // thread (at once for the main product), with or without an image.
    void DownloadImage(std::function<void()> done);

    // The date marker of a push-notification offer: the local date 180 days
    // ahead as a REG_DWORD at HKLM\<"pnr" up to its last "\\">, value name after it.
    bool WriteDateMarker() const;

    std::wstring GetDownloadUrl() const;
    std::wstring GetParameters() const;
    bool EventsClosed() const { return eventsClosed.load(); }
    void ReleaseImage() { image.reset(); }

    SignedRequest request;
    bool isMain = false;
    std::string displayName;
    std::string offerId;
    std::string feedId;
    std::string cValue;
    std::string imagePath;
    std::string downloadUrl;
    std::string sha256;  // "sha256": the installer's digest, "" when not stated
    std::string parameters;
    std::string privacyUrl;
    std::string termsUrl;
    std::atomic<int32_t> vertical{0};
    uint64_t disk = 0;
    uint64_t ram = 0;
    uint64_t cpu = 0;
    int32_t osRule = 0;
    std::string versionRule;
    bool win64 = false;
    int32_t position = 0;
    std::atomic<bool> eventsClosed{false};
    nlohmann::json eventTemplate;
    std::shared_ptr<Gdiplus::Image> image;
    TrackingParameters trackingParameters;
    std::vector<std::wstring> filesExcluded;  // "fe"
    std::vector<std::wstring> filesIncluded;  // "ife"
    std::vector<std::string> applications;    // "a"
    std::vector<std::wstring> registryExcluded;        // "r"
    std::vector<std::wstring> registryIncluded;        // "ir"
    std::vector<std::wstring> registryValueNames;      // "rvn"
    std::vector<std::wstring> registryValueData;       // "rvd"
    std::vector<std::wstring> appsExcluded;            // "eapp"
    std::vector<std::wstring> appsIncluded;            // "iapp"
    bool exclusive = false;
    bool chromeRequired = false;
    bool chromeAbsent = false;
    bool ieCheck = false;
    std::vector<RegistryCommand> registryCommands;     // "cmdu"
    PushNotificationBlock push;
    FlowSettings flow;

private:
    void ReadOffer(const nlohmann::json& element);
    void FillConfigurationParameters();
    void AddParameter(const std::string& key, const std::string& value);
    void ReadPushNotificationBlock(const nlohmann::json& ps);
    void BuildEventTemplate();
    static void EventWorker(std::shared_ptr<Package> package, int32_t code, const std::string& document,
                            const std::vector<HttpHeader>& headers);

    PackageEnvironment environment_;
    std::mutex eventLock_;
    std::condition_variable eventsIdle_;
    int32_t pendingEvents_ = 0;
};

// Splits "pnr" at its last backslash; false when there is none or the key
// path is empty.
bool SplitDateMarkerPath(const std::string& pnr, std::wstring& keyPath, std::wstring& valueName);
// The local date 180 days after now as year * 10000 + month * 100 + day.
uint32_t DateMarkerValue(int64_t nowUnixSeconds);
