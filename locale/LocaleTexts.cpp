#include "LocaleTexts.h"

#include <tinyxml2.h>

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

// Characters a single entry may write while it is resolved: texts that
// expand without end (a remote product title may refer to itself) stop here
// long before they could hold up the window.
constexpr size_t kMaxResolutionWork = size_t{1} << 24;

// Resolves one value as the scan is defined: the reference at the next "{" is
// replaced and the scan goes on at that "{". Where that scan ends, the result
// is its result. Where it would not end, it is stopped: a reference that
// stands for exactly itself is passed over, a replacement that would grow the
// text past kMaxResolvedText is passed over, a scan that comes back to a
// state it was in (text and position) stops there, and so does one that has
// written kMaxResolutionWork characters.
void ResolveEntry(std::string& value, const LocaleTexts& texts) {
    size_t pos = 0;
    size_t work = 0;
    // Brent's cycle detection over (text, position): compared with a state
    // saved at growing intervals, a repeated state is found within twice the
    // cycle's length.
    std::string savedValue = value;
    size_t savedPos = pos;
    size_t interval = 1;
    size_t sinceSaved = 0;
    for (;;) {
        const size_t open = value.find('{', pos);
        if (open == std::string::npos) return;
        const size_t close = value.find('}', open + 1);
        if (close == std::string::npos) return;
        const size_t written = close - open + 1;
        const auto found = texts.find(value.substr(open + 1, written - 2));
        const bool standsForItself =
            found != texts.end() && found->second.size() == written && value.compare(open, written, found->second) == 0;
        if (found == texts.end() || standsForItself ||
            value.size() - written + found->second.size() > kMaxResolvedText) {
            pos = close + 1;
            continue;
        }
        value.replace(open, written, found->second);
        pos = open;
        work += value.size();
        if (work > kMaxResolutionWork) return;
        if (pos == savedPos && value == savedValue) return;
        if (++sinceSaved == interval) {
            savedValue = value;
            savedPos = pos;
            interval *= 2;
            sinceSaved = 0;
        }
    }
}

}  // namespace

void ResolveReferences(LocaleTexts& texts) {
    for (auto& entry : texts) {
        // Work on a copy: the entry's own value is what a reference to it sees.
        std::string resolved = entry.second;
        ResolveEntry(resolved, texts);
        entry.second = std::move(resolved);
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
