#include "LoadPackages.h"

#include "api/Package.h"
#include "api/PackageJson.h"
#include "config/ConfigurationManager.h"
#include "eligibility/OfferFilter.h"
#include "eligibility/OfferSelection.h"
#include "util/Text.h"

namespace {

using json = nlohmann::json;

// Product texts arrive as narrow text in the machine's code page.
std::wstring Wide(const std::string& text) { return AnsiToWide(text, CP_ACP); }

std::string OptionalString(const json& object, const char* key, const std::string& fallback = std::string()) {
    const auto found = object.find(key);
    return found == object.end() ? fallback : found->get<std::string>();
}

}  // namespace

LoadOutcome ReadConfigurationAnswer(const json& answer, ConfigurationManager& config, const LoadFactories& make) {
    LoadOutcome outcome;
    const bool isObject = answer.is_object();
    if (isObject && answer.contains("l")) config.remoteL = answer.at("l").get<std::string>();

    if (config.wizardType == kWizardTypeDlm) {
        const json& product = answer.at("i");
        if (!product.is_object()) throw json::type_error::create(302, "\"i\" is not an object", &product);
        const std::string title = product.at("ct").get<std::string>();
        const std::string url = product.at("cu").get<std::string>();
        if (title.empty() || url.empty()) {
            outcome.configurationError = true;
            return outcome;
        }
        config.productTitle = Wide(title);
        config.productUrl = Wide(url);
        config.productLogoUrl = Wide(OptionalString(product, "cl"));
        config.productFileName = Wide(OptionalString(product, "cf", title + ".exe"));
        config.productPrivacyUrl = Wide(OptionalString(product, "cp"));
        config.productTermsUrl = Wide(OptionalString(product, "ctu"));
        config.productCh = Wide(OptionalString(product, "ch"));
        config.productCfl = Wide(OptionalString(product, "cfl"));
        config.productCb = OptionalString(product, "cb");
        config.productSha256 = packagejson::OptionalSha256(product);
    }

    if (isObject && answer.contains("f")) {
        const json& flow = answer.at("f");
        if (flow.is_object() && flow.contains("a")) config.remoteFa = flow.at("a").get<std::string>();
    }

    // "00xA" in the product block switches offers off.
    if (!isObject || !answer.contains("o") || config.productCh == L"00xA") return outcome;

    config.maxOffers = answer.at("f").at("m").get<int32_t>();
    const std::unique_ptr<OfferFilter> filter = make.filter(config.maxOffers);
    int packageCount = config.packageCount;
    outcome.offers = SelectOffers(answer.at("o"), *filter, make.package, packageCount);
    config.packageCount = packageCount;
    return outcome;
}
