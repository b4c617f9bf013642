#pragma once
// A machine described by a table, for driving the offer rules directly. Every
// question the rules ask is counted by name.
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "eligibility/MachineFacts.h"

class FactTable : public MachineFacts {
public:
    Measurement disk{true, 100000, ""};
    Measurement memory{true, 8192, ""};
    Measurement processor{true, 2400, ""};
    DWORD windowsMajor = 10, windowsMinor = 0;
    bool wow64 = true;
    std::vector<std::wstring> processes;
    std::set<std::wstring> paths;
    bool chrome = false;
    IeVersion ie;
    std::set<std::wstring> apps;
    int64_t now = 1706702400;
    std::wstring today = L"20240131";
    std::set<std::wstring> keys;
    std::set<std::pair<std::wstring, std::wstring>> values;               // key path, value name
    std::map<std::pair<std::wstring, std::wstring>, std::wstring> data;   // lower-case data of a value
    std::map<std::tuple<std::wstring, std::wstring, std::wstring>, std::wstring> texts;  // root, subkey, name

    std::multiset<std::string> calls;

    Measurement FreeDiskSpaceMiB() override { return Asked("FreeDiskSpaceMiB", disk); }
    Measurement TotalMemoryMiB() override { return Asked("TotalMemoryMiB", memory); }
    Measurement ProcessorSpeedMHz() override { return Asked("ProcessorSpeedMHz", processor); }
    bool IsWindowsAtLeast(DWORD major, DWORD minor) override {
        return Asked("IsWindowsAtLeast", std::make_pair(windowsMajor, windowsMinor) >= std::make_pair(major, minor));
    }
    bool IsUnderWow64() override { return Asked("IsUnderWow64", wow64); }
    std::vector<std::wstring> RunningProcesses() override { return Asked("RunningProcesses", processes); }
    bool AnyPathExists(const std::vector<std::wstring>& list) override {
        bool any = false;
        for (const auto& path : list) any = any || paths.count(path) > 0;
        return Asked("AnyPathExists", any);
    }
    bool ChromePresent() override { return Asked("ChromePresent", chrome); }
    IeVersion InternetExplorerVersion() override { return Asked("InternetExplorerVersion", ie); }
    bool IsAppRegistered(const std::wstring& name) override { return Asked("IsAppRegistered", apps.count(name) > 0); }
    int64_t CurrentUnixSeconds() override { return Asked("CurrentUnixSeconds", now); }
    std::wstring TodayLocalDate() override { return Asked("TodayLocalDate", today); }
    bool KeyExists(const std::wstring& keyPath) override { return Asked("KeyExists", keys.count(keyPath) > 0); }
    bool ValueExists(const std::wstring& keyPath, const std::wstring& name) override {
        return Asked("ValueExists", values.count({keyPath, name}) > 0 || data.count({keyPath, name}) > 0);
    }
    bool ValueDataEquals(const std::wstring& keyPath, const std::wstring& name, const std::wstring& expected) override {
        const auto it = data.find({keyPath, name});
        return Asked("ValueDataEquals", it != data.end() && it->second == expected);
    }
    bool ReadValueAsText(const std::wstring& root, const std::wstring& subkey, const std::wstring& name,
                         std::wstring& text) override {
        const auto it = texts.find({root, subkey, name});
        if (it != texts.end()) text = it->second;
        return Asked("ReadValueAsText", it != texts.end());
    }

private:
    template <typename T>
    T Asked(const char* what, T answer) {
        calls.insert(what);
        return answer;
    }
};
