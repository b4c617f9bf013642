#include "SystemError.h"

#include "Handles.h"
#include "SystemLibrary.h"

namespace {

std::wstring FromModule(DWORD code, HMODULE module) {
    wchar_t* buffer = nullptr;
    DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS;
    flags |= module ? FORMAT_MESSAGE_FROM_HMODULE : FORMAT_MESSAGE_FROM_SYSTEM;
    const DWORD n = ::FormatMessageW(flags, module, code, 0x400, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text;
    if (n && buffer) text.assign(buffer, n);
    if (buffer) ::LocalFree(buffer);
    return text;
}

}  // namespace

std::wstring FormatSystemMessage(DWORD code) {
    std::wstring text = FromModule(code, nullptr);
    if (text.empty() && code >= 12000 && code < 12200) {
        // Internet error codes: WinHTTP's table first, then WinINet's.
        // Loaded once as data for their message tables, kept for the process.
        static const tamsel::ModuleHandle modules[] = {
            tamsel::ModuleHandle(LoadSystemLibrary(L"winhttp.dll", LOAD_LIBRARY_AS_DATAFILE)),
            tamsel::ModuleHandle(LoadSystemLibrary(L"wininet.dll", LOAD_LIBRARY_AS_DATAFILE)),
        };
        for (const auto& module : modules) {
            if (!module) continue;
            text = FromModule(code, module.Get());
            if (!text.empty()) break;
        }
    }
    return text;
}

std::wstring DescribeFailure(const std::wstring& what, DWORD code) {
    return what + L": " + std::to_wstring(static_cast<long>(code)) + L" - " + FormatSystemMessage(code);
}
