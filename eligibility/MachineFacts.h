#pragma once
// What the offer rules may ask about the machine. The rules decide; an
// implementation of this interface measures. SystemFacts asks the real
// machine and keeps the costly answers for as long as it lives (one filter
// run); tests give the rules tables of facts instead.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "Probes.h"

class MachineFacts {
public:
    virtual ~MachineFacts() = default;

    virtual Measurement FreeDiskSpaceMiB() = 0;
    virtual Measurement TotalMemoryMiB() = 0;
    virtual Measurement ProcessorSpeedMHz() = 0;
    virtual bool IsWindowsAtLeast(DWORD major, DWORD minor) = 0;
    virtual bool IsUnderWow64() = 0;
    virtual std::vector<std::wstring> RunningProcesses() = 0;
    virtual bool AnyPathExists(const std::vector<std::wstring>& paths) = 0;
    virtual bool ChromePresent() = 0;
    virtual IeVersion InternetExplorerVersion() = 0;
    virtual bool IsAppRegistered(const std::wstring& name) = 0;
    virtual int64_t CurrentUnixSeconds() = 0;
    virtual std::wstring TodayLocalDate() = 0;

    // Registry, given full lower-case candidate paths (win32::ExpandKeyPath).
    virtual bool KeyExists(const std::wstring& keyPath) = 0;
    // Whether the key holds a value of that name, of any type.
    virtual bool ValueExists(const std::wstring& keyPath, const std::wstring& valueName) = 0;
    // Whether the value exists and holds the expected (lower-case) data.
    // Throws when the data is a number and expected is not.
    virtual bool ValueDataEquals(const std::wstring& keyPath, const std::wstring& valueName,
                                 const std::wstring& expected) = 0;
    // win32::ReadValueAsText.
    virtual bool ReadValueAsText(const std::wstring& rootName, const std::wstring& subkey,
                                 const std::wstring& valueName, std::wstring& text) = 0;
};

class SystemFacts : public MachineFacts {
public:
    // folders: what "{commonpf}" and the other folder placeholders stand for;
    // sources: where memory, processor and disk are measured.
    explicit SystemFacts(FolderPlaceholderList folders = {}, ProbeSources sources = {});
    Measurement FreeDiskSpaceMiB() override;
    Measurement TotalMemoryMiB() override;
    Measurement ProcessorSpeedMHz() override;
    bool IsWindowsAtLeast(DWORD major, DWORD minor) override;
    bool IsUnderWow64() override;
    std::vector<std::wstring> RunningProcesses() override;
    bool AnyPathExists(const std::vector<std::wstring>& paths) override;
    bool ChromePresent() override;
    IeVersion InternetExplorerVersion() override;
    bool IsAppRegistered(const std::wstring& name) override;
    int64_t CurrentUnixSeconds() override;
    std::wstring TodayLocalDate() override;
    bool KeyExists(const std::wstring& keyPath) override;
    bool ValueExists(const std::wstring& keyPath, const std::wstring& valueName) override;
    bool ValueDataEquals(const std::wstring& keyPath, const std::wstring& valueName,
                         const std::wstring& expected) override;
    bool ReadValueAsText(const std::wstring& rootName, const std::wstring& subkey, const std::wstring& valueName,
                         std::wstring& text) override;

private:
    ProbeCache cache_;
};
