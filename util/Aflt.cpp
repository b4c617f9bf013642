#include "Aflt.h"

#include <unordered_map>

std::string AfltForCountry(const std::string& code) {
    // Built once; a function-local static is safe under concurrent first use.
    static const std::unordered_map<std::string, std::string> table = [] {
        const struct {
            const char* aflt;
            const char* codes[34];
        } groups[] = {
            {"91088", {"US"}},
            {"91166", {"CA"}},
            {"91199", {"BR"}},
            {"91214", {"AU", "NZ", "KR"}},
            {"91105", {"DZ", "BG", "CY", "CZ", "EG", "GR", "HU", "IE", "IL", "KW", "MA", "PL",
                       "PT", "QA", "RO", "RU", "SA", "SK", "ZA", "TN", "TR", "UA", "AE"}},
            {"91215", {"TH", "MX", "PH", "AR", "VN", "TW", "PE", "CL", "CO", "VE", "RS",
                       "LK", "DO", "JO", "HK", "LT", "PS", "HR", "CR", "BA", "SV", "GE",
                       "MD", "AL", "UY", "BY", "LB", "SN", "PA", "LV", "ID", "PK", "SG"}},
        };
        std::unordered_map<std::string, std::string> m;
        for (const auto& g : groups)
            for (const char* c : g.codes)
                if (c) m.emplace(c, g.aflt);
        return m;
    }();
    const auto it = table.find(code);
    return it == table.end() ? "91082" : it->second;
}

