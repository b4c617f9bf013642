#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>

#include "database.h"

namespace tamsel {

// What one client may send, and how long it may take. Going over a bound is
// answered with a 4xx (or the connection ends) and what it took is freed.
struct Limits {
  std::size_t request_line = 8192;   // bytes of the request line
  std::size_t header_line = 8192;    // bytes of one header line
  std::size_t headers_size = 32768;  // request line and headers together
  std::size_t header_count = 100;
  int header_seconds = 10;  // TLS handshake and head, from connecting or from
                            // a kept-alive request's first byte
  int body_seconds = 30;    // the body, from the end of the head
  std::size_t connections = 1000;  // open at once; more are closed at once
};

struct ServeOptions {
  std::string bind = "127.0.0.1";
  int port = 443;  // the wizard always connects to 443
  std::string cert;
  std::string key;
  StoreLocation store{"tamsel-events.sqlite", ""};
  std::string campaign;
  std::string files;
  std::string country = "US";
  std::string public_url;  // empty: derived from the port
  std::size_t max_body = 64 * 1024;
  std::size_t files_rate = 0;  // KiB per second for /f/ bodies; 0: unlimited
  bool quiet = false;
  bool readback = false;  // POST /events answers stored events (for tests)
  std::string report_token_file;  // GET /report is served only with a token
  Limits limits;
};

struct ReportOptions {
  StoreLocation store{"tamsel-events.sqlite", ""};
  bool json = false;
};

enum class Command { Serve, Report, Help };

struct Options {
  Command command = Command::Serve;
  ServeOptions serve;
  ReportOptions report;
  std::string help;  // the text to print for Command::Help
};

struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Throws UsageError with a one-line reason.
Options ParseOptions(int argc, char** argv);

// "https://localhost" for 443, "https://localhost:PORT" otherwise.
std::string DefaultPublicUrl(int port);

}  // namespace tamsel
