#pragma once
// Every message a worker thread posts to a window, in one place. Workers never
// touch a window otherwise.
#include <windows.h>

// Download engine -> download page. These equal DM_SETDEFID and DM_REPOSITION:
// the page layer handles them for every page, so a dialog that does not
// expect them never moves its default button.
constexpr UINT WM_DOWNLOAD_PROGRESS = WM_USER + 1;      // wParam: per cent of the file
constexpr UINT WM_DOWNLOAD_SIZE_UNKNOWN = WM_USER + 2;  // no usable Content-Length
// Loading page's completion -> wizard window: the offers are ready.
constexpr UINT WM_LOAD_COMPLETE = WM_USER + 3;
// Loading task -> loading page: the task has ended (with a result or not).
constexpr UINT WM_REQUEST_COMPLETE = WM_USER + 4;
