#include "postgres.h"

#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <stdexcept>

namespace harness {
namespace {

std::string Folder() { return TAMSEL_PG_DIR; }

std::string Trimmed(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
  return s;
}

bool Reachable(const std::string& conninfo) {
  return !conninfo.empty() && PQping(conninfo.c_str()) == PQPING_OK;
}

// Set up once per program: the server CTest started, or one of its own.
struct Server : ::testing::Environment {
  std::string admin;        // connection string to "postgres"
  std::string unavailable;  // why there is none
  bool own = false;

  void SetUp() override {
    admin = Trimmed(ReadFile(Folder() + "/conninfo"));
    if (Reachable(admin)) return;
    // Run by hand: start one, as CTest's fixture would have.
    const RunResult r = RunScript("start");
    admin = Trimmed(ReadFile(Folder() + "/conninfo"));
    if (Reachable(admin)) {
      own = true;
      return;
    }
    const std::string missing = Trimmed(ReadFile(Folder() + "/missing"));
    unavailable = !missing.empty() ? missing
                                   : "the tests' PostgreSQL server did not start: " + r.output;
    admin.clear();
  }

  void TearDown() override {
    if (own) RunScript("stop");
  }

  static RunResult RunScript(const std::string& command) {
    TempDir dir;
    pid_t pid = Spawn({"/bin/bash", TAMSEL_PG_SCRIPT, command, Folder()}, dir / "out.log");
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(dir / "out.log")};
  }
};

Server* const g_server =
    static_cast<Server*>(::testing::AddGlobalTestEnvironment(new Server));

// The connection string with another database.
std::string WithDatabase(const std::string& conninfo, const std::string& name) {
  const std::string key = "dbname=postgres";
  const std::size_t at = conninfo.find(key);
  if (at == std::string::npos) throw std::runtime_error("unexpected connection string");
  return conninfo.substr(0, at) + "dbname=" + name + conninfo.substr(at + key.size());
}

std::string Run(const std::string& conninfo, const std::string& sql, Rows* rows = nullptr) {
  PGconn* conn = PQconnectdb(conninfo.c_str());
  if (PQstatus(conn) != CONNECTION_OK) {
    const std::string err = PQerrorMessage(conn);
    PQfinish(conn);
    throw std::runtime_error("cannot connect: " + err);
  }
  PGresult* r = PQexec(conn, sql.c_str());
  const ExecStatusType status = PQresultStatus(r);
  if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) {
    const std::string err = PQresultErrorMessage(r);
    PQclear(r);
    PQfinish(conn);
    throw std::runtime_error(sql + ": " + err);
  }
  std::string first;
  if (status == PGRES_TUPLES_OK && PQntuples(r) > 0 && PQnfields(r) > 0) {
    first = PQgetisnull(r, 0, 0) ? "NULL" : PQgetvalue(r, 0, 0);
  }
  if (rows) {
    for (int i = 0; i < PQntuples(r); ++i) {
      std::map<std::string, std::string> row;
      for (int c = 0; c < PQnfields(r); ++c) {
        row[PQfname(r, c)] = PQgetisnull(r, i, c)
                                 ? "NULL"
                                 : std::string(PQgetvalue(r, i, c),
                                               static_cast<std::size_t>(PQgetlength(r, i, c)));
      }
      rows->push_back(std::move(row));
    }
  }
  PQclear(r);
  PQfinish(conn);
  return first;
}

}  // namespace

std::string PostgresUnavailable() { return g_server->unavailable; }

std::string AdminExec(const std::string& sql) { return Run(g_server->admin, sql); }

PgDatabase::PgDatabase() {
  static std::atomic<int> counter{0};
  name_ = "tamsel_test_" + std::to_string(getpid()) + "_" + std::to_string(++counter);
  AdminExec("CREATE DATABASE " + name_ + " ENCODING 'UTF8'");
  conninfo_ = WithDatabase(g_server->admin, name_);
}

PgDatabase::~PgDatabase() {
  try {
    AdminExec("DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)");
  } catch (const std::exception&) {
    // A server already gone takes its databases along.
  }
}

Rows PgDatabase::EventRows() const {
  Rows rows;
  Run(conninfo_, "SELECT * FROM events ORDER BY id", &rows);
  return rows;
}

std::string PgDatabase::Exec(const std::string& sql) const { return Run(conninfo_, sql); }

}  // namespace harness
