#include "events.h"

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

// The same statements on both stores (see database.h).
const std::string kInsert = std::string("INSERT INTO events (") + kEventColumns +
                            ") VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11) RETURNING id";

// $2 NULL: any run.
const char kFind[] =
    "SELECT id, code, offer_id, feed_id, kind, reason, failure, machine_id, run_stamp, data"
    " FROM events WHERE offer_id = $1 AND (run_stamp = $2 OR $2 IS NULL) ORDER BY id";

// Checks at start that the table has the columns this program writes.
const std::string kLayout = std::string("SELECT id, ") + kEventColumns + " FROM events WHERE 1 = 0";

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
  // A "\u0000" in the event gives a NUL in the text, which PostgreSQL
  // cannot store; refused on every store, so both keep the same events.
  for (const std::string* text :
       {&e.offer_id, &e.feed_id, &e.reason, &e.failure, &e.machine_id, &e.run_stamp}) {
    if (text->find('\0') != std::string::npos) {
      return Reply::Text(400, "event texts must not hold NUL characters");
    }
  }
  *out = std::move(e);
  return std::nullopt;
}

EventStore::EventStore(const StoreLocation& where) : where_(where) {
  writer_ = OpenDatabase(where_, OpenMode::Create);
  reader_ = OpenDatabase(where_, OpenMode::Existing);
  try {
    writer_->Query(kLayout);
  } catch (const StoreError& e) {
    throw StoreError(where_.Describe() + ": unexpected table layout: " + e.what());
  }
  committer_ = std::thread([this] { Commit(); });
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
    bool committing = false;
    try {
      Write(batch, &committing);
    } catch (const StoreError& err) {
      // All or none: a failed transaction stored none of them.
      for (Waiting* w : batch) w->error = err.what();
      // Refused before the commit: what the others brought was not at fault.
      // A commit that failed may still have reached the disk, so trying
      // again could store its events twice: those are answered 503.
      if (!committing && batch.size() > 1) {
        for (Waiting* w : batch) {
          bool alone_committing = false;
          try {
            Write({w}, &alone_committing);
            w->error.clear();
          } catch (const StoreError& alone) {
            w->error = alone.what();
          }
        }
      }
    }
    {
      std::lock_guard<std::mutex> lock(queue_mutex_);
      for (Waiting* w : batch) {
        w->done = true;
        w->committed.notify_one();
      }
    }
  }
}

void EventStore::Write(const std::vector<Waiting*>& batch, bool* committing) {
  Transaction t(*writer_, Transaction::Write);
  for (Waiting* w : batch) {
    const Event& e = *w->event;
    const SqlValue kind = e.kind ? SqlValue(static_cast<long long>(*e.kind)) : SqlValue(nullptr);
    std::vector<SqlRow> rows =
        writer_->Query(kInsert, {w->received_at, static_cast<long long>(e.code), e.offer_id,
                                 e.feed_id, kind, e.reason, e.failure, e.machine_id, e.run_stamp,
                                 *w->remote_addr, e.data});
    if (rows.size() != 1) throw StoreError("the insert gave no row id");
    w->id = rows[0].Int(0);
  }
  *committing = true;
  t.Commit();
}

std::vector<StoredEvent> EventStore::Find(const std::string& offer_id,
                                          const std::optional<std::string>& run_stamp) {
  std::vector<SqlRow> rows = WithReader([&](Database& db) {
    // In a transaction of its own, whose start finds a lost connection again.
    Transaction t(db, Transaction::Read);
    std::vector<SqlRow> found =
        db.Query(kFind, {offer_id, run_stamp ? SqlValue(*run_stamp) : SqlValue(nullptr)});
    t.Commit();
    return found;
  });
  std::vector<StoredEvent> out;
  for (const SqlRow& row : rows) {
    StoredEvent s;
    s.id = row.Int(0);
    Event& e = s.event;
    e.code = static_cast<int>(row.Int(1));
    e.offer_id = row.Text(2);
    e.feed_id = row.Text(3);
    if (!row.IsNull(4)) e.kind = static_cast<int>(row.Int(4));
    e.reason = row.Text(5);
    e.failure = row.Text(6);
    e.machine_id = row.Text(7);
    e.run_stamp = row.Text(8);
    e.data = row.Text(9);
    out.push_back(std::move(s));
  }
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

}  // namespace tamsel
