// Lock files against real Windows processes: a holder that is killed, or that ends itself
// without unlocking, leaves no entry that keeps another terminal waiting.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>

#include <cstdlib>

#include "locking/tests/lock_fixture.h"

namespace kap::locktest {
namespace {

// Keys travel in the environment as hex: their bytes are not text of any code page.
std::string FromHex(const std::string& hex) {
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return bytes;
}

// A child is this executable run again on the same test: it takes the keys of PropietV
// named in KAP_LOCK_KEYS ("FILENAME:HEXKEY", "," between) for terminal KAP_LOCK_TERMINAL of the
// installation at KAP_LOCK_ROOT, its clock at KAP_LOCK_MINUTES, says "ready", then waits to be killed or, when asked,
// ends itself at once without unlocking.
class WindowsHolderTest : public LockTest {
 protected:
  void SetUp() override {
    LockTest::SetUp();
    if (test::ChildRole().empty()) return;
    std::exit(RunChild());
  }

  int RunChild() {
    const std::string root = std::getenv("KAP_LOCK_ROOT");
    const int terminal = std::atoi(std::getenv("KAP_LOCK_TERMINAL"));
    Terminal(terminal);
    os_.minutes = std::atoll(std::getenv("KAP_LOCK_MINUTES"));  // the parent's clock
    CurrentSession().RootDir = root + "/";
    CurrentSession().WorkDir = root + "/T" + std::to_string(terminal) + "\\";
    std::string keys = std::getenv("KAP_LOCK_KEYS");
    for (size_t at = 0; at < keys.size(); at = keys.find(',', at) + 1) {
      const std::string key = keys.substr(at, keys.find(',', at) - at);
      if (LockRecord(key.substr(0, 8), FromHex(key.substr(9))) != 0) return 2;
      if (keys.find(',', at) == std::string::npos) break;
    }
    if (test::ChildRole() == "crash") ::TerminateProcess(::GetCurrentProcess(), 9);
    std::printf("ready\n");
    std::fflush(stdout);
    ::Sleep(INFINITE);
    return 0;
  }

  // keys: "FILENAME:HEXKEY" items, the file name eight characters long.
  std::unique_ptr<test::SelfChild> StartHolder(const std::string& role, int terminal,
                                               const std::string& keys) {
    Terminal(terminal);  // makes its folder
    const std::string test =
        std::string("WindowsHolderTest.") +
        ::testing::UnitTest::GetInstance()->current_test_info()->name();
    return std::make_unique<test::SelfChild>(
        test, role,
        std::map<std::string, std::string>{{"KAP_LOCK_ROOT", root_.path()},
                                           {"KAP_LOCK_TERMINAL", std::to_string(terminal)},
                                           {"KAP_LOCK_KEYS", keys},
                                           {"KAP_LOCK_MINUTES", std::to_string(os_.minutes)}});
  }
};

TEST_F(WindowsHolderTest, ARerunAfterACrashLeavesNoEntryBehind) {
  auto crashed = StartHolder("crash", 1, "PropietV:81A2,FinquesV:8181,FinquesV:8182");
  EXPECT_FALSE(crashed->WaitForLine("ready"));
  EXPECT_EQ(crashed->Wait(), 9) << crashed->Output();
  ASSERT_EQ(Entries("PROPIETV.lck").size(), 1u) << "the crashed program had taken its key";
  Terminal(1);
  ASSERT_EQ(LockRecord("UPaisos", "ES"), 0);  // the first lock of the re-run
  for (const char* file : {"PROPIETV.lck", "FINQUESV.lck"}) {
    for (const LockEntry& e : Entries(file)) EXPECT_TRUE(e.Free()) << file;
  }
  EXPECT_EQ(UnlockRecord("UPaisos"), 0);
}

TEST_F(WindowsHolderTest, TwoProgramsOfOneTerminalKeepEachOthersEntries) {
  auto other = StartHolder("hold", 1, "PropietV:81A2");
  ASSERT_TRUE(other->WaitForLine("ready")) << other->Output();
  Terminal(1);  // this program: same terminal
  ASSERT_EQ(LockRecord("FinquesV", "\x81\x81"), 0);  // must not sweep the living one's entry
  EXPECT_EQ(UnlockRecord("FinquesV"), 0);
  Terminal(2);
  LockWaitMode() = "S";
  EXPECT_EQ(LockRecord("PropietV", "\x81\xA2"), -1);
  other->Kill();
  EXPECT_EQ(LockRecord("PropietV", "\x81\xA2"), 0);
}

}  // namespace
}  // namespace kap::locktest
#endif
