// The bytes other programs read: entry layout, lock key text, the minute clock, identity file.
#include "locking/tests/lock_fixture.h"

namespace kap::locktest {
namespace {

std::string Pad(const std::string& text, size_t width) {
  std::string out = text.substr(0, width);
  out.resize(width, ' ');
  return out;
}

TEST(LockKeyText, PackedPairsBecomeDigitsOtherBytesStay) {
  struct Case {
    std::string key, text;
  } cases[] = {
      {"\x81\xA2", "0134"},
      {"\x80\x80", "0000"},
      {"\xE3\x80", "9900"},            // 227 is the last packed value
      {"\xE4\x7F", "\xE4\x7F"},        // 228 and below 128 are not packed digits
      {"A\x8C" "B", "A12B"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(LockKeyText(c.key), c.text) << "key: " << c.key;
}

TEST(MinutesSince1970, CountsLocalDaysAndMinutes) {
  struct Case {
    LocalTime time;
    int64_t minutes;
  } cases[] = {
      {{1970, 1, 1, 0, 0, 59, 99}, 0},
      {{2026, 1, 2, 10, 0, 0, 0}, kStartMinutes},
      {{2024, 2, 29, 23, 59, 0, 0}, 28487519},
      {{1969, 12, 31, 0, 0, 0, 0}, -1440},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MinutesSince1970(c.time), c.minutes)
        << c.time.year << "-" << c.time.month << "-" << c.time.day;
  }
}

TEST(LockEntryFields, GarbageReadsAsTheRulesSay) {
  LockEntry e = LockEntry::Parse(std::string(121, 'x'));
  int64_t number = 0;
  EXPECT_FALSE(e.NumberValue(&number));  // never anybody's number
  EXPECT_FALSE(e.NumberBlank());
  EXPECT_EQ(e.TimeValue(), 0);           // so the entry counts as abandoned
  EXPECT_EQ(LockEntry::LengthValue("xx"), 0);
  EXPECT_EQ(LockEntry::LengthValue("99"), 40);
  EXPECT_EQ(LockEntry::LengthValue("4 "), 4);
  e.number = "-12        ";
  ASSERT_TRUE(e.NumberValue(&number));
  EXPECT_EQ(number, -12);
  e.time = "1234zz  ";
  EXPECT_EQ(e.TimeValue(), 1234);
  // A short piece is padded: parsing never reads past what it was given.
  EXPECT_EQ(LockEntry::Parse("HOST").Bytes(), Pad("HOST", 121));
}

TEST_F(LockTest, KeyEntryIsLaidOutByteForByte) {
  ASSERT_EQ(LockRecord("PropietV", "\x81\xA2"), 0);
  const LockIdentity& id = CurrentLockIdentity();
  ASSERT_NE(id.number, 0);
  const std::string expected = Pad(ComputerName(), 15) + Pad(std::to_string(id.number), 11) +
                               "29455800" + "K" + "4 " + Pad("0134", 40) + "4 " +
                               Pad("0134", 40) + "\r\n";
  ASSERT_EQ(expected.size(), 121u);
  EXPECT_EQ(Bytes("PROPIETV.lck"), expected);

  // The identity file: number little-endian, then the host.
  const std::string identity = test::ReadFile(TerminalDir(1) + "/LOCKS.TMP");
  ASSERT_EQ(identity.size(), 19u);
  const uint32_t n = static_cast<unsigned char>(identity[0]) |
                     static_cast<unsigned char>(identity[1]) << 8 |
                     static_cast<unsigned char>(identity[2]) << 16 |
                     static_cast<uint32_t>(static_cast<unsigned char>(identity[3])) << 24;
  EXPECT_EQ(static_cast<int32_t>(n), id.number);
  EXPECT_EQ(identity.substr(4), Pad(ComputerName(), 15));
}

TEST_F(LockTest, FileEntryAndLongKeysAreLaidOutByteForByte) {
  const std::string longKey(45, 'A');
  ASSERT_EQ(LockRange("Rang", "k", longKey, "B"), 0);
  ASSERT_EQ(LockRange("Whole", "f", "ignored", "ignored"), 0);
  const std::string head = Pad(ComputerName(), 15) + Pad(Number(), 11) + "29455800";
  EXPECT_EQ(Bytes("RANG.lck"),
            head + "K" + "40" + std::string(40, 'A') + "1 " + Pad("B", 40) + "\r\n");
  EXPECT_EQ(Bytes("WHOLE.lck"), head + "F" + std::string(84, ' ') + "\r\n");
}

TEST_F(LockTest, IdentityIsKeptPerWorkingDirectory) {
  const int32_t first = CurrentLockIdentity().number;
  Terminal(2);
  const int32_t second = CurrentLockIdentity().number;
  EXPECT_NE(first, second);
  Terminal(1);  // a later program of terminal 1 reads the same identity back
  EXPECT_EQ(CurrentLockIdentity().number, first);
  LockIdentity peeked;
  ASSERT_TRUE(PeekLockIdentity(&peeked));
  EXPECT_EQ(peeked.number, first);
}

TEST_F(LockTest, IdentityFileGivenByAnotherProgramIsUsedAsItStands) {
  test::WriteFile(TerminalDir(1) + "/LOCKS.TMP", std::string("\x2A\x00\x00\x00", 4) + "OTHERHOST      ");
  Terminal(1);
  EXPECT_EQ(CurrentLockIdentity().number, 42);
  EXPECT_EQ(CurrentLockIdentity().host, "OTHERHOST      ");
  ASSERT_EQ(LockRecord("X", "1"), 0);
  EXPECT_EQ(Bytes("X.lck").substr(0, 26), "OTHERHOST      42         ");
}

TEST_F(LockTest, ShortOrZeroIdentityFileGetsAFreshIdentityWrittenInFull) {
  for (const std::string& content :
       {std::string(""), std::string("\x07\x00", 2), std::string(19, '\0'),
        std::string("\x05\x00\x00\x00" "ABC", 7)}) {
    test::WriteFile(TerminalDir(1) + "/LOCKS.TMP", content);
    Terminal(1);
    const LockIdentity id = CurrentLockIdentity();
    EXPECT_NE(id.number, 0) << "content size " << content.size();
    const std::string written = test::ReadFile(TerminalDir(1) + "/LOCKS.TMP");
    EXPECT_EQ(written.size(), 19u) << "content size " << content.size();
    EXPECT_EQ(written.substr(4), id.host);
  }
}

TEST_F(LockTest, BusyIdentityFileIsWaitedFor) {
  OpenResult result;
  auto held = PosixOs().OpenFile(TerminalDir(1) + "/LOCKS.TMP", true, false,
                                 Sharing::kExclusive, &result);
  ASSERT_TRUE(held);
  os_.onSleep = [&] { held.reset(); };
  Terminal(1);
  EXPECT_NE(CurrentLockIdentity().number, 0);
  ASSERT_EQ(os_.sleeps.size(), 1u);
  EXPECT_GE(os_.sleeps[0], 1);
  EXPECT_LE(os_.sleeps[0], 3000);
  EXPECT_EQ(test::ReadFile(TerminalDir(1) + "/LOCKS.TMP").size(), 19u);
}

TEST_F(LockTest, MissingWorkingDirectoryGivesAnIdentityForThisProcessOnly) {
  CurrentSession().WorkDir = root_.file("nowhere") + "\\";
  ASSERT_EQ(LockRecord("X", "1"), 0);
  EXPECT_NE(CurrentLockIdentity().number, 0);
  EXPECT_FALSE(test::FileExists(root_.file("nowhere")));
  EXPECT_EQ(UnlockRecord("X"), 0);
}

TEST_F(LockTest, SameHundredthInTwoTerminalsStillGivesTwoNumbers) {
  // Every terminal starts at the same hundredth of the same minute here.
  std::vector<int32_t> numbers;
  for (int n = 1; n <= 20; ++n) {
    Terminal(n);
    numbers.push_back(CurrentLockIdentity().number);
  }
  std::sort(numbers.begin(), numbers.end());
  EXPECT_EQ(std::adjacent_find(numbers.begin(), numbers.end()), numbers.end());
}

}  // namespace
}  // namespace kap::locktest
