#pragma once
// The WinHTTP request both the file and the memory download make: session,
// connection and request, redirects followed by hand, the status checked.
#include <windows.h>
#include <winhttp.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "util/Handles.h"

namespace download {

struct WinHttpRequestSetup {
    const wchar_t* userAgent;
    DWORD accessType;
    DWORD extraFlags;  // added to WINHTTP_FLAG_SECURE for HTTPS
};

// Handles are declared so that the request closes first.
struct WinHttpResponse {
    tamsel::WinHttpHandle session;
    tamsel::WinHttpHandle connection;
    tamsel::WinHttpHandle request;
};

// Sends GET for url and follows up to 5 redirects, each with a new session.
// Returns with a 2xx response whose body is ready; throws Failure otherwise.
void OpenWinHttpResponse(const std::wstring& url, const WinHttpRequestSetup& setup, WinHttpResponse& response);

// Content-Length; false when absent or not a number.
bool QueryContentLength(HINTERNET request, uint64_t& length);

// Reads the body chunk by chunk, as much as is available each time, checking
// cancelled before each chunk.
void ReadWinHttpBody(HINTERNET request, const std::atomic<bool>& cancelled,
                     const std::function<void(const char*, DWORD)>& sink);

}  // namespace download
