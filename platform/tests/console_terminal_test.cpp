// `kaptool keys` on a real terminal (tmux): the key codes the terminal console and ReadKey
// produce for keys as tmux sends them, a raw mouse report, small terminals and resizes.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "platform/console.h"
#include "testsupport/test_support.h"

namespace kap::test {
namespace {

std::string KeysCommand() { return BuildPath("tools/kaptool") + " keys"; }

std::string SelfPath() {
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  return n > 0 ? std::string(self, static_cast<size_t>(n)) : "";
}

// The "key XXXX" and "click ..." lines on the screen, in order.
std::vector<std::string> LogLines(Tmux& tmux) {
  std::vector<std::string> lines;
  for (std::string line : tmux.Screen()) {
    line.erase(line.find_last_not_of(' ') + 1);
    if (line.rfind("key ", 0) == 0 || line.rfind("click ", 0) == 0) lines.push_back(line);
  }
  return lines;
}

struct KeyCase {
  std::vector<std::string> tmuxKeys;  // send-keys names, or {"-l", text} for literal text
  std::string expected;
};

const std::vector<KeyCase> kKeys = {
    {{"Up"}, "key 4800"},
    {{"NPage"}, "key 5100"},
    {{"Home"}, "key 4700"},
    {{"End"}, "key 4F00"},
    {{"IC"}, "key 5200"},
    {{"DC"}, "key 5300"},
    {{"F1"}, "key 3B00"},
    {{"F12"}, "key 8600"},
    {{"S-F1"}, "key 5400"},
    {{"C-F1"}, "key 5E00"},
    {{"M-F1"}, "key 6800"},
    {{"C-F4"}, "key 6100"},
    {{"S-F12"}, "key 8800"},
    {{"BTab"}, "key 0F00"},
    {{"C-Left"}, "key 7300"},
    {{"C-Right"}, "key 7400"},
    {{"C-Home"}, "key 7700"},
    {{"M-x"}, "key 2D00"},
    {{"M-c"}, "key 2E00"},
    {{"M-e"}, "key 00D5"},
    {{"Enter"}, "key 000D"},
    {{"Tab"}, "key 0009"},
    {{"BSpace"}, "key 0008"},
    {{"C-c"}, "key 0003"},
    {{"C-v"}, "key 0016"},
    {{"-l", "\xC3\xA9"}, "key 0082"},      // é
    {{"-l", "\xE2\x82\xAC"}, "key 00D5"},  // €
    {{"-l", "a"}, "key 0061"},
    {{"Escape"}, "key 001B"},
    {{"M-1", "M-3", "M-0"}, "key 0082"},  // Alt + keypad digits, ended by the next key
};

void CheckKeys(Tmux& tmux, const std::string& term) {
  ASSERT_TRUE(tmux.WaitFor("Esc twice ends")) << term << "\n" << tmux.ScreenText();
  std::vector<std::string> expected;
  // Sent in groups that fit on the screen, each checked before the next.
  for (size_t from = 0; from < kKeys.size(); from += 10) {
    // Ctrl+L opens the group; a digit of its own closes it, so the wait cannot be satisfied by
    // an earlier group's lines.
    const std::string closing(1, static_cast<char>('0' + from / 10));
    tmux.Run({"send-keys", "-t", "t", "C-l"});
    for (size_t i = from; i < std::min(kKeys.size(), from + 10); ++i) {
      std::vector<std::string> args = {"send-keys", "-t", "t"};
      args.insert(args.end(), kKeys[i].tmuxKeys.begin(), kKeys[i].tmuxKeys.end());
      tmux.Run(args);
      // Let a lone Esc be read as such before the next key follows it.
      if (kKeys[i].tmuxKeys[0] == "Escape") {
        ASSERT_TRUE(tmux.WaitFor("key 001B")) << term;
      }
    }
    tmux.Run({"send-keys", "-t", "t", "-l", closing});
    ASSERT_TRUE(tmux.WaitFor("key 003" + closing)) << term << "\n" << tmux.ScreenText();
    std::vector<std::string> lines = LogLines(tmux);
    auto start = std::find(lines.rbegin(), lines.rend(), "key 000C");
    ASSERT_NE(start, lines.rend()) << term << "\n" << tmux.ScreenText();
    std::vector<std::string> got(start.base(), lines.end() - 1);
    std::vector<std::string> want;
    for (size_t i = from; i < std::min(kKeys.size(), from + 10); ++i)
      want.push_back(kKeys[i].expected);
    EXPECT_EQ(got, want) << "TERM=" << term;
  }
}

TEST(TerminalConsoleTest, KeyCodesUnderTmux) {
  for (std::string term : {"tmux-256color", "xterm-256color", "screen"}) {
    Tmux tmux(KeysCommand(), {{"TERM", term}});
    CheckKeys(tmux, term);
    // A left press and release at column 10, row 5, as an X10 mouse report, then a right
    // button in the SGR form that other terminal types use.
    tmux.SendHex({"1b", "5b", "4d", "20", "2a", "25", "1b", "5b", "4d", "23", "2a", "25"});
    EXPECT_TRUE(tmux.WaitFor("click row 5 column 10 buttons 1 code -1005")) << term << "\n"
                                                                            << tmux.ScreenText();
    tmux.SendText("\x1b[<2;33;7M\x1b[<2;33;7m");
    EXPECT_TRUE(tmux.WaitFor("click row 7 column 33 buttons 2 code -3307")) << term << "\n"
                                                                            << tmux.ScreenText();
    tmux.SendKeys({"Escape"});
    ASSERT_TRUE(tmux.WaitFor("key 001B"));
    tmux.SendKeys({"Escape"});
    int status = -1;
    EXPECT_TRUE(tmux.WaitExit(&status)) << term;
    EXPECT_EQ(status, 0) << term;
  }
}

// Input that starts a mouse report and never finishes it, or a byte that is no UTF-8, must
// cost only itself: reading never waits for more, and the keys after it still arrive.
struct BrokenInputCase {
  std::string term;
  std::vector<std::string> hex;   // sent first, as raw bytes
  std::vector<std::string> then;  // sent after a pause, when the program has read the above
  std::vector<std::string> want;  // the key lines that must follow, in order
};

TEST(TerminalConsoleTest, BrokenInputCostsOnlyItself) {
  const std::vector<std::string> abc = {"key 0061", "key 0062", "key 0063"};
  const std::vector<BrokenInputCase> cases = {
      // ESC [ < LF: an SGR mouse report cut short
      {"xterm-256color", {"1b", "5b", "3c", "0a", "61", "62", "63"}, {}, abc},
      // ESC [ M: an X10 mouse report whose three bytes never come
      {"tmux-256color", {"1b", "5b", "4d"}, {"61", "62", "63"}, abc},
      {"screen", {"1b", "5b", "4d"}, {"61", "62", "63"}, abc},
      {"linux", {"1b", "5b", "4d", "21"}, {"61", "62", "63"}, abc},
      // A Latin-1 byte on a UTF-8 terminal is kept as its Latin-1 character (é).
      {"xterm-256color",
       {"61", "e9", "62", "63", "64", "65", "66", "67", "68"},
       {},
       {"key 0061", "key 0082", "key 0062", "key 0063", "key 0064", "key 0065", "key 0066",
        "key 0067", "key 0068"}},
      // A lead byte cut short by a plain one.
      {"xterm-256color", {"c3", "61", "62"}, {}, {"key 00C7", "key 0061", "key 0062"}},
  };
  for (const BrokenInputCase& c : cases) {
    Tmux tmux(KeysCommand(), {{"TERM", c.term}});
    ASSERT_TRUE(tmux.WaitFor("Esc twice ends")) << c.term;
    tmux.SendKeys({"C-l"});
    ASSERT_TRUE(tmux.WaitFor("key 000C")) << c.term;
    tmux.SendHex(c.hex);
    if (!c.then.empty()) {
      tmux.WaitQuiet(std::chrono::milliseconds(300));
      tmux.SendHex(c.then);
    }
    EXPECT_TRUE(tmux.WaitFor(c.want.back(), std::chrono::milliseconds(3000))) << c.term << "\n"
                                                                              << tmux.ScreenText();
    std::vector<std::string> lines = LogLines(tmux);
    auto start = std::find(lines.begin(), lines.end(), "key 000C");
    ASSERT_NE(start, lines.end()) << c.term;
    // Whatever the broken piece itself became, the keys after it come whole and in order.
    std::vector<std::string> got(start + 1, lines.end());
    std::vector<std::string> tail(got.end() - std::min(got.size(), c.want.size()), got.end());
    EXPECT_EQ(tail, c.want) << c.term << "\n" << tmux.ScreenText();
    tmux.SendKeys({"Escape"});
    ASSERT_TRUE(tmux.WaitFor("key 001B")) << c.term;
    tmux.SendKeys({"Escape"});
    int status = -1;
    EXPECT_TRUE(tmux.WaitExit(&status)) << c.term;
  }
}

TEST(TerminalConsoleTest, SmallTerminalAndResizesDoNotBreakIt) {
  Tmux tmux(KeysCommand(), {}, "", 40, 10);
  ASSERT_TRUE(tmux.WaitFor("kaptool keys"));
  tmux.SendKeys({"F1", "Up"});
  ASSERT_TRUE(tmux.WaitFor("key 4800"));
  // More keys than rows: the log scrolls inside the 25-row model, clipped to 10 rows.
  for (int i = 0; i < 30; ++i) tmux.SendKeys({"Down"});
  tmux.Run({"resize-window", "-t", "t", "-x", "100", "-y", "30"});
  tmux.SendKeys({"PPage"});
  EXPECT_TRUE(tmux.WaitFor("key 4900")) << tmux.ScreenText();
  tmux.Run({"resize-window", "-t", "t", "-x", "20", "-y", "5"});
  tmux.SendKeys({"Home"});
  tmux.Run({"resize-window", "-t", "t", "-x", "80", "-y", "25"});
  EXPECT_TRUE(tmux.WaitFor("key 4700")) << tmux.ScreenText();
  EXPECT_FALSE(tmux.Exited());
  tmux.SendKeys({"Escape"});
  ASSERT_TRUE(tmux.WaitFor("key 001B"));
  tmux.SendKeys({"Escape"});
  int status = -1;
  EXPECT_TRUE(tmux.WaitExit(&status));
  EXPECT_EQ(status, 0);
}

TEST(TerminalConsoleTest, RefusesWithoutATerminal) {
  ProcessResult r = RunProcess({BuildPath("tools/kaptool"), "keys"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.errors.find("terminal"), std::string::npos) << r.errors;
}

// Runs inside tmux, started by DrawsCellsColoursAndCursor: draws on the terminal console and
// waits for Esc.
TEST(TerminalConsoleChild, Draw) {
  if (!std::getenv("KAP_CONSOLE_CHILD"))
    GTEST_SKIP() << "runs only as the child of a terminal test";
  std::string error;
  auto console = CreateTerminalConsole({}, &error);
  ASSERT_TRUE(console) << error;
  Console& c = *console;
  c.SetAttribute(0x1E);
  c.SetCursor(2, 1);
  c.Write("\xD5 euro \x80\xA4\x9C");
  c.PutCell(3, 1, Cell{kMarkerLeft, 0x4F});
  c.PutCell(3, 2, Cell{kMarkerRight, 0x4F});
  c.SetAttribute(0x9C);
  c.SetCursor(4, 1);
  c.Write("\xC9\xCD\xBB bright");
  for (int r = 6; r <= 8; ++r) {
    c.SetCursor(r, 1);
    c.Write("row" + std::to_string(r));
  }
  c.ScrollRect(6, 1, 8, 4, 1, Cell{'.', 0x07});
  c.SetAttribute(0x00);
  c.SetCursor(12, 1);
  c.Write("hid");
  c.SetAttribute(0x70);
  c.Write("inv");
  c.PutCell(25, 80, Cell{'Z', 0x07});
  EXPECT_EQ(c.ReadCell(3, 1), (Cell{kMarkerLeft, 0x4F}));
  EXPECT_EQ(c.ReadCell(6, 1).character, 'r');
  EXPECT_EQ(c.ReadCell(8, 1).character, '.');
  c.SetAttribute(0x07);
  c.SetCursor(1, 1);
  c.Write("ready");
  c.SetCursor(10, 20);
  c.SetCursorSize(50);
  c.SetCursorVisible(true);
  c.Beep();
  c.Refresh();
  // Another program uses the terminal in between; everything is drawn again afterwards.
  c.Suspend();
  std::printf("\x1b[2J\x1b[Houtside\n");
  std::fflush(stdout);
  c.Resume();
  for (;;) {
    InputEvent e;
    if (c.ReadInput(&e)) {
      if (e.kind == InputEvent::Kind::kKeyDown && e.character == 0x1B) break;
    } else {
      c.WaitInput(200);
    }
  }
}

// Runs inside tmux, started by FatalSignalsChainToThePreviousHandler: a program that ignores
// SIGHUP and handles SIGTERM itself keeps both with the terminal console open.
void WriteChainedMarker(int) {
  if (FILE* f = std::fopen(std::getenv("KAP_CONSOLE_MARKER"), "w")) {
    std::fputs("chained", f);
    std::fclose(f);
  }
  _exit(7);
}

TEST(TerminalConsoleChild, Signals) {
  if (!std::getenv("KAP_CONSOLE_CHILD"))
    GTEST_SKIP() << "runs only as the child of a terminal test";
  std::signal(SIGHUP, SIG_IGN);
  std::signal(SIGTERM, WriteChainedMarker);
  std::string error;
  auto console = CreateTerminalConsole({}, &error);
  ASSERT_TRUE(console) << error;
  console->Write("open");
  console->Refresh();
  std::raise(SIGHUP);
  std::raise(SIGTERM);
  _exit(1);  // not reached when SIGTERM reaches the program's own handler
}

TEST(TerminalConsoleTest, FatalSignalsChainToThePreviousHandler) {
  TempDir dir;
  const std::string marker = dir.file("marker");
  Tmux tmux(SelfPath() + " --gtest_filter=TerminalConsoleChild.Signals",
            {{"KAP_CONSOLE_CHILD", "1"}, {"KAP_CONSOLE_MARKER", marker}});
  int status = -1;
  EXPECT_TRUE(tmux.WaitExit(&status));
  EXPECT_EQ(status, 7);
  EXPECT_EQ(ReadFile(marker), "chained");
}

TEST(TerminalConsoleTest, DrawsCellsColoursAndCursor) {
  Tmux tmux(SelfPath() + " --gtest_filter=TerminalConsoleChild.Draw", {{"KAP_CONSOLE_CHILD", "1"}});
  ASSERT_TRUE(tmux.WaitFor("ready")) << tmux.ScreenText();
  tmux.WaitQuiet();
  EXPECT_EQ(tmux.ScreenText().find("outside"), std::string::npos) << tmux.ScreenText();
  std::vector<std::string> screen = tmux.Screen();
  EXPECT_EQ(screen[1].substr(0, 15), "\u20AC euro \u00C7\u00F1\u00A3");
  EXPECT_EQ(screen[2].substr(0, 6), "\u25C4\u25BA");
  EXPECT_EQ(screen[3].substr(0, 16), "\u2554\u2550\u2557 bright");
  EXPECT_EQ(screen[5].substr(0, 4), "row7");
  EXPECT_EQ(screen[7].substr(0, 4), "....");
  EXPECT_EQ(screen[24].substr(screen[24].size() - 1), "Z");
  std::string coloured = tmux.Run({"capture-pane", "-p", "-e", "-t", "t"});
  // Yellow (14) on blue (1); bright red (12) on bright blue (9): console colours map to the
  // terminal's order (red and blue swapped) with the bright ones as 90-97 / 100-107.
  EXPECT_NE(coloured.find("\x1b[93m\x1b[44m\u20AC"), std::string::npos) << coloured;
  EXPECT_NE(coloured.find("\x1b[91m\x1b[104m\u2554"), std::string::npos) << coloured;
  EXPECT_NE(coloured.find("\x1b[97m\x1b[41m\u25C4"), std::string::npos) << coloured;
  EXPECT_EQ(tmux.Display("#{cursor_x},#{cursor_y},#{cursor_flag}"), "19,9,1");
  tmux.SendKeys({"Escape"});
  int status = -1;
  EXPECT_TRUE(tmux.WaitExit(&status));
  EXPECT_EQ(status, 0);
}

// An eight-colour terminal: 64 pairs with white on black as pair 0, bright foregrounds bold,
// bright backgrounds lost.
TEST(TerminalConsoleTest, DrawsInEightColours) {
  Tmux tmux(SelfPath() + " --gtest_filter=TerminalConsoleChild.Draw",
            {{"KAP_CONSOLE_CHILD", "1"}, {"TERM", "screen"}});
  ASSERT_TRUE(tmux.WaitFor("ready")) << tmux.ScreenText();
  tmux.WaitQuiet();
  std::string coloured = tmux.Run({"capture-pane", "-p", "-e", "-t", "t"});
  EXPECT_NE(coloured.find("\x1b[1m\x1b[33m\x1b[44m\u20AC euro"), std::string::npos) << coloured;
  EXPECT_NE(coloured.find("\x1b[1m\x1b[31m\x1b[44m\u2554"), std::string::npos) << coloured;
  EXPECT_NE(coloured.find("\x1b[1m\x1b[41m\u25C4"), std::string::npos) << coloured;
  EXPECT_NE(coloured.find("\x1b[37m\x1b[40mready"), std::string::npos) << coloured;
  EXPECT_NE(coloured.find("\x1b[30mhid\x1b[47minv"), std::string::npos) << coloured;
  tmux.SendKeys({"Escape"});
  int status = -1;
  EXPECT_TRUE(tmux.WaitExit(&status));
  EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace kap::test
