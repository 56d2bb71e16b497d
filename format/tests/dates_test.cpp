#include <chrono>
#include <cstdio>

#include "format/tests/format_fixture.h"

namespace kap::test {
namespace {

std::string Date(int year, int month, int day) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%04d%02d%02d", year, month, day);
  return PackDigits(digits);
}

struct DiffCase {
  std::string from, to, unit;  // YYYYMMDD
  int32_t expected;
};

TEST(DateDiffTest, CountsDaysMonthsAndYearsInEitherOrder) {
  const DiffCase cases[] = {
      {"20240101", "20241231", "D", 365},
      {"20230301", "20240301", "D", 366},
      {"19991231", "20000101", "D", 1},
      {"20240115", "20240115", "D", 0},
      {"20240228", "20240301", "d", 2},
      {"19000228", "19000301", "D", 1},   // 1900 is no leap year
      {"20000228", "20000301", "D", 2},   // 2000 is one
      {"15000228", "15000301", "D", 2},   // 1500 is one under the Julian rule
      {"15821004", "15821015", "D", 11},  // the missing days count like any others
      {"00010101", "99991231", "D", 3652070},
      {"20240131", "20240201", "M", 1},
      {"20231231", "20240101", "m", 1},
      {"19800515", "20240515", "M", 528},
      {"19800515", "20240514", "A", 43},
      {"19800515", "20240515", "a", 44},
      {"19800515", "20240415", "A", 43},
      {"20240101", "20241231", "X", 0},
      {"20240101", "20241231", "", 0},
      {"20240101", "20241231", "DD", 0},
  };
  for (const DiffCase& c : cases) {
    std::string a = PackDigits(c.from), b = PackDigits(c.to);
    EXPECT_EQ(DateDiff(a, b, c.unit), c.expected) << c.from << " " << c.to << " " << c.unit;
    EXPECT_EQ(DateDiff(b, a, c.unit), c.expected) << c.to << " " << c.from << " " << c.unit;
  }
}

TEST(DateDiffTest, DigitsThatAreNoDateNeverGiveANegativeCount) {
  const std::string blank = "    ";  // unpacks to 3232-32-32
  const std::string odd[] = {
      blank,         Date(2024, 0, 0),    Date(2024, 99, 99),    Date(2024, 13, 1),
      std::string(), std::string("\x94"), std::string(6, '\xFF')};
  for (const std::string& a : odd) {
    for (const std::string& b : odd) {
      for (const char* unit : {"D", "M", "A"}) {
        EXPECT_GE(DateDiff(a, b, unit), 0) << Visible(a) << Visible(b) << unit;
      }
      int16_t day = DayOfWeek(a);
      EXPECT_TRUE(day >= 1 && day <= 7) << Visible(a);
    }
  }
}

TEST(DayOfWeekTest, KnownDays) {
  const std::pair<const char*, int> cases[] = {
      {"20000101", 6}, {"20000103", 1}, {"15821015", 5}, {"15821004", 4},
      {"10000101", 1}, {"20241231", 2}, {"00010101", 6}, {"99991231", 5},
  };
  for (const auto& [digits, expected] : cases) {
    EXPECT_EQ(DayOfWeek(PackDigits(digits)), expected) << digits;
  }
}

// Every day of the Gregorian era up to 2400 against the standard library's calendar.
TEST(DayOfWeekTest, AgreesWithStdChronoFrom1583To2400) {
  using namespace std::chrono;
  const sys_days first = year_month_day{year{1583}, January, day{1}};
  const sys_days last = year_month_day{year{2400}, December, day{31}};
  const std::string firstPacked = Date(1583, 1, 1);
  int failures = 0;
  for (sys_days d = first; d <= last && failures < 10; d += days{1}) {
    year_month_day ymd{d};
    std::string packed = Date(int(ymd.year()), unsigned(ymd.month()), unsigned(ymd.day()));
    int expectedDay = static_cast<int>(weekday{d}.iso_encoding());
    int32_t expectedDiff = static_cast<int32_t>((d - first).count());
    int16_t gotDay = DayOfWeek(packed);
    int32_t gotDiff = DateDiff(firstPacked, packed, "D");
    if (gotDay != expectedDay || gotDiff != expectedDiff) {
      ++failures;
      ADD_FAILURE() << int(ymd.year()) << "-" << unsigned(ymd.month()) << "-" << unsigned(ymd.day())
                    << ": day " << gotDay << " (" << expectedDay << "), diff " << gotDiff << " ("
                    << expectedDiff << ")";
    }
  }
}

// Before 5 October 1582 the week runs on the Julian calendar: checked against the Julian
// day number of every date from the year 1.
TEST(DayOfWeekTest, FollowsTheJulianCalendarBeforeOctober1582) {
  auto julianDayNumber = [](long y, long m, long d) {
    long a = (14 - m) / 12;
    long yy = y + 4800 - a;
    long mm = m + 12 * a - 3;
    return d + (153 * mm + 2) / 5 + 365 * yy + yy / 4 - 32083;
  };
  const int monthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int failures = 0;
  long previousNumber = 0;
  for (int y = 1; y <= 1582 && failures < 10; ++y) {
    for (int m = 1; m <= 12; ++m) {
      int length = monthDays[m - 1] + (m == 2 && y % 4 == 0 ? 1 : 0);
      for (int d = 1; d <= length; ++d) {
        if (y == 1582 && (m > 10 || (m == 10 && d > 4))) break;
        long number = julianDayNumber(y, m, d);
        int expected = static_cast<int>(number % 7) + 1;
        std::string packed = Date(y, m, d);
        if (DayOfWeek(packed) != expected) {
          ++failures;
          ADD_FAILURE() << y << "-" << m << "-" << d << ": " << DayOfWeek(packed) << " not "
                        << expected;
        }
        // Day counts within a year follow the Julian leap years too.
        if (m == 12 && d == 31 && y > 1) {
          EXPECT_EQ(DateDiff(Date(y - 1, 12, 31), packed, "D"), number - previousNumber) << y;
        }
        if (m == 12 && d == 31) previousNumber = number;
      }
    }
  }
  // The day after Thursday 4 October 1582 is Friday 15 October.
  EXPECT_EQ(DayOfWeek(Date(1582, 10, 4)) % 7 + 1, DayOfWeek(Date(1582, 10, 15)));
}

using FormatDateTest = FormatTest;

struct DateCase {
  const char* language;
  const char* digits;
  int16_t style;
  const char* parts;
  std::string expected;
};

TEST_F(FormatDateTest, StylesAndLanguagesWithDefaultSettings) {
  const DateCase cases[] = {
      {"CAT", "20240405", 0, "dma", "5/4/2024  "},
      {"CAT", "20240405", 1, "dma", "5/abr/2024 "},
      {"SPA", "20240405", 1, "dma", "5/abr/2024 "},
      {"CAT", "20240405", 2, "dma", "5 d'abril del 2024"},
      {"SPA", "20240405", 2, "dma", "5 de abril de 2024"},
      {"GLG", "20240405", 2, "dma", "5 de abril do 2024"},
      {"OCI", "20240405", 2, "dma", "5 d'abriu deth 2024"},
      {"CAT", "20240405", 7, "DMA", "5 d'abril del 2024"},
      {"CAT", "20240405", -1, "d", "2024-04-05"},
      {"CAT", "20240405", 0, "da", "5/2024 "},
      {"CAT", "20240405", 0, "ma", "4/2024 "},
      {"CAT", "20240405", 2, "m", "abril"},
      {"CAT", "20240405", 2, "am", "abril del 2024"},
      {"CAT", "20241231", 0, "dma", "31/12/2024"},
      {"CAT", "20240101", 2, "dma", "1 de gener del 2024"},
      {"CAT", "20241015", 2, "dm", "15 d'octubre"},
      {"CAT", "20240301", 2, "dma", "1 de mar\x87 del 2024"},
      {"OCI", "20240101", 1, "dma", "1/g\x8Ar/2024 "},
      {"OCI", "20240201", 2, "dma", "1 de hereu\x8Ar deth 2024"},
      {"GLG", "20240301", 2, "dma", "1 de mar\x87o do 2024"},
      {"SPA", "20240915", 1, "dma", "15/sep/2024"},
      {"SPA", "20240915", 2, "dma", "15 de septiembre de 2024"},
      {"XYZ", "20240801", 2, "dma", "1 d'agost del 2024"},
      {"CAT", "00000000", 0, "dma", "          "},
      {"CAT", "00000000", 1, "dma", "           "},
      {"CAT", "00000000", 2, "dma", ""},
      {"CAT", "00000000", -1, "dma", "0000-00-00"},
      {"CAT", "20240005", 0, "dma", "5/0/2024  "},   // day without month still writes
      {"CAT", "20241305", 1, "dma", "5/13/2024  "},  // no name for month 13
      {"CAT", "20240405", 0, "", ""},
      {"CAT", "20240405", -7, "dma", "5/4"},  // odd styles still get a width, never below 0
      {"CAT", "20240405", -9, "dm", ""},
  };
  for (const DateCase& c : cases) {
    SetLanguage(c.language);
    EXPECT_EQ(Visible(FormatDate(PackDigits(c.digits), c.style, c.parts)), Visible(c.expected))
        << c.language << " " << c.digits << " style " << c.style << " " << c.parts;
  }
}

TEST_F(FormatDateTest, OrderAndSeparatorComeFromVoraIni) {
  struct Case {
    const char* vora;
    int16_t style;
    const char* parts;
    const char* expected;
  } cases[] = {
      {"DatOrdre=AMD\r\n", 2, "dma", "2024 d'abril del 5"},
      {"DatOrdre=amd\r\n", 0, "dma", "2024/4/5  "},
      {"DatOrdre=MDA\r\nDatCaracter=-\r\n", 0, "dma", "4-5-2024  "},
      {"DatOrdre=MDA\r\nDatCaracter=-\r\n", -1, "dma", "2024-04-05"},
      {"DatCaracter=.x\r\n", 0, "dma", "5.4.2024  "},
      {"DatCaracter= -\r\nDatOrdre=   \r\n", 0, "dma", "5/4/2024  "},
      {"DatOrdre=DM\r\n", 0, "dma", "5/4       "},
      {"DatOrdre=DMAD\r\n", 2, "dma", "5 d'abril del 2024"},
  };
  SetLanguage("CAT");
  for (const Case& c : cases) {
    WriteVora(c.vora);
    EXPECT_EQ(FormatDate(PackDigits("20240405"), c.style, c.parts), c.expected) << c.vora;
  }
}

TEST_F(FormatDateTest, SettingsAreReadOnceUntilReset) {
  WriteVora("DatCaracter=-\r\n");
  const std::string date = PackDigits("20240405");
  EXPECT_EQ(FormatDate(date, 0, "dma"), "5-4-2024  ");
  WriteFile(root_.file("Vora.ini"), "[Usuari]\r\nDatCaracter=.\r\n");
  EXPECT_EQ(FormatDate(date, 0, "dma"), "5-4-2024  ");
  ResetFormatSettings();
  EXPECT_EQ(FormatDate(date, 0, "dma"), "5.4.2024  ");
}

TEST_F(FormatDateTest, ShortOrOddPackedDatesDoNotCrash) {
  EXPECT_EQ(FormatDate("", -1, "dma"), "0000-00-00");
  EXPECT_EQ(FormatDate(std::string("\x94\x98", 2), -1, "dma"), "2024-00-00");
  EXPECT_EQ(FormatDate("    ", -1, "dma"), "3232-32-32");
  EXPECT_EQ(FormatDate("    ", 2, "dma"), "32 de 32 del 3232");
}

}  // namespace
}  // namespace kap::test
