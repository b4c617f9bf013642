#include "DetachedThread.h"

#include <windows.h>
#include <process.h>

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

bool StartDetachedThread(std::function<void()> work, unsigned long* error) {
    auto owned = std::make_unique<std::function<void()>>(std::move(work));
    const uintptr_t started = ::_beginthreadex(nullptr, 0, RunWork, owned.get(), 0, nullptr);
    if (started == 0) {
        const DWORD code = ::GetLastError();
        if (error) *error = code;
        return false;
    }
    owned.release();  // the thread owns it now
    tamsel::KernelHandle thread(reinterpret_cast<HANDLE>(started));  // not waited for
    return true;
}
