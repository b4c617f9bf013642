// The publisher's report page, GET /report: its token, and its numbers as a
// real browser shows them against what the database holds.
#include <gtest/gtest.h>

#include <ctime>
#include <regex>
#include <string>
#include <vector>

#include "browser.h"
#include "harness.h"
#include "page.h"

using harness::json;

namespace {

const char kToken[] = "t0k3n-for-the-report-page_42";

// A day relative to today, UTC, as the service stamps events.
std::string Day(int days_from_today) {
  std::time_t t = std::time(nullptr) + static_cast<std::time_t>(days_from_today) * 86400;
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[16];
  std::strftime(buf, sizeof buf, "%Y-%m-%d", &tm);
  return buf;
}

struct Sent {
  std::string code;
  std::string offer;
  int run;  // machine "m<run>", stamp "2024031415<run>"
  json extra = json::object();
};

json BodyOf(const Sent& s) {
  json extra = s.extra;
  if (!extra.contains("10")) extra["10"] = 2;
  return harness::EventBody(s.code, s.offer, extra, "machine-" + std::to_string(s.run),
                            "202403141516" + std::to_string(10 + s.run));
}

// Runs of a wizard with every outcome the page tells apart: the main
// product's four, an offer's funnel, reasons, failures, an event sent twice,
// and texts that would be markup.
std::vector<Sent> Walkthroughs() {
  const json main = {{"10", 1}, {"18", ""}};
  auto with = [](json base, const char* key, const char* value) {
    base[key] = value;
    return base;
  };
  return {
      {"1", "", 1, main}, {"1", "", 2, main}, {"1", "", 3, main}, {"1", "", 4, main},
      {"1", "", 5, main},
      {"3", "Test Product", 1, main},
      {"3", "Test Product", 2, main},
      {"3", "Test Product", 3, with(main, "12", "DOWNLOAD FAILED: 404 - Not Found")},
      {"5", "Test Product", 4, main},
      {"3", "offer-a", 1},
      {"3", "offer-a", 1},  // delivered twice: one run
      {"4", "offer-a", 2},
      {"5", "offer-a", 3},
      {"-1", "offer-a", 4, {{"12", "DOWNLOAD FAILED: 12002 - timeout"}}},
      {"2", "offer-a", 5, {{"13", "FILE EXISTS"}}},
      {"2", "offer-b", 1, {{"13", "SKIP ALL CLICKED"}}},
      {"2", "offer-b", 2, {{"13", "FILE EXISTS"}}},
      {"2", "offer-b", 3, {{"13", "FILE EXISTS"}}},
      {"4", "offer-b", 4},
      {"2", "<b>\"o&'</b>", 1, {{"13", "<script>alert(1)</script>"}}},
  };
}

class ReportPage : public ::testing::Test {
 protected:
  void SetUp() override {
    harness::WriteFile(token_file_, std::string(kToken) + "\n");
    service_ = std::make_unique<harness::Service>(
        box_.Args({"--quiet", "--report-token-file", token_file_}));
    ASSERT_TRUE(service_->started()) << service_->output();
  }
  int port() const { return service_->port(); }
  std::string Url(const std::string& credentials, const std::string& query = "") const {
    return "https://" + credentials + "localhost:" + std::to_string(port()) + "/report" + query;
  }
  void Load() {
    for (const Sent& s : Walkthroughs()) {
      harness::Posted p = harness::PostSignedEvent(port(), BodyOf(s));
      ASSERT_EQ(p.status, 200) << p.body;
    }
    // Yesterday's: a run whose offer's installer started, and its main product.
    for (const auto& [code, offer, kind] : {std::make_tuple("3", "offer-a", "2"),
                                            std::make_tuple("1", "", "1")}) {
      harness::InsertRow(box_.db, {{"received_at", Day(-1) + "T23:59:59.999Z"},
                                   {"code", code},
                                   {"offer_id", offer},
                                   {"feed_id", ""},
                                   {"kind", kind},
                                   {"reason", ""},
                                   {"failure", ""},
                                   {"machine_id", "machine-9"},
                                   {"run_stamp", "20240313235959"},
                                   {"remote_addr", "127.0.0.1"},
                                   {"data", "{}"}});
    }
  }

  harness::Sandbox box_;
  std::string token_file_ = box_.dir / "report.token";
  std::unique_ptr<harness::Service> service_;
};

TEST_F(ReportPage, AsksForItsTokenAndTakesItOnlyWhole) {
  const std::string t = kToken;
  struct Case {
    const char* what;
    std::string authorization;
    int status;
  };
  const Case cases[] = {
      {"no Authorization", "", 401},
      {"Bearer with the token", "Bearer " + t, 200},
      {"scheme in lower case", "bearer " + t, 200},
      {"Basic, the token as password", harness::BasicAuth("publisher", t), 200},
      {"Basic without a user name", harness::BasicAuth("", t), 200},
      {"Basic, the token as user name", harness::BasicAuth(t, ""), 401},
      {"Basic, a wrong password", harness::BasicAuth("publisher", "wrong-token-wrong-token"), 401},
      {"the token without its last character", "Bearer " + t.substr(0, t.size() - 1), 401},
      {"the token and one more", "Bearer " + t + "x", 401},
      {"the token in upper case", "Bearer T0K3N-FOR-THE-REPORT-PAGE_42", 401},
      {"Bearer and nothing", "Bearer ", 401},
      {"Basic that is no base64", "Basic !!" + t, 401},
      {"the token without a scheme", t, 401},
      {"the event signature's form", "Signature=" + t, 401},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    harness::Page page = harness::GetPage(port(), "/report", c.authorization);
    EXPECT_EQ(page.status, c.status) << page.body;
    auto header = [&](const char* name) {
      auto it = page.headers.find(name);
      return it == page.headers.end() ? std::string() : it->second;
    };
    // Nothing of the page is kept or framed, answered or refused.
    EXPECT_EQ(header("Cache-Control"), "no-store");
    EXPECT_NE(header("Content-Security-Policy").find("default-src 'none'"), std::string::npos);
    if (c.status == 401) {
      EXPECT_EQ(header("WWW-Authenticate").rfind("Basic realm=", 0), 0u);
      EXPECT_EQ(page.body.find("Tamsel report"), std::string::npos);
    } else {
      EXPECT_EQ(header("Content-Type"), "text/html; charset=utf-8");
      EXPECT_NE(page.body.find("<title>Tamsel report</title>"), std::string::npos);
    }
  }

  struct Other {
    const char* what;
    std::string method, target;
    int status;
  };
  const Other others[] = {
      {"POST", "POST", "/report", 405},
      {"a day that does not exist", "GET", "/report?from=2024-02-30", 400},
      {"a day in another form", "GET", "/report?to=14.03.2024", 400},
      {"two starts", "GET", "/report?from=2024-03-01&from=2024-03-02", 400},
      {"a leap day", "GET", "/report?from=2024-02-29&to=2024-03-01", 200},
  };
  for (const Other& o : others) {
    SCOPED_TRACE(o.what);
    auto c = harness::Client(port());
    httplib::Headers h = {{"Authorization", "Bearer " + t}};
    auto res = o.method == "POST" ? c->Post(o.target, h, "", "text/plain") : c->Get(o.target, h);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, o.status) << res->body;
  }
}

TEST(ReportPageOff, IsNotServedWithoutAToken) {
  harness::Sandbox box;
  harness::Service service(box.Args({"--quiet"}));
  ASSERT_TRUE(service.started()) << service.output();
  EXPECT_EQ(service.output().find("/report"), std::string::npos) << service.output();
  for (const std::string& authorization : {std::string(), "Bearer " + std::string(kToken)}) {
    harness::Page page = harness::GetPage(service.port(), "/report", authorization);
    EXPECT_EQ(page.status, 404) << page.body;
  }
}

TEST(ReportPageOff, AnUnusableTokenFileStopsTheStart) {
  struct Case {
    const char* what;
    const char* content;  // nullptr: no file
  };
  const Case cases[] = {
      {"no file", nullptr},
      {"empty", ""},
      {"shorter than 16", "fifteen-chars-x\n"},
      {"a space inside", "a token with spaces in it\n"},
      {"two lines", "first-line-of-a-token\nsecond-line-of-a-token\n"},
      {"a control character", "token-with-a\ttab-inside\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    harness::Sandbox box;
    const std::string file = box.dir / "token";
    if (c.content) harness::WriteFile(file, c.content);
    harness::RunResult r = harness::Run(
        {"--cert", harness::CertFile(), "--key", harness::KeyFile(), "--port", "0", "--campaign",
         box.campaign, "--db", box.db, "--report-token-file", file});
    EXPECT_EQ(r.exit_code, 1) << r.output;
    EXPECT_NE(r.output.find(file), std::string::npos) << r.output;
  }
}

TEST_F(ReportPage, MarkupInEventTextsStaysText) {
  ASSERT_NO_FATAL_FAILURE(Load());
  harness::Page page = harness::GetPage(port(), "/report", "Bearer " + std::string(kToken));
  ASSERT_EQ(page.status, 200);
  EXPECT_EQ(page.body.find("<script"), std::string::npos);
  EXPECT_EQ(page.body.find("<b>"), std::string::npos);
  EXPECT_NE(page.body.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
  EXPECT_NE(page.body.find("&lt;b&gt;&quot;o&amp;&#39;&lt;/b&gt;"), std::string::npos);
}

// The reasons are ranked: the chart sums each over every offer, most runs
// first, and the table lists each reason and offer the same way; ties go by
// the reason's text.
TEST_F(ReportPage, RanksTheReasonsMostFrequentFirst) {
  ASSERT_NO_FATAL_FAILURE(Load());
  // A reason that no single offer ranks first but all of them together do.
  for (const Sent& s : {Sent{"2", "offer-a", 6, {{"13", "SKIP ALL CLICKED"}}},
                        Sent{"2", "offer-a", 7, {{"13", "SKIP ALL CLICKED"}}},
                        Sent{"2", "offer-c", 1, {{"13", "SKIP ALL CLICKED"}}}}) {
    ASSERT_EQ(harness::PostSignedEvent(port(), BodyOf(s)).status, 200);
  }
  harness::Page page = harness::GetPage(port(), "/report", "Bearer " + std::string(kToken));
  ASSERT_EQ(page.status, 200);
  const std::size_t start = page.body.find("<section id=\"reasons\">");
  ASSERT_NE(start, std::string::npos);
  const std::string section = page.body.substr(start, page.body.find("</section>", start) - start);

  std::vector<std::string> bars;
  const std::regex label("text-anchor=\"end\">([^<]*)</text>");
  for (std::sregex_iterator it(section.begin(), section.end(), label), end; it != end; ++it) {
    bars.push_back((*it)[1]);
  }
  EXPECT_EQ(bars, (std::vector<std::string>{"SKIP ALL CLICKED", "FILE EXISTS",
                                            "&lt;script&gt;alert(1)&lt;/script&gt;"}));

  std::vector<std::string> rows;
  const std::regex row("<tr class=\"reason\" data-reason=\"([^\"]*)\" data-offer=\"([^\"]*)\">.*?"
                       "<td class=\"n\">([0-9]+)</td>");
  for (std::sregex_iterator it(section.begin(), section.end(), row), end; it != end; ++it) {
    rows.push_back((*it)[1].str() + " / " + (*it)[2].str() + " / " + (*it)[3].str());
  }
  EXPECT_EQ(rows, (std::vector<std::string>{
                      "FILE EXISTS / offer-b / 2",
                      "SKIP ALL CLICKED / offer-a / 2",
                      "&lt;script&gt;alert(1)&lt;/script&gt; / &lt;b&gt;&quot;o&amp;&#39;&lt;/b&gt; / 1",
                      "FILE EXISTS / offer-a / 1",
                      "SKIP ALL CLICKED / offer-b / 1",
                      "SKIP ALL CLICKED / offer-c / 1",
                  }));
}

TEST_F(ReportPage, ShowsInChromiumWhatTheDatabaseHolds) {
  ASSERT_NO_FATAL_FAILURE(Load());
  harness::Browser browser;
  if (browser.missing()) GTEST_SKIP() << browser.error();
  ASSERT_TRUE(browser.error().empty()) << browser.error();

  // Refused without the token and with a wrong one: no page of numbers.
  for (const std::string& credentials : {std::string(), std::string("publisher:not-the-token@")}) {
    SCOPED_TRACE("credentials: " + credentials);
    ASSERT_TRUE(browser.Open(Url(credentials)));
    EXPECT_EQ(browser.Run("return document.querySelectorAll('[data-step]').length"), 0);
    EXPECT_NE(browser.Run("return document.title"), "Tamsel report");
  }
  browser.Console();  // the refusals' own entries

  const harness::Rows rows = harness::EventRows(box_.db);
  struct View {
    const char* what;
    std::string query, from, to;
  };
  const View views[] = {
      {"all days", "", "", ""},
      {"yesterday only", "?from=" + Day(-1) + "&to=" + Day(-1), Day(-1), Day(-1)},
      {"from today", "?from=" + Day(0), Day(0), ""},
      {"days without events", "?from=2001-01-01&to=2001-12-31", "2001-01-01", "2001-12-31"},
  };
  for (const View& v : views) {
    SCOPED_TRACE(v.what);
    ASSERT_TRUE(browser.Open(Url(std::string("publisher:") + kToken + "@", v.query)));
    EXPECT_EQ(browser.Run("return document.title"), "Tamsel report");
    harness::PageNumbers shown;
    const json numbers = browser.Run(harness::kNumbersScript);
    ASSERT_TRUE(numbers.is_array()) << numbers.dump();
    for (const json& pair : numbers) {
      shown[pair[0].get<std::string>()] = std::stoll(pair[1].get<std::string>());
    }
    const harness::PageNumbers expected = harness::ExpectedPage(rows, v.from, v.to);
    EXPECT_EQ(harness::Differences(expected, shown), "");

    // The charts are drawn: one for the main product, one per offer, one
    // for the reasons, each with a bar per step, and none of them empty.
    const json charts = browser.Run(
        "return Array.from(document.querySelectorAll('svg.chart')).map(s => "
        "[s.getBoundingClientRect().width, s.getBoundingClientRect().height, "
        "s.querySelectorAll('rect').length])");
    ASSERT_TRUE(charts.is_array());
    std::size_t offers = 0;
    bool main = false;
    bool reasons = false;
    for (const auto& [key, value] : expected) {
      offers += key.rfind("offer|", 0) == 0 && key.size() > 13 &&
                key.compare(key.size() - 12, 12, "|total|shown") == 0;
      main = main || key.rfind("main|", 0) == 0;
      reasons = reasons || key.rfind("reason|", 0) == 0;
    }
    EXPECT_EQ(charts.size(), offers + (main ? 1 : 0) + (reasons ? 1 : 0)) << charts.dump();
    for (const json& c : charts) {
      EXPECT_GT(c[0].get<double>(), 100.0) << c.dump();
      EXPECT_GT(c[1].get<double>(), 20.0) << c.dump();
      EXPECT_GE(c[2].get<int>(), 1) << c.dump();
    }

    // The page loaded cleanly: nothing refused by its policy, nothing missing.
    for (const json& entry : browser.Console()) {
      const std::string level = entry.value("level", "");
      EXPECT_TRUE(level != "SEVERE" && level != "WARNING") << entry.dump();
    }
  }

  // What would be markup is shown as the text it is.
  ASSERT_TRUE(browser.Open(Url(std::string("publisher:") + kToken + "@")));
  const json texts = browser.Run("return document.body.innerText");
  ASSERT_TRUE(texts.is_string());
  EXPECT_NE(texts.get<std::string>().find("<script>alert(1)</script>"), std::string::npos);
  EXPECT_NE(texts.get<std::string>().find("<b>\"o&'</b>"), std::string::npos);
}

}  // namespace
