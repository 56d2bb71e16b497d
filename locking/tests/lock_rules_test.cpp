// Conflict rules, renewal, expiry, reuse and release, with terminals switched in one process
// (each terminal is its own working directory, hence its own identity) on real lock files.
#include <filesystem>

#include "locking/tests/lock_fixture.h"

namespace kap::locktest {
namespace {

// Terminal 2 holds [heldFrom, heldTo]; terminal 1 asks for [from, to] without waiting.
TEST_F(LockTest, KeyRangesConflictOnlyWhenTheyOverlap) {
  struct Case {
    std::string heldFrom, heldTo, from, to;
    bool blocked;
  } cases[] = {
      {"0134", "0134", "0134", "0134", true},
      {"0134", "0134", "0135", "0135", false},
      {"0134", "0134", "0133", "0133", false},
      {"0100", "0199", "0150", "0150", true},
      {"0100", "0199", "0200", "0200", false},
      {"0100", "0199", "0099", "0099", false},
      {"0150", "0150", "0100", "0300", true},
      {"0100", "0199", "0199", "0250", true},
      // Only the shorter length is compared: a short key covers every key it begins.
      {"01", "01", "0134", "0134", true},
      {"01", "01", "0234", "0234", false},
      {"0134", "0134", "01", "01", true},
      // Bytes compare unsigned.
      {"A", "\xF0", "Z", "Z", true},
      {"\xF0", "\xF0", "Z", "Z", false},
  };
  LockWaitMode() = "S";
  for (const Case& c : cases) {
    std::filesystem::remove_all(root_.file("LOCKS"));
    Terminal(2);
    ASSERT_EQ(LockRange("R", "K", c.heldFrom, c.heldTo), 0);
    Terminal(1);
    EXPECT_EQ(LockRange("R", "K", c.from, c.to), c.blocked ? -1 : 0)
        << c.heldFrom << ".." << c.heldTo << " held, " << c.from << ".." << c.to << " asked";
    EXPECT_EQ(Entries("R.lck").size(), c.blocked ? 1u : 2u);
  }
  EXPECT_TRUE(shown_.empty());  // mode "S" neither waits nor tells
  EXPECT_TRUE(os_.sleeps.empty());
}

TEST_F(LockTest, SameTerminalRenewsItsEntryInPlace) {
  ASSERT_EQ(LockRecord("PropietV", "\x81\xA2"), 0);
  os_.minutes += 5;
  ASSERT_EQ(LockRecord("PropietV", "\x81\xA2"), 0);
  std::vector<LockEntry> entries = Entries("PROPIETV.lck");
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].TimeValue(), kStartMinutes + 5);

  // An overlapping range of the same terminal is renewed with the new range.
  ASSERT_EQ(LockRange("PropietV", "K", "0100", "0199"), 0);
  entries = Entries("PROPIETV.lck");
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].fromKey.substr(0, 4), "0100");

  // Another program of the same working directory is the same terminal.
  Terminal(1);
  ASSERT_EQ(LockRecord("PropietV", "\x81\xA2"), 0);
  EXPECT_EQ(Entries("PROPIETV.lck").size(), 1u);
}

TEST_F(LockTest, FileLockBlocksOtherTerminalsOnlyAndIsRenewed) {
  Terminal(2);
  ASSERT_EQ(LockRange("F", "F", "", ""), 0);
  ASSERT_EQ(LockRange("F", "K", "0001", "0001"), 0);  // no obstacle to its own terminal
  ASSERT_EQ(LockRange("F", "f", "", ""), 0);          // renewed, not added
  EXPECT_EQ(Entries("F.lck").size(), 2u);
  Terminal(1);
  LockWaitMode() = "S";
  EXPECT_EQ(LockRange("F", "K", "9999", "9999"), -1);
  EXPECT_EQ(LockRange("F", "F", "", ""), -1);

  // A key entry of another terminal blocks a file lock, whatever its range.
  Terminal(2);
  ASSERT_EQ(LockRange("G", "K", "0001", "0001"), 0);
  Terminal(1);
  EXPECT_EQ(LockRange("G", "F", "", ""), -1);
}

TEST_F(LockTest, WrongLockTypeIsRefusedWithoutTouchingTheFile) {
  for (const char* type : {"X", "", "KF", " "}) {
    EXPECT_EQ(LockRange("T", type, "1", "1"), -1) << "type '" << type << "'";
  }
  EXPECT_FALSE(test::FileExists(LockPath("T.lck")));
}

TEST_F(LockTest, EntriesOlderThanThirtyMinutesAreClearedAndTheirSlotReused) {
  Terminal(2);
  ASSERT_EQ(LockRecord("PropietV", "\x81\xA2"), 0);
  Terminal(1);
  LockWaitMode() = "S";
  os_.minutes += 30;  // exactly 30 minutes old: still held
  EXPECT_EQ(LockRecord("PropietV", "\x81\xA2"), -1);
  os_.minutes += 1;
  ASSERT_EQ(LockRecord("PropietV", "\x81\xA2"), 0);
  const std::vector<LockEntry> entries = Entries("PROPIETV.lck");
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].number, Number() + std::string(11 - Number().size(), ' '));
  EXPECT_EQ(entries[0].TimeValue(), kStartMinutes + 31);
}

TEST_F(LockTest, UnlockReleasesTheNewestEntryAndTheLastFreeSlotIsReused) {
  Terminal(2);
  for (const std::string key : {"0001", "0002", "0003"}) {
    ASSERT_EQ(LockRange("E", "K", key, key), 0);
    os_.minutes += 1;
  }
  ASSERT_EQ(UnlockRecord("e"), 0);  // 0003, the newest
  std::vector<LockEntry> entries = Entries("E.lck");
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_FALSE(entries[0].Free());
  EXPECT_FALSE(entries[1].Free());
  EXPECT_TRUE(entries[2].Free());
  EXPECT_TRUE(entries[2].NumberBlank());
  EXPECT_EQ(entries[2].fromKey.substr(0, 4), "0003");  // only host, number and type go
  ASSERT_EQ(UnlockRecord(" E "), 0);  // then 0002

  Terminal(1);
  ASSERT_EQ(LockRange("E", "K", "0009", "0009"), 0);
  entries = Entries("E.lck");
  ASSERT_EQ(entries.size(), 3u);  // freed entries are used before the file grows
  EXPECT_TRUE(entries[1].Free());
  EXPECT_EQ(entries[2].fromKey.substr(0, 4), "0009");
  EXPECT_EQ(UnlockRecord("E"), 0);
  EXPECT_EQ(UnlockRecord("E"), -1);  // terminal 1 holds nothing more there
  const std::string before = Bytes("E.lck");
  EXPECT_EQ(UnlockRecord("E"), -1);
  EXPECT_EQ(Bytes("E.lck"), before);
}

TEST_F(LockTest, UnlockOnEqualTimesReleasesTheLaterEntry) {
  ASSERT_EQ(LockRange("E", "K", "0005", "0005"), 0);
  ASSERT_EQ(LockRange("E", "K", "0006", "0006"), 0);
  ASSERT_EQ(UnlockRecord("E"), 0);
  const std::vector<LockEntry> entries = Entries("E.lck");
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_FALSE(entries[0].Free());
  EXPECT_TRUE(entries[1].Free());
}

TEST_F(LockTest, EverySpellingOfTheNameReachesOneFile) {
  // Made by the unlock (upper-cased name), found by the lock; and the other way round.
  EXPECT_EQ(UnlockRecord("FinquesV"), -1);
  ASSERT_EQ(LockRecord("FinquesV", "\x81\x81"), 0);
  ASSERT_EQ(LockRecord("PropietV  ", "\x81\x81"), 0);
  EXPECT_EQ(UnlockRecord(" propietv"), 0);
  EXPECT_EQ(UnlockRecord("finquesv"), 0);
  // A file another program made in its own spelling is the one used.
  test::WriteFile(LockPath("UPaisos.lck"), "");
  ASSERT_EQ(LockRecord("UPAISOS", "ES"), 0);
  EXPECT_EQ(UnlockRecord("upaisos"), 0);
  std::vector<std::string> names;
  for (const auto& f : std::filesystem::directory_iterator(root_.file("LOCKS"))) {
    names.push_back(f.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"FINQUESV.lck", "PROPIETV.lck", "UPaisos.lck"}));
  EXPECT_EQ(Entries("UPaisos.lck").size(), 1u);
}

TEST_F(LockTest, MissingLocksDirectoryIsCreated) {
  ASSERT_FALSE(test::FileExists(root_.file("LOCKS")));
  ASSERT_EQ(LockRecord("PropietV", "\x81\xA2"), 0);
  EXPECT_EQ(Entries("PROPIETV.lck").size(), 1u);
}

TEST_F(LockTest, DamagedEntriesNeitherCrashNorBlockForEver) {
  test::MakeDirs(root_.file("LOCKS"));
  const std::string fresh = std::to_string(kStartMinutes);
  auto entry = [](const std::string& number, const std::string& time, char type,
                  const std::string& len, const std::string& key) {
    LockEntry e;
    e.host = "OTHER";
    e.number = number;
    e.time = time;
    e.type = type;
    e.fromLength = e.toLength = len;
    e.fromKey = e.toKey = key;
    e.lineEnd = "\r\n";
    return e.Bytes();
  };
  struct Case {
    const char* what;
    std::string bytes;
    bool blocksNow;        // blocks a lock of 0134 at once
    bool blocksLater;      // still blocks 31 minutes later
  } cases[] = {
      {"garbage time", entry("77", "zz", 'K', "4", "0134"), false, false},
      {"garbage number", entry("x7", fresh, 'K', "4", "0134"), true, false},
      {"blank number", entry("", fresh, 'K', "4", "0134"), true, false},
      {"garbage lengths cover everything", entry("77", fresh, 'K', "zz", "9999"), true, false},
      {"lengths over 40", entry("77", fresh, 'K', "99", "0134"), true, false},
      {"all zero bytes", std::string(121, '\0'), false, false},
      {"unknown type", entry("77", fresh, 'Q', "4", "0134"), false, false},
  };
  LockWaitMode() = "S";
  for (const Case& c : cases) {
    os_.minutes = kStartMinutes;
    test::WriteFile(LockPath("D.lck"), c.bytes);
    Terminal(1);
    EXPECT_EQ(LockRecord("D", "\x81\xA2"), c.blocksNow ? -1 : 0) << c.what;
    if (!c.blocksNow) {
      EXPECT_EQ(UnlockRecord("D"), 0) << c.what;
      continue;
    }
    os_.minutes += 31;
    EXPECT_EQ(LockRecord("D", "\x81\xA2"), c.blocksLater ? -1 : 0) << c.what;
    EXPECT_EQ(Bytes("D.lck").size(), 121u) << c.what << ": the slot is reused";
  }
}

TEST_F(LockTest, CutShortFileIsMendedByTheNextEntry) {
  Terminal(2);
  ASSERT_EQ(LockRecord("C", "\x81\xA2"), 0);
  // A piece of an entry at the end, as a failed write of another program would leave.
  test::WriteFile(LockPath("C.lck"), Bytes("C.lck") + std::string(50, 'z'));
  Terminal(1);
  ASSERT_EQ(LockRecord("C", "\x81\xA3"), 0);
  const std::string bytes = Bytes("C.lck");
  ASSERT_EQ(bytes.size(), 242u);
  EXPECT_EQ(bytes.substr(119, 2), "\r\n");
  EXPECT_EQ(bytes.substr(240, 2), "\r\n");
  EXPECT_EQ(Entries("C.lck")[1].fromKey.substr(0, 4), "0135");
  // The cut-short piece alone is no entry: nothing to release, nothing blocked.
  test::WriteFile(LockPath("S.lck"), std::string(120, 'z'));
  EXPECT_EQ(UnlockRecord("S"), -1);
  EXPECT_EQ(LockRecord("S", "1"), 0);
  EXPECT_EQ(Bytes("S.lck").size(), 121u);
}

TEST_F(LockTest, WaitShowsTheMessageOnceAndTakesTheLockWhenTheEntryExpires) {
  Terminal(2);
  ASSERT_EQ(LockRecord("PropietV", "\x81\xA2"), 0);
  Terminal(1);
  os_.minutesPerSleep = 1;
  ASSERT_EQ(LockRecord("PropietV", "\x81\xA2"), 0);
  EXPECT_EQ(shown_, (std::vector<std::string>{"FITXER BLOQUEJAT. ESPEREU UN MOMENT."}));
  EXPECT_EQ(hidden_, 1);
  ASSERT_EQ(os_.sleeps.size(), 31u);
  for (int ms : os_.sleeps) {
    EXPECT_GE(ms, 1);
    EXPECT_LE(ms, 1001);
  }
  EXPECT_EQ(Entries("PROPIETV.lck").size(), 1u);
}

TEST_F(LockTest, WaitingMessageSpeaksTheSessionLanguage) {
  struct Case {
    std::string language;
    bool esc;
    std::string text;
  } cases[] = {
      {"SPA", false, "FICHERO BLOQUEADO. ESPERE UN MOMENTO."},
      {"SPA", true, "FICHERO BLOQUEADO. ESPERE UN MOMENTO O PULSE [ESC] PARA SALIR."},
      {"GLG", true, "FICHEIRO BLOQUEADO. ESPERE UM MOMENTO OU PULSE [ESC] PARA SAIR."},
      {"OCI", true, "FICH\xD4R BLOQUEJAT. ESPERATZ UN MOMENT O POSSATZ [ESC] ENT\xB7 G\xD4SSER."},
      {"OCI", false, "FICH\xD4R BLOQUEJAT. ESPERATZ UN MOMENT."},
      {"CAT", true, "FITXER BLOQUEJAT. ESPEREU UN MOMENT O POLSEU [ESC] PER A EIXIR."},
      {"   ", false, "FITXER BLOQUEJAT. ESPEREU UN MOMENT."},
      {"ENG", false, "FITXER BLOQUEJAT. ESPEREU UN MOMENT."},
  };
  for (const Case& c : cases) {
    CurrentSession().Language = c.language;
    EXPECT_EQ(LockWaitText(c.esc), c.text) << c.language << (c.esc ? " with Esc" : "");
  }
}

TEST_F(LockTest, ClearStaleEntriesCountsWhatItClears) {
  EXPECT_EQ(ClearStaleLockEntries("None"), -1);
  Terminal(2);
  ASSERT_EQ(LockRecord("PropietV", "\x81\xA2"), 0);
  os_.minutes += 20;
  ASSERT_EQ(LockRecord("PropietV", "\x81\xA3"), 0);
  os_.minutes += 15;
  Terminal(1);
  EXPECT_EQ(ClearStaleLockEntries("propietv"), 1);
  EXPECT_EQ(ClearStaleLockEntries("propietv"), 0);
  std::vector<LockEntry> entries;
  ASSERT_TRUE(ReadLockEntries("PropietV", &entries));
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_TRUE(entries[0].Free());
  EXPECT_FALSE(entries[1].Free());
}

}  // namespace
}  // namespace kap::locktest
