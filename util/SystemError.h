#pragma once
#include <windows.h>
#include <string>

// The system's text for an error code, with its trailing line break; "" when
// the system has none. WinHTTP (12001-12199) and WinINet codes are looked up in
// their own modules, which the plain system table does not cover.
std::wstring FormatSystemMessage(DWORD code);
// "<what>: <code> - <text>": how a failed Windows call is described.
std::wstring DescribeFailure(const std::wstring& what, DWORD code);
