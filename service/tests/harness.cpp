#include "harness.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace harness {
namespace {

// Generous limits against a hung child; nothing is measured against them.
constexpr auto kStartLimit = std::chrono::seconds(60);
constexpr auto kStopLimit = std::chrono::seconds(60);

}  // namespace

pid_t Spawn(const std::vector<std::string>& args, const std::string& log) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t parent = getpid();
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("cannot start " + args[0]);
  if (pid == 0) {
    // A test run that dies (a crash, a closed pipe) takes its services along.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (out < 0 || in < 0 || dup2(out, 1) < 0 || dup2(out, 2) < 0 || dup2(in, 0) < 0) _exit(127);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

namespace {

int ExitCode(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

}  // namespace

std::string ServiceBinary() { return TAMSEL_SERVICE_BIN; }
std::string CaFile() { return std::string(TAMSEL_TLS_DIR) + "/ca.pem"; }
std::string CertFile() { return std::string(TAMSEL_TLS_DIR) + "/server.pem"; }
std::string KeyFile() { return std::string(TAMSEL_TLS_DIR) + "/server.key"; }

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tamsel-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

Service::Service(std::vector<std::string> args) {
  std::vector<std::string> argv = {ServiceBinary(), "--cert", CertFile(), "--key", KeyFile()};
  bool has_port = false;
  for (const auto& a : args) has_port = has_port || a == "--port" || a.rfind("--port=", 0) == 0;
  if (!has_port) argv.insert(argv.end(), {"--port", "0"});
  argv.insert(argv.end(), args.begin(), args.end());
  pid_ = Spawn(argv, logs_ / "service.log");

  static const std::regex listening(R"(listening on https://127\.0\.0\.1:(\d+))");
  const auto limit = std::chrono::steady_clock::now() + kStartLimit;
  while (std::chrono::steady_clock::now() < limit) {
    std::smatch m;
    const std::string out = output();
    if (std::regex_search(out, m, listening)) {
      port_ = std::stoi(m[1]);
      return;
    }
    if (!Running()) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

Service::~Service() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

std::string Service::output() const { return ReadFile(logs_ / "service.log"); }

bool Service::Running() {
  if (pid_ <= 0) return false;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) == pid_) {
    pid_ = -1;
    return false;
  }
  return true;
}

void Service::Kill() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

long Service::ResidentKib() const {
  if (pid_ <= 0) return 0;
  std::ifstream in("/proc/" + std::to_string(pid_) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return 0;
}

int Service::Stop() {
  if (pid_ <= 0) return -1;
  kill(pid_, SIGTERM);
  const auto limit = std::chrono::steady_clock::now() + kStopLimit;
  int status = 0;
  while (waitpid(pid_, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > limit) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      pid_ = -1;
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  pid_ = -1;
  return ExitCode(status);
}

std::unique_ptr<httplib::SSLClient> Client(int port) {
  auto c = std::make_unique<httplib::SSLClient>("localhost", port);
  c->set_ca_cert_path(CaFile().c_str());
  c->enable_server_certificate_verification(true);
  c->set_address_family(AF_INET);
  c->set_connection_timeout(10);
  c->set_read_timeout(30);
  return c;
}

namespace {

// A whole response has arrived: its head, and as much body as it announced.
// Without a Content-Length only the server's closing ends it.
bool Complete(const std::string& raw, bool head_only) {
  auto end = raw.find("\r\n\r\n");
  if (end == std::string::npos) return false;
  static const std::regex length(R"(\r\n[Cc]ontent-[Ll]ength: *(\d+)\r\n)");
  std::smatch m;
  const std::string head = raw.substr(0, end + 2);
  if (!std::regex_search(head, m, length)) return false;
  return head_only || raw.size() - (end + 4) >= std::stoull(m[1]);
}

}  // namespace

namespace {

// The response in raw (a status line, headers, a body).
RawResponse ParseResponse(std::string raw, bool head_only) {
  RawResponse r;
  r.raw = std::move(raw);
  auto head_end = r.raw.find("\r\n\r\n");
  if (head_end == std::string::npos) return r;
  std::istringstream head(r.raw.substr(0, head_end));
  std::string line;
  std::getline(head, line);
  std::smatch m;
  if (std::regex_search(line, m, std::regex(R"(^HTTP/1\.[01] (\d{3}))"))) {
    r.status = std::stoi(m[1]);
  }
  while (std::getline(head, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    auto colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string name = line.substr(0, colon);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string value = line.substr(colon + 1);
    value.erase(0, value.find_first_not_of(' '));
    r.headers.emplace(name, value);
  }
  r.body = r.raw.substr(head_end + 4);
  auto cl = r.headers.find("content-length");
  r.ok = r.status > 0 &&
         (cl == r.headers.end() || head_only || std::stoull(cl->second) == r.body.size());
  return r;
}

SSL_CTX* ClientContext() {
  SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
  SSL_CTX_load_verify_locations(ctx, CaFile().c_str(), nullptr);
  SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
  return ctx;
}

int ConnectLoopback(int port, int timeout_seconds) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  timeval tv{timeout_seconds, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// A service that closes on (or is killed under) a client still sending must
// fail that client's writes, not end the test program: every client of the
// tests, raw connections and cpp-httplib's alike, writes with this ignored.
const bool kBrokenPipesIgnored = [] {
  signal(SIGPIPE, SIG_IGN);
  return true;
}();

}  // namespace

Connection::Connection(int port) {
  SSL_CTX* ctx = ClientContext();
  ctx_ = ctx;
  fd_ = ConnectLoopback(port, 60);
  if (fd_ < 0) return;
  SSL* ssl = SSL_new(ctx);
  SSL_set_fd(ssl, fd_);
  SSL_set_tlsext_host_name(ssl, "localhost");
  SSL_set1_host(ssl, "localhost");
  if (SSL_connect(ssl) == 1) {
    ssl_ = ssl;
  } else {
    SSL_free(ssl);
  }
}

Connection::~Connection() {
  if (ssl_) SSL_free(static_cast<SSL*>(ssl_));
  if (fd_ >= 0) close(fd_);
  SSL_CTX_free(static_cast<SSL_CTX*>(ctx_));
}

bool Connection::Send(const std::string& bytes) {
  if (!ssl_) return false;
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const int n = SSL_write(static_cast<SSL*>(ssl_), bytes.data() + sent,
                            static_cast<int>(std::min<std::size_t>(bytes.size() - sent, 1 << 20)));
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

RawResponse Connection::Read(int seconds) {
  if (!ssl_) return {};
  timeval tv{seconds, 0};
  setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  std::string raw = std::move(pending_);
  pending_.clear();
  char buf[16384];
  while (!Complete(raw, false)) {
    const int n = SSL_read(static_cast<SSL*>(ssl_), buf, sizeof buf);
    if (n <= 0) break;
    raw.append(buf, static_cast<std::size_t>(n));
  }
  RawResponse r = ParseResponse(raw, false);
  if (r.ok) {
    // Anything past the announced body belongs to the next response.
    auto cl = r.headers.find("content-length");
    const std::size_t end = r.raw.find("\r\n\r\n") + 4 +
                            (cl == r.headers.end() ? r.body.size() : std::stoull(cl->second));
    pending_ = r.raw.substr(end);
    r = ParseResponse(r.raw.substr(0, end), false);
  }
  return r;
}

RawResponse RawExchange(int port, const std::string& request) {
  const bool head_only = request.rfind("HEAD ", 0) == 0;
  RawResponse r;
  SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
  SSL_CTX_load_verify_locations(ctx, CaFile().c_str(), nullptr);
  SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
  const int fd = ConnectLoopback(port, 30);
  SSL* ssl = nullptr;
  if (fd >= 0) {
    ssl = SSL_new(ctx);
    SSL_set_fd(ssl, fd);
    SSL_set_tlsext_host_name(ssl, "localhost");
    SSL_set1_host(ssl, "localhost");
    if (SSL_connect(ssl) == 1) {
      std::size_t sent = 0;
      while (sent < request.size()) {
        int n = SSL_write(ssl, request.data() + sent, static_cast<int>(request.size() - sent));
        if (n <= 0) break;
        sent += static_cast<std::size_t>(n);
      }
      char buf[16384];
      for (;;) {
        int n = SSL_read(ssl, buf, sizeof buf);
        if (n <= 0) break;
        r.raw.append(buf, static_cast<std::size_t>(n));
        if (Complete(r.raw, head_only)) break;
      }
    }
  }
  if (ssl) SSL_free(ssl);
  if (fd >= 0) close(fd);
  SSL_CTX_free(ctx);
  return ParseResponse(std::move(r.raw), head_only);
}

RunResult Run(const std::vector<std::string>& args) {
  TempDir dir;
  std::vector<std::string> argv = {ServiceBinary()};
  argv.insert(argv.end(), args.begin(), args.end());
  pid_t pid = Spawn(argv, dir / "out.log");
  int status = 0;
  waitpid(pid, &status, 0);
  return {ExitCode(status), ReadFile(dir / "out.log")};
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

std::string SignatureFor(const std::string& machine_id, const std::string& run_stamp) {
  return "Signature=" + Sha256Hex(machine_id + run_stamp);
}

json EventBody(const std::string& code, const std::string& offer_id, const json& extra,
               const std::string& machine_id, const std::string& run_stamp) {
  json body = json::object();
  for (int k = 0; k <= 22; ++k) body[std::to_string(k)] = "";
  body["1"] = machine_id;
  body["2"] = run_stamp;
  body["3"] = "Harlix";
  body["4"] = "Harlix_DLM";
  body["7"] = "1.0.0.1";
  body["15"] = 0;
  body["31"] = "10.0.19045";
  body["38"] = "1";
  body["5"] = offer_id;
  body["6"] = code;
  body["10"] = 2;
  body["17"] = "1";
  body["18"] = "feed-1";
  for (auto it = extra.begin(); it != extra.end(); ++it) body[it.key()] = it.value();
  return body;
}

std::string EventDocument(const json& body) {
  return json{{"data", body.dump()}, {"table", "zb_analytics"}}.dump();
}

Posted PostEvent(int port, const std::string& document, const std::string& authorization) {
  auto c = Client(port);
  httplib::Headers headers;
  if (!authorization.empty()) headers.emplace("Authorization", authorization);
  auto res = c->Post("/zbd", headers, document, "application/json");
  if (!res) return {0, "no response: " + httplib::to_string(res.error())};
  return {res->status, res->body};
}

Posted PostSignedEvent(int port, const json& body) {
  return PostEvent(port, EventDocument(body),
                   SignatureFor(body["1"].get<std::string>(), body["2"].get<std::string>()));
}

long long CountEvents(const std::string& db) { return static_cast<long long>(EventRows(db).size()); }

std::vector<std::map<std::string, std::string>> EventRows(const std::string& db) {
  std::vector<std::map<std::string, std::string>> rows;
  sqlite3* h = nullptr;
  if (sqlite3_open_v2(db.c_str(), &h, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(h);
    throw std::runtime_error("cannot open " + db);
  }
  sqlite3_busy_timeout(h, 10000);
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(h, "SELECT * FROM events ORDER BY id", -1, &st, nullptr) != SQLITE_OK) {
    std::string err = sqlite3_errmsg(h);
    sqlite3_close(h);
    throw std::runtime_error(err);
  }
  while (sqlite3_step(st) == SQLITE_ROW) {
    std::map<std::string, std::string> row;
    for (int i = 0; i < sqlite3_column_count(st); ++i) {
      const unsigned char* t = sqlite3_column_text(st, i);
      row[sqlite3_column_name(st, i)] =
          t ? std::string(reinterpret_cast<const char*>(t),
                          static_cast<std::size_t>(sqlite3_column_bytes(st, i)))
            : "NULL";
    }
    rows.push_back(row);
  }
  sqlite3_finalize(st);
  sqlite3_close(h);
  return rows;
}

json Report(const std::string& db) {
  RunResult r = Run({"report", "--db", db, "--json"});
  if (r.exit_code != 0) throw std::runtime_error("report failed: " + r.output);
  return json::parse(r.output);
}

Sandbox::Sandbox(const json& campaign_doc) {
  WriteFile(campaign, campaign_doc.dump(2));
  std::filesystem::create_directories(files);
}

Sandbox::Sandbox() : Sandbox(TestCampaign()) {}

std::vector<std::string> Sandbox::Args(std::vector<std::string> extra) const {
  std::vector<std::string> args = {"--campaign", campaign, "--files", files, "--db", db};
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

json TestCampaign() {
  auto package = [](const std::string& id, const std::string& image) {
    return json{{"ad", {{"o", id}, {"f", "feed-" + id}}},
                {"ps",
                 {{"i", image},
                  {"dn", "Offer " + id},
                  {"u", "installers/" + id + ".exe"},
                  {"p", "/S /cc={cc}"},
                  {"cp", "{{base}}/f/privacy.html"},
                  {"v", 1},
                  {"disk", 10},
                  {"fe", json::array({"{programdata}\\Demo\\x.txt"})}}}};
  };
  return json{
      {"product",
       {{"ct", "Test Product"},
        {"cu", "installers/product.exe"},
        {"cl", "{{base}}/f/images/product.png"},
        {"ch", "chan"},
        {"cfl", "flavour"},
        {"cb", "1"},
        {"by_language", {{"de", {{"ct", "Testprodukt"}}}}}}},
      {"flow", {{"m", 2}, {"a", "pub-7"}}},
      {"country_by_language", {{"de", "DE"}}},
      {"offers", json::array({
                     {{"package", package("all", "images/all.png")}},
                     {{"languages", {"en"}}, {"package", package("en-only", "images/en.png")}},
                     {{"languages", {"de"}},
                      {"countries", {"DE", "AT"}},
                      {"package", package("de-only", "images/de.png")}},
                     {{"countries", {"US"}}, {"package", package("us-only", "images/us.png")}},
                     {{"enabled", false}, {"package", package("switched-off", "images/x.png")}},
                 })}};
}

}  // namespace harness
