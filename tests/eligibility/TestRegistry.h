#pragma once
// Keys and values the eligibility tests create in the prefix's real registry,
// removed again when the owner goes out of scope.
#include <windows.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "util/Handles.h"

namespace testreg {

// A name no other run of the tests uses at the same time.
inline std::wstring Unique(const std::wstring& stem) { return stem + std::to_wstring(::GetCurrentProcessId()); }

// KEY_WOW64_64KEY reaches the native branch, KEY_WOW64_32KEY the redirected
// one; on a 32-bit Windows both are the same single branch.
class ScopedKey {
public:
    // Creates parent\name (and any missing keys between) and deletes the tree
    // below parent\top when destroyed, where top is the first piece of name.
    ScopedKey(HKEY root, const std::wstring& parent, const std::wstring& name, REGSAM view)
        : root_(root), parent_(parent), top_(name.substr(0, name.find(L'\\'))), view_(view) {
        const std::wstring path = parent + L"\\" + name;
        const LSTATUS status = ::RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                                 KEY_ALL_ACCESS | view, nullptr, key_.Put(), nullptr);
        if (status != ERROR_SUCCESS) throw std::runtime_error("RegCreateKeyExW failed: " + std::to_string(status));
    }
    ~ScopedKey() {
        tamsel::RegKey parent;
        if (::RegOpenKeyExW(root_, parent_.c_str(), 0, KEY_ALL_ACCESS | view_, parent.Put()) == ERROR_SUCCESS) {
            key_.Reset();
            ::RegDeleteTreeW(parent.Get(), top_.c_str());
            ::RegDeleteKeyExW(parent.Get(), top_.c_str(), view_, 0);
        }
    }
    ScopedKey(const ScopedKey&) = delete;
    ScopedKey& operator=(const ScopedKey&) = delete;

    HKEY Get() const { return key_.Get(); }

    void SetString(const std::wstring& name, const std::wstring& data) const {
        Set(name, REG_SZ, data.c_str(), static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    }
    void SetDword(const std::wstring& name, DWORD data) const { Set(name, REG_DWORD, &data, sizeof data); }
    void SetQword(const std::wstring& name, uint64_t data) const { Set(name, REG_QWORD, &data, sizeof data); }
    void Set(const std::wstring& name, DWORD type, const void* data, DWORD bytes) const {
        const LSTATUS status =
            ::RegSetValueExW(key_.Get(), name.c_str(), 0, type, static_cast<const BYTE*>(data), bytes);
        if (status != ERROR_SUCCESS) throw std::runtime_error("RegSetValueExW failed: " + std::to_string(status));
    }

private:
    HKEY root_;
    std::wstring parent_;
    std::wstring top_;
    REGSAM view_;
    tamsel::RegKey key_;
};

}  // namespace testreg
