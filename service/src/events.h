#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "database.h"
#include "reply.h"

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

// The event table (database.h), SQLite or PostgreSQL. Several services may
// share one SQLite file or one PostgreSQL database.
//
// Events that arrive together share one transaction and so one sync: one
// thread commits, in one transaction, every event that arrived while the
// previous commit was being synced. No event waits for company: a lone event
// is committed as soon as the thread is free. Should the shared transaction
// fail before its commit (the database refused one of its events), each of
// its events is tried again on its own, so one event does not cost the others.
class EventStore {
 public:
  explicit EventStore(const StoreLocation& where);  // throws StoreError
  // Commits what is still waiting, then closes the database.
  ~EventStore();
  EventStore(const EventStore&) = delete;
  EventStore& operator=(const EventStore&) = delete;

  // Committed durably when it returns (returns its row id); throws
  // StoreError when the transaction holding it failed.
  long long Insert(const Event& event, const std::string& remote_addr);

  // Every event whose offer id (and, when given, run stamp) is exactly the
  // text, in arrival order; sees what other services on the store committed.
  // Throws StoreError.
  std::vector<StoredEvent> Find(const std::string& offer_id,
                                const std::optional<std::string>& run_stamp);

  // Runs fn with the reading connection, one caller at a time (the report
  // page); the writing connection goes on committing meanwhile.
  template <typename Fn>
  auto WithReader(Fn fn) {
    std::lock_guard<std::mutex> lock(reader_mutex_);
    return fn(*reader_);
  }

  const StoreLocation& location() const { return where_; }

 private:
  struct Waiting;
  void Commit();  // the committing thread
  // One transaction; throws. *committing tells whether the commit itself was
  // under way, when its outcome is not known.
  void Write(const std::vector<Waiting*>& batch, bool* committing);

  StoreLocation where_;
  std::unique_ptr<Database> writer_;  // the committing thread's alone

  std::mutex reader_mutex_;
  std::unique_ptr<Database> reader_;

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

}  // namespace tamsel
