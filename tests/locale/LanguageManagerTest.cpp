#include <gtest/gtest.h>

#include <tinyxml2.h>

#include <map>
#include <memory>
#include <set>

#include "common/TestEnvironment.h"
#include "config/ConfigurationManager.h"
#include "locale/LanguageManager.h"
#include "locale/TranslatablePage.h"
#include "util/Handles.h"
#include "util/ResourceBytes.h"
#include "util/Text.h"

namespace {

const int kDlmIds[] = {105, 106, 107, 108, 109, 110, 111, 112, 113, 114, 115, 116, 117, 118};
const char* const kDlmCodes[] = {"en_US", "es", "pt_BR", "pl", "cs", "da", "de",
                                 "fi",    "fr", "it",    "nl", "pl", "ru", "tr"};

// A language manager over this program's locale resources, with a
// configuration of its own and every message recorded instead of shown.
struct Fixture {
    std::shared_ptr<ConfigurationManager> config;
    std::vector<std::wstring> messages;
    std::shared_ptr<LanguageManager> manager;
    HWND combo = nullptr;

    explicit Fixture(int wizardType, bool btFlow = false)
        : config(std::make_shared<ConfigurationManager>("none", nullptr)) {
        config->wizardType = wizardType;
        config->btFlow = btFlow;
        manager = std::make_shared<LanguageManager>(
            config, [this](const std::wstring& text) { messages.push_back(text); });
        // A combo box needs a parent to report to.
        parent = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 0, 0, 300, 300, nullptr, nullptr,
                                   nullptr, nullptr);
        combo = ::CreateWindowExW(0, L"COMBOBOX", L"", CBS_DROPDOWNLIST | WS_VSCROLL | WS_CHILD | WS_VISIBLE, 0, 0,
                                  200, 200, parent, nullptr, nullptr, nullptr);
    }
    ~Fixture() { ::DestroyWindow(parent); }
    HWND parent = nullptr;

    std::vector<std::wstring> Items() const {
        std::vector<std::wstring> items;
        const LRESULT n = ::SendMessageW(combo, CB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < n; ++i) {
            wchar_t text[128] = {};
            ::SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
            items.push_back(text);
        }
        return items;
    }
    std::wstring Selected() const {
        const LRESULT i = ::SendMessageW(combo, CB_GETCURSEL, 0, 0);
        return i < 0 ? std::wstring() : Items().at(static_cast<size_t>(i));
    }
};

std::set<std::string> Keys(const LocaleTexts& texts) {
    std::set<std::string> keys;
    for (const auto& entry : texts) keys.insert(entry.first);
    return keys;
}

class RecordingPage : public TranslatablePage {
public:
    explicit RecordingPage(std::vector<std::string>& log, std::string name) : log_(log), name_(std::move(name)) {}
    void ApplyTexts() override { log_.push_back(name_); }

private:
    std::vector<std::string>& log_;
    std::string name_;
};

}  // namespace

TEST(LanguageManager, DownloadManagerListsFourteenDocuments) {
    Fixture f(1);
    f.manager->FillLanguageList(f.combo);
    ASSERT_NE(f.combo, nullptr);
    for (const auto& m : f.messages) ADD_FAILURE() << WideToUtf8(m);
    const auto items = f.Items();
    ASSERT_EQ(items.size(), 14u);
    for (size_t i = 0; i < items.size(); ++i)
        EXPECT_EQ(items[i], LanguageManager::GetNativeLanguageName(AnsiToWide(kDlmCodes[i], CP_ACP))) << i;
    EXPECT_EQ(items[0], LanguageManager::GetNativeLanguageName(L"en"));
    EXPECT_EQ(items[6], L"Deutsch");
    EXPECT_EQ(items[3], items[11]) << "the Polish document is listed twice";
    EXPECT_EQ(f.manager->GetLocaleResourceIds(), std::vector<int>(std::begin(kDlmIds), std::end(kDlmIds)));
}

TEST(LanguageManager, EveryDocumentHasTheKeysOfItsEnglishOne) {
    for (const int type : {1, 2}) {
        Fixture f(type);
        f.manager->FillLanguageList(f.combo);
        const auto items = f.Items();
        ASSERT_FALSE(items.empty());
        ASSERT_TRUE(f.manager->SetLanguage(items[0]));
        const std::set<std::string> english = Keys(f.manager->Texts());
        EXPECT_EQ(english.size(), type == 1 ? 31u : 33u);  // with PRODUCT_TITLE
        for (const auto& item : items) {
            ASSERT_TRUE(f.manager->SetLanguage(item));
            std::set<std::string> expected = english;
            if (type == 2 && f.config->languageCode == L"es") {
                expected.erase("BUTTON_AGREE");
                expected.erase("BUTTON_BACK");
            }
            EXPECT_EQ(Keys(f.manager->Texts()), expected) << WideToUtf8(item);
            for (const auto& [key, text] : f.manager->Texts()) {
                // Every reference resolves, nothing is left empty.
                EXPECT_EQ(text.find('{'), std::string::npos) << WideToUtf8(item) << " " << key << ": " << text;
                if (key != "PRODUCT_TITLE") {
                EXPECT_FALSE(text.empty()) << key;
            }
            }
            const std::wstring disclaimer = f.manager->Translate("PRODUCT_DISCLAIMER");
            for (const wchar_t* placeholder : {L"[PACKAGE_NAME]", L"[PACKAGE_PRIVACY_URL]", L"[PACKAGE_EULA_URL]", L"<a href="})
                EXPECT_NE(disclaimer.find(placeholder), std::wstring::npos) << WideToUtf8(item);
        }
        EXPECT_TRUE(f.messages.empty());
    }
}

TEST(LanguageManager, EnglishTextsAndTheProductTitle) {
    Fixture f(1);
    f.manager->FillLanguageList(f.combo);
    const std::wstring english = f.Items().at(0);
    ASSERT_TRUE(f.manager->SetLanguage(english));
    EXPECT_EQ(f.manager->Translate("WELCOME_TEXT"),
              L"This will download  on your computer. Click \"Next\" to continue.");
    EXPECT_EQ(f.manager->Translate("SPLASH_TEXT"),
              L"To continue, please select your preferred language, and click \"Next\".");
    EXPECT_EQ(f.manager->Translate("PAGE_FINISH_TITLE"), L"Thank you.\r\nYou have successfully downloaded .");
    EXPECT_EQ(f.manager->Translate("NO_SUCH_KEY"), L"");
    EXPECT_EQ(f.config->languageName, english);
    EXPECT_EQ(f.config->languageCode, L"en_US");

    f.config->productTitle = L"Zo\u00eb \u0160koda \u20ac";
    ASSERT_TRUE(f.manager->SetLanguage(english));
    EXPECT_EQ(f.manager->Translate("WELCOME_TEXT"),
              L"This will download Zo\u00eb \u0160koda \u20ac on your computer. Click \"Next\" to continue.");
    EXPECT_EQ(f.manager->Translate("PROGRESS_DESC"), L"Downloading Zo\u00eb \u0160koda \u20ac, sit back and relax");

    // Both Polish entries load the same texts.
    const auto items = f.Items();
    ASSERT_TRUE(f.manager->SetLanguage(items[3]));
    const LocaleTexts polish = f.manager->Texts();
    ASSERT_TRUE(f.manager->SetLanguage(items[11]));
    EXPECT_EQ(f.manager->Texts(), polish);
    EXPECT_EQ(f.config->languageCode, L"pl");
}

TEST(LanguageManager, LanguageChangeReTranslatesRegisteredPages) {
    Fixture f(1);
    f.manager->FillLanguageList(f.combo);
    std::vector<std::string> log;
    RecordingPage first(log, "first"), second(log, "second");
    f.manager->RegisterPage(&first);
    f.manager->RegisterPage(&second);
    f.manager->RegisterPage(&first);
    ASSERT_TRUE(f.manager->SetLanguage(L"Deutsch"));
    EXPECT_EQ(log, (std::vector<std::string>{"first", "second", "first"}));
    EXPECT_EQ(f.manager->Translate("BUTTON_NEXT"), L"Weiter");

    log.clear();
    f.manager->UnregisterPage(&first);  // every occurrence
    ASSERT_TRUE(f.manager->SetLanguage(f.Items().at(0)));
    EXPECT_EQ(log, std::vector<std::string>{"second"});

    log.clear();
    EXPECT_FALSE(f.manager->SetLanguage(L"Klingon"));
    EXPECT_TRUE(log.empty()) << "an unknown name changes nothing";
    EXPECT_EQ(f.manager->Translate("BUTTON_NEXT"), L"Next");
    f.manager->UnregisterPage(&second);
}

TEST(LanguageManager, InstallerListAndBtFlow) {
    Fixture f(2, true);
    f.manager->FillLanguageList(f.combo);
    EXPECT_EQ(f.Items().size(), 2u);
    EXPECT_FALSE(::GetWindowLongW(f.combo, GWL_STYLE) & WS_VISIBLE) << "the BT flow hides the list";
    ASSERT_TRUE(f.manager->SetLanguage(f.Selected().empty() ? f.Items()[0] : f.Selected()));
    EXPECT_FALSE(f.manager->Translate("SPLASH_TITLE_BT").empty());
    const std::wstring text = f.manager->Translate("SPLASH_TEXT_BT");
    EXPECT_NE(text.find(f.manager->Translate("BUTTON_NEXT")), std::wstring::npos) << "references reach the extra texts";
    EXPECT_EQ(f.manager->Translate("PRODUCT_TITLE"), L"");
    EXPECT_TRUE(f.messages.empty());
}

// Every text the BT flow's pages show exists in every language either wizard
// type offers: translated (not the English one), with its references resolved.
TEST(LanguageManager, BtTextsInEveryLanguage) {
    const char* const kBtKeys[] = {
        "SPLASH_TITLE_BT",       "SPLASH_TEXT_BT",         "WARNING_TITLE",         "WARNING_SUBTITLE",
        "WARNING_TEXT",          "LICENSE_TITLE",          "LICENSE_TEXT",          "LICENSE_EULA",
        "LICENSE_DISCLAIMER",    "OPTIONS_TITLE",          "OPTIONS_CHECK_1",       "OPTIONS_CHECK_2",
        "OPTIONS_CHECK_3",       "CONFIGURATIONS_TITLE",   "CONFIGURATIONS_SUBTITLE_1", "CONFIGURATIONS_TEXT_1",
        "CONFIGURATIONS_CHECK_1", "CONFIGURATIONS_CHECK_2", "CONFIGURATIONS_SUBTITLE_2", "CONFIGURATIONS_TEXT_2",
        "CONFIGURATIONS_CHECK_3", "CONFIGURATIONS_CHECK_4", "CONFIGURATIONS_CHECK_5", "BUTTON_AGREE",
        "BUTTON_BACK",           "BUTTON_NEXT"};
    for (const int wizardType : {1, 2}) {
        Fixture f(wizardType, true);
        f.config->productTitle = L"Demo";
        f.manager->FillLanguageList(f.combo);
        ASSERT_TRUE(f.manager->SetLanguage(L"English"));
        std::map<std::string, std::wstring> english;
        for (const char* key : kBtKeys) english[key] = f.manager->Translate(key);
        for (const std::wstring& language : f.Items()) {
            SCOPED_TRACE(WideToUtf8(language) + " of wizard type " + std::to_string(wizardType));
            ASSERT_TRUE(f.manager->SetLanguage(language));
            const bool isEnglish = f.config->languageCode.rfind(L"en", 0) == 0;
            for (const char* key : kBtKeys) {
                const std::wstring text = f.manager->Translate(key);
                EXPECT_FALSE(text.empty()) << key;
                EXPECT_EQ(text.find_first_of(L"{}"), std::wstring::npos) << key << ": " << WideToUtf8(text);
                if (!isEnglish) {
                    EXPECT_NE(text, english[key]) << key << " is still English";
                }
            }
            EXPECT_NE(f.manager->Translate("WARNING_TEXT").find(L"Demo"), std::wstring::npos);
        }
        EXPECT_TRUE(f.messages.empty());
    }
}

// The download page puts the percentage where "$percent$" stands: every
// translation of both wizard types keeps it.
TEST(LanguageManager, EveryLanguageKeepsThePercentPlaceholder) {
    for (const int wizardType : {1, 2}) {
        Fixture f(wizardType);
        f.manager->FillLanguageList(f.combo);
        for (const std::wstring& language : f.Items()) {
            ASSERT_TRUE(f.manager->SetLanguage(language));
            EXPECT_NE(f.manager->Translate("PROGRESS_STATUS").find(L"$percent$"), std::wstring::npos)
                << WideToUtf8(language) << " of wizard type " << wizardType;
        }
    }
}

// The language of a locale document's name picks resource 120's language.
TEST(LanguageManager, LanguageOfLocaleNames) {
    EXPECT_EQ(PRIMARYLANGID(LanguageIdOfLocale(L"de")), LANG_GERMAN);
    EXPECT_EQ(LanguageIdOfLocale(L"pt_BR"), MAKELANGID(LANG_PORTUGUESE, SUBLANG_PORTUGUESE_BRAZILIAN));
    EXPECT_EQ(PRIMARYLANGID(LanguageIdOfLocale(L"en_US")), LANG_ENGLISH);
    EXPECT_EQ(LanguageIdOfLocale(L""), MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
}

TEST(LanguageManager, UnknownWizardTypeListsNothing) {
    Fixture f(0);
    f.manager->FillLanguageList(f.combo);
    EXPECT_EQ(f.messages, std::vector<std::wstring>{L"Unknown wizard type (language manager"});
    EXPECT_TRUE(f.Items().empty());
    EXPECT_FALSE(f.manager->SetLanguage(L"English"));
}

TEST(LanguageManager, NativeNames) {
    EXPECT_EQ(LanguageManager::GetNativeLanguageName(L"de"), L"Deutsch");
    EXPECT_EQ(LanguageManager::GetNativeLanguageName(L"de-DE"), L"Deutsch");
    EXPECT_EQ(LanguageManager::GetNativeLanguageName(L"en_US"), LanguageManager::GetNativeLanguageName(L"en"));
    EXPECT_EQ(LanguageManager::GetNativeLanguageName(L"pt_BR"), LanguageManager::GetNativeLanguageName(L"pt-PT"));
    EXPECT_EQ(LanguageManager::GetNativeLanguageName(L"q1_Q1"), L"q1_Q1");
}

TEST(DefaultLanguage, FollowsTheUserLocale) {
    const std::string expected = testenv::Get("TAMSEL_EXPECT_LANGUAGE");
    if (expected.empty()) GTEST_SKIP() << "the runner sets the expected language with the locale";
    Fixture f(1);
    f.manager->FillLanguageList(f.combo);
    const std::wstring selected = f.Selected();
    ASSERT_FALSE(selected.empty());
    ASSERT_TRUE(f.manager->SetLanguage(selected));
    EXPECT_EQ(WideToUtf8(f.config->languageCode), expected);
}

namespace {

// The texts of a locale document of this program as the document writes them
// (references unresolved), key by key.
std::map<std::string, std::string> WrittenTexts(int id) {
    HMODULE module = ::GetModuleHandleW(nullptr);
    const ResourceBytes bytes = LoadResourceBytes(module, ::FindResourceW(module, MAKEINTRESOURCEW(id), L"LOCALE"));
    std::map<std::string, std::string> texts;
    if (!bytes.data) {
        ADD_FAILURE() << "no locale document " << id;
        return texts;
    }
    tinyxml2::XMLDocument document;
    document.Parse(reinterpret_cast<const char*>(bytes.data), bytes.size);
    const tinyxml2::XMLElement* root = document.FirstChildElement("Locale");
    if (!root) {
        ADD_FAILURE() << "document " << id << " has no Locale element";
        return texts;
    }
    for (const tinyxml2::XMLElement* e = root->FirstChildElement(); e; e = e->NextSiblingElement()) {
        EXPECT_TRUE(texts.emplace(e->Name(), e->GetText() ? e->GetText() : "").second)
            << e->Name() << " twice in document " << id;
    }
    return texts;
}

const char* const kSame = "same";

}  // namespace

// The English documents of both wizard types, key by key, as they are written:
// a line break is "\r\n" (written as character references), link markup is
// plain "<a href=...>" (written escaped). kSame: the installer's text is the
// download manager's; nullptr: that document has no such key.
TEST(LocaleDocuments, EnglishTextsOfBothWizardTypes) {
    const struct {
        const char* key;
        const char* dlm;  // resource 105
        const char* isv;  // resource 101
    } rows[] = {
        {"SPLASH_TEXT", "To continue, please select your preferred language, and click \"{BUTTON_NEXT}\".", kSame},
        {"WELCOME_TITLE", "Welcome to", kSame},
        {"WELCOME_TEXT", "This will download {PRODUCT_TITLE} on your computer. Click \"{BUTTON_NEXT}\" to continue.",
         "This will install {PRODUCT_TITLE} on your computer. Click \"{BUTTON_NEXT}\" to continue."},
        {"PRIVACY_LINK", "Privacy Policy", kSame},
        {"TOS_LINK", "End User License Agreement", nullptr},
        {"SDK_LINK", "License", kSame},
        {"PROGRESS_TITLE", "Downloading", "Installation Status"},
        {"PROGRESS_DESC", "Downloading {PRODUCT_TITLE}, sit back and relax",
         "Please wait while the installer wizard downloads and optimizes necessary packages."},
        {"PROGRESS_STAT_TEXT", "out of", kSame},
        {"PROGRESS_STATUS", "$percent$ Completed", kSame},
        {"PROGRESS_STATUS_START", "0% Completed", kSame},
        {"PRODUCT_DISCLAIMER",
         "When you click \"{BUTTON_ACCEPT}\", you agree to the installation of \"[PACKAGE_NAME]\" and that you have "
         "read the <a href=\"[PACKAGE_PRIVACY_URL]\">{PRIVACY_LINK}</a> and agree to the terms of its <a "
         "href=\"[PACKAGE_EULA_URL]\">{TOS_LINK}</a>. Check \"Add/Remove Programs\" to uninstall.",
         "When you click \"{BUTTON_ACCEPT}\", you agree to the installation of \"[PACKAGE_NAME]\" and that you have "
         "read the <a href=\"[PACKAGE_PRIVACY_URL]\">{PRIVACY_LINK}</a> and agree to the terms of its <a "
         "href=\"[PACKAGE_EULA_URL]\">{EULA_LINK}</a>. Check \"Add/Remove Programs\" to uninstall."},
        {"PAGE_FINISH_TITLE", "Thank you.\r\nYou have successfully downloaded {PRODUCT_TITLE}.",
         "Thank you.\r\nYour installation is complete."},
        {"PAGE_FINISH_TEXT",
         "To install the software on your machine, click \"{LAUNCH_RADIO}\"\r\nClick the \"{BUTTON_FINISH}\" button "
         "to exit the Setup Wizard",
         "You have successfully installed {PRODUCT_TITLE}. Click \"{BUTTON_FINISH}\" to proceed."},
        {"LAUNCH_RADIO", "Launch", nullptr},
        {"OPEN_FOLDER_RADIO", "Open Folder", nullptr},
        {"OPEN_PRODUCT_SITE_CHECKBOX", "open product's site", nullptr},
        {"PAGE_DOWNLOAD_ERROR_TITLE", "Error in downloading", nullptr},
        {"PAGE_DOWNLOAD_ERROR_DESC", "Please try to download later", nullptr},
        {"PAGE_CONFIGURATION_ERROR_TITLE", "Something went wrong", nullptr},
        {"PAGE_CONFIGURATION_ERROR_DESC", "Please try to download later", nullptr},
        {"BUTTON_DECLINE", "Decline", kSame},
        {"BUTTON_CLOSE", "Close", kSame},
        {"BUTTON_ACCEPT", "Accept", kSame},
        {"BUTTON_NEXT", "Next", kSame},
        {"BUTTON_RETRY", "Retry", kSame},
        {"BUTTON_FINISH", "Finish", kSame},
        {"BUTTON_SKIP_ALL", "Skip All", kSame},
        {"MSG_EXIT", "Are you sure you want to exit the installer?", kSame},
        {"PROGRESS_QUIT",
         "Some installer processes are already running in the background and will finish momentarily. Are you sure "
         "you would like to exit?",
         kSame},
        {"EULA_LINK", nullptr, "End User License Agreement"},
        {"PROGRESS_STAT_INSTALLING", nullptr, "Installing..."},
        {"PROGRESS_STAT_FINISHED", nullptr, "Installation completed. Please click \"{BUTTON_FINISH}\" to continue."},
        {"PROGRESS_STATUS_MAIN", nullptr, "Installing {PRODUCT_TITLE}"},
        {"LAUNCH_CHECKBOX", nullptr, "Launch the application on exit"},
        {"UNINSTALL_TEXT", nullptr,
         "\r\nTo uninstall all softwares installed during this installation process, please go to \"Add/Remove "
         "Programs\" and click \"{PRODUCT_TITLE} Packages\"."},
        {"PAGE_ERROR_TITLE", nullptr, "Error occurred while installing {PRODUCT_TITLE}."},
        {"PAGE_ERROR_TEXT", nullptr, "Click on \"{BUTTON_CLOSE}\" and try again later."},
        {"BUTTON_AGREE", nullptr, "Agree"},
        {"BUTTON_BACK", nullptr, "Back"},
    };
    std::map<std::string, std::string> dlm, isv;
    for (const auto& row : rows) {
        if (row.dlm) dlm[row.key] = row.dlm;
        if (row.isv) isv[row.key] = row.isv == kSame ? row.dlm : row.isv;
    }
    // Exactly these keys: none missing, none added, no other text.
    EXPECT_EQ(WrittenTexts(105), dlm);
    EXPECT_EQ(WrittenTexts(101), isv);
}

namespace {

// A language manager whose documents come from the module of broken ones.
struct FaultyDocuments : Fixture {
    FaultyDocuments() : Fixture(1) {
        wchar_t self[MAX_PATH];
        const DWORD n = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
        std::wstring path(self, n);
        path = path.substr(0, path.find_last_of(L'\\') + 1) + L"locale_faults.dll";
        module.Reset(::LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
        EXPECT_NE(module.Get(), nullptr) << "no " << WideToUtf8(path);
        manager = std::make_shared<LanguageManager>(
            config, [this](const std::wstring& text) { messages.push_back(text); }, module.Get());
    }
    ~FaultyDocuments() { manager.reset(); }

    tamsel::ModuleHandle module;
};

// The parser's own description of what is wrong with a text.
std::wstring ParserError(const char* text, size_t size) {
    tinyxml2::XMLDocument document;
    document.Parse(text, size);
    EXPECT_TRUE(document.Error());
    return AnsiToWide(document.ErrorStr() ? document.ErrorStr() : "", CP_ACP);
}

const std::wstring kParseFailed = L"Failed to parse language xml file, error code: ";

}  // namespace

// Listing reports each broken document once, in resource order, and lists
// only the documents it could name.
TEST(LanguageManagerFailures, ListingReportsEveryDocumentItCannotUse) {
    FaultyDocuments f;
    f.manager->FillLanguageList(f.combo);
    const char mismatched[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Locale name=\"fr\">\n"
                              "  <BUTTON_NEXT>Suivant</BUTTON_CLOSE>\n</Locale>\n";
    const std::wstring mismatch = ParserError(mismatched, sizeof mismatched - 1);
    EXPECT_NE(mismatch.find(L"XML_ERROR_MISMATCHED_ELEMENT"), std::wstring::npos) << WideToUtf8(mismatch);
    EXPECT_NE(mismatch.find(L"Line number=3"), std::wstring::npos) << WideToUtf8(mismatch);
    const std::wstring empty = ParserError("", 0);
    EXPECT_NE(empty.find(L"XML_ERROR_EMPTY_DOCUMENT"), std::wstring::npos) << WideToUtf8(empty);

    const std::vector<std::wstring> expected{
        kParseFailed + L"No name attribute",            // 106
        kParseFailed + mismatch,                        // 107
        kParseFailed + empty,                           // 110: no bytes
        kParseFailed + empty,                           // 111: a NUL first, whatever follows
        L"Failed to find resource with id: 113",
        L"Failed to find resource with id: 114",
        L"Failed to find resource with id: 115",
        L"Failed to find resource with id: 116",
        L"Failed to find resource with id: 117",
        L"Failed to find resource with id: 118",
    };
    EXPECT_EQ(f.messages, expected);
    // 112 has no Locale element: skipped without a word.
    EXPECT_EQ(f.Items(), (std::vector<std::wstring>{LanguageManager::GetNativeLanguageName(L"en"), L"Deutsch",
                                                    LanguageManager::GetNativeLanguageName(L"it")}));
}

// An entry without text stops the load where it stands: what was read stays,
// unresolved, and the rest is never read; the language is still chosen.
TEST(LanguageManagerFailures, AnEntryWithoutTextStopsTheLoad) {
    FaultyDocuments f;
    f.config->productTitle = L"Demo";
    f.manager->FillLanguageList(f.combo);
    const auto english = LanguageManager::GetNativeLanguageName(L"en");
    ASSERT_TRUE(f.manager->SetLanguage(english));
    ASSERT_EQ(f.manager->Translate("SPLASH_TEXT"), L"Click \"Next\".");
    f.messages.clear();

    const struct {
        std::wstring language;
        LocaleTexts texts;
    } cases[] = {
        {L"Deutsch",  // an empty element
         {{"PRODUCT_TITLE", "Demo"},
          {"SPLASH_TEXT", "Klicken Sie auf \"{BUTTON_NEXT}\"."},
          {"BUTTON_NEXT", "Weiter"},
          {"BUTTON_CLOSE", "Schliessen"}}},
        {LanguageManager::GetNativeLanguageName(L"it"),  // an element before any text
         {{"PRODUCT_TITLE", "Demo"}, {"BUTTON_NEXT", "Avanti"}}},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(f.manager->SetLanguage(c.language)) << WideToUtf8(c.language);
        EXPECT_EQ(f.messages, std::vector<std::wstring>{kParseFailed + L"No name or text attribute"})
            << WideToUtf8(c.language);
        EXPECT_EQ(f.manager->Texts(), c.texts) << WideToUtf8(c.language);
        EXPECT_EQ(f.config->languageName, c.language);
        f.messages.clear();
    }
    // A good document afterwards replaces the broken table completely.
    ASSERT_TRUE(f.manager->SetLanguage(english));
    EXPECT_EQ(f.manager->Texts(), (LocaleTexts{{"PRODUCT_TITLE", "Demo"},
                                               {"BUTTON_NEXT", "Next"},
                                               {"SPLASH_TEXT", "Click \"Next\"."}}));
    EXPECT_TRUE(f.messages.empty());
}
