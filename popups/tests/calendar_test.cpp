// The calendar on the in-memory console: the quarter drawn for the working date, moves with
// scripted keys, and the date typed back.
#include "platform/os.h"
#include "popups/tests/popups_fixture.h"

namespace kap::test {
namespace {

constexpr uint8_t kPlain = 0x07;      // scheme "n"
constexpr uint8_t kDays = 0x0F;       // scheme "h"
constexpr uint8_t kHighlight = 0x70;  // scheme "u"

class CalendarTest : public PopupTest {
 protected:
  std::string Calendar(const std::string& workDate, const std::vector<int16_t>& keys,
                       const std::function<void()>& look = nullptr, int16_t last = 'F') {
    CurrentSession().WorkDate = PackDigits(workDate);
    return Run(PopupCalendar, keys, look, last);
  }
  // Screen row `row` of the window, frame included (UTF-8).
  std::string WindowRow(int row) const { return Row(row, 59, 22); }
  std::string Inside(int row) const { return Row(row, 60, 20); }
};

TEST_F(CalendarTest, OpeningOn15MayShowsTheSecondQuarterWithThe15Highlighted) {
  SetKeyList("ea", "d");
  SetColour("r");
  std::vector<Cell> before = Cells();
  const std::vector<std::string> expected = {
      "┌─────── 2026 ───────┐",
      "│DL DT DC DJ DV DS DG│",
      "│       ABRIL        │",
      "│       1  2  3  4  5│",
      "│ 6  7  8  9 10 11 12│",
      "│13 14 15 16 17 18 19│",
      "│20 21 22 23 24 25 26│",
      "│27 28 29 30         │",
      "│                    │",
      "│        MAIG        │",
      "│             1  2  3│",
      "│ 4  5  6  7  8  9 10│",
      "│11 12 13 14 15 16 17│",
      "│18 19 20 21 22 23 24│",
      "│25 26 27 28 29 30 31│",
      "│                    │",
      "│        JUNY        │",
      "│ 1  2  3  4  5  6  7│",
      "│ 8  9 10 11 12 13 14│",
      "│15 16 17 18 19 20 21│",
      "│22 23 24 25 26 27 28│",
      "│29 30               │",
      "│                    │",
      "└────────────────────┘",
  };
  std::string result = Calendar("20260515", {}, [&] {
    for (int r = 1; r <= 24; ++r) EXPECT_EQ(WindowRow(r), expected[static_cast<size_t>(r - 1)]) << "row " << r;
    EXPECT_EQ(console.AttributeAt(13, 72), kHighlight);
    EXPECT_EQ(console.AttributeAt(13, 73), kHighlight);
    EXPECT_EQ(console.AttributeAt(13, 69), kDays);
    EXPECT_EQ(console.AttributeAt(2, 60), kPlain);
    EXPECT_EQ(console.AttributeAt(10, 67), kPlain);
    EXPECT_FALSE(console.CursorVisible());
    // The rest of the screen is the caller's.
    for (int r = 1; r <= 25; ++r)
      for (int c = 1; c <= (r == 25 ? 80 : 58); ++c)
        ASSERT_EQ(console.ReadCell(r, c), before[static_cast<size_t>((r - 1) * 80 + c - 1)]) << r << "," << c;
  }, key::kEsc);
  EXPECT_EQ(result, "");
  EXPECT_EQ(Cells(), before);
  EXPECT_TRUE(console.CursorVisible());
  EXPECT_EQ(console.Attribute(), 0x70);
  int16_t reported = 0;
  EXPECT_TRUE(LookupKey(key::kEnter, &reported));
  EXPECT_FALSE(LookupKey(key::kPgDn, &reported));
  EXPECT_EQ(CurrentWindow().depth, 0);
}

TEST_F(CalendarTest, KeysMoveTheDayAcrossMonthQuarterAndYearEdges) {
  struct Case {
    const char* workDate;
    std::vector<int16_t> keys;
    const char* result;
    const char* firstTitle;  // of the quarter shown at the end
  };
  const Case cases[] = {
      {"20260401", {key::kLeft}, "31/3/2026 ", "GENER"},
      {"20261231", {key::kRight}, "1/1/2027  ", "GENER"},
      {"20260331", {key::kRight}, "1/4/2026  ", "ABRIL"},
      {"20260103", {key::kUp}, "27/12/2025", "OCTUBRE"},
      {"20240228", {key::kDown}, "6/3/2024  ", "GENER"},
      {"20230228", {key::kDown}, "7/3/2023  ", "GENER"},
      {"20260131", {key::kPgDn}, "30/4/2026 ", "ABRIL"},
      {"20240531", {key::kPgUp}, "29/2/2024 ", "GENER"},
      {"20230531", {key::kPgUp}, "28/2/2023 ", "GENER"},
      {"20260215", {key::kPgUp}, "15/11/2025", "OCTUBRE"},
      {"20261115", {key::kPgDn}, "15/2/2027 ", "GENER"},
      // February is cut to the length it has in the year moved into.
      {"20231130", {key::kPgDn}, "29/2/2024 ", "GENER"},
      {"20241130", {key::kPgDn}, "28/2/2025 ", "GENER"},
      {"20261231", {key::kHome}, "31/1/2026 ", "GENER"},
      {"20260215", {key::kEnd}, "15/12/2026", "OCTUBRE"},
      {"20260515", {key::kHome, key::kEnd}, "15/12/2026", "OCTUBRE"},
      {"20260515", {key::kRight, key::kRight, key::kLeft, 'x', key::kF1}, "16/5/2026 ", "ABRIL"},
      // Years that four digits cannot hold are not moved into.
      {"00010101", {key::kLeft}, "1/1/0001  ", "GENER"},
      {"99991231", {key::kRight}, "31/12/9999", "OCTUBRE"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("from ") + c.workDate + " to " + c.result);
    std::vector<Cell> before = Cells();
    EXPECT_EQ(Calendar(c.workDate, c.keys, [&] {
                EXPECT_EQ(Inside(3).find(c.firstTitle), (20 - std::string(c.firstTitle).size()) / 2);
              }),
              c.result);
    EXPECT_EQ(Cells(), before);
  }
}

TEST_F(CalendarTest, RedrawnQuarterFollowsTheNewYear) {
  Calendar("20261231", {key::kRight}, [&] {
    EXPECT_EQ(WindowRow(1), "┌─────── 2027 ───────┐");
    EXPECT_EQ(Inside(3), "       GENER        ");
    EXPECT_EQ(Inside(4), "             1  2  3");
    EXPECT_EQ(Inside(10), "       FEBRER       ");
    EXPECT_EQ(Inside(11), " 1  2  3  4  5  6  7");
    EXPECT_EQ(Inside(15), "                    ");
    EXPECT_EQ(Inside(17), "        MARC        ");
    EXPECT_EQ(Inside(22), "29 30 31            ");
    // 1 January 2027 is highlighted; nothing else is.
    EXPECT_EQ(console.AttributeAt(4, 72), kHighlight);
    EXPECT_EQ(console.AttributeAt(4, 75), kDays);
  });
}

TEST_F(CalendarTest, HeadersAndMonthNamesFollowTheLanguage) {
  struct Case {
    const char* language;
    const char* header;
    const char* may;
    const char* march;
  };
  const Case cases[] = {
      {"CAT", "DL DT DC DJ DV DS DG", "MAIG", "MARC"},
      {"SPA", " L  M  X  J  V  S  D", "MAYO", "MARZO"},
      {"GLG", " L  M  X  J  V  S  D", "MAIO", "MARCO"},
      {"OCI", "DL DT DC DJ DD DS DG", "MAI", "MARC"},
      {"ENG", "DL DT DC DJ DV DS DG", "MAIG", "MARC"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.language);
    CurrentSession().Language = c.language;
    Calendar("20260515", {}, [&] {
      EXPECT_EQ(Inside(2), c.header);
      EXPECT_EQ(Inside(10).substr((20 - std::string(c.may).size()) / 2, std::string(c.may).size()), c.may);
    });
    Calendar("20260315", {}, [&] { EXPECT_NE(Inside(17).find(c.march), std::string::npos) << Inside(17); });
  }
}

TEST_F(CalendarTest, FAltFAndEscClose) {
  EXPECT_EQ(Calendar("20261208", {key::kRight, key::kRight}, nullptr, 'F'), "10/12/2026");
  EXPECT_EQ(Calendar("20261208", {}, nullptr, 'f'), "8/12/2026 ");
  EXPECT_EQ(Calendar("20261208", {key::kDown}, nullptr, key::kAltF), "15/12/2026");
  EXPECT_EQ(Calendar("20261208", {key::kDown}, nullptr, key::kEsc), "");
}

// The clock of the real system with a fixed today.
class FixedDayOs : public OsWrapper {
 public:
  FixedDayOs() : OsWrapper(&PosixOs()) {}
  LocalTime Now() override {
    LocalTime t;
    t.year = 2030;
    t.month = 7;
    t.day = 4;
    return t;
  }
};

TEST_F(CalendarTest, WorkingDateThatIsNoDateStartsOnToday) {
  FixedDayOs os;
  SetOs(&os);
  for (const std::string& packed : {std::string(), std::string("    "), PackDigits("20261300"),
                                    PackDigits("00000000"), std::string("\xE3\xE3")}) {
    SCOPED_TRACE(packed.size());
    CurrentSession().WorkDate = packed;
    EXPECT_EQ(Run(PopupCalendar, {}, nullptr, 'F'), "4/7/2030  ");
  }
  // A day past the end of its month is cut to the last day.
  CurrentSession().WorkDate = PackDigits("20260231");
  EXPECT_EQ(Run(PopupCalendar, {}, nullptr, 'F'), "28/2/2026 ");
  SetOs(nullptr);
}

TEST_F(CalendarTest, SmallScreenLeavesTheCallersScreenAlone) {
  MemoryConsole small(20, 60);
  SetConsole(&small);
  small.PutCell(20, 60, Cell{'x', 0x1E});
  std::string before = small.ScreenText();
  CurrentSession().WorkDate = PackDigits("20260515");
  EXPECT_EQ(PopupCalendar(), "");
  EXPECT_EQ(PopupCalculator(), "");
  EXPECT_EQ(small.ScreenText(), before);
  EXPECT_EQ(small.AttributeAt(20, 60), 0x1E);
  EXPECT_EQ(CurrentWindow().depth, 0);
}

}  // namespace
}  // namespace kap::test
