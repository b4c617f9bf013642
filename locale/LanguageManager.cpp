#include "LanguageManager.h"

#include <tinyxml2.h>

#include <algorithm>

#include "TranslatablePage.h"
#include "util/ResourceBytes.h"
#include "util/Text.h"

namespace {

constexpr int kBtExtraTextsId = 120;
constexpr int kNameBuffer = 85;

}  // namespace

LanguageManager::LanguageManager(std::shared_ptr<ConfigurationManager> config, MessageSink showMessage,
                                 HMODULE module)
    : config_(std::move(config)), showMessage_(std::move(showMessage)),
      module_(module ? module : ::GetModuleHandleW(nullptr)) {}

std::shared_ptr<ConfigurationManager> LanguageManager::Config() const {
    return config_;
}

std::vector<int> LanguageManager::GetLocaleResourceIds() {
    switch (Config()->wizardType) {
    case kWizardTypeDlm:
        return {105, 106, 107, 108, 109, 110, 111, 112, 113, 114, 115, 116, 117, 118};
    case kWizardTypeIsv:
        return {101, 102};
    default:
        if (showMessage_) showMessage_(L"Unknown wizard type (language manager");
        return {};
    }
}

std::wstring LanguageManager::GetNativeLanguageName(const std::wstring& code) {
    wchar_t name[kNameBuffer] = {};
    if (::GetLocaleInfoEx(code.c_str(), LOCALE_SNATIVELANGUAGENAME, name, kNameBuffer) > 0) return name;
    // "en_US" and "pt_BR" are no system locale names; their language code is.
    if (code.size() > 2 &&
        ::GetLocaleInfoEx(code.substr(0, 2).c_str(), LOCALE_SNATIVELANGUAGENAME, name, kNameBuffer) > 0)
        return name;
    return code;
}

void LanguageManager::ShowParseError(const std::string& detail) {
    if (showMessage_)
        showMessage_(L"Failed to parse language xml file, error code: " + AnsiToWide(detail, CP_ACP));
}

LANGID LanguageIdOfLocale(const std::wstring& code) {
    std::wstring name = code;
    std::replace(name.begin(), name.end(), L'_', L'-');  // "pt_BR" is "pt-BR" to the system
    if (name.empty()) return MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);
    return LANGIDFROMLCID(::LocaleNameToLCID(name.c_str(), 0));
}

HRSRC LanguageManager::FindDocument(int id, const std::wstring& localeCode) const {
    if (localeCode.empty()) return ::FindResourceW(module_, MAKEINTRESOURCEW(id), L"LOCALE");
    // Exactly the locale's language ("pt-BR"), else its language in general
    // ("de" for "de-AT"), else the neutral document, which is English.
    const LANGID language = LanguageIdOfLocale(localeCode);
    const LANGID candidates[] = {language, MAKELANGID(PRIMARYLANGID(language), SUBLANG_NEUTRAL),
                                 MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL)};
    for (const LANGID candidate : candidates)
        if (HRSRC found = ::FindResourceExW(module_, L"LOCALE", MAKEINTRESOURCEW(id), candidate)) return found;
    return ::FindResourceW(module_, MAKEINTRESOURCEW(id), L"LOCALE");
}

bool LanguageManager::LoadDocument(int id, tinyxml2::XMLDocument& document, const std::wstring& localeCode) {
    HRSRC found = FindDocument(id, localeCode);
    if (!found) {
        if (showMessage_) showMessage_(L"Failed to find resource with id: " + std::to_wstring(id));
        return false;
    }
    const ResourceBytes resource = LoadResourceBytes(module_, found);
    if (!resource.data) {
        if (showMessage_) showMessage_(L"Failed to load resource with id: " + std::to_wstring(id));
        return false;
    }
    document.Clear();
    if (resource.size != 0 && resource.data[0] != 0) {
        // A terminated copy of the resource.
        const std::string text(reinterpret_cast<const char*>(resource.data), resource.size);
        document.Parse(text.c_str(), text.size());
    } else {
        document.Parse("", 0);  // the parser's own "empty document" error
    }
    if (document.Error()) {
        const std::string error = document.ErrorStr() ? document.ErrorStr() : "";
        document.Clear();
        ShowParseError(error);
        return false;
    }
    return true;
}

bool LanguageManager::LoadTexts(const tinyxml2::XMLDocument& document) {
    if (!document.FirstChildElement("Locale")) {
        ShowParseError("No Locale element");
        return false;
    }
    texts.clear();
    const auto config = Config();
    texts["PRODUCT_TITLE"] = WideToUtf8(config->productTitle);
    if (config->btFlow) {
        // The flow's texts in the language of the document being loaded.
        const char* code = document.FirstChildElement("Locale")->Attribute("name");
        tinyxml2::XMLDocument extra;
        if (LoadDocument(kBtExtraTextsId, extra, AnsiToWide(code ? code : "", CP_ACP)))
            ReadTopLevelElements(extra, texts);
    }
    const LocaleLoadResult result = ReadLocaleElements(document, texts);
    if (!result.ok) ShowParseError(result.error);
    return result.ok;
}

void LanguageManager::FillLanguageList(HWND combo) {
    const std::vector<int> ids = GetLocaleResourceIds();
    resourceIdsByName.clear();
    codesByName.clear();
    ::SendMessageW(combo, CB_RESETCONTENT, 0, 0);
    LRESULT selected = 0;

    std::wstring defaultName;
    wchar_t locale[kNameBuffer] = {};
    if (::GetUserDefaultLocaleName(locale, kNameBuffer) > 0) defaultName = GetNativeLanguageName(locale);
    if (defaultName.empty()) defaultName = L"English";

    for (const int id : ids) {
        tinyxml2::XMLDocument document;
        if (!LoadDocument(id, document)) continue;
        const tinyxml2::XMLElement* root = document.FirstChildElement("Locale");
        if (!root) continue;
        const char* name = root->Attribute("name");
        if (!name) {
            ShowParseError("No name attribute");
            continue;
        }
        const std::wstring code = AnsiToWide(name, CP_ACP);
        const std::wstring display = GetNativeLanguageName(code);
        if (display == defaultName) selected = ::SendMessageW(combo, CB_GETCOUNT, 0, 0);
        ::SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(display.c_str()));
        resourceIdsByName[display] = id;
        codesByName[display] = code;
    }
    ::SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
    if (Config()->btFlow) ::ShowWindow(combo, SW_HIDE);
}

bool LanguageManager::SetLanguage(const std::wstring& displayName) {
    const auto id = resourceIdsByName.find(displayName);
    if (id == resourceIdsByName.end()) return false;
    tinyxml2::XMLDocument document;
    if (!LoadDocument(id->second, document)) return false;
    LoadTexts(document);
    // A copy: a page's ApplyTexts must not invalidate the walk.
    const std::vector<TranslatablePage*> pages = registeredPages;
    for (TranslatablePage* page : pages) page->ApplyTexts();
    const auto config = Config();
    config->languageName = displayName;
    const auto code = codesByName.find(displayName);
    config->languageCode = code == codesByName.end() ? std::wstring() : code->second;
    return true;
}

std::wstring LanguageManager::Translate(const std::string& key) const {
    const auto found = texts.find(key);
    if (found == texts.end() || found->second.empty()) return std::wstring();
    std::wstring text = Utf8ToWide(found->second);
    const size_t nul = text.find(L'\0');
    if (nul != std::wstring::npos) text.resize(nul);
    return text;
}

void LanguageManager::RegisterPage(TranslatablePage* page) { registeredPages.push_back(page); }

void LanguageManager::UnregisterPage(TranslatablePage* page) {
    registeredPages.erase(std::remove(registeredPages.begin(), registeredPages.end(), page), registeredPages.end());
}
