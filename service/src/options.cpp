#include "options.h"

#include <CLI/CLI.hpp>
#include <cctype>

namespace tamsel {
namespace {

const char kReportHelp[] =
    "Report (tamsel-service report [--db FILE | --postgres CONNINFO] [--json]): per\n"
    "offer, how many events of each code the database holds, the rejection reasons\n"
    "and the failure texts; --json prints the same as JSON.";

// Two letters, given back in upper case.
std::string CountryCode(std::string& text) {
  if (text.size() != 2 || !std::isalpha(static_cast<unsigned char>(text[0])) ||
      !std::isalpha(static_cast<unsigned char>(text[1]))) {
    return "expected two letters, got: " + text;
  }
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return std::string();
}

// The base the campaign's relative paths and {{base}} become: an http or
// https URL with a host, in printable ASCII, without query or fragment.
std::string PublicUrl(std::string& text) {
  while (!text.empty() && text.back() == '/') text.pop_back();
  std::size_t host = 0;
  if (text.rfind("https://", 0) == 0) host = 8;
  if (text.rfind("http://", 0) == 0) host = 7;
  if (host == 0 || host == text.size() || text[host] == '/' || text[host] == ':') {
    return "expected http:// or https:// and a host, got: " + text;
  }
  for (unsigned char c : text) {
    if (c <= 0x20 || c >= 0x7f || c == '?' || c == '#' || c == '"' || c == '\\') {
      return "expected a URL of printable ASCII without query or fragment, got: " + text;
    }
  }
  return std::string();
}

}  // namespace

std::string DefaultPublicUrl(int port) {
  if (port == 443) return "https://localhost";
  return "https://localhost:" + std::to_string(port);
}

Options ParseOptions(int argc, char** argv) {
  Options o;
  ServeOptions& s = o.serve;
  Limits& l = s.limits;

  CLI::App app("Serves the configuration (POST /o), event (POST /zbd) and file (GET /f/...)\n"
               "endpoints and the report page (GET /report) over HTTPS, or prints what the\n"
               "event database holds.",
               "tamsel-service");
  app.footer(kReportHelp);
  app.get_formatter()->column_width(30);
  // "serve" may be left out; its options belong to the program itself.
  CLI::App* serve = app.add_subcommand("serve", "serve the endpoints (the default)");
  serve->fallthrough();
  CLI::App* report = app.add_subcommand("report", "print what the event database holds");
  app.require_subcommand(0, 1);

  app.add_option("--port", s.port, "port to listen on (default 443; 0 picks a free port)")
      ->check(CLI::Range(0, 65535));
  app.add_option("--bind", s.bind, "address to listen on (default 127.0.0.1)");
  app.add_option("--cert", s.cert, "server certificate chain, PEM");
  app.add_option("--key", s.key, "server private key, PEM");
  app.add_option("--campaign", s.campaign,
                 "campaign file (JSON): product, flow settings and offers");
  app.add_option("--files", s.files, "folder served under /f/ (default: none, every file is 404)");
  CLI::Option* db =
      app.add_option("--db", s.store.sqlite, "SQLite event database (default tamsel-events.sqlite)");
  CLI::Option* postgres = app.add_option(
      "--postgres", s.store.postgres,
      "keep the events in PostgreSQL instead: a libpq connection string\n"
      "(\"host=H dbname=D user=U\" or postgresql://U@H/D); several services\n"
      "may share one database");
  app.add_option("--country", s.country,
                 "country answered when a request does not decide it (default US)");
  app.add_option("--public-url", s.public_url,
                 "base URL clients reach this service at: relative file paths of the\n"
                 "campaign go out under URL/f/ and {{base}} becomes URL (default\n"
                 "https://localhost with :PORT added unless the port is 443)");
  app.add_option("--max-body", s.max_body, "largest request body accepted (default 65536)")
      ->check(CLI::Range(std::size_t{256}, std::size_t{64} << 20));
  app.add_option("--files-rate", s.files_rate,
                 "send /f/ files at most this many KiB per second, so a demo shows\n"
                 "its downloads (default 0: unlimited)")
      ->check(CLI::Range(std::size_t{0}, std::size_t{1} << 30));
  app.add_option("--max-request-line", l.request_line,
                 "longest request line, in bytes (default 8192; 414 beyond)")
      ->check(CLI::Range(std::size_t{256}, std::size_t{1} << 20));
  app.add_option("--max-header-line", l.header_line,
                 "longest header line, in bytes (default 8192; 431 beyond)")
      ->check(CLI::Range(std::size_t{256}, std::size_t{1} << 20));
  app.add_option("--max-headers-size", l.headers_size,
                 "request line and headers together, in bytes (default 32768; 431)")
      ->check(CLI::Range(std::size_t{512}, std::size_t{4} << 20));
  app.add_option("--max-headers", l.header_count, "most header lines (default 100; 431 beyond)")
      ->check(CLI::Range(std::size_t{1}, std::size_t{10000}));
  app.add_option("--header-time", l.header_seconds,
                 "seconds a client has for the TLS handshake and the request head,\n"
                 "from connecting or from a further request's first byte (default 10)")
      ->check(CLI::Range(1, 3600));
  app.add_option("--body-time", l.body_seconds,
                 "seconds a client has to send the body once the head is in\n"
                 "(default 30)")
      ->check(CLI::Range(1, 3600));
  app.add_option("--max-connections", l.connections,
                 "connections open at once; further ones are closed at once\n"
                 "(default 1000)")
      ->check(CLI::Range(std::size_t{16}, std::size_t{100000}));
  app.add_flag("--quiet", s.quiet, "no line per request on standard output")
      ->disable_flag_override();
  app.add_flag("--readback", s.readback,
               "also answer POST /events?offer=ID[&run=STAMP] with the stored events\n"
               "of that offer, as JSON (for tests; any client may read them, so off\n"
               "by default)")
      ->disable_flag_override();
  app.add_option("--report-token-file", s.report_token_file,
                 "serve the report page GET /report to clients that give the token\n"
                 "this file holds (HTTP Basic password or Bearer); without it the\n"
                 "page is not served");

  CLI::Option* report_db =
      report->add_option("--db", o.report.store.sqlite,
                         "SQLite event database (default tamsel-events.sqlite)");
  CLI::Option* report_postgres = report->add_option(
      "--postgres", o.report.store.postgres, "PostgreSQL connection string, instead of --db");
  report->add_flag("--json", o.report.json, "print JSON instead of tables")->disable_flag_override();

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    o.command = Command::Help;
    o.help = report->parsed() ? report->help() : app.help();
    return o;
  } catch (const CLI::ParseError& e) {
    throw UsageError(e.what());
  }
  auto one_store = [](const CLI::Option* file, const CLI::Option* server) {
    if (file->count() > 0 && server->count() > 0) {
      throw UsageError("--db and --postgres name two event stores; give one");
    }
  };
  one_store(db, postgres);
  if (postgres->count() > 0 && s.store.postgres.empty()) {
    throw UsageError("--postgres: expected a connection string");
  }
  if (report->parsed()) {
    o.command = Command::Report;
    one_store(report_db, report_postgres);
    // The program's own store options count for the report too.
    if (report_db->count() == 0 && report_postgres->count() == 0) o.report.store = s.store;
    if (report_postgres->count() > 0 && o.report.store.postgres.empty()) {
      throw UsageError("--postgres: expected a connection string");
    }
    return o;
  }
  std::string wrong = CountryCode(s.country);
  if (!wrong.empty()) throw UsageError("--country: " + wrong);
  if (!s.public_url.empty() && !(wrong = PublicUrl(s.public_url)).empty()) {
    throw UsageError("--public-url: " + wrong);
  }
  if (s.cert.empty() || s.key.empty()) throw UsageError("--cert and --key are required");
  if (s.campaign.empty()) throw UsageError("--campaign is required");
  if (l.request_line > l.headers_size || l.header_line > l.headers_size) {
    throw UsageError("--max-headers-size must hold the longest request line and header line");
  }
  return o;
}

}  // namespace tamsel
