// The wait of mode "P" on the real screen layer and the in-memory console: the message on
// screen, keys typed before it discarded, Esc giving up.
#include "formengine/screen.h"
#include "locking/tests/lock_fixture.h"
#include "platform/console.h"

namespace kap::locktest {
namespace {

class EscWaitTest : public LockTest {
 protected:
  void SetUp() override {
    LockTest::SetUp();
    ResetScreenState();
    console_ = std::make_unique<MemoryConsole>();
    SetConsole(console_.get());
    Terminal(2);
    EXPECT_EQ(LockRecord("PropietV", "\x81\xA2"), 0);
    Terminal(1);
    SetLockMessageSink({});  // the screen, as in the programs
  }
  void TearDown() override {
    SetConsole(nullptr);
    ResetScreenState();
    LockTest::TearDown();
  }
  std::unique_ptr<MemoryConsole> console_;
};

TEST_F(EscWaitTest, EscGivesUpWithinOneWaitAndTheScreenIsRestored) {
  for (const char* mode : {"P", "p"}) {
    os_.sleeps.clear();
    const std::string before = console_->ScreenText();
    // Typed before the message: discarded, so it cannot end the wait.
    console_->PushKeys({'x', key::kEsc});
    std::string during;
    os_.onSleep = [&] {
      if (os_.sleeps.size() == 2) {
        during = console_->ScreenText();
        console_->PushKey(key::kEsc);
      }
    };
    LockWaitMode() = mode;
    EXPECT_EQ(LockRecord("PropietV", "\x81\xA2"), -1) << "mode " << mode;
    ASSERT_EQ(os_.sleeps.size(), 2u) << "mode " << mode;
    EXPECT_LE(os_.sleeps[1], 1001);  // Esc is seen at the end of the wait it was typed in
    EXPECT_NE(during.find("FITXER BLOQUEJAT. ESPEREU UN MOMENT O POLSEU [ESC] PER A EIXIR."),
              std::string::npos)
        << during;
    EXPECT_EQ(console_->ScreenText(), before);
    EXPECT_EQ(CurrentWindow().depth, 0);
  }
  EXPECT_EQ(Entries("PROPIETV.lck").size(), 1u);  // nothing written by the terminal that gave up
}

TEST_F(EscWaitTest, OtherKeysAndOtherModesDoNotEndTheWait) {
  // Without "P" Esc is not read: the wait goes on until the entry expires.
  os_.minutesPerSleep = 1;
  os_.onSleep = [&] { console_->PushKey(key::kEsc); };
  EXPECT_EQ(LockRecord("PropietV", "\x81\xA2"), 0);
  EXPECT_EQ(os_.sleeps.size(), 31u);
  EXPECT_EQ(console_->PendingInput(), 31u);

  Terminal(2);
  SetLockMessageSink({});
  os_.sleeps.clear();
  console_->FlushInput();
  LockWaitMode() = "P";
  os_.onSleep = [&] { console_->PushKey(os_.sleeps.size() < 3 ? 'a' : key::kEsc); };
  EXPECT_EQ(LockRecord("PropietV", "\x81\xA2"), -1);
  EXPECT_EQ(os_.sleeps.size(), 3u);
}

}  // namespace
}  // namespace kap::locktest
