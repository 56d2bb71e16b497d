// End to end: the real owner program in tmux on a fresh demo installation (working date
// 8 December 2026, Catalan). The pop-ups open over the key form, their result is typed into the
// owner code field, and the screen under them comes back exactly.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "popups/popups.h"
#include "testsupport/test_support.h"

namespace kap::test {
namespace {

const char kLabel[] = "CODI DEL PROPIETARI: ";

class PopupsDemoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    demo_ = dir_.file("demo");
    ProcessResult built = RunProcess(
        {BuildPath("tools/kaptool"), "demo", "build", SourcePath("demo"), demo_});
    ASSERT_EQ(built.exitCode, 0) << built.errors;
  }

  std::unique_ptr<Tmux> Start() {
    std::map<std::string, std::string> env = {
        {"KAPROOT", demo_ + "/"},
        {"KAPTMP", demo_ + "/T01"},
        {"KAPTERM", demo_ + "/T01"},
    };
    auto tmux = std::make_unique<Tmux>(BuildPath("app/vownmain"), env, demo_);
    EXPECT_TRUE(tmux->WaitFor(kLabel)) << tmux->ScreenText();
    tmux->WaitQuiet();
    return tmux;
  }

  void Quit(Tmux& tmux) {
    tmux.SendKeys({"Escape"});
    int status = -1;
    ASSERT_TRUE(tmux.WaitExit(&status)) << tmux.ScreenText();
    EXPECT_EQ(status, 0);
  }

  // Waits until the owner code field shows `value`; the screen as it then stands.
  std::vector<std::string> WaitForField(Tmux& tmux, const std::string& value) {
    std::vector<std::string> screen;
    for (int i = 0; i < 300; ++i) {
      screen = tmux.Screen();
      if (screen.size() > 4 && screen[4].find(kLabel + value) != std::string::npos) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    return screen;
  }

  // Every row but the field's is the screen from before the pop-up; the field's row differs
  // only by the typed value.
  void ExpectRestored(const std::vector<std::string>& before, const std::vector<std::string>& after,
                      const std::string& value) {
    ASSERT_EQ(after.size(), before.size());
    for (size_t r = 0; r < before.size(); ++r) {
      std::string expected = before[r];
      size_t at = expected.find(kLabel);
      if (at != std::string::npos) expected.replace(at + sizeof kLabel - 1, value.size(), value);
      EXPECT_EQ(after[r], expected) << "row " << r + 1;
    }
  }

  TempDir dir_;
  std::string demo_;
};

TEST_F(PopupsDemoTest, CalculatorResultIsTypedIntoTheKeyField) {
  auto tmux = Start();
  std::vector<std::string> before = tmux->Screen();
  tmux->SendKeys({"M-x"});
  ASSERT_TRUE(tmux->WaitFor("\u2514\u2500\u2500")) << tmux->ScreenText();
  tmux->SendText("12*3=");
  ASSERT_TRUE(tmux->WaitFor("36  \u2502")) << tmux->ScreenText();
  std::vector<std::string> open = tmux->Screen();
  EXPECT_NE(open[19].find("12 *\u2502"), std::string::npos) << tmux->ScreenText();
  EXPECT_NE(open[20].find("3 =\u2502"), std::string::npos) << tmux->ScreenText();
  EXPECT_NE(open[21].find("36  \u2502"), std::string::npos) << tmux->ScreenText();
  tmux->SendText("F");
  std::vector<std::string> after = WaitForField(*tmux, "3600");
  ExpectRestored(before, after, "3600");
  Quit(*tmux);

  // The state was left in the terminal's folder for the next pop-up.
  CalculatorState state;
  ASSERT_TRUE(ParseCalculatorState(ReadFile(demo_ + "/T01/KAPCALC.TMP"), &state));
  EXPECT_EQ(state.Accumulator, 36);
  EXPECT_EQ(state.FirstTapeLine, 20);
}

TEST_F(PopupsDemoTest, CalendarDateIsTypedIntoTheKeyFieldAsFarAsItHolds) {
  auto tmux = Start();
  std::vector<std::string> before = tmux->Screen();
  tmux->SendKeys({"M-c"});
  ASSERT_TRUE(tmux->WaitFor("DL DT DC DJ DV DS DG")) << tmux->ScreenText();
  std::string screen = tmux->ScreenText();
  EXPECT_NE(screen.find(" 2026 "), std::string::npos) << screen;
  EXPECT_NE(screen.find("OCTUBRE"), std::string::npos) << screen;
  EXPECT_NE(screen.find("DESEMBRE"), std::string::npos) << screen;
  tmux->SendKeys({"Right", "Right"});
  tmux->WaitQuiet();
  tmux->SendText("F");
  // 10/12/2026 in a field of four characters.
  std::vector<std::string> after = WaitForField(*tmux, "10/1");
  ExpectRestored(before, after, "10/1");
  Quit(*tmux);
}

}  // namespace
}  // namespace kap::test
