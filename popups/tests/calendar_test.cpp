// The calendar on the in-memory console: the quarter drawn for the working date, moves with
// scripted keys, and the date given back.
#include "platform/os.h"
#include "popups/tests/popups_fixture.h"

namespace kap::test {
namespace {

constexpr uint8_t kDays = 0x0F, kHighlight = 0x70;  // schemes "h" and "u"

class CalendarTest : public PopupTest {
 protected:
  std::string Calendar(const std::string& workDate, const std::vector<int16_t>& keys,
                       const std::function<void()>& look = nullptr, int16_t last = 'F') {
    CurrentSession().WorkDate = PackDigits(workDate);
    return Run(PopupCalendar, keys, look, last);
  }
  std::string Inside(int row) const { return Row(row, 60, 20); }
};

TEST_F(CalendarTest, OpeningOn15MayShowsTheSecondQuarterWithThe15Highlighted) {
  SetColour("r");
  std::vector<Cell> before = Cells();
  const char* expected[] = {
      "┌─────── 2026 ───────┐", "│DL DT DC DJ DV DS DG│", "│       ABRIL        │",
      "│       1  2  3  4  5│", "│ 6  7  8  9 10 11 12│", "│13 14 15 16 17 18 19│",
      "│20 21 22 23 24 25 26│", "│27 28 29 30         │", "│                    │",
      "│        MAIG        │", "│             1  2  3│", "│ 4  5  6  7  8  9 10│",
      "│11 12 13 14 15 16 17│", "│18 19 20 21 22 23 24│", "│25 26 27 28 29 30 31│",
      "│                    │", "│        JUNY        │", "│ 1  2  3  4  5  6  7│",
      "│ 8  9 10 11 12 13 14│", "│15 16 17 18 19 20 21│", "│22 23 24 25 26 27 28│",
      "│29 30               │", "│                    │", "└────────────────────┘"};
  EXPECT_EQ(Calendar(
                "20260515", {},
                [&] {
                  for (int r = 1; r <= 24; ++r)
                    EXPECT_EQ(Row(r, 59, 22), expected[r - 1]) << "row " << r;
                  EXPECT_EQ(console.AttributeAt(13, 72), kHighlight);
                  EXPECT_EQ(console.AttributeAt(13, 69), kDays);
                  EXPECT_EQ(console.AttributeAt(2, 60), 0x07);  // header in "n"
                  EXPECT_EQ(console.ReadCell(25, 70), before[24 * 80 + 69]);
                  EXPECT_FALSE(console.CursorVisible());
                },
                key::kEsc),
            "");
  EXPECT_EQ(Cells(), before);
  EXPECT_TRUE(console.CursorVisible());
  EXPECT_EQ(console.Attribute(), 0x70);
  EXPECT_EQ(CurrentWindow().depth, 0);
  // The highlight moves with the day; a redrawn quarter is laid out for its own year.
  Calendar("20261231", {key::kLeft, key::kRight, key::kRight}, [&] {
    EXPECT_EQ(Row(1, 59, 22), "┌─────── 2027 ───────┐");
    EXPECT_EQ(Inside(4), "             1  2  3");
    EXPECT_EQ(Inside(17), "        MAR\u00c7        ");
    EXPECT_EQ(Inside(22), "29 30 31            ");
    EXPECT_EQ(console.AttributeAt(4, 72), kHighlight);
    EXPECT_EQ(console.AttributeAt(4, 75), kDays);
  });
}

TEST_F(CalendarTest, KeysMoveTheDayAcrossMonthQuarterAndYearEdges) {
  struct Case {
    const char* workDate;
    std::vector<int16_t> keys;
    int16_t last;
    const char* result;
    const char* firstTitle;  // of the quarter shown at the end
  };
  const Case cases[] = {
      {"20260401", {key::kLeft}, 'F', "31/3/2026 ", "GENER"},
      {"20261231", {key::kRight}, 'f', "1/1/2027  ", "GENER"},
      {"20260331", {key::kRight}, key::kAltF, "1/4/2026  ", "ABRIL"},
      {"20260331", {key::kRight}, key::kEsc, "", "ABRIL"},
      {"20260103", {key::kUp}, 'F', "27/12/2025", "OCTUBRE"},
      {"20240228", {key::kDown}, 'F', "6/3/2024  ", "GENER"},
      {"20230228", {key::kDown}, 'F', "7/3/2023  ", "GENER"},
      {"20260131", {key::kPgDn}, 'F', "30/4/2026 ", "ABRIL"},
      {"20240531", {key::kPgUp}, 'F', "29/2/2024 ", "GENER"},
      {"20230531", {key::kPgUp}, 'F', "28/2/2023 ", "GENER"},
      {"20260215", {key::kPgUp}, 'F', "15/11/2025", "OCTUBRE"},
      {"20261115", {key::kPgDn}, 'F', "15/2/2027 ", "GENER"},
      // February is cut to the length it has in the year moved into.
      {"20231130", {key::kPgDn}, 'F', "29/2/2024 ", "GENER"},
      {"20241130", {key::kPgDn}, 'F', "28/2/2025 ", "GENER"},
      {"20261231", {key::kHome}, 'F', "31/1/2026 ", "GENER"},
      {"20260215", {key::kEnd}, 'F', "15/12/2026", "OCTUBRE"},
      {"20260515", {key::kHome, key::kEnd, 'x', key::kF1}, 'F', "15/12/2026", "OCTUBRE"},
      // Years that four digits cannot hold are not moved into.
      {"00010101", {key::kLeft}, 'F', "1/1/0001  ", "GENER"},
      {"99991231", {key::kRight}, 'F', "31/12/9999", "OCTUBRE"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("from ") + c.workDate + " to " + c.result);
    std::vector<Cell> before = Cells();
    const std::string title = c.firstTitle;
    EXPECT_EQ(Calendar(
                  c.workDate, c.keys,
                  [&] { EXPECT_EQ(Inside(3).find(title), (20 - title.size()) / 2); }, c.last),
              c.result);
    EXPECT_EQ(Cells(), before);
  }
}

TEST_F(CalendarTest, HeadersAndMonthNamesFollowTheLanguage) {
  // Plain capitals keep their accents.
  const char* cases[][4] = {{"CAT", "DL DT DC DJ DV DS DG", "MAIG", "MAR\u00c7"},
                            {"SPA", " L  M  X  J  V  S  D", "MAYO", "MARZO"},
                            {"GLG", " L  M  X  J  V  S  D", "MAIO", "MAR\u00c7O"},
                            {"OCI", "DL DT DC DJ DD DS DG", "MAI", "MAR\u00c7"},
                            {"ENG", "DL DT DC DJ DV DS DG", "MAIG", "MAR\u00c7"}};
  // Byte offset of a centred name in the UTF-8 row: its own bytes count, its width centres.
  auto centred = [](const std::string& name) {
    size_t width = 0;
    for (unsigned char ch : name) width += (ch & 0xC0) != 0x80;
    return (20 - width) / 2;
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c[0]);
    CurrentSession().Language = c[0];
    Calendar("20260515", {}, [&] {
      EXPECT_EQ(Inside(2), c[1]);
      EXPECT_EQ(Inside(10).find(c[2]), (20 - std::string(c[2]).size()) / 2);
    });
    Calendar("20260315", {}, [&] { EXPECT_EQ(Inside(17).find(c[3]), centred(c[3])); });
  }
}

TEST_F(CalendarTest, WorkingDateThatIsNoDateStartsOnToday) {
  struct FixedDay : OsWrapper {
    FixedDay() : OsWrapper(&PosixOs()) {}
    LocalTime Now() override { return LocalTime{2030, 7, 4}; }
  } os;
  SetOs(&os);
  for (const std::string& packed : {std::string(), std::string("    "), PackDigits("20261300"),
                                    PackDigits("00000000"), std::string("\xE3\xE3")}) {
    CurrentSession().WorkDate = packed;
    EXPECT_EQ(Run(PopupCalendar, {}, nullptr, 'F'), "4/7/2030  ") << packed.size();
  }
  // A day past the end of its month is cut to the last day.
  EXPECT_EQ(Calendar("20260231", {}), "28/2/2026 ");
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
}

}  // namespace
}  // namespace kap::test
