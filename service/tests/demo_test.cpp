// The demo campaign and files folder that the README's demo runs.
#include <gtest/gtest.h>

#include <filesystem>

#include "harness.h"

using harness::json;

namespace {

std::string DemoFiles() {
  // Built by the demo-files target when the MinGW compiler is present.
  const std::string built = TAMSEL_DEMO_FILES;
  if (!built.empty() && std::filesystem::exists(built + "/installers")) return built;
  return std::string(TAMSEL_DEMO_DIR) + "/files";
}

TEST(Demo, CampaignServesEveryFileItPointsAt) {
  harness::TempDir dir;
  harness::Service service({"--campaign", std::string(TAMSEL_DEMO_DIR) + "/campaign.json",
                            "--files", DemoFiles(), "--db", dir / "events.sqlite"});
  ASSERT_TRUE(service.started()) << service.output();
  const bool installers_built = DemoFiles() != std::string(TAMSEL_DEMO_DIR) + "/files";
  if (installers_built) {
    // Nothing the campaign names is missing from the folder.
    EXPECT_EQ(service.output().find("warning"), std::string::npos) << service.output();
  }

  auto client = harness::Client(service.port());
  struct Case {
    const char* language;
    std::size_t offers;
  };
  for (const Case& c : {Case{"en", 3}, Case{"de", 3}}) {
    SCOPED_TRACE(c.language);
    auto res = client->Post("/o", json{{"l", c.language}}.dump(), "application/json");
    ASSERT_TRUE(res);
    ASSERT_EQ(res->status, 200) << res->body;
    json answer = json::parse(res->body);
    EXPECT_EQ(answer.at("o").size(), c.offers);
    for (const auto& offer : answer.at("o")) {
      const std::string image = offer.at("ps").at("i");
      auto png = client->Get("/f/" + image);
      ASSERT_TRUE(png);
      EXPECT_EQ(png->status, 200) << image;
      EXPECT_EQ(png->body.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8)) << image;
      if (!installers_built) continue;
      const std::string installer = offer.at("ps").at("u");
      auto exe = client->Get("/f/" + installer);
      ASSERT_TRUE(exe);
      EXPECT_EQ(exe->status, 200) << installer;
      EXPECT_EQ(exe->body.substr(0, 2), "MZ") << installer;
    }
    const std::string logo = answer.at("i").at("cl");
    const std::string prefix = "https://localhost:" + std::to_string(service.port());
    ASSERT_EQ(logo.rfind(prefix, 0), 0u) << logo;
    auto png = client->Get(logo.substr(prefix.size()));
    ASSERT_TRUE(png);
    EXPECT_EQ(png->status, 200) << logo;
  }
  if (!installers_built) GTEST_SKIP() << "installers not built (no MinGW compiler)";
}

}  // namespace
