// The Windows side reaches the project's service over HTTPS on loopback: the
// prefix trusts the test CA, and the service answers a request that carries
// "Expect: 100-continue" without the interim answer WinHTTP cannot take.
#include <gtest/gtest.h>

#include <windows.h>
#include <winhttp.h>

#include <nlohmann/json.hpp>

#include <string>

#include "util/Handles.h"

namespace {

struct Answer {
    DWORD error = 0;  // of the failing call, 0 when a response arrived
    DWORD status = 0;
    std::string body;
    std::wstring contentLength;
};

Answer Exchange(const wchar_t* verb, const wchar_t* path, const std::string& body, const wchar_t* headers) {
    Answer answer;
    tamsel::WinHttpHandle session(::WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0));
    tamsel::WinHttpHandle connection(
        session ? ::WinHttpConnect(session.Get(), L"localhost", INTERNET_DEFAULT_HTTPS_PORT, 0) : nullptr);
    tamsel::WinHttpHandle request(connection ? ::WinHttpOpenRequest(connection.Get(), verb, path, nullptr, nullptr,
                                                                    nullptr, WINHTTP_FLAG_SECURE)
                                             : nullptr);
    if (!request) {
        answer.error = ::GetLastError();
        return answer;
    }
    if (headers) ::WinHttpAddRequestHeaders(request.Get(), headers, static_cast<DWORD>(-1), WINHTTP_ADDREQ_FLAG_ADD);
    if (!::WinHttpSendRequest(request.Get(), nullptr, 0, const_cast<char*>(body.data()),
                              static_cast<DWORD>(body.size()), static_cast<DWORD>(body.size()), 0) ||
        !::WinHttpReceiveResponse(request.Get(), nullptr)) {
        answer.error = ::GetLastError();
        return answer;
    }
    DWORD size = sizeof answer.status;
    ::WinHttpQueryHeaders(request.Get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, nullptr,
                          &answer.status, &size, nullptr);
    wchar_t length[32] = {};
    size = sizeof length;
    if (::WinHttpQueryHeaders(request.Get(), WINHTTP_QUERY_CONTENT_LENGTH, nullptr, length, &size, nullptr))
        answer.contentLength = length;
    for (;;) {
        char buffer[8192];
        DWORD read = 0;
        if (!::WinHttpReadData(request.Get(), buffer, sizeof buffer, &read) || read == 0) break;
        answer.body.append(buffer, read);
    }
    return answer;
}

}  // namespace

TEST(ServiceReach, ConfigurationOverTrustedHttpsWithExpectContinue) {
    const Answer answer = Exchange(L"POST", L"/o", R"({"l":"de"})",
                                   L"Expect: 100-continue\r\nContent-Type: application/json");
    ASSERT_EQ(answer.error, 0u) << "12175 or 12157: the prefix does not trust the CA; 12029: no service on 443";
    EXPECT_EQ(answer.status, 200u);
    const auto document = nlohmann::json::parse(answer.body, nullptr, false);
    ASSERT_TRUE(document.is_object()) << answer.body;
    for (const char* key : {"i", "f", "o", "l"}) EXPECT_TRUE(document.contains(key)) << key;
    EXPECT_TRUE(document.at("o").is_array());
}

TEST(ServiceReach, FilesComeWithTheirLength) {
    const Answer image = Exchange(L"GET", L"/f/images/notes.png", std::string(), nullptr);
    ASSERT_EQ(image.error, 0u);
    EXPECT_EQ(image.status, 200u);
    EXPECT_EQ(image.contentLength, std::to_wstring(image.body.size()));
    EXPECT_EQ(image.body.substr(0, 4), "\x89PNG");

    EXPECT_EQ(Exchange(L"GET", L"/f/no-such-file.png", std::string(), nullptr).status, 404u);
}
