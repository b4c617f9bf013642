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
    // Creates parent\name and any missing keys on the way; when destroyed,
    // deletes the tree of the first key it had to create, so nothing that
    // was there before is touched and nothing it made is left behind.
    ScopedKey(HKEY root, const std::wstring& parent, const std::wstring& name, REGSAM view)
        : root_(root), view_(view) {
        const std::wstring path = parent + L"\\" + name;
        std::wstring existing;
        for (size_t start = 0; start <= path.size();) {
            size_t end = path.find(L'\\', start);
            if (end == std::wstring::npos) end = path.size();
            const std::wstring next = path.substr(0, end);
            tamsel::RegKey probe;
            if (::RegOpenKeyExW(root, next.c_str(), 0, KEY_READ | view, probe.Put()) != ERROR_SUCCESS) {
                createdParent_ = existing;
                createdName_ = path.substr(start, end - start);
                break;
            }
            existing = next;
            start = end + 1;
        }
        const LSTATUS status = ::RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                                 KEY_ALL_ACCESS | view, nullptr, key_.Put(), nullptr);
        if (status != ERROR_SUCCESS) throw std::runtime_error("RegCreateKeyExW failed: " + std::to_string(status));
    }
    ~ScopedKey() {
        key_.Reset();
        if (createdName_.empty()) return;
        tamsel::RegKey parent;
        if (::RegOpenKeyExW(root_, createdParent_.c_str(), 0, KEY_ALL_ACCESS | view_, parent.Put()) == ERROR_SUCCESS) {
            ::RegDeleteTreeW(parent.Get(), createdName_.c_str());
            ::RegDeleteKeyExW(parent.Get(), createdName_.c_str(), view_, 0);
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
    REGSAM view_;
    std::wstring createdParent_;  // "" is the root itself
    std::wstring createdName_;    // "" when the key was there before
    tamsel::RegKey key_;
};

}  // namespace testreg
