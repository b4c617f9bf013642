// The event table in a SQLite file: WAL mode with full syncing, so several
// services may share the file and a commit is on disk when it returns.
#include <sqlite3.h>

#include <map>

#include "database.h"

namespace tamsel {
namespace {

const std::string kSchema = EventsSchema("INTEGER PRIMARY KEY AUTOINCREMENT");

class SqliteDatabase : public Database {
 public:
  SqliteDatabase(const std::string& path, OpenMode mode) {
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX |
                      (mode == OpenMode::Create ? SQLITE_OPEN_CREATE : 0);
    const int rc = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
    if (rc != SQLITE_OK) {
      std::string text = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
      sqlite3_close_v2(db_);
      db_ = nullptr;
      throw StoreError(path + ": " + text);
    }
    try {
      // Another service on the same file may hold the write lock for a moment.
      sqlite3_busy_timeout(db_, 10000);
      if (mode == OpenMode::Create) {
        Exec("PRAGMA journal_mode=WAL");
        // An event is answered 200 only once it is on disk.
        Exec("PRAGMA synchronous=FULL");
        Exec("BEGIN IMMEDIATE");
        try {
          Exec(kSchema.c_str());
          Exec("COMMIT");
        } catch (const StoreError& e) {
          sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
          throw StoreError(std::string("cannot set up the events table: ") + e.what());
        }
      }
    } catch (const StoreError& e) {
      sqlite3_close_v2(db_);
      db_ = nullptr;
      throw StoreError(path + ": " + e.what());
    }
  }

  ~SqliteDatabase() override {
    for (auto& entry : statements_) sqlite3_finalize(entry.second);
    sqlite3_close_v2(db_);
  }

  void BeginWrite() override { Exec("BEGIN IMMEDIATE"); }
  // The snapshot starts with the first read and holds until the end.
  void BeginRead() override { Exec("BEGIN"); }
  void Commit() override { Exec("COMMIT"); }
  void Rollback() noexcept override {
    if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }

  std::vector<SqlRow> Query(const std::string& sql, const std::vector<SqlValue>& params) override {
    sqlite3_stmt* st = Prepared(sql);
    sqlite3_reset(st);
    sqlite3_clear_bindings(st);
    for (std::size_t i = 0; i < params.size(); ++i) {
      const std::string name = "$" + std::to_string(i + 1);
      const int index = sqlite3_bind_parameter_index(st, name.c_str());
      if (index == 0) continue;  // a parameter the statement does not use
      const SqlValue& v = params[i];
      if (const auto* n = std::get_if<long long>(&v)) {
        sqlite3_bind_int64(st, index, *n);
      } else if (const auto* s = std::get_if<std::string>(&v)) {
        sqlite3_bind_text(st, index, s->data(), static_cast<int>(s->size()), SQLITE_TRANSIENT);
      }  // NULL: unbound parameters are NULL
    }
    std::vector<SqlRow> rows;
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
      SqlRow row;
      const int columns = sqlite3_column_count(st);
      for (int c = 0; c < columns; ++c) {
        if (sqlite3_column_type(st, c) == SQLITE_NULL) {
          row.cells.emplace_back();
          continue;
        }
        // Text with its exact length (a stored text may hold any byte).
        const unsigned char* t = sqlite3_column_text(st, c);
        row.cells.emplace_back(std::string(reinterpret_cast<const char*>(t),
                                           static_cast<std::size_t>(sqlite3_column_bytes(st, c))));
      }
      rows.push_back(std::move(row));
    }
    // Resetting ends an implicit read transaction, so a WAL checkpoint is not held up.
    sqlite3_reset(st);
    if (rc != SQLITE_DONE) throw StoreError(sqlite3_errmsg(db_));
    return rows;
  }

 private:
  void Exec(const char* sql) {
    char* err = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &err) != SQLITE_OK) {
      std::string text = err ? err : sqlite3_errmsg(db_);
      sqlite3_free(err);
      throw StoreError(text);
    }
  }

  sqlite3_stmt* Prepared(const std::string& sql) {
    auto it = statements_.find(sql);
    if (it != statements_.end()) return it->second;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &st, nullptr) !=
        SQLITE_OK) {
      throw StoreError(sqlite3_errmsg(db_));
    }
    statements_.emplace(sql, st);
    return st;
  }

  sqlite3* db_ = nullptr;
  std::map<std::string, sqlite3_stmt*> statements_;
};

}  // namespace

std::unique_ptr<Database> OpenSqlite(const std::string& path, OpenMode mode) {
  return std::make_unique<SqliteDatabase>(path, mode);
}

}  // namespace tamsel
