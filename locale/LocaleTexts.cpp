#include "LocaleTexts.h"

#include <tinyxml2.h>

#include <unordered_map>
#include <vector>

namespace {

// First text child of an element, comments skipped; null when the element is
// empty or starts with other markup.
const char* FirstText(const tinyxml2::XMLElement& element) {
    for (const tinyxml2::XMLNode* node = element.FirstChild(); node; node = node->NextSibling()) {
        if (node->ToComment()) continue;
        const tinyxml2::XMLText* text = node->ToText();
        return text ? text->Value() : nullptr;
    }
    return nullptr;
}

// An inserted text, by the number of characters that follow it: a replacement
// that lies wholly inside leaves that number alone, so enclosing expansions
// need no update as the text grows.
struct Expansion {
    size_t after;
    const std::string* name;
};

void ResolveEntry(const std::string& ownKey, std::string& value, const LocaleTexts& texts) {
    // Expansions whose inserted text encloses the scan position, innermost
    // last, and how often each key is among them (a key there is a cycle).
    std::vector<Expansion> active;
    std::unordered_map<std::string, int> open_;
    open_[ownKey] = 1;
    auto endOf = [&value](const Expansion& e) { return value.size() - e.after; };
    size_t pos = 0;
    for (;;) {
        const size_t open = value.find('{', pos);
        if (open == std::string::npos) return;
        const size_t close = value.find('}', open + 1);
        if (close == std::string::npos) return;
        while (!active.empty() && endOf(active.back()) <= open) {
            --open_[*active.back().name];
            active.pop_back();
        }

        const auto found = texts.find(value.substr(open + 1, close - open - 1));
        const size_t written = close - open + 1;
        if (found == texts.end() || open_[found->first] > 0 ||
            value.size() - written + found->second.size() > kMaxResolvedText) {
            pos = close + 1;
            continue;
        }
        // Expansions that the reference straddles ("{" inside, "}" after
        // them) end where the inserted text ends; they are the innermost.
        size_t straddling = active.size();
        while (straddling > 0 && endOf(active[straddling - 1]) < close + 1) --straddling;
        value.replace(open, written, found->second);
        const size_t after = value.size() - (open + found->second.size());
        for (size_t i = straddling; i < active.size(); ++i) active[i].after = after;
        active.push_back({after, &found->first});
        ++open_[found->first];
        pos = open;
    }
}

}  // namespace

void ResolveReferences(LocaleTexts& texts) {
    for (auto& [key, value] : texts) {
        // Work on a copy: the entry's own value is what a reference to it sees.
        std::string resolved = value;
        ResolveEntry(key, resolved, texts);
        value = std::move(resolved);
    }
}

LocaleLoadResult ReadLocaleElements(const tinyxml2::XMLDocument& document, LocaleTexts& texts) {
    const tinyxml2::XMLElement* root = document.FirstChildElement("Locale");
    if (!root) return {false, "No Locale element"};
    for (const tinyxml2::XMLElement* e = root->FirstChildElement(); e; e = e->NextSiblingElement()) {
        const char* text = FirstText(*e);
        if (!text) return {false, "No name or text attribute"};
        texts[e->Name()] = text;
    }
    ResolveReferences(texts);
    return {true, std::string()};
}

void ReadTopLevelElements(const tinyxml2::XMLDocument& document, LocaleTexts& texts) {
    for (const tinyxml2::XMLElement* e = document.FirstChildElement(); e; e = e->NextSiblingElement()) {
        const char* text = FirstText(*e);
        texts[e->Name()] = text ? text : "";
    }
}
