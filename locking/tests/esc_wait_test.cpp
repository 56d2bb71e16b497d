// The wait of mode "P" on the real screen layer and the in-memory console.
#include "formengine/screen.h"
#include "locking/tests/lock_fixture.h"
#include "platform/console.h"

namespace kap::locktest {
namespace {

TEST_F(LockTest, EscEndsTheWaitOfModePWithinOneWaitAndTheScreenIsRestored) {
  ResetScreenState();
  MemoryConsole console;
  SetConsole(&console);
  Terminal(2);
  ASSERT_EQ(LockRecord("PropietV", "\x81\xA2"), 0);
  Terminal(1);
  SetLockMessageSink({});  // the screen, as in the programs
  const std::string before = console.ScreenText();

  // Without "P" Esc is not read: the wait goes on until the entry expires.
  os_.minutesPerSleep = 1;
  os_.onSleep = [&] { console.PushKey(key::kEsc); };
  EXPECT_EQ(LockRecord("PropietV", "\x81\xA2"), 0);
  EXPECT_EQ(os_.sleeps.size(), 31u);

  Terminal(2);  // now terminal 1 holds the key
  SetLockMessageSink({});
  for (const char* mode : {"P", "p"}) {
    os_.sleeps.clear();
    console.FlushInput();
    console.PushKeys({'x', key::kEsc});  // typed before the message: discarded
    std::string during;
    os_.onSleep = [&] {
      during = console.ScreenText();
      console.PushKey(os_.sleeps.size() < 3 ? 'a' : key::kEsc);
    };
    LockWaitMode() = mode;
    EXPECT_EQ(LockRecord("PropietV", "\x81\xA2"), -1) << "mode " << mode;
    ASSERT_EQ(os_.sleeps.size(), 3u) << "mode " << mode;
    EXPECT_LE(os_.sleeps[2], 1001);  // Esc is seen at the end of the wait it was typed in
    EXPECT_NE(during.find("FITXER BLOQUEJAT. ESPEREU UN MOMENT O POLSEU [ESC] PER A EIXIR."),
              std::string::npos)
        << during;
    EXPECT_EQ(console.ScreenText(), before);
    EXPECT_EQ(CurrentWindow().depth, 0);
  }
  EXPECT_EQ(Entries("PROPIETV.lck").size(), 1u);  // nothing written by the one that gave up
  SetConsole(nullptr);
  ResetScreenState();
}

}  // namespace
}  // namespace kap::locktest
