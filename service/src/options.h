#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>

namespace tamsel {

struct ServeOptions {
  std::string bind = "127.0.0.1";
  int port = 443;  // the wizard always connects to 443
  std::string cert;
  std::string key;
  std::string db = "tamsel-events.sqlite";
  std::string campaign;
  std::string files;
  std::string country = "US";
  std::string public_url;  // empty: derived from the port
  std::size_t max_body = 64 * 1024;
  std::size_t files_rate = 0;  // KiB per second for /f/ bodies; 0: unlimited
  bool quiet = false;
  bool readback = false;  // POST /events answers stored events (for tests)
};

struct ReportOptions {
  std::string db = "tamsel-events.sqlite";
  bool json = false;
};

enum class Command { Serve, Report, Help };

struct Options {
  Command command = Command::Serve;
  ServeOptions serve;
  ReportOptions report;
};

struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Throws UsageError with a one-line reason.
Options ParseOptions(int argc, char** argv);

std::string HelpText(const std::string& program);

// "https://localhost" for 443, "https://localhost:PORT" otherwise.
std::string DefaultPublicUrl(int port);

}  // namespace tamsel
