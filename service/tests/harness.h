#pragma once
// Runs the real tamsel-service on loopback and talks to it over HTTPS.

#include <httplib.h>
#include <sys/types.h>

#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace harness {

using nlohmann::json;

std::string ServiceBinary();
std::string CaFile();
std::string CertFile();
std::string KeyFile();

// A child process with standard output and error in log, killed when the
// test program dies.
pid_t Spawn(const std::vector<std::string>& args, const std::string& log);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);

// A fresh folder, removed with everything in it at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// The service as a child process on a free loopback port.
class Service {
 public:
  // args come after the TLS options; --port 0 is added unless args name a port.
  explicit Service(std::vector<std::string> args);
  ~Service();
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;

  bool started() const { return port_ > 0; }
  int port() const { return port_; }
  std::string output() const;

  // SIGTERM, then the exit status (-1 when it did not exit normally, or did
  // not exit within a generous limit and was killed).
  int Stop();
  // SIGKILL, as a crash or a power cut would end it, and wait for it.
  void Kill();
  bool Running();
  pid_t pid() const { return pid_; }
  // Resident memory of the service in KiB, 0 when it cannot be read.
  long ResidentKib() const;

 private:
  pid_t pid_ = -1;
  int port_ = 0;
  TempDir logs_;
};

// A client that only trusts the test CA and checks the host name.
std::unique_ptr<httplib::SSLClient> Client(int port);

struct RawResponse {
  bool ok = false;  // a complete response arrived
  std::string raw;  // every byte received
  int status = 0;   // of the first status line
  std::multimap<std::string, std::string> headers;  // names in lower case
  std::string body;
};

// Sends request bytes as they are over TLS (verified against the test CA) and
// reads one response: up to its announced length, else until the server
// closes the connection.
RawResponse RawExchange(int port, const std::string& request);

// One TLS connection to the service that a test writes piece by piece, as
// a slow or hostile client would.
class Connection {
 public:
  explicit Connection(int port);  // connects and completes the handshake
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  bool connected() const { return ssl_ != nullptr; }
  // false once the service has closed the connection or refuses more.
  bool Send(const std::string& bytes);
  // Reads one response: up to its announced length, else until the service
  // closes; gives up after a generous wait (nothing is measured against it).
  RawResponse Read(int seconds = 60);

 private:
  int fd_ = -1;
  void* ctx_ = nullptr;
  void* ssl_ = nullptr;
  std::string pending_;  // received past the last response
};

struct RunResult {
  int exit_code = -1;
  std::string output;  // standard output and error together
};
RunResult Run(const std::vector<std::string>& args);

// Wire format of the event endpoint, written from the client's side.
std::string Sha256Hex(const std::string& text);
std::string SignatureFor(const std::string& machine_id, const std::string& run_stamp);

// An event body as the wizard builds it.
json EventBody(const std::string& code, const std::string& offer_id,
               const json& extra = json::object(),
               const std::string& machine_id = "4c4c4544-0031-3510-8052-b2c04f4e3132",
               const std::string& run_stamp = "20240314151617");
std::string EventDocument(const json& body);

struct Posted {
  int status = 0;
  std::string body;
};
Posted PostEvent(int port, const std::string& document, const std::string& authorization);
Posted PostSignedEvent(int port, const json& body);

// Row count and rows of the events table, read straight from SQLite.
long long CountEvents(const std::string& db);
std::vector<std::map<std::string, std::string>> EventRows(const std::string& db);

// The report as JSON.
json Report(const std::string& db);

// A campaign file, a files folder and a database path in a fresh folder.
struct Sandbox {
  TempDir dir;
  std::string campaign = dir / "campaign.json";
  std::string files = dir / "files";
  std::string db = dir / "events.sqlite";

  explicit Sandbox(const json& campaign_doc);
  Sandbox();  // with TestCampaign()
  // Options for the service: campaign, files, database and extras.
  std::vector<std::string> Args(std::vector<std::string> extra = {}) const;
};

// A small campaign for the tests: offers "all", "en-only", "de-only" (DE, AT)
// and "us-only" (US).
json TestCampaign();

}  // namespace harness
