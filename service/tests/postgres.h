#pragma once
// The tests' own PostgreSQL server (tests/postgres.sh): CTest starts it for
// the run; a test program run by hand starts it itself and stops it at its
// end. Each test takes a fresh database of its own.

#include <map>
#include <string>
#include <vector>

#include "page.h"

namespace harness {

// Why the server is not there ("" when it is), e.g. its programs missing.
std::string PostgresUnavailable();

class PgDatabase {
 public:
  PgDatabase();  // a fresh database on the tests' server
  ~PgDatabase();
  PgDatabase(const PgDatabase&) = delete;
  PgDatabase& operator=(const PgDatabase&) = delete;

  // The libpq connection string the service is given.
  const std::string& conninfo() const { return conninfo_; }
  const std::string& name() const { return name_; }

  // Rows of the events table in id order, every value as text ("NULL").
  Rows EventRows() const;
  // Runs SQL on this database; the first value of the first row, if any.
  std::string Exec(const std::string& sql) const;

 private:
  std::string name_;
  std::string conninfo_;
};

// Runs SQL on the server's "postgres" database (creating and dropping others).
std::string AdminExec(const std::string& sql);

}  // namespace harness
