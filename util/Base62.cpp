#include "Base62.h"

#include <cmath>
#include <stdexcept>

std::string Base62Encode(const std::vector<unsigned char>& bytes) {
    static const char kAlphabet[] = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    if (bytes.empty()) return std::string();
    size_t zeros = 0;
    while (zeros < bytes.size() && bytes[zeros] == 0) ++zeros;
    const size_t size = static_cast<size_t>(
        std::ceil(static_cast<double>(bytes.size() - zeros) * std::log(256.0) / std::log(62.0)));
    std::vector<unsigned char> digits(size, 0);  // most significant first
    size_t used = 0;
    for (size_t k = zeros; k < bytes.size(); ++k) {
        unsigned carry = bytes[k];
        size_t i = 0;
        for (size_t pos = size; (carry != 0 || i < used); ++i) {
            if (pos == 0) throw std::runtime_error("Non-zero carry");
            --pos;
            carry += 256u * digits[pos];
            digits[pos] = static_cast<unsigned char>(carry % 62u);
            carry /= 62u;
        }
        used = i;
    }
    size_t first = 0;
    while (first < size && digits[first] == 0) ++first;
    std::string out;
    out.reserve(size - first);
    for (size_t i = first; i < size; ++i) out += kAlphabet[digits[i]];
    return out;
}

std::string EncodeId(const std::string& s) {
    return Base62Encode(std::vector<unsigned char>(s.begin(), s.end()));
}
