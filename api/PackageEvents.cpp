#include <windows.h>

#include "Package.h"
#include "util/DetachedThread.h"

using nlohmann::json;

namespace {

constexpr int kEventAttempts = 2;
constexpr DWORD kEventRetryPauseMs = 5000;

// The event endpoint's JSON parser takes UTF-8 only. Texts reach the body in
// UTF-8 already; a byte that is not (a remote text's own) is replaced rather
// than lose the whole event.
std::string Compact(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }

}  // namespace

json Package::BuildEventBody(int32_t code, const json& extra) const {
    json body = eventTemplate;
    body["6"] = std::to_string(code);
    if (extra.is_object())
        for (const auto& item : extra.items()) body[item.key()] = item.value();
    return body;
}

void Package::SendEvent(int32_t code, const json& extra) {
    if (eventsClosed.load()) return;
    // The document is made here, on the caller's thread: the worker never
    // reads the package's texts, which Reinitialise may replace while an
    // earlier event waits for its second attempt.
    std::string document;
    std::vector<HttpHeader> headers;
    try {
        document = Compact(json{{"data", Compact(BuildEventBody(code, extra))}, {"table", "zb_analytics"}});
        headers = request.headers;
    } catch (const std::exception&) {
        return;  // dropped, as a worker drops what it cannot send
    }
    {
        std::lock_guard<std::mutex> lock(eventLock_);
        ++pendingEvents_;
    }
    bool started = false;
    try {
        // The thread holds the package, so it lives until the worker ends.
        std::shared_ptr<Package> self = shared_from_this();
        started = StartDetachedThread([self, code, document = std::move(document), headers = std::move(headers)] {
            EventWorker(self, code, document, headers);
        });
    } catch (const std::exception&) {
        started = false;
    }
    if (!started) {
        // No thread (or no shared owner): the event is dropped like a failed one.
        std::lock_guard<std::mutex> lock(eventLock_);
        if (--pendingEvents_ == 0) eventsIdle_.notify_all();
    }
}

void Package::EventWorker(std::shared_ptr<Package> package, int32_t code, const std::string& document,
                          const std::vector<HttpHeader>& headers) {
    try {
        for (int attempt = 0; attempt < kEventAttempts; ++attempt) {
            std::string response;
            int32_t status = 0;
            const bool answered =
                package->environment_.post(package->environment_.eventEndpointUrl, document, headers, response, status);
            if (answered && status >= 200 && status <= 399) {
                package->eventsClosed.store(IsClosingEventCode(code));
                break;
            }
            ::Sleep(kEventRetryPauseMs);
        }
    } catch (const std::exception&) {
        // Dropped without a trace; the package stays open for a later event.
    }
    std::lock_guard<std::mutex> lock(package->eventLock_);
    if (--package->pendingEvents_ == 0) package->eventsIdle_.notify_all();
}

void Package::WaitForEvents() {
    std::unique_lock<std::mutex> lock(eventLock_);
    eventsIdle_.wait(lock, [this] { return pendingEvents_ == 0; });
}
