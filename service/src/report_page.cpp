#include "report_page.h"

#include <openssl/evp.h>
#include <sys/time.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <tuple>
#include <vector>

#include "digest.h"
#include "report.h"

namespace tamsel {
namespace {

// The page's only style; the security policy names it by its digest, so the
// page runs no script and loads nothing, also if a text slipped through.
const char kStyle[] =
    "body{font:14px/1.4 system-ui,sans-serif;margin:1.5em auto;max-width:62em;padding:0 1em;"
    "color:#1a202c}"
    "h1{font-size:1.5em;margin:0 0 .2em}h2{margin-top:1.8em;border-bottom:1px solid #cbd5e0}"
    "h3{margin:1.2em 0 .4em}"
    "table{border-collapse:collapse;margin:.5em 0 1em}"
    "th,td{padding:.2em .7em;border-bottom:1px solid #e2e8f0;text-align:left}"
    "td.n,th.n{text-align:right;font-variant-numeric:tabular-nums}"
    "tr.total td{font-weight:bold}"
    ".note{color:#4a5568}"
    "svg.chart{display:block;margin:.4em 0}svg.chart text{font:12px system-ui,sans-serif;"
    "fill:#2d3748}"
    ".s0{fill:#2b6cb0}.s1{fill:#3182ce}.s2{fill:#63b3ed}.s3{fill:#dd6b20}.s4{fill:#a0aec0}"
    ".s5{fill:#c53030}";

std::string Base64Sha256(const std::string& text) {
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  EVP_Digest(text.data(), text.size(), md, &len, EVP_sha256(), nullptr);
  return EncodeBase64(std::string(reinterpret_cast<const char*>(md), len));
}

// Texts come from the network: escaped for HTML, with anything that is not
// valid UTF-8 or is a control character shown as U+FFFD.
std::string Html(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  const std::size_t n = s.size();
  for (std::size_t i = 0; i < n;) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default:
          if (c < 0x20 || c == 0x7f) {
            out += "\xEF\xBF\xBD";
          } else {
            out.push_back(static_cast<char>(c));
          }
      }
      ++i;
      continue;
    }
    // The length and smallest value of a sequence, so that overlong forms,
    // surrogates and values past U+10FFFF are refused.
    std::size_t len = 0;
    unsigned int cp = 0;
    unsigned int min = 0;
    if ((c & 0xE0) == 0xC0) {
      len = 2, cp = c & 0x1F, min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
      len = 3, cp = c & 0x0F, min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
      len = 4, cp = c & 0x07, min = 0x10000;
    }
    bool ok = len > 0 && i + len <= n;
    for (std::size_t k = 1; ok && k < len; ++k) {
      const unsigned char cc = static_cast<unsigned char>(s[i + k]);
      ok = (cc & 0xC0) == 0x80;
      cp = (cp << 6) | (cc & 0x3F);
    }
    ok = ok && cp >= min && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF) &&
         !(cp >= 0x80 && cp < 0xA0);
    if (ok) {
      out.append(s, i, len);
      i += len;
    } else {
      out += "\xEF\xBF\xBD";
      ++i;
    }
  }
  return out;
}

// At most max characters of valid UTF-8 text, "…" marking a cut.
std::string Shortened(const std::string& text, std::size_t max) {
  std::size_t chars = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
    if (++chars > max) return text.substr(0, i) + "\xE2\x80\xA6";
  }
  return text;
}

std::string Label(const std::string& offer, bool main) {
  std::string label = offer.empty() ? "(none)" : offer;
  return main ? label + " [main]" : label;
}

struct Bar {
  std::string label;
  long long value;
  int shade;  // the style class sN
};

// A horizontal bar chart: one row per bar, its length against the largest.
std::string BarChart(const std::string& title, const std::vector<Bar>& bars) {
  const int label_width = 260;
  const int bar_width = 300;
  const int row = 24;
  const int width = label_width + bar_width + 70;
  const int height = row * static_cast<int>(bars.size()) + 6;
  long long max = 1;
  for (const Bar& b : bars) max = std::max(max, b.value);
  std::ostringstream svg;
  svg << "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"chart\" role=\"img\" width=\"" << width
      << "\" height=\"" << height << "\" viewBox=\"0 0 " << width << " " << height
      << "\" aria-label=\"" << Html(title) << "\"><title>" << Html(title) << "</title>";
  int y = 3;
  for (const Bar& b : bars) {
    const long long length = b.value <= 0 ? 0 : std::max<long long>(1, b.value * bar_width / max);
    svg << "<text x=\"" << label_width - 8 << "\" y=\"" << y + 15 << "\" text-anchor=\"end\">"
        << Html(Shortened(b.label, 30)) << "</text>"
        << "<rect class=\"s" << b.shade << "\" x=\"" << label_width << "\" y=\"" << y + 2
        << "\" width=\"" << length << "\" height=\"" << row - 6 << "\"/>"
        << "<text x=\"" << label_width + length + 6 << "\" y=\"" << y + 15 << "\">" << b.value
        << "</text>";
    y += row;
  }
  svg << "</svg>\n";
  return svg.str();
}

std::string Cell(long long value, const std::string& attributes) {
  return "<td class=\"n\"" + attributes + ">" + std::to_string(value) + "</td>";
}

std::string Attr(const char* name, const std::string& value) {
  return std::string(" ") + name + "=\"" + Html(value) + "\"";
}

struct Step {
  const char* name;   // data-step
  const char* title;  // column head
  long long OfferDay::*field;
};
const Step kOfferSteps[] = {
    {"shown", "shown", &OfferDay::shown},
    {"accepted", "accepted", &OfferDay::accepted},
    {"started", "installer started", &OfferDay::started},
    {"declined", "declined", &OfferDay::declined},
    {"quit", "quit", &OfferDay::quit},
    {"rejected", "not shown", &OfferDay::rejected},
    {"failed", "download failed", &OfferDay::failed},
};

struct MainStep {
  const char* name;
  const char* title;
  long long MainDay::*field;
};
const MainStep kMainSteps[] = {
    {"started", "started", &MainDay::started},
    {"finished", "downloaded or installed", &MainDay::finished},
    {"failed", "failed", &MainDay::failed},
    {"quit", "quit", &MainDay::quit},
};

std::string NowUtc() {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&now, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M UTC", &tm);
  return buf;
}

std::string MainSection(const PageData& page) {
  std::ostringstream out;
  out << "<section id=\"main\"><h2>Main product</h2>\n";
  if (page.main.empty()) {
    out << "<p class=\"note\">No events of the main product in these days.</p></section>\n";
    return out.str();
  }
  MainDay total;
  for (const auto& day : page.main) {
    for (const MainStep& s : kMainSteps) total.*s.field += day.second.*s.field;
  }
  out << BarChart("Main product, all days",
                  {{"started", total.started, 0},
                   {"downloaded or installed", total.finished, 1},
                   {"failed", total.failed, 5},
                   {"quit", total.quit, 4}});
  out << "<table><thead><tr><th>day</th>";
  for (const MainStep& s : kMainSteps) out << "<th class=\"n\">" << s.title << "</th>";
  out << "</tr></thead><tbody>\n";
  auto row = [&](const std::string& day, const MainDay& d, bool is_total) {
    out << "<tr" << (is_total ? " class=\"total\"" : "") << "><td>"
        << (is_total ? "all days" : Html(day)) << "</td>";
    for (const MainStep& s : kMainSteps) {
      out << Cell(d.*s.field, " data-main=\"1\"" + Attr("data-day", day) + Attr("data-step", s.name));
    }
    out << "</tr>\n";
  };
  for (const auto& day : page.main) row(day.first, day.second, false);
  row("total", total, true);
  out << "</tbody></table></section>\n";
  return out.str();
}

std::string OfferSection(const PageData& page) {
  std::ostringstream out;
  out << "<section id=\"offers\"><h2>Offers</h2>\n"
         "<p class=\"note\">Shown: the offer's page was shown (its run ended it with an "
         "installer started, a failed download, a decline or a quit). Accepted: its "
         "installer was started or its download failed. Not shown: left out, for the "
         "reasons below.</p>\n";
  if (page.offers.empty()) out << "<p class=\"note\">No offer events in these days.</p>\n";
  for (const auto& offer : page.offers) {
    OfferDay total;
    for (const auto& day : offer.second) {
      for (const Step& s : kOfferSteps) total.*s.field += day.second.*s.field;
    }
    const std::string label = Label(offer.first, false);
    out << "<article class=\"offer\"" << Attr("data-offer", offer.first) << "><h3>" << Html(label)
        << "</h3>\n";
    out << BarChart("Funnel of " + label + ", all days",
                    {{"shown", total.shown, 0},
                     {"accepted", total.accepted, 1},
                     {"installer started", total.started, 2},
                     {"declined", total.declined, 3},
                     {"quit", total.quit, 4}});
    out << "<table><thead><tr><th>day</th>";
    for (const Step& s : kOfferSteps) out << "<th class=\"n\">" << s.title << "</th>";
    out << "</tr></thead><tbody>\n";
    auto row = [&](const std::string& day, const OfferDay& d, bool is_total) {
      out << "<tr" << (is_total ? " class=\"total\"" : "") << "><td>"
          << (is_total ? "all days" : Html(day)) << "</td>";
      for (const Step& s : kOfferSteps) {
        out << Cell(d.*s.field,
                    Attr("data-offer", offer.first) + Attr("data-day", day) + Attr("data-step", s.name));
      }
      out << "</tr>\n";
    };
    for (const auto& day : offer.second) row(day.first, day.second, false);
    row("total", total, true);
    out << "</tbody></table></article>\n";
  }
  out << "</section>\n";
  return out.str();
}

std::string ReasonSection(const PageData& page) {
  std::ostringstream out;
  out << "<section id=\"reasons\"><h2>Why offers were not shown</h2>\n";
  if (page.reasons.empty()) {
    out << "<p class=\"note\">No offer was left out in these days.</p></section>\n";
    return out.str();
  }
  // The reasons over every offer, most runs first; the table splits them.
  std::vector<std::pair<std::string, long long>> by_reason;
  for (const CountedText& r : page.reasons) {
    auto it = std::find_if(by_reason.begin(), by_reason.end(),
                           [&](const auto& e) { return e.first == r.text; });
    if (it == by_reason.end()) {
      by_reason.emplace_back(r.text, r.runs);
    } else {
      it->second += r.runs;
    }
  }
  std::stable_sort(by_reason.begin(), by_reason.end(), [](const auto& a, const auto& b) {
    return a.second != b.second ? a.second > b.second : a.first < b.first;
  });
  std::vector<Bar> bars;
  for (std::size_t i = 0; i < by_reason.size() && i < 12; ++i) {
    bars.push_back({by_reason[i].first.empty() ? "(no reason given)" : by_reason[i].first,
                    by_reason[i].second, 3});
  }
  out << BarChart("Reasons, most frequent first", bars);
  out << "<table><thead><tr><th>reason</th><th>offer</th><th class=\"n\">runs</th></tr></thead>"
         "<tbody>\n";
  for (const CountedText& r : page.reasons) {
    out << "<tr class=\"reason\"" << Attr("data-reason", r.text) << Attr("data-offer", r.offer)
        << "><td>" << (r.text.empty() ? "(no reason given)" : Html(r.text)) << "</td><td>"
        << Html(Label(r.offer, false)) << "</td>" << Cell(r.runs, "") << "</tr>\n";
  }
  out << "</tbody></table></section>\n";
  return out.str();
}

std::string FailureSection(const PageData& page) {
  std::ostringstream out;
  out << "<section id=\"failures\"><h2>Download and launch failures</h2>\n";
  if (page.failures.empty()) {
    out << "<p class=\"note\">No failures in these days.</p></section>\n";
    return out.str();
  }
  out << "<table><thead><tr><th>failure</th><th>of</th><th class=\"n\">code</th>"
         "<th class=\"n\">runs</th></tr></thead><tbody>\n";
  for (const CountedText& f : page.failures) {
    out << "<tr class=\"failure\"" << Attr("data-failure", f.text) << Attr("data-offer", f.offer)
        << Attr("data-main", f.main ? "1" : "0") << Attr("data-code", std::to_string(f.code))
        << "><td>" << Html(f.text) << "</td><td>"
        << Html(Label(f.offer, f.main)) << "</td><td class=\"n\">" << f.code << "</td>"
        << Cell(f.runs, "") << "</tr>\n";
  }
  out << "</tbody></table></section>\n";
  return out.str();
}

std::string Render(const PageData& page, const std::string& store, const DayRange& range) {
  std::ostringstream out;
  std::string days = "all days";
  if (!range.from.empty() || !range.to.empty()) {
    days = "days " + (range.from.empty() ? std::string("from the first") : range.from) + " to " +
           (range.to.empty() ? std::string("the last") : range.to);
  }
  out << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
         "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
         "<title>Tamsel report</title><link rel=\"icon\" href=\"data:,\"><style>"
      << kStyle << "</style></head><body>\n<header><h1>Tamsel report</h1>\n<p class=\"note\">"
      << "<span id=\"events\">" << page.events << "</span> events in " << Html(store) << ", "
      << Html(days) << " (UTC), as of " << NowUtc()
      << ". Every count is of wizard runs: an event a wizard sent twice counts once.</p>\n"
      << "<form method=\"get\" action=\"/report\"><label>from <input type=\"date\" name=\"from\""
      << Attr("value", range.from) << "></label> <label>to <input type=\"date\" name=\"to\""
      << Attr("value", range.to) << "></label> <button type=\"submit\">show</button></form>"
      << "</header>\n"
      << MainSection(page) << OfferSection(page) << ReasonSection(page) << FailureSection(page)
      << "</body></html>\n";
  return out.str();
}

}  // namespace

std::string ReadReportToken(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error(path + ": the report token cannot be read");
  std::string token;
  std::getline(in, token);
  if (!token.empty() && token.back() == '\r') token.pop_back();
  std::string rest;
  std::getline(in, rest);
  if (!rest.empty() || in.peek() != std::char_traits<char>::eof()) {
    throw std::runtime_error(path + ": the report token is one line");
  }
  if (token.size() < 16 || token.size() > 1024) {
    throw std::runtime_error(path + ": the report token needs 16 to 1024 characters");
  }
  for (unsigned char c : token) {
    if (c <= 0x20 || c >= 0x7f) {
      throw std::runtime_error(path + ": the report token holds printable ASCII without spaces");
    }
  }
  return token;
}

bool ReportAuthorized(const std::string& authorization, const std::string& token) {
  std::string given;
  const std::size_t space = authorization.find(' ');
  if (space != std::string::npos) {
    std::string scheme = authorization.substr(0, space);
    for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string value = authorization.substr(space + 1);
    value.erase(0, value.find_first_not_of(' '));
    while (!value.empty() && value.back() == ' ') value.pop_back();
    if (scheme == "bearer") {
      given = value;
    } else if (scheme == "basic") {
      // "user:password"; the user name is not looked at.
      std::optional<std::string> pair = DecodeBase64(value);
      const std::size_t colon = pair ? pair->find(':') : std::string::npos;
      if (colon != std::string::npos) given = pair->substr(colon + 1);
    }
  }
  // Compared also when nothing usable was given (the token is never empty),
  // so the time tells nothing.
  return SameSecret(given, token);
}

Reply ReportPage(EventStore& store, const std::optional<std::string>& from,
                 const std::optional<std::string>& to) {
  DayRange range;
  for (const auto& [given, day, name] :
       {std::make_tuple(&from, &range.from, "from"), std::make_tuple(&to, &range.to, "to")}) {
    if (!given->has_value() || (*given)->empty()) continue;
    if (!IsDay(**given)) {
      return Reply::Text(400, std::string("\"") + name + "\" is not a day (YYYY-MM-DD)");
    }
    *day = **given;
  }
  PageData page;
  try {
    page = store.WithReader([&](Database& db) { return CollectPage(db, range); });
  } catch (const StoreError& err) {
    std::cerr << "report not read: " << err.what() << std::endl;
    return Reply::Text(503, "event store unavailable");
  }
  return Reply{200, "text/html; charset=utf-8", Render(page, store.location().Describe(), range)};
}

const char* ReportContentSecurityPolicy() {
  static const std::string policy =
      "default-src 'none'; style-src 'sha256-" + Base64Sha256(kStyle) +
      "'; img-src data:; form-action 'self'; frame-ancestors 'none'; base-uri 'none'";
  return policy.c_str();
}

}  // namespace tamsel
