#pragma once
// The event table on either store: SQLite, a file beside the service (the
// default), or PostgreSQL, which several service processes on several
// machines can share. Both hold the same table and answer the same SQL: the
// statements use $1, $2, ... for their parameters and only what both
// dialects read alike.

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

namespace tamsel {

struct StoreError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Where the events are: a SQLite file, or a PostgreSQL database when
// postgres holds a libpq connection string ("host=... dbname=..." or
// "postgresql://...").
struct StoreLocation {
  std::string sqlite;
  std::string postgres;

  bool IsPostgres() const { return !postgres.empty(); }
  // For messages: the file, or "postgresql://USER@HOST:PORT/DB"; never a password.
  std::string Describe() const;
};

// The event table and its index on either store, given the row id column in
// the store's own dialect: the only place the two differ.
std::string EventsSchema(const std::string& idColumn);

// A statement parameter: NULL, an integer or a text.
using SqlValue = std::variant<std::nullptr_t, long long, std::string>;

// One result row; every value comes back as text (NULL as nothing).
struct SqlRow {
  std::vector<std::optional<std::string>> cells;

  bool IsNull(std::size_t i) const { return !cells.at(i).has_value(); }
  std::string Text(std::size_t i) const { return cells.at(i).value_or(std::string()); }
  long long Int(std::size_t i) const;  // 0 for NULL; throws StoreError on a non-number
};

// One connection. Not for two threads at once.
class Database {
 public:
  virtual ~Database() = default;

  // A transaction that writes; on SQLite it takes the write lock at once, so
  // waiting for another writer is the busy timeout's, not a failure half-way.
  virtual void BeginWrite() = 0;
  // A read-only transaction that sees one snapshot throughout.
  virtual void BeginRead() = 0;
  // Durable when it returns: on disk (SQLite, synchronous=FULL) or flushed to
  // the server's write-ahead log (PostgreSQL, synchronous_commit=on).
  virtual void Commit() = 0;
  virtual void Rollback() noexcept = 0;

  // Throws StoreError with the database's own message.
  virtual std::vector<SqlRow> Query(const std::string& sql,
                                    const std::vector<SqlValue>& params = {}) = 0;
};

enum class OpenMode {
  Create,    // create the file (SQLite) and the table when missing
  Existing,  // read what is there; a missing SQLite file is an error
};

// Throws StoreError naming the store.
std::unique_ptr<Database> OpenDatabase(const StoreLocation& where, OpenMode mode);

std::unique_ptr<Database> OpenSqlite(const std::string& path, OpenMode mode);
std::unique_ptr<Database> OpenPostgres(const std::string& conninfo, OpenMode mode);
std::string DescribePostgres(const std::string& conninfo);

// Rolls back unless committed, so a thrown error leaves no transaction open.
class Transaction {
 public:
  enum Kind { Read, Write };
  Transaction(Database& db, Kind kind) : db_(db) {
    kind == Write ? db_.BeginWrite() : db_.BeginRead();
  }
  ~Transaction() {
    if (!done_) db_.Rollback();
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  // A commit that fails is rolled back like any other error.
  void Commit() {
    db_.Commit();
    done_ = true;
  }

 private:
  Database& db_;
  bool done_ = false;
};

// The table, its columns in this order, as both stores hold it.
extern const char kEventColumns[];

}  // namespace tamsel
