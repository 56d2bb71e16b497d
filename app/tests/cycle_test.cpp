// The removal cycle in-process on the in-memory console, with the demo's form file and real
// data files: the paths the terminal tests cannot time, an owner that vanishes after the key
// form and an estate that cannot be rewritten.
#include <sys/stat.h>

#include "app/tests/owner_fixture.h"

namespace kap::test {
namespace {

class CycleTest : public OwnerTest {
 protected:
  void SetUp() override {
    OwnerTest::SetUp();
    MakeDirs(dir.file("FORMS"));
    WriteFile(dir.file("FORMS/VOWNMAIN.JPN"),
              Utf8ToCp850(ReadFile(SourcePath("demo/forms/VOWNMAIN.JPN"))));
    FormFileError error;
    ASSERT_EQ(LoadFormFile(error), 0) << error.Text();
    AddCountry("ES", "UE");
    AddEstate("0012", "0007");
    AddEstate("0013", "0007");
    AddEstate("0014", "0020");
    AddOwner("0007", "PERE PUIG I FERRER", {{1, "0012"}, {2, "0013"}});
    AddOwner("0020", "ANNA SOLER", {{5, "0014"}});
    AddOwner("0030", "SENSE FINQUES");
    std::remove(dir.file("db.log").c_str());  // the inserts above are not the cycle's doing
  }

  // The text of the one-line message box on row 12.
  std::string Box() {
    std::string row = console.RowText(10);
    size_t first = row.find_first_not_of(" \xB3");
    size_t last = row.find_last_not_of(" \xB3");
    return first == std::string::npos ? "" : row.substr(first, last - first + 1);
  }

  // Owner `code` on the key form, then "S" on the confirmation.
  void Confirm(KeyFeeder& feeder, const std::string& code) {
    feeder.Text(code);
    feeder.Key(key::kEnter);
    feeder.Key('S', [this] { shown = console.ScreenText(); });
    feeder.Key(key::kEnter);
  }

  std::string shown;
};

TEST_F(CycleTest, OwnerWithoutEstatesIsDeletedAfterTwentyEmptyRounds) {
  KeyFeeder feeder(console);
  Confirm(feeder, "0030");
  feeder.Key(key::kEsc);
  RunOwnerCycle();
  EXPECT_TRUE(feeder.Done());
  EXPECT_NE(shown.find("SENSE FINQUES"), std::string::npos) << shown;
  EXPECT_FALSE(OwnerExists("0030"));
  EXPECT_EQ(FieldValue(1, 1), "    ") << "the removed owner's code is not left to type over";
  EXPECT_TRUE(OwnerExists("0007"));
  EXPECT_TRUE(LogLines().empty()) << "no estate was found, so none was written";
  EXPECT_EQ(HeldLocks("PropietV"), 0);
  EXPECT_EQ(HeldLocks("FinquesV"), 0);
}

TEST_F(CycleTest, EstateHandedToAnotherOwnerSinceIsLeftToIt) {
  AddOwner("0040", "ANTIC PROPIETARI", {{1, "0014"}});
  std::remove(dir.file("db.log").c_str());
  KeyFeeder feeder(console);
  Confirm(feeder, "0040");
  feeder.Key(key::kEsc);
  RunOwnerCycle();
  EXPECT_FALSE(OwnerExists("0040"));
  EXPECT_EQ(EstateOwner("0014"), "0020");
  EXPECT_TRUE(LogLines().empty());
}

// The key form found and locked the owner; another terminal deletes it before the cycle reads
// it again.
class OwnerVanishes : public OwnerHooks {
 public:
  int16_t CheckLeave(int16_t form, int16_t key) override {
    int16_t result = OwnerHooks::CheckLeave(form, key);
    if (form == 1 && result == 0 && key != key::kEsc) {
      int16_t status = 0;
      DeleteRecord(kOwnersFile, status);
      EXPECT_EQ(status, 0);
    }
    return result;
  }
};

TEST_F(CycleTest, OwnerDeletedMeanwhileIsReportedAndNeverWrittenAgain) {
  OwnerVanishes hooks;
  SetFormHooks(&hooks);
  KeyFeeder feeder(console);
  std::string message;
  feeder.Text("0007");
  feeder.Key(key::kEnter);
  feeder.Key(key::kEnter, [&] { message = Box(); });
  feeder.Key(key::kEsc);
  RunOwnerCycle();
  EXPECT_TRUE(feeder.Done());
  EXPECT_EQ(message, "PROPIETARI INEXISTENT");
  EXPECT_FALSE(OwnerExists("0007"));
  EXPECT_TRUE(LogLines().empty()) << "no owner record was inserted";
  EXPECT_EQ(EstateOwner("0012"), "0007");
  EXPECT_EQ(HeldLocks("PropietV"), 0);
}

// Releases the file `release` once the record manager's waiting message is on the screen.
class ReleaseWhenWaiting : public OsWrapper {
 public:
  ReleaseWhenWaiting(MemoryConsole& console, std::string release)
      : OsWrapper(&PosixOs()), console_(console), release_(std::move(release)) {}
  void SleepMs(int ms) override {
    for (int row = 20; seen_.empty() && row <= console_.Rows(); ++row) {
      if (console_.RowText(row).find("FITXER BLOQUEJAT. ESPEREU UN MOMENT.") != std::string::npos) {
        seen_ = console_.RowText(row);
        WriteFile(release_, "1");
      }
    }
    OsWrapper::SleepMs(std::min(ms, 200));
  }
  const std::string& seen() const { return seen_; }

 private:
  MemoryConsole& console_;
  std::string release_;
  std::string seen_;
};

TEST_F(CycleTest, EstateChangedWhileTheRemovalWaitsIsReadAgainAndReleased) {
  // Another process holds estate 0013 with a record lock of the record manager and rewrites it
  // once released. The removal, having released 0012 in its transaction, meets the lock: it is
  // undone while it waits (saying so), so the holder's write gets through, and then runs again
  // on the stored records. Files are closed around the fork so the child opens its own.
  int16_t status = 0;
  ResetDataFiles(status);
  const std::string held = dir.file("held"), release = dir.file("release");
  int child = HoldEstateInChild("0013", held, release, [] {
    OwnerProgram().EstateRecord[10] = 'X';
    int16_t s = 0;
    UpdateRecord(kEstatesFile, s);
    return s;
  });
  ASSERT_GT(child, 0);
  ResetDataState();
  OpenOwnerFiles(status);
  ASSERT_EQ(status, 0);

  ReleaseWhenWaiting os(console, release);
  SetOs(&os);
  KeyFeeder feeder(console);
  std::string message;
  Confirm(feeder, "0007");
  feeder.Key(key::kEsc, [&] { message = console.ScreenText(); });
  RunOwnerCycle();
  SetOs(nullptr);
  EXPECT_EQ(WaitChild(child), 0) << "the holder's write was not kept waiting by the removal";

  EXPECT_TRUE(feeder.Done());
  EXPECT_FALSE(os.seen().empty()) << "the removal waited for the estate, saying so";
  EXPECT_EQ(message.find("NO S'HAN POGUT"), std::string::npos) << message;
  EXPECT_FALSE(OwnerExists("0007"));
  EXPECT_EQ(EstateOwner("0012"), "0000");
  EXPECT_EQ(EstateOwner("0013"), "0000");
  EXPECT_EQ(OwnerProgram().EstateRecord[10], 'X') << "the holder's change is kept";
  EXPECT_EQ(EstateOwner("0014"), "0020");
  // One line per estate update, the undone attempts' included.
  const std::string done = " 506           3             0 ";
  std::vector<std::string> log = LogLines();
  ASSERT_GE(log.size(), 4u);
  EXPECT_EQ(log[0], done);
  EXPECT_EQ(log[1], " 506           3             84 ");
  EXPECT_EQ(log[log.size() - 2], done);
  EXPECT_EQ(log.back(), done);
  EXPECT_EQ(HeldLocks("PropietV"), 0);
  EXPECT_EQ(HeldLocks("FinquesV"), 0);
}

TEST_F(CycleTest, AnEstateHeldByATerminalWaitingForTheEstatesFileIsNotADeadlock) {
  // Another terminal holds estate 0013 in its lock file and, once the removal waits for it,
  // rewrites estate 0012, trying for five seconds. The removal has released 0012 in its
  // transaction by then: were it to wait for 0013 holding the estates file, each would wait
  // for the other.
  int16_t status = 0;
  ResetDataFiles(status);
  const std::string held = dir.file("held"), go = dir.file("go");
  const int child = ForkChild([&] {
    ResetDataState();
    UseOwnLockIdentity();
    int16_t s = 0;
    OpenOwnerFiles(s);
    if (s != 0 || LockRecord("FinquesV", Packed("0013")) != 0) return 1;
    WriteFile(held, "1");
    for (int i = 0; i < 6000 && !FileExists(go); ++i) usleep(10000);
    FindRecord(kEstatesFile, 0, Packed("0012"), find_mode::kEqual, s);
    for (int i = 0; i < 100 && s == 0; ++i) {
      OwnerProgram().EstateRecord[10] = 'Y';
      UpdateRecord(kEstatesFile, s);
      if (s != rm::kRecordLocked && s != rm::kFileLocked) break;
      s = 0;
      usleep(50000);
    }
    UnlockRecord("FinquesV");
    int16_t ignored = 0;
    ResetDataFiles(ignored);
    return static_cast<int>(s);
  });
  for (int i = 0; i < 3000 && !FileExists(held); ++i) usleep(10000);
  ASSERT_TRUE(FileExists(held));
  ResetDataState();
  OpenOwnerFiles(status);
  ASSERT_EQ(status, 0);

  ReleaseWhenWaiting os(console, go);
  SetOs(&os);
  KeyFeeder feeder(console);
  Confirm(feeder, "0007");
  feeder.Key(key::kEsc);
  RunOwnerCycle();
  SetOs(nullptr);
  EXPECT_EQ(WaitChildAndItsSessions(child), 0) << "the other terminal could write the estate";
  EXPECT_FALSE(os.seen().empty()) << "the removal waited, saying so";
  EXPECT_FALSE(OwnerExists("0007"));
  EXPECT_EQ(EstateOwner("0012"), "0000");
  EXPECT_EQ(OwnerProgram().EstateRecord[10], 'Y') << "the other terminal's change is kept";
  EXPECT_EQ(EstateOwner("0013"), "0000");
  EXPECT_EQ(HeldLocks("FinquesV"), 0);
}

// Opens the owners file again read-only through its own position block: the owner can then be
// found but not deleted (46), while the estates can still be written.
void ReopenOwnersReadOnly() {
  for (int entry = 1; entry <= kFileTableSize; ++entry) {
    FileEntry& e = FileTable(entry);
    if (e.FileNumber != kOwnersFile) continue;
    uint32_t length = 0;
    ASSERT_EQ(BTRCALL(rm::kClose, e.PositionBlock.data(), nullptr, &length, nullptr, 0, 0), 0);
    std::string path = GetOs().MapPath(CurrentSession().RootDir + "DADES\\PropietV.dat");
    char none[4] = {0, 0, 0, 0};
    ASSERT_EQ(BTRCALL(rm::kOpen, e.PositionBlock.data(), none, &length, path.data(),
                      static_cast<uint8_t>(path.size()), rm::kModeReadOnly),
              0);
  }
}

TEST_F(CycleTest, AnOwnerThatCannotBeDeletedUndoesTheReleaseOfItsEstates) {
  ReopenOwnersReadOnly();
  KeyFeeder feeder(console);
  std::string message;
  Confirm(feeder, "0007");
  feeder.Key(key::kEnter, [&] { message = console.ScreenText(); });
  feeder.Key(key::kEsc);
  RunOwnerCycle();
  EXPECT_TRUE(feeder.Done());
  EXPECT_NE(message.find("NO S'HA POGUT DONAR DE BAIXA EL PROPIETARI."), std::string::npos)
      << message;
  EXPECT_TRUE(OwnerExists("0007"));
  EXPECT_EQ(EstateOwner("0012"), "0007");
  EXPECT_EQ(EstateOwner("0013"), "0007");
  // The access log still holds the two updates the abort undid.
  const std::string done = " 506           3             0 ";
  EXPECT_EQ(LogLines(), (std::vector<std::string>{done, done}));
  EXPECT_EQ(HeldLocks("PropietV"), 0);
  EXPECT_EQ(HeldLocks("FinquesV"), 0);
}

// The whole screen at a moment of the cycle against its golden file in app/tests/golden/
// (UTF-8, trailing blanks cut). KAP_UPDATE_GOLDEN=1 writes the files instead.
void ExpectGoldenScreen(const std::string& screen, const std::string& name) {
  const std::string path = SourcePath("app/tests/golden/" + name);
  std::string text;
  for (char c : screen) {
    // The option markers as the terminal draws them.
    if (c == static_cast<char>(kMarkerLeft)) {
      text += "\u25C4";
    } else if (c == static_cast<char>(kMarkerRight)) {
      text += "\u25BA";
    } else {
      text += Cp850ToUtf8(std::string(1, c));
    }
  }
  text += "\n";
  if (std::getenv("KAP_UPDATE_GOLDEN")) WriteFile(path, text);
  EXPECT_EQ(ReadFile(path), text) << "screen now:\n" << text;
}

TEST_F(CycleTest, KeyFormAndConfirmationScreensMatchTheirGoldenFiles) {
  KeyFeeder feeder(console);
  std::string keyForm, confirmation;
  feeder.Key('7', [&] { keyForm = console.ScreenText(); });
  feeder.Key(key::kEnter);
  feeder.Key(key::kEsc, [&] { confirmation = console.ScreenText(); });
  feeder.Key(key::kEsc);
  RunOwnerCycle();
  ExpectGoldenScreen(keyForm, "key_form.txt");
  ExpectGoldenScreen(confirmation, "confirmation.txt");
}

}  // namespace
}  // namespace kap::test
