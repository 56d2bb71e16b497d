// Conflict rules, renewal, expiry, reuse, release and damaged files, with terminals switched
// in one process on real lock files.
#include <filesystem>

#include "formengine/screen.h"
#include "locking/tests/lock_fixture.h"
#include "platform/console.h"

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
      {"0150", "0150", "0100", "0300", true},
      {"0100", "0199", "0199", "0250", true},
      // Only the shorter length is compared: a short key covers every key it begins.
      {"01", "01", "0134", "0134", true},
      {"01", "01", "0234", "0234", false},
      {"A", "\xF0", "Z", "Z", true},  // bytes compare unsigned
  };
  LockWaitMode() = "S";
  for (const Case& c : cases) {
    // Only the lock file: the folder also holds the liveness file this process keeps open.
    std::filesystem::remove(root_.file("LOCKS/R.lck"));
    Terminal(2);
    ASSERT_EQ(LockRange("R", "K", c.heldFrom, c.heldTo), 0);
    Terminal(1);
    EXPECT_EQ(LockRange("R", "K", c.from, c.to), c.blocked ? -1 : 0)
        << c.heldFrom << ".." << c.heldTo << " held, " << c.from << ".." << c.to << " asked";
  }
  EXPECT_TRUE(shown_.empty());  // mode "S" neither waits nor tells
  EXPECT_TRUE(os_.sleeps.empty());
}

TEST_F(LockTest, SameTerminalRenewsInPlaceAndFileLocksBlockOnlyOthers) {
  ASSERT_EQ(LockRecord("PropietV", "\x81\xA2"), 0);
  os_.minutes += 5;
  Terminal(1);  // another program of the same working directory is the same terminal
  ASSERT_EQ(LockRange("PropietV", "K", "0100", "0199"), 0);
  std::vector<LockEntry> entries = Entries("PROPIETV.lck");
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].TimeValue(), kStartMinutes + 5);
  EXPECT_EQ(Key(entries[0]), "0100");

  Terminal(2);
  ASSERT_EQ(LockRange("F", "F", "", ""), 0);
  ASSERT_EQ(LockRange("F", "K", "0001", "0001"), 0);  // no obstacle to its own terminal
  ASSERT_EQ(LockRange("F", "f", "", ""), 0);          // renewed, not added
  EXPECT_EQ(Entries("F.lck").size(), 2u);
  Terminal(1);
  LockWaitMode() = "S";
  EXPECT_EQ(LockRange("F", "K", "9999", "9999"), -1);
  EXPECT_EQ(LockRange("PropietV", "F", "", ""), 0);  // its own key lock is no obstacle
  Terminal(2);
  EXPECT_EQ(LockRange("PropietV", "F", "", ""), -1);  // another terminal's is
  for (const char* type : {"X", "", "KF"}) EXPECT_EQ(LockRange("T", type, "1", "1"), -1);
  EXPECT_FALSE(test::FileExists(LockPath("T.lck")));
}

TEST_F(LockTest, StaleEntriesAreReusedAndUnlockReleasesTheNewest) {
  Terminal(2);
  for (const char* key : {"0001", "0002", "0003", "0004"}) {
    ASSERT_EQ(LockRange("E", "K", key, key), 0);
    if (os_.minutes < kStartMinutes + 2) os_.minutes += 1;  // 0003 and 0004: the same time
  }
  ASSERT_EQ(UnlockRecord("e"), 0);  // 0004: the same time as 0003, but later in the file
  EXPECT_TRUE(!Entries("E.lck")[2].Free() && Entries("E.lck")[3].Free());
  ASSERT_EQ(UnlockRecord(" E "), 0);  // then 0003
  std::vector<LockEntry> entries = Entries("E.lck");
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_TRUE(!entries[1].Free() && entries[2].Free() && entries[3].Free());
  EXPECT_EQ(Key(entries[3]), "0004");  // only host, number and type are cleared

  Terminal(1);
  ASSERT_EQ(LockRange("E", "K", "0009", "0009"), 0);
  EXPECT_EQ(Key(Entries("E.lck")[3]), "0009");  // the last free entry is reused
  LockWaitMode() = "S";
  os_.minutes = kStartMinutes + 30;  // 0001 exactly 30 minutes old: still held
  EXPECT_EQ(LockRange("E", "K", "0001", "0001"), -1);
  os_.minutes += 1;
  ASSERT_EQ(LockRange("E", "K", "0001", "0001"), 0);
  entries = Entries("E.lck");
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_TRUE(entries[0].Free());  // cleared; the new entry went to the last free one
  EXPECT_EQ(Key(entries[2]), "0001");
  EXPECT_EQ(entries[2].TimeValue(), kStartMinutes + 31);
  EXPECT_EQ(entries[2].number, PadOrCut(std::to_string(CurrentLockIdentity().number), 11));

  EXPECT_EQ(UnlockRecord("E"), 0);
  EXPECT_EQ(UnlockRecord("E"), 0);
  const std::string before = Bytes("E.lck");
  EXPECT_EQ(UnlockRecord("E"), -1);  // terminal 1 holds nothing more there
  EXPECT_EQ(Bytes("E.lck"), before);
}

TEST_F(LockTest, EverySpellingOfTheNameReachesOneFile) {
  ASSERT_TRUE(test::LockFileNames(root_.path()).empty());
  EXPECT_EQ(UnlockRecord("FinquesV"), -1);  // makes the directory and the file
  ASSERT_EQ(LockRecord("FinquesV", "\x81\x81"), 0);
  ASSERT_EQ(LockRecord("PropietV  ", "\x81\x81"), 0);
  EXPECT_EQ(UnlockRecord(" propietv"), 0);
  EXPECT_EQ(UnlockRecord("finquesv"), 0);
  WriteLockFile("UPaisos.lck", "");  // made by another program in its spelling
  ASSERT_EQ(LockRecord("UPAISOS", "ES"), 0);
  EXPECT_EQ(UnlockRecord("upaisos"), 0);
  // ALIVE.TMP carries the marks of the living holders. The server keeps every name in one
  // spelling; the disk keeps the other program's.
  const bool server = !RecordServerConnection().empty();
  EXPECT_EQ(test::LockFileNames(root_.path()),
            (std::vector<std::string>{"ALIVE.TMP", server ? "FINQUESV.LCK" : "FINQUESV.lck",
                                      server ? "PROPIETV.LCK" : "PROPIETV.lck",
                                      server ? "UPAISOS.LCK" : "UPaisos.lck"}));
  EXPECT_EQ(Entries("UPaisos.lck").size(), 1u);
}

TEST_F(LockTest, DamagedFilesNeitherCrashNorBlockForEver) {
  test::MakeDirs(root_.file("LOCKS"));
  const std::string fresh = std::to_string(kStartMinutes);
  auto entry = [](const std::string& number, const std::string& time, char type,
                  const std::string& len, const std::string& key) {
    return PadOrCut("OTHER", 15) + PadOrCut(number, 11) + PadOrCut(time, 8) + type +
           PadOrCut(len, 2) + PadOrCut(key, 40) + PadOrCut(len, 2) + PadOrCut(key, 40) + "\r\n";
  };
  struct Case {
    const char* what;
    std::string bytes;
    bool blocks;  // blocks a lock of 0134 until it is 31 minutes old
    size_t size;  // of the file after the lock; this terminal's entry is its last 121 bytes
    // On the server terminal 77 is known to be dead on every computer: its entries go at once.
    bool blocksOnServer;
    size_t sizeOnServer;
    size_t oursOnServer;  // where this terminal's entry is
  } cases[] = {
      {"garbage time", entry("77", "zz", 'K', "4", "0134"), false, 121, false, 121, 0},
      {"time over a day ahead", entry("77", std::to_string(kStartMinutes + 1441), 'K', "4", "0134"),
       false, 121, false, 121, 0},
      {"garbage number", entry("x7", fresh, 'K', "4", "0134"), true, 121, true, 121, 0},
      {"blank number", entry("", fresh, 'K', "4", "0134"), true, 121, true, 121, 0},
      {"garbage lengths cover all", entry("77", fresh, 'K', "zz", "9999"), true, 121, false, 121,
       0},
      {"lengths over 40", entry("77", fresh, 'K', "99", "0134"), true, 121, false, 121, 0},
      {"zero bytes", std::string(121, '\0'), false, 121, false, 121, 0},
      {"unknown type", entry("77", fresh, 'Q', "4", "0134"), false, 242, false, 121, 0},
      {"cut-short piece", std::string(120, 'z'), false, 121, false, 121, 0},
      {"entry and a piece", entry("77", fresh, 'K', "4", "0135") + "zzzz", false, 242, false, 125,
       0},
  };
  LockWaitMode() = "S";
  const bool server = !RecordServerConnection().empty();
  for (const Case& c : cases) {
    const bool blocks = server ? c.blocksOnServer : c.blocks;
    const size_t size = server ? c.sizeOnServer : c.size;
    const size_t ours = server ? c.oursOnServer : c.size - 121;
    os_.minutes = kStartMinutes;
    WriteLockFile("D.lck", c.bytes);
    Terminal(1);
    EXPECT_EQ(LockRecord("D", "\x81\xA2"), blocks ? -1 : 0) << c.what;
    os_.minutes += 31;
    if (blocks) {
      EXPECT_EQ(LockRecord("D", "\x81\xA2"), 0) << c.what;
    }
    const std::string bytes = Bytes("D.lck");
    ASSERT_EQ(bytes.size(), size) << c.what;
    EXPECT_EQ(bytes.substr(ours, 4), PadOrCut(ComputerName(), 4)) << c.what;
    EXPECT_EQ(bytes.substr(ours + 119, 2), "\r\n") << c.what;
    EXPECT_EQ(UnlockRecord("D"), 0) << c.what;
  }
}

TEST_F(LockTest, WaitTellsOnceInTheSessionLanguageAndEndsWhenTheEntryExpires) {
  Terminal(2);
  ASSERT_EQ(LockRecord("PropietV", "\x81\xA2"), 0);
  Terminal(1);
  os_.minutesPerSleep = 1;
  ASSERT_EQ(LockRecord("PropietV", "\x81\xA2"), 0);
  EXPECT_EQ(shown_, (std::vector<std::string>{"FITXER BLOQUEJAT. ESPEREU UN MOMENT."}));
  EXPECT_EQ(hidden_, 1);
  ASSERT_EQ(os_.sleeps.size(), 31u);
  for (int ms : os_.sleeps) EXPECT_TRUE(ms >= 1 && ms <= 1001) << ms;

  struct Case {
    std::string language;
    bool esc;
    std::string text;
  } cases[] = {
      {"SPA", true, "FICHERO BLOQUEADO. ESPERE UN MOMENTO O PULSE [ESC] PARA SALIR."},
      {"GLG", true, "FICHEIRO BLOQUEADO. ESPERE UM MOMENTO OU PULSE [ESC] PARA SAIR."},
      {"OCI", true, "FICH\xD4R BLOQUEJAT. ESPERATZ UN MOMENT O POSSATZ [ESC] ENT\xB7 G\xD4SSER."},
      {"OCI", false, "FICH\xD4R BLOQUEJAT. ESPERATZ UN MOMENT."},
      {"CAT", true, "FITXER BLOQUEJAT. ESPEREU UN MOMENT O POLSEU [ESC] PER A EIXIR."},
      {"ENG", false, "FITXER BLOQUEJAT. ESPEREU UN MOMENT."},
  };
  for (const Case& c : cases) {
    CurrentSession().Language = c.language;
    EXPECT_EQ(LockWaitText(c.esc), c.text) << c.language << (c.esc ? " with Esc" : "");
  }
}

// Fails the Nth read or write of an open file (counting from 1) once.
class FailingFile : public File {
 public:
  FailingFile(std::unique_ptr<File> f, int* calls, int failAt)
      : f_(std::move(f)), calls_(calls), failAt_(failAt) {}
  bool ReadAt(int64_t o, size_t n, std::string* out) override {
    return ++*calls_ != failAt_ && f_->ReadAt(o, n, out);
  }
  bool WriteAt(int64_t o, const std::string& b) override {
    return ++*calls_ != failAt_ && f_->WriteAt(o, b);
  }
  int64_t Size() override { return f_->Size(); }
  bool Truncate(int64_t s) override { return f_->Truncate(s); }

 private:
  std::unique_ptr<File> f_;
  int* calls_;
  int failAt_;
};

TEST_F(LockTest, UnusableLockFileIsToldInTheSessionLanguageWhileTheAttemptsGoOn) {
  // A folder where the lock file should be: it cannot be opened as a file.
  test::MakeDirs(root_.file("LOCKS/PROPIETV.lck"));
#ifdef _WIN32
  const std::string path =
      root_.file("LOCKS") + "\\PropietV.lck";  // the name as the suite writes it
#else
  const std::string path = root_.file("LOCKS/PROPIETV.lck");  // the name as found on disk
#endif
  struct Case {
    const char* language;
    std::string text;
  } cases[] = {
      {"CAT", "NO ES POT FER SERVIR " + path +
                  ": NO \x90S UN FITXER. TORNANT-HO A PROVAR O POLSEU [ESC] PER A EIXIR."},
      {"SPA",
       "NO SE PUEDE USAR " + path + ": NO ES UN FICHERO. REINTENTANDO O PULSE [ESC] PARA SALIR."},
      {"GLG", "NON SE PODE USAR " + path +
                  ": NON \x90 UN FICHEIRO. REINTENTANDO OU PULSE [ESC] PARA SAIR."},
      {"OCI", "NON SE POT UTILIZAR " + path +
                  ": NON \x90S UN FICH\xD4R. TORNAM A ASSAJAR O "
                  "POSSATZ [ESC] ENT\xB7 G\xD4SSER."},
  };
  ResetScreenState();
  MemoryConsole console;
  SetConsole(&console);
  for (const Case& c : cases) {
    CurrentSession().Language = c.language;
    Terminal(1);
    shown_.clear();
    os_.sleeps.clear();
    // Mode "P": told once, tried again, and Esc gives up.
    os_.onSleep = [&] { console.PushKey(os_.sleeps.size() < 3 ? 'a' : key::kEsc); };
    LockWaitMode() = "P";
    EXPECT_EQ(LockRecord("PropietV", "\x81\xA2"), -1) << c.language;
    EXPECT_EQ(os_.sleeps.size(), 3u) << c.language;
    ASSERT_EQ(shown_.size(), 1u) << c.language;
    EXPECT_EQ(shown_[0], c.text) << c.language;
  }
  // Any other mode: no Esc, the attempts go on until the file can be used.
  LockWaitMode() = "";
  os_.sleeps.clear();
  os_.onSleep = [&] {
    console.PushKey(key::kEsc);
    if (os_.sleeps.size() == 5) std::filesystem::remove(path);
  };
  EXPECT_EQ(LockRecord("PropietV", "\x81\xA2"), 0);
  EXPECT_EQ(os_.sleeps.size(), 5u);
  EXPECT_EQ(UnlockRecord("PropietV"), 0);
  SetConsole(nullptr);
  ResetScreenState();
}

TEST_F(LockTest, FailedReadsAndWritesAreRetriedOrReported) {
  Terminal(2);
  os_.minutes -= 40;
  ASSERT_EQ(LockRecord("PropietV", "\x81\xA3"), 0);  // a stale entry: one more write to fail
  os_.minutes += 40;
  Terminal(1);
  class FailingOs : public OsWrapper {
   public:
    explicit FailingOs(Os* os) : OsWrapper(os) {}
    int calls = 0, failAt = 0;
    std::unique_ptr<File> OpenFile(const std::string& p, bool c, bool r, Sharing s,
                                   OpenResult* res) override {
      auto f = OsWrapper::OpenFile(p, c, r, s, res);
      return f ? std::make_unique<FailingFile>(std::move(f), &calls, failAt) : nullptr;
    }
    std::unique_ptr<File> AdoptFile(std::unique_ptr<File> f) override {  // on the server
      f = OsWrapper::AdoptFile(std::move(f));
      return f ? std::make_unique<FailingFile>(std::move(f), &calls, failAt) : nullptr;
    }
  } failing(&os_);
  CurrentLockIdentity();
  SetOs(&failing);
  // Calls: read, clear the stale entry (harmless when it fails: ours goes over it), write
  // ours; then the unlock's read and clear.
  for (int n = 1; n <= 4; ++n) {
    failing.calls = 0;
    failing.failAt = n;
    os_.sleeps.clear();
    ASSERT_EQ(LockRecord("PropietV", "\x81\xA2"), 0) << "call " << n;
    EXPECT_EQ(os_.sleeps.size(), n == 1 || n == 3 ? 1u : 0u) << "call " << n;
    const std::vector<LockEntry> entries = Entries("PROPIETV.lck");
    ASSERT_EQ(entries.size(), 1u) << "call " << n;
    EXPECT_EQ(Key(entries[0]), "0134") << "call " << n;
    EXPECT_EQ(UnlockRecord("PropietV"), n == 4 ? -1 : 0) << "call " << n;  // reported
    if (n == 4) {
      EXPECT_EQ(UnlockRecord("PropietV"), 0);
    }
    // Stale again for the next round.
    std::string bytes = Bytes("PROPIETV.lck");
    bytes.replace(0, 35, PadOrCut("OTHER", 15) + PadOrCut("5", 11) + PadOrCut("1", 8) + "K");
    WriteLockFile("PROPIETV.lck", bytes);
  }
  SetOs(nullptr);
}

}  // namespace
}  // namespace kap::locktest
