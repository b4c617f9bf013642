#pragma once
#include <functional>

// Runs work on a new thread that nobody waits for. These are CRT threads, not
// std::thread: detached winpthreads threads were seen to hang the process
// under load (Wine), while plain Windows threads do not.
// Returns false, with the system's error code in *error, when no thread could
// be started; work has then not run.
bool StartDetachedThread(std::function<void()> work, unsigned long* error = nullptr);

// The system error code of a failed _beginthreadex: the thread's last error
// when the system refused (cleared before the call, so never a stale one),
// otherwise the C runtime's errno turned into the nearest system code.
unsigned long ThreadStartError(unsigned long lastError, int errnoValue);
