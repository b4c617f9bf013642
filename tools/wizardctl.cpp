// wizardctl wait TITLE [SECONDS]   exits 0 once a visible window with that title exists
// wizardctl close TITLE            asks that window to close
// Used by the demo script, which needs to know when the wizard is on screen.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fwprintf(stderr, L"usage: wizardctl wait|close TITLE [SECONDS]\n");
        return 2;
    }
    const std::wstring command = argv[1];
    const wchar_t* title = argv[2];
    const int seconds = argc > 3 ? _wtoi(argv[3]) : 30;
    for (int waited = 0; waited <= seconds * 10; ++waited) {
        HWND window = ::FindWindowW(nullptr, title);
        if (window && ::IsWindowVisible(window)) {
            if (command == L"close") ::PostMessageW(window, WM_CLOSE, 0, 0);
            return 0;
        }
        ::Sleep(100);
    }
    std::fwprintf(stderr, L"no window titled \"%ls\"\n", title);
    return 1;
}
