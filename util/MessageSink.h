#pragma once
#include <functional>
#include <string>

// Shows a message to the user; the program uses a message box, tests record.
using MessageSink = std::function<void(const std::wstring& text)>;
MessageSink MessageBoxSink();
