#include "Url.h"

#include <windows.h>

#include <climits>

#include "Text.h"

namespace {

bool IsHostChar(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '.' || c == '-';
}

}  // namespace

// The address pattern ^((http|https)://)?([\w.-]+)(\.[\w.-]+)+([/?#].*)?$ is
// decided directly instead of with a backtracking regex engine, which takes
// exponential time and deep recursion on long hostile texts. Its language:
// - ":" is not a host character, so the scheme is present exactly when the
//   text starts with it;
// - "/", "?" and "#" are not host characters either, so the host is the
//   longest run of host characters after the scheme;
// - [\w.-]+(\.[\w.-]+)+ over host characters (which include ".") holds
//   exactly when some "." has a host character on each side inside the run;
// - the rest is empty, or one of "/?#" followed by characters that "." of the
//   pattern accepts: anything but "\n" and "\r".
bool MatchesUrlPattern(std::string_view s) {
    if (StartsWith(s, "https://")) {
        s.remove_prefix(8);
    } else if (StartsWith(s, "http://")) {
        s.remove_prefix(7);
    }
    size_t hostEnd = 0;
    while (hostEnd < s.size() && IsHostChar(static_cast<unsigned char>(s[hostEnd]))) ++hostEnd;
    bool innerDot = false;
    for (size_t i = 1; i + 1 < hostEnd && !innerDot; ++i) innerDot = s[i] == '.';
    if (!innerDot) return false;
    if (hostEnd == s.size()) return true;
    const char lead = s[hostEnd];
    if (lead != '/' && lead != '?' && lead != '#') return false;
    return s.find_first_of("\r\n", hostEnd + 1) == std::string_view::npos;
}

namespace {

// The text in the thread's ANSI code page, or false when a character has no
// exact counterpart there (no default character, no best fit).
bool ToThreadCodePageExactly(const std::wstring& w, std::string& narrow) {
    narrow.clear();
    if (w.empty()) return true;
    if (w.size() > static_cast<size_t>(INT_MAX / 4)) return false;
    const int length = static_cast<int>(w.size());
    BOOL usedDefault = FALSE;
    int size = ::WideCharToMultiByte(CP_THREAD_ACP, WC_NO_BEST_FIT_CHARS, w.data(), length, nullptr, 0, nullptr,
                                     &usedDefault);
    if (size == 0 && ::GetLastError() == ERROR_INVALID_PARAMETER) {
        // A UTF-8 thread code page holds every character but takes no
        // default-character question; it refuses broken surrogates instead.
        size = ::WideCharToMultiByte(CP_THREAD_ACP, WC_ERR_INVALID_CHARS, w.data(), length, nullptr, 0, nullptr,
                                     nullptr);
        if (size <= 0) return false;
        narrow.resize(static_cast<size_t>(size));
        return ::WideCharToMultiByte(CP_THREAD_ACP, WC_ERR_INVALID_CHARS, w.data(), length, narrow.data(), size,
                                     nullptr, nullptr) == size;
    }
    if (size <= 0 || usedDefault) return false;
    narrow.resize(static_cast<size_t>(size));
    return ::WideCharToMultiByte(CP_THREAD_ACP, WC_NO_BEST_FIT_CHARS, w.data(), length, narrow.data(), size, nullptr,
                                 nullptr) == size;
}

}  // namespace

bool IsValidUrl(const std::wstring& w) {
    std::string narrow;
    return ToThreadCodePageExactly(w, narrow) && MatchesUrlPattern(narrow);
}
