// Starting, stopping and restarting the service; its command line.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "harness.h"

using harness::json;

namespace {

std::string IntegrityCheck(const std::string& db) {
  sqlite3* h = nullptr;
  sqlite3_open_v2(db.c_str(), &h, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* st = nullptr;
  std::string result = "no answer";
  if (sqlite3_prepare_v2(h, "PRAGMA integrity_check", -1, &st, nullptr) == SQLITE_OK &&
      sqlite3_step(st) == SQLITE_ROW) {
    result = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
  }
  sqlite3_finalize(st);
  sqlite3_close(h);
  return result;
}

json Event(int n) {
  return harness::EventBody("2", "offer-" + std::to_string(n % 2),
                            {{"13", "reason " + std::to_string(n)}});
}

TEST(Lifecycle, RestartOnTheSameDatabaseKeepsEveryEvent) {
  harness::Sandbox box;
  {
    harness::Service first(box.Args());
    ASSERT_TRUE(first.started()) << first.output();
    for (int i = 0; i < 3; ++i) ASSERT_EQ(harness::PostSignedEvent(first.port(), Event(i)).status, 200);
    EXPECT_EQ(first.Stop(), 0) << first.output();
  }
  {
    harness::Service second(box.Args());
    ASSERT_TRUE(second.started()) << second.output();
    for (int i = 3; i < 5; ++i) ASSERT_EQ(harness::PostSignedEvent(second.port(), Event(i)).status, 200);
    EXPECT_EQ(second.Stop(), 0) << second.output();
  }
  auto rows = harness::EventRows(box.db);
  ASSERT_EQ(rows.size(), 5u);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(rows[i]["data"], Event(i).dump());
  EXPECT_EQ(harness::Report(box.db).at("events"), 5);
  EXPECT_EQ(IntegrityCheck(box.db), "ok");
}

TEST(Lifecycle, TwoServicesShareOneDatabase) {
  harness::Sandbox box;
  harness::Service a(box.Args());
  harness::Service b(box.Args());
  ASSERT_TRUE(a.started()) << a.output();
  ASSERT_TRUE(b.started()) << b.output();
  std::vector<int> refused(2, 0);
  std::thread ta([&] {
    for (int i = 0; i < 40; ++i) refused[0] += harness::PostSignedEvent(a.port(), Event(i)).status != 200;
  });
  std::thread tb([&] {
    for (int i = 40; i < 80; ++i) refused[1] += harness::PostSignedEvent(b.port(), Event(i)).status != 200;
  });
  ta.join();
  tb.join();
  EXPECT_EQ(refused[0] + refused[1], 0);
  EXPECT_EQ(a.Stop(), 0);
  EXPECT_EQ(b.Stop(), 0);
  EXPECT_EQ(harness::CountEvents(box.db), 80);
}

TEST(Lifecycle, SigtermEndsCleanlyWithAConnectionOpen) {
  harness::Sandbox box;
  harness::Service service(box.Args());
  ASSERT_TRUE(service.started()) << service.output();
  auto client = harness::Client(service.port());
  client->set_keep_alive(true);
  auto res = client->Post("/zbd", {{"Authorization", harness::SignatureFor(Event(0)["1"], Event(0)["2"])}},
                          harness::EventDocument(Event(0)), "application/json");
  ASSERT_TRUE(res);
  ASSERT_EQ(res->status, 200);
  EXPECT_EQ(service.Stop(), 0) << service.output();
  EXPECT_NE(service.output().find("stopped"), std::string::npos) << service.output();
  EXPECT_EQ(harness::CountEvents(box.db), 1);
  EXPECT_EQ(IntegrityCheck(box.db), "ok");
}

TEST(Lifecycle, StopsOnSigtermRightAfterStart) {
  // The signal may land before the accept loop runs; it must still end it.
  harness::Sandbox box;
  for (int i = 0; i < 5; ++i) {
    harness::Service service(box.Args());
    ASSERT_TRUE(service.started()) << service.output();
    EXPECT_EQ(service.Stop(), 0) << service.output();
  }
}

TEST(Lifecycle, PortInUseIsReported) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(listen(fd, 1), 0);
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  const int port = ntohs(addr.sin_port);

  harness::Sandbox box;
  harness::RunResult r = harness::Run({"--cert", harness::CertFile(), "--key", harness::KeyFile(),
                                       "--port", std::to_string(port), "--campaign", box.campaign,
                                       "--db", box.db});
  close(fd);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find("cannot listen on 127.0.0.1:" + std::to_string(port)), std::string::npos)
      << r.output;
}

TEST(CommandLine, HelpListsEveryOption) {
  harness::RunResult r = harness::Run({"--help"});
  EXPECT_EQ(r.exit_code, 0);
  for (const char* option : {"--port", "--bind", "--cert", "--key", "--db", "--campaign", "--files",
                             "--country", "--max-body", "--files-rate", "--public-url", "--quiet", "--readback",
                             "--max-request-line", "--max-header-line", "--max-headers-size", "--max-headers",
                             "--header-time", "--body-time", "--max-connections", "--help", "report", "--json"}) {
    EXPECT_NE(r.output.find(option), std::string::npos) << option;
  }
}

TEST(CommandLine, MistakesExitWithUsageError) {
  harness::Sandbox box;
  const std::vector<std::vector<std::string>> cases = {
      {"--campaign", box.campaign},                        // no certificate
      {"--cert", "c", "--key", "k"},                       // no campaign
      {"--frobnicate"},
      {"--port", "70000", "--cert", "c", "--key", "k", "--campaign", box.campaign},
      {"--port", "44x", "--cert", "c", "--key", "k", "--campaign", box.campaign},
      {"--country", "USA", "--cert", "c", "--key", "k", "--campaign", box.campaign},
      {"--max-body", "1", "--cert", "c", "--key", "k", "--campaign", box.campaign},
      {"--files-rate", "-1", "--cert", "c", "--key", "k", "--campaign", box.campaign},
      {"report", "--port", "1"},
      {"report", "--readback"},
      {"--readback=1", "--cert", "c", "--key", "k", "--campaign", box.campaign},
      {"--port"},
      {"--max-headers", "0", "--cert", "c", "--key", "k", "--campaign", box.campaign},
      {"--header-time", "soon", "--cert", "c", "--key", "k", "--campaign", box.campaign},
      {"--body-time", "0", "--cert", "c", "--key", "k", "--campaign", box.campaign},
      {"--max-request-line", "9000", "--max-headers-size", "8192", "--cert", "c", "--key", "k",
       "--campaign", box.campaign},
      {"--public-url", "ftp://example.com", "--cert", "c", "--key", "k", "--campaign", box.campaign},
      {"--public-url", "https://", "--cert", "c", "--key", "k", "--campaign", box.campaign},
      {"--quiet=yes", "--cert", "c", "--key", "k", "--campaign", box.campaign},
      {"report", "--json=1"},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(args[0]);
    harness::RunResult r = harness::Run(args);
    EXPECT_EQ(r.exit_code, 2) << r.output;
    EXPECT_NE(r.output.find("--help"), std::string::npos) << r.output;
  }
}

TEST(CommandLine, ReportTakesItsDatabaseBeforeOrAfterTheWord) {
  harness::Sandbox box;
  {
    harness::Service service(box.Args());
    ASSERT_TRUE(service.started()) << service.output();
    ASSERT_EQ(harness::PostSignedEvent(service.port(), Event(1)).status, 200);
  }
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"report", "--db", box.db, "--json"}, {"--db", box.db, "report", "--json"},
           {"--db=" + box.db, "report", "--json"}}) {
    SCOPED_TRACE(args[0]);
    harness::RunResult r = harness::Run(args);
    ASSERT_EQ(r.exit_code, 0) << r.output;
    EXPECT_EQ(json::parse(r.output).at("events"), 1);
  }
}

TEST(CommandLine, UnusableCertificateStopsStart) {
  harness::Sandbox box;
  harness::RunResult r = harness::Run({"--cert", box.campaign, "--key", harness::KeyFile(), "--port",
                                       "0", "--campaign", box.campaign, "--db", box.db});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find("certificate"), std::string::npos) << r.output;
}

// The campaign again as its own campaign for the download tag ab-1234.
json& AsTagged(json& c) {
  const json copy = c;
  c["by_tag"]["ab-1234"] = copy;
  return c["by_tag"]["ab-1234"];
}

TEST(Campaign, MistakesStopStartAndNameThePlace) {
  struct Case {
    const char* where;  // expected in the message
    std::function<void(json&)> spoil;
  };
  const Case cases[] = {
      {"product: missing \"ct\"", [](json& c) { c["product"].erase("ct"); }},
      {"product.cu: must not be empty", [](json& c) { c["product"]["cu"] = ""; }},
      {"product: unknown key \"title\"", [](json& c) { c["product"]["title"] = "x"; }},
      {"flow.m: expected a 32-bit integer", [](json& c) { c["flow"]["m"] = "3"; }},
      {"flow.m: must not be negative", [](json& c) { c["flow"]["m"] = -1; }},
      {"offers[1].package.ps.disk: expected a non-negative integer",
       [](json& c) { c["offers"][1]["package"]["ps"]["disk"] = "100"; }},
      {"offers[0].package.ps.v: expected a 32-bit integer",
       [](json& c) { c["offers"][0]["package"]["ps"]["v"] = 5000000000LL; }},
      {"offers[0].package.ps.fe[0]: expected a string",
       [](json& c) { c["offers"][0]["package"]["ps"]["fe"] = json::array({1}); }},
      {"offers[0].package.ps.win64: expected true or false",
       [](json& c) { c["offers"][0]["package"]["ps"]["win64"] = 1; }},
      {"offers[2].package.ad: missing \"o\"",
       [](json& c) { c["offers"][2]["package"]["ad"].erase("o"); }},
      {"offers[0].package: missing \"ps\"", [](json& c) { c["offers"][0]["package"].erase("ps"); }},
      {"offers[0].package.ps: missing \"dn\"",
       [](json& c) { c["offers"][0]["package"]["ps"].erase("dn"); }},
      {"offers[0].package.ps.cmdu[0]: missing \"umd\"",
       [](json& c) {
         c["offers"][0]["package"]["ps"]["cmdu"] =
             json::array({{{"utr", "HKLM"}, {"utk", "k"}, {"utvn", "n"}, {"utvt", "t"}}});
       }},
      {"offers[0].package.ps.cfs.sied: expected true or false",
       [](json& c) {
         c["offers"][0]["package"]["ps"]["pn"] = true;
         c["offers"][0]["package"]["ps"]["cfs"] = {{"sied", "yes"}};
       }},
      {"offers[3].package.ad.o: offer id \"all\" is used twice",
       [](json& c) { c["offers"][3]["package"]["ad"]["o"] = "all"; }},
      {"offers[1].languages: expected two-letter codes",
       [](json& c) { c["offers"][1]["languages"] = {"english"}; }},
      {"offers[0]: unknown key \"langs\"", [](json& c) { c["offers"][0]["langs"] = {"en"}; }},
      {"campaign: unknown key \"offer\"", [](json& c) { c["offer"] = json::array(); }},
      // Campaigns by download tag are checked like the base one, their places
      // named under by_tag.
      {"by_tag.ab-1234.offers[0].package.ps.disk: expected a non-negative integer",
       [](json& c) { AsTagged(c)["offers"][0]["package"]["ps"]["disk"] = -5; }},
      {"by_tag.ab-1234.product.ct: must not be empty",
       [](json& c) { AsTagged(c)["product"]["ct"] = ""; }},
      {"by_tag.ab-1234.product.by_language.de: unknown key \"title\"",
       [](json& c) { AsTagged(c)["product"]["by_language"]["de"]["title"] = "x"; }},
      {"by_tag.ab-1234: missing \"flow\"",
       [](json& c) { AsTagged(c).erase("flow"); }},
      {"by_tag.ab-1234.flow.m: must not be negative",
       [](json& c) { AsTagged(c)["flow"]["m"] = -1; }},
      {"by_tag.ab-1234.offers[3].package.ad.o: offer id \"all\" is used twice",
       [](json& c) { AsTagged(c)["offers"][3]["package"]["ad"]["o"] = "all"; }},
      {"by_tag.ab-1234.country_by_language.de: expected a two-letter country code",
       [](json& c) { AsTagged(c)["country_by_language"]["de"] = "Germany"; }},
      {"by_tag.ab-1234: unknown key \"offer\"",
       [](json& c) { AsTagged(c)["offer"] = json::array(); }},
      {"by_tag.ab-1234: a tagged campaign has no \"by_tag\" of its own",
       [](json& c) {
         json inner = c;
         inner["by_tag"] = {{"cd-5678", c}};
         c["by_tag"]["ab-1234"] = inner;
       }},
      {"by_tag.ab-1234: expected an object", [](json& c) { c["by_tag"]["ab-1234"] = json::array(); }},
      {"campaign.by_tag: expected an object", [](json& c) { c["by_tag"] = "ab-1234"; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.where);
    json campaign = harness::TestCampaign();
    c.spoil(campaign);
    harness::Sandbox box(campaign);
    harness::RunResult r = harness::Run({"--cert", harness::CertFile(), "--key",
                                         harness::KeyFile(), "--port", "0", "--campaign",
                                         box.campaign, "--db", box.db});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.output.find(c.where), std::string::npos) << r.output;
  }

  // Only texts a wizard can send as its download tag.
  for (const char* tag : {"ab-12345", "ab12345", "ab-123", "", "ab_1234", "a/b-123", "ab-12:4", "ab-12\t4",
                          "\xc3\xa4" "b-123"}) {
    SCOPED_TRACE(tag);
    json campaign = harness::TestCampaign();
    json inner = campaign;
    campaign["by_tag"] = {{tag, inner}};
    harness::Sandbox box(campaign);
    harness::RunResult r = harness::Run({"--cert", harness::CertFile(), "--key",
                                         harness::KeyFile(), "--port", "0", "--campaign",
                                         box.campaign, "--db", box.db});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.output.find(std::string("by_tag.") + tag + ": expected a download tag"),
              std::string::npos)
        << r.output;
  }

  harness::Sandbox broken(json::object());
  harness::WriteFile(broken.campaign, "{\"product\": ");
  harness::RunResult r = harness::Run({"--cert", harness::CertFile(), "--key", harness::KeyFile(),
                                       "--port", "0", "--campaign", broken.campaign});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find("not valid JSON"), std::string::npos) << r.output;
}

}  // namespace
