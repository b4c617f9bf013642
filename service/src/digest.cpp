#include "digest.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <unistd.h>

#include <cerrno>
#include <memory>
#include <stdexcept>
#include <vector>

namespace tamsel {

namespace {

std::string Hex(const unsigned char* md, unsigned int len) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(len * 2);
  for (unsigned int i = 0; i < len; ++i) {
    out.push_back(kHex[md[i] >> 4]);
    out.push_back(kHex[md[i] & 0x0f]);
  }
  return out;
}

}  // namespace

std::string Sha256Hex(const std::string& text) {
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  if (EVP_Digest(text.data(), text.size(), md, &len, EVP_sha256(), nullptr) != 1) {
    throw std::runtime_error("SHA-256 failed");
  }
  return Hex(md, len);
}

bool SameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

bool SameSecret(const std::string& guess, const std::string& secret) {
  unsigned char a[EVP_MAX_MD_SIZE];
  unsigned char b[EVP_MAX_MD_SIZE];
  unsigned int la = 0;
  unsigned int lb = 0;
  if (EVP_Digest(guess.data(), guess.size(), a, &la, EVP_sha256(), nullptr) != 1 ||
      EVP_Digest(secret.data(), secret.size(), b, &lb, EVP_sha256(), nullptr) != 1 || la != lb) {
    return false;
  }
  return CRYPTO_memcmp(a, b, la) == 0;
}

std::optional<std::string> DecodeBase64(const std::string& text) {
  if (text.size() % 4 != 0) return std::nullopt;
  static const std::string kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (std::size_t i = 0; i < text.size(); i += 4) {
    unsigned int bits = 0;
    int padding = 0;
    for (std::size_t k = 0; k < 4; ++k) {
      const char c = text[i + k];
      unsigned int value = 0;
      if (c == '=') {
        // Padding only at the very end, at most two.
        if (i + 4 != text.size() || k < 2) return std::nullopt;
        ++padding;
      } else {
        if (padding > 0) return std::nullopt;
        const std::size_t at = kAlphabet.find(c);
        if (at == std::string::npos) return std::nullopt;
        value = static_cast<unsigned int>(at);
      }
      bits = (bits << 6) | value;
    }
    out.push_back(static_cast<char>((bits >> 16) & 0xff));
    if (padding < 2) out.push_back(static_cast<char>((bits >> 8) & 0xff));
    if (padding < 1) out.push_back(static_cast<char>(bits & 0xff));
  }
  return out;
}

std::string EncodeBase64(const std::string& bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&out[0]),
                                reinterpret_cast<const unsigned char*>(bytes.data()),
                                static_cast<int>(bytes.size()));
  out.resize(static_cast<std::size_t>(n));
  return out;
}

std::optional<std::string> Sha256OfFile(int fd) {
  std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) return std::nullopt;
  std::vector<char> buf(1 << 20);
  off_t offset = 0;
  for (;;) {
    const ssize_t n = pread(fd, buf.data(), buf.size(), offset);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    if (EVP_DigestUpdate(ctx.get(), buf.data(), static_cast<std::size_t>(n)) != 1) {
      return std::nullopt;
    }
    offset += n;
  }
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  if (EVP_DigestFinal_ex(ctx.get(), md, &len) != 1) return std::nullopt;
  return Hex(md, len);
}

}  // namespace tamsel
