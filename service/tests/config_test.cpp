// The configuration endpoint, POST /o.
#include <gtest/gtest.h>

#include "harness.h"

using harness::json;

namespace {

json ConfigRequest(const std::string& language) {
  return json{{"a", "Harlix"},       {"i", "Harlix_DLM"}, {"l", language},
              {"o", "10.0.19045"},   {"plv", "1.0.0.1"},  {"prv", "0.1"},
              {"s", "Harlix_3cpp"},  {"u", ""}};
}

std::vector<std::string> OfferIds(const json& answer) {
  std::vector<std::string> ids;
  for (const auto& o : answer.at("o")) ids.push_back(o.at("ad").at("o").get<std::string>());
  return ids;
}

class Configuration : public ::testing::Test {
 protected:
  void SetUp() override {
    service_ = std::make_unique<harness::Service>(box_.Args({"--country", "GB"}));
    ASSERT_TRUE(service_->started()) << service_->output();
  }

  httplib::Result Post(const std::string& body, httplib::Headers headers = {}) {
    return harness::Client(service_->port())->Post("/o", headers, body, "application/json");
  }

  harness::Sandbox box_;
  std::unique_ptr<harness::Service> service_;
};

TEST_F(Configuration, ChoosesOffersByLanguageAndCountry) {
  struct Case {
    const char* language;
    const char* country_header;  // "" sends none
    const char* country;
    const char* title;
    std::vector<std::string> offers;
  };
  const Case cases[] = {
      // The fixed country is GB: neither the German nor the US offer.
      {"en", "", "GB", "Test Product", {"all", "en-only"}},
      // German requests get DE from the campaign's language table.
      {"de", "", "DE", "Testprodukt", {"all", "de-only"}},
      {"fr", "", "GB", "Test Product", {"all"}},
      // A per-request country wins over both.
      {"en", "US", "US", "Test Product", {"all", "en-only", "us-only"}},
      {"de", "at", "AT", "Testprodukt", {"all", "de-only"}},
      {"de", "US", "US", "Testprodukt", {"all", "us-only"}},
      // Not a country code: ignored.
      {"en", "USA", "GB", "Test Product", {"all", "en-only"}},
      // Only the first two letters count, in any case.
      {"DE-de", "", "DE", "Testprodukt", {"all", "de-only"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.language) + " / " + c.country_header);
    httplib::Headers headers;
    if (*c.country_header) headers.emplace("X-Country", c.country_header);
    auto res = Post(ConfigRequest(c.language).dump(), headers);
    ASSERT_TRUE(res);
    ASSERT_EQ(res->status, 200) << res->body;
    EXPECT_EQ(res->get_header_value("Content-Type"), "application/json");
    json answer = json::parse(res->body);
    EXPECT_EQ(answer.at("l"), c.country);
    EXPECT_EQ(answer.at("i").at("ct"), c.title);
    EXPECT_EQ(OfferIds(answer), c.offers);
  }
}

TEST_F(Configuration, AnswerHasTheShapeTheWizardReads) {
  auto res = Post(ConfigRequest("en").dump());
  ASSERT_TRUE(res);
  ASSERT_EQ(res->status, 200);
  json answer = json::parse(res->body);
  ASSERT_TRUE(answer.is_object());
  EXPECT_EQ(answer.size(), 4u);  // "i", "f", "o", "l"

  const std::string base = "https://localhost:" + std::to_string(service_->port());
  const json& i = answer.at("i");
  for (auto it = i.begin(); it != i.end(); ++it) {
    EXPECT_TRUE(it->is_string()) << it.key();
  }
  // The wizard fetches "cu" as it stands: a relative path goes out as a full
  // URL under the public URL.
  EXPECT_EQ(i.at("cu"), base + "/f/installers/product.exe");
  EXPECT_EQ(i.at("cl"), base + "/f/images/product.png");
  EXPECT_EQ(i.at("ch"), "chan");
  EXPECT_EQ(i.at("cfl"), "flavour");
  EXPECT_EQ(i.at("cb"), "1");
  EXPECT_FALSE(i.contains("by_language"));

  EXPECT_EQ(answer.at("f"), (json{{"m", 2}, {"a", "pub-7"}}));
  EXPECT_TRUE(answer.at("f").at("m").is_number_integer());

  // Offers go out as the campaign wrote them, with only {{base}} replaced; the
  // wizard's own placeholders stay for the wizard.
  json expected = harness::TestCampaign()["offers"][0]["package"];
  expected["ps"]["cp"] = base + "/f/privacy.html";
  EXPECT_EQ(answer.at("o").at(0), expected);
  EXPECT_EQ(answer.at("o").at(0).at("ps").at("p"), "/S /cc={cc}");
}

TEST_F(Configuration, RefusesRequestsItCannotRead) {
  struct Case {
    const char* what;
    std::string body;
  };
  json no_language = ConfigRequest("en");
  no_language.erase("l");
  json number_language = ConfigRequest("en");
  number_language["l"] = 7;
  json number_version = ConfigRequest("en");
  number_version["prv"] = 0.1;
  const Case cases[] = {
      {"empty body", ""},
      {"not JSON", "l=en"},
      {"truncated JSON", R"({"l":"en")"},
      {"an array", R"(["l","en"])"},
      {"a string", R"("en")"},
      {"no language", no_language.dump()},
      {"language not a string", number_language.dump()},
      {"a request key not a string", number_version.dump()},
      {"deeply nested", std::string(20000, '[') + std::string(20000, ']')},
      {"invalid UTF-8", "{\"l\":\"e\xff\"}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto res = Post(c.body);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 400);
    EXPECT_FALSE(res->body.empty());
  }
  // Still serving.
  auto res = Post(ConfigRequest("en").dump());
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
}

TEST_F(Configuration, ExpectContinueIsAnsweredWithoutInterimResponse) {
  // As the wizard sends it: the body right behind the headers, no waiting.
  const std::string body = ConfigRequest("de").dump();
  harness::RawResponse r = harness::RawExchange(
      service_->port(),
      "POST /o HTTP/1.1\r\nHost: localhost\r\nExpect: 100-continue\r\n"
      "Content-Type: application/json\r\nContent-Length: " +
          std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
  ASSERT_TRUE(r.ok) << r.raw;
  EXPECT_EQ(r.raw.rfind("HTTP/1.1 200 ", 0), 0u) << r.raw;
  EXPECT_EQ(r.raw.find("100 Continue"), std::string::npos);
  ASSERT_EQ(r.headers.count("content-length"), 1u);
  EXPECT_EQ(OfferIds(json::parse(r.body)), (std::vector<std::string>{"all", "de-only"}));
}

TEST_F(Configuration, KeepAliveConnectionServesSeveralRequests) {
  auto client = harness::Client(service_->port());
  client->set_keep_alive(true);
  for (const char* language : {"en", "de", "en"}) {
    httplib::Headers headers = {{"Expect", "100-continue"}};
    auto res = client->Post("/o", headers, ConfigRequest(language).dump(), "application/json");
    ASSERT_TRUE(res) << language;
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(json::parse(res->body).at("o").size(), 2u);
  }
}

// A campaign with campaigns of their own for two download tags.
json TaggedCampaign() {
  json campaign = harness::TestCampaign();
  json tagged = {
      {"product", {{"ct", "Tagged Product"}, {"cu", "installers/tagged.exe"}}},
      {"flow", {{"m", 7}}},
      {"country_by_language", {{"en", "AU"}}},
      {"offers", json::array({harness::TestCampaign()["offers"][0], harness::TestCampaign()["offers"][1]})}};
  tagged["offers"][0]["package"]["ad"]["o"] = "tagged-1";
  tagged["offers"][1]["package"]["ad"]["o"] = "tagged-2";
  tagged["offers"][1]["package"]["ps"]["cp"] = "{{base}}/f/tagged.html";
  json none = {{"product", {{"ct", "No Offers"}, {"cu", "installers/none.exe"}}}, {"flow", {{"m", 3}}}};
  campaign["by_tag"] = {{"ab-1234", tagged}, {"t0-none", none}};
  return campaign;
}

TEST(ConfigurationByTag, TheRequestsTagChoosesTheCampaign) {
  harness::Sandbox box(TaggedCampaign());
  harness::Service service(box.Args({"--country", "GB"}));
  ASSERT_TRUE(service.started()) << service.output();
  EXPECT_NE(service.output().find("2 by download tag"), std::string::npos) << service.output();
  struct Case {
    const char* tag;  // nullptr: no "u" at all
    const char* language;
    const char* country_header;
    const char* country;
    const char* title;
    int m;
    std::vector<std::string> offers;
  };
  const Case cases[] = {
      {"ab-1234", "en", "", "AU", "Tagged Product", 7, {"tagged-1", "tagged-2"}},
      // The tagged campaign's own tables: no German title, no DE for German.
      {"ab-1234", "de", "", "GB", "Tagged Product", 7, {"tagged-1"}},
      {"ab-1234", "en", "US", "US", "Tagged Product", 7, {"tagged-1", "tagged-2"}},
      {"t0-none", "en", "", "GB", "No Offers", 3, {}},
      // Any other tag, or none, gets the base campaign.
      {"", "en", "", "GB", "Test Product", 2, {"all", "en-only"}},
      {nullptr, "en", "", "GB", "Test Product", 2, {"all", "en-only"}},
      {"zz-9999", "de", "", "DE", "Testprodukt", 2, {"all", "de-only"}},
      {"AB-1234", "en", "", "GB", "Test Product", 2, {"all", "en-only"}},
      {"ab-12345", "en", "", "GB", "Test Product", 2, {"all", "en-only"}},
  };
  auto client = harness::Client(service.port());
  const std::string base = "https://localhost:" + std::to_string(service.port());
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.tag ? c.tag : "(none)") + " / " + c.language);
    json request = ConfigRequest(c.language);
    if (c.tag) {
      request["u"] = c.tag;
    } else {
      request.erase("u");
    }
    httplib::Headers headers;
    if (*c.country_header) headers.emplace("X-Country", c.country_header);
    auto res = client->Post("/o", headers, request.dump(), "application/json");
    ASSERT_TRUE(res);
    ASSERT_EQ(res->status, 200) << res->body;
    json answer = json::parse(res->body);
    EXPECT_EQ(answer.at("l"), c.country);
    EXPECT_EQ(answer.at("i").at("ct"), c.title);
    EXPECT_EQ(answer.at("f").at("m"), c.m);
    EXPECT_EQ(OfferIds(answer), c.offers);
    // {{base}} is replaced in the tagged campaigns too.
    for (const auto& o : answer.at("o")) {
      EXPECT_EQ(o.at("ps").at("cp").get<std::string>().rfind(base + "/f/", 0), 0u) << o.dump();
    }
  }
}

TEST_F(Configuration, OtherMethodsAndPathsAreRefused) {
  auto client = harness::Client(service_->port());
  auto get = client->Get("/o");
  ASSERT_TRUE(get);
  EXPECT_EQ(get->status, 405);
  auto other = client->Post("/config", ConfigRequest("en").dump(), "application/json");
  ASSERT_TRUE(other);
  EXPECT_EQ(other->status, 404);
}

}  // namespace
