#include "options.h"

#include <cctype>
#include <climits>
#include <cstdlib>
#include <vector>

namespace tamsel {
namespace {

// Whole-text decimal number in [lo, hi]; anything else is a usage error.
long long ParseNumber(const std::string& option, const std::string& text, long long lo,
                      long long hi) {
  if (text.empty() || text.size() > 18) throw UsageError(option + ": not a number: " + text);
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) {
      throw UsageError(option + ": not a number: " + text);
    }
  }
  long long v = std::stoll(text);
  if (v < lo || v > hi) {
    throw UsageError(option + ": out of range (" + std::to_string(lo) + " to " +
                     std::to_string(hi) + "): " + text);
  }
  return v;
}

std::string CountryCode(const std::string& text) {
  if (text.size() != 2 || !std::isalpha(static_cast<unsigned char>(text[0])) ||
      !std::isalpha(static_cast<unsigned char>(text[1]))) {
    throw UsageError("--country: expected two letters, got: " + text);
  }
  std::string out = text;
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

std::string DefaultPublicUrl(int port) {
  if (port == 443) return "https://localhost";
  return "https://localhost:" + std::to_string(port);
}

Options ParseOptions(int argc, char** argv) {
  Options o;
  std::vector<std::string> args(argv + 1, argv + argc);
  std::size_t i = 0;
  if (i < args.size() && (args[i] == "serve" || args[i] == "report")) {
    o.command = args[i] == "serve" ? Command::Serve : Command::Report;
    ++i;
  }
  for (; i < args.size(); ++i) {
    std::string name = args[i];
    std::string value;
    bool has_value = false;
    auto eq = name.find('=');
    if (name.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name = name.substr(0, eq);
      has_value = true;
    }
    auto take = [&]() -> std::string {
      if (has_value) return value;
      if (i + 1 >= args.size()) throw UsageError(name + " needs a value");
      return args[++i];
    };
    auto flag = [&]() {
      if (has_value) throw UsageError(name + " takes no value");
    };

    if (name == "-h" || name == "--help") {
      flag();
      o.command = Command::Help;
      return o;
    }
    if (name == "--db") {
      o.serve.db = o.report.db = take();
      continue;
    }
    if (o.command == Command::Report) {
      if (name == "--json") {
        flag();
        o.report.json = true;
        continue;
      }
      throw UsageError("unknown option for report: " + name);
    }
    ServeOptions& s = o.serve;
    if (name == "--port") {
      s.port = static_cast<int>(ParseNumber(name, take(), 0, 65535));
    } else if (name == "--bind") {
      s.bind = take();
    } else if (name == "--cert") {
      s.cert = take();
    } else if (name == "--key") {
      s.key = take();
    } else if (name == "--campaign") {
      s.campaign = take();
    } else if (name == "--files") {
      s.files = take();
    } else if (name == "--country") {
      s.country = CountryCode(take());
    } else if (name == "--public-url") {
      s.public_url = take();
      while (!s.public_url.empty() && s.public_url.back() == '/') s.public_url.pop_back();
    } else if (name == "--max-body") {
      s.max_body = static_cast<std::size_t>(ParseNumber(name, take(), 256, 64LL << 20));
    } else if (name == "--files-rate") {
      s.files_rate = static_cast<std::size_t>(ParseNumber(name, take(), 0, 1LL << 30));
    } else if (name == "--quiet") {
      flag();
      s.quiet = true;
    } else if (name == "--readback") {
      flag();
      s.readback = true;
    } else {
      throw UsageError("unknown option: " + name);
    }
  }
  if (o.command == Command::Serve) {
    if (o.serve.cert.empty() || o.serve.key.empty()) {
      throw UsageError("--cert and --key are required");
    }
    if (o.serve.campaign.empty()) throw UsageError("--campaign is required");
  }
  return o;
}

std::string HelpText(const std::string& program) {
  return "Usage:\n"
         "  " + program + " [serve] --cert FILE --key FILE --campaign FILE [options]\n"
         "  " + program + " report [--db FILE] [--json]\n"
         "\n"
         "Serves the configuration (POST /o), event (POST /zbd) and file (GET /f/...)\n"
         "endpoints over HTTPS, or prints what the event database holds.\n"
         "\n"
         "Serve options:\n"
         "  --port N          port to listen on (default 443; 0 picks a free port)\n"
         "  --bind ADDR       address to listen on (default 127.0.0.1)\n"
         "  --cert FILE       server certificate chain, PEM\n"
         "  --key FILE        server private key, PEM\n"
         "  --campaign FILE   campaign file (JSON): product, flow settings and offers\n"
         "  --files DIR       folder served under /f/ (default: none, every file is 404)\n"
         "  --db FILE         SQLite event database (default tamsel-events.sqlite)\n"
         "  --country CC      country answered when a request does not decide it\n"
         "                    (default US)\n"
         "  --public-url URL  base URL clients reach this service at; replaces\n"
         "                    {{base}} in the campaign (default https://localhost\n"
         "                    with :PORT added unless the port is 443)\n"
         "  --max-body BYTES  largest request body accepted (default 65536)\n"
         "  --files-rate KIB  send /f/ files at most this many KiB per second, so a\n"
         "                    demo shows its downloads (default 0: unlimited)\n"
         "  --quiet           no line per request on standard output\n"
         "  --readback        also answer POST /events?offer=ID[&run=STAMP] with the\n"
         "                    stored events of that offer, as JSON (for tests; any\n"
         "                    client may read them, so off by default)\n"
         "  -h, --help        this text\n"
         "\n"
         "Report options:\n"
         "  --db FILE         SQLite event database (default tamsel-events.sqlite)\n"
         "  --json            print JSON instead of tables\n";
}

}  // namespace tamsel
