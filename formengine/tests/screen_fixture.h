// Shared set-up of the screen layer tests: a fresh in-memory console, clipboard and screen
// state, and a working directory for the window stack file.
#pragma once

#include <gtest/gtest.h>

#include "formengine/screen.h"
#include "platform/console.h"
#include "session/session.h"
#include "testsupport/test_support.h"

namespace kap::test {

class ScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSession();
    ResetScreenState();
    CurrentSession().WorkDir = dir.path() + "/";
    SetConsole(&console);
    SetClipboard(&clipboard);
  }
  void TearDown() override {
    ResetScreenState();
    SetConsole(nullptr);
    SetClipboard(nullptr);
    ResetSession();
  }
  std::string StackFile() const { return dir.file("WinPush.tmp"); }
  // Fills the screen with a pattern of characters and attributes that differ cell to cell.
  void Paint() {
    for (int r = 1; r <= console.Rows(); ++r)
      for (int c = 1; c <= console.Columns(); ++c)
        console.PutCell(r, c,
                        Cell{static_cast<uint8_t>('A' + (r * 7 + c) % 26),
                             static_cast<uint8_t>((r * 13 + c) & 0xFF)});
  }

  TempDir dir;
  MemoryConsole console;
  MemoryClipboard clipboard;
};

}  // namespace kap::test
