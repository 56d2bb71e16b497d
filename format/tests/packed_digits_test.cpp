// Packed digits: the byte values, the alignment of short texts, and the order they keep.
#include <cstdio>
#include <cstring>

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

TEST(PackedDigits, PackAndUnpack) {
  const std::pair<std::string, std::string> packs[] = {
      {"20241231", Bytes({148, 152, 140, 159})},
      {" 123", Bytes({129, 151})},
      {"12 4", Bytes({140, 132})},
      {"123", Bytes({140, 158})},
      {"0099", Bytes({128, 227})},
      {"12  ", Bytes({128, 140})},  // right-aligned
      {"    ", Bytes({128, 128})},
      {"1a-b", Bytes({138, 128})},  // non-digits count as 0
      {"7", Bytes({198})},
      {"", ""},
  };
  for (const auto& [text, packed] : packs) {
    EXPECT_EQ(Show(PackDigits(text)), Show(packed)) << "[" << text << "]";
  }
  const std::pair<std::string, std::string> unpacks[] = {
      {Bytes({148, 152, 140, 159}), "20241231"},
      {"    ", "32323232"},
      {std::string(2, '\0'), "0000"},
      {Bytes({255, 228}), "2700"},  // 127, 100
  };
  for (const auto& [packed, digits] : unpacks) {
    EXPECT_EQ(UnpackDigits(packed), digits) << Show(packed);
  }
}

TEST(PackedDigits, RoundTripInNumericOrder) {
  std::string previous;
  for (int n = 0; n < 10000; ++n) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d", n);
    std::string packed = PackDigits(text);
    ASSERT_EQ(UnpackDigits(packed), text);
    // Compared as unsigned bytes, as the record manager compares keys.
    ASSERT_TRUE(n == 0 || std::memcmp(previous.data(), packed.data(), 2) < 0) << text;
    previous = packed;
  }
}

}  // namespace
}  // namespace kap
