#include "ConfigurationManager.h"

#include <shlobj.h>

#include "BuildSettings.h"
#include "util/Clock.h"
#include "util/Handles.h"
#include "util/KnownFolders.h"
#include "util/ResourceBytes.h"
#include "util/Text.h"

int LookupWizardType(const std::string& typeName) {
    static const std::pair<const char*, int> kTypes[] = {{"DLM", kWizardTypeDlm}, {"ISV", kWizardTypeIsv}};
    for (const auto& [name, number] : kTypes)
        if (typeName == name) return number;
    return 0;
}

namespace {

bool FolderExists(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return !path.empty() && attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring UserTempPath() {
    wchar_t buffer[MAX_PATH + 1] = {};
    const DWORD n = ::GetTempPathW(MAX_PATH + 1, buffer);
    return (n == 0 || n > MAX_PATH) ? std::wstring() : std::wstring(buffer, n);
}

}  // namespace

ConfigurationManager::ConfigurationManager(const std::string& typeName, MessageSink showMessage) {
    wizardType = LookupWizardType(typeName);
    if (wizardType == 0 && showMessage) showMessage(L"Unknown wizard type");
    fileVersion = ReadFileVersion();
    const std::wstring contentBase = std::wstring(L"https://") + CompiledContentHost();
    configEndpointUrl = contentBase + L"/o";
    eventEndpointUrl = contentBase + L"/zbd";
    brand = AnsiToWide("Harlix", CP_ACP);
    appId = AnsiToWide("Harlix_DLM", CP_ACP);
    stubId = AnsiToWide("Harlix_3cpp", CP_ACP);
    fileEndpointUrl = contentBase + L"/f/";
    backgroundColor = RGB(250, 250, 250);
    accentColor = RGB(2, 119, 189);
    sdkPrivacyUrl = std::wstring(L"https://") + TAMSEL_PRIVACY_HOST + L"/privacy/";
    if (wizardType == kWizardTypeDlm) SetUpDlm();
    if (wizardType == kWizardTypeIsv) SetUpIsv();
}

void ConfigurationManager::SetUpDlm() {
    downloadFolder = GetKnownFolderPath(FOLDERID_Downloads, false);
    if (downloadFolder.empty()) {
        wchar_t documents[MAX_PATH] = {};
        if (SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, documents)))
            downloadFolder = documents;
    }
    if (downloadFolder.empty()) downloadFolder = UserTempPath();
    if (downloadFolder.empty()) downloadFolder = L"C:\\";
    const std::wstring folder = CreateUniqueTempFolder();
    if (FolderExists(folder)) tempFolder = folder;
}

void ConfigurationManager::SetUpIsv() {
    productTitle = L"Harlix";
    productUrl.clear();
    productPrivacyUrl.clear();
    productTermsUrl.clear();
    mainInstallerArguments.clear();
    launchCommand.clear();
    launchParameters.clear();
    const std::wstring folder = CreateUniqueTempFolder();
    if (FolderExists(folder)) {
        downloadFolder = folder;
        tempFolder = folder;
    } else {
        downloadFolder.clear();
    }
}

std::wstring ConfigurationManager::CreateUniqueTempFolder() {
    const std::wstring base = UserTempPath();
    wchar_t name[MAX_PATH] = {};
    // The system picks a unique name by creating an empty file; the file makes
    // way for a folder of that name. The caller checks the folder exists.
    ::GetTempFileNameW(base.c_str(), L"ISV", 0, name);
    ::DeleteFileW(name);
    ::CreateDirectoryW(name, nullptr);
    return name;
}

std::wstring ConfigurationManager::ReadFileVersion(HMODULE module) {
    if (!module) module = ::GetModuleHandleW(nullptr);
    const ResourceBytes resource =
        LoadResourceBytes(module, ::FindResourceW(module, MAKEINTRESOURCEW(1), RT_VERSION));
    if (!resource.data || resource.size == 0) return std::wstring();
    // VerQueryValue wants memory it may write to, not the mapped resource.
    std::vector<unsigned char> copy(resource.data, resource.data + resource.size);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    if (!::VerQueryValueW(copy.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedSize) || !fixed ||
        fixedSize < sizeof(VS_FIXEDFILEINFO))
        return std::wstring();
    return std::to_wstring(HIWORD(fixed->dwFileVersionMS)) + L"." + std::to_wstring(LOWORD(fixed->dwFileVersionMS)) +
           L"." + std::to_wstring(HIWORD(fixed->dwFileVersionLS)) + L"." +
           std::to_wstring(LOWORD(fixed->dwFileVersionLS));
}

std::string ConfigurationManager::GetTimestamp() {
    std::lock_guard<std::mutex> lock(cacheMutex_);
    if (timestampCache_.empty()) timestampCache_ = LocalTimestamp(CurrentUnixSeconds());
    return timestampCache_;
}

std::string ConfigurationManager::GetEpochMilliseconds() {
    return std::to_string(static_cast<long long>(CurrentUnixMilliseconds()));
}

std::string ConfigurationManager::ReadMachineGuid() {
    tamsel::RegKey key;
    // The value lives in the native view; a 32-bit process must ask for it.
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Cryptography", 0, KEY_READ | KEY_WOW64_64KEY,
                        key.Put()) != ERROR_SUCCESS)
        return std::string();
    // 255 bytes for the value; a text that fills them without a terminator is
    // cut to 254, as the one spare byte below guarantees an end.
    char buffer[256] = {};
    DWORD size = 255;
    if (::RegQueryValueExA(key.Get(), "MachineGuid", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size) !=
        ERROR_SUCCESS)
        return std::string();
    buffer[254] = '\0';
    return std::string(buffer);  // up to the first NUL
}

std::string ConfigurationManager::GetMachineGuid() {
    std::lock_guard<std::mutex> lock(cacheMutex_);
    if (machineGuidCache_.empty()) machineGuidCache_ = ReadMachineGuid();
    return machineGuidCache_;
}

FolderPlaceholderList ConfigurationManager::GetFolderPlaceholders() {
    std::lock_guard<std::mutex> lock(cacheMutex_);
    if (!placeholdersBuilt_) {
        folderPlaceholders_ = BuildFolderPlaceholderList(ReadFolderFacts());
        placeholdersBuilt_ = true;
    }
    return folderPlaceholders_;
}

std::wstring ConfigurationManager::ExpandFolderPlaceholders(const std::wstring& text) {
    if (text.find(L'{') == std::wstring::npos) return text;
    return ExpandPlaceholders(text, GetFolderPlaceholders());
}

std::shared_ptr<ConfigurationManager> GetConfiguration() {
    static std::once_flag once;
    static std::shared_ptr<ConfigurationManager> instance;
    std::call_once(once, [] {
        auto created = std::make_shared<ConfigurationManager>(CompiledWizardTypeName());
        created->btFlow = CompiledBtFlow();
        created->btClassicPages = CompiledBtClassicPages();
        if (created->wizardType == kWizardTypeIsv) {
            const CompiledIsvProduct product = CompiledIsvProductSettings();
            created->productUrl = product.productUrl;
            created->launchCommand = product.launchCommand;
            created->launchParameters = product.launchParameters;
        }
        instance = std::move(created);
    });
    return instance;
}
