#include "Digest.h"

#include <windows.h>
#include <wincrypt.h>

#include "Handles.h"
#include "Text.h"

void tamsel::CryptProviderTraits::Close(Value h) noexcept { ::CryptReleaseContext(h, 0); }
void tamsel::CryptHashTraits::Close(Value h) noexcept { ::CryptDestroyHash(h); }

void DigestStream::Failed() {
    error_ = ::GetLastError();
    if (error_ == 0) error_ = ERROR_GEN_FAILURE;  // a failure is never reported as success
}

DigestStream::DigestStream(unsigned algorithm, unsigned providerType) {
    if (!::CryptAcquireContextW(provider_.Put(), nullptr, nullptr, providerType, CRYPT_VERIFYCONTEXT)) {
        Failed();
        return;
    }
    if (!::CryptCreateHash(provider_.Get(), algorithm, 0, 0, hash_.Put())) {
        Failed();
    }
}

void DigestStream::Add(const void* data, size_t size) {
    // CryptHashData takes a DWORD length: long inputs go in pieces.
    const BYTE* p = static_cast<const BYTE*>(data);
    while (error_ == 0 && size > 0) {
        const DWORD piece = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
        if (!::CryptHashData(hash_.Get(), p, piece, 0)) {
            Failed();
        }
        p += piece;
        size -= piece;
    }
}

std::string DigestStream::Finish() {
    if (error_ != 0) return std::string();
    BYTE digest[64];
    DWORD size = sizeof digest;
    if (!::CryptGetHashParam(hash_.Get(), HP_HASHVAL, digest, &size, 0)) {
        Failed();
        return std::string();
    }
    hash_.Reset();
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(size * 2);
    for (DWORD i = 0; i < size; ++i) {
        out += kHex[digest[i] >> 4];
        out += kHex[digest[i] & 0xF];
    }
    return out;
}

DigestStream Sha256Stream() { return DigestStream(CALG_SHA_256, PROV_RSA_AES); }

bool IsSha256Hex(const std::string& text) {
    if (text.size() != 64) return false;
    for (const char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) return false;
    return true;
}

std::string HexDigest(const std::string& bytes, unsigned algorithm, unsigned providerType) {
    DigestStream stream(algorithm, providerType);
    stream.Add(bytes.data(), bytes.size());
    return stream.Finish();
}

std::string Sha256Hex(const std::string& s) { return HexDigest(s, CALG_SHA_256, PROV_RSA_AES); }

std::string Md5Hex(const std::wstring& w) {
    std::string narrow = WideToAnsi(w, CP_THREAD_ACP);
    narrow.resize(narrow.find('\0') == std::string::npos ? narrow.size() : narrow.find('\0'));
    return HexDigest(narrow, CALG_MD5, PROV_RSA_FULL);
}
