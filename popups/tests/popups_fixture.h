// The in-memory console with a patterned screen under the pop-ups, a terminal folder for the
// window stack and the calculator's state file, and a Vora.ini with decimal comma.
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
    CurrentSession().WorkDir = CurrentSession().TerminalDir = terminal_.path() + "/";
    CurrentSession().Language = "CAT";
    SetConsole(&console);
    console.SetExhaustedLimit(1000);
    // Every cell differs from its neighbours, so a restore that misses one shows.
    for (int r = 1; r <= 25; ++r)
      for (int c = 1; c <= 80; ++c)
        console.PutCell(
            r, c,
            Cell{static_cast<uint8_t>('A' + (r * 7 + c) % 26), static_cast<uint8_t>(r * 13 + c)});
  }
  void TearDown() override {
    ResetScreenState();
    ResetFormatSettings();
    SetConsole(nullptr);
    ResetSession();
  }

  std::vector<Cell> Cells() const {
    std::vector<Cell> cells;
    for (int r = 1; r <= 25; ++r)
      for (int c = 1; c <= 80; ++c) cells.push_back(console.ReadCell(r, c));
    return cells;
  }
  // Types `keys`; once all are read, `look` sees the open pop-up, then `last` closes it.
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
    EXPECT_TRUE(done) << "closed before reading all its keys";
    return result;
  }
  // UTF-8 text of `length` cells of a row from `column`.
  std::string Row(int row, int column, int length) const {
    return Cp850ToUtf8(console.RowText(row, column, length));
  }

  TempDir root_, terminal_;
  ScopedEnv env_;
  MemoryConsole console;
};

inline std::vector<int16_t> Keys(const std::string& text) {
  return std::vector<int16_t>(text.begin(), text.end());
}

}  // namespace kap::test
