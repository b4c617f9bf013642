/* A harmless stand-in installer for the demo: it records that it ran, with
 * its command line, in %ProgramData%\TamselDemo\<name>.installed, and exits.
 * "/exit=N" on the command line makes it fail with exit code N instead and
 * write nothing, to try failure paths. A forced install ("/FORCEINSTALL", the
 * installer wizard's switch) also leaves the "installed program", a copy of
 * itself, at %ProgramData%\TamselDemo\<name>.exe; started with "/launched" it
 * records that run in <name>.launched instead.
 * Built once per demo package with -DDEMO_NAME=L"name". */
#include <stdlib.h>
#include <wchar.h>
#include <windows.h>

#ifndef DEMO_NAME
#error "DEMO_NAME must be defined"
#endif

static int ExitCodeFrom(const wchar_t *cmd) {
  const wchar_t *p = wcsstr(cmd, L"/exit=");
  return p ? _wtoi(p + 6) : 0;
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR args, int show) {
  (void)instance;
  (void)previous;
  (void)show;
  const int code = ExitCodeFrom(args);
  if (code != 0) return code;

  wchar_t dir[MAX_PATH];
  DWORD n = GetEnvironmentVariableW(L"ProgramData", dir, MAX_PATH);
  if (n == 0 || n >= MAX_PATH - 40) {
    n = GetTempPathW(MAX_PATH, dir);
    if (n == 0 || n >= MAX_PATH - 40) return 1;
  }
  wcscat(dir, L"\\TamselDemo");
  CreateDirectoryW(dir, NULL);

  wchar_t path[MAX_PATH + 64];
  if (wcsstr(args, L"/FORCEINSTALL")) {
    wcscpy(path, dir);
    wcscat(path, L"\\" DEMO_NAME L".exe");
    wchar_t self[MAX_PATH];
    const DWORD length = GetModuleFileNameW(NULL, self, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || !CopyFileW(self, path, FALSE)) return 1;
  }
  wcscpy(path, dir);
  wcscat(path, wcsstr(args, L"/launched") ? L"\\" DEMO_NAME L".launched" : L"\\" DEMO_NAME L".installed");
  HANDLE f = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (f == INVALID_HANDLE_VALUE) return 1;
  const wchar_t *cmd = GetCommandLineW();
  char text[4096];
  int len = WideCharToMultiByte(CP_UTF8, 0, cmd, -1, text, sizeof text - 2, NULL, NULL);
  if (len > 0) {
    text[len - 1] = '\r';
    text[len] = '\n';
    DWORD written = 0;
    WriteFile(f, text, (DWORD)len + 1, &written, NULL);
  }
  CloseHandle(f);
  return 0;
}
