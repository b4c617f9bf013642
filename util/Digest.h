#pragma once
#include <string>

// Digests come from the system's CryptoAPI.
// SHA-256 of the bytes of s as 64 lowercase hex characters ("" if the system
// cannot hash, which a caller will see as a signature the service rejects).
std::string Sha256Hex(const std::string& s);
// MD5 of w converted to the thread's ANSI code page (up to its first NUL), as
// 32 lowercase hex characters; "" when any CryptoAPI step fails.
std::string Md5Hex(const std::wstring& w);
// The digest of bytes with the given CryptoAPI algorithm and provider type.
std::string HexDigest(const std::string& bytes, unsigned algorithm, unsigned providerType);
