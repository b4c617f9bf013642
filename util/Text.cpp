#include "Text.h"

#include <windows.h>

#include <climits>
#include <sstream>
#include <stdexcept>

namespace {

int ClampLength(size_t n) {
    // The conversion calls take int lengths; larger texts are refused rather
    // than silently truncated.
    if (n > static_cast<size_t>(INT_MAX)) throw std::length_error("text too long to convert");
    return static_cast<int>(n);
}

}  // namespace

std::wstring Utf8ToWide(const std::string& s) {
    if (s.empty()) return std::wstring();
    const int len = ClampLength(s.size());
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, s.data(), len, nullptr, 0);
    if (n < 1) throw std::runtime_error("MultiByteToWideChar() failed: " + std::to_string(n));
    std::wstring out(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, s.data(), len, out.data(), n);
    return out;
}

std::string WideToUtf8(const std::wstring& w) {
    if (w.empty()) return std::string();
    const int len = ClampLength(w.size());
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, w.data(), len, nullptr, 0, nullptr, nullptr);
    if (n < 1) return std::string();
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, w.data(), len, out.data(), n, nullptr, nullptr);
    return out;
}

std::string WideToAnsi(const std::wstring& w, unsigned codePage) {
    if (w.empty()) return std::string();
    const int len = ClampLength(w.size());
    const int n = ::WideCharToMultiByte(codePage, 0, w.data(), len, nullptr, 0, nullptr, nullptr);
    if (n < 1) return std::string();
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(codePage, 0, w.data(), len, out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring AnsiToWide(const std::string& s, unsigned codePage) {
    if (s.empty()) return std::wstring();
    const int len = ClampLength(s.size());
    const int n = ::MultiByteToWideChar(codePage, 0, s.data(), len, nullptr, 0);
    if (n < 1) return std::wstring();
    std::wstring out(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(codePage, 0, s.data(), len, out.data(), n);
    return out;
}

std::string JoinWithComma(const std::vector<std::string>& parts) {
    std::string out;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i) out += ',';
        out += parts[i];
    }
    return out;
}

std::vector<std::wstring> SplitPath(const std::wstring& s, wchar_t delimiter) {
    std::vector<std::wstring> pieces;
    std::wistringstream in(s);
    std::wstring piece;
    while (std::getline(in, piece, delimiter)) pieces.push_back(piece);
    return pieces;
}

int32_t WtoiSaturated(const std::wstring& token) {
    size_t i = 0;
    while (i < token.size() && (token[i] == L' ' || (token[i] >= L'\t' && token[i] <= L'\r'))) ++i;
    bool negative = false;
    if (i < token.size() && (token[i] == L'+' || token[i] == L'-')) negative = token[i++] == L'-';
    int64_t value = 0;
    for (; i < token.size() && token[i] >= L'0' && token[i] <= L'9'; ++i) {
        value = value * 10 + (token[i] - L'0');
        if (value > static_cast<int64_t>(INT32_MAX) + 1) {
            value = static_cast<int64_t>(INT32_MAX) + 1;  // saturate; more digits change nothing
        }
    }
    if (negative) return value > INT32_MAX ? INT32_MIN : static_cast<int32_t>(-value);
    return value > INT32_MAX ? INT32_MAX : static_cast<int32_t>(value);
}

std::vector<int32_t> ParseVersion(const std::wstring& s) {
    std::vector<int32_t> numbers;
    size_t start = 0;
    while (start <= s.size()) {
        size_t dot = s.find(L'.', start);
        if (dot == std::wstring::npos) dot = s.size();
        if (dot > start) numbers.push_back(WtoiSaturated(s.substr(start, dot - start)));
        start = dot + 1;
    }
    return numbers;
}

bool StartsWith(std::wstring_view text, std::wstring_view prefix) { return text.substr(0, prefix.size()) == prefix; }
bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

bool SplitAtLastBackslash(const std::wstring& text, std::wstring& before, std::wstring& after) {
    const size_t at = text.rfind(L'\\');
    if (at == std::wstring::npos) return false;
    before = text.substr(0, at);
    after = text.substr(at + 1);
    return true;
}

std::wstring FileNameOf(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}
