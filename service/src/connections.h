#pragma once
// The service's own connection handling in front of cpp-httplib.
//
// cpp-httplib reads a request on one of its pool's threads, a header line of
// any length and any number of them, one byte at a time with a fresh read
// timeout per byte: a few slow or huge heads take the whole pool and any
// amount of memory. So one thread here accepts the connections, does the TLS
// handshakes and reads each request's head and body without blocking, within
// the bounds of Limits and their deadlines. Only a request that is in whole
// goes to a worker, which hands it to the library's request processing
// (routing, handlers, writing the answer) from memory; a worker never waits
// for a client to send.

#include <httplib.h>
#include <openssl/ssl.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "options.h"

namespace tamsel {

// cpp-httplib's server with its request processing open to the loop below.
class Router : public httplib::Server {
 public:
  using httplib::Server::process_request;
  // The library ends content providers while its listening socket is unset;
  // the loop keeps it set while it serves.
  void SetServing(bool serving) { svr_sock_ = serving ? 0 : INVALID_SOCKET; }
};

// How a request's body is framed, checked before any of it is read.
struct Framing {
  int status = 0;  // 0: acceptable
  std::string reason;
  bool length_known = false;  // a single valid Content-Length
  std::uint64_t length = 0;
};
Framing CheckFraming(const httplib::Request& req);

struct LoopSettings {
  Limits limits;
  std::size_t max_body = 64 * 1024;
  int workers = 16;
  bool quiet = false;
  std::function<void(const std::string&)> say;  // one line of the request log
};

class ConnectionLoop {
 public:
  // Takes over tls and the listening socket listen_fd.
  ConnectionLoop(SSL_CTX* tls, int listen_fd, Router& router, LoopSettings settings);
  ~ConnectionLoop();
  ConnectionLoop(const ConnectionLoop&) = delete;
  ConnectionLoop& operator=(const ConnectionLoop&) = delete;

  // Serves until Stop(); returns once every connection is closed.
  void Run();
  // From any thread, also before Run(): stop accepting, let go of every
  // connection that is not being answered, and end the answers still being
  // written after a short grace.
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tamsel
