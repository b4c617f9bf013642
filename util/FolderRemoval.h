#pragma once
#include <windows.h>

#include <string>

// Deletes folder and everything in it, as far as it can now: a file in use
// (access denied, sharing violation) is left for the next restart
// (MOVEFILE_DELAY_UNTIL_REBOOT), and so is a folder that cannot be removed.
// Symbolic links and junctions inside are removed themselves and never
// followed, so nothing outside the folder is deleted; read-only files are
// deleted too. A missing folder, a file or a volume root is left alone.
// Reports nothing.
void RemoveFolderTree(const std::wstring& folder);

namespace folder_removal {

enum class EntryKind { Folder, Link, File };

// How a listed entry is treated: a reparse point is a link whatever else it is.
EntryKind Classify(DWORD attributes);

// Failures that mean "in use right now", which a restart clears.
bool IsInUse(DWORD error);

// A full path in the "\\?\" form the removal works with, so that depth is no
// limit and names the Win32 layer would alter (trailing dots) are reached.
std::wstring ExtendedPath(const std::wstring& fullPath);

// "C:\", "\\server\share" and their "\\?\" forms: never removed.
bool IsVolumeRoot(const std::wstring& fullPath);

// Whether childFinal, the resolved path of what was opened as `name` in the
// folder whose resolved path is parentFinal, is really that entry and not
// something a link leads to. Compared without regard to case.
bool IsDirectChild(const std::wstring& parentFinal, const std::wstring& name, const std::wstring& childFinal);

}  // namespace folder_removal
