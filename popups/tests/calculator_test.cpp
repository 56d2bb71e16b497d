// The calculator on the in-memory console: scripted keys, the screen read while it is open,
// and the real state file read back after it closes.
#include <cmath>
#include <cstdio>

#include "popups/tests/popups_fixture.h"

namespace kap::test {
namespace {

const std::string kTop = "\u250c" + [] { std::string s; for (int i = 0; i < 24; ++i) s += "\u2500"; return s; }() + "\u2510";
const std::string kJoin = "\u251c" + kTop.substr(3, 24 * 3) + "\u2524";
const std::string kBottom = "\u2514" + kTop.substr(3, 24 * 3) + "\u2518";

std::string RightAligned(const std::string& text, size_t width) {
  return std::string(width - text.size(), ' ') + text;
}
// A tape line and the entry line as the calculator draws them (UTF-8).
std::string TapeRow(const std::string& shown, const std::string& mark) {
  return "\u2502" + RightAligned(shown, 22) + " " + mark + "\u2502";
}
std::string EntryRow(const std::string& shown) { return "\u2502" + RightAligned(shown, 22) + "  \u2502"; }

class CalculatorTest : public PopupTest {
 protected:
  std::string Calc(const std::vector<int16_t>& keys, const std::function<void()>& look = nullptr,
                   int16_t last = key::kEsc) {
    return Run(PopupCalculator, keys, look, last);
  }
  std::string WindowRow(int row, int column = 1) const { return Row(row, column, 26); }
  std::string StateFile() const { return ReadFile(terminal_.file("KAPCALC.TMP")); }
};

struct TapeItem {
  double value;
  const char* mark;
};

struct ArithmeticCase {
  const char* keys;  // \b is Backspace, \r is Enter
  double entry;
  double accumulator;
  const char* pending;
  std::vector<TapeItem> tape;  // newest last; empty: not checked
  int decimals = -1;           // -1: not checked
};

TEST_F(CalculatorTest, KeysGiveTheEntryAccumulatorPendingOperatorAndTape) {
  const ArithmeticCase cases[] = {
      {"2+3=", 5, 5, "", {{2, "+"}, {3, "="}, {5, ""}}},
      {"2+3=+", 5, 5, "+", {{2, "+"}, {3, "="}, {5, ""}, {5, "+"}}},
      {"200+10%", 20, 200, "+", {{200, "+"}, {10, "%"}}},
      {"200+10%=", 220, 220, "", {{200, "+"}, {10, "%"}, {20, "="}, {220, ""}}},
      {"200-10%=", 180, 180, "", {}},
      {"50*10%=", 5, 5, "", {{50, "*"}, {10, "%"}, {0.1, "="}, {5, ""}}},
      {"12+3c", 12, 12, "+", {{12, "+"}}},
      {"12+3C4=", 16, 16, "", {{12, "+"}, {4, "="}, {16, ""}}},
      {"2+3=C", 0, 0, "", {{2, "+"}, {3, "="}, {5, ""}}},
      {"2.3451R", 2.35, 2.35, "", {{2.35, "R"}}, 2},
      {"2.3449r", 2.34, 2.34, "", {}, 2},
      {"2.349TR", -2.34, -2.34, "", {}, 2},
      {"0.125R", 0.12, 0.12, "", {}},
      {"0.375R", 0.38, 0.38, "", {}},
      {"5+2.3451R", 2.35, 2.35, "+", {{5, "+"}, {2.35, "R"}}},
      {"5T+3=", -2, -2, "", {}},
      {"123\b", 12, 0, "", {}},
      {"1.25\b", 1.2, 0, "", {}, 1},
      {"1.\b", 1, 0, "", {}, 0},
      {"1/3=", 0.333333333333333, 0.333333333333333, "", {}, 15},
      {"0.1+0.2=", 0.3, 0.3, "", {}, 1},
      {"1.5+1=", 2.5, 2.5, "", {}, 1},
      {"9-12=", -3, -3, "", {}},
      {"7*6\r", 42, 42, "", {{7, "*"}, {6, "="}, {42, ""}}},
      {"2+\r", 2, 2, "+", {{2, "+"}}},  // Enter only ends an entry being typed
      {"2+3==", 5, 5, "", {{2, "+"}, {3, "="}, {5, ""}}},
  };
  for (const ArithmeticCase& c : cases) {
    SCOPED_TRACE(std::string("keys ") + c.keys);
    std::remove(terminal_.file("KAPCALC.TMP").c_str());
    Calc(Keys(c.keys));
    CalculatorState s = LoadCalculatorState();
    EXPECT_NEAR(s.Entry, c.entry, 1e-12);
    EXPECT_NEAR(s.Accumulator, c.accumulator, 1e-12);
    EXPECT_EQ(s.PendingOperator, c.pending);
    if (c.decimals >= 0) {
      EXPECT_EQ(s.Decimals, c.decimals);
    }
    if (!c.tape.empty()) {
      ASSERT_EQ(s.FirstTapeLine, 23 - static_cast<int>(c.tape.size()));
      for (size_t i = 0; i < c.tape.size(); ++i) {
        const TapeLine& line = s.Tape[23 - c.tape.size() + i];
        EXPECT_NEAR(line.Value, c.tape[i].value, 1e-12) << "tape line " << i;
        EXPECT_EQ(line.Operator, c.tape[i].mark) << "tape line " << i;
      }
    }
  }
}

TEST_F(CalculatorTest, FirstOpeningShowsAnEmptyTapeAndGivesTheCallerItsScreenBack) {
  SetKeyList("ea", "d,1b");
  SetColour("r");
  std::vector<Cell> before = Cells();
  std::string result = Calc({}, [&] {
    EXPECT_EQ(WindowRow(23), kTop);
    EXPECT_EQ(WindowRow(24), EntryRow("0"));
    EXPECT_EQ(WindowRow(25), kBottom);
    for (int c = 1; c <= 80; ++c) EXPECT_EQ(console.ReadCell(22, c), before[21 * 80 + c - 1]) << c;
    EXPECT_FALSE(console.CursorVisible());
  });
  EXPECT_EQ(result, "");
  EXPECT_EQ(Cells(), before);
  EXPECT_TRUE(console.CursorVisible());
  EXPECT_EQ(console.Attribute(), 0x70);
  int16_t reported = 0;
  EXPECT_TRUE(LookupKey(key::kEnter, &reported));
  EXPECT_FALSE(LookupKey('x', &reported));
  EXPECT_EQ(CurrentWindow().depth, 0);
}

TEST_F(CalculatorTest, TapeGrowsUpwardsOverTheScreen) {
  std::vector<Cell> before = Cells();
  Calc(Keys("2+3="), [&] {
    for (int c = 1; c <= 80; ++c) EXPECT_EQ(console.ReadCell(18, c), before[17 * 80 + c - 1]) << c;
    EXPECT_EQ(WindowRow(19), kTop);
    EXPECT_EQ(WindowRow(20), TapeRow("2", "+"));
    EXPECT_EQ(WindowRow(21), TapeRow("3", "="));
    EXPECT_EQ(WindowRow(22), TapeRow("5", " "));
    EXPECT_EQ(WindowRow(23), kJoin);
    EXPECT_EQ(WindowRow(24), EntryRow("5"));
  });
  EXPECT_EQ(Cells(), before);
  // Decimals follow each value; the thousands and decimal characters come from Vora.ini.
  Calc(Keys("C1234.5*2="), [&] {
    EXPECT_EQ(WindowRow(16), kTop);
    EXPECT_EQ(WindowRow(19), TapeRow("5", " "));
    EXPECT_EQ(WindowRow(20), TapeRow("1.234,5", "*"));
    EXPECT_EQ(WindowRow(21), TapeRow("2", "="));
    EXPECT_EQ(WindowRow(22), TapeRow("2.469", " "));
    EXPECT_EQ(WindowRow(24), EntryRow("2.469"));
  });
}

TEST_F(CalculatorTest, ClearTwiceAfterAResultEmptiesTheTapeAndRestoresTheScreen) {
  std::vector<Cell> before = Cells();
  Calc(Keys("2+3=CC"), [&] {
    for (int r = 1; r <= 22; ++r)
      for (int c = 1; c <= 80; ++c) ASSERT_EQ(console.ReadCell(r, c), before[(r - 1) * 80 + c - 1]) << r << "," << c;
    EXPECT_EQ(WindowRow(23), kTop);
    EXPECT_EQ(WindowRow(24), EntryRow("0"));
  });
  CalculatorState s = LoadCalculatorState();
  EXPECT_EQ(s.FirstTapeLine, 23);
  EXPECT_EQ(s.ClearedOnce, -1);
}

TEST_F(CalculatorTest, TapeKeepsTheNewest21Lines) {
  std::string keys;
  for (int i = 1; i <= 25; ++i) keys += std::to_string(i) + "+";
  Calc(Keys(keys), [&] {
    EXPECT_EQ(WindowRow(1), kTop);
    EXPECT_EQ(WindowRow(2), TapeRow("5", "+"));
    EXPECT_EQ(WindowRow(22), TapeRow("25", "+"));
    EXPECT_EQ(WindowRow(24), EntryRow("325"));
  });
  CalculatorState s = LoadCalculatorState();
  EXPECT_EQ(s.FirstTapeLine, 2);
  for (int slot = 2; slot <= 22; ++slot) EXPECT_EQ(s.Tape[slot].Value, slot + 3) << slot;
}

TEST_F(CalculatorTest, WindowMovesAndWrapsAtBothEdges) {
  struct Case {
    std::vector<int16_t> keys;
    int column;
  };
  const Case cases[] = {
      {{key::kLeft}, 55},
      {{key::kLeft, key::kRight}, 1},
      {{key::kRight}, 2},
      {{key::kCtrlRight, key::kCtrlRight}, 3},
      {{key::kLeft, key::kCtrlLeft}, 54},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("to column " + std::to_string(c.column));
    std::remove(terminal_.file("KAPCALC.TMP").c_str());
    std::vector<Cell> before = Cells();
    std::vector<int16_t> keys = Keys("7+");
    keys.insert(keys.end(), c.keys.begin(), c.keys.end());
    Calc(keys, [&] {
      EXPECT_EQ(WindowRow(21, c.column), kTop);
      EXPECT_EQ(WindowRow(22, c.column), TapeRow("7", "+"));
      EXPECT_EQ(WindowRow(24, c.column), EntryRow("7"));
      EXPECT_EQ(console.AttributeAt(24, c.column + 25), 0x07);  // scheme "n" again after the move
      // Everything beside the window is the caller's screen.
      for (int r = 21; r <= 25; ++r)
        for (int col = 1; col <= 80; ++col)
          if (col < c.column || col > c.column + 25) {
            ASSERT_EQ(console.ReadCell(r, col), before[(r - 1) * 80 + col - 1]) << r << "," << col;
          }
    });
    EXPECT_EQ(LoadCalculatorState().WindowColumn, c.column);
    EXPECT_EQ(Cells(), before);
  }
}

TEST_F(CalculatorTest, FReturnsTheValueInHundredths) {
  struct Case {
    const char* keys;
    const char* result;
  };
  const Case cases[] = {
      {"12.5", "1250"}, {"4T", "400"},   {"1.2345", "123.45"}, {"0.05", "5"},
      {"0", "0"},       {"2+3=", "500"}, {"1.500", "150.0"},   {"0.0005", ".05"},
      {"0.005", ".5"},  {"12+3C", "1200"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("keys ") + c.keys);
    std::remove(terminal_.file("KAPCALC.TMP").c_str());
    EXPECT_EQ(Calc(Keys(c.keys), nullptr, 'F'), c.result);
  }
  EXPECT_EQ(Calc(Keys("C7"), nullptr, key::kAltF), "700");
  EXPECT_EQ(Calc(Keys("C8"), nullptr, 'f'), "800");
}

TEST_F(CalculatorTest, ImpossibleResultShowsAnErrorUntilCleared) {
  std::string many(320, '9');
  for (const std::string& keys : {std::string("5/0="), std::string("0/0="), many, many + "+"}) {
    SCOPED_TRACE(keys.substr(0, 10));
    std::remove(terminal_.file("KAPCALC.TMP").c_str());
    Calc(Keys(keys + "7+F"), [&] { EXPECT_EQ(WindowRow(24), EntryRow("Error")); });
    std::string file = StateFile();
    EXPECT_EQ(file.find("inf"), std::string::npos) << file;
    EXPECT_EQ(file.find("nan"), std::string::npos) << file;
    CalculatorState s = LoadCalculatorState();
    EXPECT_EQ(s.Entry, 0);
    EXPECT_EQ(s.Accumulator, 0);
    EXPECT_EQ(s.PendingOperator, "");
  }
  EXPECT_EQ(Calc(Keys("5/0=C2+2="), [&] { EXPECT_EQ(WindowRow(24), EntryRow("4")); }, 'F'), "400");
}

TEST_F(CalculatorTest, StateFileHasItsExactLayout) {
  Calc(Keys("2+3="));
  std::string expected = "1,20,5,5\r\n0,0,0,0\r\n\"\",\"\"\r\n";
  for (int slot = 1; slot <= 19; ++slot) expected += "0,0,0,\"\"\r\n";
  expected += "2,0,0,\"+\"\r\n3,0,0,\"=\"\r\n5,0,0,\"\"\r\n";
  EXPECT_EQ(StateFile(), expected);

  Calc(Keys("C1.5T*"));
  std::string file = StateFile();
  const std::string head = "1,19,-1.5,-1.5\r\n0,0,-1,1\r\n\"*\",\"*\"\r\n";
  EXPECT_EQ(file.substr(0, head.size()), head);
  EXPECT_NE(file.find("-1.5,-1,1,\"*\"\r\n"), std::string::npos) << file;
}

TEST_F(CalculatorTest, NextOpeningContinuesExactlyWhereTheLastStopped) {
  std::vector<Cell> before = Cells();
  std::vector<Cell> open;
  std::vector<int16_t> keys = Keys("12+3.25*");
  keys.push_back(key::kLeft);
  keys.push_back('4');
  Calc(keys, [&] { open = Cells(); });
  std::string saved = StateFile();
  EXPECT_EQ(Cells(), before);

  std::vector<Cell> reopened;
  Calc({}, [&] { reopened = Cells(); });
  EXPECT_EQ(StateFile(), saved);
  EXPECT_EQ(reopened, open);
  EXPECT_EQ(Calc(Keys("="), nullptr, 'F'), "6100");  // (12 + 3.25) x 4
}

TEST_F(CalculatorTest, DamagedStateFileFallsBackToTheInitialValues) {
  std::string header = "1,20,5,5\r\n0,0,0,0\r\n\"\",\"\"\r\n";
  const std::string cases[] = {
      "garbage\r\n",
      "1,20,5\r\n",
      header + "2,0,0\r\n",
      "56,23,0,0\r\n-1,0,0,0\r\n\"\",\"\"\r\n",
      "1,1,0,0\r\n-1,0,0,0\r\n\"\",\"\"\r\n",
      "1,23,inf,0\r\n-1,0,0,0\r\n\"\",\"\"\r\n",
      "1,23,nan,0\r\n-1,0,0,0\r\n\"\",\"\"\r\n",
      "1,23,1e999,0\r\n-1,0,0,0\r\n\"\",\"\"\r\n",
      "1,23,0,0\r\n-1,0,0,0\r\n\"\",\"^\"\r\n",
      "1,23,0,0\r\n-1,0,0,0\r\n\"\",\"+\r\n",
      "1,23,0,0\r\n-1,0,-1,20\r\n\"\",\"\"\r\n",
      "1,23,0,0\r\n-1,0,0,3\r\n\"\",\"\"\r\n",
      "1,23,0x10,0\r\n-1,0,0,0\r\n\"\",\"\"\r\n",
      header + "1,0,0,\"\x01\"\r\n",
      std::string("\x00\xFF\x01,\x80", 5),
      std::string(200000, '7'),
  };
  for (const std::string& text : cases) {
    SCOPED_TRACE(text.substr(0, 40));
    WriteFile(terminal_.file("KAPCALC.TMP"), text);
    Calc({}, [&] {
      EXPECT_EQ(WindowRow(23), kTop);
      EXPECT_EQ(WindowRow(24), EntryRow("0"));
    });
    EXPECT_EQ(StateFile(), CalculatorStateText(CalculatorState()));
  }
}

TEST_F(CalculatorTest, StateTextReadsWhatOlderWritersLeft) {
  // Numbers without a leading zero, D exponents, spaces around items, truth values of 1.
  std::string text = " 3 , 21 ,.5,-1.5D+2\r\n1,0,1,1\r\n\"+\",\"+\"\r\n";
  for (int slot = 1; slot <= 20; ++slot) text += "0,0,0,\"\"\n";
  text += "-150,0,0,\"+\"\r\n.5,-1,1,\"=\"\r\n";
  CalculatorState s;
  ASSERT_TRUE(ParseCalculatorState(text, &s));
  EXPECT_EQ(s.WindowColumn, 3);
  EXPECT_EQ(s.FirstTapeLine, 21);
  EXPECT_EQ(s.Entry, 0.5);
  EXPECT_EQ(s.Accumulator, -150);
  EXPECT_EQ(s.ClearedOnce, -1);
  EXPECT_EQ(s.HasPoint, -1);
  EXPECT_EQ(s.PendingOperator, "+");
  EXPECT_EQ(s.Tape[22].Value, 0.5);
  EXPECT_EQ(s.Tape[22].Operator, "=");
  // Round trip of what the calculator itself writes.
  CalculatorState again;
  ASSERT_TRUE(ParseCalculatorState(CalculatorStateText(s), &again));
  EXPECT_EQ(CalculatorStateText(again), CalculatorStateText(s));
  // A file that ends after whole records leaves the remaining slots empty.
  ASSERT_TRUE(ParseCalculatorState("1,23,4,4\r\n0,-1,0,0\r\n\"\",\"\"\r\n", &s));
  EXPECT_EQ(s.Entry, 4);
  EXPECT_EQ(s.Tape[22].Operator, "");
}

}  // namespace
}  // namespace kap::test

namespace kap::test {
namespace {

// A form holds the key list's one save slot while its field is edited; the pop-up must leave
// the field its list, or the hot key itself would end the edit.
TEST_F(CalculatorTest, HotKeyTypesTheResultIntoTheFieldBeingEdited) {
  RegisterPopupHotKeys();
  SetKeyList("+ea", "d,1b");
  console.PushKey(key::kAltX);
  for (int16_t k : Keys("12*3=F")) console.PushKey(k);
  console.PushKey(key::kEnter);
  std::string text = "    ";
  int16_t row = 5, column = 41, position = 1, key = 0;
  EditField(row, column, 0, text, position, key);
  EXPECT_EQ(text, "3600");
  EXPECT_EQ(key, key::kEnter);
  int16_t reported = 0;
  EXPECT_FALSE(LookupKey('x', &reported));
  SetKeyList("-", "");
  SetHotKeyHandler(nullptr);
}

}  // namespace
}  // namespace kap::test
