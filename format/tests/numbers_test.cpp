#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "format/tests/format_fixture.h"

namespace kap::test {
namespace {

struct PictureCase {
  const char* picture;
  double value;
  const char* expected;
};

class FormatNumberTest : public FormatTest {
 protected:
  void SetUp() override {
    FormatTest::SetUp();
    WriteVora("DecCaracter=,\r\nMilCaracter=.\r\n");
  }
  void Check(const PictureCase* cases, size_t count) {
    for (size_t i = 0; i < count; ++i) {
      const PictureCase& c = cases[i];
      std::string got = FormatNumber(c.picture, c.value);
      EXPECT_EQ(Visible(got), Visible(c.expected))
          << "picture " << c.picture << " value " << c.value;
      EXPECT_EQ(got.size(), std::string(c.picture).size()) << c.picture;
    }
  }
};

TEST_F(FormatNumberTest, SpaceFilledPictures) {
  const PictureCase cases[] = {
      {"ZZ,ZZ9.99", 1234.5, " 1.234,50"},
      {"ZZZ", 0, "   "},
      {"ZZ9", 0, "  0"},
      {"ZZZ", 10, " 10"},
      {"ZZZ", 2.5, "  2"},
      {"ZZZ", 3.5, "  4"},
      {"ZZ9.ZZ", 5, "  5   "},
      {"ZZ9.ZZ", 1.5, "  1,5 "},
      {"ZZ9.ZZ", 1.05, "  1,05"},
      {"ZZ9.ZZ", 0.05, "  0,05"},
      {"ZZZ.ZZ", 0.5, "   ,5 "},
      {"ZZ9.99", 0, "  0,00"},
      {"zz9", 42, " 42"},
      {"ZZZZZZZ9", 12345678, "12345678"},
      {"ZZZ9", 7, "   7"},
      {"ZZ9", 0.4, "  0"},
      {"ZZZ", 0.4, "  0"},
      {"Z", 0.4, "0"},  // not exactly 0: shows its 0
      {"", 5, ""},
      {"ZZ9 EUR", 12, " 12 EUR"},
      {"(ZZ9)", 12, "( 12)"},
  };
  Check(cases, std::size(cases));
}

TEST_F(FormatNumberTest, ZeroAndStarFilledPictures) {
  const PictureCase cases[] = {
      {"**,**9.99", 12.3, "****12,30"},
      {"**,**9.99", 0, "*****0,00"},
      {"999", 5, "005"},
      {"99.99", 3.14159, "03,14"},
      {"9.999", 0, "0,000"},
      {"***", 0, "**0"},
      {"**9", 7, "**7"},
      {"99", 1234, "!!"},
  };
  Check(cases, std::size(cases));
}

TEST_F(FormatNumberTest, ThousandsSeparatorsBesideFills) {
  const PictureCase cases[] = {
      {"ZZ,ZZ9", 5, "     5"},
      {"ZZ,ZZ9", 1234, " 1.234"},
      {"ZZ,ZZ9", 12345, "12.345"},
      {"Z,ZZ9", 0, "    0"},
      {"**,**9", 5, "*****5"},
      {"**,**9", 1234, "*1.234"},
      {"99,999", 5, "00.005"},
      {"9,999", 5, "0.005"},
      {"Z,ZZZ,ZZ9", 1234567, "1.234.567"},
      {"Z,ZZZ,ZZ9", 4567, "    4.567"},
  };
  Check(cases, std::size(cases));
}

TEST_F(FormatNumberTest, NegativeValuesWithAndWithoutSignPosition) {
  const PictureCase cases[] = {
      {"ZZ,ZZ9.99-", -1234.5, " 1.234,50-"},
      {"ZZ,ZZ9.99-", 1234.5, " 1.234,50 "},
      {"-Z,ZZZ,ZZ9.99", -1234.5, "-    1.234,50"},
      {"+ZZ9", 12, "+ 12"},
      {"+ZZ9", -12, "- 12"},
      {"ZZ9+", -3, "  3-"},
      {"ZZ9.9+", 2.5, "  2,5+"},
      {"ZZ9", -12, "-12"},
      {"ZZ9", -5, " -5"},
      {"ZZ9", -123, "!!!"},
      {"999", -5, "0-5"},
      {"ZZ,ZZ9", -5, "    -5"},
      {"ZZ,ZZ9", -123, "  -123"},
      {"ZZ,ZZ9", -1234, "-1.234"},
      {"ZZ,ZZ9", -12345, "-12345"},
      {"**,**9", -5, "****-5"},
      {"ZZ9.99", -1.5, " -1,50"},
      {"ZZ9", -0.2, " -0"},
      {"-ZZ9", -0.2, "-  0"},
      {"ZZ9", -0.0, "  0"},
      {"9", -1, "!"},
      {"AB9", -5, " -5"},
      {"$ZZ9", -123, "-123"},  // no free position for the minus
      {"ZZZZ9", -5, "   -5"},
  };
  Check(cases, std::size(cases));
}

TEST_F(FormatNumberTest, OverflowGivesThePlainFormOrExclamationMarks) {
  const PictureCase cases[] = {
      {"ZZ9.99", 1234.5, "1234,5"}, {"ZZZ,ZZ9.99", 1234567.89, "1234567,89"},
      {"ZZ9", 1234, "!!!"},         {"ZZZZ9.9", 123456, "123456,"},
      {"Z9.9", -123, "-123"},       {"Z9.9", -1234, "!!!!"},
      {"99.99", 123.456, "123,4"},  {"Z", 1e300, "!"},
      {"ZZ9", INFINITY, "!!!"},     {"ZZ9", NAN, "!!!"},
  };
  Check(cases, std::size(cases));
}

TEST_F(FormatNumberTest, DefaultCharactersWithoutVoraIni) {
  std::remove(root_.file("Vora.ini").c_str());
  ResetFormatSettings();
  EXPECT_EQ(FormatNumber("ZZ,ZZ9.99", 1234.5), " 1.234'50");
  WriteVora("DecCaracter= ,\r\nMilCaracter=\r\n");
  EXPECT_EQ(FormatNumber("ZZ,ZZ9.99", 1234.5), " 1.234'50");
  WriteVora("DecCaracter=.\r\nMilCaracter=,\r\n");
  EXPECT_EQ(FormatNumber("ZZ,ZZ9.99", 1234.5), " 1,234.50");
}

// Round half to even on the decimal text of the value, at every decimal position: x.5 at
// position N rounds to the even neighbour, anything above a half rounds up.
TEST_F(FormatNumberTest, RoundsHalfToEvenAtEveryPosition) {
  for (int places = 0; places <= 6; ++places) {
    std::string picture = "ZZZZZ9";
    if (places > 0) picture += "." + std::string(places, '9');
    for (int last = 0; last <= 9; ++last) {
      for (const char* tail : {"5", "51", "49"}) {
        // value = 4 and `places` decimals ending in `last`, followed by the tail.
        std::string kept = "4" + std::string(places, '0');
        kept.back() = static_cast<char>('0' + last);
        if (places == 0) kept = std::string("4") + static_cast<char>('0' + last);
        std::string text =
            places == 0 ? kept + "." + tail : kept.substr(0, 1) + "." + kept.substr(1) + tail;
        int64_t scaled = std::strtoll(kept.c_str(), nullptr, 10);
        bool up = tail[0] == '5' && (tail[1] != 0 || last % 2 == 1);
        scaled += up ? 1 : 0;
        std::string expected = std::to_string(scaled);
        if (places > 0) {
          expected.insert(expected.size() - places, ",");
        }
        expected.insert(0, picture.size() - expected.size(), ' ');
        double value = std::strtod(text.c_str(), nullptr);
        EXPECT_EQ(FormatNumber(picture, value), expected) << picture << " " << text;
        expected.replace(expected.find_first_not_of(' ') - 1, 1, "-");
        EXPECT_EQ(FormatNumber(picture, -value), expected) << picture << " -" << text;
      }
    }
  }
}

TEST_F(FormatNumberTest, RoundsAsTheDecimalTextSuggests) {
  const PictureCase cases[] = {
      {"9.99", 1.005, "1,00"},
      {"9.99", 1.015, "1,02"},
      {"9.99", 2.675, "2,68"},
      {"9.99", 1.125, "1,12"},
      {"9.9", 0.1 + 0.2, "0,3"},
      {"ZZ9", 0.5, "  0"},
      {"ZZ9", 1.5, "  2"},
      {"ZZ9.9", 1.1 * 1.15, "  1,3"},
      {"ZZZ,ZZZ,ZZZ,ZZZ,ZZZ,ZZ9", 123456789012345678.0, "123.456.789.012.345.680"},
  };
  Check(cases, std::size(cases));
}

// The calculator's picture: "-" and the last 21 characters of Z,ZZZ,ZZZ,ZZZ,ZZZ,ZZ9 with
// its decimals.
TEST_F(FormatNumberTest, CalculatorPicture) {
  const std::string base = std::string("Z,ZZZ,ZZZ,ZZZ,ZZZ,ZZ9");
  const std::string picture = "-" + base.substr(base.size() - 21) + ".99";
  EXPECT_EQ(FormatNumber(picture, -1234.5), "-" + std::string(16, ' ') + "1.234,50");
  EXPECT_EQ(FormatNumber(picture, 0), " " + std::string(20, ' ') + "0,00");
  EXPECT_EQ(FormatNumber(picture, 123456789012345.67), "   123.456.789.012.345,67");
}

struct MoneyCase {
  const char* layout;
  double cents;
  bool pesetas;
  const char* expected;
};

TEST_F(FormatNumberTest, MoneyInEurosAndPesetas) {
  const MoneyCase cases[] = {
      {"ZZ,ZZZ,ZZ9", 150, false, "      1,50"},
      {"ZZ,ZZZ,ZZ9", 150, true, "       250"},
      {"ZZ,ZZZ,ZZ9", 0, false, "      0,00"},
      {"ZZ,ZZZ,ZZ9", 0, true, "         0"},
      {"ZZ,ZZZ,ZZ9", 123456789, false, "1234567,89"},
      {"ZZ,ZZZ,ZZ9", 123456789, true, " 205414813"},
      {"ZZ,ZZZ,ZZ9", 10000000, true, "16.638.600"},
      {"ZZ,ZZZ,ZZ9", 25000, true, "    41.596"},  // 41596.5 is a tie: to even
      {"ZZ,ZZZ,ZZ9", 25100, true, "    41.763"},  // 41762.886
      {"ZZ,ZZZ,ZZ9", -150, false, "     -1,50"},
      {"ZZZZZZZ", 0, false, "       "},
      {"ZZZZZZZ", 5, false, "   0,05"},
      {"*******", 5, false, "***0,05"},
      {"ZZ,ZZ9-", -150, false, "  1,50-"},
      {"-ZZ,ZZ9", -150, false, "-  1,50"},
      {"ZZ9.9", 1234, false, "12,34"} /* 9.999: plain 12,340 cut */,
      {"ZZ9.9", 1234, true, "2053,"} /* ZZ9.9: plain 2053,2 cut */,
      {"", 150, false, ""},
      {"9", 150, false, "2"},
      {"9", 1234, false, "!"},
  };
  SetCurrency("a,E");
  SetCurrency("b,P");
  for (const MoneyCase& c : cases) {
    SetCurrency(c.pesetas ? "p" : "e");
    ASSERT_EQ(CurrentSession().CurrentCurrency, c.pesetas ? "P" : "E");
    EXPECT_EQ(FormatMoney(c.layout, c.cents), c.expected)
        << c.layout << " " << c.cents << (c.pesetas ? " pesetas" : " euros");
  }
}

TEST_F(FormatNumberTest, SettingsAreReadOnceUntilReset) {
  EXPECT_EQ(FormatNumber("9.9", 1.5), "1,5");
  WriteFile(root_.file("Vora.ini"), "[Usuari]\r\nDecCaracter=:\r\n");
  EXPECT_EQ(FormatNumber("9.9", 1.5), "1,5");
  ResetFormatSettings();
  EXPECT_EQ(FormatNumber("9.9", 1.5), "1:5");
}

}  // namespace
}  // namespace kap::test
