#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// UTF-8 to UTF-16; invalid sequences become replacement characters. Throws
// std::runtime_error when the system refuses the text.
std::wstring Utf8ToWide(const std::string& s);
std::string WideToUtf8(const std::wstring& w);
// To and from the ANSI code page (CP_ACP or CP_THREAD_ACP); characters the
// code page lacks become its default character.
std::string WideToAnsi(const std::wstring& w, unsigned codePage);
std::wstring AnsiToWide(const std::string& s, unsigned codePage);

std::string JoinWithComma(const std::vector<std::string>& parts);
// Whether text begins with prefix, case and all.
bool StartsWith(std::wstring_view text, std::wstring_view prefix);
bool StartsWith(std::string_view text, std::string_view prefix);
// The part of a path after its last "\\" or "/"; the whole path when it has none.
std::wstring FileNameOf(const std::wstring& path);
// A registry path split at its last "\\" into the key and the value name;
// false, with both untouched, when it has none.
bool SplitAtLastBackslash(const std::wstring& text, std::wstring& before, std::wstring& after);

// Pieces between delimiters, read like lines of a stream: "a\\\\b" gives a, "", b;
// a delimiter at the end adds no empty piece.
std::vector<std::wstring> SplitPath(const std::wstring& s, wchar_t delimiter);
// Dotted version text to numbers; each token read like _wtoi (leading digits,
// 0 when none, saturated at the int range).
std::vector<int32_t> ParseVersion(const std::wstring& s);
// _wtoi semantics without its undefined overflow: saturates instead.
int32_t WtoiSaturated(const std::wstring& token);
