#include "report.h"

#include <sqlite3.h>

#include <algorithm>
#include <iomanip>
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

struct Statement {
  sqlite3_stmt* st = nullptr;
  Statement(sqlite3* db, const char* sql) {
    if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) != SQLITE_OK) {
      throw StoreError(std::string("not an event database: ") + sqlite3_errmsg(db));
    }
  }
  ~Statement() { sqlite3_finalize(st); }
  bool Next() {
    int rc = sqlite3_step(st);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    throw StoreError(sqlite3_errmsg(sqlite3_db_handle(st)));
  }
  std::string Text(int i) {
    const unsigned char* t = sqlite3_column_text(st, i);
    return t ? std::string(reinterpret_cast<const char*>(t),
                           static_cast<std::size_t>(sqlite3_column_bytes(st, i)))
             : std::string();
  }
  long long Int(int i) { return sqlite3_column_int64(st, i); }
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

std::vector<OfferStats> Collect(sqlite3* db) {
  std::map<std::string, OfferStats> by_id;
  {
    Statement s(db,
                "SELECT offer_id, code, COUNT(*), MAX(kind = 1) FROM events"
                " GROUP BY offer_id, code");
    while (s.Next()) {
      OfferStats& o = by_id[s.Text(0)];
      o.id = s.Text(0);
      o.codes[static_cast<int>(s.Int(1))] += s.Int(2);
      o.total += s.Int(2);
      o.main = o.main || s.Int(3) == 1;
    }
  }
  auto counted = [&](const char* sql, std::vector<Counted> OfferStats::*list) {
    Statement s(db, sql);
    while (s.Next()) (by_id[s.Text(0)].*list).push_back({s.Text(1), s.Int(2)});
  };
  counted("SELECT offer_id, reason, COUNT(*) FROM events WHERE code = 2"
          " GROUP BY offer_id, reason ORDER BY COUNT(*) DESC, reason",
          &OfferStats::reasons);
  counted("SELECT offer_id, failure, COUNT(*) FROM events WHERE failure <> ''"
          " GROUP BY offer_id, failure ORDER BY COUNT(*) DESC, failure",
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
  sqlite3* db = nullptr;
  try {
    db = OpenExistingDatabase(options.db);
    // One snapshot, so the table and the reasons agree while events arrive.
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    std::vector<OfferStats> offers = Collect(db);
    long long total = 0;
    for (const auto& o : offers) total += o.total;
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close_v2(db);
    db = nullptr;
    if (options.json) {
      out << ToJson(offers, total, options.db).dump(2, ' ', false,
                                                    json::error_handler_t::replace)
          << "\n";
    } else {
      PrintText(offers, total, options.db, out);
    }
    return 0;
  } catch (const StoreError& e) {
    sqlite3_close_v2(db);
    err << "report: " << e.what() << "\n";
    return 1;
  }
}

}  // namespace tamsel
