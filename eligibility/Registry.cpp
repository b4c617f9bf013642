#include "Registry.h"

#include <algorithm>
#include <cwctype>

#include "util/Wow64.h"
#include "util/Text.h"

namespace win32 {

const std::vector<std::wstring> RootNames = {
    L"hkey_local_machine", L"hkey_current_user", L"hkey_classes_root", L"hkey_users", L"hkey_current_config",
};

const std::vector<std::pair<std::wstring, std::wstring>> RootAliases = {
    {L"hkcc", L"hkey_current_config"}, {L"hkcr", L"hkey_classes_root"}, {L"hkcu", L"hkey_current_user"},
    {L"hklm", L"hkey_local_machine"},  {L"hku", L"hkey_users"},
};

const std::map<std::wstring, HKEY> RootKeys = {
    {L"hkey_local_machine", HKEY_LOCAL_MACHINE}, {L"hkey_current_user", HKEY_CURRENT_USER},
    {L"hkey_classes_root", HKEY_CLASSES_ROOT},   {L"hkey_users", HKEY_USERS},
    {L"hkey_current_config", HKEY_CURRENT_CONFIG},
};

const std::vector<std::wstring> SoftwarePrefixes = {
    L"hkey_local_machine\\software\\",
    L"hkey_current_user\\software\\",
};

const std::vector<std::wstring> RedirectedPrefixes = {
    L"hkey_local_machine\\software\\wow6432node\\",
    L"hkey_current_user\\software\\wow6432node\\",
};

namespace {

const wchar_t kRedirectedKey[] = L"wow6432node";
const char kOpenFailed[] = "Cannot open registry key: RegOpenKeyEx failed.";
const char kDwordFailed[] = "Cannot read DWORD from registry.";
const char kQwordFailed[] = "Cannot read QWORD from registry.";

bool IsSoftwarePath(const std::wstring& path) {
    return std::any_of(SoftwarePrefixes.begin(), SoftwarePrefixes.end(),
                       [&](const std::wstring& prefix) { return StartsWith(path, prefix); });
}

tamsel::RegKey OpenSubkey(HKEY parent, const std::wstring& subkey, REGSAM mask) {
    tamsel::RegKey key;
    const LSTATUS status = ::RegOpenKeyExW(parent, subkey.c_str(), 0, mask, key.Put());
    if (status != ERROR_SUCCESS) throw RegistryError(kOpenFailed, status);
    return key;
}

// A REG_DWORD or REG_QWORD value, read with the type restriction that matches T.
template <typename T>
T ReadNumber(HKEY key, const std::wstring& name, DWORD restriction, const char* failure) {
    T value = 0;
    DWORD size = sizeof value;
    const LSTATUS status = ::RegGetValueW(key, nullptr, name.c_str(), restriction, nullptr, &value, &size);
    if (status != ERROR_SUCCESS) throw RegistryError(failure, status);
    return value;
}

}  // namespace

std::wstring LowerCase(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

std::vector<std::wstring> ExpandKeyPath(const std::wstring& path, bool wow64) {
    if (path.empty()) return {};
    if (StartsWith(path, RootNames.front().substr(0, 2))) {
        if (path.compare(2, 2, L"ey") == 0) {
            for (const std::wstring& root : RootNames) {
                if (StartsWith(path, root + L"\\")) return {path};
            }
        }
        for (const auto& [alias, root] : RootAliases) {
            if (StartsWith(path, alias + L"\\")) return {root + path.substr(alias.size())};
        }
    }
    // No root named: the path is relative to the software keys.
    std::vector<std::wstring> candidates;
    for (const std::wstring& prefix : SoftwarePrefixes) candidates.push_back(prefix + path);
    if (wow64) {
        for (const std::wstring& prefix : RedirectedPrefixes) candidates.push_back(prefix + path);
    }
    return candidates;
}

std::vector<std::wstring> ExpandKeyPath(const std::wstring& path) { return ExpandKeyPath(path, IsUnderWow64()); }

bool AdjustRegistryView(std::wstring& path, REGSAM& mask, bool wow64) {
    if (!IsSoftwarePath(path)) return false;
    // at(): a path that ends right after the software key has no vendor piece,
    // and that is an error for the caller, not a read past the end.
    const std::wstring vendor = LowerCase(SplitPath(path, L'\\').at(2));
    if (vendor == kRedirectedKey) {
        // The 32-bit branch: the default view of this process reaches it
        // directly, and a 32-bit Windows has no such branch.
        if (!wow64) return true;
        const std::wstring redirected = std::wstring(kRedirectedKey) + L"\\";
        const size_t at = path.find(redirected);
        if (at != std::wstring::npos) path.erase(at, redirected.size());
        return false;
    }
    if (wow64) mask |= KEY_WOW64_64KEY;
    return false;
}

bool AdjustRegistryView(std::wstring& path, REGSAM& mask) { return AdjustRegistryView(path, mask, IsUnderWow64()); }

tamsel::RegKey OpenKeyPath(const std::wstring& path, REGSAM mask) {
    const size_t separator = path.find(L'\\');
    const std::wstring rootName = path.substr(0, separator);
    const std::wstring subkey = separator == std::wstring::npos ? std::wstring() : path.substr(separator + 1);
    return OpenSubkey(RootKeys.at(rootName), subkey, mask);
}

bool KeyExists(const std::wstring& path, SoftwareSubkeyCache& cache) {
    if (!IsSoftwarePath(path)) {
        try {
            OpenKeyPath(path, KEY_READ);
            return true;
        } catch (const RegistryError&) {
            return false;
        }
    }

    std::wstring adjusted = path;
    REGSAM view = kDefaultView;
    if (AdjustRegistryView(adjusted, view)) return false;

    const std::vector<std::wstring> pieces = SplitPath(path, L'\\');
    const std::wstring softwareKey = pieces.at(0) + L"\\" + pieces.at(1);
    const std::wstring prefix = softwareKey + L"\\";
    std::vector<std::wstring>& vendors = cache[RootKeys.at(pieces.at(0))][view][pieces.at(1)];
    if (vendors.empty()) {
        try {
            vendors = EnumerateSubkeys(OpenKeyPath(softwareKey, view | KEY_READ).Get());
        } catch (const RegistryError&) {
            return false;
        }
    }

    const std::wstring rest = adjusted.substr(prefix.size());
    const std::wstring vendor = rest.substr(0, rest.find(L'\\'));
    // Most configured keys name software that is not installed: the cached
    // list answers those without another registry call.
    if (std::find(vendors.begin(), vendors.end(), vendor) == vendors.end()) return false;

    try {
        const tamsel::RegKey software = OpenKeyPath(softwareKey, view | KEY_READ);
        OpenSubkey(software.Get(), rest, view | KEY_READ);
        return true;
    } catch (const RegistryError&) {
        return false;
    }
}

std::vector<std::wstring> EnumerateSubkeys(HKEY key) {
    DWORD count = 0;
    DWORD longest = 0;
    LSTATUS status = ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &count, &longest, nullptr, nullptr, nullptr,
                                        nullptr, nullptr, nullptr);
    if (status != ERROR_SUCCESS) {
        throw RegistryError("RegQueryInfoKey failed while preparing for subkey enumeration.", status);
    }
    std::vector<wchar_t> buffer(static_cast<size_t>(longest) + 1, L'\0');
    std::vector<std::wstring> names;
    names.reserve(count);
    for (DWORD index = 0; index < count; ++index) {
        DWORD length = static_cast<DWORD>(buffer.size());
        status = ::RegEnumKeyExW(key, index, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS) throw RegistryError("Cannot enumerate subkeys: RegEnumKeyEx failed.", status);
        names.push_back(LowerCase(std::wstring(buffer.data(), std::min<size_t>(length, buffer.size()))));
    }
    return names;
}

bool ValueExists(HKEY key, const std::wstring& name) {
    const LSTATUS status = ::RegGetValueW(key, nullptr, name.c_str(), RRF_RT_ANY, nullptr, nullptr, nullptr);
    if (status == ERROR_SUCCESS) return true;
    if (status == ERROR_FILE_NOT_FOUND) return false;
    throw RegistryError("Cannot get value info: RegGetValue failed.", status);
}

DWORD QueryValueType(HKEY key, const std::wstring& name) {
    DWORD type = 0;
    if (::RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS) return 0;
    return type;
}

std::wstring ReadStringValue(HKEY key, const std::wstring& subkey, const std::wstring& name) {
    const wchar_t* const below = subkey.empty() ? nullptr : subkey.c_str();
    DWORD bytes = 0;
    LSTATUS status = ::RegGetValueW(key, below, name.c_str(), RRF_RT_REG_SZ, nullptr, nullptr, &bytes);
    if (status != ERROR_SUCCESS) throw RegistryError("Cannot read string from registry", status);
    std::vector<wchar_t> buffer(std::max<size_t>(bytes / sizeof(wchar_t), 1), L'\0');
    bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    status = ::RegGetValueW(key, below, name.c_str(), RRF_RT_REG_SZ, nullptr, buffer.data(), &bytes);
    if (status != ERROR_SUCCESS) throw RegistryError("Cannot read string from registry", status);
    // The size counts the terminating NUL, which the text does not keep.
    const size_t characters = std::min<size_t>(bytes / sizeof(wchar_t), buffer.size());
    return std::wstring(buffer.data(), characters > 0 ? characters - 1 : 0);
}

bool ValueDataEquals(HKEY key, const std::wstring& name, DWORD type, const std::wstring& expected) {
    try {
        switch (type) {
            case REG_SZ:
                return LowerCase(ReadStringValue(key, std::wstring(), name)) == expected;
            case REG_DWORD: {
                const DWORD value = ReadNumber<DWORD>(key, name, RRF_RT_REG_DWORD, kDwordFailed);
                // Like wcstoul: leading white space and a sign are fine, no
                // digits or too many throw.
                return value == std::stoul(expected, nullptr, 10);
            }
            case REG_QWORD: {
                const uint64_t value = ReadNumber<uint64_t>(key, name, RRF_RT_REG_QWORD, kQwordFailed);
                return value == std::stoull(expected, nullptr, 10);
            }
            default:
                return false;
        }
    } catch (const RegistryError&) {
        return false;
    }
}

bool ReadValueAsText(const std::wstring& rootName, const std::wstring& subkey, const std::wstring& name,
                     std::wstring& text, SoftwareSubkeyCache& cache) {
    std::vector<std::wstring> candidates{rootName + L"\\" + subkey};
    const std::wstring software = L"software";
    if (IsUnderWow64() && StartsWith(subkey, software)) {
        candidates.push_back(rootName + L"\\" + subkey.substr(0, software.size()) + L"\\" + kRedirectedKey +
                             subkey.substr(software.size()));
    }
    for (const std::wstring& candidate : candidates) {
        try {
            const tamsel::RegKey key = OpenValueKey(candidate, cache);
            if (!key || !ValueExists(key.Get(), name)) continue;
            switch (QueryValueType(key.Get(), name)) {
                case REG_SZ:
                    text = ReadStringValue(key.Get(), std::wstring(), name);
                    return true;
                case REG_DWORD:
                    text = std::to_wstring(ReadNumber<DWORD>(key.Get(), name, RRF_RT_REG_DWORD, kDwordFailed));
                    return true;
                case REG_QWORD:
                    text = std::to_wstring(ReadNumber<uint64_t>(key.Get(), name, RRF_RT_REG_QWORD, kQwordFailed));
                    return true;
                default:
                    break;
            }
        } catch (const RegistryError&) {
        }
    }
    return false;
}

tamsel::RegKey OpenValueKey(const std::wstring& keyPath, SoftwareSubkeyCache& cache) {
    if (!KeyExists(keyPath, cache)) return {};
    std::wstring adjusted = keyPath;
    REGSAM mask = KEY_READ;
    if (AdjustRegistryView(adjusted, mask)) return {};
    try {
        return OpenKeyPath(adjusted, mask);
    } catch (const RegistryError&) {
        return {};
    }
}

}  // namespace win32
