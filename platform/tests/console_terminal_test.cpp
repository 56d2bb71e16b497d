// `kaptool keys` on a real terminal (tmux): the key codes the terminal console and ReadKey
// produce for keys as tmux sends them, a raw mouse report, small terminals and resizes.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "testsupport/test_support.h"

namespace kap::test {
namespace {

std::string KeysCommand() { return BuildPath("tools/kaptool") + " keys"; }

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
    {{"Up"}, "key 4800"},        {{"NPage"}, "key 5100"},    {{"Home"}, "key 4700"},
    {{"End"}, "key 4F00"},       {{"IC"}, "key 5200"},       {{"DC"}, "key 5300"},
    {{"F1"}, "key 3B00"},        {{"F12"}, "key 8600"},      {{"S-F1"}, "key 5400"},
    {{"C-F1"}, "key 5E00"},      {{"M-F1"}, "key 6800"},     {{"C-F4"}, "key 6100"},
    {{"S-F12"}, "key 8800"},     {{"BTab"}, "key 0F00"},     {{"C-Left"}, "key 7300"},
    {{"C-Right"}, "key 7400"},   {{"C-Home"}, "key 7700"},   {{"M-x"}, "key 2D00"},
    {{"M-c"}, "key 2E00"},       {{"M-e"}, "key 00D5"},      {{"Enter"}, "key 000D"},
    {{"Tab"}, "key 0009"},       {{"BSpace"}, "key 0008"},   {{"C-c"}, "key 0003"},
    {{"C-v"}, "key 0016"},       {{"-l", "\xC3\xA9"}, "key 0082"},  // é
    {{"-l", "\xE2\x82\xAC"}, "key 00D5"},                          // €
    {{"-l", "a"}, "key 0061"},   {{"Escape"}, "key 001B"},
};

void CheckKeys(Tmux& tmux, const std::string& term) {
  ASSERT_TRUE(tmux.WaitFor("Esc twice ends")) << term << "\n" << tmux.ScreenText();
  std::vector<std::string> expected;
  // Sent in groups that fit on the screen, each checked before the next.
  for (size_t from = 0; from < kKeys.size(); from += 10) {
    tmux.Run({"send-keys", "-t", "t", "-l", "x"});  // a marker: key 0078
    ASSERT_TRUE(tmux.WaitFor("key 0078")) << term;
    tmux.Run({"send-keys", "-t", "t", "C-l"});
    for (size_t i = from; i < std::min(kKeys.size(), from + 10); ++i) {
      std::vector<std::string> args = {"send-keys", "-t", "t"};
      args.insert(args.end(), kKeys[i].tmuxKeys.begin(), kKeys[i].tmuxKeys.end());
      tmux.Run(args);
      // Let a lone Esc be read as such before the next key follows it.
      if (kKeys[i].tmuxKeys[0] == "Escape") ASSERT_TRUE(tmux.WaitFor("key 001B")) << term;
    }
    tmux.Run({"send-keys", "-t", "t", "-l", "y"});
    ASSERT_TRUE(tmux.WaitFor("key 0079")) << term << "\n" << tmux.ScreenText();
    std::vector<std::string> lines = LogLines(tmux);
    auto start = std::find(lines.rbegin(), lines.rend(), "key 000C");
    ASSERT_NE(start, lines.rend()) << term << "\n" << tmux.ScreenText();
    std::vector<std::string> got(start.base(), lines.end() - 1);
    std::vector<std::string> want;
    for (size_t i = from; i < std::min(kKeys.size(), from + 10); ++i) want.push_back(kKeys[i].expected);
    EXPECT_EQ(got, want) << "TERM=" << term;
  }
}

TEST(TerminalConsoleTest, KeyCodesUnderTmux) {
  for (std::string term : {"tmux-256color", "xterm-256color"}) {
    Tmux tmux(KeysCommand(), {{"TERM", term}});
    CheckKeys(tmux, term);
    // A left press and release at column 10, row 5, as an X10 mouse report, then a right
    // button in the SGR form that other terminal types use.
    tmux.SendHex({"1b", "5b", "4d", "20", "2a", "25", "1b", "5b", "4d", "23", "2a", "25"});
    EXPECT_TRUE(tmux.WaitFor("click row 5 column 10 buttons 1 code -1005")) << term << "\n" << tmux.ScreenText();
    tmux.SendText("\x1b[<2;33;7M\x1b[<2;33;7m");
    EXPECT_TRUE(tmux.WaitFor("click row 7 column 33 buttons 2 code -3307")) << term << "\n" << tmux.ScreenText();
    tmux.SendKeys({"Escape"});
    ASSERT_TRUE(tmux.WaitFor("key 001B"));
    tmux.SendKeys({"Escape"});
    int status = -1;
    EXPECT_TRUE(tmux.WaitExit(&status)) << term;
    EXPECT_EQ(status, 0) << term;
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

}  // namespace
}  // namespace kap::test
