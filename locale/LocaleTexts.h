#pragma once
#include <map>
#include <string>

namespace tinyxml2 { class XMLDocument; }

using LocaleTexts = std::map<std::string, std::string>;  // key -> UTF-8 text, sorted by key

// Replaces every "{NAME}" whose NAME is a key of the table by that key's text,
// entry by entry in key order, rescanning inserted text so that chains resolve
// fully. Where that scan ends, its result is kept as it is, stray braces and
// all; a scan that would not end (a cycle, runaway growth past
// kMaxResolvedText) is stopped, so no text can make the expansion endless.
void ResolveReferences(LocaleTexts& texts);
constexpr size_t kMaxResolvedText = 1 << 20;

// Outcome of reading a "Locale" document into a table.
struct LocaleLoadResult {
    bool ok = false;
    std::string error;  // "No Locale element", "No name or text attribute"
};

// Texts of a "Locale" document: every child element's name and its first text
// (comments skipped). Stops at the first element without text, keeping what
// was read so far unresolved. References are resolved when all is read.
LocaleLoadResult ReadLocaleElements(const tinyxml2::XMLDocument& document, LocaleTexts& texts);
// Every top-level element of a document as key and text (the BT extra texts).
void ReadTopLevelElements(const tinyxml2::XMLDocument& document, LocaleTexts& texts);
