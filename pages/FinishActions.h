#pragma once
// What the finish pages hand to the shell, decided apart from the shell.
#include <windows.h>

#include <functional>
#include <optional>
#include <string>

// Opens file with the shell's "open" verb and these parameters ("" for none).
using ShellOpener = std::function<void(const std::wstring& file, const std::wstring& parameters)>;

// The shell itself: no error box, and the launch is complete before it
// returns, because the wizard ends right after Finish.
ShellOpener ShellExecuteOpener();

struct ShellCall {
    std::wstring file;
    std::wstring parameters;
};

enum class DlmFinishChoice { None, Launch, OpenFolder };

// A drive path ("C:\...") or a UNC path ("\\server\share..."): a name the
// shell will not look for along the search path.
bool IsFullPath(const std::wstring& path);

// The shell takes no path of MAX_PATH characters or more (Wine's ends or
// hangs the process on long ones); the wizard writes no such file anyway.
constexpr size_t kShellPathLimit = MAX_PATH;

// A full path short enough for the shell.
bool IsShellPath(const std::wstring& path);

// Explorer's "/select,"<path>"", or nothing for a path that cannot be quoted
// safely: not a shell path, holding a double quote or a control character
// (which no file name has, and which would end or split the quoted part), or
// ending in a separator (a quote after a backslash would be taken as escaped).
std::optional<std::wstring> ExplorerSelectParameters(const std::wstring& path);

// The DLM finish page's call for the chosen radio button: the downloaded file
// itself, or Explorer from the Windows folder with the file selected. Nothing
// when there is no usable path or Windows folder: an elevated wizard never
// lets the shell search for either name.
std::optional<ShellCall> DlmFinishCall(DlmFinishChoice choice, const std::wstring& downloadedFilePath,
                                       const std::wstring& windowsFolder);

// The ISV finish page's call: the expanded launch command with its
// parameters when the box is checked and there is a command the shell takes.
std::optional<ShellCall> IsvFinishCall(bool launchChecked, const std::wstring& expandedCommand,
                                       const std::wstring& parameters);

// The system's Windows folder ("" when it cannot be read).
std::wstring SystemWindowsFolder();

// Takes the minimise box off a top-level window and redraws its frame now.
void RemoveMinimizeBox(HWND window);
