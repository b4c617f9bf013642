#include "database.h"

#include <cerrno>
#include <cstdlib>

namespace tamsel {

const char kEventColumns[] =
    "received_at, code, offer_id, feed_id, kind, reason, failure, machine_id, run_stamp,"
    " remote_addr, data";

std::string StoreLocation::Describe() const {
  return IsPostgres() ? DescribePostgres(postgres) : sqlite;
}

std::string EventsSchema(const std::string& idColumn) {
  return "CREATE TABLE IF NOT EXISTS events ("
         "  id " + idColumn + ","
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
}

long long SqlRow::Int(std::size_t i) const {
  if (IsNull(i)) return 0;
  const std::string& text = *cells.at(i);
  errno = 0;
  char* end = nullptr;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (text.empty() || errno != 0 || end != text.c_str() + text.size()) {
    throw StoreError("expected an integer, got \"" + text.substr(0, 40) + "\"");
  }
  return value;
}

std::unique_ptr<Database> OpenDatabase(const StoreLocation& where, OpenMode mode) {
  return where.IsPostgres() ? OpenPostgres(where.postgres, mode) : OpenSqlite(where.sqlite, mode);
}

}  // namespace tamsel
