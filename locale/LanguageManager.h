#pragma once
#include <windows.h>

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "LocaleTexts.h"
#include "config/ConfigurationManager.h"

namespace tinyxml2 { class XMLDocument; }
class TranslatablePage;

// The language of a locale document's name ("de", "pt_BR"); neutral for "".
LANGID LanguageIdOfLocale(const std::wstring& code);

// Lists the locale documents of the wizard type, loads the chosen language
// into a key -> text table and re-translates every live page on a change.
class LanguageManager {
public:
    // config: the wizard type picks the locale documents; the chosen
    // language is stored there.
    explicit LanguageManager(std::shared_ptr<ConfigurationManager> config, MessageSink showMessage = MessageBoxSink(),
                             HMODULE module = nullptr);

    std::vector<int> GetLocaleResourceIds();
    void FillLanguageList(HWND combo);
    bool SetLanguage(const std::wstring& displayName);
    std::wstring Translate(const std::string& key) const;
    void RegisterPage(TranslatablePage* page);
    void UnregisterPage(TranslatablePage* page);
    static std::wstring GetNativeLanguageName(const std::wstring& code);

    const LocaleTexts& Texts() const { return texts; }
    const std::vector<TranslatablePage*>& RegisteredPages() const { return registeredPages; }

    std::shared_ptr<ConfigurationManager> Config() const;

private:
    // localeCode "" finds the document as the system picks it; otherwise the
    // document of that locale's language (resource 120 exists in several).
    HRSRC FindDocument(int id, const std::wstring& localeCode) const;
    bool LoadDocument(int id, tinyxml2::XMLDocument& document, const std::wstring& localeCode = std::wstring());
    bool LoadTexts(const tinyxml2::XMLDocument& document);
    void ShowParseError(const std::string& detail);

    std::unordered_map<std::wstring, int> resourceIdsByName;
    std::unordered_map<std::wstring, std::wstring> codesByName;
    std::vector<TranslatablePage*> registeredPages;
    LocaleTexts texts;

    std::shared_ptr<ConfigurationManager> config_;
    MessageSink showMessage_;
    HMODULE module_;
};
