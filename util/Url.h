#pragma once
#include <string>
#include <string_view>

// Whether a text looks like a web address: an optional "http://" or
// "https://", a host of ASCII letters, digits, "_", "." and "-" with a "." that
// has such a character on each side, then optionally "/", "?" or "#" and any
// text without a line break. The wide text is judged in the thread's ANSI
// code page; a text holding characters that page lacks is no address (a
// substituted "?" would otherwise pass for the start of a query).
bool IsValidUrl(const std::wstring& w);
// The same test on narrow text. Linear in the length and free of recursion, so
// configuration texts of any size answer at once.
bool MatchesUrlPattern(std::string_view s);
