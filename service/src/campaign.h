#pragma once

#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "reply.h"

namespace tamsel {

// A campaign file that cannot be used; the text names the place in the file.
struct CampaignError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// What the configuration endpoint answers: the product, the flow settings and
// the offers, chosen per request by language and country.
class Campaign {
 public:
  // base_url replaces "{{base}}" in every text of the product and the offers.
  static Campaign FromFile(const std::string& path, const std::string& base_url);
  static Campaign FromJson(const nlohmann::json& doc, const std::string& base_url);

  // The configuration document for a two-letter language and a country code.
  nlohmann::json Answer(const std::string& language, const std::string& country) const;

  // The campaign's country for a language, "" when it names none.
  std::string CountryForLanguage(const std::string& language) const;

  // Paths under the file endpoint that the answers point at (offer images,
  // relative download paths), so a missing file is noticed at start.
  std::vector<std::string> ReferencedFiles() const;

  std::size_t OfferCount() const { return offers_.size(); }

 private:
  struct Offer {
    std::string id;
    std::set<std::string> languages;  // lower case; empty: every language
    std::set<std::string> countries;  // upper case; empty: every country
    nlohmann::json package;
  };

  nlohmann::json product_;
  std::map<std::string, nlohmann::json> product_by_language_;
  nlohmann::json flow_;
  std::vector<Offer> offers_;
  std::map<std::string, std::string> country_by_language_;
};

// Answers a configuration request body. country_hint is the per-request
// override (empty when the client gave none).
Reply AnswerConfiguration(const Campaign& campaign, const std::string& body,
                          const std::string& country_hint, const std::string& default_country);

}  // namespace tamsel
