#include <algorithm>
#include <system_error>

#include "TransferSupport.h"

namespace download {
namespace {

// Bytes handed over at a time, and how many blocks may wait: the transfer
// never holds more than this beyond its own buffers.
constexpr size_t kBlockBytes = 256u << 10;
constexpr size_t kWaitingBlocks = 4;

}  // namespace

PayloadCheck::PayloadCheck(const std::string& expectedSha256) {
    if (expectedSha256.empty()) return;
    expected_ = expectedSha256;
    for (char& c : expected_)
        if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    stream_ = std::make_unique<DigestStream>(Sha256Stream());
    if (!stream_->Ok()) return;
    try {
        hasher_ = std::thread([this] { Hash(); });
    } catch (const std::system_error&) {
        // No thread: Add hashes on the transfer's own thread.
    }
}

PayloadCheck::~PayloadCheck() {
    if (!hasher_.joinable()) return;
    {
        std::lock_guard<std::mutex> guard(lock_);
        ended_ = true;
        queue_.clear();
    }
    changed_.notify_all();
    hasher_.join();
}

void PayloadCheck::Hash() {
    for (;;) {
        std::vector<char> block;
        {
            std::unique_lock<std::mutex> guard(lock_);
            changed_.wait(guard, [this] { return ended_ || !queue_.empty(); });
            if (queue_.empty()) return;
            block = std::move(queue_.front());
            queue_.pop_front();
        }
        changed_.notify_all();
        stream_->Add(block.data(), block.size());
    }
}

void PayloadCheck::Hand(std::vector<char>&& block) {
    if (!hasher_.joinable()) {
        stream_->Add(block.data(), block.size());
        return;
    }
    {
        std::unique_lock<std::mutex> guard(lock_);
        changed_.wait(guard, [this] { return queue_.size() < kWaitingBlocks; });
        queue_.push_back(std::move(block));
    }
    changed_.notify_all();
}

void PayloadCheck::Add(const void* data, DWORD size) {
    if (!stream_) return;
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        if (block_.capacity() < kBlockBytes) block_.reserve(kBlockBytes);
        const DWORD piece = static_cast<DWORD>(std::min<size_t>(size, kBlockBytes - block_.size()));
        block_.insert(block_.end(), bytes, bytes + piece);
        bytes += piece;
        size -= piece;
        if (block_.size() == kBlockBytes) {
            Hand(std::move(block_));
            block_ = std::vector<char>();
        }
    }
}

void PayloadCheck::Verify() {
    if (!stream_) return;
    if (!block_.empty()) Hand(std::move(block_));
    block_ = std::vector<char>();
    if (hasher_.joinable()) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            ended_ = true;
        }
        changed_.notify_all();
        hasher_.join();  // after the last block
    }
    const std::string actual = stream_->Finish();
    if (!stream_->Ok()) FailWithCode(L"Failed to compute the SHA-256 digest of the download", stream_->Error());
    if (actual != expected_)
        Fail(L"Downloaded file does not match its SHA-256 digest (expected " +
             std::wstring(expected_.begin(), expected_.end()) + L", received " +
             std::wstring(actual.begin(), actual.end()) + L").");
}

}  // namespace download
