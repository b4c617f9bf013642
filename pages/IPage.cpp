#include "IPage.h"

#include "Links.h"
#include "config/ConfigurationManager.h"
#include "locale/LanguageManager.h"
#include "util/WindowMessages.h"

namespace {
constexpr int kBottomBarId = 1002;
static_assert(WM_DOWNLOAD_PROGRESS == DM_SETDEFID && WM_DOWNLOAD_SIZE_UNKNOWN == DM_REPOSITION,
              "the page layer relies on these sharing their numbers");
}

IPage::IPage(std::shared_ptr<LanguageManager> manager, std::shared_ptr<ConfigurationManager> configuration,
             UINT templateId, HWND parent)
    : ui::Dialog(templateId, parent),
      languageManager(std::move(manager)),
      config(std::move(configuration)),
      linkOpener(ShellLinkOpener()) {
    languageManager->RegisterPage(this);
    pageBrush.Reset(::CreateSolidBrush(config->accentColor));
}

IPage::IPage(std::shared_ptr<LanguageManager> manager, UINT templateId, HWND parent)
    : IPage(manager, manager->Config(), templateId, parent) {}

IPage::~IPage() { languageManager->UnregisterPage(this); }

void IPage::RegisterText(int controlId, const std::string& key) { textBindings.push_back({controlId, key}); }

void IPage::ApplyTexts() {
    for (const TextBinding& binding : textBindings) {
        HWND control = GetItem(binding.controlId);
        if (!control) continue;  // no window: nothing to translate
        const std::wstring text = languageManager->Translate(binding.key);
        if (!text.empty()) ::SetWindowTextW(control, text.c_str());
    }
}

HBRUSH IPage::OnCtlColor(HDC dc, HWND control, UINT kind) {
    if (::GetDlgCtrlID(control) == kBottomBarId && kind == CTLCOLOR_STATIC) {
        ::SetBkMode(dc, TRANSPARENT);
        return static_cast<HBRUSH>(pageBrush.Get());
    }
    return ui::Dialog::OnCtlColor(dc, control, kind);
}

bool IPage::OnMessage(UINT message, WPARAM, LPARAM, LRESULT& result) {
    if (message == WM_DOWNLOAD_PROGRESS && settingDefaultButton_) return false;  // to the dialog manager
    if (message == WM_DOWNLOAD_PROGRESS || message == WM_DOWNLOAD_SIZE_UNKNOWN) {
        result = 0;
        return true;
    }
    return false;
}

void IPage::MakeTitleBold(HWND title, tamsel::GdiObject& font) {
    constexpr LONG kTitleHeight = 12;
    constexpr LONG kTitleWeight = 1000;
    auto current = reinterpret_cast<HFONT>(::SendMessageW(title, WM_GETFONT, 0, 0));
    if (!current) current = static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
    LOGFONTW description{};
    if (::GetObjectW(current, sizeof description, &description) != sizeof description) return;
    description.lfHeight = kTitleHeight;
    description.lfWeight = kTitleWeight;
    font.Reset(::CreateFontIndirectW(&description));
    if (font) ::SendMessageW(title, WM_SETFONT, reinterpret_cast<WPARAM>(font.Get()), TRUE);
}

void IPage::SetDefaultButton(int controlId) {
    if (!hwnd_) return;
    settingDefaultButton_ = true;
    ::SendMessageW(hwnd_, DM_SETDEFID, static_cast<WPARAM>(controlId), 0);
    settingDefaultButton_ = false;
}

void IPage::OpenLink(const std::wstring& url) const {
    if (linkOpener && IsOpenableLink(url)) linkOpener(url);
}
