#pragma once

#include <optional>
#include <string>

namespace tamsel {

// Lowercase hexadecimal SHA-256 of the bytes of text (OpenSSL EVP).
std::string Sha256Hex(const std::string& text);

// Equality that takes the same time wherever the texts differ.
bool SameText(const std::string& a, const std::string& b);

// Equality of a secret and a guess that tells nothing by its time, also not
// the secret's length: their digests are compared.
bool SameSecret(const std::string& guess, const std::string& secret);

// The standard base64 alphabet with padding; nothing when text is not that.
std::optional<std::string> DecodeBase64(const std::string& text);

// Standard base64 with padding.
std::string EncodeBase64(const std::string& bytes);

// SHA-256 of a file's bytes read from fd (from its start, to its end), in
// lowercase hexadecimal; nothing when reading fails.
std::optional<std::string> Sha256OfFile(int fd);

}  // namespace tamsel
