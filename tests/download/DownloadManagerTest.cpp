// The download engine against a loopback server of its own (plain HTTP and
// HTTPS): redirects, statuses, lengths, progress, cancellation, and what a
// failed download leaves on disk.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <fstream>
#include <future>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "common/TestEnvironment.h"
#include "download/DownloadManager.h"
#include "util/Handles.h"

namespace {

std::wstring Widen(const std::string& s) { return std::wstring(s.begin(), s.end()); }

std::wstring Http(const std::wstring& path) {
    return L"http://127.0.0.1:" + Widen(testenv::Get("TAMSEL_TEST_HTTP_PORT")) + path;
}
std::wstring Https(const std::wstring& path) {
    return L"https://localhost:" + Widen(testenv::Get("TAMSEL_TEST_HTTPS_PORT")) + path;
}

// What the server sends for N bytes.
std::string Body(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + 3) % 251);
    return s;
}

std::string ReadAll(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const std::wstring& path, const std::string& data) {
    std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
    out << data;
}

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::vector<std::wstring> ListFolder(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (::FindNextFileW(find, &data));
    ::FindClose(find);
    return names;
}

void RemoveTree(const std::wstring& folder) {
    for (const auto& name : ListFolder(folder)) {
        const std::wstring path = folder + L"\\" + name;
        if (::GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY)
            RemoveTree(path);
        else if (::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL))
            ::DeleteFileW(path.c_str());
    }
    ::RemoveDirectoryW(folder.c_str());
}

// How often the server was asked for a key, and how many body bytes it wrote.
struct Sent {
    unsigned long long requests = 0, bytes = 0;
};

// The messages a download posted to the test's window.
struct Posted {
    std::vector<unsigned> percents;
    int sizeUnknown = 0;
};

class DownloadTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(testenv::Get("TAMSEL_TEST_HTTP_PORT").empty()) << "run through run-with-server.sh";
        wchar_t temp[MAX_PATH];
        ::GetTempPathW(MAX_PATH, temp);
        outer_ = std::wstring(temp) + L"tamsel-download-" + std::to_wstring(::GetCurrentProcessId());
        RemoveTree(outer_);
        folder_ = outer_ + L"\\inner";
        tempFolder_ = outer_ + L"\\temp";
        ASSERT_TRUE(::CreateDirectoryW(outer_.c_str(), nullptr));
        ASSERT_TRUE(::CreateDirectoryW(folder_.c_str(), nullptr));
        ASSERT_TRUE(::CreateDirectoryW(tempFolder_.c_str(), nullptr));
        manager_ = GetDownloadManager();
        manager_->downloadFolder = folder_;
        manager_->tempFolder = tempFolder_;
        manager_->cancelled = false;
        manager_->showMessage = [this](const std::wstring& text) { messages_.push_back(text); };
        window_ = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        ASSERT_NE(window_, nullptr);
    }
    void TearDown() override {
        if (!manager_) return;  // SetUp failed early
        manager_->cancelled = false;
        if (window_) ::DestroyWindow(window_);
        RemoveTree(outer_);
    }

    Posted Drain() {
        Posted posted;
        MSG msg;
        while (::PeekMessageW(&msg, window_, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_DOWNLOAD_PROGRESS) posted.percents.push_back(static_cast<unsigned>(msg.wParam));
            if (msg.message == WM_DOWNLOAD_SIZE_UNKNOWN) ++posted.sizeUnknown;
        }
        return posted;
    }

    DownloadResult Download(const std::wstring& url, const std::wstring& name = L"out.bin") {
        return manager_->DownloadFile(url, window_, name, false);
    }

    // DownloadFile (WinHTTP, then WinINet) or the WinINet transfer alone.
    enum class Transport { WinHttpFirst, WinInet };
    DownloadResult Download(Transport transport, const std::wstring& url, const std::wstring& name) {
        return transport == Transport::WinHttpFirst ? manager_->DownloadFile(url, window_, name, false)
                                                    : manager_->DownloadFileWinInet(url, window_, name, false);
    }

    // Pumps the window until a download running elsewhere posts its first
    // per cent; false when it ended without one.
    bool WaitForProgress(std::future<DownloadResult>& running) {
        for (;;) {
            const bool ended = running.wait_for(std::chrono::milliseconds(10)) == std::future_status::ready;
            MSG msg;
            while (::PeekMessageW(&msg, window_, 0, 0, PM_REMOVE)) {
                if (msg.message == WM_DOWNLOAD_PROGRESS) return true;
            }
            if (ended) return false;
        }
    }

    Sent ServerSent(const std::wstring& key) {
        const DownloadBuffer text = manager_->DownloadToMemory(Http(L"/sent/" + key));
        Sent s;
        std::sscanf(std::string(text.begin(), text.end()).c_str(), "%llu %llu", &s.requests, &s.bytes);
        return s;
    }

    std::wstring outer_, folder_, tempFolder_;
    std::shared_ptr<DownloadManager> manager_;
    std::vector<std::wstring> messages_;
    HWND window_ = nullptr;
};

TEST_F(DownloadTest, RedirectsAreFollowedUpToFive) {
    struct Case {
        std::wstring url;
        std::wstring text;  // "": WinHTTP succeeded
    };
    const Case cases[] = {
        {Http(L"/redirect/1"), L""},
        {Http(L"/redirect/5"), L""},
        {Https(L"/redirect/5"), L""},
        // WinHTTP gives up; WinINet follows the chain on its own.
        {Http(L"/redirect/6"), L"[WINHTTP] Too many redirects."},
        {Https(L"/redirect/6"), L"[WINHTTP] Too many redirects."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.url.begin(), c.url.end()));
        const DownloadResult result = Download(c.url);
        EXPECT_TRUE(result.first);
        EXPECT_EQ(result.second, c.text);
        EXPECT_EQ(ReadAll(folder_ + L"\\out.bin"), "done");
        EXPECT_EQ(manager_->lastFilePath, folder_ + L"\\out.bin");
        EXPECT_EQ(ListFolder(folder_).size(), 1u);
    }
}

TEST_F(DownloadTest, NotFoundFailsOnBothTransports) {
    const DownloadResult result = Download(Http(L"/status/404"));
    EXPECT_FALSE(result.first);
    const std::wstring expected = L"[WINHTTP] Download failed: Server returned status code: 404"
                                  L" [WININET] Server returned status code: HTTP 404 - ";
    EXPECT_EQ(result.second.substr(0, expected.size()), expected) << std::string(result.second.begin(), result.second.end());
    EXPECT_TRUE(ListFolder(folder_).empty());
}

TEST_F(DownloadTest, NoContentIsAWinHttpSuccess) {
    const DownloadResult result = Download(Http(L"/status/204"));
    EXPECT_TRUE(result.first);
    EXPECT_EQ(result.second, L"");
    EXPECT_TRUE(Exists(folder_ + L"\\out.bin"));
    EXPECT_EQ(ReadAll(folder_ + L"\\out.bin"), "");
}

TEST_F(DownloadTest, ProgressFollowsTheChunks) {
    struct Case {
        std::wstring url;
        std::vector<unsigned> percents;
    };
    const Case cases[] = {
        {Http(L"/file/1000?chunks=4"), {25, 50, 75, 100, 100}},
        {Http(L"/file/1000?chunks=10"), {10, 20, 30, 40, 50, 60, 70, 80, 89, 99, 100}},
        {Https(L"/file/1000?chunks=4"), {25, 50, 75, 100, 100}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.url.begin(), c.url.end()));
        const DownloadResult result = Download(c.url);
        EXPECT_TRUE(result.first);
        EXPECT_EQ(result.second, L"");
        const Posted posted = Drain();
        EXPECT_EQ(posted.percents, c.percents);
        EXPECT_EQ(posted.sizeUnknown, 0);
        EXPECT_TRUE(ReadAll(folder_ + L"\\out.bin") == Body(1000));
    }
}

TEST_F(DownloadTest, MissingLengthPostsSizeUnknownOnce) {
    const DownloadResult result = Download(Http(L"/nolength/5000"));
    EXPECT_TRUE(result.first);
    EXPECT_EQ(result.second, L"");
    const Posted posted = Drain();
    EXPECT_EQ(posted.sizeUnknown, 1);
    EXPECT_TRUE(posted.percents.empty());
    EXPECT_TRUE(ReadAll(folder_ + L"\\out.bin") == Body(5000));
}

TEST_F(DownloadTest, ShortBodyIsIncomplete) {
    const DownloadResult result = Download(Http(L"/short"));
    EXPECT_FALSE(result.first);
    const std::wstring incomplete = L"Download was incomplete: content length: 5000, downloaded: 3000";
    EXPECT_EQ(result.second, L"[WINHTTP] " + incomplete + L" [WININET] " + incomplete);
    EXPECT_TRUE(ListFolder(folder_).empty());
}

TEST_F(DownloadTest, BrokenBodyWithoutLengthIsAFailure) {
    // A connection reset midway: a truncated file must not count as
    // downloaded on either transport.
    const DownloadResult result = Download(Http(L"/reset"));
    EXPECT_FALSE(result.first) << std::string(result.second.begin(), result.second.end());
    EXPECT_NE(result.second.find(L"[WINHTTP] "), std::wstring::npos);
    EXPECT_NE(result.second.find(L" [WININET] "), std::wstring::npos);
    EXPECT_TRUE(ListFolder(folder_).empty());
}

TEST_F(DownloadTest, BadRedirectLocationsFailWinHttpSafely) {
    struct Case {
        std::wstring url;
        std::wstring winHttp;
    };
    const Case cases[] = {
        {Http(L"/longlocation"), L"[WINHTTP] Redirect location longer than 129 characters."},
        {Http(L"/nolocation"), L"[WINHTTP] Failed to read redirect location: 12150 - "},
        {Http(L"/relative"), L"[WINHTTP] Failed to parse URL: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.url.begin(), c.url.end()));
        const DownloadResult result = Download(c.url);
        EXPECT_EQ(result.second.substr(0, c.winHttp.size()), c.winHttp)
            << std::string(result.second.begin(), result.second.end());
    }
}

TEST_F(DownloadTest, ExistingFileSurvivesAFailedDownload) {
    const std::string mine = "the user's own file\r\n\x01\x02";
    // The file of the last success stays the last file through failures.
    manager_->lastFilePath = L"C:\\earlier\\product.exe";
    for (const std::wstring& url : {Http(L"/status/404"), Http(L"/short"), Http(L"/reset")}) {
        SCOPED_TRACE(std::string(url.begin(), url.end()));
        WriteAll(folder_ + L"\\keep.bin", mine);
        EXPECT_FALSE(Download(url, L"keep.bin").first);
        EXPECT_TRUE(ReadAll(folder_ + L"\\keep.bin") == mine);
        EXPECT_EQ(ListFolder(folder_), std::vector<std::wstring>{L"keep.bin"});
        EXPECT_EQ(manager_->lastFilePath, L"C:\\earlier\\product.exe");
    }
    // A successful download does replace it.
    EXPECT_TRUE(Download(Http(L"/redirect/0"), L"keep.bin").first);
    EXPECT_EQ(ReadAll(folder_ + L"\\keep.bin"), "done");
    EXPECT_EQ(manager_->lastFilePath, folder_ + L"\\keep.bin");
}

TEST_F(DownloadTest, HostileNamesWriteNothingOutsideTheFolder) {
    struct Case {
        std::wstring url;
        std::wstring fileName;
    };
    const Case cases[] = {
        {Http(L"/file/10"), L"..\\outside.bin"},
        {Http(L"/file/10"), L".."},
        {Http(L"/file/10"), L"C:outside.bin"},
        {Http(L"/file/10"), L"C:\\outside.bin"},
        {Http(L"/file/10"), L"sub/../../outside.bin"},
        {Http(L"/file/10"), L"CON"},
        {Http(L"/file/10"), L"nul.txt"},
        {Http(L"/file/10"), L"outside.bin."},
        // The name after the URL's last "/".
        {Http(L"/file/10?n=..\\..\\outside.bin"), L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.fileName.begin(), c.fileName.end()));
        const DownloadResult result = Download(c.url, c.fileName);
        EXPECT_FALSE(result.first);
        EXPECT_EQ(manager_->BuildTargetPath(c.url, c.fileName, false), L"");
        const std::wstring name = DownloadManager::TargetName(c.url, c.fileName);
        const std::wstring text = L"Not a plain file name: \"" + name + L"\"";
        EXPECT_EQ(result.second, L"[WINHTTP] " + text + L" [WININET] " + text);
        EXPECT_TRUE(ListFolder(folder_).empty());
        EXPECT_EQ(ListFolder(outer_), (std::vector<std::wstring>{L"inner", L"temp"}));
        EXPECT_FALSE(Exists(L"C:\\outside.bin"));
    }
}

TEST_F(DownloadTest, TargetPaths) {
    EXPECT_EQ(manager_->BuildTargetPath(L"http://h/a/setup.exe", L"", false), folder_ + L"\\setup.exe");
    EXPECT_EQ(manager_->BuildTargetPath(L"http://h/a/setup.exe", L"", true), tempFolder_ + L"\\setup.exe");
    EXPECT_EQ(manager_->BuildTargetPath(L"http://h/get?id=5", L"", false), folder_ + L"\\get?id=5");
    EXPECT_EQ(manager_->BuildTargetPath(L"http://h/x", L"mine.exe", false), folder_ + L"\\mine.exe");
    EXPECT_EQ(manager_->BuildTargetPath(L"setup.exe", L"", false), L"");
    EXPECT_TRUE(messages_.empty());

    // The file system refuses "get?id=5"; nothing is left behind.
    const DownloadResult refused = manager_->DownloadFile(Http(L"/get?id=5"), window_, L"", false);
    EXPECT_FALSE(refused.first);
    EXPECT_EQ(refused.second.rfind(L"[WINHTTP] Download failed: Server returned status code: 404", 0), 0u);
    const DownloadResult named = manager_->DownloadFile(Http(L"/file/10?x"), window_, L"get?id=5", false);
    EXPECT_FALSE(named.first);
    EXPECT_EQ(named.second.rfind(L"[WINHTTP] Failed to open file for writing: 123 - ", 0), 0u)
        << std::string(named.second.begin(), named.second.end());
    EXPECT_TRUE(ListFolder(folder_).empty());

    // A name taken from the URL, into the temporary folder.
    EXPECT_TRUE(manager_->DownloadFile(Http(L"/file/10"), window_, L"", true).first);
    EXPECT_EQ(ReadAll(tempFolder_ + L"\\10"), Body(10));

    manager_->downloadFolder = outer_ + L"\\missing";
    EXPECT_EQ(manager_->BuildTargetPath(L"http://h/a/setup.exe", L"", false), L"");
    EXPECT_EQ(messages_, std::vector<std::wstring>{L"Invalid path"});
    // Through a download: the box once for each transport, and then neither
    // can open its file.
    messages_.clear();
    const DownloadResult nowhere = manager_->DownloadFile(Http(L"/file/10"), window_, L"", false);
    EXPECT_FALSE(nowhere.first);
    EXPECT_EQ(messages_, (std::vector<std::wstring>{L"Invalid path", L"Invalid path"}));
    EXPECT_EQ(nowhere.second.rfind(L"[WINHTTP] Failed to open file for writing: ", 0), 0u)
        << std::string(nowhere.second.begin(), nowhere.second.end());
    EXPECT_NE(nowhere.second.find(L" [WININET] Failed to open file for writing: "), std::wstring::npos)
        << std::string(nowhere.second.begin(), nowhere.second.end());

    std::wstring path = L"C:\\folder";
    EXPECT_TRUE(DownloadManager::AppendPathComponent(path, L"file.exe"));
    EXPECT_EQ(path, L"C:\\folder\\file.exe");
    path = L"C:\\" + std::wstring(250, L'a');
    EXPECT_FALSE(DownloadManager::AppendPathComponent(path, std::wstring(20, L'b')));
}

TEST_F(DownloadTest, DownloadToMemory) {
    struct Case {
        std::wstring url;
        std::string body;
    };
    const Case cases[] = {
        {Https(L"/file/3000?chunks=3"), Body(3000)},
        {Http(L"/redirect/5"), "done"},
        {Http(L"/redirect/6"), ""},
        {Http(L"/status/404"), ""},
        {Http(L"/short"), Body(3000)},  // the length is not checked here
        {L"not a url", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.url.begin(), c.url.end()));
        const DownloadBuffer buffer = manager_->DownloadToMemory(c.url);
        EXPECT_EQ(std::string(buffer.begin(), buffer.end()), c.body);
    }
}

TEST_F(DownloadTest, DownloadToMemoryStopsAtItsLimit) {
    constexpr uint64_t limit = DownloadManager::kMemoryDownloadLimit;
    const std::wstring exact = std::to_wstring(limit), over = std::to_wstring(limit + 1);
    // What the server got to write. Bytes it wrote beyond what the download
    // read sat in the connection's buffers (a few MiB on loopback).
    enum class Written { Whole, NotRead, ReadUpToTheLimit };
    struct Case {
        std::wstring url;
        std::wstring key;  // "": the route counts nothing
        uint64_t size;     // of the buffer that comes back
        Written written;
    };
    const Case cases[] = {
        // Up to the limit an image is taken whole, announced or not.
        {Https(L"/large/" + exact + L"?key=exact"), L"exact", limit, Written::Whole},
        {Http(L"/nolength/" + exact), L"", limit, Written::Whole},
        // One byte more: nothing. An announced length is refused before the
        // body is read; without one, the reading stops at the limit.
        {Http(L"/large/" + over + L"?key=announced"), L"announced", 0, Written::NotRead},
        {Https(L"/large/" + over + L"?key=announced-tls"), L"announced-tls", 0, Written::NotRead},
        {Http(L"/nolength/" + over), L"", 0, Written::Whole},
        // A body without end: the download ends all the same.
        {Http(L"/endless?key=endless"), L"endless", 0, Written::ReadUpToTheLimit},
        {Https(L"/endless?key=endless-tls"), L"endless-tls", 0, Written::ReadUpToTheLimit},
    };
    auto sent = [this](const std::wstring& key) {
        const DownloadBuffer text = manager_->DownloadToMemory(Http(L"/sent/" + key));
        Sent s;
        std::sscanf(std::string(text.begin(), text.end()).c_str(), "%llu %llu", &s.requests, &s.bytes);
        return s;
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.url.begin(), c.url.end()));
        const DownloadBuffer buffer = manager_->DownloadToMemory(c.url);
        EXPECT_EQ(buffer.size(), c.size);
        if (c.size) {
            EXPECT_TRUE(std::string(buffer.begin(), buffer.end()) == Body(buffer.size()));
        }
        if (c.key.empty()) continue;
        const Sent s = sent(c.key);
        // One attempt only: a second would be refused the same way.
        EXPECT_EQ(s.requests, 1u);
        switch (c.written) {
            case Written::Whole:
                EXPECT_EQ(s.bytes, limit);
                break;
            case Written::NotRead:
                EXPECT_LT(s.bytes, limit);
                break;
            case Written::ReadUpToTheLimit:
                EXPECT_LT(s.bytes, 2 * limit);
                break;
        }
    }
}

TEST_F(DownloadTest, DownloadToMemoryAsyncHandsTheBufferOver) {
    auto run = [this](const std::wstring& url) {
        std::promise<std::unique_ptr<DownloadBuffer>> done;
        auto future = done.get_future();
        const DWORD caller = ::GetCurrentThreadId();
        std::atomic<DWORD> callbackThread{0};
        manager_->DownloadToMemoryAsync(url, [&](std::unique_ptr<DownloadBuffer> buffer) {
            callbackThread = ::GetCurrentThreadId();
            done.set_value(std::move(buffer));
        });
        auto buffer = future.get();
        EXPECT_NE(callbackThread.load(), caller);
        return buffer;
    };
    auto image = run(Https(L"/file/500"));
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(std::string(image->begin(), image->end()), Body(500));

    auto missing = run(Http(L"/status/404"));
    ASSERT_NE(missing, nullptr);
    EXPECT_TRUE(missing->empty());

    auto endless = run(Http(L"/endless?key=async"));
    ASSERT_NE(endless, nullptr);
    EXPECT_TRUE(endless->empty());

    manager_->cancelled = true;
    EXPECT_EQ(run(Http(L"/file/500")), nullptr);
}

// A folder of exactly length characters below base, made of nested folders.
std::wstring MakeFolderOfLength(const std::wstring& base, size_t length) {
    std::wstring folder = base;
    while (folder.size() < length) {
        size_t left = length - folder.size();  // "\\" and a name
        size_t name = std::min<size_t>(left - 1, 100);
        if (left - 1 - name == 1) --name;  // never leave room for "\\" alone
        folder += L"\\" + std::wstring(name, L'd');
        if (!::CreateDirectoryW(folder.c_str(), nullptr)) {
            ADD_FAILURE() << "cannot create a folder of " << folder.size() << " characters: " << ::GetLastError();
            return std::wstring();
        }
    }
    return folder;
}

// A file name of n characters.
std::wstring NameOfLength(size_t n) { return n > 4 ? std::wstring(n - 4, L'n') + L".bin" : std::wstring(n, L'n'); }

std::wstring LastComponent(const std::wstring& path) { return path.substr(path.find_last_of(L'\\') + 1); }

// Written with CreateFileW: a part path may be in the extended-length form.
void Plant(const std::wstring& path, const std::string& data, DWORD attributes = FILE_ATTRIBUTE_NORMAL) {
    tamsel::FileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, attributes, nullptr));
    ASSERT_TRUE(file) << ::GetLastError();
    DWORD written = 0;
    EXPECT_TRUE(::WriteFile(file.Get(), data.data(), static_cast<DWORD>(data.size()), &written, nullptr));
}

// What a run killed midway leaves: longer than the new body, so a part file
// that is not truncated shows.
const std::string kLeftover(100000, '#');

TEST(PartPath, FitsBesideItsTargetAndStaysTiedToIt) {
    const std::wstring suffix = DownloadManager::kPartSuffix;
    constexpr size_t longest = MAX_PATH - 1;
    auto folder = [](size_t n) { return L"C:\\" + std::wstring(n - 3, L'f'); };
    // A name of smileys (two UTF-16 units each) that must be cut.
    std::wstring smileys;
    for (int i = 0; i < 78; ++i) smileys += L"\U0001F600";
    enum class Form {
        Appended,   // final path + suffix
        Shortened,  // the name's first characters, "~" and 8 hex digits, suffix
        Extended,   // "\\?\" + final path + suffix
    };
    struct Case {
        std::wstring folder;
        std::wstring name;
        Form form;
    };
    const Case cases[] = {
        {folder(20), L"setup.exe", Form::Appended},
        {folder(200), NameOfLength(longest - 201 - suffix.size()), Form::Appended},  // exactly fits
        {folder(200), NameOfLength(longest - 200 - suffix.size()), Form::Shortened},  // one over
        {folder(200), NameOfLength(longest - 201), Form::Shortened},                  // the longest final path
        {folder(20), NameOfLength(longest - 21), Form::Shortened},
        {folder(237), NameOfLength(21), Form::Shortened},  // room for the digest and suffix only
        {folder(238), NameOfLength(20), Form::Extended},
        {folder(257), L"a", Form::Extended},
        {L"\\\\server\\share\\" + std::wstring(230, L'f'), NameOfLength(13), Form::Extended},
        {folder(100), smileys, Form::Shortened},
        {folder(101), smileys, Form::Shortened},
    };
    for (const auto& c : cases) {
        const std::wstring target = c.folder + L"\\" + c.name;
        SCOPED_TRACE(std::to_string(c.folder.size()) + " + " + std::to_string(c.name.size()));
        ASSERT_LE(target.size(), longest);
        const std::wstring part = DownloadManager::PartPath(target);
        EXPECT_EQ(DownloadManager::PartPath(target), part);
        switch (c.form) {
            case Form::Appended:
                EXPECT_EQ(part, target + suffix);
                break;
            case Form::Extended:
                if (c.folder.compare(0, 2, L"\\\\") == 0)
                    EXPECT_EQ(part, L"\\\\?\\UNC\\" + target.substr(2) + suffix);
                else
                    EXPECT_EQ(part, L"\\\\?\\" + target + suffix);
                break;
            case Form::Shortened: {
                // As long as MAX_PATH allows (less one where a pair would be cut), in the same folder.
                EXPECT_LE(part.size(), longest);
                EXPECT_GE(part.size(), longest - 1);
                ASSERT_EQ(part.compare(0, c.folder.size() + 1, c.folder + L"\\"), 0);
                const std::wstring partName = LastComponent(part);
                ASSERT_GT(partName.size(), suffix.size());
                EXPECT_EQ(partName.substr(partName.size() - suffix.size()), suffix);
                const size_t tilde = partName.rfind(L'~');
                ASSERT_NE(tilde, std::wstring::npos);
                EXPECT_EQ(tilde + 9 + suffix.size(), partName.size());
                EXPECT_EQ(partName.find_first_not_of(L"0123456789ABCDEF", tilde + 1), tilde + 9);
                const std::wstring kept = partName.substr(0, tilde);
                EXPECT_EQ(c.name.compare(0, kept.size(), kept), 0);
                EXPECT_TRUE(kept.empty() || !IS_HIGH_SURROGATE(kept.back()));
                break;
            }
        }
    }
    // Long names that differ only after the part kept get part files of their own.
    const std::wstring base = folder(200) + L"\\" + std::wstring(50, L'n');
    EXPECT_NE(DownloadManager::PartPath(base + L"1.exe"), DownloadManager::PartPath(base + L"2.exe"));
}

TEST_F(DownloadTest, PartFileSitsBesideItsTargetAndReplacesALeftover) {
    constexpr size_t longest = MAX_PATH - 1;
    const size_t suffix = std::wcslen(DownloadManager::kPartSuffix);
    enum class Leftover { None, Garbage, ReadOnly, Hidden };
    struct Case {
        size_t folderLength;  // 0: the usual download folder
        size_t nameLength;
        Transport transport;
        Leftover leftover;
    };
    const Case cases[] = {
        {0, 7, Transport::WinHttpFirst, Leftover::Garbage},
        {0, 7, Transport::WinInet, Leftover::Garbage},
        {0, 7, Transport::WinHttpFirst, Leftover::ReadOnly},
        {0, 7, Transport::WinInet, Leftover::Hidden},
        // The final name fits and so does the part name with its suffix, just.
        {200, longest - 201 - suffix, Transport::WinHttpFirst, Leftover::Garbage},
        // Room for the final name, not for name and suffix.
        {200, longest - 200 - suffix, Transport::WinHttpFirst, Leftover::Garbage},
        {200, longest - 201, Transport::WinHttpFirst, Leftover::None},
        {200, longest - 201, Transport::WinInet, Leftover::Garbage},
        // A folder so deep that no short part name fits either.
        {245, longest - 246, Transport::WinHttpFirst, Leftover::Garbage},
        {245, longest - 246, Transport::WinInet, Leftover::None},
    };
    int index = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "folder " << c.folderLength << ", name " << c.nameLength << ", "
                                          << (c.transport == Transport::WinInet ? "WinINet" : "WinHTTP"));
        const std::wstring root = outer_ + L"\\deep" + std::to_wstring(index++);
        std::wstring folder = folder_;
        if (c.folderLength) {
            ASSERT_TRUE(::CreateDirectoryW(root.c_str(), nullptr));
            folder = MakeFolderOfLength(root, c.folderLength);
            ASSERT_FALSE(folder.empty());
            manager_->downloadFolder = folder;
        }
        const std::wstring name = NameOfLength(c.nameLength);
        const std::wstring target = folder + L"\\" + name;
        ASSERT_LE(target.size(), longest);
        const std::wstring part = DownloadManager::PartPath(target);
        if (c.leftover != Leftover::None)
            Plant(part, kLeftover,
                  c.leftover == Leftover::ReadOnly ? FILE_ATTRIBUTE_READONLY
                  : c.leftover == Leftover::Hidden ? FILE_ATTRIBUTE_HIDDEN
                                                   : FILE_ATTRIBUTE_NORMAL);

        const std::wstring url = Http(L"/file/40000?chunks=10");
        auto running = std::async(std::launch::async, [&] { return Download(c.transport, url, name); });
        // Midway the body is in the part file and nothing is under the final name.
        if (WaitForProgress(running)) {
            EXPECT_EQ(ListFolder(folder), std::vector<std::wstring>{LastComponent(part)});
        } else {
            ADD_FAILURE() << "the download posted no progress";
        }
        const DownloadResult result = running.get();
        EXPECT_TRUE(result.first) << std::string(result.second.begin(), result.second.end());
        EXPECT_EQ(result.second, L"");
        EXPECT_TRUE(ReadAll(target) == Body(40000));
        // Nothing of the leftover carries over, its attributes neither.
        EXPECT_EQ(::GetFileAttributesW(target.c_str()) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN), 0u);
        EXPECT_EQ(manager_->lastFilePath, target);
        EXPECT_EQ(ListFolder(folder), std::vector<std::wstring>{name});
        Drain();
        if (c.folderLength) {
            manager_->downloadFolder = folder_;
            RemoveTree(root);
        } else {
            ::DeleteFileW(target.c_str());
        }
    }
}

TEST_F(DownloadTest, FailedDownloadsLeaveNoPartFileAndNoTarget) {
    constexpr DWORD none = 0, normal = FILE_ATTRIBUTE_NORMAL, readOnly = FILE_ATTRIBUTE_READONLY;
    struct Case {
        std::wstring path;
        size_t folderLength;  // 0: the usual download folder
        DWORD leftover;       // attributes of a part file an earlier run left; 0: none
    };
    const Case cases[] = {
        {L"/short", 0, normal},
        {L"/short", 200, none},
        {L"/reset", 0, none},
        {L"/reset", 245, readOnly},
        // Refused before any byte arrives: the leftover goes all the same.
        {L"/status/404", 0, readOnly},
        {L"/status/404", 200, normal},
    };
    int index = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << std::string(c.path.begin(), c.path.end()) << ", folder "
                                          << c.folderLength);
        const std::wstring root = outer_ + L"\\deep" + std::to_wstring(index++);
        std::wstring folder = folder_;
        if (c.folderLength) {
            ASSERT_TRUE(::CreateDirectoryW(root.c_str(), nullptr));
            folder = MakeFolderOfLength(root, c.folderLength);
            ASSERT_FALSE(folder.empty());
            manager_->downloadFolder = folder;
        }
        // In a deep folder, the longest name it takes.
        const std::wstring name = c.folderLength ? NameOfLength(MAX_PATH - 1 - folder.size() - 1) : L"out.bin";
        if (c.leftover) Plant(DownloadManager::PartPath(folder + L"\\" + name), kLeftover, c.leftover);

        const DownloadResult result = Download(Http(c.path), name);
        EXPECT_FALSE(result.first);
        EXPECT_NE(result.second.find(L" [WININET] "), std::wstring::npos)
            << std::string(result.second.begin(), result.second.end());
        EXPECT_TRUE(ListFolder(folder).empty());
        manager_->downloadFolder = folder_;
        if (c.folderLength) RemoveTree(root);
    }
}

TEST_F(DownloadTest, CancelStopsTheDownloadAndLeavesNothing) {
    // Long enough to be far from done when the cancel arrives.
    const std::wstring size = L"67108864";
    enum class When { BeforeStart, AfterFirstPerCent };
    struct Case {
        Transport transport;
        bool tls;
        When when;
        std::wstring text;
    };
    const std::wstring winHttp = L"[WINHTTP] Download cancelled.";
    const std::wstring winInet = L" [WININET] Download cancelled.";
    const Case cases[] = {
        // The user quit: WinINet does not start the file again.
        {Transport::WinHttpFirst, false, When::AfterFirstPerCent, winHttp},
        {Transport::WinHttpFirst, true, When::AfterFirstPerCent, winHttp},
        {Transport::WinHttpFirst, false, When::BeforeStart, winHttp},
        {Transport::WinInet, false, When::AfterFirstPerCent, winInet},
        {Transport::WinInet, true, When::AfterFirstPerCent, winInet},
        {Transport::WinInet, false, When::BeforeStart, winInet},
    };
    int index = 0;
    for (const auto& c : cases) {
        const std::wstring key = L"cancel" + std::to_wstring(index++);
        const std::wstring path = L"/trickle/" + size + L"?key=" + key;
        const std::wstring url = c.tls ? Https(path) : Http(path);
        SCOPED_TRACE(std::string(url.begin(), url.end()));
        const std::wstring target = folder_ + L"\\big.bin";
        Plant(DownloadManager::PartPath(target), kLeftover);

        DownloadResult result;
        if (c.when == When::BeforeStart) {
            manager_->cancelled = true;
            result = Download(c.transport, url, L"big.bin");
        } else {
            auto running = std::async(std::launch::async, [&] { return Download(c.transport, url, L"big.bin"); });
            const bool midway = WaitForProgress(running);
            manager_->cancelled = true;
            result = running.get();
            EXPECT_TRUE(midway) << "the download posted no progress";
        }
        manager_->cancelled = false;
        Drain();
        EXPECT_FALSE(result.first);
        EXPECT_EQ(result.second, c.text);
        EXPECT_TRUE(ListFolder(folder_).empty());

        // Stopped for good: one request at most, and far from the whole body.
        const Sent sent = ServerSent(key);
        EXPECT_EQ(sent.requests, c.when == When::BeforeStart ? 0u : 1u);
        EXPECT_LT(sent.bytes, std::stoull(size) / 2);
    }
}

TEST_F(DownloadTest, RedirectLocationsUpToTheBufferAreFollowed) {
    // The buffer holds 260 bytes: 129 UTF-16 characters and the NUL.
    struct Case {
        size_t length;
        bool tls;
        bool winHttpFollows;
    };
    const Case cases[] = {
        {128, false, true},
        {129, false, true},
        {129, true, true},
        {130, false, false},
        {130, true, false},
        {2000, false, false},
    };
    const std::wstring tooLong = L"[WINHTTP] Redirect location longer than 129 characters.";
    for (const auto& c : cases) {
        const std::wstring path = L"/location/" + std::to_wstring(c.length);
        const std::wstring url = c.tls ? Https(path) : Http(path);
        SCOPED_TRACE(std::string(url.begin(), url.end()));
        // WinINet follows the longer ones on its own, so the file arrives either way.
        const DownloadResult result = Download(url);
        EXPECT_TRUE(result.first) << std::string(result.second.begin(), result.second.end());
        EXPECT_EQ(result.second, c.winHttpFollows ? L"" : tooLong);
        EXPECT_EQ(ReadAll(folder_ + L"\\out.bin"), Body(10));
        EXPECT_EQ(ListFolder(folder_), std::vector<std::wstring>{L"out.bin"});
        // Images have no fallback: a Location over the limit gives nothing.
        const DownloadBuffer image = manager_->DownloadToMemory(url);
        EXPECT_EQ(std::string(image.begin(), image.end()), c.winHttpFollows ? Body(10) : std::string());
    }
}

}  // namespace

// The WinINet transfer posts the same messages as the WinHTTP one: how many
// per cents depends on how its reads split the body, but they only go up and
// end at 100; a body without a length posts "size unknown" once instead.
TEST_F(DownloadTest, WinInetPostsProgressAndSizeUnknown) {
    struct Case {
        std::wstring url;
        size_t size;
        bool lengthKnown;
    };
    const Case cases[] = {
        {Http(L"/file/20000?chunks=4"), 20000, true},
        {Https(L"/file/20000?chunks=4"), 20000, true},
        {Http(L"/nolength/5000"), 5000, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.url.begin(), c.url.end()));
        const DownloadResult result = Download(Transport::WinInet, c.url, L"out.bin");
        EXPECT_TRUE(result.first) << std::string(result.second.begin(), result.second.end());
        const Posted posted = Drain();
        if (c.lengthKnown) {
            EXPECT_EQ(posted.sizeUnknown, 0);
            ASSERT_FALSE(posted.percents.empty());
            EXPECT_TRUE(std::is_sorted(posted.percents.begin(), posted.percents.end()));
            EXPECT_EQ(posted.percents.back(), 100u);
        } else {
            EXPECT_EQ(posted.sizeUnknown, 1);
            EXPECT_TRUE(posted.percents.empty());
        }
        EXPECT_TRUE(ReadAll(folder_ + L"\\out.bin") == Body(c.size));
    }
}

// A download asked for over HTTPS never continues over plain HTTP, on either
// transport, nor does an image; not even the request goes out. The other way
// round is followed.
TEST_F(DownloadTest, RedirectFromHttpsToHttpIsRefused) {
    const std::wstring refused = L"Refused a redirect from HTTPS to plain HTTP.";
    const DownloadResult both = Download(Https(L"/tohttp/down-both"));
    EXPECT_FALSE(both.first);
    EXPECT_EQ(both.second, L"[WINHTTP] " + refused + L" [WININET] " + refused);
    const DownloadResult winInet = Download(Transport::WinInet, Https(L"/tohttp/down-inet"), L"out.bin");
    EXPECT_FALSE(winInet.first);
    EXPECT_EQ(winInet.second, L" [WININET] " + refused);
    EXPECT_TRUE(manager_->DownloadToMemory(Https(L"/tohttp/down-image")).empty());
    EXPECT_TRUE(ListFolder(folder_).empty());
    for (const wchar_t* key : {L"down-both", L"down-inet", L"down-image"}) EXPECT_EQ(ServerSent(key).requests, 0u);

    for (const Transport transport : {Transport::WinHttpFirst, Transport::WinInet}) {
        const std::wstring key = transport == Transport::WinInet ? L"up-inet" : L"up-http";
        const DownloadResult up = Download(transport, Http(L"/tohttps/" + key), L"up.bin");
        EXPECT_TRUE(up.first) << std::string(up.second.begin(), up.second.end());
        EXPECT_EQ(ServerSent(key).requests, 1u);
    }
}

// The digest a download must have is computed as it is written; a file that
// differs never takes its name (a file already there keeps its bytes) and
// leaves no part file. The expected digests come from the server's own hash.
TEST_F(DownloadTest, DigestIsCheckedOnBothTransports) {
    const DownloadBuffer served = manager_->DownloadToMemory(Http(L"/digest/70000"));
    const std::string digest(served.begin(), served.end());
    ASSERT_EQ(digest.size(), 64u);
    std::string upper = digest;
    for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    std::string wrong = digest;
    wrong[10] = wrong[10] == '0' ? '1' : '0';
    const std::wstring mismatch = L"Downloaded file does not match its SHA-256 digest (expected " +
                                  std::wstring(wrong.begin(), wrong.end()) + L", received " +
                                  std::wstring(digest.begin(), digest.end()) + L").";
    struct Case {
        Transport transport;
        std::string sha256;
        std::wstring text;  // "" for success
    };
    const Case cases[] = {
        {Transport::WinHttpFirst, digest, L""},
        {Transport::WinHttpFirst, upper, L""},
        {Transport::WinInet, digest, L""},
        {Transport::WinHttpFirst, wrong, L"[WINHTTP] " + mismatch + L" [WININET] " + mismatch},
        {Transport::WinInet, wrong, L" [WININET] " + mismatch},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sha256 + (c.transport == Transport::WinInet ? " WinINet" : " WinHTTP first"));
        WriteAll(folder_ + L"\\out.bin", "what the user had");
        const std::wstring url = Https(L"/file/70000");
        const DownloadResult result = c.transport == Transport::WinInet
                                          ? manager_->DownloadFileWinInet(url, window_, L"out.bin", false, c.sha256)
                                          : manager_->DownloadFile(url, window_, L"out.bin", false, c.sha256);
        EXPECT_EQ(result.first, c.text.empty());
        EXPECT_EQ(result.second, c.text);
        EXPECT_TRUE(ReadAll(folder_ + L"\\out.bin") == (c.text.empty() ? Body(70000) : "what the user had"));
        EXPECT_EQ(ListFolder(folder_).size(), 1u) << "a part file was left behind";
        Drain();
    }
}

// WinHTTP gives up after five redirects; the fallback starts again from the
// address it was given, not from where WinHTTP stopped: the first hop is
// asked for twice, and the whole chain once more.
TEST_F(DownloadTest, FallbackStartsAgainFromTheOriginalAddress) {
    const ULONGLONG start = ::GetTickCount64();
    const DownloadResult result = Download(Http(L"/redirect/6?key=fallback"));
    // WinINet starts only after the two seconds' pause; a lower bound, which
    // a slow machine only makes longer.
    EXPECT_GE(::GetTickCount64() - start, 1950u) << "no pause before the fallback";
    EXPECT_TRUE(result.first);
    EXPECT_EQ(result.second, L"[WINHTTP] Too many redirects.");
    // WinHTTP: /redirect/6 to /redirect/1; WinINet: /redirect/6 to /redirect/0.
    EXPECT_EQ(ServerSent(L"fallback").requests, 6u + 7u);
    EXPECT_EQ(ReadAll(folder_ + L"\\out.bin"), "done");
}

// What each kind of request says about itself: the file download's WinHTTP
// session has no user agent and WinINet's an empty one; the image download
// names "A WinHTTP Example Program/1.0" and asks caches to refresh.
TEST_F(DownloadTest, RequestHeadersOfEachDownload) {
    const auto headers = [this](const std::wstring& key) {
        const DownloadBuffer text = manager_->DownloadToMemory(Http(L"/seen/" + key));
        return std::string(text.begin(), text.end());
    };
    ASSERT_TRUE(Download(Transport::WinHttpFirst, Https(L"/headers/file-http"), L"h1.bin").first);
    ASSERT_TRUE(Download(Transport::WinInet, Https(L"/headers/file-inet"), L"h2.bin").first);
    ASSERT_FALSE(manager_->DownloadToMemory(Https(L"/headers/image")).empty());
    // The server's record: [name, value] pairs in JSON.
    const std::string fileHttp = headers(L"file-http"), fileInet = headers(L"file-inet"), image = headers(L"image");
    EXPECT_EQ(fileHttp.find("\"User-Agent\""), std::string::npos) << fileHttp;
    EXPECT_EQ(fileHttp.find("no-cache"), std::string::npos) << fileHttp;
    EXPECT_NE(fileInet.find("[\"User-Agent\", \"\"]"), std::string::npos) << fileInet;
    for (const char* header : {"[\"User-Agent\", \"A WinHTTP Example Program/1.0\"]", "[\"Pragma\", \"no-cache\"]",
                               "[\"Cache-Control\", \"no-cache\"]"})
        EXPECT_NE(image.find(header), std::string::npos) << header << " in " << image;
}
