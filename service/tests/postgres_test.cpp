// The event store on PostgreSQL: the same table and answers as on SQLite,
// several services on one database losing nothing, and the report page over
// it in a real browser.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <iostream>
#include <mutex>
#include <set>
#include <thread>

#include "browser.h"
#include "harness.h"
#include "page.h"
#include "postgres.h"

using harness::json;

namespace {

const char kToken[] = "token-of-the-postgres-tests";

#define REQUIRE_POSTGRES()                                                      \
  do {                                                                          \
    if (!harness::PostgresUnavailable().empty()) {                              \
      GTEST_SKIP() << harness::PostgresUnavailable();                          \
    }                                                                           \
  } while (false)

// The service's options for a sandbox's campaign and files, on PostgreSQL.
std::vector<std::string> OnPostgres(const harness::Sandbox& box, const harness::PgDatabase& db,
                                    std::vector<std::string> extra = {}) {
  std::vector<std::string> args = {"--campaign", box.campaign, "--files", box.files,
                                   "--postgres", db.conninfo()};
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

std::string TokenFile(const harness::Sandbox& box) {
  const std::string path = box.dir / "token";
  harness::WriteFile(path, std::string(kToken) + "\n");
  return path;
}

json RunBody(const std::string& code, const std::string& offer, int run, json extra = json::object()) {
  if (!extra.contains("10")) extra["10"] = 2;
  return harness::EventBody(code, offer, extra, "machine-" + std::to_string(run),
                            "20240314" + std::to_string(100000 + run));
}

// Events whose texts and keys exercise every column: missing keys, texts
// outside ASCII, quotes and markup, a long failure text, no kind at all.
std::vector<json> Mixed() {
  json no_kind = RunBody("4", "offer-b", 3);
  no_kind.erase("10");
  return {
      RunBody("1", "", 1, {{"10", 1}, {"18", ""}}),
      RunBody("3", "Tamsel Größe \"Demo\"", 1, {{"10", 1}, {"12", "EXEC FAILED: código 5"}}),
      RunBody("2", "offer-a", 1, {{"13", "FILE EXISTS"}}),
      RunBody("2", "offer-a", 2, {{"13", "FILE EXISTS"}}),
      RunBody("2", "offer-a", 3, {{"13", "<SKIP ALL CLICKED>"}}),
      RunBody("3", "offer-b", 1),
      RunBody("3", "offer-b", 1),
      RunBody("-1", "offer-b", 2, {{"12", "DOWNLOAD FAILED: " + std::string(3000, 'x')}}),
      RunBody("5", "offer-c", 1, {{"18", "feed-ß"}}),
      no_kind,
  };
}

json ReportJson(const std::vector<std::string>& store) {
  std::vector<std::string> args = {"report"};
  args.insert(args.end(), store.begin(), store.end());
  args.push_back("--json");
  harness::RunResult r = harness::Run(args);
  if (r.exit_code != 0) return json{{"failed", r.output}};
  json report = json::parse(r.output, nullptr, false);
  report.erase("database");
  return report;
}

TEST(Postgres, TheSameEventsGiveTheSameRowsReportsAndPageOnBothStores) {
  REQUIRE_POSTGRES();
  harness::Sandbox box;
  harness::PgDatabase pg;
  const std::string token = TokenFile(box);
  harness::Service sqlite(box.Args({"--quiet", "--readback", "--report-token-file", token}));
  harness::Service postgres(OnPostgres(box, pg, {"--quiet", "--readback", "--report-token-file", token}));
  ASSERT_TRUE(sqlite.started()) << sqlite.output();
  ASSERT_TRUE(postgres.started()) << postgres.output();
  EXPECT_NE(postgres.output().find("events in postgresql://tamsel@127.0.0.1:"), std::string::npos)
      << postgres.output();
  EXPECT_EQ(postgres.output().find("password"), std::string::npos) << postgres.output();

  for (const json& e : Mixed()) {
    for (harness::Service* s : {&sqlite, &postgres}) {
      harness::Posted p = harness::PostSignedEvent(s->port(), e);
      ASSERT_EQ(p.status, 200) << p.body;
    }
  }

  // Row for row the same, apart from when and from where each arrived.
  harness::Rows on_sqlite = harness::EventRows(box.db);
  harness::Rows on_postgres = pg.EventRows();
  ASSERT_EQ(on_sqlite.size(), Mixed().size());
  ASSERT_EQ(on_postgres.size(), on_sqlite.size());
  for (std::size_t i = 0; i < on_sqlite.size(); ++i) {
    SCOPED_TRACE("row " + std::to_string(i));
    for (harness::Rows* rows : {&on_sqlite, &on_postgres}) {
      EXPECT_EQ((*rows)[i].size(), 12u);
      (*rows)[i].erase("received_at");
    }
    EXPECT_EQ(on_sqlite[i], on_postgres[i]);
  }

  // The report, as JSON and as the table, and the read-back.
  const json from_sqlite = ReportJson({"--db", box.db});
  EXPECT_EQ(from_sqlite, ReportJson({"--postgres", pg.conninfo()}));
  EXPECT_EQ(from_sqlite.value("events", 0), static_cast<int>(Mixed().size())) << from_sqlite.dump();
  harness::RunResult text_sqlite = harness::Run({"report", "--db", box.db});
  harness::RunResult text_postgres = harness::Run({"report", "--postgres", pg.conninfo()});
  ASSERT_EQ(text_postgres.exit_code, 0) << text_postgres.output;
  EXPECT_EQ(text_sqlite.output.substr(text_sqlite.output.find('\n')),
            text_postgres.output.substr(text_postgres.output.find('\n')));
  for (const char* offer : {"offer-a", "offer-b", "Tamsel%20Gr%C3%B6%C3%9Fe%20%22Demo%22"}) {
    SCOPED_TRACE(offer);
    std::string answers[2];
    int i = 0;
    for (harness::Service* s : {&sqlite, &postgres}) {
      auto res = harness::Client(s->port())->Post(std::string("/events?offer=") + offer, "", "text/plain");
      ASSERT_TRUE(res);
      EXPECT_EQ(res->status, 200);
      answers[i++] = res->body;
    }
    EXPECT_EQ(answers[0], answers[1]);
    EXPECT_NE(answers[0], "[]");
  }

  // The page: the numbers the rows call for, on both.
  const harness::PageNumbers expected = harness::ExpectedPage(harness::EventRows(box.db));
  for (harness::Service* s : {&sqlite, &postgres}) {
    harness::Page page = harness::GetPage(s->port(), "/report", "Bearer " + std::string(kToken));
    ASSERT_EQ(page.status, 200) << page.body;
    EXPECT_EQ(harness::Differences(expected, harness::NumbersOfHtml(page.body)), "");
  }
}

struct Load {
  std::mutex mutex;
  std::set<std::string> answered;  // "machine|stamp|code" of the events answered 200
  std::atomic<int> refused{0};
  std::atomic<int> count{0};
};

// Clients that post events to the given ports in turn, over kept-alive
// connections, until each has sent per_client or stop is set.
void Drive(const std::vector<int>& ports, int clients, int per_client, Load& load,
           const std::atomic<bool>& stop) {
  std::vector<std::thread> threads;
  static const char* const kCodes[] = {"2", "3", "4", "5", "-1", "3"};
  static const char* const kOffers[] = {"load-a", "load-b", "load-c"};
  for (int t = 0; t < clients; ++t) {
    threads.emplace_back([&, t] {
      auto client = harness::Client(ports[static_cast<std::size_t>(t) % ports.size()]);
      client->set_keep_alive(true);
      // The head and the body leave at once, not a delayed acknowledgement apart.
      client->set_tcp_nodelay(true);
      for (int i = 0; !stop && i < per_client; ++i) {
        const json e = RunBody(kCodes[i % 6], kOffers[(i / 6) % 3], t * 100000 + i,
                               {{"13", i % 6 == 0 ? "FILE EXISTS" : ""},
                                {"12", i % 6 == 4 ? "DOWNLOAD FAILED: 404" : ""}});
        auto res = client->Post("/zbd", {{"Authorization", harness::SignatureFor(e["1"], e["2"])}},
                                harness::EventDocument(e), "application/json");
        if (!res) {
          if (stop) return;
          continue;  // a connection closed between requests: try again
        }
        if (res->status == 200) {
          std::lock_guard<std::mutex> lock(load.mutex);
          load.answered.insert(e["1"].get<std::string>() + "|" + e["2"].get<std::string>() + "|" +
                               e["6"].get<std::string>());
          ++load.count;
        } else {
          ++load.refused;
        }
      }
    });
  }
  for (auto& t : threads) t.join();
}

std::set<std::string> Stored(const harness::Rows& rows) {
  std::set<std::string> out;
  for (const auto& r : rows) out.insert(r.at("machine_id") + "|" + r.at("run_stamp") + "|" + r.at("code"));
  return out;
}

TEST(Postgres, TwoServicesOnOneDatabaseLoseNoEventAndReportTheSame) {
  REQUIRE_POSTGRES();
  harness::Sandbox box;
  harness::PgDatabase pg;
  const std::string token = TokenFile(box);
  harness::Service one(OnPostgres(box, pg, {"--quiet", "--report-token-file", token}));
  harness::Service two(OnPostgres(box, pg, {"--quiet", "--report-token-file", token}));
  ASSERT_TRUE(one.started()) << one.output();
  ASSERT_TRUE(two.started()) << two.output();

  Load load;
  std::atomic<bool> stop{false};
  const int clients = 8;
  const int per_client = 150;
  const auto begin = std::chrono::steady_clock::now();
  Drive({one.port(), two.port()}, clients, per_client, load, stop);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  std::cout << "[ measured ] " << load.count << " events through two services on one PostgreSQL in "
            << seconds << " s: " << static_cast<long>(load.count / seconds) << " events/s\n";

  EXPECT_EQ(load.refused, 0);
  EXPECT_EQ(load.count, clients * per_client);
  const harness::Rows rows = pg.EventRows();
  // Each answered event is there once; nothing else is.
  EXPECT_EQ(rows.size(), load.answered.size());
  EXPECT_EQ(Stored(rows), load.answered);
  std::set<std::string> ids;
  for (const auto& r : rows) ids.insert(r.at("id"));
  EXPECT_EQ(ids.size(), rows.size());

  // Both services, and the report command, tell the same numbers: those
  // of the rows.
  const harness::PageNumbers expected = harness::ExpectedPage(rows);
  for (harness::Service* s : {&one, &two}) {
    harness::Page page = harness::GetPage(s->port(), "/report", "Bearer " + std::string(kToken));
    ASSERT_EQ(page.status, 200) << page.body;
    EXPECT_EQ(harness::Differences(expected, harness::NumbersOfHtml(page.body)), "");
  }
  const json report = ReportJson({"--postgres", pg.conninfo()});
  EXPECT_EQ(report.value("events", 0), static_cast<int>(rows.size())) << report.dump();
  EXPECT_EQ(one.Stop(), 0) << one.output();
  EXPECT_EQ(two.Stop(), 0) << two.output();
}

// Events that arrive together share a transaction; the database refusing
// one of them must not cost the others theirs. On both stores.
TEST(EventStores, AnEventTheDatabaseRefusesCostsTheOthersNothing) {
  struct Store {
    const char* name;
    bool postgres;
  };
  for (const Store store : {Store{"SQLite", false}, Store{"PostgreSQL", true}}) {
    SCOPED_TRACE(store.name);
    if (store.postgres && !harness::PostgresUnavailable().empty()) {
      std::cout << "[ skipped  ] " << harness::PostgresUnavailable() << "\n";
      continue;
    }
    harness::Sandbox box;
    std::unique_ptr<harness::PgDatabase> pg;
    std::vector<std::string> args = box.Args({"--quiet"});
    if (store.postgres) {
      pg = std::make_unique<harness::PgDatabase>();
      args = OnPostgres(box, *pg, {"--quiet"});
    }
    harness::Service service(args);
    ASSERT_TRUE(service.started()) << service.output();
    // A rule of the database's own that one offer id breaks.
    if (store.postgres) {
      pg->Exec("ALTER TABLE events ADD CONSTRAINT no_poison CHECK (offer_id <> 'poison')");
    } else {
      harness::SqliteExec(box.db,
                          "CREATE TRIGGER no_poison BEFORE INSERT ON events"
                          " WHEN NEW.offer_id = 'poison' BEGIN SELECT RAISE(ABORT, 'poison'); END");
    }
    std::mutex mutex;
    std::set<std::string> answered;
    std::atomic<int> good_refused{0};
    std::atomic<int> poison_taken{0};
    std::vector<std::thread> clients;
    for (int t = 0; t < 8; ++t) {
      clients.emplace_back([&, t] {
        auto client = harness::Client(service.port());
        client->set_keep_alive(true);
        client->set_tcp_nodelay(true);
        for (int i = 0; i < 60; ++i) {
          const bool poison = (t + i) % 5 == 0;
          const json e = RunBody("4", poison ? "poison" : "good", t * 1000 + i);
          auto res = client->Post("/zbd", {{"Authorization", harness::SignatureFor(e["1"], e["2"])}},
                                  harness::EventDocument(e), "application/json");
          if (!res) continue;
          if (poison) {
            poison_taken += res->status != 503;
          } else if (res->status == 200) {
            std::lock_guard<std::mutex> lock(mutex);
            answered.insert(e["1"].get<std::string>() + "|" + e["2"].get<std::string>() + "|4");
          } else {
            ++good_refused;
          }
        }
      });
    }
    for (auto& c : clients) c.join();
    EXPECT_EQ(good_refused, 0);
    EXPECT_EQ(poison_taken, 0);
    const harness::Rows rows = store.postgres ? pg->EventRows() : harness::EventRows(box.db);
    EXPECT_EQ(Stored(rows), answered);
    EXPECT_EQ(answered.size(), 8u * 60u - 8u * 12u);
  }
}

TEST(Postgres, EveryEventAnswered200SurvivesSigkillUnderLoad) {
  REQUIRE_POSTGRES();
  harness::Sandbox box;
  harness::PgDatabase pg;
  auto service = std::make_unique<harness::Service>(OnPostgres(box, pg, {"--quiet"}));
  ASSERT_TRUE(service->started()) << service->output();
  Load load;
  std::atomic<bool> stop{false};
  std::thread driver([&] { Drive({service->port()}, 8, 100000, load, stop); });
  // Generous limit against a service that stopped answering; not measured.
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (load.count < 400 && service->Running() && std::chrono::steady_clock::now() < limit) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  service->Kill();
  stop = true;
  driver.join();
  ASSERT_GE(load.count.load(), 1);

  const std::set<std::string> stored = Stored(pg.EventRows());
  std::size_t missing = 0;
  for (const std::string& key : load.answered) missing += stored.count(key) == 0;
  EXPECT_EQ(missing, 0u) << "of " << load.answered.size() << " answered 200";
  // A new service goes on with the same table.
  harness::Service again(OnPostgres(box, pg, {"--quiet"}));
  ASSERT_TRUE(again.started()) << again.output();
  harness::Posted p = harness::PostSignedEvent(again.port(), RunBody("4", "after", 1));
  EXPECT_EQ(p.status, 200) << p.body;
}

TEST(Postgres, AServiceConnectsAgainWhenItsConnectionsAreCut) {
  REQUIRE_POSTGRES();
  harness::Sandbox box;
  harness::PgDatabase pg;
  harness::Service service(
      OnPostgres(box, pg, {"--quiet", "--readback", "--report-token-file", TokenFile(box)}));
  ASSERT_TRUE(service.started()) << service.output();
  for (int round = 1; round <= 3; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    harness::Posted p = harness::PostSignedEvent(service.port(), RunBody("4", "cut", round));
    EXPECT_EQ(p.status, 200) << p.body;
    auto res = harness::Client(service.port())->Post("/events?offer=cut", "", "text/plain");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(json::parse(res->body).size(), static_cast<std::size_t>(round));
    harness::Page page = harness::GetPage(service.port(), "/report", "Bearer " + std::string(kToken));
    EXPECT_EQ(page.status, 200);
    // As a restarted or failed-over server would: every connection of the
    // service ends.
    const std::string cut = pg.Exec(
        "SELECT count(pg_terminate_backend(pid)) FROM pg_stat_activity"
        " WHERE datname = current_database() AND pid <> pg_backend_pid()");
    EXPECT_EQ(cut, "2");
  }
  EXPECT_EQ(pg.EventRows().size(), 3u);
}

TEST(Postgres, AStoreThatCannotBeUsedStopsTheStartWithAReason) {
  REQUIRE_POSTGRES();
  harness::PgDatabase latin1_holder;  // a name for a database made below
  const std::string latin1 = latin1_holder.name() + "_latin1";
  harness::AdminExec("CREATE DATABASE " + latin1 +
                     " ENCODING 'LATIN1' LC_COLLATE 'C' LC_CTYPE 'C' TEMPLATE template0");
  std::string latin1_conninfo = latin1_holder.conninfo();
  latin1_conninfo.replace(latin1_conninfo.find("dbname=") + 7, latin1_holder.name().size(), latin1);
  harness::PgDatabase other_table;
  other_table.Exec("CREATE TABLE events (id INTEGER, what TEXT)");
  harness::PgDatabase empty;
  std::string unreachable = empty.conninfo();
  const std::size_t port = unreachable.find("port=") + 5;
  unreachable.replace(port, unreachable.find(' ', port) - port, "1");

  harness::Sandbox box;
  struct Case {
    const char* what;
    std::vector<std::string> args;
    int exit_code;
    std::string says;
  };
  const std::vector<std::string> serve = {"--cert", harness::CertFile(), "--key", harness::KeyFile(),
                                          "--port", "0", "--campaign", box.campaign};
  auto with = [&](std::vector<std::string> extra) {
    std::vector<std::string> args = serve;
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  };
  const Case cases[] = {
      {"no server there", with({"--postgres", unreachable}), 1,
       "postgresql://tamsel@127.0.0.1:1/" + empty.name()},
      {"a database not in UTF-8", with({"--postgres", latin1_conninfo}), 1, "not UTF8"},
      {"another table named events", with({"--postgres", other_table.conninfo()}), 1,
       "unexpected table layout: ERROR:  column \"received_at\" does not exist"},
      {"two stores named", with({"--db", box.db, "--postgres", empty.conninfo()}), 2,
       "--db and --postgres"},
      {"an empty connection string", with({"--postgres", ""}), 2, "--postgres"},
      {"the report, no server there", {"report", "--postgres", unreachable}, 1,
       "report: postgresql://tamsel@127.0.0.1:1/"},
      {"the report, no events table", {"report", "--postgres", empty.conninfo()}, 1,
       "not an event database"},
      {"the report, two stores", {"report", "--db", box.db, "--postgres", empty.conninfo()}, 2,
       "--db and --postgres"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    harness::RunResult r = harness::Run(c.args);
    EXPECT_EQ(r.exit_code, c.exit_code) << r.output;
    EXPECT_NE(r.output.find(c.says), std::string::npos) << r.output;
    // The password never shows.
    EXPECT_EQ(r.output.find("password"), std::string::npos) << r.output;
  }
  harness::AdminExec("DROP DATABASE " + latin1 + " WITH (FORCE)");
}

TEST(Postgres, ARoleThatMayOnlyInsertAndReadIsEnough) {
  REQUIRE_POSTGRES();
  harness::Sandbox box;
  harness::PgDatabase pg;
  {
    // The table made once by a role that may create it.
    harness::Service owner(OnPostgres(box, pg, {"--quiet"}));
    ASSERT_TRUE(owner.started()) << owner.output();
  }
  const std::string role = pg.name() + "_writer";
  harness::AdminExec("CREATE ROLE " + role + " LOGIN PASSWORD 'writer-password'");
  pg.Exec("GRANT SELECT, INSERT ON events TO " + role);
  std::string conninfo = pg.conninfo();
  const std::size_t user = conninfo.find("user=");
  conninfo.replace(user, conninfo.find(' ', conninfo.find("password=")) - user,
                   "user=" + role + " password=writer-password");
  {
    harness::Service writer({"--campaign", box.campaign, "--postgres", conninfo, "--quiet",
                             "--readback", "--report-token-file", TokenFile(box)});
    ASSERT_TRUE(writer.started()) << writer.output();
    harness::Posted p = harness::PostSignedEvent(writer.port(), RunBody("4", "limited", 1));
    EXPECT_EQ(p.status, 200) << p.body;
    auto res = harness::Client(writer.port())->Post("/events?offer=limited", "", "text/plain");
    ASSERT_TRUE(res);
    EXPECT_EQ(json::parse(res->body).size(), 1u) << res->body;
    EXPECT_EQ(harness::GetPage(writer.port(), "/report", "Bearer " + std::string(kToken)).status, 200);
    EXPECT_EQ(ReportJson({"--postgres", conninfo}).value("events", 0), 1);
  }
  pg.Exec("DROP OWNED BY " + role);
  harness::AdminExec("DROP ROLE " + role);
}

TEST(Postgres, BothServicesPagesInChromiumShowWhatTheDatabaseHolds) {
  REQUIRE_POSTGRES();
  harness::Sandbox box;
  harness::PgDatabase pg;
  const std::string token = TokenFile(box);
  harness::Service one(OnPostgres(box, pg, {"--quiet", "--report-token-file", token}));
  harness::Service two(OnPostgres(box, pg, {"--quiet", "--report-token-file", token}));
  ASSERT_TRUE(one.started()) << one.output();
  ASSERT_TRUE(two.started()) << two.output();
  int i = 0;
  for (const json& e : Mixed()) {
    harness::Posted p = harness::PostSignedEvent((i++ % 2 ? one : two).port(), e);
    ASSERT_EQ(p.status, 200) << p.body;
  }
  harness::Browser browser;
  if (browser.missing()) GTEST_SKIP() << browser.error();
  ASSERT_TRUE(browser.error().empty()) << browser.error();
  const harness::PageNumbers expected = harness::ExpectedPage(pg.EventRows());
  for (harness::Service* s : {&one, &two}) {
    const std::string base = "localhost:" + std::to_string(s->port()) + "/report";
    ASSERT_TRUE(browser.Open("https://" + base));
    EXPECT_EQ(browser.Run("return document.querySelectorAll('[data-step]').length"), 0);
    browser.Console();  // the refusal's own entry
    ASSERT_TRUE(browser.Open("https://publisher:" + std::string(kToken) + "@" + base));
    harness::PageNumbers shown;
    const json numbers = browser.Run(harness::kNumbersScript);
    ASSERT_TRUE(numbers.is_array()) << numbers.dump();
    for (const json& pair : numbers) {
      shown[pair[0].get<std::string>()] = std::stoll(pair[1].get<std::string>());
    }
    EXPECT_EQ(harness::Differences(expected, shown), "");
    for (const json& entry : browser.Console()) {
      const std::string level = entry.value("level", "");
      EXPECT_TRUE(level != "SEVERE" && level != "WARNING") << entry.dump();
    }
  }
}

}  // namespace
