#include <gtest/gtest.h>

#include <random>

#include "util/Base62.h"

namespace {

const char kAlphabet[] = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";

// Independent reference: repeated long division of the big-endian number by 62.
std::string ReferenceBase62(std::vector<unsigned char> number) {
    std::string digits;
    for (;;) {
        bool zero = true;
        unsigned remainder = 0;
        for (auto& byte : number) {
            const unsigned value = remainder * 256 + byte;
            byte = static_cast<unsigned char>(value / 62);
            remainder = value % 62;
            zero = zero && byte == 0;
        }
        if (zero && remainder == 0 && digits.empty()) return "";
        digits.insert(digits.begin(), kAlphabet[remainder]);
        if (zero) return digits;
    }
}

}  // namespace

TEST(Base62Encode, KnownValues) {
    const struct {
        std::vector<unsigned char> in;
        const char* out;
    } cases[] = {
        {{}, ""},
        {{61}, "Z"},
        {{62}, "10"},
        {{1, 0}, "48"},
        {{0, 0, 1}, "1"},
        {{0, 0}, ""},
        {{0}, ""},
        {{'a', 'b', 'c'}, "qMin"},
        {{0xFF, 0xFF, 0xFF, 0xFF}, "4GFfc3"},
    };
    for (const auto& c : cases) EXPECT_EQ(Base62Encode(c.in), c.out);
    EXPECT_EQ(EncodeId("abc"), "qMin");
}

TEST(Base62Encode, AgreesWithLongDivisionOnRandomInputs) {
    std::mt19937 random(62);
    for (int round = 0; round < 2000; ++round) {
        std::vector<unsigned char> bytes(random() % 40);
        for (auto& b : bytes) b = static_cast<unsigned char>(random() % 4 == 0 ? 0 : random());
        ASSERT_EQ(Base62Encode(bytes), ReferenceBase62(bytes)) << "round " << round;
    }
}
