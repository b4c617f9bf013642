#pragma once
#include <string>
#include <utility>
#include <vector>

// Keys and folders in insertion order; "{key}" in a text stands for the folder.
using FolderPlaceholderList = std::vector<std::pair<std::wstring, std::wstring>>;

// What the placeholder list is built from, read off the machine by
// ReadFolderFacts so that the rules below can be driven directly.
struct FolderFacts {
    bool wow64 = false;                 // a 32-bit process on 64-bit Windows
    std::wstring localAppData;          // "" when the folder cannot be obtained
    std::wstring roamingAppData;
    std::wstring programData;
    std::wstring programFilesX86;
    bool hasProgramW6432 = false;       // the environment variable is set
    std::wstring programW6432;
};

FolderFacts ReadFolderFacts();
FolderPlaceholderList BuildFolderPlaceholderList(const FolderFacts& facts);
// One walk over the list in order; every "{key}" of an entry is replaced by its
// folder, so "{commonpf}" resolves through "{commonpf64}" or "{commonpf32}".
std::wstring ExpandPlaceholders(const std::wstring& text, const FolderPlaceholderList& placeholders);
