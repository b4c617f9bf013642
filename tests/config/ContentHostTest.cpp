// The content host is compiled into each program: this one names its own.
#include <gtest/gtest.h>

#include <string>

#include "BuildSettings.h"
#include "config/ConfigurationManager.h"

TEST(CompiledContentHost, EveryEndpointUsesTheProgramsHost) {
    EXPECT_EQ(std::wstring(CompiledContentHost()), TAMSEL_EXPECTED_CONTENT_HOST);
    // An unknown type sets nothing up beyond the compiled-in values.
    ConfigurationManager c("none", [](const std::wstring&) {});
    const std::wstring base = std::wstring(L"https://") + TAMSEL_EXPECTED_CONTENT_HOST;
    EXPECT_EQ(c.configEndpointUrl, base + L"/o");
    EXPECT_EQ(c.eventEndpointUrl, base + L"/zbd");
    EXPECT_EQ(c.fileEndpointUrl, base + L"/f/");
    // The privacy host stays the build's.
    EXPECT_EQ(c.sdkPrivacyUrl, std::wstring(L"https://") + TAMSEL_PRIVACY_HOST + L"/privacy/");
}
