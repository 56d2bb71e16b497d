// The calculator on the in-memory console: scripted keys, the screen read while it is open,
// and the real state file read back after it closes.
#include <cstdio>

#include "popups/tests/popups_fixture.h"
#include "testsupport/failing_os.h"

namespace kap::test {
namespace {

std::string Rule() {
  std::string s;
  for (int i = 0; i < 24; ++i) s += "\u2500";
  return s;
}
const std::string kTop = "\u250c" + Rule() + "\u2510", kJoin = "\u251c" + Rule() + "\u2524";
const std::string kBottom = "\u2514" + Rule() + "\u2518";

std::string Pad(const std::string& text) { return std::string(22 - text.size(), ' ') + text; }
std::string TapeRow(const std::string& shown, const char* mark) {
  return "\u2502" + Pad(shown) + " " + mark + "\u2502";
}
std::string EntryRow(const std::string& shown) { return "\u2502" + Pad(shown) + "  \u2502"; }

class CalculatorTest : public PopupTest {
 protected:
  std::string Calc(const std::string& keys, const std::function<void()>& look = nullptr,
                   int16_t last = key::kEsc) {
    return Run(PopupCalculator, Keys(keys), look, last);
  }
  std::string At(int row, int column = 1) const { return Row(row, column, 26); }
  std::string StateFile() const { return ReadFile(terminal_.file("KAPCALC.TMP")); }
  void Forget() { std::remove(terminal_.file("KAPCALC.TMP").c_str()); }
};

TEST_F(CalculatorTest, KeysGiveTheEntryAccumulatorPendingOperatorAndTape) {
  struct Case {
    const char* keys;  // \b Backspace, \r Enter
    double entry, accumulator;
    const char* pending;
    std::vector<std::pair<double, const char*>> tape;  // newest last; empty: not checked
    int decimals = -1;
  };
  const Case cases[] = {
      {"2+3=", 5, 5, "", {{2, "+"}, {3, "="}, {5, ""}}},
      {"2+3=+", 5, 5, "+", {{2, "+"}, {3, "="}, {5, ""}, {5, "+"}}},
      {"200+10%", 20, 200, "+", {{200, "+"}, {10, "%"}}},
      {"200+10%=", 220, 220, "", {{200, "+"}, {10, "%"}, {20, "="}, {220, ""}}},
      {"200-10%=", 180, 180, "", {}},
      {"50*10%=", 5, 5, "", {{50, "*"}, {10, "%"}, {0.1, "="}, {5, ""}}},
      {"12+3c", 12, 12, "+", {{12, "+"}}},
      {"12+3C4=", 16, 16, "", {{12, "+"}, {4, "="}, {16, ""}}},
      {"2+3=C", 0, 0, "", {{2, "+"}, {3, "="}, {5, ""}}},
      {"5+2.3451R", 2.35, 2.35, "+", {{5, "+"}, {2.35, "R"}}, 2},
      {"2.3449r", 2.34, 2.34, "", {}, 2},
      {"2.349TR", -2.34, -2.34, "", {}, 2},
      {"0.125R", 0.12, 0.12, "", {}},
      {"0.375R", 0.38, 0.38, "", {}},
      {"5T+3=", -2, -2, "", {}},
      {"123\b", 12, 0, "", {}},
      {"1.25\b", 1.2, 0, "", {}, 1},
      {"1.\b", 1, 0, "", {}, 0},
      // Backspace on a shown result keeps it a result: 3 starts a new entry (28, not 48).
      {"25+\b3=", 28, 28, "", {{25, "+"}, {3, "="}, {28, ""}}},
      {"0.1111111111111111111111", 0.1111111111111111111, 0, "", {}, 19},
      {"1/3=", 0.333333333333333, 0.333333333333333, "", {}, 15},
      {"0.1+0.2=", 0.3, 0.3, "", {}, 1},
      {"9-12=", -3, -3, "", {}},
      {"7*6\r", 42, 42, "", {{7, "*"}, {6, "="}, {42, ""}}},
      {"2+\r", 2, 2, "+", {{2, "+"}}},  // Enter only ends an entry being typed
      {"2+3==", 5, 5, "", {{2, "+"}, {3, "="}, {5, ""}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("keys ") + c.keys);
    Forget();
    Calc(c.keys);
    CalculatorState s = LoadCalculatorState();
    EXPECT_NEAR(s.Entry, c.entry, 1e-12);
    EXPECT_NEAR(s.Accumulator, c.accumulator, 1e-12);
    EXPECT_EQ(s.PendingOperator, c.pending);
    if (c.decimals >= 0) {
      EXPECT_EQ(s.Decimals, c.decimals);
    }
    if (c.tape.empty()) continue;
    ASSERT_EQ(s.FirstTapeLine, 23 - static_cast<int>(c.tape.size()));
    for (size_t i = 0; i < c.tape.size(); ++i) {
      EXPECT_NEAR(s.Tape[s.FirstTapeLine + i].Value, c.tape[i].first, 1e-12) << i;
      EXPECT_EQ(s.Tape[s.FirstTapeLine + i].Operator, c.tape[i].second) << i;
    }
  }
}

TEST_F(CalculatorTest, TapeGrowsUpwardsAndClearsAndTheCallersScreenComesBack) {
  SetColour("r");
  std::vector<Cell> before = Cells();
  Calc("", [&] {
    EXPECT_EQ(At(23), kTop);
    EXPECT_EQ(At(24), EntryRow("0"));
    EXPECT_EQ(At(25), kBottom);
    EXPECT_EQ(console.ReadCell(22, 1), before[21 * 80]);
    EXPECT_FALSE(console.CursorVisible());
  });
  EXPECT_EQ(Cells(), before);
  EXPECT_TRUE(console.CursorVisible());
  EXPECT_EQ(console.Attribute(), 0x70);  // the caller's scheme again
  EXPECT_EQ(CurrentWindow().depth, 0);

  // Each value shows its own decimals, with the separators of Vora.ini.
  Calc("2+3=1234.5*2=", [&] {
    EXPECT_EQ(console.ReadCell(15, 1), before[14 * 80]);
    EXPECT_EQ(At(16), kTop);
    EXPECT_EQ(At(17), TapeRow("2", "+"));
    EXPECT_EQ(At(18), TapeRow("3", "="));
    EXPECT_EQ(At(19), TapeRow("5", " "));
    EXPECT_EQ(At(20), TapeRow("1.234,5", "*"));
    EXPECT_EQ(At(22), TapeRow("2.469", " "));
    EXPECT_EQ(At(23), kJoin);
    EXPECT_EQ(At(24), EntryRow("2.469"));
  });
  // The first clear empties the accumulator, the second the tape.
  Calc("C", [&] { EXPECT_EQ(At(24), EntryRow("0")); });
  EXPECT_EQ(LoadCalculatorState().FirstTapeLine, 17);
  Calc("C", [&] {
    for (int c = 1; c <= 80; ++c) ASSERT_EQ(console.ReadCell(22, c), before[21 * 80 + c - 1]) << c;
    EXPECT_EQ(At(23), kTop);
  });
  EXPECT_EQ(LoadCalculatorState().FirstTapeLine, 23);
}

TEST_F(CalculatorTest, TapeKeepsTheNewest21Lines) {
  std::string keys;
  for (int i = 1; i <= 25; ++i) keys += std::to_string(i) + "+";
  Calc(keys, [&] {
    EXPECT_EQ(At(1), kTop);
    EXPECT_EQ(At(2), TapeRow("5", "+"));
    EXPECT_EQ(At(22), TapeRow("25", "+"));
    EXPECT_EQ(At(24), EntryRow("325"));
  });
  CalculatorState s = LoadCalculatorState();
  EXPECT_EQ(s.FirstTapeLine, 2);
  for (int slot = 2; slot <= 22; ++slot) EXPECT_EQ(s.Tape[slot].Value, slot + 3) << slot;
}

TEST_F(CalculatorTest, WindowMovesAndWrapsAtBothEdges) {
  const std::pair<std::vector<int16_t>, int> cases[] = {{{key::kLeft}, 55},
                                                        {{key::kLeft, key::kRight}, 1},
                                                        {{key::kRight}, 2},
                                                        {{key::kCtrlRight, key::kCtrlRight}, 3},
                                                        {{key::kLeft, key::kCtrlLeft}, 54}};
  for (const auto& [moves, column] : cases) {
    SCOPED_TRACE("to column " + std::to_string(column));
    Forget();
    std::vector<Cell> before = Cells();
    std::vector<int16_t> keys = Keys("7+");
    keys.insert(keys.end(), moves.begin(), moves.end());
    Run(PopupCalculator, keys, [&] {
      EXPECT_EQ(At(21, column), kTop);
      EXPECT_EQ(At(22, column), TapeRow("7", "+"));
      EXPECT_EQ(At(24, column), EntryRow("7"));
      EXPECT_EQ(console.AttributeAt(24, column + 25), 0x07);  // scheme "n" after the move too
      for (int r = 21; r <= 25; ++r)
        for (int c = 1; c <= 80; ++c)
          if (c < column || c > column + 25) {
            ASSERT_EQ(console.ReadCell(r, c), before[(r - 1) * 80 + c - 1]) << r << "," << c;
          }
    });
    EXPECT_EQ(LoadCalculatorState().WindowColumn, column);
    EXPECT_EQ(Cells(), before);
  }
}

TEST_F(CalculatorTest, FReturnsTheValueInHundredths) {
  const std::pair<const char*, const char*> cases[] = {
      {"12.5", "1250"}, {"4T", "400"},    {"1.2345", "123.45"}, {"0.05", "5"},
      {"0", "0"},       {"2+3=", "500"},  {"1.500", "150.0"},   {"0.0005", ".05"},
      {"0.005", ".5"},  {"12+3C", "1200"}};
  for (const auto& [keys, result] : cases) {
    Forget();
    EXPECT_EQ(Calc(keys, nullptr, 'F'), result) << keys;
  }
  EXPECT_EQ(Calc("C7", nullptr, key::kAltF), "700");
  EXPECT_EQ(Calc("C8", nullptr, 'f'), "800");
}

TEST_F(CalculatorTest, ImpossibleResultShowsAnErrorUntilCleared) {
  std::string many(320, '9');
  for (const std::string& keys : {std::string("5/0="), std::string("0/0="), many}) {
    SCOPED_TRACE(keys.substr(0, 8));
    Forget();
    Calc(keys + "7+F", [&] { EXPECT_EQ(At(24), EntryRow("Error")); });
    std::string file = StateFile();
    EXPECT_EQ(file.find_first_of("in"), std::string::npos) << file;  // no inf, no nan
    CalculatorState s;
    EXPECT_TRUE(ParseCalculatorState(file, &s));
    EXPECT_EQ(s.Entry + s.Accumulator, 0);
  }
  EXPECT_EQ(Calc(
                "5/0=C2+2=", [&] { EXPECT_EQ(At(24), EntryRow("4")); }, 'F'),
            "400");
}

TEST_F(CalculatorTest, StateFileHasItsLayoutAndTheNextOpeningContinuesFromIt) {
  Calc("2+3=");
  std::string expected = "1,20,5,5\r\n0,0,0,0\r\n\"\",\"\"\r\n";
  for (int slot = 1; slot <= 19; ++slot) expected += "0,0,0,\"\"\r\n";
  EXPECT_EQ(StateFile(), expected + "2,0,0,\"+\"\r\n3,0,0,\"=\"\r\n5,0,0,\"\"\r\n");

  std::vector<Cell> open, reopened;
  Run(PopupCalculator, {'C', '1', '.', '5', 'T', '*', key::kLeft, '4'}, [&] { open = Cells(); });
  std::string saved = StateFile();
  EXPECT_EQ(saved.substr(0, 33), "55,19,4,-1.5\r\n0,-1,0,0\r\n\"*\",\"*\"\r\n") << saved;
  EXPECT_NE(saved.find("5,0,0,\"\"\r\n-1.5,-1,1,\"*\"\r\n"), std::string::npos) << saved;
  Calc("", [&] { reopened = Cells(); });
  EXPECT_EQ(reopened, open);
  EXPECT_EQ(StateFile(), saved);
  EXPECT_EQ(Calc("=", nullptr, 'F'), "600");  // -1.5 x 4; the sign is not returned
}

TEST_F(CalculatorTest, DamagedStateFileFallsBackToTheInitialValues) {
  const std::string head = "\r\n-1,0,0,0\r\n\"\",\"\"\r\n";
  const std::string cases[] = {"garbage\r\n",
                               "1,20,5\r\n",
                               "1,20,5,5\r\n0,0,0,0\r\n\"\",\"\"\r\n2,0,0\r\n",
                               "56,23,0,0" + head,
                               "1,1,0,0" + head,
                               "1,23,inf,0" + head,
                               "1,23,nan,0" + head,
                               "1,23,1e999,0" + head,
                               "1,23,0x10,0" + head,
                               "1,23,0,0\r\n-1,0,0,0\r\n\"\",\"^\"\r\n",
                               "1,23,0,0\r\n-1,0,0,0\r\n\"\",\"+\r\n",
                               "1,23,0,0\r\n-1,0,-1,20\r\n\"\",\"\"\r\n",
                               "1,23,0,0\r\n-1,0,0,3\r\n\"\",\"\"\r\n",
                               std::string("\x00\xFF\x01,\x80", 5),
                               std::string(200000, '7')};
  for (const std::string& text : cases) {
    SCOPED_TRACE(text.substr(0, 40));
    WriteFile(terminal_.file("KAPCALC.TMP"), text);
    Calc("", [&] { EXPECT_EQ(At(23) + At(24), kTop + EntryRow("0")); });
    EXPECT_EQ(StateFile(), CalculatorStateText(CalculatorState()));
  }
  // What older writers leave is read: no leading zero, D exponents, blanks, truth values of 1.
  CalculatorState s;
  ASSERT_TRUE(ParseCalculatorState(" 3 , 23 ,.5,-1.5D+2\r\n1,0,1,1\r\n\"+\",\"+\"\r\n", &s));
  EXPECT_EQ(s.WindowColumn, 3);
  EXPECT_EQ(s.Entry, 0.5);
  EXPECT_EQ(s.Accumulator, -150);
  EXPECT_EQ(s.HasPoint, -1);
}

// Each OS call of a save failed in turn: the save says so, and the next opening finds either
// the state saved before or the initial one (a cut-off file is ignored whole), never a mix.
TEST_F(CalculatorTest, SaveWithAFailingCallIsReportedAndNeverReadHalf) {
  Calc("2+3=");
  const std::string before = StateFile();
  CalculatorState next;
  next.Entry = 42;
  next.EntryStarted = -1;
  FailingOs failing(&GetOs());
  SetOs(&failing);
  for (int n = 1;; ++n) {
    WriteFile(terminal_.file("KAPCALC.TMP"), before);
    failing.FailCall(n);
    const bool saved = SaveCalculatorState(next);
    const bool hit = failing.failed();
    failing.FailCall(0);
    const std::string text = StateFile();
    CalculatorState read;
    ParseCalculatorState(text, &read);
    if (!hit) {
      EXPECT_TRUE(saved);
      EXPECT_EQ(read.Entry, 42);
      break;
    }
    EXPECT_FALSE(saved) << "call " << n;
    EXPECT_TRUE(text == before || read.Entry == 0) << "call " << n << ": " << text;
  }
  SetOs(nullptr);
}

// A form holds the key list's one save slot while its field is edited; the pop-up must leave
// the field its list, or the hot key itself would end the edit.
TEST_F(CalculatorTest, HotKeyTypesTheResultIntoTheFieldBeingEdited) {
  RegisterPopupHotKeys();
  SetKeyList("+ea", "d,1b");
  console.PushKey(key::kAltX);
  for (int16_t k : Keys("12*3=F\r")) console.PushKey(k);
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
