#pragma once
#include <windows.h>

#include "util/Handles.h"

namespace ui {

// The thin window layer of the wizard: a dialog made from a template that
// routes its messages to virtual handlers of a C++ object. Run modally (the
// wizard window, the About box) or created modeless as a child (the pages).
class Dialog {
public:
    explicit Dialog(UINT templateId, HWND parent = nullptr);
    virtual ~Dialog();
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    INT_PTR DoModal();
    // Modeless: the window lives until the object is destroyed.
    bool Create(HWND parent);
    HWND GetSafeHwnd() const { return hwnd_; }
    HWND GetItem(int id) const { return hwnd_ ? ::GetDlgItem(hwnd_, id) : nullptr; }
    UINT TemplateId() const { return templateId_; }
    void EndDialog(INT_PTR result);
    // Background of the dialog and of its static texts; may be set before the
    // window exists.
    void SetBackgroundColor(COLORREF color, bool repaint = true);
    COLORREF BackgroundColor() const { return background_; }

protected:
    virtual BOOL OnInitDialog() { return TRUE; }
    virtual void OnCommand(WORD id, WORD code, HWND control);
    // WM_CTLCOLOR*: kind is the CTLCOLOR_* value. The default paints the
    // dialog and its statics in the background colour.
    virtual HBRUSH OnCtlColor(HDC dc, HWND control, UINT kind);
    // Any other message; return true when handled, with the result set.
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }

    HWND hwnd_ = nullptr;

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);

    UINT templateId_;
    HWND parent_;
    bool modal_ = false;
    COLORREF background_ = CLR_INVALID;
    tamsel::GdiObject backgroundBrush_;
};

}  // namespace ui
