#include "server.h"

#include <httplib.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <iostream>
#include <mutex>
#include <thread>

#include "campaign.h"
#include "events.h"
#include "files.h"

namespace tamsel {
namespace {

using Clock = std::chrono::steady_clock;

// Idle wait per read, and the most a whole body may take.
constexpr int kReadWaitMs = 5000;
constexpr auto kBodyDeadline = std::chrono::seconds(30);

std::mutex g_out_mutex;

void Say(const std::string& line) {
  std::lock_guard<std::mutex> lock(g_out_mutex);
  std::cout << line << std::endl;
}

std::string Printable(const std::string& s, std::size_t limit = 200) {
  std::string out;
  for (unsigned char c : s.substr(0, limit)) {
    out.push_back(c < 0x20 || c >= 0x7f ? '?' : static_cast<char>(c));
  }
  return out;
}

const char* StatusReason(int status) {
  switch (status) {
    case 400: return "bad request";
    case 404: return "not found";
    case 413: return "body too large";
    case 414: return "request target too long";
    case 416: return "range not satisfiable";
    case 500: return "internal error";
    default: return status < 500 ? "request refused" : "server error";
  }
}

void SetReply(httplib::Response& res, const Reply& r) {
  res.status = r.status;
  res.set_content(r.body, r.content_type.c_str());
}

void Refuse(httplib::Response& res, int status, const std::string& reason) {
  SetReply(res, Reply::Text(status, reason));
}

// Marks the answer as the connection's last. The library keeps connections
// alive, but a body left unread would be parsed as the next request; the
// logger, which runs once the answer is written, then ends the connection.
void CloseAfterAnswer(const httplib::Request& req, httplib::Response& res) {
  if (req.get_header_value("Connection") != "close" && !res.has_header("Connection")) {
    res.set_header("Connection", "close");
  }
}

void EndConnectionIfMarked(const httplib::Request& req, const httplib::Response& res) {
  if (req.ssl && res.get_header_value("Connection") == "close") {
    shutdown(SSL_get_fd(req.ssl), SHUT_RDWR);
  }
}

// How a request's body is framed, checked before any of it is read.
struct Framing {
  int status = 0;  // 0: acceptable
  std::string reason;
  bool length_known = false;  // a single valid Content-Length
  std::uint64_t length = 0;
};

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
  // The library would read chunked bodies without any limit.
  if (req.has_header("Transfer-Encoding")) {
    return refuse(411, "send the body with a Content-Length");
  }
  // ... and inflate compressed ones without any limit.
  if (req.has_header("Content-Encoding") &&
      strcasecmp(req.get_header_value("Content-Encoding").c_str(), "identity") != 0) {
    return refuse(415, "compressed bodies are not accepted");
  }
  if (post && lengths == 0) return refuse(411, "send the body with a Content-Length");
  if (!post && f.length > 0) return refuse(400, "unexpected request body");
  return f;
}

// Reads (into out) or, with out null, discards exactly length body bytes from
// the TLS connection.
bool ReadBody(SSL* ssl, std::uint64_t length, std::string* out) {
  const int fd = SSL_get_fd(ssl);
  const auto deadline = Clock::now() + kBodyDeadline;
  char buf[16384];
  while (length > 0) {
    if (Clock::now() > deadline) return false;
    if (SSL_pending(ssl) == 0) {
      pollfd p{fd, POLLIN, 0};
      int ready = poll(&p, 1, kReadWaitMs);
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) return false;
    }
    const int want = static_cast<int>(std::min<std::uint64_t>(length, sizeof buf));
    const int n = SSL_read(ssl, buf, want);
    if (n <= 0) {
      if (SSL_get_error(ssl, n) == SSL_ERROR_WANT_READ) continue;
      return false;
    }
    if (out) out->append(buf, static_cast<std::size_t>(n));
    length -= static_cast<std::uint64_t>(n);
  }
  return true;
}

class Service {
 public:
  Service(const ServeOptions& options, const Campaign& campaign, EventStore& events,
          const FileStore& files)
      : options_(options), campaign_(campaign), events_(events), files_(files) {}

  // Both request paths end here, with the body already read.
  void Dispatch(const httplib::Request& req, const std::string& body,
                httplib::Response& res) const {
    const bool post = req.method == "POST";
    const bool readback = options_.readback && req.path == "/events";
    if (req.path == "/o" || req.path == "/zbd" || readback) {
      if (!post) {
        res.set_header("Allow", "POST");
        return Refuse(res, 405, "use POST");
      }
      res.set_header("Cache-Control", "no-store");
      if (req.path == "/o") {
        return SetReply(res, AnswerConfiguration(campaign_, body,
                                                 req.get_header_value("X-Country"),
                                                 options_.country));
      }
      if (readback) return ReadBack(req, res);
      return SetReply(res, TakeEvent(events_, req.get_header_value("Authorization"), body,
                                     req.remote_addr));
    }
    if (req.path.rfind("/f/", 0) == 0) {
      if (post) {
        res.set_header("Allow", "GET, HEAD");
        return Refuse(res, 405, "use GET");
      }
      return ServeFile(req.path.substr(3), res);
    }
    Refuse(res, 404, "no such endpoint");
  }

  // POST only because the Windows client's transport only posts; the body,
  // whatever it holds, is not looked at.
  void ReadBack(const httplib::Request& req, httplib::Response& res) const {
    for (const char* name : {"offer", "run"}) {
      if (req.get_param_value_count(name) > 1) {
        return Refuse(res, 400, std::string("more than one \"") + name + "\" parameter");
      }
    }
    if (!req.has_param("offer")) return Refuse(res, 400, "no \"offer\" parameter");
    std::optional<std::string> run;
    if (req.has_param("run")) run = req.get_param_value("run");
    SetReply(res, ReadBackEvents(events_, req.get_param_value("offer"), run));
  }

  void ServeFile(const std::string& relative, httplib::Response& res) const {
    FileLookup found = files_.Open(relative);
    if (found.status != 200) return Refuse(res, found.status, found.reason);
    std::shared_ptr<OpenFile> file = found.file;
    res.status = 200;
    if (file->size == 0) {
      res.set_content("", file->content_type.c_str());
      return;
    }
    const std::size_t rate = options_.files_rate;
    res.set_content_provider(
        static_cast<std::size_t>(file->size), file->content_type.c_str(),
        [file, rate](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
          char buf[65536];
          const std::size_t want = std::min(length, rate ? std::min(sizeof buf, rate * 1024 / 10) : sizeof buf);
          const ssize_t n = pread(file->fd, buf, want, static_cast<off_t>(offset));
          // A file that shrank while being sent ends the connection early,
          // which the client sees as a short body.
          if (n <= 0) return false;
          if (!sink.write(buf, static_cast<std::size_t>(n))) return false;
          // Pieces of a tenth of a second's allowance, so the pace is even.
          if (rate) {
            std::this_thread::sleep_for(std::chrono::microseconds(static_cast<std::size_t>(n) * 1000000 / (rate * 1024)));
          }
          return true;
        });
  }

  // Wine's WinHTTP fails a request (error 12019) when the server answers
  // "Expect: 100-continue" with an interim "100 Continue", and the wizard
  // always sends that header together with the body. cpp-httplib writes the
  // interim answer unless this handler returns another status, in which case
  // it sends the handler's response without routing or reading the body. So
  // the body is read here and the request answered in full.
  int AnswerExpecting(const httplib::Request& req, httplib::Response& res) const {
    try {
      Framing f = CheckFraming(req);
      if (f.status == 0 && f.length > options_.max_body) {
        f.status = 413;
        f.reason = "body too large";
      }
      if (f.status != 0) {
        RefuseUnread(req, res, f);
      } else {
        std::string body;
        if (f.length > 0 && !ReadBody(Tls(req), f.length, &body)) {
          Refuse(res, 400, "incomplete body");
          CloseAfterAnswer(req, res);
        } else {
          Dispatch(req, body, res);
        }
      }
    } catch (const std::exception& e) {
      Say(std::string("error: ") + e.what());
      Refuse(res, 500, "internal error");
      CloseAfterAnswer(req, res);
    }
    // Those two would make the library send an interim answer after all.
    if (res.status == 100 || res.status == 417) Refuse(res, 500, "internal error");
    // The library only sizes bodies on its routed path.
    if (!res.has_header("Content-Length")) {
      if (!res.body.empty()) {
        res.set_header("Content-Length", std::to_string(res.body.size()));
      } else if (res.content_provider_) {
        res.set_header("Content-Length", std::to_string(res.content_length_));
      }
    }
    return res.status;
  }

  // Refuses, before the library reads it, what it would read without a limit
  // or what no endpoint takes. Over-large bodies of a fitting length are left
  // to the library, which drops them and answers 413.
  httplib::Server::HandlerResponse GuardBody(const httplib::Request& req,
                                             httplib::Response& res) const {
    Framing f = CheckFraming(req);
    if (f.status == 0 && f.length > DrainLimit()) {
      f.status = 413;
      f.reason = "body too large";
    }
    if (f.status == 0) return httplib::Server::HandlerResponse::Unhandled;
    RefuseUnread(req, res, f);
    return httplib::Server::HandlerResponse::Handled;
  }

  // Answers a refusal whose body is still on the wire: drops the body when
  // its length is known and bearable, so the connection stays usable, and
  // ends the connection otherwise.
  void RefuseUnread(const httplib::Request& req, httplib::Response& res, const Framing& f) const {
    Refuse(res, f.status, f.reason);
    const bool dropped = f.length_known &&
                         (f.length == 0 || (f.length <= DrainLimit() && req.ssl &&
                                            ReadBody(Tls(req), f.length, nullptr)));
    if (!dropped) CloseAfterAnswer(req, res);
  }

  std::uint64_t DrainLimit() const {
    return std::max<std::uint64_t>(options_.max_body * 16ULL, 1ULL << 20);
  }

  static SSL* Tls(const httplib::Request& req) {
    if (!req.ssl) throw std::runtime_error("request without TLS connection");
    return const_cast<SSL*>(req.ssl);
  }

 private:
  const ServeOptions& options_;
  const Campaign& campaign_;
  EventStore& events_;
  const FileStore& files_;
};

void Install(httplib::SSLServer& svr, const Service& service, const ServeOptions& options) {
  svr.set_payload_max_length(options.max_body);
  svr.new_task_queue = [] { return new httplib::ThreadPool(16); };
  svr.set_pre_routing_handler(
      [&service](const httplib::Request& req, httplib::Response& res) {
        return service.GuardBody(req, res);
      });
  svr.set_expect_100_continue_handler(
      [&service](const httplib::Request& req, httplib::Response& res) {
        return service.AnswerExpecting(req, res);
      });
  auto routed = [&service](const httplib::Request& req, httplib::Response& res) {
    service.Dispatch(req, req.body, res);
  };
  svr.Get(".*", routed);
  svr.Post(".*", routed);
  // Statuses the library sets by itself (413 after draining, 400 for a
  // broken request) still get a short reason.
  svr.set_error_handler(httplib::Server::HandlerWithResponse(
      [](const httplib::Request&, httplib::Response& res) {
        if (!res.body.empty() || res.content_provider_) {
          return httplib::Server::HandlerResponse::Unhandled;
        }
        SetReply(res, Reply::Text(res.status, StatusReason(res.status)));
        return httplib::Server::HandlerResponse::Handled;
      }));
  svr.set_exception_handler(
      [](const httplib::Request&, httplib::Response& res, std::exception_ptr ep) {
        try {
          if (ep) std::rethrow_exception(ep);
        } catch (const std::exception& e) {
          Say(std::string("error: ") + e.what());
        } catch (...) {
          Say("error: unknown exception");
        }
        Refuse(res, 500, "internal error");
      });
  // The logger runs once an answer is written, whatever path it took.
  const bool quiet = options.quiet;
  svr.set_logger([quiet](const httplib::Request& req, const httplib::Response& res) {
    if (!quiet) {
      std::string line = req.method + " " + Printable(req.target) + " " +
                         std::to_string(res.status) + " " + req.remote_addr;
      if (res.status >= 400) line += " " + Printable(res.body, 100);
      while (!line.empty() && line.back() == '?') line.pop_back();  // the reason's newline
      Say(line);
    }
    EndConnectionIfMarked(req, res);
  });
}

std::string SignalName(int sig) {
  return sig == SIGTERM ? "SIGTERM" : sig == SIGINT ? "SIGINT" : std::to_string(sig);
}

}  // namespace

void BlockStopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  // A client that goes away mid-answer must not end the process.
  signal(SIGPIPE, SIG_IGN);
}

int RunService(const ServeOptions& options) {
  // The campaign is checked before anything else so that a broken file
  // fails fast; it is read again below once the port is known.
  std::unique_ptr<Campaign> campaign;
  std::unique_ptr<FileStore> files;
  std::unique_ptr<EventStore> events;
  try {
    Campaign::FromFile(options.campaign, options.public_url);
    files = std::make_unique<FileStore>(options.files);
    events = std::make_unique<EventStore>(options.db);
  } catch (const std::exception& e) {
    std::cerr << "tamsel-service: " << e.what() << std::endl;
    return 1;
  }

  httplib::SSLServer svr(options.cert.c_str(), options.key.c_str());
  if (!svr.is_valid()) {
    std::cerr << "tamsel-service: cannot use certificate " << options.cert << " with key "
              << options.key << std::endl;
    return 1;
  }

  int port = options.port;
  errno = 0;
  if (port == 0) {
    port = svr.bind_to_any_port(options.bind);
    if (port <= 0) port = -1;
  } else if (!svr.bind_to_port(options.bind, port)) {
    port = -1;
  }
  if (port < 0) {
    std::cerr << "tamsel-service: cannot listen on " << options.bind << ":" << options.port
              << (errno ? std::string(": ") + std::strerror(errno) : std::string())
              << std::endl;
    return 1;
  }

  const std::string public_url =
      options.public_url.empty() ? DefaultPublicUrl(port) : options.public_url;
  try {
    campaign = std::make_unique<Campaign>(Campaign::FromFile(options.campaign, public_url));
  } catch (const std::exception& e) {
    std::cerr << "tamsel-service: " << e.what() << std::endl;
    return 1;
  }
  if (options.readback) {
    std::cerr << "warning: --readback: POST /events hands the stored events to any client"
              << std::endl;
  }
  if (options.files.empty()) {
    std::cerr << "warning: no --files folder, so /f/ answers 404 for every file" << std::endl;
  }
  for (const std::string& path : campaign->ReferencedFiles()) {
    if (!options.files.empty() && !files->Exists(path)) {
      std::cerr << "warning: the campaign points at /f/" << path
                << ", which the files folder does not have" << std::endl;
    }
  }
  Service service(options, *campaign, *events, *files);
  Install(svr, service, options);

  std::atomic<bool> done{false};
  std::thread waiter([&] {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    const timespec tick{0, 200 * 1000 * 1000};
    while (!done) {
      int sig = sigtimedwait(&set, nullptr, &tick);
      if (sig < 0) continue;
      Say("stopping on " + SignalName(sig));
      // stop() does nothing until the accept loop runs, so keep asking.
      while (!done) {
        svr.stop();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    }
  });

  const std::string host = options.bind.find(':') != std::string::npos
                               ? "[" + options.bind + "]"
                               : options.bind;
  Say("listening on https://" + host + ":" + std::to_string(port) + " (" +
      std::to_string(campaign->OfferCount()) + " offers" +
      (campaign->TagCount() ? ", " + std::to_string(campaign->TagCount()) + " by download tag"
                            : std::string()) +
      ", events in " + options.db + ")");
  const bool ok = svr.listen_after_bind();
  done = true;
  waiter.join();
  // Connections still open were finished by listen_after_bind; the database
  // closes with the store.
  events.reset();
  Say("stopped");
  return ok ? 0 : 1;
}

}  // namespace tamsel
