#pragma once
// Read-only registry access for the offer rules: the path syntax of the remote
// configuration (full roots, short aliases, paths relative to the software
// key), the candidates a path stands for, the 32/64-bit view of each, and
// reads of string, 32-bit and 64-bit values.
//
// Paths here are wide and lower case where they come from the configuration;
// every comparison with the root tables is exact and case-sensitive.
#include <windows.h>

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "util/Handles.h"

namespace win32 {

// What every failing registry call of this layer becomes; callers treat it as
// a missing key or value.
class RegistryError : public std::exception {
public:
    RegistryError(const char* message, LSTATUS code) : message_(message), code_(code) {}
    const char* what() const noexcept override { return message_.c_str(); }
    int32_t Code() const noexcept { return code_; }

private:
    std::string message_;
    int32_t code_;
};

// The process's own view of the registry: the 32-bit one under WOW64. The
// other view is asked for with KEY_WOW64_64KEY.
constexpr REGSAM kDefaultView = 0;

// Root names, in the order a full path is matched against them.
extern const std::vector<std::wstring> RootNames;
// Alias to full root name, in ascending order of the alias.
extern const std::vector<std::pair<std::wstring, std::wstring>> RootAliases;
extern const std::map<std::wstring, HKEY> RootKeys;
extern const std::vector<std::wstring> SoftwarePrefixes;
extern const std::vector<std::wstring> RedirectedPrefixes;

// Root handle, then view (kDefaultView or KEY_WOW64_64KEY), then the key below the root
// ("software"), to the lower-cased names of its subkeys. An empty list has not
// been read yet.
using SoftwareSubkeyCache = std::map<HKEY, std::map<REGSAM, std::map<std::wstring, std::vector<std::wstring>>>>;

// The full candidate paths a configured path stands for, in the order they are
// tried. wow64 adds the redirected branches for relative paths.
std::vector<std::wstring> ExpandKeyPath(const std::wstring& path, bool wow64);
std::vector<std::wstring> ExpandKeyPath(const std::wstring& path);

// For paths below a software key: turns "wow6432node" paths into the default
// view (or reports them absent on 32-bit Windows) and adds KEY_WOW64_64KEY to
// the native branch under WOW64. True when the path cannot exist here. Throws
// std::out_of_range when nothing follows the software key.
bool AdjustRegistryView(std::wstring& path, REGSAM& mask, bool wow64);
bool AdjustRegistryView(std::wstring& path, REGSAM& mask);

// Opens "root\\subkey" with exactly this mask. Throws RegistryError when the
// open fails and std::out_of_range for an unknown root name.
tamsel::RegKey OpenKeyPath(const std::wstring& path, REGSAM mask);

// Whether a full path names an existing key. Software paths first consult (and
// fill) the subkey list of their root and view, so a vendor key missing from
// that list costs no further call.
bool KeyExists(const std::wstring& path, SoftwareSubkeyCache& cache);

// Lower-cased names of the direct subkeys. Throws RegistryError.
std::vector<std::wstring> EnumerateSubkeys(HKEY key);

// Throws RegistryError for failures other than a missing value.
bool ValueExists(HKEY key, const std::wstring& name);
// REG_SZ, REG_DWORD, ... of the value; 0 when it cannot be queried.
DWORD QueryValueType(HKEY key, const std::wstring& name);
// A REG_SZ value without its terminating NUL. Throws RegistryError.
std::wstring ReadStringValue(HKEY key, const std::wstring& subkey, const std::wstring& name);
// Compares a value with lower-case expected text: strings lower-cased, 32- and
// 64-bit numbers as numbers parsed from expected (std::invalid_argument or
// std::out_of_range when expected is no number), any other type never equal.
bool ValueDataEquals(HKEY key, const std::wstring& name, DWORD type, const std::wstring& expected);

// A string or number value as text, native branch first under WOW64 for
// lower-case "software" subkeys. False (text untouched) when none was read.
// An unknown root name throws std::out_of_range.
bool ReadValueAsText(const std::wstring& rootName, const std::wstring& subkey, const std::wstring& name,
                     std::wstring& text, SoftwareSubkeyCache& cache);

// The key holding a value, opened the way the rules read values: the key must
// exist, its view adjusted, then opened with KEY_READ. An empty handle when
// any of that fails.
tamsel::RegKey OpenValueKey(const std::wstring& keyPath, SoftwareSubkeyCache& cache);

// Character-wise towlower, as every configured path is compared.
std::wstring LowerCase(std::wstring text);

}  // namespace win32
