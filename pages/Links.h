#pragma once
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "IPage.h"

// Whether a link may be handed to the shell: an "http://" or "https://"
// address (either case) with something after the scheme and no space, control
// character or double quote, which a browser's command line could split on.
bool IsOpenableLink(const std::wstring& url);

// The shell's "open" on the address, shown normally.
LinkOpener ShellLinkOpener();

// Replaces each placeholder found in text by its value. Only the text as given
// is scanned: a value that itself holds a placeholder is inserted as it is.
// Placeholders are tried in the order given at each position.
std::wstring ReplacePlaceholders(const std::wstring& text,
                                 const std::vector<std::pair<std::wstring, std::wstring>>& values);

// The URL of the link a SysLink notification is about (NM_CLICK, or NM_RETURN
// from the keyboard); "" for any other notification. The header must come
// from a SysLink control: only then is it the start of an NMLINK.
std::wstring ClickedLinkUrl(const NMHDR& header);

// Registers the SysLink window class of the common controls.
void EnsureLinkClass();
