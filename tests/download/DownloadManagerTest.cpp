// The download engine against a loopback server of its own (plain HTTP and
// HTTPS): redirects, statuses, lengths, progress, cancellation, and what a
// failed download leaves on disk.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <future>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "common/TestEnvironment.h"
#include "download/DownloadManager.h"

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
        else
            ::DeleteFileW(path.c_str());
    }
    ::RemoveDirectoryW(folder.c_str());
}

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

TEST_F(DownloadTest, CancelEndsWinHttpAndTheFallbackStillRuns) {
    auto future = std::async(std::launch::async, [this] { return Download(Http(L"/slow")); });
    // Cancel once the first per cent has arrived, i.e. during the transfer.
    MSG msg;
    while (::GetMessageW(&msg, window_, 0, 0) > 0) {
        if (msg.message == WM_DOWNLOAD_PROGRESS) break;
    }
    manager_->cancelled = true;
    const DownloadResult result = future.get();
    EXPECT_TRUE(result.first);
    EXPECT_EQ(result.second, L"[WINHTTP] Download cancelled.");
    std::string all;
    for (int i = 0; i < 40; ++i) all += Body(1000);
    EXPECT_TRUE(ReadAll(folder_ + L"\\out.bin") == all);
    // The retry starts its bar from the beginning again and ends at 100.
    const Posted posted = Drain();
    ASSERT_FALSE(posted.percents.empty());
    EXPECT_EQ(posted.percents.back(), 100u);
}

TEST_F(DownloadTest, BadRedirectLocationsFailWinHttpSafely) {
    struct Case {
        std::wstring url;
        std::wstring winHttp;
    };
    const Case cases[] = {
        {Http(L"/longlocation"), L"[WINHTTP] Failed to read redirect location: "},
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
    for (const std::wstring& url : {Http(L"/status/404"), Http(L"/short"), Http(L"/reset")}) {
        SCOPED_TRACE(std::string(url.begin(), url.end()));
        WriteAll(folder_ + L"\\keep.bin", mine);
        EXPECT_FALSE(Download(url, L"keep.bin").first);
        EXPECT_TRUE(ReadAll(folder_ + L"\\keep.bin") == mine);
        EXPECT_EQ(ListFolder(folder_), std::vector<std::wstring>{L"keep.bin"});
    }
    // A successful download does replace it.
    EXPECT_TRUE(Download(Http(L"/redirect/0"), L"keep.bin").first);
    EXPECT_EQ(ReadAll(folder_ + L"\\keep.bin"), "done");
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

// How often the server was asked for a key, and how many body bytes it wrote.
struct Sent {
    unsigned long long requests = 0, bytes = 0;
};

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

}  // namespace
