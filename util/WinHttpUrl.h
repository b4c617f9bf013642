#pragma once
#include <windows.h>
#include <winhttp.h>

#include <string>

// An absolute URL split by WinHttpCrackUrl.
struct CrackedUrl {
    bool ok = false;
    DWORD error = 0;  // of the failed split
    INTERNET_SCHEME scheme = 0;
    INTERNET_PORT port = 0;
    std::wstring host;
    std::wstring path;   // without the query
    std::wstring extra;  // the query and fragment, if any
};

// A text that is no absolute URL with a host fails.
CrackedUrl CrackUrl(const std::wstring& url);
