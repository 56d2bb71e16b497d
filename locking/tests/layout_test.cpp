// What other programs read: the entry bytes, the lock key text, the minute clock, LOCKS.TMP.
#include "locking/tests/lock_fixture.h"

namespace kap::locktest {
namespace {

TEST(LockKeyText, PackedPairsBecomeDigitsOtherBytesStay) {
  struct Case {
    std::string key, text;
  } cases[] = {
      {"\x81\xA2", "0134"},
      {"\x80\xE3", "0099"},
      {"\xE4\x7F", "\xE4\x7F"},
      {"A\x8C"
       "B",
       "A12B"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(LockKeyText(c.key), c.text) << "key: " << c.key;
}

TEST(MinutesSince1970, CountsLocalDaysAndMinutes) {
  EXPECT_EQ(MinutesSince1970({1970, 1, 1, 0, 0, 59, 99}), 0);
  EXPECT_EQ(MinutesSince1970({2024, 2, 29, 23, 59, 0, 0}), 28487519);
  EXPECT_EQ(MinutesSince1970({2026, 1, 2, 10, 0, 0, 0}), kStartMinutes);
}

TEST_F(LockTest, EntriesAndIdentityAreLaidOutByteForByte) {
  ASSERT_EQ(LockRecord("PropietV", "\x81\xA2"), 0);
  ASSERT_EQ(LockRange("PropietV", "k", std::string(45, 'A'), "B"), 0);
  ASSERT_EQ(LockRange("Whole", "f", "ignored", "ignored"), 0);
  const LockIdentity& id = CurrentLockIdentity();
  ASSERT_NE(id.number, 0);
  const std::string head =
      PadOrCut(ComputerName(), 15) + PadOrCut(std::to_string(id.number), 11) + "29455800";
  EXPECT_EQ(Bytes("PROPIETV.lck"), head + "K4 " + PadOrCut("0134", 40) + "4 " +
                                       PadOrCut("0134", 40) + "\r\n" +  // 121 bytes
                                       head + "K40" + std::string(40, 'A') + "1 " +
                                       PadOrCut("B", 40) + "\r\n");
  EXPECT_EQ(Bytes("WHOLE.lck"), head + "F" + std::string(84, ' ') + "\r\n");

  const std::string identity = test::ReadFile(TerminalDir(1) + "/LOCKS.TMP");
  ASSERT_EQ(identity.size(), 19u);
  uint32_t n = 0;
  for (int i = 3; i >= 0; --i) n = n << 8 | static_cast<unsigned char>(identity[i]);
  EXPECT_EQ(static_cast<int32_t>(n), id.number);
  EXPECT_EQ(identity.substr(4), PadOrCut(ComputerName(), 15));
}

TEST_F(LockTest, IdentityBelongsToTheWorkingDirectory) {
  std::vector<int32_t> numbers;
  for (int n = 1; n <= 8; ++n) {  // all at the same hundredth of the same minute
    Terminal(n);
    numbers.push_back(CurrentLockIdentity().number);
  }
  Terminal(1);  // a later program of terminal 1 reads the same identity back
  EXPECT_EQ(CurrentLockIdentity().number, numbers[0]);
  std::sort(numbers.begin(), numbers.end());
  EXPECT_EQ(std::adjacent_find(numbers.begin(), numbers.end()), numbers.end());

  // A file written by another program is used as it stands.
  test::WriteFile(TerminalDir(1) + "/LOCKS.TMP",
                  std::string("\x2A\0\0\0", 4) + PadOrCut("OTHERHOST", 15));
  Terminal(1);
  ASSERT_EQ(LockRecord("X", "1"), 0);
  EXPECT_EQ(Bytes("X.lck").substr(0, 26), "OTHERHOST      42         ");

  // One that is empty, cut short or zero gets a fresh identity written in full.
  for (const std::string& content : {std::string(), std::string("\x07\0", 2), std::string(19, '\0'),
                                     std::string("\x05\0\0\0ABC", 7)}) {
    test::WriteFile(TerminalDir(1) + "/LOCKS.TMP", content);
    Terminal(1);
    EXPECT_NE(CurrentLockIdentity().number, 0) << "size " << content.size();
    EXPECT_EQ(test::ReadFile(TerminalDir(1) + "/LOCKS.TMP").size(), 19u);
  }
}

TEST_F(LockTest, ANegativeIdentityIsDamageAndGetsAFreshOne) {
  test::WriteFile(TerminalDir(1) + "/LOCKS.TMP",
                  std::string(4, '\xFF') + PadOrCut("OTHERHOST", 15));
  Terminal(1);
  LockIdentity peeked;
  EXPECT_FALSE(PeekLockIdentity(&peeked));
  // Its liveness mark could never be held, and every lock call would be tried again for ever.
  ASSERT_GT(CurrentLockIdentity().number, 0);
  EXPECT_EQ(LockRecord("X", "1"), 0);
  ASSERT_TRUE(PeekLockIdentity(&peeked));
  EXPECT_EQ(peeked.number, CurrentLockIdentity().number);
}

TEST_F(LockTest, BusyIdentityFileIsWaitedForAndAnUnusableOneIsToldUntilItCanBeUsed) {
  OpenResult result;
  auto held =
      PosixOs().OpenFile(TerminalDir(1) + "/LOCKS.TMP", true, false, Sharing::kExclusive, &result);
  ASSERT_TRUE(held);
  os_.onSleep = [&] { held.reset(); };
  EXPECT_NE(CurrentLockIdentity().number, 0);
  ASSERT_EQ(os_.sleeps.size(), 1u);
  EXPECT_TRUE(os_.sleeps[0] >= 1 && os_.sleeps[0] <= 3000) << os_.sleeps[0];
  EXPECT_TRUE(shown_.empty());  // busy is not a failure

  // A working folder that does not exist: told, and tried again until it is made.
  const std::string nowhere = root_.file("nowhere");
  CurrentSession().WorkDir = nowhere + "\\";
  ResetLockState();
  SetLockMessageSink(
      {[this](const std::string& text) { shown_.push_back(text); }, [this] { ++hidden_; }});
  os_.sleeps.clear();
  os_.onSleep = [&] {
    if (os_.sleeps.size() == 3) test::MakeDirs(nowhere);
  };
  ASSERT_EQ(LockRecord("X", "1"), 0);
  EXPECT_EQ(os_.sleeps.size(), 3u);
  ASSERT_EQ(shown_.size(), 1u);
#ifdef _WIN32
  const std::string identity = nowhere + "\\LOCKS.TMP";
#else
  const std::string identity = nowhere + "/LOCKS.TMP";
#endif
  EXPECT_EQ(shown_[0],
            "NO ES POT FER SERVIR " + identity + ": LA CARPETA NO EXISTEIX. TORNANT-HO A PROVAR.");
  EXPECT_EQ(hidden_, 1);
  EXPECT_TRUE(test::FileExists(nowhere + "/LOCKS.TMP"));
  EXPECT_EQ(UnlockRecord("X"), 0);
}

}  // namespace
}  // namespace kap::locktest
