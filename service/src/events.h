#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "reply.h"

struct sqlite3;
struct sqlite3_stmt;

namespace tamsel {

// One accepted event, as it is stored.
struct Event {
  int code = 0;            // "6"
  std::string offer_id;    // "5"
  std::string feed_id;     // "18"
  std::optional<int> kind; // "10": 1 main product, 2 offer
  std::string reason;      // "13", rejections
  std::string failure;     // "12", failed downloads and launches
  std::string machine_id;  // "1"
  std::string run_stamp;   // "2"
  std::string data;        // the event body exactly as it arrived
};

// Checks an event document and its "Authorization" signature. Returns the
// refusal to send, or nothing when out holds the event.
std::optional<Reply> ReadEvent(const std::string& authorization, const std::string& body,
                               Event* out);

// An event read back from the table, with its row id.
struct StoredEvent {
  long long id = 0;
  Event event;
};

struct StoreError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The SQLite event table. Several services may share one database file.
//
// Events that arrive together share one transaction and so one sync: one
// thread commits, in one transaction, every event that arrived while the
// previous commit was being synced. No event waits for company: a lone event
// is committed as soon as the thread is free.
class EventStore {
 public:
  explicit EventStore(const std::string& path);  // throws StoreError
  // Commits what is still waiting, then closes the database.
  ~EventStore();
  EventStore(const EventStore&) = delete;
  EventStore& operator=(const EventStore&) = delete;

  // Committed to disk when it returns (returns its row id); throws
  // StoreError when the transaction holding it failed.
  long long Insert(const Event& event, const std::string& remote_addr);

  // Every event whose offer id (and, when given, run stamp) is exactly the
  // text, in arrival order; sees what other services on the file committed.
  // Throws StoreError.
  std::vector<StoredEvent> Find(const std::string& offer_id,
                                const std::optional<std::string>& run_stamp);

 private:
  struct Waiting;
  void Commit();                               // the committing thread
  void Write(const std::vector<Waiting*>& batch);  // one transaction; throws

  std::mutex mutex_;  // the database handle and statements
  sqlite3* db_ = nullptr;
  sqlite3_stmt* insert_ = nullptr;
  sqlite3_stmt* find_ = nullptr;

  std::mutex queue_mutex_;
  std::condition_variable queue_ready_;  // an event waits, or the store ends
  std::deque<Waiting*> queue_;
  bool ending_ = false;
  std::thread committer_;
};

// The event endpoint: validate, store, answer.
Reply TakeEvent(EventStore& store, const std::string& authorization, const std::string& body,
                const std::string& remote_addr);

// The read-back endpoint: the stored events of one offer (and run) as JSON.
Reply ReadBackEvents(EventStore& store, const std::string& offer_id,
                     const std::optional<std::string>& run_stamp);

// Opens a database for reading without creating it; throws StoreError.
sqlite3* OpenExistingDatabase(const std::string& path);

}  // namespace tamsel
