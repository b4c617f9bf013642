#include "Links.h"

#include <commctrl.h>
#include <shellapi.h>

namespace {

bool StartsWithNoCase(const std::wstring& text, const wchar_t* prefix) {
    size_t i = 0;
    for (; prefix[i]; ++i) {
        if (i >= text.size()) return false;
        wchar_t c = text[i];
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
        if (c != prefix[i]) return false;
    }
    return true;
}

}  // namespace

bool IsOpenableLink(const std::wstring& url) {
    size_t schemeLength = 0;
    if (StartsWithNoCase(url, L"https://"))
        schemeLength = 8;
    else if (StartsWithNoCase(url, L"http://"))
        schemeLength = 7;
    else
        return false;
    if (url.size() == schemeLength) return false;
    for (wchar_t c : url)
        if (c <= L' ' || c == L'"' || c == 0x7F) return false;
    return true;
}

LinkOpener ShellLinkOpener() {
    return [](const std::wstring& url) {
        // The shell reports failures itself; a link that cannot be opened
        // leaves the wizard as it was.
        ::ShellExecuteW(nullptr, L"open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    };
}

std::wstring ReplacePlaceholders(const std::wstring& text,
                                 const std::vector<std::pair<std::wstring, std::wstring>>& values) {
    std::wstring out;
    out.reserve(text.size());
    size_t at = 0;
    while (at < text.size()) {
        bool replaced = false;
        for (const auto& [placeholder, value] : values) {
            if (!placeholder.empty() && text.compare(at, placeholder.size(), placeholder) == 0) {
                out += value;
                at += placeholder.size();
                replaced = true;
                break;
            }
        }
        if (!replaced) out += text[at++];
    }
    return out;
}

std::wstring ClickedLinkUrl(const NMHDR& header) {
    if (header.code != NM_CLICK && header.code != NM_RETURN) return std::wstring();
    const auto& link = reinterpret_cast<const NMLINK&>(header);
    // The control fills szUrl with a terminated text; never read past the array.
    const size_t capacity = sizeof link.item.szUrl / sizeof link.item.szUrl[0];
    size_t length = 0;
    while (length < capacity && link.item.szUrl[length]) ++length;
    return std::wstring(link.item.szUrl, length);
}

void EnsureLinkClass() {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LINK_CLASS};
    ::InitCommonControlsEx(&controls);
}
