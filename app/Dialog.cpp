#include "Dialog.h"

namespace ui {

Dialog::Dialog(UINT templateId, HWND parent) : templateId_(templateId), parent_(parent) {}

Dialog::~Dialog() {
    if (hwnd_ && !modal_) {
        // Detach first so that messages sent while the window goes down do not
        // reach a half-destroyed object.
        ::SetWindowLongPtrW(hwnd_, DWLP_USER, 0);
        ::DestroyWindow(hwnd_);
    }
}

INT_PTR Dialog::DoModal() {
    modal_ = true;
    return ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(templateId_), parent_, DialogProc,
                             reinterpret_cast<LPARAM>(this));
}

bool Dialog::Create(HWND parent) {
    parent_ = parent;
    modal_ = false;
    return ::CreateDialogParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(templateId_), parent, DialogProc,
                                reinterpret_cast<LPARAM>(this)) != nullptr;
}

void Dialog::EndDialog(INT_PTR result) {
    if (hwnd_ && modal_) ::EndDialog(hwnd_, result);
}

void Dialog::SetBackgroundColor(COLORREF color, bool repaint) {
    background_ = color;
    backgroundBrush_.Reset(::CreateSolidBrush(color));
    if (hwnd_ && repaint) ::InvalidateRect(hwnd_, nullptr, TRUE);
}

void Dialog::OnCommand(WORD id, WORD code, HWND) {
    if (code != BN_CLICKED) return;
    if (id == IDOK) OnOK();
    if (id == IDCANCEL) OnCancel();
}

HBRUSH Dialog::OnCtlColor(HDC dc, HWND, UINT kind) {
    if (!backgroundBrush_ || (kind != CTLCOLOR_DLG && kind != CTLCOLOR_STATIC && kind != CTLCOLOR_BTN))
        return nullptr;
    if (kind != CTLCOLOR_DLG) ::SetBkMode(dc, TRANSPARENT);
    return static_cast<HBRUSH>(backgroundBrush_.Get());
}

bool Dialog::OnMessage(UINT, WPARAM, LPARAM, LRESULT&) { return false; }

INT_PTR CALLBACK Dialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Dialog* self = nullptr;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<Dialog*>(lParam);
        self->hwnd_ = hwnd;
        ::SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
    } else {
        self = reinterpret_cast<Dialog*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
    }
    if (!self) return FALSE;
    const INT_PTR result = self->Dispatch(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrW(hwnd, DWLP_USER, 0);
        self->hwnd_ = nullptr;
    }
    return result;
}

INT_PTR Dialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog();
    case WM_COMMAND:
        OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
        return TRUE;
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
        // Colour messages return the brush itself, not through DWLP_MSGRESULT.
        return reinterpret_cast<INT_PTR>(OnCtlColor(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam),
                                                    message - WM_CTLCOLORMSGBOX));
    default: {
        LRESULT result = 0;
        if (!OnMessage(message, wParam, lParam, result)) return FALSE;
        // Like the colour messages, a drag icon is returned directly.
        if (message == WM_QUERYDRAGICON) return static_cast<INT_PTR>(result);
        ::SetWindowLongPtrW(hwnd_, DWLP_MSGRESULT, result);
        return TRUE;
    }
    }
}

}  // namespace ui
