#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "SignedRequest.h"

// The largest answer a POST reads; a larger one is an error, not a truncated text.
constexpr size_t kMaxResponseBytes = size_t{8} << 20;

// Posts a JSON body over HTTPS to the host and path of url, always on port
// 443 (the URL's scheme, port and query are not used). Returns true, with the
// status and the body read up to its first NUL; throws TamselException when
// the request cannot be made (Windows 7 without a service pack, a URL that
// does not split, no response: "Failed to post the request: %d - %s" with the
// system's code and text) or the answer is larger than kMaxResponseBytes.
bool PostJson(const std::wstring& url, const std::string& body, std::vector<HttpHeader> headers,
              std::string& response, int32_t& status);
// True when a response arrived, whatever its status; false with the failing
// call's system code in *failureCode (when given) otherwise. Throws
// TamselException when the body is larger than kMaxResponseBytes.
bool PostJsonToHost(const std::wstring& host, const std::wstring& path, const std::string& body,
                    std::vector<HttpHeader> headers, std::string& response, int32_t& status,
                    DWORD* failureCode = nullptr);
