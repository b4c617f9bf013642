#include "PageTestHost.h"

#include <commctrl.h>

#include "common/GdiplusForTests.h"

COLORREF PaintedPixel(IPage& page, int controlId, double fx, double fy) {
    ::SetWindowPos(page.GetSafeHwnd(), nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_SHOWWINDOW);
    HWND control = ::GetDlgItem(page.GetSafeHwnd(), controlId);
    ::RedrawWindow(page.GetSafeHwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    RECT client;
    ::GetClientRect(control, &client);
    HDC dc = ::GetDC(control);
    const COLORREF colour = ::GetPixel(dc, static_cast<int>(client.right * fx), static_cast<int>(client.bottom * fy));
    ::ReleaseDC(control, dc);
    return colour;
}

std::vector<std::wstring> LinkUrls(HWND syslink) {
    std::vector<std::wstring> urls;
    for (int i = 0;; ++i) {
        LITEM item{};
        item.mask = LIF_ITEMINDEX | LIF_URL;
        item.iLink = i;
        if (!::SendMessageW(syslink, LM_GETITEM, 0, reinterpret_cast<LPARAM>(&item))) break;
        urls.emplace_back(item.szUrl);
    }
    return urls;
}

bool ClickLink(HWND syslink, int index) {
    RECT client;
    ::GetClientRect(syslink, &client);
    for (int y = client.top + 1; y < client.bottom; y += 2) {
        for (int x = client.left + 1; x < client.right; x += 2) {
            LHITTESTINFO hit{};
            hit.pt = {x, y};
            if (!::SendMessageW(syslink, LM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)) || hit.item.iLink != index)
                continue;
            const LPARAM at = MAKELPARAM(x, y);
            ::SendMessageW(syslink, WM_LBUTTONDOWN, MK_LBUTTON, at);
            ::SendMessageW(syslink, WM_LBUTTONUP, 0, at);
            return true;
        }
    }
    return false;
}
