#pragma once
#include <windows.h>

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "FolderPlaceholders.h"
#include "util/MessageSink.h"

class Package;
namespace Gdiplus { class Image; }

// The wizard types: the download manager and the installer; 0 is unknown.
constexpr int kWizardTypeDlm = 1;
constexpr int kWizardTypeIsv = 2;

// "DLM" -> kWizardTypeDlm, "ISV" -> kWizardTypeIsv, anything else -> 0.
int LookupWizardType(const std::string& typeName);

// The process-wide configuration: compiled-in values, values derived once from
// the machine, and run-time values the pages and tasks share.
class ConfigurationManager {
public:
    // The program's one instance comes from GetConfiguration(); tests build
    // their own with another type name.
    explicit ConfigurationManager(const std::string& typeName, MessageSink showMessage = MessageBoxSink());
    ConfigurationManager(const ConfigurationManager&) = delete;
    ConfigurationManager& operator=(const ConfigurationManager&) = delete;

    int wizardType = 0;
    bool btFlow = false;
    bool btClassicPages = false;
    bool downloadEventFlag = true;
    std::wstring productTitle;
    std::wstring productUrl;
    std::string productSha256;  // "i"."sha256": the product installer's digest, "" when not stated
    std::wstring productLogoUrl;
    std::wstring productPrivacyUrl;
    std::wstring productTermsUrl;
    std::wstring sdkPrivacyUrl;
    std::wstring downloadFolder;
    std::wstring productFileName;
    std::wstring tempFolder;
    std::wstring mainInstallerArguments;
    std::array<bool, 3> btOptions{};
    std::array<bool, 5> btConfigurations{};
    std::wstring launchCommand;
    std::wstring launchParameters;
    std::wstring appId;
    std::wstring downloadedFilePath;
    std::wstring fileVersion;
    std::wstring configEndpointUrl;
    std::wstring eventEndpointUrl;
    std::wstring brand;
    std::wstring stubId;
    std::wstring productCh;
    std::wstring productCfl;
    COLORREF backgroundColor = 0;
    COLORREF accentColor = 0;
    int maxOffers = 0;
    int extraOfferAllowance = 0;
    int packageCount = 0;
    std::wstring fileEndpointUrl;
    std::wstring languageName;
    std::wstring languageCode;
    std::string remoteL;
    std::string remoteFa;
    std::string productCb;
    std::vector<std::shared_ptr<Package>> acceptedOffers;
    std::vector<std::shared_ptr<Package>> shownOffers;
    std::shared_ptr<Package> mainPackage;
    std::shared_ptr<Gdiplus::Image> productImage;
    // Read by worker threads while the user-interface thread sets them.
    std::atomic<bool> userQuit{false};
    std::atomic<bool> offerDeclined{false};

    // Local time of the first successful call, "%Y%m%d%H%M%S".
    std::string GetTimestamp();
    // Milliseconds since 1970-01-01 UTC, not cached.
    static std::string GetEpochMilliseconds();
    // HKLM\SOFTWARE\Microsoft\Cryptography "MachineGuid" (64-bit view), cached
    // once it has been read; "" (and tried again next time) when it cannot be.
    std::string GetMachineGuid();
    FolderPlaceholderList GetFolderPlaceholders();
    std::wstring ExpandFolderPlaceholders(const std::wstring& text);
    void SetDownloadedFilePath(const std::wstring& path) { downloadedFilePath = path; }

    static std::wstring ReadFileVersion(HMODULE module = nullptr);
    static std::string ReadMachineGuid();
    static std::wstring CreateUniqueTempFolder();

private:
    void SetUpDlm();
    void SetUpIsv();

    // Guards the lazily filled caches, which worker threads reach too.
    std::mutex cacheMutex_;
    std::string timestampCache_;
    std::string machineGuidCache_;
    FolderPlaceholderList folderPlaceholders_;
    bool placeholdersBuilt_ = false;
};

// The wizard type name compiled into this program ("DLM", "ISV", ...).
const char* CompiledWizardTypeName();
// The host of the configuration, event and file endpoints compiled into this
// program: the build's TAMSEL_CONTENT_HOST unless the program names another.
const wchar_t* CompiledContentHost();
// The BT classic flow and its extra pages, as this program was built.
bool CompiledBtFlow();
bool CompiledBtClassicPages();
// What an installer build knows of its product; empty unless the build names it.
struct CompiledIsvProduct {
    const wchar_t* productUrl;
    const wchar_t* launchCommand;
    const wchar_t* launchParameters;
};
CompiledIsvProduct CompiledIsvProductSettings();

// The one configuration of the process, created on first use (also under
// concurrent first calls) with the compiled-in wizard type and flow.
std::shared_ptr<ConfigurationManager> GetConfiguration();
