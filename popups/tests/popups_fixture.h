// Shared set-up of the pop-up tests: the in-memory console with a patterned screen under the
// pop-ups, a terminal folder for the window stack and the calculator's state file, and an
// installation root whose Vora.ini sets the decimal comma and the thousands point.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "format/format.h"
#include "formengine/screen.h"
#include "platform/console.h"
#include "popups/popups.h"
#include "session/session.h"
#include "testsupport/test_support.h"

namespace kap::test {

class PopupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.Set("KAPROOT", root_.path() + "/");
    WriteFile(root_.file("Vora.ini"), "[Usuari]\r\nDecCaracter=,\r\nMilCaracter=.\r\n");
    ResetSession();
    ResetScreenState();
    ResetFormatSettings();
    CurrentSession().WorkDir = terminal_.path() + "/";
    CurrentSession().TerminalDir = terminal_.path() + "/";
    CurrentSession().Language = "CAT";
    SetConsole(&console);
    Paint();
    console.SetExhaustedLimit(1000);
  }
  void TearDown() override {
    ResetScreenState();
    ResetFormatSettings();
    SetConsole(nullptr);
    ResetSession();
  }

  // Every cell a different character and attribute, so a restore that misses one shows.
  void Paint() {
    for (int r = 1; r <= console.Rows(); ++r)
      for (int c = 1; c <= console.Columns(); ++c)
        console.PutCell(r, c, Cell{static_cast<uint8_t>('A' + (r * 7 + c) % 26),
                                   static_cast<uint8_t>((r * 13 + c) & 0xFF)});
  }
  std::vector<Cell> Cells() const {
    std::vector<Cell> cells;
    for (int r = 1; r <= console.Rows(); ++r)
      for (int c = 1; c <= console.Columns(); ++c) cells.push_back(console.ReadCell(r, c));
    return cells;
  }

  // Types `keys`, then, once they are all read, calls `look` with the pop-up still open and
  // leaves with `last` (Esc unless told otherwise). Returns what the pop-up returned.
  std::string Run(const std::function<std::string()>& popup, const std::vector<int16_t>& keys,
                  const std::function<void()>& look = nullptr, int16_t last = key::kEsc) {
    for (int16_t k : keys) console.PushKey(k);
    bool done = false;
    console.SetIdleHandler([&](MemoryConsole& con) {
      if (done) return;
      done = true;
      if (look) look();
      con.PushKey(last);
    });
    std::string result = popup();
    console.SetIdleHandler(nullptr);
    EXPECT_TRUE(done) << "the pop-up closed before reading all its keys";
    return result;
  }

  // Row `row` of the screen from `column`, `length` cells, as UTF-8.
  std::string Row(int row, int column, int length) const {
    return Cp850ToUtf8(console.RowText(row, column, length));
  }

  TempDir root_;
  TempDir terminal_;
  ScopedEnv env_;
  MemoryConsole console;
};

// Text typed as keys: each byte its character code.
inline std::vector<int16_t> Keys(const std::string& text) {
  std::vector<int16_t> keys;
  for (unsigned char c : text) keys.push_back(static_cast<int16_t>(c));
  return keys;
}

}  // namespace kap::test
