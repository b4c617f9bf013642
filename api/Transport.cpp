#include "Transport.h"

#include <windows.h>
#include <winhttp.h>

#include <cstdio>
#include <limits>
#include <string>

#include "util/Handles.h"
#include "util/SystemError.h"
#include "util/TamselException.h"
#include "util/Text.h"
#include "util/WinHttpSession.h"
#include "util/WinHttpUrl.h"
#include "util/WindowsVersion.h"

bool PostJson(const std::wstring& url, const std::string& body, std::vector<HttpHeader> headers,
              std::string& response, int32_t& status) {
    if (GetWindowsVersion().LacksSecureConnections())
        throw TamselException("Windows 7 needs Service Pack 1 for secure connections");

    // Only the host and the path are used; scheme, port and query are not.
    const CrackedUrl parts = CrackUrl(url);
    if (!parts.ok) throw TamselException("Failed to parse URL");
    const std::wstring& host = parts.host;
    const std::wstring& path = parts.path;
    DWORD failure = 0;
    if (!PostJsonToHost(host, path, body, std::move(headers), response, status, &failure))
        throw TamselException(WideToUtf8(DescribeFailure(L"Failed to post the request", failure)));
    return true;
}

bool PostJsonToHost(const std::wstring& host, const std::wstring& path, const std::string& body,
                    std::vector<HttpHeader> headers, std::string& response, int32_t& status, DWORD* failureCode) {
    // The code of the call that failed, taken before anything else can change it.
    const auto fail = [failureCode](DWORD code) {
        if (failureCode) *failureCode = code;
        return false;
    };
    if (body.size() > std::numeric_limits<DWORD>::max()) return fail(ERROR_INVALID_PARAMETER);
    // Declared so that the request closes first, then the connection, then the session.
    WinHttpSession opened = OpenWinHttpSession(nullptr, WinHttpAccessType());
    if (opened.failure) return fail(opened.code);
    const tamsel::WinHttpHandle session = std::move(opened.handle);
    tamsel::WinHttpHandle connection(::WinHttpConnect(session.Get(), host.c_str(), INTERNET_DEFAULT_HTTPS_PORT, 0));
    if (!connection) return fail(::GetLastError());
    tamsel::WinHttpHandle request(::WinHttpOpenRequest(connection.Get(), L"POST", path.c_str(), nullptr,
                                                       WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                       WINHTTP_FLAG_SECURE));
    if (!request) return fail(::GetLastError());

    headers.emplace_back(L"Expect", L"100-continue");
    headers.emplace_back(L"Content-Type", L"application/json");
    for (const auto& [name, value] : headers) {
        const std::wstring line = name + L": " + value;
        if (!::WinHttpAddRequestHeaders(request.Get(), line.c_str(), static_cast<DWORD>(-1), WINHTTP_ADDREQ_FLAG_ADD))
            std::printf("WinHttpAddRequestHeaders error: %d\n", static_cast<int>(::GetLastError()));
    }
    const DWORD length = static_cast<DWORD>(body.size());
    if (!::WinHttpSendRequest(request.Get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, const_cast<char*>(body.data()), length,
                              length, 0) ||
        !::WinHttpReceiveResponse(request.Get(), nullptr))
        return fail(::GetLastError());

    DWORD code = 0;
    DWORD size = sizeof code;
    if (::WinHttpQueryHeaders(request.Get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                              WINHTTP_HEADER_NAME_BY_INDEX, &code, &size, WINHTTP_NO_HEADER_INDEX))
        status = static_cast<int32_t>(code);

    size_t received = 0;  // bytes read so far, before any NUL cut
    // The answer ends at its first NUL, in whichever chunk that comes: what
    // follows it is read but kept nowhere, so the text never depends on how
    // the bytes were split on their way.
    bool ended = false;
    for (;;) {
        DWORD available = 0;
        if (!::WinHttpQueryDataAvailable(request.Get(), &available)) {
            std::printf("Error %u in WinHttpQueryDataAvailable.\n", static_cast<unsigned>(::GetLastError()));
            break;
        }
        if (available == 0) break;
        // Refused before the bytes are allocated: no answer is held past the bound.
        if (available > kMaxResponseBytes - received)
            throw TamselException("The answer to POST " + WideToUtf8(path) + " on " + WideToUtf8(host) +
                                  " is larger than " + std::to_string(kMaxResponseBytes >> 20) +
                                  " MiB; it was not read to the end");
        std::string chunk;
        try {
            chunk.assign(static_cast<size_t>(available) + 1, '\0');
        } catch (const std::bad_alloc&) {
            std::printf("Out of memory\n");
            break;
        }
        DWORD read = 0;
        if (!::WinHttpReadData(request.Get(), chunk.data(), available, &read)) {
            std::printf("Error %u in WinHttpReadData.\n", static_cast<unsigned>(::GetLastError()));
            continue;
        }
        received += read;
        if (ended) continue;
        const size_t kept = std::char_traits<char>::length(chunk.c_str());  // up to the chunk's first NUL
        response.append(chunk.data(), kept);
        ended = kept < read;
    }
    return true;
}
