#pragma once
// Turning a downloaded file into the program to start: a ZIP archive is
// unpacked into a folder of its own and its first program taken; anything
// else, and every failure on the way, starts the downloaded file itself.
#include <windows.h>
#include <oleauto.h>

#include <cstddef>
#include <string>

constexpr int kNotArchive = 0;  // or unreadable
constexpr int kZipArchive = 1;
constexpr int kSevenZipArchive = 2;

// By the file's first bytes: 0, 1 (ZIP) or 2 (7z).
int DetectArchiveType(const std::wstring& path);

// The program to start for a downloaded file of the given archive type; base
// is the folder the archive's own folder is made in. Throws std::bad_alloc
// when the COM strings cannot be made.
std::wstring PrepareLaunchTarget(const std::wstring& path, int type, const std::wstring& base);

// base\<archive name without its extension>, created or reused; base itself
// when that folder cannot be made or the name is no usable folder name.
std::wstring CreateExtractionFolder(const std::wstring& path, const std::wstring& base);

// Unpacks archive into target through the Shell. False only for an archive
// without items or a copy the Shell refused; true also when the Shell could
// not open either side (nothing was unpacked then).
bool ExtractZip(BSTR archive, BSTR target);

// Name of the first file (not folder) the system lists for folder\*.exe; ""
// when there is none or the folder cannot be searched.
std::wstring FindFirstExe(const std::wstring& folder);

namespace archive_launch {

// The archive type the first bytes of a file announce (up to 6 are looked at).
int ArchiveTypeOf(const unsigned char* bytes, size_t count);

// The folder name an archive unpacks into: its file name after the last "\\"
// or "/", cut before the last "."; trailing dots and spaces dropped as the
// system would. "" when that is no plain name of a folder inside base:
// nothing left, a device name, or characters a name cannot hold.
std::wstring ExtractionFolderName(const std::wstring& archivePath);

// folder\name, or "" when that would not fit in MAX_PATH: a cut path would
// name a different program.
std::wstring JoinLaunchPath(const std::wstring& folder, const std::wstring& name);

}  // namespace archive_launch
