#include "MessageSink.h"

#include <windows.h>

MessageSink MessageBoxSink() {
    return [](const std::wstring& text) { ::MessageBoxW(nullptr, text.c_str(), nullptr, MB_OK); };
}
