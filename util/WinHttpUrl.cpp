#include "WinHttpUrl.h"

#include <limits>

CrackedUrl CrackUrl(const std::wstring& url) {
    CrackedUrl out;
    if (url.empty() || url.size() > std::numeric_limits<DWORD>::max() / 2) {
        out.error = ERROR_WINHTTP_INVALID_URL;
        return out;
    }
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwSchemeLength = static_cast<DWORD>(-1);
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!::WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) {
        out.error = ::GetLastError();
        if (!out.error) out.error = ERROR_WINHTTP_INVALID_URL;
        return out;
    }
    if (!parts.lpszHostName || parts.dwHostNameLength == 0) {
        out.error = ERROR_WINHTTP_INVALID_URL;
        return out;
    }
    out.ok = true;
    out.scheme = parts.nScheme;
    out.port = parts.nPort;
    out.host.assign(parts.lpszHostName, parts.dwHostNameLength);
    if (parts.lpszUrlPath) out.path.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
    if (parts.lpszExtraInfo) out.extra.assign(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    return out;
}
