#include "platform/text.h"

#include <gtest/gtest.h>

namespace kap {
namespace {

struct TrimCase {
  std::string in, both, right;
};

TEST(TextTest, TrimsSpacesOnly) {
  const TrimCase cases[] = {
      {"", "", ""},
      {"   ", "", ""},
      {"ab", "ab", "ab"},
      {"  a b  ", "a b", "  a b"},
      {"\tab\t", "\tab\t", "\tab\t"},  // tabs are kept unless asked for
      {" \xA4\xB5 ", "\xA4\xB5", " \xA4\xB5"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TrimSpaces(c.in), c.both) << c.in;
    EXPECT_EQ(TrimRight(c.in), c.right) << c.in;
  }
  EXPECT_EQ(TrimSpaces(" \t a\t ", " \t"), "a");
}

TEST(TextTest, PadsOrCutsToWidth) {
  const struct {
    std::string in;
    size_t width;
    std::string out;
  } cases[] = {
      {"", 3, "   "},
      {"abc", 3, "abc"},
      {"abcd", 3, "abc"},
      {"ab", 0, ""},
      {"\x82\x90", 3, "\x82\x90 "},
  };
  for (const auto& c : cases) EXPECT_EQ(PadOrCut(c.in, c.width), c.out) << c.in;
}

TEST(TextTest, UpperCasesAsciiLettersOnly) {
  EXPECT_EQ(UpperAscii(""), "");
  EXPECT_EQ(UpperAscii("az AZ 09{`"), "AZ AZ 09{`");
  // Accented CP850 letters (\x82 e-acute, \xA4 n-tilde) are left as they are.
  EXPECT_EQ(UpperAscii("\x82\xA4x"), "\x82\xA4X");
}

}  // namespace
}  // namespace kap
