// The event endpoint, POST /zbd, its storage and the report over it.
#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "harness.h"

using harness::json;

namespace {

class Events : public ::testing::Test {
 protected:
  void SetUp() override {
    service_ = std::make_unique<harness::Service>(box_.Args({"--max-body", "4096"}));
    ASSERT_TRUE(service_->started()) << service_->output();
  }
  int port() const { return service_->port(); }

  harness::Sandbox box_;
  std::unique_ptr<harness::Service> service_;
};

json CodesOf(const json& report, const std::string& offer) {
  for (const auto& o : report.at("offers")) {
    if (o.at("offer") == offer) return o;
  }
  return json();
}

TEST_F(Events, SignedEventsAreStoredWholeAndReported) {
  json main_started = harness::EventBody("1", "Test Product", {{"10", 1}, {"18", ""}});
  const json events[] = {
      main_started,
      harness::EventBody("2", "offer-a", {{"13", "FILE EXISTS"}}),
      harness::EventBody("2", "offer-a", {{"13", "FILE EXISTS"}}),
      harness::EventBody("2", "offer-a", {{"13", "SKIP ALL CLICKED"}}),
      harness::EventBody("4", "offer-b"),
      harness::EventBody("3", "offer-b"),
      harness::EventBody("-1", "offer-c", {{"12", "DOWNLOAD FAILED: 404"}}),
      harness::EventBody("5", "offer-c"),
  };
  for (const json& e : events) {
    harness::Posted p = harness::PostSignedEvent(port(), e);
    ASSERT_EQ(p.status, 200) << p.body;
  }

  auto rows = harness::EventRows(box_.db);
  ASSERT_EQ(rows.size(), std::size(events));
  // The body is kept byte for byte as the client serialised it.
  EXPECT_EQ(rows[1]["data"], events[1].dump());
  EXPECT_EQ(rows[1]["code"], "2");
  EXPECT_EQ(rows[1]["offer_id"], "offer-a");
  EXPECT_EQ(rows[1]["feed_id"], "feed-1");
  EXPECT_EQ(rows[1]["reason"], "FILE EXISTS");
  EXPECT_EQ(rows[1]["failure"], "");
  EXPECT_EQ(rows[1]["kind"], "2");
  EXPECT_EQ(rows[1]["machine_id"], "4c4c4544-0031-3510-8052-b2c04f4e3132");
  EXPECT_EQ(rows[1]["run_stamp"], "20240314151617");
  EXPECT_EQ(rows[6]["code"], "-1");
  EXPECT_EQ(rows[6]["failure"], "DOWNLOAD FAILED: 404");
  EXPECT_EQ(rows[0]["kind"], "1");
  EXPECT_TRUE(std::regex_match(rows[0]["received_at"],
                               std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)")))
      << rows[0]["received_at"];

  json report = harness::Report(box_.db);
  EXPECT_EQ(report.at("events"), std::size(events));
  ASSERT_EQ(report.at("offers").size(), 4u);
  // The main product comes first.
  EXPECT_EQ(report.at("offers").at(0).at("offer"), "Test Product");
  EXPECT_EQ(report.at("offers").at(0).at("main"), true);

  json a = CodesOf(report, "offer-a");
  EXPECT_EQ(a.at("codes"),
            (json{{"-1", 0}, {"1", 0}, {"2", 3}, {"3", 0}, {"4", 0}, {"5", 0}}));
  EXPECT_EQ(a.at("reasons"), (json::array({{{"text", "FILE EXISTS"}, {"count", 2}},
                                           {{"text", "SKIP ALL CLICKED"}, {"count", 1}}})));
  json b = CodesOf(report, "offer-b");
  EXPECT_EQ(b.at("codes").at("3"), 1);
  EXPECT_EQ(b.at("codes").at("4"), 1);
  EXPECT_EQ(b.at("total"), 2);
  json c = CodesOf(report, "offer-c");
  EXPECT_EQ(c.at("codes").at("-1"), 1);
  EXPECT_EQ(c.at("failures"),
            (json::array({{{"text", "DOWNLOAD FAILED: 404"}, {"count", 1}}})));

  // The table a publisher reads.
  harness::RunResult text = harness::Run({"report", "--db", box_.db});
  ASSERT_EQ(text.exit_code, 0) << text.output;
  EXPECT_NE(text.output.find("8 events"), std::string::npos) << text.output;
  EXPECT_TRUE(std::regex_search(text.output,
                                std::regex(R"(\noffer-a +0 +3 +0 +0 +0 +0 +3\n)")))
      << text.output;
  EXPECT_TRUE(std::regex_search(text.output, std::regex(R"(\n +2  FILE EXISTS\n)")))
      << text.output;
  EXPECT_NE(text.output.find("DOWNLOAD FAILED: 404"), std::string::npos);
}

TEST_F(Events, RefusedDocumentsAreStoredNowhere) {
  const json good = harness::EventBody("2", "offer-a", {{"13", "FILE EXISTS"}});
  const std::string good_doc = harness::EventDocument(good);
  const std::string good_sig = harness::SignatureFor(good["1"], good["2"]);
  auto doc = [](const json& d) { return d.dump(); };
  auto with = [&](const char* key, const json& value) {
    json body = good;
    body[key] = value;
    return harness::EventDocument(body);
  };
  json no_machine = good;
  no_machine.erase("1");

  struct Case {
    const char* what;
    std::string document;
    std::string authorization;
    int status;
  };
  const Case cases[] = {
      {"wrong signature", good_doc, harness::SignatureFor("someone-else", good["2"]), 403},
      {"signature of the stamp alone", good_doc, harness::SignatureFor("", good["2"]), 403},
      {"signature in upper case", good_doc,
       "Signature=" + [&] {
         std::string s = harness::Sha256Hex(good["1"].get<std::string>() +
                                            good["2"].get<std::string>());
         for (char& ch : s) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
         return s;
       }(),
       403},
      {"no Authorization", good_doc, "", 401},
      {"bearer instead of signature", good_doc, "Bearer abc", 401},
      {"body not JSON", "data=1&table=zb_analytics", good_sig, 400},
      {"truncated document", good_doc.substr(0, good_doc.size() / 2), good_sig, 400},
      {"document without table", doc({{"data", good.dump()}}), good_sig, 400},
      {"document without data", doc({{"table", "zb_analytics"}}), good_sig, 400},
      {"other table", doc({{"data", good.dump()}, {"table", "zb_other"}}), good_sig, 400},
      {"third key", doc({{"data", good.dump()}, {"table", "zb_analytics"}, {"x", 1}}), good_sig,
       400},
      {"data as an object", doc({{"data", good}, {"table", "zb_analytics"}}), good_sig, 400},
      {"data not JSON", doc({{"data", "not json"}, {"table", "zb_analytics"}}), good_sig, 400},
      {"data an array", doc({{"data", "[1,2]"}, {"table", "zb_analytics"}}), good_sig, 400},
      {"document an array", doc(json::array({good.dump(), "zb_analytics"})), good_sig, 400},
      {"event without machine id", harness::EventDocument(no_machine), good_sig, 400},
      {"unknown event code", with("6", "7"), good_sig, 400},
      {"code as a number", with("6", 2), good_sig, 400},
      {"reason not a string", with("13", json::array({"FILE EXISTS"})), good_sig, 400},
      {"a NUL in the offer id", with("5", std::string("offer\0a", 7)), good_sig, 400},
      {"a NUL in the failure text", with("12", std::string("\0", 1)), good_sig, 400},
      {"over-large body", harness::EventDocument(harness::EventBody(
                              "2", "offer-a", {{"13", std::string(8000, 'r')}})),
       good_sig, 413},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    harness::Posted p = harness::PostEvent(port(), c.document, c.authorization);
    EXPECT_EQ(p.status, c.status) << p.body;
    EXPECT_GT(p.body.size(), 1u) << "no reason given";
  }
  EXPECT_EQ(harness::CountEvents(box_.db), 0);

  // Still serving, and the same event signed properly is taken.
  harness::Posted p = harness::PostEvent(port(), good_doc, good_sig);
  EXPECT_EQ(p.status, 200) << p.body;
  EXPECT_EQ(harness::CountEvents(box_.db), 1);
  EXPECT_TRUE(service_->Running());
}

TEST_F(Events, EmptyMachineIdSignsTheTimestampAlone) {
  // printf 20240102030405 | sha256sum
  const json body = harness::EventBody("1", "", {}, "", "20240102030405");
  harness::Posted p = harness::PostEvent(
      port(), harness::EventDocument(body),
      "Signature=11bb7405a5eec69e50ea3739ddf3b50dbea73f29529974f57f778246e4c1aaca");
  EXPECT_EQ(p.status, 200) << p.body;
  EXPECT_EQ(harness::CountEvents(box_.db), 1);
}

TEST_F(Events, ExpectContinuePathStoresAndRefusesLikeThePlainOne) {
  auto exchange = [&](const std::string& document, const std::string& authorization) {
    return harness::RawExchange(
        port(), "POST /zbd HTTP/1.1\r\nHost: localhost\r\nAuthorization: " + authorization +
                    "\r\nExpect: 100-continue\r\nContent-Type: application/json\r\n"
                    "Content-Length: " + std::to_string(document.size()) +
                    "\r\nConnection: close\r\n\r\n" + document);
  };
  const json good = harness::EventBody("3", "offer-x");
  const std::string sig = harness::SignatureFor(good["1"], good["2"]);

  harness::RawResponse taken = exchange(harness::EventDocument(good), sig);
  ASSERT_TRUE(taken.ok) << taken.raw;
  EXPECT_EQ(taken.raw.rfind("HTTP/1.1 200 ", 0), 0u) << taken.raw;

  harness::RawResponse forged = exchange(harness::EventDocument(good), sig.substr(0, 20));
  EXPECT_EQ(forged.raw.rfind("HTTP/1.1 403 ", 0), 0u) << forged.raw;

  const std::string large =
      harness::EventDocument(harness::EventBody("3", "offer-x", {{"12", std::string(9000, 'f')}}));
  harness::RawResponse too_large = exchange(large, sig);
  EXPECT_EQ(too_large.raw.rfind("HTTP/1.1 413 ", 0), 0u) << too_large.raw;

  auto rows = harness::EventRows(box_.db);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0]["data"], good.dump());
}

TEST_F(Events, ConcurrentEventsAreAllStored) {
  constexpr int kThreads = 8;
  constexpr int kEach = 25;
  std::vector<std::thread> threads;
  std::vector<int> failures(kThreads, 0);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        json e = harness::EventBody("2", "offer-" + std::to_string(t),
                                    {{"13", "reason " + std::to_string(i % 3)}});
        if (harness::PostSignedEvent(port(), e).status != 200) ++failures[t];
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;
  EXPECT_EQ(harness::CountEvents(box_.db), kThreads * kEach);
  json report = harness::Report(box_.db);
  EXPECT_EQ(report.at("events"), kThreads * kEach);
  EXPECT_EQ(CodesOf(report, "offer-3").at("codes").at("2"), kEach);
}

TEST(Report, RefusesWhatIsNotAnEventDatabase) {
  harness::TempDir dir;
  harness::RunResult missing = harness::Run({"report", "--db", dir / "none.sqlite"});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_FALSE(missing.output.empty());
  harness::WriteFile(dir / "text.sqlite", "this is not a database file at all, not even close");
  harness::RunResult text = harness::Run({"report", "--db", dir / "text.sqlite"});
  EXPECT_EQ(text.exit_code, 1);
}

}  // namespace
