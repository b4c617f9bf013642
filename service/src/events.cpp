#include "events.h"

#include <sqlite3.h>
#include <sys/time.h>

#include <cstdio>
#include <ctime>
#include <iostream>
#include <nlohmann/json.hpp>

#include "digest.h"

namespace tamsel {
namespace {

using nlohmann::json;

const char kTable[] = "zb_analytics";
const char kSignaturePrefix[] = "Signature=";

const char kSchema[] =
    "CREATE TABLE IF NOT EXISTS events ("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  received_at TEXT NOT NULL,"  // UTC, ISO 8601 with milliseconds
    "  code INTEGER NOT NULL,"
    "  offer_id TEXT NOT NULL,"
    "  feed_id TEXT NOT NULL,"
    "  kind INTEGER,"
    "  reason TEXT NOT NULL,"
    "  failure TEXT NOT NULL,"
    "  machine_id TEXT NOT NULL,"
    "  run_stamp TEXT NOT NULL,"
    "  remote_addr TEXT NOT NULL,"
    "  data TEXT NOT NULL);"
    "CREATE INDEX IF NOT EXISTS events_by_offer ON events(offer_id, code);";

const char kInsert[] =
    "INSERT INTO events (received_at, code, offer_id, feed_id, kind, reason, failure,"
    " machine_id, run_stamp, remote_addr, data) VALUES (?,?,?,?,?,?,?,?,?,?,?)";

// ?2 NULL: any run.
const char kFind[] =
    "SELECT id, code, offer_id, feed_id, kind, reason, failure, machine_id, run_stamp, data"
    " FROM events WHERE offer_id = ?1 AND (?2 IS NULL OR run_stamp = ?2) ORDER BY id";

std::string NowUtc() {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  std::tm tm{};
  gmtime_r(&tv.tv_sec, &tm);
  char buf[96];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                static_cast<int>(tv.tv_usec / 1000));
  return buf;
}

std::optional<int> EventCode(const std::string& text) {
  static const struct {
    const char* text;
    int code;
  } kCodes[] = {{"-1", -1}, {"1", 1}, {"2", 2}, {"3", 3}, {"4", 4}, {"5", 5}};
  for (const auto& c : kCodes) {
    if (text == c.text) return c.code;
  }
  return std::nullopt;
}

// Optional string key of the event body; a present key of another type is refused.
bool TextKey(const json& data, const char* key, std::string* out) {
  if (!data.contains(key)) return true;
  if (!data.at(key).is_string()) return false;
  *out = data.at(key).get<std::string>();
  return true;
}

void Exec(sqlite3* db, const char* sql) {
  char* err = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &err) != SQLITE_OK) {
    std::string text = err ? err : sqlite3_errmsg(db);
    sqlite3_free(err);
    throw StoreError(text);
  }
}

void Bind(sqlite3_stmt* st, int i, const std::string& s) {
  sqlite3_bind_text(st, i, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
}

// Column text with its exact length (a stored text may hold NUL bytes).
std::string Column(sqlite3_stmt* st, int i) {
  const unsigned char* t = sqlite3_column_text(st, i);
  if (!t) return std::string();
  return std::string(reinterpret_cast<const char*>(t),
                     static_cast<std::size_t>(sqlite3_column_bytes(st, i)));
}

}  // namespace

std::optional<Reply> ReadEvent(const std::string& authorization, const std::string& body,
                               Event* out) {
  json doc = json::parse(body, nullptr, false);
  if (doc.is_discarded()) return Reply::Text(400, "body is not JSON");
  if (!doc.is_object()) return Reply::Text(400, "body is not a JSON object");
  if (!doc.contains("table")) return Reply::Text(400, "document has no \"table\"");
  if (!doc.contains("data")) return Reply::Text(400, "document has no \"data\"");
  if (doc.size() != 2) return Reply::Text(400, "document must hold only \"data\" and \"table\"");
  if (doc.at("table") != kTable) {
    return Reply::Text(400, std::string("\"table\" is not \"") + kTable + "\"");
  }
  if (!doc.at("data").is_string()) return Reply::Text(400, "\"data\" is not a string");

  Event e;
  e.data = doc.at("data").get<std::string>();
  json data = json::parse(e.data, nullptr, false);
  if (data.is_discarded() || !data.is_object()) {
    return Reply::Text(400, "\"data\" is not a JSON object");
  }
  for (const char* k : {"1", "2"}) {
    if (!data.contains(k) || !data.at(k).is_string()) {
      return Reply::Text(400, std::string("event key \"") + k + "\" is missing or not a string");
    }
  }
  e.machine_id = data.at("1").get<std::string>();
  e.run_stamp = data.at("2").get<std::string>();

  if (authorization.empty()) return Reply::Text(401, "no Authorization signature");
  if (authorization.rfind(kSignaturePrefix, 0) != 0) {
    return Reply::Text(401, "Authorization is not a signature");
  }
  const std::string given = authorization.substr(sizeof kSignaturePrefix - 1);
  if (!SameText(given, Sha256Hex(e.machine_id + e.run_stamp))) {
    return Reply::Text(403, "signature does not match");
  }

  if (!data.contains("6") || !data.at("6").is_string()) {
    return Reply::Text(400, "event code \"6\" is missing or not a string");
  }
  auto code = EventCode(data.at("6").get<std::string>());
  if (!code) return Reply::Text(400, "unknown event code");
  e.code = *code;
  if (!TextKey(data, "5", &e.offer_id) || !TextKey(data, "18", &e.feed_id) ||
      !TextKey(data, "13", &e.reason) || !TextKey(data, "12", &e.failure)) {
    return Reply::Text(400, "event keys \"5\", \"12\", \"13\", \"18\" must be strings");
  }
  if (data.contains("10")) {
    const json& kind = data.at("10");
    if (!kind.is_number_integer() || kind.get<std::int64_t>() < 0 ||
        kind.get<std::int64_t>() > 1000) {
      return Reply::Text(400, "event key \"10\" is not a small integer");
    }
    e.kind = static_cast<int>(kind.get<std::int64_t>());
  }
  *out = std::move(e);
  return std::nullopt;
}

EventStore::EventStore(const std::string& path) {
  int rc = sqlite3_open_v2(path.c_str(), &db_,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                           nullptr);
  if (rc != SQLITE_OK) {
    std::string text = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    sqlite3_close_v2(db_);
    db_ = nullptr;
    throw StoreError(path + ": " + text);
  }
  try {
    // Another service on the same file may hold the write lock for a moment.
    sqlite3_busy_timeout(db_, 10000);
    Exec(db_, "PRAGMA journal_mode=WAL");
    // An event is answered 200 only once it is on disk.
    Exec(db_, "PRAGMA synchronous=FULL");
    Exec(db_, "BEGIN IMMEDIATE");
    try {
      Exec(db_, kSchema);
      Exec(db_, "COMMIT");
    } catch (...) {
      sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
      throw;
    }
    if (sqlite3_prepare_v2(db_, kInsert, -1, &insert_, nullptr) != SQLITE_OK ||
        sqlite3_prepare_v2(db_, kFind, -1, &find_, nullptr) != SQLITE_OK) {
      throw StoreError(std::string("unexpected table layout: ") + sqlite3_errmsg(db_));
    }
    committer_ = std::thread([this] { Commit(); });
  } catch (const StoreError& e) {
    sqlite3_finalize(insert_);
    insert_ = nullptr;
    sqlite3_close_v2(db_);
    db_ = nullptr;
    throw StoreError(path + ": " + e.what());
  }
}

struct EventStore::Waiting {
  const Event* event = nullptr;
  const std::string* remote_addr = nullptr;
  std::string received_at;
  long long id = 0;
  std::string error;
  bool done = false;
  std::condition_variable committed;  // only its own request waits on it
};

EventStore::~EventStore() {
  {
    std::lock_guard<std::mutex> lock(queue_mutex_);
    ending_ = true;
  }
  queue_ready_.notify_all();
  if (committer_.joinable()) committer_.join();
  sqlite3_finalize(find_);
  sqlite3_finalize(insert_);
  sqlite3_close_v2(db_);
}

long long EventStore::Insert(const Event& e, const std::string& remote_addr) {
  Waiting w;
  w.event = &e;
  w.remote_addr = &remote_addr;
  w.received_at = NowUtc();
  std::unique_lock<std::mutex> lock(queue_mutex_);
  if (ending_) throw StoreError("the event store is closing");
  queue_.push_back(&w);
  queue_ready_.notify_one();
  w.committed.wait(lock, [&] { return w.done; });
  if (!w.error.empty()) throw StoreError(w.error);
  return w.id;
}

void EventStore::Commit() {
  std::vector<Waiting*> batch;
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(queue_mutex_);
      queue_ready_.wait(lock, [&] { return ending_ || !queue_.empty(); });
      if (queue_.empty()) return;  // ending, and nothing is left
      batch.assign(queue_.begin(), queue_.end());
      queue_.clear();
    }
    std::string error;
    try {
      Write(batch);
    } catch (const StoreError& err) {
      error = err.what();
    }
    {
      std::lock_guard<std::mutex> lock(queue_mutex_);
      for (Waiting* w : batch) {
        // All or none: a failed transaction stored none of them.
        w->error = error;
        w->done = true;
        w->committed.notify_one();
      }
    }
  }
}

void EventStore::Write(const std::vector<Waiting*>& batch) {
  std::lock_guard<std::mutex> lock(mutex_);
  // IMMEDIATE takes the write lock now, so the wait for another service on
  // the file is the busy timeout's, not a failure half-way.
  Exec(db_, "BEGIN IMMEDIATE");
  try {
    for (Waiting* w : batch) {
      const Event& e = *w->event;
      sqlite3_stmt* st = insert_;
      sqlite3_reset(st);
      sqlite3_clear_bindings(st);
      Bind(st, 1, w->received_at);
      sqlite3_bind_int(st, 2, e.code);
      Bind(st, 3, e.offer_id);
      Bind(st, 4, e.feed_id);
      if (e.kind) sqlite3_bind_int(st, 5, *e.kind);
      Bind(st, 6, e.reason);
      Bind(st, 7, e.failure);
      Bind(st, 8, e.machine_id);
      Bind(st, 9, e.run_stamp);
      Bind(st, 10, *w->remote_addr);
      Bind(st, 11, e.data);
      const int rc = sqlite3_step(st);
      sqlite3_reset(st);
      if (rc != SQLITE_DONE) throw StoreError(sqlite3_errmsg(db_));
      w->id = sqlite3_last_insert_rowid(db_);
    }
    // With synchronous=FULL the commit returns once the log is on disk.
    Exec(db_, "COMMIT");
  } catch (const StoreError&) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

std::vector<StoredEvent> EventStore::Find(const std::string& offer_id,
                                          const std::optional<std::string>& run_stamp) {
  std::lock_guard<std::mutex> lock(mutex_);
  sqlite3_stmt* st = find_;
  sqlite3_reset(st);
  sqlite3_clear_bindings(st);
  Bind(st, 1, offer_id);
  if (run_stamp) Bind(st, 2, *run_stamp);
  std::vector<StoredEvent> out;
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    StoredEvent s;
    s.id = sqlite3_column_int64(st, 0);
    Event& e = s.event;
    e.code = sqlite3_column_int(st, 1);
    e.offer_id = Column(st, 2);
    e.feed_id = Column(st, 3);
    if (sqlite3_column_type(st, 4) != SQLITE_NULL) e.kind = sqlite3_column_int(st, 4);
    e.reason = Column(st, 5);
    e.failure = Column(st, 6);
    e.machine_id = Column(st, 7);
    e.run_stamp = Column(st, 8);
    e.data = Column(st, 9);
    out.push_back(std::move(s));
  }
  // Resetting ends the read transaction, so a WAL checkpoint is not held up.
  sqlite3_reset(st);
  if (rc != SQLITE_DONE) throw StoreError(sqlite3_errmsg(db_));
  return out;
}

Reply TakeEvent(EventStore& store, const std::string& authorization, const std::string& body,
                const std::string& remote_addr) {
  Event e;
  if (auto refusal = ReadEvent(authorization, body, &e)) return *refusal;
  try {
    long long id = store.Insert(e, remote_addr);
    return Reply::Json("{\"stored\":" + std::to_string(id) + "}");
  } catch (const StoreError& err) {
    std::cerr << "event not stored: " << err.what() << std::endl;
    // The wizard tries once more a few seconds later.
    return Reply::Text(503, "event store unavailable");
  }
}

Reply ReadBackEvents(EventStore& store, const std::string& offer_id,
                     const std::optional<std::string>& run_stamp) {
  std::vector<StoredEvent> found;
  try {
    found = store.Find(offer_id, run_stamp);
  } catch (const StoreError& err) {
    std::cerr << "events not read: " << err.what() << std::endl;
    return Reply::Text(503, "event store unavailable");
  }
  json list = json::array();
  for (const StoredEvent& s : found) {
    const Event& e = s.event;
    list.push_back({{"id", s.id},
                    {"code", e.code},
                    {"offer_id", e.offer_id},
                    {"feed_id", e.feed_id},
                    {"kind", e.kind ? json(*e.kind) : json(nullptr)},
                    {"reason", e.reason},
                    {"failure", e.failure},
                    {"machine_id", e.machine_id},
                    {"run_stamp", e.run_stamp},
                    {"data", e.data}});
  }
  // What arrived was valid UTF-8; replacing only guards a file edited by hand.
  return Reply::Json(list.dump(-1, ' ', false, json::error_handler_t::replace));
}

sqlite3* OpenExistingDatabase(const std::string& path) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  if (rc != SQLITE_OK) {
    std::string text = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    sqlite3_close_v2(db);
    throw StoreError(path + ": " + text);
  }
  sqlite3_busy_timeout(db, 10000);
  return db;
}

}  // namespace tamsel
