#pragma once
// Pieces both transports share; free of winhttp.h and wininet.h, which cannot
// meet in one translation unit.
#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "util/Digest.h"
#include "util/Handles.h"

namespace download {

// A failed transfer step; the text goes into the DownloadResult.
struct Failure {
    std::wstring text;
};
[[noreturn]] void Fail(const std::wstring& text);
// "<what>: <code> - <system text>"
[[noreturn]] void FailWithCode(const wchar_t* what, DWORD code);

// A redirect from an HTTPS address to a plain HTTP one ends the transfer.
constexpr const wchar_t* kRedirectToHttpRefused = L"Refused a redirect from HTTPS to plain HTTP.";

// Content-Length text as a number; false for anything but plain decimal
// digits that fit 64 bits.
bool ParseContentLength(const wchar_t* text, uint64_t& value);

// Progress of one file, posted to the page: one message per full per cent.
class Progress {
public:
    explicit Progress(HWND window) : window_(window) {}
    void SetLength(bool known, uint64_t length);
    void Add(uint64_t bytes);
    void Complete();
    bool Known() const { return known_; }
    uint64_t Length() const { return length_; }

private:
    HWND window_;
    bool known_ = false;
    uint64_t length_ = 0;
    double progress_ = 0.0;
    double lastPosted_ = 0.0;
};

// The body goes to the part file of its final name (DownloadManager::PartPath)
// and replaces that name only once the transfer succeeded; a file the user
// already had is never touched by a failed download. A transfer that does not
// commit leaves no part file of its target behind, not even one of an earlier run.
class PartFile {
public:
    // finalPath "": no target, nothing to create or clean up.
    explicit PartFile(const std::wstring& finalPath);
    ~PartFile();
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;

    // Replaces a leftover part file. False with the system's error code when
    // no file could be created.
    bool Create(DWORD& error);
    void Write(const void* data, DWORD size);  // throws Failure
    // Closes the writer and reads the size back from the file system.
    void CheckLength(uint64_t length, const wchar_t* openFailure, bool withCode);
    void Commit();  // throws Failure

private:
    std::wstring finalPath_;
    std::wstring partPath_;
    tamsel::FileHandle file_;
    bool committed_ = false;
};

// The SHA-256 digest the configuration states for a download, computed as
// the body is written, so a large file is never read a second time. The
// hashing runs on a thread of its own, beside the transfer: under Wine the
// system's SHA-256 is slower than a TLS download and would otherwise halve it.
class PayloadCheck {
public:
    // "" checks nothing; otherwise 64 hex digits of either case.
    explicit PayloadCheck(const std::string& expectedSha256);
    ~PayloadCheck();
    PayloadCheck(const PayloadCheck&) = delete;
    PayloadCheck& operator=(const PayloadCheck&) = delete;

    void Add(const void* data, DWORD size);
    // Before the part file becomes the download: throws Failure when the
    // digest differs or could not be computed.
    void Verify();

private:
    void Hash();  // the hashing thread
    void Hand(std::vector<char>&& block);

    std::string expected_;
    std::unique_ptr<DigestStream> stream_;
    std::vector<char> block_;  // bytes not yet handed to the hashing thread
    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<std::vector<char>> queue_;
    bool ended_ = false;
    std::thread hasher_;
};

// Before anything is sent: a name that could leave its folder ends the transfer.
void RefuseEscapingName(const std::wstring& name);
// After the response: the path, a name the file system takes, the part file.
void OpenTarget(PartFile& part, const std::wstring& path, DWORD pathError, const std::wstring& name);

// The same path in the extended-length form, which MAX_PATH does not limit.
std::wstring ExtendedLengthPath(const std::wstring& path);

// Waits up to milliseconds; returns early once cancelled is set.
void PauseUnlessCancelled(DWORD milliseconds, const std::atomic<bool>& cancelled);

}  // namespace download
