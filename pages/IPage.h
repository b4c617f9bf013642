#pragma once
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/Dialog.h"
#include "locale/TranslatablePage.h"
#include "util/Handles.h"

class ConfigurationManager;
class LanguageManager;

// Button codes exchanged between pages and the wizard window.
enum class ButtonType { Next = 0, Accept = 1, Close = 2, Decline = 3, Finish = 4, Back = 5, SkipAll = 6 };

using ButtonCallback = std::function<void(ButtonType)>;
using ErrorCallback = std::function<void(const std::wstring& title, const std::wstring& text)>;
// Opens a web address for the user; the shell in the program.
using LinkOpener = std::function<void(const std::wstring& url)>;

// A wizard page: a modeless child dialog whose labelled controls are
// translated by the language manager for as long as the page exists.
class IPage : public ui::Dialog, public TranslatablePage {
public:
    IPage(std::shared_ptr<LanguageManager> languageManager, std::shared_ptr<ConfigurationManager> config,
          UINT templateId, HWND parent);
    // With the language manager's configuration.
    IPage(std::shared_ptr<LanguageManager> languageManager, UINT templateId, HWND parent);
    ~IPage() override;

    void RegisterText(int controlId, const std::string& key);
    virtual void OnNavigateToPage() {}
    // The user quit: a page that runs work ends it before the wizard removes
    // the run's files.
    virtual void StopWork() {}
    // Pages keep both callbacks here; the error page ignores the second.
    virtual void SetButtonCallback(ButtonCallback callback) { buttonCallback = std::move(callback); }
    virtual void SetErrorCallback(ErrorCallback callback) { errorCallback = std::move(callback); }
    void ApplyTexts() override;
    virtual std::wstring GetName() const = 0;
    // Where the page's links go; the shell unless replaced.
    void SetLinkOpener(LinkOpener opener) { linkOpener = std::move(opener); }

protected:
    // Reports a button to the wizard; a callback that was never set does nothing.
    void SendButton(ButtonType button) {
        if (buttonCallback) buttonCallback(button);
    }
    HBRUSH OnCtlColor(HDC dc, HWND control, UINT kind) override;
    // Swallows WM_DOWNLOAD_PROGRESS and WM_DOWNLOAD_SIZE_UNKNOWN: they share
    // their numbers with DM_SETDEFID and DM_REPOSITION, and a worker's report
    // must never move a page's default button. Pages that take them handle
    // them before calling this.
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    // DM_SETDEFID from the page itself, which OnMessage would otherwise swallow.
    void SetDefaultButton(int controlId);
    // Sets the title control's own font, bold at height 12; the font lives in
    // `font`, which the page keeps for as long as it exists.
    static void MakeTitleBold(HWND title, tamsel::GdiObject& font);
    // Opens url through the link opener when it is a plain web address: the
    // addresses come from the remote configuration and the wizard runs
    // elevated, so nothing else is handed to the shell.
    void OpenLink(const std::wstring& url) const;

    struct TextBinding {
        int controlId;
        std::string key;
    };

    std::shared_ptr<LanguageManager> languageManager;
    std::shared_ptr<ConfigurationManager> config;
    std::vector<TextBinding> textBindings;
    tamsel::GdiObject pageBrush;
    ButtonCallback buttonCallback;
    ErrorCallback errorCallback;
    LinkOpener linkOpener;

private:
    bool settingDefaultButton_ = false;
};
