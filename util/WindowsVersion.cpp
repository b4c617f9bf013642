#include "WindowsVersion.h"

namespace {

WindowsVersion QueryWindowsVersion() {
    WindowsVersion v;
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOEXW*);
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll")) {
        auto fn = reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void*>(::GetProcAddress(ntdll, "RtlGetVersion")));
        if (fn && fn(&info) == 0) {
            v.known = true;
            v.major = info.dwMajorVersion;
            v.minor = info.dwMinorVersion;
            v.build = info.dwBuildNumber;
            v.servicePack = info.wServicePackMajor;
        }
    }
    return v;
}

}  // namespace

const WindowsVersion& GetWindowsVersion() {
    static const WindowsVersion version = QueryWindowsVersion();
    return version;
}

DWORD WinHttpSecureProtocols(const WindowsVersion& version) {
    DWORD protocols = 0x20 /* SSL 3.0 */ | 0x80 /* TLS 1.0 */;
    if (version.AtLeast(6, 1, 1)) protocols |= 0x200 /* TLS 1.1 */ | 0x800 /* TLS 1.2 */;
    return protocols;
}

DWORD WinHttpSecureProtocols() { return WinHttpSecureProtocols(GetWindowsVersion()); }
