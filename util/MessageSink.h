#pragma once
#include <functional>
#include <string>

// Shows a message to the user; the program uses a message box, tests record.
using MessageSink = std::function<void(const std::wstring& text)>;
// A message box with the system's caption ("Error").
MessageSink MessageBoxSink();
// A message box with the program's caption: its title string (IDS_APP_TITLE),
// else the program file's name without its extension.
MessageSink ApplicationMessageBoxSink();
std::wstring ApplicationTitle();
