// One download for bench/run-download.sh, in a process of its own so that the
// memory figures belong to that download alone:
//   download_bench engine URL FOLDER BYTES   DownloadManager::DownloadFile
//   download_bench hashed URL FOLDER BYTES SHA256
//                                            the same, checking the file's digest
//   download_bench bare URL FOLDER BYTES     the plainest WinHTTP read loop
//                                            writing the same file: the floor
// Both run the same way, as on the download page: the transfer on a worker
// thread, a window on the main thread pumping what it posts. Each writes
// FOLDER\<mode>.bin, checks that it holds BYTES bytes, deletes it and prints
// one line "result mode=... seconds=... ..." for the script.
#include <windows.h>
#include <psapi.h>
#include <winhttp.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "download/DownloadManager.h"
#include "util/Handles.h"

namespace {

// User and kernel time of this process so far, in seconds.
double ProcessCpuSeconds() {
    FILETIME created, exited, kernel, user;
    if (!::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
    const auto seconds = [](const FILETIME& t) {
        return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

double Now() {
    LARGE_INTEGER frequency, now;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

std::string Narrow(const std::wstring& w) {
    std::string s;
    for (wchar_t c : w) s += (c < 0x80) ? static_cast<char>(c) : '?';
    return s;
}

PROCESS_MEMORY_COUNTERS_EX Counters() {
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    ::GetProcessMemoryInfo(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                           sizeof counters);
    return counters;
}

// The process's private bytes. Wine's GetProcessMemoryInfo fills only the
// basic counters (PrivateUsage stays 0); there PagefileUsage, the same figure
// on Windows, stands in for it.
struct PrivateBytes {
    SIZE_T bytes;
    bool fromPrivateUsage;
};
PrivateBytes ReadPrivateBytes() {
    const PROCESS_MEMORY_COUNTERS_EX c = Counters();
    return c.PrivateUsage ? PrivateBytes{c.PrivateUsage, true} : PrivateBytes{c.PagefileUsage, false};
}

// Private bytes sampled every few milliseconds while a transfer runs, kept as
// the largest figure of each quarter second. Wine fills PeakPagefileUsage with
// the current figure, not a peak, so the samples are what shows a peak there.
class MemorySampler {
public:
    static constexpr double kSlotSeconds = 0.25;

    // The slots are written before the first sample, so that filling them
    // later adds nothing to what is measured.
    MemorySampler()
        : slots_(4 * 3600, 0),
          origin_(Now()),
          start_(ReadPrivateBytes()),
          stop_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          thread_([this] { Run(); }) {}
    ~MemorySampler() { Stop(); }
    MemorySampler(const MemorySampler&) = delete;
    MemorySampler& operator=(const MemorySampler&) = delete;

    void Stop() {
        if (!thread_.joinable()) return;
        ::SetEvent(stop_.Get());
        thread_.join();
    }
    SIZE_T Start() const { return start_.bytes; }
    const char* Source() const { return start_.fromPrivateUsage ? "PrivateUsage" : "PagefileUsage"; }
    unsigned Samples() const { return samples_; }
    // The largest sample between two fractions of the time sampled.
    SIZE_T Peak(double from = 0, double to = 1) const {
        const size_t first = static_cast<size_t>(from * static_cast<double>(used_));
        size_t last = static_cast<size_t>(to * static_cast<double>(used_) + 0.999);
        last = std::min(std::max(last, first + 1), used_);
        SIZE_T peak = 0;
        for (size_t i = first; i < last; ++i) peak = std::max(peak, slots_[i]);
        return peak;
    }

private:
    void Run() {
        do {
            const PrivateBytes now = ReadPrivateBytes();
            const size_t slot = std::min(static_cast<size_t>((Now() - origin_) / kSlotSeconds), slots_.size() - 1);
            slots_[slot] = std::max(slots_[slot], now.bytes);
            used_ = std::max(used_, slot + 1);
            ++samples_;
        } while (::WaitForSingleObject(stop_.Get(), 5) == WAIT_TIMEOUT);
    }

    std::vector<SIZE_T> slots_;
    size_t used_ = 0;
    double origin_;
    PrivateBytes start_;
    unsigned samples_ = 0;
    tamsel::KernelHandle stop_;
    std::thread thread_;
};

struct Outcome {
    bool ok = false;
    std::wstring failure;
    double seconds = 0;
    unsigned long long reads = 0;  // bare loop only
    unsigned progressMessages = 0;  // engine only
    unsigned lastPercent = 0;
    unsigned sizeUnknown = 0;
    double cpuSeconds = 0;  // of the whole process while the transfer ran
};

// The loop every WinHTTP sample shows: ask what is there, read it, write it.
Outcome BareLoop(const std::wstring& url, const std::wstring& path) {
    Outcome out;
    const double start = Now();
    URL_COMPONENTSW parts{};
    parts.dwStructSize = sizeof parts;
    wchar_t host[256] = {}, object[2048] = {};
    parts.lpszHostName = host;
    parts.dwHostNameLength = 256;
    parts.lpszUrlPath = object;
    parts.dwUrlPathLength = 2048;
    if (!::WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) {
        out.failure = L"WinHttpCrackUrl failed: " + std::to_wstring(::GetLastError());
        return out;
    }
    tamsel::WinHttpHandle session(
        ::WinHttpOpen(L"tamsel-bench", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) {
        out.failure = L"WinHttpOpen failed: " + std::to_wstring(::GetLastError());
        return out;
    }
    tamsel::WinHttpHandle connection(::WinHttpConnect(session.Get(), host, parts.nPort, 0));
    if (!connection) {
        out.failure = L"WinHttpConnect failed: " + std::to_wstring(::GetLastError());
        return out;
    }
    tamsel::WinHttpHandle request(::WinHttpOpenRequest(connection.Get(), L"GET", object, nullptr, WINHTTP_NO_REFERER,
                                                       WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                       parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0));
    if (!request) {
        out.failure = L"WinHttpOpenRequest failed: " + std::to_wstring(::GetLastError());
        return out;
    }
    if (!::WinHttpSendRequest(request.Get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !::WinHttpReceiveResponse(request.Get(), nullptr)) {
        out.failure = L"request failed: " + std::to_wstring(::GetLastError());
        return out;
    }
    DWORD status = 0, size = sizeof status;
    ::WinHttpQueryHeaders(request.Get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                          WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
    if (status != 200) {
        out.failure = L"status " + std::to_wstring(status);
        return out;
    }
    tamsel::FileHandle file(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        out.failure = L"CreateFileW failed: " + std::to_wstring(::GetLastError());
        return out;
    }
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        DWORD available = 0;
        if (!::WinHttpQueryDataAvailable(request.Get(), &available)) {
            out.failure = L"WinHttpQueryDataAvailable failed: " + std::to_wstring(::GetLastError());
            return out;
        }
        if (available == 0) break;
        DWORD read = 0;
        if (!::WinHttpReadData(request.Get(), buffer.data(),
                               std::min<DWORD>(available, static_cast<DWORD>(buffer.size())), &read)) {
            out.failure = L"WinHttpReadData failed: " + std::to_wstring(::GetLastError());
            return out;
        }
        DWORD written = 0;
        if (!::WriteFile(file.Get(), buffer.data(), read, &written, nullptr) || written != read) {
            out.failure = L"WriteFile failed: " + std::to_wstring(::GetLastError());
            return out;
        }
        ++out.reads;
    }
    file.Reset();
    out.seconds = Now() - start;
    out.ok = true;
    return out;
}

constexpr UINT kDone = WM_APP + 1;

// Owns the window the engine posts to.
struct Window {
    HWND handle;
    explicit Window(HWND h) : handle(h) {}
    ~Window() {
        if (handle) ::DestroyWindow(handle);
    }
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;
};

// Runs transfer on a worker while the main thread pumps the window it posts
// to; memory is sampled from the worker's start to its end.
Outcome BesideWindow(const std::function<Outcome(HWND)>& transfer, std::unique_ptr<MemorySampler>& memory) {
    Outcome out;
    const Window window(::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr));
    if (!window.handle) {
        out.failure = L"CreateWindowExW failed: " + std::to_wstring(::GetLastError());
        return out;
    }
    unsigned progressMessages = 0, lastPercent = 0, sizeUnknown = 0;
    memory = std::make_unique<MemorySampler>();
    const double cpuStart = ProcessCpuSeconds();
    std::thread worker([&] {
        out = transfer(window.handle);
        ::PostMessageW(window.handle, kDone, 0, 0);
    });
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == kDone) break;
        if (msg.message == WM_DOWNLOAD_PROGRESS) {
            ++progressMessages;
            lastPercent = static_cast<unsigned>(msg.wParam);
        } else if (msg.message == WM_DOWNLOAD_SIZE_UNKNOWN) {
            ++sizeUnknown;
        }
        ::DispatchMessageW(&msg);
    }
    worker.join();
    const double cpuEnd = ProcessCpuSeconds();
    memory->Stop();
    out.cpuSeconds = cpuEnd - cpuStart;
    out.progressMessages = progressMessages;
    out.lastPercent = lastPercent;
    out.sizeUnknown = sizeUnknown;
    return out;
}

Outcome Engine(const std::wstring& url, HWND window, const std::wstring& folder, const std::wstring& name,
              const std::string& sha256) {
    Outcome out;
    DownloadManager manager;
    manager.downloadFolder = folder;
    manager.tempFolder = folder;
    manager.showMessage = [&out](const std::wstring& text) { out.failure += L"message: " + text + L"; "; };
    const double start = Now();
    const DownloadResult result = manager.DownloadFile(url, window, name, false, sha256);
    out.seconds = Now() - start;
    // A success through the WinINet fallback is not the transfer measured here.
    out.ok = result.first && result.second.empty();
    out.failure += result.second;
    return out;
}

unsigned long long FileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::string Number(unsigned long long n) { return std::to_string(n); }

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring mode = argc == 5 || argc == 6 ? argv[1] : L"";
    if ((mode != L"engine" && mode != L"bare" && mode != L"hashed") || (mode == L"hashed") != (argc == 6)) {
        std::fwprintf(stderr, L"usage: download_bench engine|bare URL FOLDER BYTES | hashed URL FOLDER BYTES SHA256\n");
        return 2;
    }
    const std::string sha256 = mode == L"hashed" ? Narrow(argv[5]) : std::string();
    const std::wstring url = argv[2];
    const std::wstring folder = argv[3];
    const unsigned long long expected = std::wcstoull(argv[4], nullptr, 10);
    const std::wstring name = mode + L".bin";
    const std::wstring path = folder + L"\\" + name;
    ::DeleteFileW(path.c_str());

    std::unique_ptr<MemorySampler> memory;
    const Outcome out = BesideWindow(
        [&](HWND window) { return mode == L"bare" ? BareLoop(url, path) : Engine(url, window, folder, name, sha256); },
        memory);
    const PROCESS_MEMORY_COUNTERS_EX end = Counters();
    const unsigned long long size = FileSize(path);
    ::DeleteFileW(path.c_str());

    if (!out.ok || size != expected || !memory) {
        std::printf("failed mode=%s size=%s expected=%s: %s\n", Narrow(mode).c_str(), Number(size).c_str(),
                    Number(expected).c_str(), Narrow(out.failure).c_str());
        return 1;
    }
    std::printf(
        "result mode=%s bits=%d seconds=%.3f cpu_seconds=%.3f bytes=%s private_start=%s private_peak=%s peak_pagefile=%s "
        "private_first_quarter=%s private_last_quarter=%s source=%s samples=%u reads=%s progress_messages=%u "
        "last_percent=%u size_unknown=%u\n",
        Narrow(mode).c_str(), static_cast<int>(sizeof(void*) * 8), out.seconds, out.cpuSeconds, Number(size).c_str(),
        Number(memory->Start()).c_str(), Number(memory->Peak()).c_str(), Number(end.PeakPagefileUsage).c_str(),
        Number(memory->Peak(0, 0.25)).c_str(), Number(memory->Peak(0.75, 1)).c_str(), memory->Source(),
        memory->Samples(), Number(out.reads).c_str(), out.progressMessages, out.lastPercent, out.sizeUnknown);
    return 0;
}
