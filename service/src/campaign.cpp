#include "campaign.h"

#include <cctype>
#include <climits>
#include <fstream>
#include <sstream>

namespace tamsel {
namespace {

using nlohmann::json;

const char kBasePlaceholder[] = "{{base}}";

// Keys of the product block the wizard reads; the first two are required.
const char* const kProductKeys[] = {"ct", "cu", "cl", "cf", "cp", "ctu", "ch", "cfl", "cb"};

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
  for (const char* k : {"p", "cp", "ctu", "c", "pv"}) String(ps, k, w, false);
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

bool IsAbsoluteUrl(const std::string& s) {
  return s.rfind("http://", 0) == 0 || s.rfind("https://", 0) == 0;
}

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

  const json& product = Object(doc, "product", self);
  {
    json base = product;
    base.erase("by_language");
    CheckProductFields(base, prefix + "product", true);
    OnlyKeys(base, prefix + "product", {"ct", "cu", "cl", "cf", "cp", "ctu", "ch", "cfl", "cb"});
    ExpandBase(base, base_url);
    c.product = base;
  }
  if (product.contains("by_language")) {
    const json& by = Object(product, "by_language", prefix + "product");
    for (auto it = by.begin(); it != by.end(); ++it) {
      const std::string where = prefix + "product.by_language." + it.key();
      if (!IsTwoLetters(it.key())) Fail(where, "expected a two-letter language code");
      CheckProductFields(it.value(), where, false);
      OnlyKeys(it.value(), where, {"ct", "cu", "cl", "cf", "cp", "ctu", "ch", "cfl", "cb"});
      json overlay = it.value();
      ExpandBase(overlay, base_url);
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

json Campaign::Answer(const std::string& language, const std::string& country,
                      const std::string& tag) const {
  const Content& c = For(tag);
  json product = c.product;
  auto overlay = c.product_by_language.find(language);
  if (overlay != c.product_by_language.end()) {
    for (auto it = overlay->second.begin(); it != overlay->second.end(); ++it) {
      product[it.key()] = it.value();
    }
  }
  json offers = json::array();
  for (const Offer& o : c.offers) {
    if (!o.languages.empty() && !o.languages.count(language)) continue;
    if (!o.countries.empty() && !o.countries.count(country)) continue;
    offers.push_back(o.package);
  }
  return json{{"i", product}, {"f", c.flow}, {"o", offers}, {"l", country}};
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
  auto add = [&](const std::string& path) {
    if (seen.insert(path).second) out.push_back(path);
  };
  std::vector<const Content*> all = {&base_};
  for (const auto& entry : by_tag_) all.push_back(&entry.second);
  for (const Content* c : all) {
    for (const Offer& o : c->offers) {
      const json& ps = o.package.at("ps");
      add(ps.at("i").get<std::string>());
      const std::string& u = ps.at("u").get_ref<const std::string&>();
      if (!IsAbsoluteUrl(u)) add(u);
    }
    const std::string& cu = c->product.at("cu").get_ref<const std::string&>();
    if (!IsAbsoluteUrl(cu)) add(cu);
  }
  return out;
}

Reply AnswerConfiguration(const Campaign& campaign, const std::string& body,
                          const std::string& country_hint, const std::string& default_country) {
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
  return Reply::Json(campaign.Answer(language, country, tag).dump());
}

}  // namespace tamsel
