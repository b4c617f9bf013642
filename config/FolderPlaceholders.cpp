#include "FolderPlaceholders.h"

#include <windows.h>

#include "util/KnownFolders.h"
#include "util/Wow64.h"

namespace {

void AddIfAbsent(FolderPlaceholderList& list, const std::wstring& key, const std::wstring& folder) {
    for (const auto& entry : list)
        if (entry.first == key) return;
    list.emplace_back(key, folder);
}

}  // namespace

FolderFacts ReadFolderFacts() {
    FolderFacts facts;
    facts.wow64 = IsUnderWow64();
    facts.localAppData = GetKnownFolderPath(FOLDERID_LocalAppData, false);
    facts.roamingAppData = GetKnownFolderPath(FOLDERID_RoamingAppData, false);
    facts.programData = GetKnownFolderPath(FOLDERID_ProgramData, false);
    facts.programFilesX86 = GetKnownFolderPath(FOLDERID_ProgramFilesX86, false);
    wchar_t buffer[260];
    const DWORD n = ::GetEnvironmentVariableW(L"ProgramW6432", buffer, 260);
    // n counts the terminator when the buffer is too small: such a value is
    // treated as missing, like an empty one.
    if (n >= 1 && n < 260) {
        facts.hasProgramW6432 = true;
        facts.programW6432.assign(buffer, n);
    }
    return facts;
}

FolderPlaceholderList BuildFolderPlaceholderList(const FolderFacts& facts) {
    FolderPlaceholderList list;
    AddIfAbsent(list, L"commonpf", facts.wow64 ? L"{commonpf64}" : L"{commonpf32}");
    AddIfAbsent(list, L"localappdata", facts.localAppData);
    AddIfAbsent(list, L"commonappdata", facts.roamingAppData);
    AddIfAbsent(list, L"programdata", facts.programData);
    AddIfAbsent(list, L"commonpf32", facts.programFilesX86);
    if (facts.wow64 && facts.hasProgramW6432 && !facts.programW6432.empty() && facts.programW6432.size() <= 259)
        AddIfAbsent(list, L"commonpf64", facts.programW6432);
    return list;
}

std::wstring ExpandPlaceholders(const std::wstring& text, const FolderPlaceholderList& placeholders) {
    std::wstring out = text;
    for (const auto& [key, folder] : placeholders) {
        const std::wstring token = L"{" + key + L"}";
        size_t pos = out.find(token);
        while (pos != std::wstring::npos) {
            out.replace(pos, token.size(), folder);
            // Continue after the inserted folder so a folder holding its own
            // placeholder cannot make this walk endless.
            pos = out.find(token, pos + folder.size());
        }
    }
    return out;
}
