#include "report.h"

#include <algorithm>
#include <iomanip>
#include <memory>
#include <map>
#include <nlohmann/json.hpp>
#include <vector>

#include "events.h"

namespace tamsel {
namespace {

using nlohmann::json;

struct CodeColumn {
  int code;
  const char* title;
};
const CodeColumn kColumns[] = {{1, "started(1)"},  {2, "rejected(2)"}, {3, "done(3)"},
                               {4, "declined(4)"}, {5, "quit(5)"},     {-1, "failed(-1)"}};

struct Counted {
  std::string text;
  long long count = 0;
};

struct OfferStats {
  std::string id;
  bool main = false;
  std::map<int, long long> codes;
  long long total = 0;
  std::vector<Counted> reasons;
  std::vector<Counted> failures;
};

// Event texts come from the network; keep them from steering the terminal.
std::string Printable(const std::string& s) {
  std::string out;
  for (unsigned char c : s) out.push_back(c < 0x20 || c == 0x7f ? '?' : static_cast<char>(c));
  return out;
}

std::string Label(const OfferStats& o) {
  std::string label = o.id.empty() ? "(none)" : Printable(o.id);
  if (o.main) label += " [main]";
  return label;
}

bool MoreFirst(const Counted& a, const Counted& b) {
  return a.count != b.count ? a.count > b.count : a.text < b.text;
}

// The statements read the same on SQLite and PostgreSQL; ties are ordered
// here, byte by byte, so that both give the same order whatever the
// database's collation.
std::vector<OfferStats> Collect(Database& db) {
  std::map<std::string, OfferStats> by_id;
  for (const SqlRow& row :
       db.Query("SELECT offer_id, code, COUNT(*), MAX(CASE WHEN kind = 1 THEN 1 ELSE 0 END)"
                " FROM events GROUP BY offer_id, code")) {
    OfferStats& o = by_id[row.Text(0)];
    o.id = row.Text(0);
    o.codes[static_cast<int>(row.Int(1))] += row.Int(2);
    o.total += row.Int(2);
    o.main = o.main || row.Int(3) == 1;
  }
  auto counted = [&](const char* sql, std::vector<Counted> OfferStats::*list) {
    for (const SqlRow& row : db.Query(sql)) {
      (by_id[row.Text(0)].*list).push_back({row.Text(1), row.Int(2)});
    }
    for (auto& entry : by_id) {
      std::sort((entry.second.*list).begin(), (entry.second.*list).end(), MoreFirst);
    }
  };
  counted("SELECT offer_id, reason, COUNT(*) FROM events WHERE code = 2"
          " GROUP BY offer_id, reason",
          &OfferStats::reasons);
  counted("SELECT offer_id, failure, COUNT(*) FROM events WHERE failure <> ''"
          " GROUP BY offer_id, failure",
          &OfferStats::failures);

  std::vector<OfferStats> out;
  for (auto& kv : by_id) out.push_back(std::move(kv.second));
  // The main product first, then the offers by id.
  std::stable_sort(out.begin(), out.end(),
                   [](const OfferStats& a, const OfferStats& b) { return a.main && !b.main; });
  return out;
}

void PrintText(const std::vector<OfferStats>& offers, long long total, const std::string& db,
               std::ostream& out) {
  out << total << " events in " << db << "\n";
  if (offers.empty()) return;
  std::size_t width = 5;
  for (const auto& o : offers) width = std::max(width, Label(o).size());
  out << "\n" << std::left << std::setw(static_cast<int>(width)) << "offer";
  for (const auto& c : kColumns) out << "  " << c.title;
  out << "  total\n";
  for (const auto& o : offers) {
    out << std::left << std::setw(static_cast<int>(width)) << Label(o) << std::right;
    for (const auto& c : kColumns) {
      auto it = o.codes.find(c.code);
      out << "  " << std::setw(static_cast<int>(std::string(c.title).size()))
          << (it == o.codes.end() ? 0 : it->second);
    }
    out << "  " << std::setw(5) << o.total << "\n";
  }
  auto section = [&](const char* title, std::vector<Counted> OfferStats::*list) {
    bool any = false;
    for (const auto& o : offers) any = any || !(o.*list).empty();
    if (!any) return;
    out << "\n" << title << "\n";
    for (const auto& o : offers) {
      if ((o.*list).empty()) continue;
      out << "  " << Label(o) << "\n";
      for (const auto& r : o.*list) {
        out << "    " << std::right << std::setw(6) << r.count << "  "
            << (r.text.empty() ? "(no reason given)" : Printable(r.text)) << "\n";
      }
    }
  };
  section("rejection reasons (code 2)", &OfferStats::reasons);
  section("failure texts", &OfferStats::failures);
}

json ToJson(const std::vector<OfferStats>& offers, long long total, const std::string& db) {
  json list = json::array();
  for (const auto& o : offers) {
    json codes = json::object();
    for (const auto& c : kColumns) {
      auto it = o.codes.find(c.code);
      codes[std::to_string(c.code)] = it == o.codes.end() ? 0 : it->second;
    }
    auto items = [](const std::vector<Counted>& v) {
      json a = json::array();
      for (const auto& r : v) a.push_back({{"text", r.text}, {"count", r.count}});
      return a;
    };
    list.push_back({{"offer", o.id},
                    {"main", o.main},
                    {"codes", codes},
                    {"total", o.total},
                    {"reasons", items(o.reasons)},
                    {"failures", items(o.failures)}});
  }
  return {{"database", db}, {"events", total}, {"offers", list}};
}

}  // namespace

int RunReport(const ReportOptions& options, std::ostream& out, std::ostream& err) {
  const std::string name = options.store.Describe();
  try {
    std::unique_ptr<Database> db = OpenDatabase(options.store, OpenMode::Existing);
    std::vector<OfferStats> offers;
    {
      // One snapshot, so the table and the reasons agree while events arrive.
      Transaction t(*db, Transaction::Read);
      try {
        offers = Collect(*db);
      } catch (const StoreError& e) {
        throw StoreError(name + ": not an event database: " + e.what());
      }
      t.Commit();
    }
    long long total = 0;
    for (const auto& o : offers) total += o.total;
    if (options.json) {
      out << ToJson(offers, total, name).dump(2, ' ', false, json::error_handler_t::replace)
          << "\n";
    } else {
      PrintText(offers, total, name, out);
    }
    return 0;
  } catch (const StoreError& e) {
    err << "report: " << e.what() << "\n";
    return 1;
  }
}

namespace {

// A run: its machine id and run stamp, the first one's length in front so
// that no two pairs give the same text.
#define TAMSEL_RUN "length(machine_id) || ':' || machine_id || run_stamp"
#define TAMSEL_DAY "substr(received_at, 1, 10)"
#define TAMSEL_RUNS_WHERE(condition) "COUNT(DISTINCT CASE WHEN " condition " THEN " TAMSEL_RUN " END)"
#define TAMSEL_IN_RANGE TAMSEL_DAY " >= $1 AND " TAMSEL_DAY " <= $2"
#define TAMSEL_OFFER "(kind IS NULL OR kind <> 1)"

const char kOfferDays[] =
    "SELECT offer_id, " TAMSEL_DAY ", "
    TAMSEL_RUNS_WHERE("code IN (3, -1, 4, 5)") ", "
    TAMSEL_RUNS_WHERE("code IN (3, -1)") ", "
    TAMSEL_RUNS_WHERE("code = 3") ", "
    TAMSEL_RUNS_WHERE("code = 4") ", "
    TAMSEL_RUNS_WHERE("code = 5") ", "
    TAMSEL_RUNS_WHERE("code = 2") ", "
    TAMSEL_RUNS_WHERE("code = -1")
    " FROM events WHERE " TAMSEL_OFFER " AND " TAMSEL_IN_RANGE
    " GROUP BY offer_id, " TAMSEL_DAY;

const char kMainDays[] =
    "SELECT " TAMSEL_DAY ", "
    TAMSEL_RUNS_WHERE("code = 1") ", "
    TAMSEL_RUNS_WHERE("code = 3 AND failure = ''") ", "
    TAMSEL_RUNS_WHERE("(code = 3 AND failure <> '') OR code = -1") ", "
    TAMSEL_RUNS_WHERE("code = 5")
    " FROM events WHERE kind = 1 AND " TAMSEL_IN_RANGE " GROUP BY " TAMSEL_DAY;

const char kReasons[] =
    "SELECT offer_id, reason, COUNT(DISTINCT " TAMSEL_RUN ") FROM events"
    " WHERE code = 2 AND " TAMSEL_OFFER " AND " TAMSEL_IN_RANGE " GROUP BY offer_id, reason";

const char kFailures[] =
    "SELECT offer_id, CASE WHEN kind = 1 THEN 1 ELSE 0 END, code, failure,"
    " COUNT(DISTINCT " TAMSEL_RUN ") FROM events WHERE failure <> '' AND " TAMSEL_IN_RANGE
    " GROUP BY offer_id, CASE WHEN kind = 1 THEN 1 ELSE 0 END, code, failure";

const char kEventCount[] = "SELECT COUNT(*) FROM events WHERE " TAMSEL_IN_RANGE;

#undef TAMSEL_RUN
#undef TAMSEL_DAY
#undef TAMSEL_RUNS_WHERE
#undef TAMSEL_IN_RANGE
#undef TAMSEL_OFFER

bool MoreRunsFirst(const CountedText& a, const CountedText& b) {
  if (a.runs != b.runs) return a.runs > b.runs;
  if (a.text != b.text) return a.text < b.text;
  if (a.main != b.main) return a.main;
  if (a.offer != b.offer) return a.offer < b.offer;
  return a.code < b.code;
}

}  // namespace

bool IsDay(const std::string& text) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return false;
  for (std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9}) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  const int year = std::stoi(text.substr(0, 4));
  const int month = std::stoi(text.substr(5, 2));
  const int day = std::stoi(text.substr(8, 2));
  static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || day < 1 || day > kDays[month - 1]) return false;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return !(month == 2 && day == 29 && !leap);
}

PageData CollectPage(Database& db, const DayRange& range) {
  // Days compare as texts of one shape; these bounds take in every day.
  const std::vector<SqlValue> bounds = {range.from.empty() ? "0000-00-00" : range.from,
                                        range.to.empty() ? "9999-99-99" : range.to};
  PageData page;
  Transaction t(db, Transaction::Read);
  for (const SqlRow& row : db.Query(kOfferDays, bounds)) {
    OfferDay& d = page.offers[row.Text(0)][row.Text(1)];
    d.shown = row.Int(2);
    d.accepted = row.Int(3);
    d.started = row.Int(4);
    d.declined = row.Int(5);
    d.quit = row.Int(6);
    d.rejected = row.Int(7);
    d.failed = row.Int(8);
  }
  for (const SqlRow& row : db.Query(kMainDays, bounds)) {
    MainDay& d = page.main[row.Text(0)];
    d.started = row.Int(1);
    d.finished = row.Int(2);
    d.failed = row.Int(3);
    d.quit = row.Int(4);
  }
  for (const SqlRow& row : db.Query(kReasons, bounds)) {
    page.reasons.push_back({row.Text(1), row.Text(0), false, 2, row.Int(2)});
  }
  for (const SqlRow& row : db.Query(kFailures, bounds)) {
    page.failures.push_back(
        {row.Text(3), row.Text(0), row.Int(1) == 1, static_cast<int>(row.Int(2)), row.Int(4)});
  }
  const std::vector<SqlRow> count = db.Query(kEventCount, bounds);
  page.events = count.empty() ? 0 : count[0].Int(0);
  t.Commit();
  std::sort(page.reasons.begin(), page.reasons.end(), MoreRunsFirst);
  std::sort(page.failures.begin(), page.failures.end(), MoreRunsFirst);
  return page;
}

}  // namespace tamsel
