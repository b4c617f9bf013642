#pragma once
// The WinHTTP session every request of the wizard starts from: the proxy
// access type of this Windows, and the secure protocols set on the session.
// The transport's posts and the download engine's requests both use it.
#include <windows.h>
#include <winhttp.h>

#include "Handles.h"

struct WindowsVersion;

// WinHTTP's automatic proxy, except on Windows 7, which lacks it and takes
// the default proxy; of this Windows without an argument.
DWORD WinHttpAccessType(const WindowsVersion& version);
DWORD WinHttpAccessType();

// An open session with the secure protocols set, or no session and the
// failing step ("Failed to open HTTP session", "Failed to set secure
// protocols") with the system's code, taken right after the call.
struct WinHttpSession {
    tamsel::WinHttpHandle handle;
    const wchar_t* failure = nullptr;
    DWORD code = 0;
};
WinHttpSession OpenWinHttpSession(const wchar_t* userAgent, DWORD accessType);
