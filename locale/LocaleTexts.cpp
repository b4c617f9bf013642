#include "LocaleTexts.h"

#include <tinyxml2.h>

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

struct Expansion {
    size_t end;        // one past the inserted text
    std::string name;  // the key whose text was inserted
};

void ResolveEntry(const std::string& ownKey, std::string& value, const LocaleTexts& texts) {
    // Expansions whose inserted text encloses the scan position, outermost
    // first; the entry itself is the outermost of all.
    std::vector<Expansion> active{{std::string::npos, ownKey}};
    size_t pos = 0;
    for (;;) {
        const size_t open = value.find('{', pos);
        if (open == std::string::npos) return;
        const size_t close = value.find('}', open + 1);
        if (close == std::string::npos) return;
        while (active.size() > 1 && active.back().end <= open) active.pop_back();

        const std::string name = value.substr(open + 1, close - open - 1);
        const auto found = texts.find(name);
        bool cycle = false;
        for (const auto& e : active) cycle = cycle || e.name == name;
        const std::string& replacement = found == texts.end() ? name : found->second;
        const size_t written = close - open + 1;
        if (found == texts.end() || cycle || value.size() - written + replacement.size() > kMaxResolvedText) {
            pos = close + 1;
            continue;
        }
        value.replace(open, written, replacement);
        const size_t insertedEnd = open + replacement.size();
        for (size_t i = 1; i < active.size(); ++i) {
            // Enclosing expansions shift with the text; one that the reference
            // straddled now ends no earlier than the inserted text.
            size_t shifted = active[i].end - written + replacement.size();
            if (active[i].end < close + 1) shifted = insertedEnd;
            active[i].end = shifted < insertedEnd ? insertedEnd : shifted;
        }
        active.push_back({insertedEnd, name});
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
