// End to end: the real owner program in tmux on a fresh demo installation (Catalan, working date
// 8 December 2026). A pop-up opened on the key form types its result into the owner code field,
// and the screen under it comes back exactly.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "popups/popups.h"
#include "testsupport/test_support.h"

namespace kap::test {
namespace {

const std::string kLabel = "CODI DEL PROPIETARI: ";

class PopupsDemoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    demo_ = dir_.file("demo");
    ProcessResult built =
        RunProcess({BuildPath("tools/kaptool"), "demo", "build", SourcePath("demo"), demo_});
    ASSERT_EQ(built.exitCode, 0) << built.errors;
    tmux_ = std::make_unique<Tmux>(
        BuildPath("app/vownmain"),
        std::map<std::string, std::string>{
            {"KAPROOT", demo_ + "/"}, {"KAPTMP", demo_ + "/T01"}, {"KAPTERM", demo_ + "/T01"}},
        demo_);
    ASSERT_TRUE(tmux_->WaitFor(kLabel)) << tmux_->ScreenText();
    tmux_->WaitQuiet();
    before_ = tmux_->Screen();
  }

  // Once the field shows `value`: every row is as before the pop-up but for the typed value.
  void ExpectFieldAndScreen(const std::string& value) {
    std::vector<std::string> after;
    for (int i = 0; i < 300; ++i) {
      after = tmux_->Screen();
      if (after.size() > 4 && after[4].find(kLabel + value) != std::string::npos) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    ASSERT_EQ(after.size(), before_.size());
    for (size_t r = 0; r < before_.size(); ++r) {
      std::string expected = before_[r];
      if (size_t at = expected.find(kLabel); at != std::string::npos)
        expected.replace(at + kLabel.size(), value.size(), value);
      EXPECT_EQ(after[r], expected) << "row " << r + 1;
    }
    tmux_->SendKeys({"Escape"});
    int status = -1;
    ASSERT_TRUE(tmux_->WaitExit(&status)) << tmux_->ScreenText();
    EXPECT_EQ(status, 0);
  }

  TempDir dir_;
  std::string demo_;
  std::unique_ptr<Tmux> tmux_;
  std::vector<std::string> before_;
};

TEST_F(PopupsDemoTest, CalculatorResultIsTypedIntoTheKeyField) {
  tmux_->SendKeys({"M-x"});
  ASSERT_TRUE(tmux_->WaitFor("\u2514\u2500\u2500")) << tmux_->ScreenText();
  tmux_->SendText("12*3=");
  ASSERT_TRUE(tmux_->WaitFor("36  \u2502")) << tmux_->ScreenText();
  std::vector<std::string> open = tmux_->Screen();
  EXPECT_NE(open[19].find("12 *\u2502"), std::string::npos) << tmux_->ScreenText();
  EXPECT_NE(open[20].find("3 =\u2502"), std::string::npos) << tmux_->ScreenText();
  tmux_->SendText("F");
  ExpectFieldAndScreen("3600");
  // The state stays in the terminal's folder for the next pop-up.
  CalculatorState state;
  ASSERT_TRUE(ParseCalculatorState(ReadFile(demo_ + "/T01/KAPCALC.TMP"), &state));
  EXPECT_EQ(state.Accumulator, 36);
  EXPECT_EQ(state.FirstTapeLine, 20);
}

TEST_F(PopupsDemoTest, CalendarDateIsTypedIntoTheKeyFieldAsFarAsItHolds) {
  tmux_->SendKeys({"M-c"});
  ASSERT_TRUE(tmux_->WaitFor("DL DT DC DJ DV DS DG")) << tmux_->ScreenText();
  EXPECT_TRUE(tmux_->WaitFor("DESEMBRE")) << tmux_->ScreenText();
  tmux_->SendKeys({"Right", "Right"});
  tmux_->WaitQuiet();
  tmux_->SendText("F");
  ExpectFieldAndScreen("10/1");  // 10/12/2026 in a field of four characters
}

}  // namespace
}  // namespace kap::test
