#pragma once

#include <string>

namespace tamsel {

// Lowercase hexadecimal SHA-256 of the bytes of text (OpenSSL EVP).
std::string Sha256Hex(const std::string& text);

// Equality that takes the same time wherever the texts differ.
bool SameText(const std::string& a, const std::string& b);

}  // namespace tamsel
