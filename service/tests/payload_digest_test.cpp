// "sha256" in /o answers: the digest of every download this service serves
// itself, kept while the file stays as it is; the campaign's own for files
// elsewhere.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "harness.h"

using harness::json;

namespace {

json AskFor(int port, const std::string& language = "en") {
  auto res = harness::Client(port)->Post("/o", json{{"l", language}}.dump(), "application/json");
  if (!res || res->status != 200) return json();
  return json::parse(res->body);
}

// A campaign of one offer whose product and offer download the given texts.
json CampaignWith(const std::string& cu, const std::string& u) {
  json c = harness::TestCampaign();
  c["product"]["cu"] = cu;
  c["offers"] = json::array({c["offers"][0]});
  c["offers"][0]["package"]["ps"]["u"] = u;
  return c;
}

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(Digests, EveryDownloadServedHereCarriesItsSha256) {
  struct Case {
    const char* what;
    std::string cu, u;             // as the campaign writes them
    std::string cu_file, u_file;   // the files under the folder they reach
    std::vector<std::string> args;
  };
  const Case cases[] = {
      {"paths", "installers/p.exe", "installers/o.exe", "installers/p.exe", "installers/o.exe", {}},
      {"{{base}} URLs", "{{base}}/f/installers/p.exe", "{{base}}/f/setups/o.exe",
       "installers/p.exe", "setups/o.exe", {}},
      {"names that need encoding", "my files/p 1.exe", "über/o#1.exe", "my files/p 1.exe",
       "über/o#1.exe", {}},
      {"encoded in a {{base}} URL", "{{base}}/f/my%20files/p%201.exe?v=2",
       "{{base}}/f/%C3%BCber/o%231.exe", "my files/p 1.exe", "über/o#1.exe", {}},
      {"on a public host", "https://files.example.com/f/installers/p.exe",
       "https://files.example.com/f/setup.exe", "installers/p.exe", "setup.exe",
       {"--public-url", "https://files.example.com"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    harness::Sandbox box(CampaignWith(c.cu, c.u));
    const std::string product = "the product's installer " + std::string(c.what);
    const std::string offer = std::string(200000, 'o') + c.what;  // more than one read
    harness::WriteFile(box.files + "/" + c.cu_file, product);
    harness::WriteFile(box.files + "/" + c.u_file, offer);
    harness::Service service(box.Args(c.args));
    ASSERT_TRUE(service.started()) << service.output();
    const json answer = AskFor(service.port());
    ASSERT_TRUE(answer.is_object());
    EXPECT_EQ(answer["i"].value("sha256", ""), harness::Sha256Hex(product)) << answer.dump();
    EXPECT_EQ(answer["o"][0]["ps"].value("sha256", ""), harness::Sha256Hex(offer)) << answer.dump();
    // The answer still names the same file for the wizard to fetch.
    EXPECT_NE(answer["i"]["cu"].get<std::string>().find("/f/"), std::string::npos);
  }
}

TEST(Digests, FollowTheFileWhenItChangesAndOnlyThen) {
  harness::Sandbox box(CampaignWith("installers/p.exe", "installers/o.exe"));
  const std::string path = box.files + "/installers/o.exe";
  harness::WriteFile(box.files + "/installers/p.exe", "product");
  harness::WriteFile(path, "first version of the offer's installer");
  harness::Service service(box.Args({"--quiet"}));
  ASSERT_TRUE(service.started()) << service.output();
  const std::string read_line = "sha256 of /f/installers/o.exe";

  std::string bytes = harness::ReadFile(path);
  struct Change {
    const char* what;
    std::function<void()> apply;
    bool present;
  };
  namespace fs = std::filesystem;
  const Change changes[] = {
      {"unchanged", [] {}, true},
      {"grown", [&] { harness::WriteFile(path, bytes + " and more"); }, true},
      {"rewritten in place at the same size",
       [&] {
         std::string same = harness::ReadFile(path);
         same[0] = same[0] == 'X' ? 'Y' : 'X';
         const auto time = fs::last_write_time(path);
         harness::WriteFile(path, same);
         fs::last_write_time(path, time + std::chrono::seconds(10));
       },
       true},
      {"replaced by a rename",
       [&] {
         harness::WriteFile(path + ".new", "a new installer put in place at once");
         fs::rename(path + ".new", path);
       },
       true},
      {"removed", [&] { fs::remove(path); }, false},
      {"back again", [&] { harness::WriteFile(path, "back again"); }, true},
  };
  std::size_t reads = Count(service.output(), read_line);
  EXPECT_EQ(reads, 1u) << "read once at start\n" << service.output();
  for (const Change& c : changes) {
    SCOPED_TRACE(c.what);
    c.apply();
    const bool changed = std::string(c.what) != "unchanged" && c.present;
    for (int i = 0; i < 4; ++i) {
      const json answer = AskFor(service.port());
      ASSERT_TRUE(answer.is_object());
      const json& ps = answer["o"][0]["ps"];
      if (c.present) {
        bytes = harness::ReadFile(path);
        EXPECT_EQ(ps.value("sha256", ""), harness::Sha256Hex(bytes));
      } else {
        EXPECT_FALSE(ps.contains("sha256")) << ps.dump();
      }
    }
    // Read again once for a changed file, however many answers follow.
    const std::size_t now = Count(service.output(), read_line);
    EXPECT_EQ(now, reads + (changed ? 1 : 0)) << service.output();
    reads = now;
  }
}

TEST(Digests, StatedOnesGoOutForFilesElsewhere) {
  const std::string upper(64, 'A');
  const std::string lower(64, 'a');
  const std::string de_digest = std::string(63, '0') + "1";
  json c = CampaignWith("https://cdn.example.com/p.exe", "https://cdn.example.com/o.exe");
  c["product"]["sha256"] = upper;
  c["product"]["by_language"]["de"] = {{"cu", "https://cdn.example.com/p-de.exe"},
                                       {"sha256", de_digest}};
  c["product"]["by_language"]["fr"] = {{"cu", "installers/p-fr.exe"}};
  c["product"]["by_language"]["es"] = {{"cu", "https://cdn.example.com/p-es.exe"}};
  json& offers = c["offers"];
  offers[0]["package"]["ps"]["sha256"] = de_digest;
  json served = offers[0];
  served["package"]["ad"]["o"] = "served";
  served["package"]["ps"]["u"] = "installers/o.exe";
  served["package"]["ps"]["sha256"] = harness::Sha256Hex("offer bytes");  // right, so it starts
  for (char& ch : served["package"]["ps"]["sha256"].get_ref<std::string&>()) ch = static_cast<char>(std::toupper(ch));
  offers.push_back(served);
  json unstated = offers[0];
  unstated["package"]["ad"]["o"] = "unstated";
  unstated["package"]["ps"].erase("sha256");
  offers.push_back(unstated);
  json placeholder = unstated;
  placeholder["package"]["ad"]["o"] = "placeholder";
  placeholder["package"]["ps"]["u"] = "installers/{cc}/o.exe";
  offers.push_back(placeholder);

  harness::Sandbox box(c);
  harness::WriteFile(box.files + "/installers/o.exe", "offer bytes");
  harness::WriteFile(box.files + "/installers/p-fr.exe", "french product");
  harness::WriteFile(box.files + "/installers/{cc}/o.exe", "a file named like the placeholder");
  harness::Service service(box.Args());
  ASSERT_TRUE(service.started()) << service.output();

  const json en = AskFor(service.port(), "en");
  ASSERT_TRUE(en.is_object());
  EXPECT_EQ(en["i"].value("sha256", ""), lower);
  std::map<std::string, json> ps;
  for (const json& o : en["o"]) ps[o["ad"]["o"].get<std::string>()] = o["ps"];
  EXPECT_EQ(ps["all"].value("sha256", ""), de_digest);
  EXPECT_EQ(ps["served"].value("sha256", ""), harness::Sha256Hex("offer bytes"));
  EXPECT_FALSE(ps["unstated"].contains("sha256"));
  // The wizard fills in {cc}: which file it fetches is not known here.
  EXPECT_FALSE(ps["placeholder"].contains("sha256"));

  // A language's own download brings its own digest, or none.
  struct Language {
    const char* language;
    std::string cu_end;
    std::optional<std::string> sha256;
  };
  const Language languages[] = {
      {"de", "p-de.exe", de_digest},
      {"fr", "/f/installers/p-fr.exe", harness::Sha256Hex("french product")},
      {"es", "p-es.exe", std::nullopt},
  };
  for (const Language& l : languages) {
    SCOPED_TRACE(l.language);
    const json answer = AskFor(service.port(), l.language);
    ASSERT_TRUE(answer.is_object());
    const std::string cu = answer["i"]["cu"];
    EXPECT_EQ(cu.compare(cu.size() - l.cu_end.size(), l.cu_end.size(), l.cu_end), 0) << cu;
    if (l.sha256) {
      EXPECT_EQ(answer["i"].value("sha256", ""), *l.sha256);
    } else {
      EXPECT_FALSE(answer["i"].contains("sha256")) << answer["i"].dump();
    }
  }
}

TEST(Digests, AMalformedOrWrongStatedOneStopsTheStartAndNamesThePlace) {
  const std::string served_actual = harness::Sha256Hex("offer bytes");
  const std::string wrong(64, 'b');
  struct Case {
    std::string where;
    std::function<void(json&)> spoil;
  };
  const Case cases[] = {
      {"offers[0].package.ps.sha256: expected 64 hexadecimal digits",
       [](json& c) { c["offers"][0]["package"]["ps"]["sha256"] = std::string(63, 'a'); }},
      {"product.sha256: expected 64 hexadecimal digits",
       [](json& c) { c["product"]["sha256"] = std::string(63, 'a') + "g"; }},
      {"offers[1].package.ps.sha256: expected a string",
       [](json& c) { c["offers"][1]["package"]["ps"]["sha256"] = 12345; }},
      {"product.by_language.de.sha256: expected 64 hexadecimal digits",
       [](json& c) { c["product"]["by_language"]["de"]["sha256"] = " " + std::string(64, 'a'); }},
      {"by_tag.ab-1234.offers[0].package.ps.sha256: expected 64 hexadecimal digits",
       [](json& c) {
         json inner = c;
         inner.erase("by_tag");
         inner["offers"][0]["package"]["ps"]["sha256"] = "sha256:" + std::string(64, 'a');
         c["by_tag"]["ab-1234"] = inner;
       }},
      {"offers[0].package.ps.sha256: the file /f/installers/all.exe this service serves has the "
       "SHA-256 " + served_actual + ", not " + wrong,
       [&](json& c) { c["offers"][0]["package"]["ps"]["sha256"] = wrong; }},
      {"product.sha256: the file /f/installers/product.exe this service serves has the SHA-256",
       [&](json& c) { c["product"]["sha256"] = wrong; }},
      {"product.by_language.de.sha256: the file /f/installers/product.exe",
       [&](json& c) { c["product"]["by_language"]["de"]["sha256"] = wrong; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.where);
    json campaign = harness::TestCampaign();
    c.spoil(campaign);
    harness::Sandbox box(campaign);
    harness::WriteFile(box.files + "/installers/all.exe", "offer bytes");
    harness::WriteFile(box.files + "/installers/product.exe", "product bytes");
    harness::RunResult r = harness::Run({"--cert", harness::CertFile(), "--key", harness::KeyFile(),
                                         "--port", "0", "--campaign", box.campaign, "--db", box.db,
                                         "--files", box.files});
    EXPECT_EQ(r.exit_code, 1) << r.output;
    EXPECT_NE(r.output.find(c.where), std::string::npos) << r.output;
  }
}

}  // namespace
