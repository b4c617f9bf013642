#pragma once
#include <windows.h>
#include <shtypes.h>
#include <knownfolders.h>
#include <string>

// SHGetKnownFolderPath for the current user, or for the default user profile
// when defaultUser is set; "" on failure.
std::wstring GetKnownFolderPath(REFKNOWNFOLDERID id, bool defaultUser);
