#pragma once
#include <windows.h>

#include <string>

#include "Handles.h"

// Digests come from the system's CryptoAPI.
// SHA-256 of the bytes of s as 64 lowercase hex characters ("" if the system
// cannot hash, which a caller will see as a signature the service rejects).
std::string Sha256Hex(const std::string& s);
// MD5 of w converted to the thread's ANSI code page (up to its first NUL), as
// 32 lowercase hex characters; "" when any CryptoAPI step fails.
std::string Md5Hex(const std::wstring& w);
// The digest of bytes with the given CryptoAPI algorithm and provider type.
std::string HexDigest(const std::string& bytes, unsigned algorithm, unsigned providerType);

// A digest fed piece by piece, for data too large to hold at once (a
// download, as it is written). Every call reports failure with the system's
// error code; after a failure the digest is unusable.
class DigestStream {
public:
    DigestStream(unsigned algorithm, unsigned providerType);
    bool Ok() const { return error_ == 0; }
    DWORD Error() const { return error_; }
    void Add(const void* data, size_t size);
    // Lowercase hex; "" after a failure. Ends the stream.
    std::string Finish();

private:
    void Failed();  // keeps the call's error

    tamsel::CryptProvider provider_;
    tamsel::CryptHash hash_;
    DWORD error_ = 0;
};

// SHA-256 as a stream.
DigestStream Sha256Stream();
// 64 hex digits of either case.
bool IsSha256Hex(const std::string& text);
