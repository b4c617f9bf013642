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

// The wizard's end-to-end tests pick a scenario by the download tag in the
// wizard's file name: test-campaign.json is the demo plus one campaign per tag.
TEST(Demo, TestCampaignAnswersEachTagWithItsScenario) {
  harness::TempDir dir;
  harness::Service service({"--campaign", std::string(TAMSEL_DEMO_DIR) + "/test-campaign.json",
                            "--files", DemoFiles(), "--db", dir / "events.sqlite"});
  ASSERT_TRUE(service.started()) << service.output();
  const bool installers_built = DemoFiles() != std::string(TAMSEL_DEMO_DIR) + "/files";
  if (installers_built) {
    EXPECT_EQ(service.output().find("warning"), std::string::npos) << service.output();
  }
  struct Case {
    const char* tag;
    std::size_t offers;
    const char* ch;  // the product's "ch"
  };
  const Case cases[] = {
      {"", 3, "demo"},        {"xx-0000", 3, "demo"}, {"t3-acpt", 3, "demo"},
      {"t3-saad", 3, "demo"}, {"t3-sied", 3, "demo"}, {"t4-mo02", 4, "demo"},
      {"t0-none", 0, "demo"}, {"tc-00xa", 3, "00xA"}, {"t2-fail", 2, "demo"},
      {"tm-fail", 1, "demo"}, {"tz-zip1", 1, "demo"},
  };
  auto client = harness::Client(service.port());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tag);
    auto res = client->Post("/o", json{{"l", "en"}, {"u", c.tag}}.dump(), "application/json");
    ASSERT_TRUE(res);
    ASSERT_EQ(res->status, 200) << res->body;
    const json answer = json::parse(res->body);
    EXPECT_EQ(answer.at("i").at("ct"), "Tamsel Demo App");
    EXPECT_EQ(answer.at("i").at("ch"), c.ch);
    ASSERT_EQ(answer.at("o").size(), c.offers);
    // A scenario's offers are its own, numbered from 1, so events can be read
    // back by offer id; each push-notification offer keeps its date marker
    // in the test key under a name of its own run.
    for (std::size_t i = 0; i < c.offers && *c.tag && std::string(c.tag) != "xx-0000"; ++i) {
      const json& package = answer.at("o").at(i);
      EXPECT_EQ(package.at("ad").at("o"), std::string(c.tag) + "-" + std::to_string(i + 1));
      const json& ps = package.at("ps");
      if (ps.value("pn", false)) {
        EXPECT_EQ(ps.at("pnr").get<std::string>().rfind("SOFTWARE\\TamselTest\\", 0), 0u);
        EXPECT_NE(ps.at("pnr").get<std::string>().find("{sessionid}"), std::string::npos);
      }
    }
  }
  // The flow settings each scenario is there for.
  auto cfs = [&](const char* tag, std::size_t offer) {
    auto res = client->Post("/o", json{{"l", "en"}, {"u", tag}}.dump(), "application/json");
    const json ps = json::parse(res->body).at("o").at(offer).at("ps");
    return ps.value("pn", false) ? ps.value("cfs", json::object()) : json();
  };
  EXPECT_EQ(cfs("t3-acpt", 0), json());
  EXPECT_EQ(cfs("t3-saad", 0), (json{{"saad", true}}));
  EXPECT_EQ(cfs("t3-sied", 1), (json{{"sied", true}}));
  EXPECT_EQ(cfs("t3-sied", 0), json());
  EXPECT_EQ(cfs("t4-mo02", 0), (json{{"mo", 2}}));
  if (!installers_built) GTEST_SKIP() << "installers not built (no MinGW compiler)";
}

}  // namespace
