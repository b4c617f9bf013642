#include "WinHttpSupport.h"

#include <exception>

#include "DownloadManager.h"
#include "TransferSupport.h"
#include "util/DetachedThread.h"

namespace {

// A body over the limit; the same on every attempt, so none follows.
struct TooLarge {};

}  // namespace

DownloadBuffer DownloadManager::DownloadToMemory(const std::wstring& url) {
    using namespace download;
    DownloadBuffer buffer;
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            WinHttpResponse response;
            OpenWinHttpResponse(url, {L"A WinHTTP Example Program/1.0", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                      WINHTTP_FLAG_REFRESH},
                                response);
            uint64_t length = 0;
            if (QueryContentLength(response.request.Get(), length) && length > kMemoryDownloadLimit) throw TooLarge{};
            ReadWinHttpBody(response.request.Get(), cancelled, [&](const char* data, DWORD size) {
                if (size > kMemoryDownloadLimit - buffer.size()) throw TooLarge{};
                try {
                    buffer.insert(buffer.end(), data, data + size);
                } catch (const std::bad_alloc&) {
                    Fail(L"Out of memory.");
                }
            });
            return buffer;
        } catch (const TooLarge&) {
            return DownloadBuffer();  // closing the request ends the transfer
        } catch (const Failure&) {
            DownloadBuffer().swap(buffer);
        } catch (const std::exception&) {
            DownloadBuffer().swap(buffer);
        }
    }
    return buffer;
}

void DownloadManager::DownloadToMemoryAsync(const std::wstring& url, DownloadCallback callback) {
    // The thread keeps the manager alive for as long as it runs.
    std::shared_ptr<DownloadManager> self = weak_from_this().lock();
    const bool started = StartDetachedThread([this, self, url, callback]() {
        auto buffer = std::make_unique<DownloadBuffer>(DownloadToMemory(url));
        if (cancelled) buffer.reset();
        if (callback) callback(std::move(buffer));
    });
    // Without a thread the caller still hears the download ended, empty.
    if (!started && callback) callback(nullptr);
}
