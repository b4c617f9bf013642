#include "IPage.h"

#include "config/ConfigurationManager.h"
#include "locale/LanguageManager.h"

namespace {
constexpr int kBottomBarId = 1002;
}

IPage::IPage(std::shared_ptr<LanguageManager> manager, UINT templateId, HWND parent)
    : ui::Dialog(templateId, parent), languageManager(std::move(manager)) {
    languageManager->RegisterPage(this);
    pageBrush.Reset(::CreateSolidBrush(GetConfiguration()->accentColor));
}

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
