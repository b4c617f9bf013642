// What /o answers is usable by the wizard as it stands: file paths become the
// addresses the wizard fetches, texts it would misread are named at start.
#include <gtest/gtest.h>

#include <functional>

#include "harness.h"

using harness::json;

namespace {

// The wizard's download-address rule, written from its side: a text of this
// form is fetched as it stands, anything else from the file endpoint with
// the text appended.
bool WizardTakesAsAddress(const std::string& s) {
  std::size_t start = s.rfind("https://", 0) == 0 ? 8 : s.rfind("http://", 0) == 0 ? 7 : 0;
  std::size_t end = start;
  auto host = [](unsigned char c) { return c < 0x80 && (std::isalnum(c) || c == '_' || c == '.' || c == '-'); };
  while (end < s.size() && host(static_cast<unsigned char>(s[end]))) ++end;
  bool dot = false;
  for (std::size_t i = start + 1; i + 1 < end; ++i) dot = dot || s[i] == '.';
  if (!dot) return false;
  if (end == s.size()) return true;
  return (s[end] == '/' || s[end] == '?' || s[end] == '#') &&
         s.find_first_of("\r\n", end + 1) == std::string::npos;
}

std::string Resolve(const std::string& u, const std::string& file_endpoint) {
  return WizardTakesAsAddress(u) ? u : file_endpoint + u;
}

// A campaign whose product and one offer point at the given texts.
json CampaignWith(const std::string& cu, const std::string& cl, const std::string& u,
                  const std::string& i) {
  json c = harness::TestCampaign();
  c["product"]["cu"] = cu;
  c["product"]["cl"] = cl;
  c["offers"] = json::array({c["offers"][0]});
  c["offers"][0]["package"]["ps"]["u"] = u;
  c["offers"][0]["package"]["ps"]["i"] = i;
  return c;
}

TEST(Answers, FilePathsBecomeAddressesTheWizardFetches) {
  struct Case {
    const char* what;
    std::string cu, cl, u, i;  // each names a file of its own under the files folder
  };
  const Case cases[] = {
      {"paths in folders", "installers/p.exe", "images/p.png", "installers/o.exe", "images/o.png"},
      {"bare file names", "p.exe", "p.png", "setup-tool/o.exe", "o.png"},
      {"a dotted folder", "v1.2/p.exe", "v1.2/p.png", "v1/o.exe", "v1.2/o.png"},
      {"{{base}} URLs", "{{base}}/f/installers/p.exe", "{{base}}/f/images/p.png",
       "{{base}}/f/installers/o.exe", "{{base}}/f/images/o.png"},
      {"names that need encoding", "my files/p 1.exe", "images/100%.png", "über/o#1.exe",
       "images/o?.png"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    harness::Sandbox box(CampaignWith(c.cu, c.cl, c.u, c.i));
    std::map<std::string, std::string> bytes;  // path as written -> content
    for (const std::string* path : {&c.cu, &c.cl, &c.u, &c.i}) {
      std::string p = *path;
      if (p.rfind("{{base}}/f/", 0) == 0) p = p.substr(11);
      bytes[*path] = "content of " + p;
      harness::WriteFile(box.files + "/" + p, bytes[*path]);
    }
    harness::Service service(box.Args());
    ASSERT_TRUE(service.started()) << service.output();
    EXPECT_EQ(service.output().find("warning"), std::string::npos) << service.output();
    const std::string base = "https://localhost:" + std::to_string(service.port());
    auto client = harness::Client(service.port());
    auto res = client->Post("/o", json{{"l", "en"}}.dump(), "application/json");
    ASSERT_TRUE(res);
    ASSERT_EQ(res->status, 200) << res->body;
    const json answer = json::parse(res->body);
    const json& product = answer.at("i");
    const json& ps = answer.at("o").at(0).at("ps");
    // The download manager fetches "cu" and "cl" as they are; "u" by the
    // address rule; "i" from the file endpoint.
    const std::string endpoint = base + "/f/";
    const std::pair<std::string, std::string> fetched[] = {
        {c.cu, product.at("cu").get<std::string>()},
        {c.cl, product.at("cl").get<std::string>()},
        {c.u, Resolve(ps.at("u").get<std::string>(), endpoint)},
        {c.i, endpoint + ps.at("i").get<std::string>()},
    };
    for (const auto& [written, url] : fetched) {
      SCOPED_TRACE(written + " -> " + url);
      ASSERT_EQ(url.rfind(base + "/", 0), 0u);
      auto file = client->Get(url.substr(base.size()));
      ASSERT_TRUE(file);
      EXPECT_EQ(file->status, 200);
      EXPECT_EQ(file->body, bytes[written]);
    }
  }
}

TEST(Answers, OnAPublicHostTheWizardTakesEveryPathGoesOutAsAFullUrl) {
  harness::Sandbox box(CampaignWith("installers/p.exe", "p.png", "setup.exe", "images/o.png"));
  harness::Service service(box.Args({"--public-url", "https://files.example.com/"}));
  ASSERT_TRUE(service.started()) << service.output();
  auto res = harness::Client(service.port())->Post("/o", json{{"l", "en"}}.dump(), "application/json");
  ASSERT_TRUE(res);
  const json answer = json::parse(res->body);
  EXPECT_EQ(answer["i"]["cu"], "https://files.example.com/f/installers/p.exe");
  EXPECT_EQ(answer["i"]["cl"], "https://files.example.com/f/p.png");
  EXPECT_EQ(answer["o"][0]["ps"]["u"], "https://files.example.com/f/setup.exe");
  EXPECT_TRUE(WizardTakesAsAddress(answer["o"][0]["ps"]["u"]));
  // Images are always a path under the wizard's file endpoint.
  EXPECT_EQ(answer["o"][0]["ps"]["i"], "images/o.png");
  // Full URLs elsewhere go out untouched.
  json c = CampaignWith("https://cdn.example.com/p.exe", "http://cdn.example.com/p.png",
                        "https://cdn.example.com/o.exe?x={cc}", "images/o.png");
  harness::Sandbox other(c);
  harness::Service service2(other.Args());
  ASSERT_TRUE(service2.started()) << service2.output();
  res = harness::Client(service2.port())->Post("/o", json{{"l", "en"}}.dump(), "application/json");
  ASSERT_TRUE(res);
  const json answer2 = json::parse(res->body);
  EXPECT_EQ(answer2["i"]["cu"], "https://cdn.example.com/p.exe");
  EXPECT_EQ(answer2["i"]["cl"], "http://cdn.example.com/p.png");
  EXPECT_EQ(answer2["o"][0]["ps"]["u"], "https://cdn.example.com/o.exe?x={cc}");
}

TEST(Answers, PathsTheWizardCannotUseStopStartAndNameThePlace) {
  struct Case {
    const char* where;
    std::function<void(json&)> spoil;
  };
  const Case cases[] = {
      // Would be fetched as a host name: the test service's public URL has a
      // port, so it cannot go out as a full URL either.
      {"offers[0].package.ps.u: \"setup.exe\": the wizard would take this path for a host name",
       [](json& c) { c["offers"][0]["package"]["ps"]["u"] = "setup.exe"; }},
      {"offers[1].package.ps.u: \"v1.2/setup.exe\"",
       [](json& c) { c["offers"][1]["package"]["ps"]["u"] = "v1.2/setup.exe"; }},
      {"product.cl: \"ftp://example.com/p.png\": expected an http or https URL or a path under /f/",
       [](json& c) { c["product"]["cl"] = "ftp://example.com/p.png"; }},
      {"product.cu: \"https://\": expected an http or https URL",
       [](json& c) { c["product"]["cu"] = "https://"; }},
      {"product.by_language.de.cu: \"c:/setup.exe\"",
       [](json& c) { c["product"]["by_language"]["de"]["cu"] = "c:/setup.exe"; }},
      {"offers[0].package.ps.i: \"../secret.png\": the file endpoint serves no path",
       [](json& c) { c["offers"][0]["package"]["ps"]["i"] = "../secret.png"; }},
      {"offers[0].package.ps.u: \"/f/installers/x.exe\": a path under /f/ starts without",
       [](json& c) { c["offers"][0]["package"]["ps"]["u"] = "/f/installers/x.exe"; }},
      {"offers[2].package.ps.u: \"installers//x.exe\"",
       [](json& c) { c["offers"][2]["package"]["ps"]["u"] = "installers//x.exe"; }},
      {"by_tag.ab-1234.product.cu: \"setup\\x.exe\": the file endpoint serves no path with",
       [](json& c) {
         json inner = c;
         inner["product"]["cu"] = "setup\\x.exe";
         c["by_tag"]["ab-1234"] = inner;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.where);
    json campaign = harness::TestCampaign();
    c.spoil(campaign);
    harness::Sandbox box(campaign);
    harness::RunResult r = harness::Run({"--cert", harness::CertFile(), "--key", harness::KeyFile(),
                                         "--port", "0", "--campaign", box.campaign, "--db", box.db});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.output.find(c.where), std::string::npos) << r.output;
  }
}

TEST(Answers, TextsOutsideAsciiAreNamedAtStart) {
  json c = harness::TestCampaign();
  c["product"]["ct"] = "Démo";
  c["product"]["by_language"]["de"]["ct"] = "Prüfprodukt";
  json& ps = c["offers"][0]["package"]["ps"];
  ps["dn"] = "Wetter für heute";
  ps["fe"] = json::array({"{programdata}\\Demo\\x.txt", "{programdata}\\Wetter\\ä.txt"});
  // Read as UTF-8 by the wizard: no warning.
  ps["r"] = json::array({"HKLM\\Software\\Größe"});
  ps["cmdu"] = json::array({{{"utr", "HKLM"}, {"utk", "Größe"}, {"utvn", "n"}, {"utvt", "t"}, {"umd", 1}}});
  c["offers"][0]["package"]["ad"]["o"] = "all";
  harness::Sandbox box(c);
  harness::Service service(box.Args());
  ASSERT_TRUE(service.started()) << service.output();
  const std::string out = service.output();
  for (const char* place : {"warning: product.ct: \"Démo\" is not ASCII",
                            "warning: product.by_language.de.ct:", "warning: offers[0].package.ps.dn:",
                            "warning: offers[0].package.ps.fe[1]:"}) {
    EXPECT_NE(out.find(place), std::string::npos) << place << "\n" << out;
  }
  for (const char* place : {"ps.fe[0]", "ps.r", "ps.cmdu"}) {
    EXPECT_EQ(out.find(place), std::string::npos) << place << "\n" << out;
  }
  EXPECT_NE(out.find("ANSI code page"), std::string::npos) << out;
  // Still served as written.
  auto res = harness::Client(service.port())->Post("/o", json{{"l", "en"}}.dump(), "application/json");
  ASSERT_TRUE(res);
  EXPECT_EQ(json::parse(res->body)["o"][0]["ps"]["dn"], "Wetter für heute");
}

}  // namespace
