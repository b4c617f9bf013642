#include "Digest.h"

#include <windows.h>
#include <wincrypt.h>

#include "Handles.h"
#include "Text.h"

void tamsel::CryptProviderTraits::Close(Value h) noexcept { ::CryptReleaseContext(h, 0); }
void tamsel::CryptHashTraits::Close(Value h) noexcept { ::CryptDestroyHash(h); }

std::string HexDigest(const std::string& bytes, unsigned algorithm, unsigned providerType) {
    tamsel::CryptProvider provider;
    if (!::CryptAcquireContextW(provider.Put(), nullptr, nullptr, providerType, CRYPT_VERIFYCONTEXT)) {
        return std::string();  // "CryptAcquireContext failed"
    }
    tamsel::CryptHash hash;
    if (!::CryptCreateHash(provider.Get(), algorithm, 0, 0, hash.Put())) {
        return std::string();  // "CryptCreateHash failed"
    }
    // CryptHashData takes a DWORD length: feed long inputs in pieces.
    const char* p = bytes.data();
    size_t left = bytes.size();
    do {
        const DWORD piece = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
        if (!::CryptHashData(hash.Get(), reinterpret_cast<const BYTE*>(p), piece, 0)) {
            return std::string();  // "CryptHashData failed"
        }
        p += piece;
        left -= piece;
    } while (left > 0);
    BYTE digest[64];
    DWORD size = sizeof digest;
    if (!::CryptGetHashParam(hash.Get(), HP_HASHVAL, digest, &size, 0)) {
        return std::string();  // "CryptGetHashParam failed"
    }
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(size * 2);
    for (DWORD i = 0; i < size; ++i) {
        out += kHex[digest[i] >> 4];
        out += kHex[digest[i] & 0xF];
    }
    return out;
}

std::string Sha256Hex(const std::string& s) { return HexDigest(s, CALG_SHA_256, PROV_RSA_AES); }

std::string Md5Hex(const std::wstring& w) {
    std::string narrow = WideToAnsi(w, CP_THREAD_ACP);
    narrow.resize(narrow.find('\0') == std::string::npos ? narrow.size() : narrow.find('\0'));
    return HexDigest(narrow, CALG_MD5, PROV_RSA_FULL);
}
