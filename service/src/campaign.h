#pragma once

#include <map>
#include <optional>
#include <nlohmann/json.hpp>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "files.h"
#include "reply.h"

namespace tamsel {

// A campaign file that cannot be used; the text names the place in the file.
struct CampaignError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// What the configuration endpoint answers: the product, the flow settings and
// the offers, chosen per request by language and country. A campaign may hold
// further whole campaigns by download tag ("by_tag"); a request whose "u"
// names one of them is answered from it.
class Campaign {
 public:
  // base_url replaces "{{base}}" in every text of the product and the
  // offers; the file paths given relative go out under base_url + "/f/" where
  // the wizard needs a full URL (see campaign.cpp).
  static Campaign FromFile(const std::string& path, const std::string& base_url);
  static Campaign FromJson(const nlohmann::json& doc, const std::string& base_url);

  // The configuration document for a two-letter language, a country code and
  // the request's download tag ("" or a tag without a campaign: the base one).
  // digests gives "sha256" to the downloads this service serves itself.
  nlohmann::json Answer(const std::string& language, const std::string& country,
                        const std::string& tag = "", const FileDigests* digests = nullptr) const;

  // A "sha256" the campaign states for a file this service serves must be
  // that file's: throws CampaignError naming the place otherwise. Reads
  // every such file once, so the first answers need not.
  void CheckDigests(const FileDigests& digests) const;

  // The country the tag's campaign names for a language, "" when it names none.
  std::string CountryForLanguage(const std::string& language, const std::string& tag = "") const;

  // Paths under the file endpoint that the answers point at (offer images,
  // the paths the campaign gives relative), of every campaign, each once, so
  // a missing file is noticed at start.
  std::vector<std::string> ReferencedFiles() const;

  // What the wizard may not read as the campaign meant it (texts outside
  // ASCII, addresses it would fetch from elsewhere), each naming its place.
  std::vector<std::string> Warnings() const;

  // Offers of the base campaign, and the number of tagged campaigns.
  std::size_t OfferCount() const { return base_.offers.size(); }
  std::size_t TagCount() const { return by_tag_.size(); }

  // A tag as the wizard takes it from its file name and sends it: 7
  // characters with a "-", printable ASCII, none that a file name cannot hold
  // and no "_" (the tag is what follows the name's last "_").
  static bool IsDownloadTag(const std::string& tag);

 private:
  // Where a download's "sha256" comes from.
  struct Digest {
    std::optional<std::string> served;  // the file under /f/ it reaches
    std::string stated;                 // the campaign's own, lower case
    std::string place;                  // for mistakes
  };

  struct Offer {
    std::string id;
    Digest digest;
    std::set<std::string> languages;  // lower case; empty: every language
    std::set<std::string> countries;  // upper case; empty: every country
    nlohmann::json package;
  };

  // One campaign: the base one, or one of a tag.
  struct Content {
    nlohmann::json product;
    std::map<std::string, nlohmann::json> product_by_language;
    Digest product_digest;                               // of "cu"
    std::map<std::string, Digest> product_digest_by_language;  // where a language changes it
    nlohmann::json flow;
    std::vector<Offer> offers;
    std::map<std::string, std::string> country_by_language;
    std::vector<std::string> files;     // relative paths as written
    std::vector<std::string> warnings;
  };

  // prefix goes before every place named in a mistake ("" or "by_tag.TAG.").
  static Content Parse(const nlohmann::json& doc, const std::string& base_url,
                       const std::string& prefix);
  const Content& For(const std::string& tag) const;

  Content base_;
  std::map<std::string, Content> by_tag_;
};

// Answers a configuration request body. country_hint is the per-request
// override (empty when the client gave none).
Reply AnswerConfiguration(const Campaign& campaign, const std::string& body,
                          const std::string& country_hint, const std::string& default_country,
                          const FileDigests* digests = nullptr);

}  // namespace tamsel
