#include "LocaleTexts.h"

#include <tinyxml2.h>

#include <cstddef>

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

// Work a single entry may take while it is resolved, in characters written
// or compared: texts that expand without end (a remote product title may
// refer to itself), or only after an astronomical number of steps, stop here
// long before they could hold up the window.
constexpr size_t kMaxResolutionWork = size_t{1} << 24;

// Resolves one value as the scan is defined: the reference at the next "{" is
// replaced and the scan goes on at that "{". Where that scan ends, the result
// is its result. Where it would not end, it is stopped: a reference that
// stands for exactly itself is passed over, a replacement that would grow the
// text past kMaxResolvedText is passed over, a scan that comes back to a
// state it was in (text and position) stops there, and so does one that has
// done kMaxResolutionWork of work.
void ResolveEntry(std::string& value, const LocaleTexts& texts) {
    // The scan never goes back before its position, so the text is held as
    // what lies before it (`done`, which only grows) and what lies from it on,
    // reversed (`rest`, whose back is the position): a replacement then costs
    // what it writes, not the length of the text.
    std::string done;
    std::string rest(value.rbegin(), value.rend());
    const auto finish = [&] {
        done.append(rest.rbegin(), rest.rend());
        value = std::move(done);
    };
    size_t work = 0;
    // Brent's cycle detection over the state: compared with a state saved at
    // growing intervals, a repeated one is found within twice the cycle's
    // length. `done` only grows, so its length stands for it.
    size_t savedDone = 0;
    std::string savedRest = rest;
    size_t interval = 1;
    size_t sinceSaved = 0;
    for (;;) {
        const size_t open = rest.rfind('{');
        if (open == std::string::npos) return finish();
        done.append(rest.rbegin(), rest.rend() - static_cast<std::ptrdiff_t>(open) - 1);
        rest.resize(open + 1);
        const size_t close = rest.rfind('}', open);
        if (close == std::string::npos) return finish();
        const size_t written = open - close + 1;
        const std::string name(rest.rbegin() + 1, rest.rbegin() + static_cast<std::ptrdiff_t>(written) - 1);
        const auto found = texts.find(name);
        const bool standsForItself = found != texts.end() && found->second.size() == written &&
                                     found->second.compare(1, name.size(), name) == 0 &&
                                     found->second.front() == '{' && found->second.back() == '}';
        if (found == texts.end() || standsForItself ||
            done.size() + rest.size() - written + found->second.size() > kMaxResolvedText) {
            done.append(rest.rbegin(), rest.rbegin() + static_cast<std::ptrdiff_t>(written));
            rest.resize(close);
            continue;
        }
        rest.resize(close);
        rest.append(found->second.rbegin(), found->second.rend());
        work += found->second.size() + 1;
        if (done.size() == savedDone && rest.size() == savedRest.size()) {
            work += rest.size();
            if (rest == savedRest) return finish();
        }
        if (++sinceSaved == interval) {
            savedRest = rest;
            savedDone = done.size();
            work += rest.size();
            interval *= 2;
            sinceSaved = 0;
        }
        if (work > kMaxResolutionWork) return finish();
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
