#include "WinHttpSession.h"

#include "WindowsVersion.h"

// Defined here, beside winhttp.h (which cannot share a translation unit
// with wininet.h), so that every user of the handle owners links.
void tamsel::WinHttpHandleTraits::Close(Value h) noexcept { ::WinHttpCloseHandle(h); }

DWORD WinHttpAccessType(const WindowsVersion& version) {
    constexpr DWORD kAutomaticProxy = 4;  // WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, newer than these headers
    return version.IsWindows7() ? WINHTTP_ACCESS_TYPE_DEFAULT_PROXY : kAutomaticProxy;
}

DWORD WinHttpAccessType() { return WinHttpAccessType(GetWindowsVersion()); }

WinHttpSession OpenWinHttpSession(const wchar_t* userAgent, DWORD accessType) {
    WinHttpSession session;
    session.handle.Reset(::WinHttpOpen(userAgent, accessType, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session.handle) {
        session.code = ::GetLastError();
        session.failure = L"Failed to open HTTP session";
        return session;
    }
    DWORD protocols = WinHttpSecureProtocols();
    if (!::WinHttpSetOption(session.handle.Get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols)) {
        session.code = ::GetLastError();
        session.failure = L"Failed to set secure protocols";
        session.handle.Reset();
    }
    return session;
}
