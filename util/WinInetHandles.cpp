// WinINet's handle closer, in a source of its own: wininet.h cannot share a
// translation unit with winhttp.h.
#include <windows.h>
#include <wininet.h>

#include "Handles.h"

void tamsel::WinInetHandleTraits::Close(Value h) noexcept { ::InternetCloseHandle(h); }
