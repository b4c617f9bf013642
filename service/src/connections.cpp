#include "connections.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <poll.h>
#include <strings.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

namespace tamsel {
namespace {

using Clock = std::chrono::steady_clock;

// A kept-alive connection with no new request is let go after this long.
constexpr auto kIdle = std::chrono::seconds(5);
// Requests on one connection before it is closed; the library announces it.
constexpr int kRequestsPerConnection = 100;
// A worker gives up on a client that takes none of its answer for this long.
constexpr int kWriteStallMs = 10000;
// After a refusal that ends the connection, what the client still sends is
// read and dropped for a moment, so that its side sees the answer rather than
// a reset.
constexpr auto kLinger = std::chrono::seconds(2);
// Answers still being written when the service stops get this long.
constexpr auto kStopGrace = std::chrono::seconds(2);

const char* StatusText(int status) {
  switch (status) {
    case 400: return "Bad Request";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 411: return "Length Required";
    case 413: return "Payload Too Large";
    case 414: return "URI Too Long";
    case 415: return "Unsupported Media Type";
    case 431: return "Request Header Fields Too Large";
    default: return "Error";
  }
}

bool IsTokenChar(unsigned char c) {
  return std::isalnum(c) || std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

std::string Printable(const std::string& s, std::size_t limit = 200) {
  std::string out;
  for (unsigned char c : s.substr(0, limit)) {
    out.push_back(c < 0x20 || c >= 0x7f ? '?' : static_cast<char>(c));
  }
  return out;
}

enum class State {
  Handshake,  // TLS handshake
  Idle,       // between requests, nothing of the next one yet
  Head,       // reading the request line and headers
  Body,       // reading a body of known length
  Drain,      // reading and dropping the body of a refused request
  Reply,      // writing a refusal of the loop's own
  Linger,     // answered and closing: dropping what still arrives
  Busy,       // with a worker
};

struct Conn {
  int fd = -1;
  SSL* ssl = nullptr;
  std::string peer;
  int peer_port = 0;
  std::string local;
  int local_port = 0;

  State state = State::Handshake;
  Clock::time_point deadline;
  bool wants_write = false;  // TLS needs the socket writable to go on
  std::uint32_t interest = 0;  // what epoll watches for it now

  std::string in;            // received and not yet handed on
  std::size_t scanned = 0;   // head bytes already checked, up to a line start
  std::size_t lines = 0;     // head lines so far, the request line included
  std::size_t head_size = 0; // once the head is complete
  std::string request;       // what the worker hands to the library
  std::uint64_t body_length = 0;
  std::uint64_t drain_left = 0;
  int refusal = 0;  // the answer once a refused body is drained
  std::string refusal_reason;
  std::string log_head;      // "METHOD target" for the log

  std::string out;  // the loop's own answer
  std::size_t out_done = 0;
  bool close_after = false;

  int served = 0;
  bool close = false;  // set by the worker: end the connection
};

// The request as the library reads it, from memory; the answer goes to the
// TLS connection, the worker waiting while the client takes none of it.
class ConnStream : public httplib::Stream {
 public:
  explicit ConnStream(Conn& c) : c_(c) {}

  bool is_readable() const override { return pos_ < c_.request.size(); }
  bool is_writable() const override { return !failed_; }

  ssize_t read(char* ptr, std::size_t size) override {
    const std::size_t n = std::min(size, c_.request.size() - pos_);
    std::memcpy(ptr, c_.request.data() + pos_, n);
    pos_ += n;
    return static_cast<ssize_t>(n);
  }

  // The library writes an answer's head and body separately; gathered, a
  // small answer leaves in one TLS record and one segment.
  ssize_t write(const char* ptr, std::size_t size) override {
    if (failed_) return -1;
    pending_.append(ptr, size);
    if (pending_.size() >= kGather && !Flush()) return -1;
    return static_cast<ssize_t>(size);
  }

  bool Flush() {
    std::size_t done = 0;
    while (done < pending_.size() && Put(pending_.data() + done, pending_.size() - done, &done)) {
    }
    pending_.clear();
    return !failed_;
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    ip = c_.peer;
    port = c_.peer_port;
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    ip = c_.local;
    port = c_.local_port;
  }
  // The library answers 500 to any socket number at or above FD_SETSIZE,
  // which it would pass to select(); it selects on nothing here.
  socket_t socket() const override { return 0; }

  bool failed() const { return failed_; }

 private:
  static constexpr std::size_t kGather = 64 * 1024;

  // One TLS write, waiting while the client takes nothing.
  bool Put(const char* ptr, std::size_t size, std::size_t* done) {
    const int want = static_cast<int>(std::min<std::size_t>(size, 1 << 30));
    for (;;) {
      ERR_clear_error();
      const int n = SSL_write(c_.ssl, ptr, want);
      if (n > 0) {
        *done += static_cast<std::size_t>(n);
        return true;
      }
      const int err = SSL_get_error(c_.ssl, n);
      short events = 0;
      if (err == SSL_ERROR_WANT_WRITE) events = POLLOUT;
      if (err == SSL_ERROR_WANT_READ) events = POLLIN;
      if (events == 0) break;
      pollfd p{c_.fd, events, 0};
      const int ready = poll(&p, 1, kWriteStallMs);
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0 || (p.revents & (POLLERR | POLLHUP | POLLNVAL))) break;
    }
    failed_ = true;
    return false;
  }

  Conn& c_;
  std::size_t pos_ = 0;
  bool failed_ = false;
  std::string pending_;
};

void Address(const sockaddr_storage& sa, std::string& ip, int& port) {
  char text[INET6_ADDRSTRLEN] = "";
  if (sa.ss_family == AF_INET) {
    const auto& a = reinterpret_cast<const sockaddr_in&>(sa);
    inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
    port = ntohs(a.sin_port);
  } else if (sa.ss_family == AF_INET6) {
    const auto& a = reinterpret_cast<const sockaddr_in6&>(sa);
    inet_ntop(AF_INET6, &a.sin6_addr, text, sizeof text);
    port = ntohs(a.sin6_port);
  }
  ip = text;
}

}  // namespace

Framing CheckFraming(const httplib::Request& req) {
  Framing f;
  const auto lengths = req.get_header_value_count("Content-Length");
  if (lengths == 1) {
    const std::string text = req.get_header_value("Content-Length");
    if (!text.empty() && text.size() <= 15 &&
        text.find_first_not_of("0123456789") == std::string::npos) {
      f.length = std::stoull(text);
      f.length_known = !req.has_header("Transfer-Encoding");
    }
  }
  auto refuse = [&](int status, const char* reason) {
    f.status = status;
    f.reason = reason;
    return f;
  };
  const bool post = req.method == "POST";
  if (!post && req.method != "GET" && req.method != "HEAD") {
    return refuse(405, "method not allowed");
  }
  if (lengths > 1) return refuse(400, "more than one Content-Length");
  if (lengths == 1 && !f.length_known && !req.has_header("Transfer-Encoding")) {
    return refuse(400, "bad Content-Length");
  }
  // Chunked bodies have no length to bound before reading.
  if (req.has_header("Transfer-Encoding")) {
    return refuse(411, "send the body with a Content-Length");
  }
  // The library would inflate compressed ones without any limit.
  if (req.has_header("Content-Encoding") &&
      strcasecmp(req.get_header_value("Content-Encoding").c_str(), "identity") != 0) {
    return refuse(415, "compressed bodies are not accepted");
  }
  if (post && lengths == 0) return refuse(411, "send the body with a Content-Length");
  if (!post && f.length > 0) return refuse(400, "unexpected request body");
  return f;
}

struct ConnectionLoop::Impl {
  SSL_CTX* tls;
  int listen_fd;
  Router& router;
  LoopSettings settings;
  int epoll_fd = -1;
  int wake_fd = -1;

  std::unordered_map<int, std::unique_ptr<Conn>> conns;
  std::size_t busy = 0;

  std::atomic<bool> stopping{false};
  bool stop_seen = false;
  Clock::time_point forced_at;
  bool forced = false;

  // Workers and the loop meet here.
  std::mutex mutex;
  std::condition_variable work_ready;
  std::deque<Conn*> work;
  std::vector<Conn*> finished;
  bool workers_end = false;
  std::vector<std::thread> workers;

  Impl(SSL_CTX* t, int fd, Router& r, LoopSettings s)
      : tls(t), listen_fd(fd), router(r), settings(std::move(s)) {}

  ~Impl() {
    for (auto& entry : conns) Free(*entry.second);
    if (listen_fd >= 0) close(listen_fd);
    if (epoll_fd >= 0) close(epoll_fd);
    if (wake_fd >= 0) close(wake_fd);
    SSL_CTX_free(tls);
  }

  void Log(const Conn& c, int status, const std::string& what, const std::string& reason) {
    if (settings.quiet || !settings.say) return;
    settings.say((what.empty() ? std::string("-") : what) + " " + std::to_string(status) + " " +
                 c.peer + " " + reason);
  }

  void Wake() {
    const std::uint64_t one = 1;
    ssize_t ignored = write(wake_fd, &one, sizeof one);
    (void)ignored;
  }

  void Watch(Conn& c, std::uint32_t events) {
    if (c.interest == events) return;
    epoll_event ev{};
    ev.events = events;
    ev.data.fd = c.fd;
    if (c.interest == 0) {
      epoll_ctl(epoll_fd, EPOLL_CTL_ADD, c.fd, &ev);
    } else if (events == 0) {
      epoll_ctl(epoll_fd, EPOLL_CTL_DEL, c.fd, nullptr);
    } else {
      epoll_ctl(epoll_fd, EPOLL_CTL_MOD, c.fd, &ev);
    }
    c.interest = events;
  }

  void Free(Conn& c) {
    if (c.ssl) SSL_free(c.ssl);
    if (c.fd >= 0) close(c.fd);
    c.ssl = nullptr;
    c.fd = -1;
  }

  void Drop(Conn& c) {
    Watch(c, 0);
    const int fd = c.fd;
    Free(c);
    conns.erase(fd);
  }

  // --- reading --------------------------------------------------------

  // Appends what TLS has until the buffer holds cap bytes (one read may go
  // past it by a record). false: the peer closed or the connection broke.
  bool Receive(Conn& c, std::size_t cap) {
    char buf[16384];
    c.wants_write = false;
    while (c.in.size() < cap) {
      ERR_clear_error();
      const int n = SSL_read(c.ssl, buf, sizeof buf);
      if (n > 0) {
        c.in.append(buf, static_cast<std::size_t>(n));
        continue;
      }
      const int err = SSL_get_error(c.ssl, n);
      if (err == SSL_ERROR_WANT_READ) return true;
      if (err == SSL_ERROR_WANT_WRITE) {
        c.wants_write = true;
        return true;
      }
      return false;
    }
    return true;
  }

  // --- the loop's own answers -------------------------------------------

  void Refuse(Conn& c, int status, const std::string& reason, bool close_after) {
    Log(c, status, c.log_head, reason);
    const std::string body = reason + "\n";
    c.out = "HTTP/1.1 " + std::to_string(status) + " " + StatusText(status) +
            "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
            std::to_string(body.size()) + "\r\n" +
            (close_after ? "Connection: close\r\n" : "") + "\r\n" + body;
    c.out_done = 0;
    c.close_after = close_after;
    if (close_after) {
      // What arrived is of no more use; give its memory back now.
      std::string().swap(c.in);
      std::string().swap(c.request);
    }
    c.state = State::Reply;
    c.deadline = Clock::now() + std::chrono::milliseconds(kWriteStallMs);
    Send(c);
  }

  void Send(Conn& c) {
    c.wants_write = false;
    while (c.out_done < c.out.size()) {
      ERR_clear_error();
      const int n = SSL_write(c.ssl, c.out.data() + c.out_done,
                              static_cast<int>(c.out.size() - c.out_done));
      if (n > 0) {
        c.out_done += static_cast<std::size_t>(n);
        continue;
      }
      const int err = SSL_get_error(c.ssl, n);
      if (err == SSL_ERROR_WANT_WRITE || err == SSL_ERROR_WANT_READ) {
        c.wants_write = err == SSL_ERROR_WANT_WRITE;
        Watch(c, c.wants_write ? EPOLLOUT : EPOLLIN);
        return;
      }
      return Drop(c);
    }
    std::string().swap(c.out);
    if (c.close_after) return Linger(c);
    StartNext(c);
  }

  void Linger(Conn& c) {
    SSL_shutdown(c.ssl);
    shutdown(c.fd, SHUT_WR);
    c.state = State::Linger;
    c.deadline = Clock::now() + kLinger;
    Watch(c, EPOLLIN);
  }

  // --- requests -----------------------------------------------------------

  // Ready for the connection's next request, which may have arrived already.
  void StartNext(Conn& c) {
    c.scanned = 0;
    c.lines = 0;
    c.head_size = 0;
    c.log_head.clear();
    std::string().swap(c.request);
    if (stopping) return Drop(c);
    c.state = State::Idle;
    c.deadline = Clock::now() + kIdle;
    Watch(c, EPOLLIN);
    Readable(c);
  }

  // Checks the head's new lines; true once it is whole or refused.
  bool ScanHead(Conn& c) {
    const Limits& l = settings.limits;
    // Empty lines before a request are allowed and skipped.
    if (c.lines == 0) {
      std::size_t skip = 0;
      while (c.in.compare(skip, 2, "\r\n") == 0) skip += 2;
      if (skip) c.in.erase(0, skip);
    }
    for (;;) {
      const std::size_t nl = c.in.find('\n', c.scanned);
      const bool request_line = c.lines == 0;
      if (nl == std::string::npos) {
        const std::size_t partial = c.in.size() - c.scanned;
        if (request_line && partial > l.request_line) {
          Refuse(c, 414, "request line longer than " + std::to_string(l.request_line) + " bytes", true);
          return true;
        }
        if (!request_line && partial > l.header_line) {
          Refuse(c, 431, "header line longer than " + std::to_string(l.header_line) + " bytes", true);
          return true;
        }
        if (c.in.size() > l.headers_size) {
          Refuse(c, 431, "headers larger than " + std::to_string(l.headers_size) + " bytes", true);
          return true;
        }
        return false;
      }
      const std::size_t length = nl - c.scanned;  // without the "\n"
      if (length == 0 || c.in[nl - 1] != '\r') {
        Refuse(c, 400, "lines must end with CRLF", true);
        return true;
      }
      if (nl + 1 > l.headers_size + 2) {
        Refuse(c, 431, "headers larger than " + std::to_string(l.headers_size) + " bytes", true);
        return true;
      }
      if (length == 1 && !request_line) {  // the empty line: the head is whole
        c.head_size = nl + 1;
        return Parse(c), true;
      }
      if (request_line && length - 1 > l.request_line) {
        Refuse(c, 414, "request line longer than " + std::to_string(l.request_line) + " bytes", true);
        return true;
      }
      if (!request_line && length - 1 > l.header_line) {
        Refuse(c, 431, "header line longer than " + std::to_string(l.header_line) + " bytes", true);
        return true;
      }
      if (!request_line && c.lines > l.header_count) {
        Refuse(c, 431, "more than " + std::to_string(l.header_count) + " header lines", true);
        return true;
      }
      ++c.lines;
      c.scanned = nl + 1;
    }
  }

  // The whole head is in: check its form and framing, then read the body or
  // refuse.
  void Parse(Conn& c) {
    httplib::Request req;
    std::string forwarded;
    std::size_t pos = 0;
    bool first = true;
    while (pos + 2 < c.head_size) {
      const std::size_t end = c.in.find("\r\n", pos);
      const std::string line = c.in.substr(pos, end - pos);
      pos = end + 2;
      for (unsigned char ch : line) {
        if ((ch < 0x20 && ch != '\t') || ch == 0x7f) {
          return Refuse(c, 400, "control characters in the request head", true);
        }
      }
      if (first) {
        first = false;
        const std::size_t sp1 = line.find(' ');
        const std::size_t sp2 = sp1 == std::string::npos ? sp1 : line.find(' ', sp1 + 1);
        if (sp2 == std::string::npos || line.find(' ', sp2 + 1) != std::string::npos ||
            sp1 == 0 || sp2 == sp1 + 1) {
          return Refuse(c, 400, "not an HTTP request line", true);
        }
        req.method = line.substr(0, sp1);
        req.target = line.substr(sp1 + 1, sp2 - sp1 - 1);
        req.version = line.substr(sp2 + 1);
        if (!std::all_of(req.method.begin(), req.method.end(),
                         [](unsigned char ch) { return IsTokenChar(ch); }) ||
            (req.version != "HTTP/1.1" && req.version != "HTTP/1.0")) {
          return Refuse(c, 400, "not an HTTP request line", true);
        }
        c.log_head = req.method + " " + Printable(req.target);
        forwarded += line + "\r\n";
        continue;
      }
      const std::size_t colon = line.find(':');
      if (colon == 0 || colon == std::string::npos ||
          !std::all_of(line.begin(), line.begin() + static_cast<long>(colon),
                       [](unsigned char ch) { return IsTokenChar(ch); })) {
        return Refuse(c, 400, "malformed header line", true);
      }
      std::string name = line.substr(0, colon);
      std::string value = line.substr(colon + 1);
      value.erase(0, value.find_first_not_of(" \t"));
      value.erase(value.find_last_not_of(" \t") + 1);
      // The body is read here in any case, so the library must not answer
      // "Expect: 100-continue" with an interim "100 Continue": Wine's
      // WinHTTP, which sends the body right away, fails on it (12019).
      if (strcasecmp(name.c_str(), "Expect") == 0) continue;
      req.headers.emplace(name, value);
      forwarded += line + "\r\n";
    }
    forwarded += "\r\n";

    const Framing f = CheckFraming(req);
    const std::uint64_t drain_limit =
        std::max<std::uint64_t>(settings.max_body * 16ULL, 1ULL << 20);
    int status = f.status;
    std::string reason = f.reason;
    if (status == 0 && f.length > settings.max_body) {
      status = 413;
      reason = "body too large";
    }
    if (status != 0) {
      // A bearable body is dropped so that the connection stays usable.
      if (f.length_known && f.length <= drain_limit) {
        c.drain_left = f.length;
        const std::uint64_t here = std::min<std::uint64_t>(c.in.size() - c.head_size, f.length);
        c.in.erase(0, c.head_size + here);
        c.drain_left -= here;
        c.refusal = status;
        c.refusal_reason = reason;
        c.state = State::Drain;
        c.deadline = Clock::now() + std::chrono::seconds(settings.limits.body_seconds);
        return Readable(c);
      }
      return Refuse(c, status, reason, true);
    }
    c.request = std::move(forwarded);
    c.body_length = f.length;
    c.state = State::Body;
    c.deadline = Clock::now() + std::chrono::seconds(settings.limits.body_seconds);
    Readable(c);
  }

  void BodyProgress(Conn& c) {
    if (c.in.size() - c.head_size < c.body_length) return;
    c.request.append(c.in, c.head_size, static_cast<std::size_t>(c.body_length));
    c.in.erase(0, c.head_size + static_cast<std::size_t>(c.body_length));
    Hand(c);
  }

  void Hand(Conn& c) {
    Watch(c, 0);
    c.state = State::Busy;
    ++busy;
    {
      std::lock_guard<std::mutex> lock(mutex);
      work.push_back(&c);
    }
    work_ready.notify_one();
  }

  // Something may be readable (or TLS wants to go on).
  void Readable(Conn& c) {
    switch (c.state) {
      case State::Handshake: {
        ERR_clear_error();
        const int rc = SSL_accept(c.ssl);
        if (rc == 1) {
          c.state = State::Head;  // the handshake's deadline covers the head
          Watch(c, EPOLLIN);
          return Readable(c);
        }
        const int err = SSL_get_error(c.ssl, rc);
        if (err == SSL_ERROR_WANT_READ) return Watch(c, EPOLLIN);
        if (err == SSL_ERROR_WANT_WRITE) return Watch(c, EPOLLOUT);
        return Drop(c);
      }
      case State::Idle:
      case State::Head: {
        const Limits& l = settings.limits;
        const bool ok = Receive(c, l.headers_size + 2);
        if (c.state == State::Idle && !c.in.empty()) {
          c.state = State::Head;
          c.deadline = Clock::now() + std::chrono::seconds(l.header_seconds);
        }
        if (c.state == State::Head && !c.in.empty() && ScanHead(c)) return;
        if (!ok) return Drop(c);
        return Watch(c, c.wants_write ? EPOLLOUT : EPOLLIN);
      }
      case State::Body: {
        const std::size_t cap = c.head_size + static_cast<std::size_t>(c.body_length);
        const bool ok = Receive(c, cap);
        BodyProgress(c);
        if (c.state != State::Body) return;
        if (!ok) return Drop(c);
        return Watch(c, c.wants_write ? EPOLLOUT : EPOLLIN);
      }
      case State::Drain: {
        // In pieces, so a large refused body never sits in memory whole;
        // what follows it is the next request and stays.
        bool ok = true;
        while (c.drain_left > 0 && ok) {
          ok = Receive(c, static_cast<std::size_t>(std::min<std::uint64_t>(c.drain_left, 65536)));
          const std::size_t take =
              static_cast<std::size_t>(std::min<std::uint64_t>(c.in.size(), c.drain_left));
          c.in.erase(0, take);
          c.drain_left -= take;
          if (take == 0) break;
        }
        if (c.drain_left == 0) return Refuse(c, c.refusal, c.refusal_reason, false);
        if (!ok) return Drop(c);
        return Watch(c, c.wants_write ? EPOLLOUT : EPOLLIN);
      }
      case State::Reply:
        return Send(c);
      case State::Linger: {
        char buf[16384];
        for (int i = 0; i < 64; ++i) {
          const ssize_t n = recv(c.fd, buf, sizeof buf, 0);
          if (n > 0) continue;
          if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
          break;
        }
        return Drop(c);
      }
      case State::Busy:
        return;
    }
  }

  void Expired(Conn& c) {
    switch (c.state) {
      case State::Head:
      case State::Body:
        return Refuse(c, 408,
                      c.state == State::Head ? "request head not received in time"
                                             : "request body not received in time",
                      true);
      case State::Drain:
        return Drop(c);
      default:
        return Drop(c);  // handshake, idle keep-alive, stalled answer, linger
    }
  }

  // --- accepting --------------------------------------------------------

  void Accept() {
    for (;;) {
      sockaddr_storage peer{};
      socklen_t len = sizeof peer;
      const int fd = accept4(listen_fd, reinterpret_cast<sockaddr*>(&peer), &len,
                             SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) return;  // EAGAIN, or out of descriptors for now
      if (conns.size() >= settings.limits.connections) {
        close(fd);
        continue;
      }
      // Answers leave whole (see ConnStream), so waiting to fill segments
      // only delays them.
      const int yes = 1;
      setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
      auto c = std::make_unique<Conn>();
      c->fd = fd;
      Address(peer, c->peer, c->peer_port);
      sockaddr_storage local{};
      len = sizeof local;
      getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len);
      Address(local, c->local, c->local_port);
      c->ssl = SSL_new(tls);
      if (!c->ssl) {
        close(fd);
        continue;
      }
      SSL_set_fd(c->ssl, fd);
      SSL_set_accept_state(c->ssl);
      SSL_set_mode(c->ssl, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
      c->deadline = Clock::now() + std::chrono::seconds(settings.limits.header_seconds);
      Conn& ref = *c;
      conns.emplace(fd, std::move(c));
      Readable(ref);
    }
  }

  // --- workers ------------------------------------------------------------

  void Worker() {
    for (;;) {
      Conn* c = nullptr;
      {
        std::unique_lock<std::mutex> lock(mutex);
        work_ready.wait(lock, [&] { return workers_end || !work.empty(); });
        if (work.empty()) return;
        c = work.front();
        work.pop_front();
      }
      ++c->served;
      bool closed = false;
      ConnStream stream(*c);
      bool ok = false;
      try {
        ok = router.process_request(
            stream, stopping || c->served >= kRequestsPerConnection, closed, nullptr);
      } catch (...) {
        ok = false;
      }
      ok = stream.Flush() && ok;
      c->close = !ok || closed || stream.failed() || stopping;
      {
        std::lock_guard<std::mutex> lock(mutex);
        finished.push_back(c);
      }
      Wake();
    }
  }

  void CollectFinished() {
    std::vector<Conn*> done;
    {
      std::lock_guard<std::mutex> lock(mutex);
      done.swap(finished);
    }
    for (Conn* c : done) {
      --busy;
      if (stopping) {
        Drop(*c);
      } else if (c->close) {
        Linger(*c);
      } else {
        StartNext(*c);
      }
    }
  }

  // --- stopping -----------------------------------------------------------

  void BeginStop() {
    stop_seen = true;
    forced_at = Clock::now() + kStopGrace;
    epoll_ctl(epoll_fd, EPOLL_CTL_DEL, listen_fd, nullptr);
    close(listen_fd);
    listen_fd = -1;
    std::vector<Conn*> idle;
    for (auto& entry : conns) {
      if (entry.second->state != State::Busy) idle.push_back(entry.second.get());
    }
    for (Conn* c : idle) Drop(*c);
  }

  // Answers still being written end now: their sockets are shut, which
  // wakes a worker waiting to write, and file bodies stop at their next piece.
  void Force() {
    forced = true;
    router.SetServing(false);
    for (auto& entry : conns) {
      if (entry.second->state == State::Busy) shutdown(entry.second->fd, SHUT_RDWR);
    }
  }

  void Run() {
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = listen_fd;
    epoll_ctl(epoll_fd, EPOLL_CTL_ADD, listen_fd, &ev);
    ev.data.fd = wake_fd;
    epoll_ctl(epoll_fd, EPOLL_CTL_ADD, wake_fd, &ev);
    router.SetServing(true);
    for (int i = 0; i < settings.workers; ++i) workers.emplace_back([this] { Worker(); });

    std::vector<epoll_event> events(256);
    for (;;) {
      if (stopping && !stop_seen) BeginStop();
      if (stop_seen && !forced && Clock::now() >= forced_at) Force();
      if (stop_seen && conns.empty()) break;

      auto now = Clock::now();
      auto next = now + std::chrono::seconds(1);
      if (stop_seen && !forced) next = std::min(next, forced_at);
      for (auto& entry : conns) {
        if (entry.second->state != State::Busy) next = std::min(next, entry.second->deadline);
      }
      const int wait_ms = static_cast<int>(
          std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count()) + 1;
      const int n = epoll_wait(epoll_fd, events.data(), static_cast<int>(events.size()),
                               std::max(wait_ms, 0));
      for (int i = 0; i < n; ++i) {
        const int fd = events[static_cast<std::size_t>(i)].data.fd;
        if (fd == wake_fd) {
          std::uint64_t count;
          ssize_t ignored = read(wake_fd, &count, sizeof count);
          (void)ignored;
          continue;
        }
        if (fd == listen_fd) {
          Accept();
          continue;
        }
        auto it = conns.find(fd);
        if (it != conns.end()) Readable(*it->second);
      }
      CollectFinished();

      now = Clock::now();
      std::vector<int> expired;
      for (auto& entry : conns) {
        if (entry.second->state != State::Busy && entry.second->deadline <= now) {
          expired.push_back(entry.first);
        }
      }
      for (int fd : expired) {
        auto it = conns.find(fd);
        if (it != conns.end()) Expired(*it->second);
      }
    }

    {
      std::lock_guard<std::mutex> lock(mutex);
      workers_end = true;
    }
    work_ready.notify_all();
    for (auto& t : workers) t.join();
    workers.clear();
  }
};

ConnectionLoop::ConnectionLoop(SSL_CTX* tls, int listen_fd, Router& router,
                               LoopSettings settings)
    : impl_(std::make_unique<Impl>(tls, listen_fd, router, std::move(settings))) {
  impl_->epoll_fd = epoll_create1(EPOLL_CLOEXEC);
  impl_->wake_fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (impl_->epoll_fd < 0 || impl_->wake_fd < 0) {
    throw std::runtime_error(std::string("cannot set up the connection loop: ") +
                             std::strerror(errno));
  }
}

ConnectionLoop::~ConnectionLoop() = default;

void ConnectionLoop::Run() { impl_->Run(); }

void ConnectionLoop::Stop() {
  impl_->stopping = true;
  impl_->Wake();
}

}  // namespace tamsel
