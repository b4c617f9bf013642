#include "campaign.h"

#include <cctype>
#include <climits>
#include <cstring>
#include <fstream>
#include <sstream>

namespace tamsel {
namespace {

using nlohmann::json;

const char kBasePlaceholder[] = "{{base}}";

// Keys of the product block the wizard reads; the first two are required.
const char* const kProductKeys[] = {"ct", "cu", "cl", "cf", "cp", "ctu", "ch", "cfl", "cb", "sha256"};

[[noreturn]] void Fail(const std::string& where, const std::string& what) {
  throw CampaignError(where + ": " + what);
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

bool IsTwoLetters(const std::string& s) {
  return s.size() == 2 && std::isalpha(static_cast<unsigned char>(s[0])) &&
         std::isalpha(static_cast<unsigned char>(s[1]));
}

void ExpandBase(json& value, const std::string& base_url) {
  if (value.is_string()) {
    std::string s = value.get<std::string>();
    const std::string needle = kBasePlaceholder;
    for (std::size_t pos = 0; (pos = s.find(needle, pos)) != std::string::npos;) {
      s.replace(pos, needle.size(), base_url);
      pos += base_url.size();
    }
    value = s;
  } else if (value.is_structured()) {
    for (auto& item : value) ExpandBase(item, base_url);
  }
}

void OnlyKeys(const json& obj, const std::string& where, std::initializer_list<const char*> keys) {
  for (auto it = obj.begin(); it != obj.end(); ++it) {
    bool known = false;
    for (const char* k : keys) known = known || it.key() == k;
    if (!known) Fail(where, "unknown key \"" + it.key() + "\"");
  }
}

const json& Object(const json& parent, const char* key, const std::string& where) {
  if (!parent.contains(key)) Fail(where, std::string("missing \"") + key + "\"");
  const json& v = parent.at(key);
  if (!v.is_object()) Fail(where + "." + key, "expected an object");
  return v;
}

void String(const json& obj, const char* key, const std::string& where, bool required,
            bool non_empty = false) {
  if (!obj.contains(key)) {
    if (required) Fail(where, std::string("missing \"") + key + "\"");
    return;
  }
  const json& v = obj.at(key);
  if (!v.is_string()) Fail(where + "." + key, "expected a string");
  if (non_empty && v.get_ref<const std::string&>().empty()) {
    Fail(where + "." + key, "must not be empty");
  }
}

// The wizard reads these into 32-bit integers.
void Int32(const json& obj, const char* key, const std::string& where, bool required) {
  if (!obj.contains(key)) {
    if (required) Fail(where, std::string("missing \"") + key + "\"");
    return;
  }
  const json& v = obj.at(key);
  bool ok = v.is_number_integer() &&
            (v.is_number_unsigned() ? v.get<std::uint64_t>() <= INT32_MAX
                                    : v.get<std::int64_t>() >= INT32_MIN &&
                                          v.get<std::int64_t>() <= INT32_MAX);
  if (!ok) Fail(where + "." + key, "expected a 32-bit integer");
}

void Unsigned(const json& obj, const char* key, const std::string& where) {
  if (!obj.contains(key)) return;
  const json& v = obj.at(key);
  if (!v.is_number_unsigned()) Fail(where + "." + key, "expected a non-negative integer");
}

void Boolean(const json& obj, const char* key, const std::string& where) {
  if (obj.contains(key) && !obj.at(key).is_boolean()) {
    Fail(where + "." + key, "expected true or false");
  }
}

void StringList(const json& obj, const char* key, const std::string& where) {
  if (!obj.contains(key)) return;
  const json& v = obj.at(key);
  if (!v.is_array()) Fail(where + "." + key, "expected a list of strings");
  for (std::size_t i = 0; i < v.size(); ++i) {
    if (!v[i].is_string()) {
      Fail(where + "." + key + "[" + std::to_string(i) + "]", "expected a string");
    }
  }
}

// Types as the wizard enforces them: one wrong key there fails the whole
// configuration on every machine, so it is refused here, at start.
void CheckPackage(const json& pkg, const std::string& where) {
  if (!pkg.is_object()) Fail(where, "expected an object");
  const json& ad = Object(pkg, "ad", where);
  String(ad, "o", where + ".ad", true, true);
  String(ad, "f", where + ".ad", true);
  const std::string w = where + ".ps";
  const json& ps = Object(pkg, "ps", where);
  for (const char* k : {"i", "dn", "u"}) String(ps, k, w, true, true);
  for (const char* k : {"p", "cp", "ctu", "c", "pv", "sha256"}) String(ps, k, w, false);
  for (const char* k : {"v", "ov", "x"}) Int32(ps, k, w, false);
  for (const char* k : {"disk", "ram", "cpu"}) Unsigned(ps, k, w);
  for (const char* k : {"exc", "win64", "pn"}) Boolean(ps, k, w);
  for (const char* k : {"fe", "ife", "a", "r", "ir", "rvn", "rvd", "eapp", "iapp"}) {
    StringList(ps, k, w);
  }
  if (ps.contains("cmdu")) {
    const json& cmdu = ps.at("cmdu");
    if (!cmdu.is_array()) Fail(w + ".cmdu", "expected a list of objects");
    for (std::size_t i = 0; i < cmdu.size(); ++i) {
      const std::string wi = w + ".cmdu[" + std::to_string(i) + "]";
      if (!cmdu[i].is_object()) Fail(wi, "expected an object");
      for (const char* k : {"utr", "utk", "utvn", "utvt"}) String(cmdu[i], k, wi, true);
      Int32(cmdu[i], "umd", wi, true);
      Boolean(cmdu[i], "utms", wi);
    }
  }
  if (ps.value("pn", false)) {
    for (const char* k : {"pnau", "pnak", "pnr", "pnop", "la", "sp"}) String(ps, k, w, false);
    Boolean(ps, "pnsi", w);
    if (ps.contains("pnrp")) {
      const json& pnrp = ps.at("pnrp");
      if (!pnrp.is_object()) Fail(w + ".pnrp", "expected an object of strings");
      for (auto it = pnrp.begin(); it != pnrp.end(); ++it) {
        if (!it->is_string()) Fail(w + ".pnrp." + it.key(), "expected a string");
      }
    }
    if (ps.contains("cfs")) {
      const json& cfs = Object(ps, "cfs", w);
      for (const char* k : {"mb", "ma", "mo"}) Int32(cfs, k, w + ".cfs", false);
      for (const char* k : {"ab", "aa"}) StringList(cfs, k, w + ".cfs");
      for (const char* k : {"saad", "sied"}) Boolean(cfs, k, w + ".cfs");
    }
  }
}

void CheckProductFields(const json& obj, const std::string& where, bool required) {
  if (!obj.is_object()) Fail(where, "expected an object");
  String(obj, "ct", where, required, true);
  String(obj, "cu", where, required, true);
  for (const char* k : kProductKeys) String(obj, k, where, false);
}

std::set<std::string> Codes(const json& offer, const char* key, const std::string& where,
                            bool upper) {
  std::set<std::string> out;
  StringList(offer, key, where);
  if (!offer.contains(key)) return out;
  for (const auto& v : offer.at(key)) {
    std::string s = v.get<std::string>();
    if (!IsTwoLetters(s)) Fail(where + "." + key, "expected two-letter codes, got \"" + s + "\"");
    out.insert(upper ? Upper(s) : Lower(s));
  }
  return out;
}

// The wizard's rule for a download address ("u"): a text of this form it
// fetches as it stands, anything else from its file endpoint with the text
// appended. An optional lower-case "http://" or "https://", a host of ASCII
// letters, digits, "_", "." and "-" with a "." inside it, then nothing or
// "/", "?" or "#" followed by anything but line breaks. So a host without a
// dot ("localhost") or with a port does not count as an address, and a path
// whose first segment holds a dot ("setup.exe") does.
bool WizardTakesAsAddress(const std::string& text) {
  std::size_t start = 0;
  if (text.rfind("https://", 0) == 0) {
    start = 8;
  } else if (text.rfind("http://", 0) == 0) {
    start = 7;
  }
  auto host_char = [](unsigned char c) {
    return std::isalnum(c) || c == '_' || c == '.' || c == '-';
  };
  std::size_t end = start;
  while (end < text.size() && static_cast<unsigned char>(text[end]) < 0x80 && host_char(static_cast<unsigned char>(text[end]))) ++end;
  bool inner_dot = false;
  for (std::size_t i = start + 1; i + 1 < end; ++i) inner_dot = inner_dot || text[i] == '.';
  if (!inner_dot) return false;
  if (end == text.size()) return true;
  if (text[end] != '/' && text[end] != '?' && text[end] != '#') return false;
  return text.find_first_of("\r\n", end + 1) == std::string::npos;
}

// "scheme" of a text that starts with "scheme:" (RFC 3986), lower case; ""
// for a path.
std::string SchemeOf(const std::string& text) {
  if (text.empty() || !std::isalpha(static_cast<unsigned char>(text[0]))) return std::string();
  for (std::size_t i = 1; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == ':') return Lower(text.substr(0, i));
    if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') break;
  }
  return std::string();
}

bool IsFullUrl(const std::string& text) {
  const std::string scheme = SchemeOf(text);
  if (scheme != "http" && scheme != "https") return false;
  const std::size_t host = scheme.size() + 3;
  return text.compare(scheme.size(), 3, "://") == 0 && host < text.size() &&
         text[host] != '/' && text[host] != ':' && text[host] != '?' && text[host] != '#';
}

// A path under the file endpoint as written in the campaign, checked for
// what the endpoint would never serve, in URL form: bytes that a URL path
// cannot hold as they are (spaces, "%", "?", "#", anything outside ASCII)
// are percent-encoded, so the file endpoint decodes them back. "{" and "}"
// stay: they mark the wizard's own placeholders.
std::string FilePath(const std::string& path, const std::string& where) {
  if (path.front() == '/') Fail(where, "\"" + path + "\": a path under /f/ starts without \"/\"");
  if (path.find('\\') != std::string::npos || path.find('\0') != std::string::npos) {
    Fail(where, "\"" + path + "\": the file endpoint serves no path with \"\\\" or NUL");
  }
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string segment = path.substr(start, end - start);
    if (segment.empty() || segment == "." || segment == "..") {
      Fail(where, "\"" + path + "\": the file endpoint serves no path with an empty, \".\" or \"..\" segment");
    }
    start = end + 1;
  }
  static const char kKept[] = "-._~!$&'()*+,;=:@/{}";
  std::string out;
  for (unsigned char c : path) {
    if (c < 0x80 && (std::isalnum(c) || std::strchr(kKept, c) != nullptr)) {
      out.push_back(static_cast<char>(c));
    } else {
      static const char kHex[] = "0123456789ABCDEF";
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

// The file name a URL path under /f/ reaches: without query or fragment,
// percent-escapes decoded as the file endpoint decodes them.
std::string FileNameOfUrlPath(const std::string& path) {
  const std::string bare = path.substr(0, path.find_first_of("?#"));
  std::string out;
  for (std::size_t i = 0; i < bare.size(); ++i) {
    if (bare[i] == '%' && i + 2 < bare.size() && std::isxdigit(static_cast<unsigned char>(bare[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(bare[i + 2]))) {
      out.push_back(static_cast<char>(std::stoi(bare.substr(i + 1, 2), nullptr, 16)));
      i += 2;
    } else {
      out.push_back(bare[i]);
    }
  }
  return out;
}

// A stated "sha256": 64 hexadecimal digits, given back in lower case.
std::string StatedDigest(const json& obj, const std::string& where) {
  if (!obj.contains("sha256")) return std::string();
  std::string text = obj.at("sha256").get<std::string>();
  bool ok = text.size() == 64;
  for (char& c : text) {
    ok = ok && std::isxdigit(static_cast<unsigned char>(c));
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  if (!ok) Fail(where + ".sha256", "expected 64 hexadecimal digits (a SHA-256), got \"" +
                                       obj.at("sha256").get<std::string>().substr(0, 80) + "\"");
  return text;
}

bool IsAscii(const std::string& text) {
  for (unsigned char c : text) {
    if (c >= 0x80) return false;
  }
  return true;
}

// Keys of a package's "ps" that the wizard reads as UTF-8 (the registry and
// application rules, the date marker's registry path); it reads the others
// in the machine's ANSI code page.
bool ReadAsUtf8(const std::string& key) {
  for (const char* k : {"r", "ir", "rvn", "rvd", "eapp", "iapp", "cmdu", "pnr"}) {
    if (key == k) return true;
  }
  return false;
}

void WarnOutsideAscii(const json& value, const std::string& where, std::vector<std::string>* out) {
  if (value.is_string()) {
    const std::string& text = value.get_ref<const std::string&>();
    if (!IsAscii(text)) {
      out->push_back(where + ": \"" + text.substr(0, 80) +
                     "\" is not ASCII; the wizard reads it in the machine's ANSI code page, "
                     "where only the characters that code page holds come through");
    }
  } else if (value.is_object()) {
    for (auto it = value.begin(); it != value.end(); ++it) {
      WarnOutsideAscii(*it, where + "." + it.key(), out);
    }
  } else if (value.is_array()) {
    for (std::size_t i = 0; i < value.size(); ++i) {
      WarnOutsideAscii(value[i], where + "[" + std::to_string(i) + "]", out);
    }
  }
}

// Turns the file references of the product ("cu", "cl") and of a package
// ("u", "i") into what the wizard can use as it stands, or refuses them.
class FileReferences {
 public:
  FileReferences(const std::string& base_url, std::vector<std::string>* files,
                 std::vector<std::string>* warnings)
      : base_(base_url), files_(files), warnings_(warnings) {}

  // "cu" and "cl": the wizard fetches them as they are, so they must be full
  // URLs; a path goes out under the public URL.
  // Returns the name of the file under the files folder it reaches, if any.
  std::optional<std::string> Full(json& obj, const char* key, const std::string& where) {
    if (!obj.contains(key)) return std::nullopt;
    const std::string text = obj.at(key).get<std::string>();
    const std::string place = where + "." + key;
    if (text.empty()) return std::nullopt;  // "cl" may be empty: no product image
    if (!SchemeOf(text).empty()) {
      if (!IsFullUrl(text)) Fail(place, "\"" + text + "\": expected an http or https URL or a path under /f/");
      return Own(text);
    }
    const std::string path = FilePath(text, place);
    files_->push_back(text);
    obj[key] = base_ + "/f/" + path;
    return text;
  }

  // "u": the wizard fetches it as it stands when its address rule says so,
  // else from its file endpoint with the text appended.
  // Returns the name of the file under the files folder it reaches, if
  // any; none for a text with the wizard's placeholders, whose file only
  // the wizard knows.
  std::optional<std::string> Download(json& ps, const std::string& where) {
    const std::string text = ps.at("u").get<std::string>();
    const std::string place = where + ".u";
    const bool placeholders = text.find('{') != std::string::npos;
    if (!SchemeOf(text).empty()) {
      if (WizardTakesAsAddress(text)) return placeholders ? std::nullopt : Own(text);
      // Under this service's own files: the path alone reaches the same file
      // through the wizard's file endpoint.
      const std::string own = base_ + "/f/";
      if (text.rfind(own, 0) == 0 && !WizardTakesAsAddress(text.substr(own.size()))) {
        ps["u"] = text.substr(own.size());
        return placeholders ? std::nullopt : Own(text);
      }
      warnings_->push_back(place + ": \"" + text +
                           "\" is no address to the wizard (its host needs a \".\" and no port), "
                           "so it fetches it from its own file endpoint with this text appended");
      return std::nullopt;
    }
    const std::string path = FilePath(text, place);
    files_->push_back(text);
    const std::string full = base_ + "/f/" + path;
    if (WizardTakesAsAddress(full)) {
      ps["u"] = full;
    } else if (!WizardTakesAsAddress(path)) {
      ps["u"] = path;
    } else {
      Fail(place, "\"" + text + "\": the wizard would take this path for a host name (its first "
                  "segment holds a \".\") and the public URL " + base_ + " is no address to it "
                  "(the host needs a \".\" and no port); put the file in a folder or give "
                  "--public-url a host the wizard takes");
    }
    return placeholders ? std::nullopt : std::optional<std::string>(text);
  }

  // "i": always fetched from the wizard's file endpoint, the path appended.
  void Image(json& ps, const std::string& where) {
    const std::string text = ps.at("i").get<std::string>();
    const std::string place = where + ".i";
    if (!SchemeOf(text).empty()) {
      const std::string own = base_ + "/f/";
      if (text.rfind(own, 0) == 0) {
        ps["i"] = text.substr(own.size());
        return;
      }
      warnings_->push_back(place + ": \"" + text +
                           "\" is a URL, but the wizard fetches offer images from its own file "
                           "endpoint with this text appended");
      return;
    }
    ps["i"] = FilePath(text, place);
    files_->push_back(text);
  }

 private:
  // The file a full URL under this service's own /f/ reaches.
  std::optional<std::string> Own(const std::string& url) const {
    const std::string own = base_ + "/f/";
    if (url.rfind(own, 0) != 0) return std::nullopt;
    const std::string name = FileNameOfUrlPath(url.substr(own.size()));
    if (name.empty()) return std::nullopt;
    return name;
  }

  const std::string& base_;
  std::vector<std::string>* files_;
  std::vector<std::string>* warnings_;
};

}  // namespace

Campaign Campaign::FromFile(const std::string& path, const std::string& base_url) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw CampaignError(path + ": cannot be read");
  std::stringstream text;
  text << in.rdbuf();
  json doc = json::parse(text.str(), nullptr, false);
  if (doc.is_discarded()) throw CampaignError(path + ": not valid JSON");
  try {
    return FromJson(doc, base_url);
  } catch (const CampaignError& e) {
    throw CampaignError(path + ": " + e.what());
  }
}

bool Campaign::IsDownloadTag(const std::string& tag) {
  if (tag.size() != 7 || tag.find('-') == std::string::npos) return false;
  for (char c : tag) {
    if (c < 0x20 || c > 0x7e) return false;
    if (std::string("_\\/:*?\"<>|").find(c) != std::string::npos) return false;
  }
  return true;
}

Campaign Campaign::FromJson(const json& doc, const std::string& base_url) {
  if (!doc.is_object()) Fail("campaign", "expected an object");
  OnlyKeys(doc, "campaign", {"product", "flow", "offers", "country_by_language", "by_tag"});
  Campaign c;
  c.base_ = Parse(doc, base_url, "");
  if (doc.contains("by_tag")) {
    const json& by = Object(doc, "by_tag", "campaign");
    for (auto it = by.begin(); it != by.end(); ++it) {
      const std::string where = "by_tag." + it.key();
      if (!IsDownloadTag(it.key())) {
        Fail(where, "expected a download tag: 7 characters with a \"-\" (as in setup_ab-1234.exe)");
      }
      if (!it->is_object()) Fail(where, "expected an object");
      if (it->contains("by_tag")) Fail(where, "a tagged campaign has no \"by_tag\" of its own");
      c.by_tag_[it.key()] = Parse(*it, base_url, where + ".");
    }
  }
  return c;
}

Campaign::Content Campaign::Parse(const json& doc, const std::string& base_url,
                                  const std::string& prefix) {
  const std::string self = prefix.empty() ? "campaign" : prefix.substr(0, prefix.size() - 1);
  if (!prefix.empty()) {
    OnlyKeys(doc, self, {"product", "flow", "offers", "country_by_language"});
  }
  Content c;
  FileReferences refs(base_url, &c.files, &c.warnings);

  const json& product = Object(doc, "product", self);
  {
    json base = product;
    base.erase("by_language");
    CheckProductFields(base, prefix + "product", true);
    OnlyKeys(base, prefix + "product",
             {"ct", "cu", "cl", "cf", "cp", "ctu", "ch", "cfl", "cb", "sha256"});
    ExpandBase(base, base_url);
    const std::string stated = StatedDigest(base, prefix + "product");
    if (!stated.empty()) base["sha256"] = stated;
    c.product_digest = {refs.Full(base, "cu", prefix + "product"), stated,
                        prefix + "product.sha256"};
    refs.Full(base, "cl", prefix + "product");
    WarnOutsideAscii(base, prefix + "product", &c.warnings);
    c.product = base;
  }
  if (product.contains("by_language")) {
    const json& by = Object(product, "by_language", prefix + "product");
    for (auto it = by.begin(); it != by.end(); ++it) {
      const std::string where = prefix + "product.by_language." + it.key();
      if (!IsTwoLetters(it.key())) Fail(where, "expected a two-letter language code");
      CheckProductFields(it.value(), where, false);
      OnlyKeys(it.value(), where,
               {"ct", "cu", "cl", "cf", "cp", "ctu", "ch", "cfl", "cb", "sha256"});
      json overlay = it.value();
      ExpandBase(overlay, base_url);
      const std::string stated = StatedDigest(overlay, where);
      if (!stated.empty()) overlay["sha256"] = stated;
      const std::optional<std::string> served = refs.Full(overlay, "cu", where);
      // The digest follows the download: a language's own "cu" brings its
      // own digest (or none); its own "sha256" alone speaks for the base's.
      if (overlay.contains("cu") || overlay.contains("sha256")) {
        const bool own_cu = overlay.contains("cu");
        c.product_digest_by_language[Lower(it.key())] = {
            own_cu ? served : c.product_digest.served,
            !stated.empty() ? stated : own_cu ? std::string() : c.product_digest.stated,
            !stated.empty() || own_cu ? where + ".sha256" : c.product_digest.place};
      }
      refs.Full(overlay, "cl", where);
      WarnOutsideAscii(overlay, where, &c.warnings);
      c.product_by_language[Lower(it.key())] = overlay;
    }
  }

  const json& flow = Object(doc, "flow", self);
  OnlyKeys(flow, prefix + "flow", {"m", "a"});
  Int32(flow, "m", prefix + "flow", true);
  if (flow.at("m").get<std::int64_t>() < 0) Fail(prefix + "flow.m", "must not be negative");
  String(flow, "a", prefix + "flow", false);
  c.flow = flow;

  if (doc.contains("country_by_language")) {
    const json& map = Object(doc, "country_by_language", self);
    for (auto it = map.begin(); it != map.end(); ++it) {
      const std::string where = prefix + "country_by_language." + it.key();
      if (!IsTwoLetters(it.key())) Fail(where, "expected a two-letter language code");
      if (!it->is_string() || !IsTwoLetters(it->get<std::string>())) {
        Fail(where, "expected a two-letter country code");
      }
      c.country_by_language[Lower(it.key())] = Upper(it->get<std::string>());
    }
  }

  if (doc.contains("offers")) {
    const json& offers = doc.at("offers");
    if (!offers.is_array()) Fail(prefix + "offers", "expected a list");
    std::set<std::string> ids;
    for (std::size_t i = 0; i < offers.size(); ++i) {
      const std::string where = prefix + "offers[" + std::to_string(i) + "]";
      const json& o = offers[i];
      if (!o.is_object()) Fail(where, "expected an object");
      OnlyKeys(o, where, {"package", "languages", "countries", "enabled"});
      Boolean(o, "enabled", where);
      if (!o.contains("package")) Fail(where, "missing \"package\"");
      CheckPackage(o.at("package"), where + ".package");
      Offer offer;
      offer.package = o.at("package");
      ExpandBase(offer.package, base_url);
      json& ps = offer.package.at("ps");
      const std::string stated = StatedDigest(ps, where + ".package.ps");
      if (!stated.empty()) ps["sha256"] = stated;
      offer.digest = {refs.Download(ps, where + ".package.ps"), stated,
                      where + ".package.ps.sha256"};
      refs.Image(ps, where + ".package.ps");
      for (auto it = ps.begin(); it != ps.end(); ++it) {
        if (!ReadAsUtf8(it.key())) {
          WarnOutsideAscii(*it, where + ".package.ps." + it.key(), &c.warnings);
        }
      }
      offer.id = offer.package.at("ad").at("o").get<std::string>();
      if (!ids.insert(offer.id).second) {
        Fail(where + ".package.ad.o", "offer id \"" + offer.id + "\" is used twice");
      }
      offer.languages = Codes(o, "languages", where, false);
      offer.countries = Codes(o, "countries", where, true);
      if (o.value("enabled", true)) c.offers.push_back(std::move(offer));
    }
  }
  return c;
}

const Campaign::Content& Campaign::For(const std::string& tag) const {
  auto it = by_tag_.find(tag);
  return it == by_tag_.end() ? base_ : it->second;
}

namespace {

// "sha256" as it goes out: the digest of the file as it is now for a file
// this service serves (none while the file is missing), else the stated one.
void PutDigest(json& obj, const std::optional<std::string>& served, const std::string& stated,
               const FileDigests* digests) {
  std::optional<std::string> digest;
  if (served) {
    if (digests) digest = digests->Sha256(*served);
  } else if (!stated.empty()) {
    digest = stated;
  }
  if (digest) {
    obj["sha256"] = *digest;
  } else {
    obj.erase("sha256");
  }
}

}  // namespace

json Campaign::Answer(const std::string& language, const std::string& country,
                      const std::string& tag, const FileDigests* digests) const {
  const Content& c = For(tag);
  json product = c.product;
  auto overlay = c.product_by_language.find(language);
  if (overlay != c.product_by_language.end()) {
    for (auto it = overlay->second.begin(); it != overlay->second.end(); ++it) {
      product[it.key()] = it.value();
    }
  }
  auto language_digest = c.product_digest_by_language.find(language);
  const Digest& product_digest = language_digest == c.product_digest_by_language.end()
                                     ? c.product_digest
                                     : language_digest->second;
  PutDigest(product, product_digest.served, product_digest.stated, digests);
  json offers = json::array();
  for (const Offer& o : c.offers) {
    if (!o.languages.empty() && !o.languages.count(language)) continue;
    if (!o.countries.empty() && !o.countries.count(country)) continue;
    json package = o.package;
    PutDigest(package.at("ps"), o.digest.served, o.digest.stated, digests);
    offers.push_back(std::move(package));
  }
  return json{{"i", product}, {"f", c.flow}, {"o", offers}, {"l", country}};
}

void Campaign::CheckDigests(const FileDigests& digests) const {
  std::vector<const Content*> all = {&base_};
  for (const auto& entry : by_tag_) all.push_back(&entry.second);
  auto check = [&](const Digest& d) {
    if (!d.served) return;
    // Also read now when nothing is stated, so the first answers wait for no file.
    const std::optional<std::string> actual = digests.Sha256(*d.served);
    if (actual && !d.stated.empty() && *actual != d.stated) {
      Fail(d.place, "the file /f/" + *d.served + " this service serves has the SHA-256 " +
                        *actual + ", not " + d.stated +
                        "; every wizard would refuse the download (leave \"sha256\" out for "
                        "files served here: it is computed)");
    }
  };
  for (const Content* c : all) {
    check(c->product_digest);
    for (const auto& entry : c->product_digest_by_language) check(entry.second);
    for (const Offer& o : c->offers) check(o.digest);
  }
}

std::string Campaign::CountryForLanguage(const std::string& language,
                                         const std::string& tag) const {
  const Content& c = For(tag);
  auto it = c.country_by_language.find(language);
  return it == c.country_by_language.end() ? std::string() : it->second;
}

std::vector<std::string> Campaign::ReferencedFiles() const {
  std::vector<std::string> out;
  std::set<std::string> seen;
  std::vector<const Content*> all = {&base_};
  for (const auto& entry : by_tag_) all.push_back(&entry.second);
  for (const Content* c : all) {
    for (const std::string& path : c->files) {
      if (seen.insert(path).second) out.push_back(path);
    }
  }
  return out;
}

std::vector<std::string> Campaign::Warnings() const {
  std::vector<std::string> out = base_.warnings;
  for (const auto& entry : by_tag_) {
    out.insert(out.end(), entry.second.warnings.begin(), entry.second.warnings.end());
  }
  return out;
}

Reply AnswerConfiguration(const Campaign& campaign, const std::string& body,
                          const std::string& country_hint, const std::string& default_country,
                          const FileDigests* digests) {
  json request = json::parse(body, nullptr, false);
  if (request.is_discarded()) return Reply::Text(400, "request body is not JSON");
  if (!request.is_object()) return Reply::Text(400, "request is not a JSON object");
  for (const char* k : {"a", "i", "l", "o", "plv", "prv", "s", "u"}) {
    if (request.contains(k) && !request.at(k).is_string()) {
      return Reply::Text(400, std::string("request key \"") + k + "\" is not a string");
    }
  }
  if (!request.contains("l")) return Reply::Text(400, "request has no language \"l\"");

  const std::string language = Lower(request.at("l").get<std::string>().substr(0, 2));
  const std::string tag = request.value("u", std::string());
  std::string country = IsTwoLetters(country_hint) ? Upper(country_hint)
                                                   : campaign.CountryForLanguage(language, tag);
  if (country.empty()) country = default_country;
  return Reply::Json(campaign.Answer(language, country, tag, digests).dump());
}

}  // namespace tamsel
