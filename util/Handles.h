#pragma once
// Owning wrappers for the system's handles: every handle the program opens is
// closed by its owner, on every path, by exactly one of these.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <utility>

namespace tamsel {

// A movable, non-copyable owner of one handle value; Traits says what "none"
// is and how to close.
template <typename Traits>
class UniqueHandle {
public:
    using Value = typename Traits::Value;

    UniqueHandle() noexcept : value_(Traits::Invalid()) {}
    explicit UniqueHandle(Value v) noexcept : value_(v) {}
    ~UniqueHandle() { Reset(); }

    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : value_(other.Release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }

    Value Get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != Traits::Invalid(); }

    Value Release() noexcept { return std::exchange(value_, Traits::Invalid()); }
    void Reset(Value v = Traits::Invalid()) noexcept {
        Value old = std::exchange(value_, v);
        if (old != Traits::Invalid()) Traits::Close(old);
    }
    // For out-parameters of creating calls: closes what was held first.
    Value* Put() noexcept {
        Reset();
        return &value_;
    }

private:
    Value value_;
};

struct KernelHandleTraits {  // CreateMutex, CreateProcess, CreateFile (not INVALID_HANDLE_VALUE)
    using Value = HANDLE;
    static Value Invalid() noexcept { return nullptr; }
    static void Close(Value h) noexcept { ::CloseHandle(h); }
};
struct FileHandleTraits {  // CreateFile and snapshots report failure as INVALID_HANDLE_VALUE
    using Value = HANDLE;
    static Value Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Value h) noexcept { ::CloseHandle(h); }
};
struct FindHandleTraits {  // FindFirstFile
    using Value = HANDLE;
    static Value Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Value h) noexcept { ::FindClose(h); }
};
struct RegKeyTraits {
    using Value = HKEY;
    static Value Invalid() noexcept { return nullptr; }
    static void Close(Value h) noexcept { ::RegCloseKey(h); }
};
struct GdiObjectTraits {
    using Value = HGDIOBJ;
    static Value Invalid() noexcept { return nullptr; }
    static void Close(Value h) noexcept { ::DeleteObject(h); }
};
struct GlobalMemoryTraits {
    using Value = HGLOBAL;
    static Value Invalid() noexcept { return nullptr; }
    static void Close(Value h) noexcept { ::GlobalFree(h); }
};
struct ModuleTraits {
    using Value = HMODULE;
    static Value Invalid() noexcept { return nullptr; }
    static void Close(Value h) noexcept { ::FreeLibrary(h); }
};
// winhttp.h and wininet.h cannot share a translation unit, so their closers
// live in separate sources and are only declared here.
struct WinHttpHandleTraits {
    using Value = void*;
    static Value Invalid() noexcept { return nullptr; }
    static void Close(Value h) noexcept;
};
struct WinInetHandleTraits {
    using Value = void*;
    static Value Invalid() noexcept { return nullptr; }
    static void Close(Value h) noexcept;
};
struct ComStringTraits {  // SysAllocString, SysAllocStringLen
    using Value = BSTR;
    static Value Invalid() noexcept { return nullptr; }
    static void Close(Value s) noexcept { ::SysFreeString(s); }
};
struct CryptProviderTraits {
    using Value = ULONG_PTR;  // HCRYPTPROV
    static Value Invalid() noexcept { return 0; }
    static void Close(Value h) noexcept;
};
struct CryptHashTraits {
    using Value = ULONG_PTR;  // HCRYPTHASH
    static Value Invalid() noexcept { return 0; }
    static void Close(Value h) noexcept;
};

using KernelHandle = UniqueHandle<KernelHandleTraits>;
using FileHandle = UniqueHandle<FileHandleTraits>;
using FindHandle = UniqueHandle<FindHandleTraits>;
using RegKey = UniqueHandle<RegKeyTraits>;
using GdiObject = UniqueHandle<GdiObjectTraits>;
using GlobalMemory = UniqueHandle<GlobalMemoryTraits>;
using ModuleHandle = UniqueHandle<ModuleTraits>;
using WinHttpHandle = UniqueHandle<WinHttpHandleTraits>;
using WinInetHandle = UniqueHandle<WinInetHandleTraits>;
using ComString = UniqueHandle<ComStringTraits>;
using CryptProvider = UniqueHandle<CryptProviderTraits>;
using CryptHash = UniqueHandle<CryptHashTraits>;

// A COM interface pointer that releases its reference.
template <typename T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    ~ComPtr() { Reset(); }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    ComPtr& operator=(ComPtr&& o) noexcept {
        if (this != &o) {
            Reset();
            p_ = std::exchange(o.p_, nullptr);
        }
        return *this;
    }
    T* Get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    T** Put() noexcept {
        Reset();
        return &p_;
    }
    void Reset() noexcept {
        if (p_) std::exchange(p_, nullptr)->Release();
    }

private:
    T* p_ = nullptr;
};

// COM initialised for the current thread for as long as the scope lives.
class ComScope {
public:
    explicit ComScope(DWORD model = COINIT_APARTMENTTHREADED) noexcept
        : hr_(::CoInitializeEx(nullptr, model)) {}
    ~ComScope() {
        if (SUCCEEDED(hr_)) ::CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;
    HRESULT Result() const noexcept { return hr_; }

private:
    HRESULT hr_;
};

// Memory the system allocated for us with CoTaskMemAlloc.
template <typename T>
class CoTaskMem {
public:
    CoTaskMem() noexcept = default;
    ~CoTaskMem() { ::CoTaskMemFree(p_); }
    CoTaskMem(const CoTaskMem&) = delete;
    CoTaskMem& operator=(const CoTaskMem&) = delete;
    T* Get() const noexcept { return p_; }
    T** Put() noexcept {
        ::CoTaskMemFree(p_);
        p_ = nullptr;
        return &p_;
    }

private:
    T* p_ = nullptr;
};

}  // namespace tamsel
