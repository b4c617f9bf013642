#include "DetachedThread.h"

#include <windows.h>
#include <process.h>

#include <cerrno>
#include <memory>

#include "Handles.h"

namespace {

unsigned __stdcall RunWork(void* argument) {
    std::unique_ptr<std::function<void()>> work(static_cast<std::function<void()>*>(argument));
    try {
        (*work)();
    } catch (...) {
        // Nothing above this frame could take it; the work reports its own failures.
    }
    return 0;
}

}  // namespace

unsigned long ThreadStartError(unsigned long lastError, int errnoValue) {
    if (lastError != 0) return lastError;
    switch (errnoValue) {
    case EINVAL:
        return ERROR_INVALID_PARAMETER;
    case EACCES:
        return ERROR_ACCESS_DENIED;
    default:  // EAGAIN (too many threads), ENOMEM, or nothing said
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

bool StartDetachedThread(std::function<void()> work, unsigned long* error) {
    auto owned = std::make_unique<std::function<void()>>(std::move(work));
    ::SetLastError(0);
    errno = 0;
    const uintptr_t started = ::_beginthreadex(nullptr, 0, RunWork, owned.get(), 0, nullptr);
    if (started == 0) {
        const DWORD lastError = ::GetLastError();
        if (error) *error = ThreadStartError(lastError, errno);
        return false;
    }
    owned.release();  // the thread owns it now
    tamsel::KernelHandle thread(reinterpret_cast<HANDLE>(started));  // not waited for
    return true;
}
