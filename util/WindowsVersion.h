#pragma once
#include <windows.h>

// The true Windows version (RtlGetVersion, which no compatibility shim bends),
// read once per process.
struct WindowsVersion {
    bool known = false;
    DWORD major = 0, minor = 0, build = 0, servicePack = 0;

    // Compares major, minor and service-pack major in that order.
    bool AtLeast(DWORD wantMajor, DWORD wantMinor, DWORD wantServicePack = 0) const {
        if (major != wantMajor) return major > wantMajor;
        if (minor != wantMinor) return minor > wantMinor;
        return servicePack >= wantServicePack;
    }
    bool IsWindows7() const { return AtLeast(6, 1) && !AtLeast(6, 2); }
    // Windows 7 before Service Pack 1 has no TLS the service accepts: the
    // wizard posts nothing there.
    bool LacksSecureConnections() const { return AtLeast(6, 1) && !AtLeast(6, 1, 1); }
};

const WindowsVersion& GetWindowsVersion();
// WINHTTP_OPTION_SECURE_PROTOCOLS: SSL 3.0 and TLS 1.0, plus TLS 1.1 and 1.2
// from Windows 7 Service Pack 1 on; of this Windows without an argument.
DWORD WinHttpSecureProtocols(const WindowsVersion& version);
DWORD WinHttpSecureProtocols();
