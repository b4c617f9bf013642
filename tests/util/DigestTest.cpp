#include <gtest/gtest.h>

#include "util/Digest.h"

TEST(Sha256Hex, MatchesPublishedVectors) {
    EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(Sha256Hex(std::string(1000000, 'a')),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    // Bytes, not text: an embedded NUL counts.
    EXPECT_NE(Sha256Hex(std::string("a\0b", 3)), Sha256Hex("a"));
}

TEST(Md5Hex, MatchesPublishedVectorsAndStopsAtNul) {
    EXPECT_EQ(Md5Hex(L""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(Md5Hex(L"abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(Md5Hex(L"The quick brown fox jumps over the lazy dog"), "9e107d9d372bb6826bd81d3542a419d6");
    EXPECT_EQ(Md5Hex(std::wstring(L"abc\0def", 7)), "900150983cd24fb0d6963f7d28e17f72");
}
