// The smallest Win32 program the wizard's launch is set beside: one dialog
// titled "Setup" with one button (1010, as the language page's Next), closed
// by that button.
#include <windows.h>

#include "BareDialog.h"

namespace {

INT_PTR CALLBACK BareDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) return TRUE;
    if (message == WM_COMMAND && (LOWORD(wParam) == IDC_BARE_BUTTON || LOWORD(wParam) == IDCANCEL)) {
        ::EndDialog(dialog, 0);
        return TRUE;
    }
    return FALSE;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    ::DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_BARE_DIALOG), nullptr, BareDialogProc, 0);
    return 0;
}
