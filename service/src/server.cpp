#include "server.h"

#include <httplib.h>
#include <netdb.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <iostream>
#include <mutex>
#include <thread>

#include "campaign.h"
#include "connections.h"
#include "events.h"
#include "files.h"
#include "report_page.h"

namespace tamsel {
namespace {

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

class Service {
 public:
  Service(const ServeOptions& options, const Campaign& campaign, EventStore& events,
          const FileStore& files, const FileDigests& digests, std::string report_token)
      : options_(options),
        campaign_(campaign),
        events_(events),
        files_(files),
        digests_(digests),
        report_token_(std::move(report_token)) {}

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
                                                 options_.country, &digests_));
      }
      if (readback) return ReadBack(req, res);
      return SetReply(res, TakeEvent(events_, req.get_header_value("Authorization"), body,
                                     req.remote_addr));
    }
    // Without a token the page does not exist.
    if (req.path == "/report" && !report_token_.empty()) return Report(req, res);
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

  void Report(const httplib::Request& req, httplib::Response& res) const {
    res.set_header("Cache-Control", "no-store");
    res.set_header("Content-Security-Policy", ReportContentSecurityPolicy());
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_header("Referrer-Policy", "no-referrer");
    res.set_header("X-Frame-Options", "DENY");
    if (req.method == "POST") {
      res.set_header("Allow", "GET, HEAD");
      return Refuse(res, 405, "use GET");
    }
    if (!ReportAuthorized(req.get_header_value("Authorization"), report_token_)) {
      // A browser asks for the token (as the password) and sends it again.
      res.set_header("WWW-Authenticate", "Basic realm=\"tamsel report\", charset=\"UTF-8\"");
      return Refuse(res, 401, "the report needs its token");
    }
    std::optional<std::string> day[2];
    const char* names[] = {"from", "to"};
    for (int i = 0; i < 2; ++i) {
      if (req.get_param_value_count(names[i]) > 1) {
        return Refuse(res, 400, std::string("more than one \"") + names[i] + "\" parameter");
      }
      if (req.has_param(names[i])) day[i] = req.get_param_value(names[i]);
    }
    SetReply(res, ReportPage(events_, day[0], day[1]));
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

 private:
  const ServeOptions& options_;
  const Campaign& campaign_;
  EventStore& events_;
  const FileStore& files_;
  const FileDigests& digests_;
  const std::string report_token_;  // empty: no report page
};

void Install(Router& svr, const Service& service, const ServeOptions& options) {
  svr.set_payload_max_length(options.max_body);
  svr.set_keep_alive_timeout(5);
  svr.set_keep_alive_max_count(100);
  auto routed = [&service](const httplib::Request& req, httplib::Response& res) {
    service.Dispatch(req, req.body, res);
  };
  svr.Get(".*", routed);
  svr.Post(".*", routed);
  // Statuses the library sets by itself still get a short reason.
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
  if (!options.quiet) {
    svr.set_logger([](const httplib::Request& req, const httplib::Response& res) {
      std::string line = req.method + " " + Printable(req.target) + " " +
                         std::to_string(res.status) + " " + req.remote_addr;
      if (res.status >= 400) line += " " + Printable(res.body, 100);
      while (!line.empty() && line.back() == '?') line.pop_back();  // the reason's newline
      Say(line);
    });
  }
}

// The TLS context the wizard's WinHTTP talks to; null when the certificate
// or key does not load.
SSL_CTX* MakeTls(const ServeOptions& options) {
  SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
  if (!ctx) return nullptr;
  SSL_CTX_set_options(ctx, SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION |
                               SSL_OP_NO_SESSION_RESUMPTION_ON_RENEGOTIATION);
  SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
  if (SSL_CTX_use_certificate_chain_file(ctx, options.cert.c_str()) != 1 ||
      SSL_CTX_use_PrivateKey_file(ctx, options.key.c_str(), SSL_FILETYPE_PEM) != 1 ||
      SSL_CTX_check_private_key(ctx) != 1) {
    SSL_CTX_free(ctx);
    return nullptr;
  }
  return ctx;
}

// A listening socket on bind:port (0: any free port); -1 with errno set.
int Listen(const std::string& address, int port, int* bound_port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (getaddrinfo(address.c_str(), service.c_str(), &hints, &found) != 0 || !found) {
    errno = EADDRNOTAVAIL;
    return -1;
  }
  int fd = -1;
  int saved = 0;
  for (addrinfo* a = found; a && fd < 0; a = a->ai_next) {
    fd = socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) continue;
    const int yes = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (::bind(fd, a->ai_addr, a->ai_addrlen) != 0 || listen(fd, 1024) != 0) {
      saved = errno;
      close(fd);
      fd = -1;
    }
  }
  freeaddrinfo(found);
  if (fd < 0) {
    errno = saved;
    return -1;
  }
  sockaddr_storage addr{};
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  *bound_port = addr.ss_family == AF_INET6
                    ? ntohs(reinterpret_cast<sockaddr_in6&>(addr).sin6_port)
                    : ntohs(reinterpret_cast<sockaddr_in&>(addr).sin_port);
  return fd;
}

// Room for the connections the limits allow, as far as the system lets.
void RaiseDescriptorLimit(std::size_t connections) {
  rlimit rl{};
  if (getrlimit(RLIMIT_NOFILE, &rl) != 0) return;
  const rlim_t want = static_cast<rlim_t>(connections) + 64;
  if (rl.rlim_cur >= want) return;
  rl.rlim_cur = std::min(want, rl.rlim_max);
  setrlimit(RLIMIT_NOFILE, &rl);
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
  std::unique_ptr<FileDigests> digests;
  std::unique_ptr<EventStore> events;
  std::string report_token;
  try {
    if (!options.report_token_file.empty()) report_token = ReadReportToken(options.report_token_file);
    Campaign::FromFile(options.campaign, options.public_url.empty() ? DefaultPublicUrl(options.port)
                                                                    : options.public_url);
    files = std::make_unique<FileStore>(options.files);
    digests = std::make_unique<FileDigests>(
        *files, [](const std::string& line) { Say(Printable(line, 400)); });
    events = std::make_unique<EventStore>(options.store);
  } catch (const std::exception& e) {
    std::cerr << "tamsel-service: " << e.what() << std::endl;
    return 1;
  }

  SSL_CTX* tls = MakeTls(options);
  if (!tls) {
    std::cerr << "tamsel-service: cannot use certificate " << options.cert << " with key "
              << options.key << std::endl;
    return 1;
  }

  RaiseDescriptorLimit(options.limits.connections);
  int port = 0;
  errno = 0;
  const int listen_fd = Listen(options.bind, options.port, &port);
  if (listen_fd < 0) {
    SSL_CTX_free(tls);
    std::cerr << "tamsel-service: cannot listen on " << options.bind << ":" << options.port
              << (errno ? std::string(": ") + std::strerror(errno) : std::string())
              << std::endl;
    return 1;
  }

  const std::string public_url =
      options.public_url.empty() ? DefaultPublicUrl(port) : options.public_url;
  try {
    campaign = std::make_unique<Campaign>(Campaign::FromFile(options.campaign, public_url));
    try {
      campaign->CheckDigests(*digests);
    } catch (const CampaignError& e) {
      throw CampaignError(options.campaign + ": " + e.what());
    }
  } catch (const std::exception& e) {
    SSL_CTX_free(tls);
    close(listen_fd);
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
  for (const std::string& warning : campaign->Warnings()) {
    std::cerr << "warning: " << warning << std::endl;
  }
  Service service(options, *campaign, *events, *files, *digests, report_token);
  Router router;
  Install(router, service, options);

  LoopSettings settings;
  settings.limits = options.limits;
  settings.max_body = options.max_body;
  settings.quiet = options.quiet;
  settings.say = Say;
  ConnectionLoop loop(tls, listen_fd, router, settings);

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
      loop.Stop();
    }
  });

  const std::string host = options.bind.find(':') != std::string::npos
                               ? "[" + options.bind + "]"
                               : options.bind;
  Say("listening on https://" + host + ":" + std::to_string(port) + " (" +
      std::to_string(campaign->OfferCount()) + " offers" +
      (campaign->TagCount() ? ", " + std::to_string(campaign->TagCount()) + " by download tag"
                            : std::string()) +
      ", events in " + options.store.Describe() +
      (report_token.empty() ? std::string() : ", report page at /report") + ")");
  loop.Run();
  done = true;
  waiter.join();
  // Every answer is written or abandoned and every worker has ended; the
  // store commits what it holds and closes the database.
  events.reset();
  Say("stopped");
  return 0;
}

}  // namespace tamsel
