// RIPEMD-160 against the published vectors and against the rhash tool.
#include "files/digest.h"

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace {

std::string hex_of(const std::string& data, size_t chunk = 0) {
  Digest d;
  digest_init(&d);
  if (chunk == 0) chunk = data.size() ? data.size() : 1;
  for (size_t at = 0; at < data.size(); at += chunk)
    digest_update(&d, data.data() + at, std::min(chunk, data.size() - at));
  char hex[41];
  digest_to_hex(digest_final(&d), hex);
  return hex;
}

TEST(Digest, PublishedVectors) {
  struct Case {
    std::string input;
    const char* hex;
  } cases[] = {
      {"", "9c1185a5c5e9fc54612808977ee8f548b2258d31"},
      {"a", "0bdc9d2d256b3ee9daae347be6f4dc835a467ffe"},
      {"abc", "8eb208f7e05d987a9b044a8e98c6b087f15a0bfc"},
      {"message digest", "5d0689ef49d2fae572b881b123a85ffa21595f36"},
      {"abcdefghijklmnopqrstuvwxyz", "f71c27109c692c1b56bbdceb5b9d2865b3708dbc"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "12a053384a9c0c88e405a06c27dcf49ada62eb2b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "b0e20b6e3116640286ed3a87a5713079b21f5189"},
      {std::string(8 * 10, ' ').replace(0, 80, [] {
         std::string s;
         for (int i = 0; i < 8; i++) s += "1234567890";
         return s;
       }()),
       "9b752e45573d4b39f4dbd3323cab82bf63326bfb"},
      {std::string(1000000, 'a'), "52783243c1697bdbe16d37f97f68f08325dc1528"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(hex_of(c.input), c.hex) << c.input.substr(0, 20);
    EXPECT_EQ(hex_of(c.input, 7), c.hex) << "in 7-byte pieces";
  }
}

TEST(Digest, EqualsHexAcceptsEitherCaseOnly) {
  Digest d;
  digest_init(&d);
  digest_update(&d, "abc", 3);
  const uint8_t* bytes = digest_final(&d);
  EXPECT_EQ(digest_equals_hex("8eb208f7e05d987a9b044a8e98c6b087f15a0bfc", bytes), 1);
  EXPECT_EQ(digest_equals_hex("8EB208F7E05D987A9B044A8E98C6B087F15A0BFC", bytes), 1);
  EXPECT_EQ(digest_equals_hex("8eb208f7e05d987a9b044a8e98c6b087f15a0bfd", bytes), 0);
  EXPECT_EQ(digest_equals_hex("8eb208f7", bytes), 0);  // too short: stops at the terminator
  EXPECT_EQ(digest_equals_hex("", bytes), 0);
}

// Awkward lengths around the padding boundary, checked against an independent tool.
TEST(Digest, AgreesWithRhash) {
  if (system("command -v rhash >/dev/null 2>&1") != 0) GTEST_SKIP() << "rhash not installed";
  TempDir dir;
  for (size_t length : {size_t(55), size_t(56), size_t(63), size_t(64), size_t(65), size_t(1) << 20}) {
    std::string data(length, '\0');
    uint32_t x = 12345u + static_cast<uint32_t>(length);
    for (char& c : data) {
      x = x * 1664525u + 1013904223u;
      c = static_cast<char>(x >> 24);
    }
    std::string path = dir.write("data.bin", data);
    std::string command = "rhash --ripemd160 --simple '" + path + "'";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char line[256] = {};
    ASSERT_NE(fgets(line, sizeof line, pipe), nullptr);
    pclose(pipe);
    EXPECT_EQ(std::string(line, 40), hex_of(data)) << length;
  }
}

}  // namespace
