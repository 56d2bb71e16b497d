// ReadIniValue on real files: the grammar's corners and files that are not INI files at all.
#include <gtest/gtest.h>

#include "platform/os.h"
#include "session/session.h"
#include "testsupport/test_support.h"

namespace kap {
namespace {

using test::TempDir;

struct IniCase {
  const char* name;
  std::string content;
  std::string section, key, expected;
};

TEST(ReadIniValue, Grammar) {
  const IniCase cases[] = {
      {"plain", "[Sistema]\nIdioma=SPA\n", "Sistema", "Idioma", "SPA"},
      {"spaces around = and before ; are kept", "[Sistema]\nIdioma = SPA ; comment\n", "Sistema",
       "Idioma", " SPA "},
      {"; cuts inside quotes too", "[S]\nK=\"a;b\"\n", "S", "K", "\"a"},
      {"section and key ignore case and spaces", "[ menu ]\n  TITOL =x\n", " Menu ", "titol ", "x"},
      {"header without ]", "[Menu\nTitol=Gestio\n", "Menu", "Titol", "Gestio"},
      {"text after ] ignored", "[Menu] trailing=1\nTitol=t\n", "Menu", "Titol", "t"},
      {"outer quotes removed", "[Pantalla]\nCol0=\"15000700000700070007\"\n", "Pantalla", "Col0",
       "15000700000700070007"},
      {"only one pair of quotes", "[S]\nK=\"\"x\"\"\n", "S", "K", "\"x\""},
      {"two quotes give empty", "[S]\nK=\"\"\n", "S", "K", ""},
      {"one quote stays", "[S]\nK=\"\n", "S", "K", "\""},
      {"first key wins", "[S]\nK=1\nK=2\n", "S", "K", "1"},
      {"value runs past further =", "[S]\nK=a=b\n", "S", "K", "a=b"},
      {"key only in a second section of the name", "[S]\nA=1\n[T]\nK=9\n[S]\nK=2\n", "S", "K", ""},
      {"key before any header", "K=1\n[S]\nA=2\n", "S", "K", ""},
      {"section ends at the next header", "[S]\nA=1\n[T]\nK=2\n", "S", "K", ""},
      {"missing section", "[S]\nK=1\n", "X", "K", ""},
      {"a tab is not blank", "[S]\n\tK=1\nK=2\n", "S", "K", "2"},
      {"a tab in the key makes another key", "[S]\nK\t=1\n", "S", "K", ""},
      {"blank lines", "\n   \n[S]\n\n  \nK=v", "S", "K", "v"},
      {"CR LF line ends", "[S]\r\nK=v\r\nL=w\r\n", "S", "L", "w"},
      {"CR line ends", "[S]\rK=v\rL=w\r", "S", "L", "w"},
      {"empty value", "[S]\nK=\nL=1\n", "S", "K", ""},
      {"bytes above 127 kept", "[S]\nK=EST\xB7 \xD5\n", "S", "K", "EST\xB7 \xD5"},
      {"NUL is an ordinary byte", std::string("[S]\nK=a\0b\n", 10), "S", "K",
       std::string("a\0b", 3)},
  };
  TempDir dir;
  for (const IniCase& c : cases) {
    const std::string path = dir.file("case.ini");
    test::WriteFile(path, c.content);
    EXPECT_EQ(ReadIniValue(path, c.section, c.key), c.expected) << c.name;
  }
}

TEST(ReadIniValue, MissingOrUnreadableFilesGiveEmpty) {
  TempDir dir;
  EXPECT_EQ(ReadIniValue(dir.file("none.ini"), "S", "K"), "");
  EXPECT_EQ(ReadIniValue(dir.file("nofolder/x.ini"), "S", "K"), "");
  EXPECT_EQ(ReadIniValue(dir.path(), "S", "K"), "");  // a folder
  EXPECT_EQ(ReadIniValue("", "S", "K"), "");
}

TEST(ReadIniValue, ReadsThroughSuitePathsAndSeesChangesAtOnce) {
  TempDir dir;
  test::MakeDirs(dir.file("T01"));
  test::WriteFile(dir.file("T01/VoraTerm.ini"), "[Sistema]\nData=20240101\n");
  const std::string suitePath = dir.path() + "\\t01\\VORATERM.INI";
  EXPECT_EQ(ReadIniValue(suitePath, "sistema", "DATA"), "20240101");
  test::WriteFile(dir.file("T01/VoraTerm.ini"), "[Sistema]\nData=20250202\n");
  EXPECT_EQ(ReadIniValue(suitePath, "Sistema", "Data"), "20250202");
}

TEST(ReadIniValue, HugeLinesAndBinaryFilesDoNotBreakIt) {
  TempDir dir;
  const std::string path = dir.file("big.ini");
  const std::string longValue(100000, 'v');
  test::WriteFile(path, "[S]\n" + std::string(100000, 'x') + "\nK=" + longValue + "\nL=1\n");
  EXPECT_EQ(ReadIniValue(path, "S", "K"), longValue);
  EXPECT_EQ(ReadIniValue(path, "S", "L"), "1");

  // Every byte value, repeated, with no line structure to speak of.
  std::string binary;
  for (int round = 0; round < 300; ++round) {
    for (int b = 0; b < 256; ++b) binary.push_back(static_cast<char>((b * 37 + round) & 0xFF));
  }
  test::WriteFile(path, binary);
  for (const char* section : {"S", "", "\x01"}) {
    std::string value = ReadIniValue(path, section, "K");
    EXPECT_LE(value.size(), binary.size());
  }
  // A line beyond the reader's limit is cut, not held whole.
  test::WriteFile(path, "[S]\nK=" + std::string(3 << 20, 'y') + "\nL=2\n");
  EXPECT_LE(ReadIniValue(path, "S", "K").size(), size_t(1) << 20);
  EXPECT_EQ(ReadIniValue(path, "S", "L"), "2");
}

}  // namespace
}  // namespace kap
