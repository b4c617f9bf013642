// Events per second the service stores for concurrent TLS clients on
// kept-alive connections, beside what SQLite itself commits on the same disk
// with the same syncing: one row per transaction, and 100 rows per one.
//
//   service_bench --service BIN --cert PEM --key PEM --ca PEM --dir DIR
//                 [--clients 16] [--seconds 5]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using nlohmann::json;

[[noreturn]] void Die(const std::string& what) {
  std::cerr << "service_bench: " << what << "\n";
  std::exit(1);
}

void Exec(sqlite3* db, const char* sql) {
  char* err = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &err) != SQLITE_OK) Die(err ? err : "sqlite");
}

// Rows per second SQLite commits for seconds, per_commit rows in each
// transaction, WAL with full syncing as the service runs it.
double RawSqlite(const std::string& path, int per_commit, double seconds) {
  std::remove(path.c_str());
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) Die("cannot open " + path);
  Exec(db, "PRAGMA journal_mode=WAL");
  Exec(db, "PRAGMA synchronous=FULL");
  Exec(db, "CREATE TABLE events (id INTEGER PRIMARY KEY AUTOINCREMENT, received_at TEXT, code INTEGER,"
           " offer_id TEXT, data TEXT)");
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO events (received_at, code, offer_id, data) VALUES (?,?,?,?)", -1,
                     &st, nullptr);
  const std::string data(600, 'd');  // about an event body's size
  long long rows = 0;
  const auto start = Clock::now();
  const auto end = start + std::chrono::duration<double>(seconds);
  while (Clock::now() < end) {
    Exec(db, "BEGIN IMMEDIATE");
    for (int i = 0; i < per_commit; ++i) {
      sqlite3_bind_text(st, 1, "2024-01-01T00:00:00.000Z", -1, SQLITE_STATIC);
      sqlite3_bind_int(st, 2, 2);
      const std::string offer = "raw-" + std::to_string(rows);
      sqlite3_bind_text(st, 3, offer.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(st, 4, data.c_str(), -1, SQLITE_STATIC);
      if (sqlite3_step(st) != SQLITE_DONE) Die(sqlite3_errmsg(db));
      sqlite3_reset(st);
      ++rows;
    }
    Exec(db, "COMMIT");
  }
  const double took = std::chrono::duration<double>(Clock::now() - start).count();
  sqlite3_finalize(st);
  sqlite3_close(db);
  for (const char* suffix : {"", "-wal", "-shm"}) std::remove((path + suffix).c_str());
  return rows / took;
}

std::string Sha256Hex(const std::string& text) {
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  EVP_Digest(text.data(), text.size(), md, &len, EVP_sha256(), nullptr);
  std::string out;
  char hex[3];
  for (unsigned int i = 0; i < len; ++i) {
    std::snprintf(hex, sizeof hex, "%02x", md[i]);
    out += hex;
  }
  return out;
}

// One kept-alive TLS connection that posts events and reads the answers.
class Client {
 public:
  Client(SSL_CTX* ctx, int port) : ctx_(ctx), port_(port) {}
  ~Client() { Close(); }

  // The status of the answer, 0 when the connection broke.
  int Post(const std::string& request) {
    for (int attempt = 0; attempt < 2; ++attempt) {
      if (!ssl_ && !Connect()) return 0;
      if (Write(request)) {
        const int status = ReadAnswer();
        if (status > 0) return status;
      }
      Close();  // the service closes after its per-connection count: again
    }
    return 0;
  }

 private:
  bool Connect() {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port_));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return Close(), false;
    ssl_ = SSL_new(ctx_);
    SSL_set_fd(ssl_, fd_);
    SSL_set_tlsext_host_name(ssl_, "localhost");
    if (SSL_connect(ssl_) != 1) return Close(), false;
    buffer_.clear();
    return true;
  }
  void Close() {
    if (ssl_) SSL_free(ssl_);
    if (fd_ >= 0) close(fd_);
    ssl_ = nullptr;
    fd_ = -1;
  }
  bool Write(const std::string& s) {
    std::size_t done = 0;
    while (done < s.size()) {
      const int n = SSL_write(ssl_, s.data() + done, static_cast<int>(s.size() - done));
      if (n <= 0) return false;
      done += static_cast<std::size_t>(n);
    }
    return true;
  }
  int ReadAnswer() {
    char buf[16384];
    for (;;) {
      const auto end = buffer_.find("\r\n\r\n");
      if (end != std::string::npos) {
        const auto cl = buffer_.find("Content-Length: ");
        const std::size_t length =
            cl != std::string::npos && cl < end ? std::stoul(buffer_.substr(cl + 16)) : 0;
        if (buffer_.size() >= end + 4 + length) {
          const int status = std::atoi(buffer_.c_str() + 9);
          const bool closing = buffer_.find("Connection: close") < end;
          buffer_.erase(0, end + 4 + length);
          if (closing) Close();
          return status;
        }
      }
      const int n = SSL_read(ssl_, buf, sizeof buf);
      if (n <= 0) return 0;
      buffer_.append(buf, static_cast<std::size_t>(n));
    }
  }

  SSL_CTX* ctx_;
  int port_;
  int fd_ = -1;
  SSL* ssl_ = nullptr;
  std::string buffer_;
};

std::string EventRequest(int client, long long n) {
  json body = json::object();
  for (int k = 0; k <= 22; ++k) body[std::to_string(k)] = "";
  body["1"] = "4c4c4544-0031-3510-8052-b2c04f4e313" + std::to_string(client % 10);
  body["2"] = "20240314151617";
  body["3"] = "Harlix";
  body["5"] = "bench-" + std::to_string(client) + "-" + std::to_string(n);
  body["6"] = "2";
  body["10"] = 2;
  body["13"] = "FILE EXISTS";
  body["18"] = "feed-1";
  const std::string document = json{{"data", body.dump()}, {"table", "zb_analytics"}}.dump();
  const std::string signature = Sha256Hex(body["1"].get<std::string>() + body["2"].get<std::string>());
  return "POST /zbd HTTP/1.1\r\nHost: localhost\r\nAuthorization: Signature=" + signature +
         "\r\nExpect: 100-continue\r\nContent-Type: application/json\r\nContent-Length: " +
         std::to_string(document.size()) + "\r\n\r\n" + document;
}

long long CountRows(const std::string& path) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* st = nullptr;
  long long n = -1;
  if (sqlite3_prepare_v2(db, "SELECT COUNT(*) FROM events", -1, &st, nullptr) == SQLITE_OK &&
      sqlite3_step(st) == SQLITE_ROW) {
    n = sqlite3_column_int64(st, 0);
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  return n;
}

}  // namespace

int main(int argc, char** argv) {
  std::map<std::string, std::string> arg = {{"--clients", "16"}, {"--seconds", "5"}};
  for (int i = 1; i + 1 < argc; i += 2) arg[argv[i]] = argv[i + 1];
  for (const char* need : {"--service", "--cert", "--key", "--ca", "--dir"}) {
    if (!arg.count(need)) Die(std::string("missing ") + need);
  }
  const int clients = std::stoi(arg["--clients"]);
  const double seconds = std::stod(arg["--seconds"]);
  const std::string dir = arg["--dir"];
  signal(SIGPIPE, SIG_IGN);

  // The disk's own figures first, while nothing else runs.
  const double raw_single = RawSqlite(dir + "/raw.sqlite", 1, seconds);
  const double raw_batched = RawSqlite(dir + "/raw.sqlite", 100, seconds);

  const std::string db = dir + "/bench-events.sqlite";
  for (const char* suffix : {"", "-wal", "-shm"}) std::remove((db + suffix).c_str());
  const std::string campaign = dir + "/bench-campaign.json";
  std::ofstream(campaign) << R"({"product":{"ct":"Bench","cu":"installers/p.exe"},"flow":{"m":1}})";
  const std::string log = dir + "/bench-service.log";
  const pid_t pid = fork();
  if (pid == 0) {
    freopen(log.c_str(), "w", stdout);
    freopen(log.c_str(), "a", stderr);
    execl(arg["--service"].c_str(), arg["--service"].c_str(), "--port", "0", "--quiet", "--cert",
          arg["--cert"].c_str(), "--key", arg["--key"].c_str(), "--campaign", campaign.c_str(), "--db",
          db.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int port = 0;
  for (int i = 0; i < 300 && port == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::ifstream in(log);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::smatch m;
    if (std::regex_search(text, m, std::regex(R"(listening on https://[^:]+:(\d+))"))) port = std::stoi(m[1]);
  }
  if (port == 0) Die("the service did not start; see " + log);

  SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
  SSL_CTX_load_verify_locations(ctx, arg["--ca"].c_str(), nullptr);
  SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
  std::atomic<long long> answered{0}, refused{0};
  std::atomic<bool> stop{false};
  std::vector<std::thread> threads;
  const auto start = Clock::now();
  for (int c = 0; c < clients; ++c) {
    threads.emplace_back([&, c] {
      Client client(ctx, port);
      for (long long n = 0; !stop; ++n) {
        const int status = client.Post(EventRequest(c, n));
        (status == 200 ? answered : refused)++;
      }
    });
  }
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  stop = true;
  for (auto& t : threads) t.join();
  const double took = std::chrono::duration<double>(Clock::now() - start).count();
  kill(pid, SIGTERM);
  int status = 0;
  waitpid(pid, &status, 0);
  SSL_CTX_free(ctx);
  const long long stored = CountRows(db);

  const double rate = answered / took;
  const double target = std::min(5000.0, raw_batched / 2);
  std::printf("raw SQLite, one row per commit:    %10.0f rows/s\n", raw_single);
  std::printf("raw SQLite, 100 rows per commit:   %10.0f rows/s\n", raw_batched);
  std::printf("service, %d TLS clients kept alive: %9.0f events/s (%lld answered 200, %lld not, "
              "%lld stored)\n", clients, rate, answered.load(), refused.load(), stored);
  std::printf("target (5000/s or half the batched figure, the lower): %.0f/s: %s\n", target,
              rate >= target ? "met" : "NOT met");
  std::printf("lost (answered 200, not stored): %lld\n", std::max(0LL, answered.load() - stored));
  return stored >= answered && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}
