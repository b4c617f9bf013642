#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "SignedRequest.h"

// Posts a JSON body over HTTPS to the host and path of url, always on port
// 443 (the URL's scheme, port and query are not used). Returns true, with the
// status and the body read up to its first NUL; throws TamselException when
// the request cannot be made (Windows 7 without a service pack, a URL that
// does not split, no response).
bool PostJson(const std::wstring& url, const std::string& body, std::vector<HttpHeader> headers,
              std::string& response, int32_t& status);
// True when a response arrived, whatever its status.
bool PostJsonToHost(const std::wstring& host, const std::wstring& path, const std::string& body,
                    std::vector<HttpHeader> headers, std::string& response, int32_t& status);
