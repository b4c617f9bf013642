#pragma once
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/Dialog.h"
#include "locale/TranslatablePage.h"
#include "util/Handles.h"

class LanguageManager;

// Button codes exchanged between pages and the wizard window.
enum class ButtonType { Next = 0, Accept = 1, Close = 2, Decline = 3, Finish = 4, Back = 5, SkipAll = 6 };

using ButtonCallback = std::function<void(ButtonType)>;
using ErrorCallback = std::function<void(const std::wstring& title, const std::wstring& text)>;

// A wizard page: a modeless child dialog whose labelled controls are
// translated by the language manager for as long as the page exists.
class IPage : public ui::Dialog, public TranslatablePage {
public:
    IPage(std::shared_ptr<LanguageManager> languageManager, UINT templateId, HWND parent);
    ~IPage() override;

    void RegisterText(int controlId, const std::string& key);
    virtual void OnNavigateToPage() {}
    // Pages keep both callbacks here; the error page ignores the second.
    virtual void SetButtonCallback(ButtonCallback callback) { buttonCallback = std::move(callback); }
    virtual void SetErrorCallback(ErrorCallback callback) { errorCallback = std::move(callback); }
    void ApplyTexts() override;
    virtual std::wstring GetName() const = 0;

protected:
    // Reports a button to the wizard; a callback that was never set does nothing.
    void SendButton(ButtonType button) {
        if (buttonCallback) buttonCallback(button);
    }
    HBRUSH OnCtlColor(HDC dc, HWND control, UINT kind) override;

    struct TextBinding {
        int controlId;
        std::string key;
    };

    std::shared_ptr<LanguageManager> languageManager;
    std::vector<TextBinding> textBindings;
    tamsel::GdiObject pageBrush;
    ButtonCallback buttonCallback;
    ErrorCallback errorCallback;
};
