// Packed digits: the byte values, the alignment of short texts, and the order they keep.
#include <algorithm>
#include <cstdio>

#include <gtest/gtest.h>

#include "format/format.h"

namespace kap {
namespace {

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out.push_back(static_cast<char>(v));
  return out;
}

std::string Show(const std::string& bytes) {
  std::string out;
  for (unsigned char b : bytes) out += std::to_string(b) + " ";
  return out;
}

TEST(PackDigits, Cases) {
  struct Case {
    std::string text, packed;
  } cases[] = {
      {"20241231", Bytes({148, 152, 140, 159})},
      {" 123", Bytes({129, 151})},
      {"12 4", Bytes({140, 132})},
      {"123", Bytes({140, 158})},
      {"0000", Bytes({128, 128})},
      {"0099", Bytes({128, 227})},
      {"9999", Bytes({227, 227})},
      {"12  ", Bytes({128, 140})},  // trailing spaces: right-aligned
      {"    ", Bytes({128, 128})},
      {"1a2b", Bytes({138, 148})},  // letters count as 0
      {"-5", Bytes({133})},
      {"7", Bytes({198})},
      {"", ""},
      {std::string("\xFF\x80", 2), Bytes({128})},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Show(PackDigits(c.text)), Show(c.packed)) << "[" << c.text << "]";
  }
}

TEST(UnpackDigits, Cases) {
  struct Case {
    std::string packed, digits;
  } cases[] = {
      {Bytes({148, 152, 140, 159}), "20241231"},
      {"    ", "32323232"},
      {std::string(2, '\0'), "0000"},
      {Bytes({128, 227}), "0099"},
      {Bytes({255}), "27"},  // 127: the last two digits
      {Bytes({228}), "00"},  // 100
      {"", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(UnpackDigits(c.packed), c.digits) << Show(c.packed);
  }
}

TEST(PackedDigits, RoundTripAndNumericOrder) {
  std::string previous;
  for (int n = 0; n < 10000; ++n) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d", n);
    std::string packed = PackDigits(text);
    ASSERT_EQ(packed.size(), 2u);
    ASSERT_EQ(UnpackDigits(packed), text);
    // Unsigned byte comparison, as std::string does not promise it for char.
    if (n > 0) {
      ASSERT_TRUE(std::lexicographical_compare(
          previous.begin(), previous.end(), packed.begin(), packed.end(),
          [](char a, char b) {
            return static_cast<unsigned char>(a) < static_cast<unsigned char>(b);
          }))
          << text;
    }
    previous = packed;
  }
}

}  // namespace
}  // namespace kap
