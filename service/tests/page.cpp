#include "page.h"

#include <openssl/evp.h>
#include <sqlite3.h>

#include <regex>
#include <set>
#include <sstream>
#include <stdexcept>

namespace harness {
namespace {

const char* const kOfferSteps[] = {"shown", "accepted", "started", "declined",
                                   "quit",  "rejected", "failed"};
const char* const kMainSteps[] = {"started", "finished", "failed", "quit"};

std::string Unescape(const std::string& s) {
  static const std::pair<const char*, const char*> kEntities[] = {
      {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&#39;", "'"}, {"&amp;", "&"}};
  std::string out;
  for (std::size_t i = 0; i < s.size();) {
    bool replaced = false;
    for (const auto& e : kEntities) {
      const std::string entity = e.first;
      if (s.compare(i, entity.size(), entity) == 0) {
        out += e.second;
        i += entity.size();
        replaced = true;
        break;
      }
    }
    if (!replaced) out.push_back(s[i++]);
  }
  return out;
}

std::string Attribute(const std::string& tag, const std::string& name) {
  std::smatch m;
  if (!std::regex_search(tag, m, std::regex(" " + name + "=\"([^\"]*)\""))) return "\x01missing";
  return Unescape(m[1]);
}

}  // namespace

const char kNumbersScript[] = R"(
const out = [];
for (const td of document.querySelectorAll('td[data-step]')) {
  const d = td.dataset;
  out.push([(d.main ? 'main|' : 'offer|' + d.offer + '|') + d.day + '|' + d.step, td.textContent]);
}
for (const tr of document.querySelectorAll('tr.reason')) {
  out.push(['reason|' + tr.dataset.offer + '|' + tr.dataset.reason, tr.lastElementChild.textContent]);
}
for (const tr of document.querySelectorAll('tr.failure')) {
  const d = tr.dataset;
  out.push(['failure|' + d.main + '|' + d.offer + '|' + d.code + '|' + d.failure,
            tr.lastElementChild.textContent]);
}
const events = document.getElementById('events');
if (events) out.push(['events', events.textContent]);
return out;
)";

PageNumbers ExpectedPage(const Rows& rows, const std::string& from, const std::string& to) {
  using Run = std::pair<std::string, std::string>;  // machine id, run stamp
  std::map<std::string, std::set<Run>> runs;        // key -> runs
  std::set<std::pair<std::string, std::string>> offer_days;  // offer, day
  std::set<std::string> main_days;
  long long events = 0;
  for (const auto& row : rows) {
    const std::string day = row.at("received_at").substr(0, 10);
    if ((!from.empty() && day < from) || (!to.empty() && day > to)) continue;
    ++events;
    const Run run{row.at("machine_id"), row.at("run_stamp")};
    const int code = std::stoi(row.at("code"));
    const bool main = row.at("kind") == "1";
    const std::string& offer = row.at("offer_id");
    const std::string& failure = row.at("failure");
    auto count = [&](const std::string& key, bool when) {
      if (when) runs[key].insert(run);
    };
    if (main) {
      main_days.insert(day);
      const std::string key = "main|" + day + "|";
      count(key + "started", code == 1);
      count(key + "finished", code == 3 && failure.empty());
      count(key + "failed", (code == 3 && !failure.empty()) || code == -1);
      count(key + "quit", code == 5);
    } else {
      offer_days.insert({offer, day});
      const std::string key = "offer|" + offer + "|" + day + "|";
      count(key + "shown", code == 3 || code == -1 || code == 4 || code == 5);
      count(key + "accepted", code == 3 || code == -1);
      count(key + "started", code == 3);
      count(key + "declined", code == 4);
      count(key + "quit", code == 5);
      count(key + "rejected", code == 2);
      count(key + "failed", code == -1);
      count("reason|" + offer + "|" + row.at("reason"), code == 2);
    }
    count("failure|" + std::string(main ? "1" : "0") + "|" + offer + "|" + std::to_string(code) +
              "|" + failure,
          !failure.empty());
  }
  PageNumbers out;
  for (const auto& entry : runs) {
    if (entry.first.rfind("reason|", 0) == 0 || entry.first.rfind("failure|", 0) == 0) {
      out[entry.first] = static_cast<long long>(entry.second.size());
    }
  }
  // Every cell of a day that has events, zeros included; the totals add the days.
  for (const auto& [offer, day] : offer_days) {
    for (const char* step : kOfferSteps) {
      const std::string cell = "offer|" + offer + "|" + day + "|" + step;
      const long long n = runs.count(cell) ? static_cast<long long>(runs[cell].size()) : 0;
      out[cell] = n;
      out["offer|" + offer + "|total|" + step] += n;
    }
  }
  for (const std::string& day : main_days) {
    for (const char* step : kMainSteps) {
      const std::string cell = "main|" + day + "|" + step;
      const long long n = runs.count(cell) ? static_cast<long long>(runs[cell].size()) : 0;
      out[cell] = n;
      out["main|total|" + std::string(step)] += n;
    }
  }
  out["events"] = events;
  return out;
}

PageNumbers NumbersOfHtml(const std::string& html) {
  PageNumbers out;
  static const std::regex cell(R"re(<td class="n"([^>]*data-step="[^"]*"[^>]*)>(-?\d+)</td>)re");
  for (std::sregex_iterator it(html.begin(), html.end(), cell), end; it != end; ++it) {
    const std::string tag = (*it)[1];
    const std::string prefix = Attribute(tag, "data-main") == "1"
                                   ? "main|"
                                   : "offer|" + Attribute(tag, "data-offer") + "|";
    out[prefix + Attribute(tag, "data-day") + "|" + Attribute(tag, "data-step")] =
        std::stoll((*it)[2]);
  }
  static const std::regex row(R"re(<tr class="(reason|failure)"([^>]*)>.*<td class="n">(\d+)</td></tr>)re");
  for (std::sregex_iterator it(html.begin(), html.end(), row), end; it != end; ++it) {
    const std::string tag = (*it)[2];
    const std::string key =
        (*it)[1] == "reason"
            ? "reason|" + Attribute(tag, "data-offer") + "|" + Attribute(tag, "data-reason")
            : "failure|" + Attribute(tag, "data-main") + "|" + Attribute(tag, "data-offer") + "|" +
                  Attribute(tag, "data-code") + "|" + Attribute(tag, "data-failure");
    out[key] = std::stoll((*it)[3]);
  }
  std::smatch m;
  if (std::regex_search(html, m, std::regex(R"(<span id="events">(\d+)</span>)"))) {
    out["events"] = std::stoll(m[1]);
  }
  return out;
}

std::string Differences(const PageNumbers& expected, const PageNumbers& actual) {
  std::ostringstream out;
  for (const auto& [key, value] : expected) {
    auto it = actual.find(key);
    if (it == actual.end()) {
      out << "missing " << key << " (expected " << value << ")\n";
    } else if (it->second != value) {
      out << key << ": expected " << value << ", shown " << it->second << "\n";
    }
  }
  for (const auto& [key, value] : actual) {
    if (!expected.count(key)) out << "unexpected " << key << " = " << value << "\n";
  }
  return out.str();
}

void InsertRow(const std::string& db, const std::map<std::string, std::string>& row) {
  sqlite3* h = nullptr;
  if (sqlite3_open_v2(db.c_str(), &h, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    sqlite3_close(h);
    throw std::runtime_error("cannot open " + db);
  }
  sqlite3_busy_timeout(h, 10000);
  std::string columns;
  std::string marks;
  for (const auto& entry : row) {
    columns += (columns.empty() ? "" : ", ") + entry.first;
    marks += marks.empty() ? "?" : ", ?";
  }
  const std::string sql = "INSERT INTO events (" + columns + ") VALUES (" + marks + ")";
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(h, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
    const std::string err = sqlite3_errmsg(h);
    sqlite3_close(h);
    throw std::runtime_error(err);
  }
  int i = 1;
  for (const auto& entry : row) {
    if (entry.second == "NULL") {
      sqlite3_bind_null(st, i++);
    } else {
      sqlite3_bind_text(st, i++, entry.second.c_str(), -1, SQLITE_TRANSIENT);
    }
  }
  const int rc = sqlite3_step(st);
  sqlite3_finalize(st);
  sqlite3_close(h);
  if (rc != SQLITE_DONE) throw std::runtime_error("insert failed");
}

void SqliteExec(const std::string& db, const std::string& sql) {
  sqlite3* h = nullptr;
  if (sqlite3_open_v2(db.c_str(), &h, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    sqlite3_close(h);
    throw std::runtime_error("cannot open " + db);
  }
  sqlite3_busy_timeout(h, 10000);
  char* err = nullptr;
  const int rc = sqlite3_exec(h, sql.c_str(), nullptr, nullptr, &err);
  const std::string text = err ? err : "";
  sqlite3_free(err);
  sqlite3_close(h);
  if (rc != SQLITE_OK) throw std::runtime_error(sql + ": " + text);
}

Page GetPage(int port, const std::string& target, const std::string& authorization) {
  auto c = Client(port);
  httplib::Headers headers;
  if (!authorization.empty()) headers.emplace("Authorization", authorization);
  auto res = c->Get(target, headers);
  if (!res) return {0, "no response: " + httplib::to_string(res.error()), {}};
  return {res->status, res->body, res->headers};
}

std::string BasicAuth(const std::string& user, const std::string& password) {
  const std::string pair = user + ":" + password;
  std::string out(4 * ((pair.size() + 2) / 3) + 1, '\0');
  const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&out[0]),
                                reinterpret_cast<const unsigned char*>(pair.data()),
                                static_cast<int>(pair.size()));
  out.resize(static_cast<std::size_t>(n));
  return "Basic " + out;
}

}  // namespace harness
