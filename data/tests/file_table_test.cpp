// The file table: opening with the extension rules and creation from the dictionary, the
// fatal open error, file statistics, lock modes and their stack, the lock wait.
#include <cstring>

#include "data/tests/data_test_support.h"
#include "testsupport/failing_os.h"

namespace kap {
namespace {

using test::DataTest;
using test::OwnRecord;

TEST_F(DataTest, OpenAnswers1002And1003AndRefusesNumberZero) {
  static char records[41][24];
  for (int i = 0; i < 40; ++i)
    ASSERT_EQ(OpenOwn(static_cast<int16_t>(100 + i), records[i]), 0) << i;
  EXPECT_EQ(OpenOwn(105, records[40]), 1002);
  EXPECT_EQ(OpenOwn(200, records[40]), 1003);
  // The highest free entry is taken first.
  EXPECT_EQ(FileTable(40).FileNumber, 100);
  EXPECT_EQ(FileTable(1).FileNumber, 139);
  int16_t status = 0;
  ResetDataFiles(status);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(FileTable(40).FileNumber, 0);
  EXPECT_EQ(OpenOwn(0, records[0]), 3);  // 0 marks free entries: never a file number
  EXPECT_EQ(FileTable(40).FileNumber, 0);
}

TEST_F(DataTest, NamesGetTheirExtension) {
  struct Case {
    std::string name;     // under RootDir
    std::string created;  // file expected under the temporary root
  };
  test::MakeDirs(dir.file("D.X"));
  std::vector<Case> cases = {
      {"DADES\\OWN", "DADES/OWN.dat"}, {"DADES\\OWN.BTR", "DADES/OWN.BTR"},
      {"D.X\\OWN", "D.X/OWN.dat"},     {"DADES\\OWN.B.C", "DADES/OWN.B.C"},
      {"DADES/OWN", "DADES/OWN.dat"},
  };
  int16_t number = 1;
  for (const Case& c : cases) {
    char record[24];
    ASSERT_EQ(OpenOwn(number++, record, 24, c.name), 0) << c.name;
    EXPECT_TRUE(test::DataFileExists(dir.file(c.created))) << c.name;
    int16_t keyLength = 0, recordLength = 0;
    GetFileInfo(static_cast<int16_t>(number - 1), 0, keyLength, recordLength);
    EXPECT_EQ(recordLength, 24) << c.name;
  }
}

TEST_F(DataTest, OpenSetsUpTheEntry) {
  char record[24];
  ASSERT_EQ(OpenOwn(505, record), 0);
  FileEntry& e = FileTable(40);
  EXPECT_EQ(e.FileNumber, 505);
  EXPECT_EQ(e.RecordLength, 24);
  EXPECT_EQ(e.KeyNumber, 0);
  EXPECT_EQ(e.KeyValue, std::string(2, '\0'));
  EXPECT_EQ(e.LockMode, 0);
  EXPECT_EQ(e.RecordArea, record);
  int16_t keyLength = 0, recordLength = 0;
  GetFileInfo(505, 1, keyLength, recordLength);
  EXPECT_EQ(keyLength, 16);  // segments of 2, 4 and 10
  GetFileInfo(505, 2, keyLength, recordLength);
  EXPECT_EQ(keyLength, 4);
  GetFileInfo(505, 3, keyLength, recordLength);
  EXPECT_EQ(keyLength, 0);
  EXPECT_EQ(recordLength, 24);
  GetFileInfo(506, 0, keyLength, recordLength);
  EXPECT_EQ(keyLength, 0);
  EXPECT_EQ(recordLength, 0);
  EXPECT_TRUE(fatalMessages.empty());
}

TEST_F(DataTest, BadDictionariesAndFilesEndInTheFatalMessage) {
  std::string block = test::OwnBlock();
  std::string absurd = test::Dictionary(block);
  absurd[0] = static_cast<char>(0xFF);
  absurd[1] = 0x7F;  // claims 32767 bytes
  std::string negative = test::Dictionary(block);
  negative[1] = static_cast<char>(0x80);
  std::string bigRecord = block;
  bigRecord[0] = 0;
  bigRecord[1] = 3;  // 768-byte records
  struct Case {
    const char* what;
    bool writeDictionary;
    std::string dictionary;
    std::string dataFile;  // written as the data file when not empty
    int16_t status;
  };
  std::vector<Case> cases = {
      {"missing dictionary", false, "", "", rm::kBadPageSize},
      {"empty dictionary", true, "", "", rm::kBadPageSize},
      {"one byte", true, "\x05", "", rm::kBadPageSize},
      {"truncated block", true, test::Dictionary(block).substr(0, 40), "",
       rm::kInconsistentKeyFlags},
      {"absurd length", true, absurd, "", 0},
      {"negative length", true, negative, "", rm::kBadPageSize},
      {"record longer than the variable", true, test::Dictionary(bigRecord), "",
       rm::kDataBufferTooShort},
      {"data file not a database", true, test::Dictionary(block), "garbage, not a database",
       rm::kNotRecordFile},
  };
  int16_t number = 1;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::TempDir root2;
    test::MakeDirs(root2.file("ddf"));
    test::MakeDirs(root2.file("DADES"));
    CurrentSession().RootDir = root2.path() + "/";
    if (c.writeDictionary) test::WriteFile(root2.file("ddf/OWN.xdf"), c.dictionary);
    if (!c.dataFile.empty()) test::WriteFile(root2.file("DADES/OWN.dat"), c.dataFile);
    fatalMessages.clear();
    char record[24];
    int16_t status = -1;
    std::string name = root2.path() + "/DADES\\OWN";
    OpenDataFile(number++, name, record, sizeof record, status);
    if (c.status == 0) {  // the length is cut to the data area: the block itself is sound
      EXPECT_EQ(status, 0);
      EXPECT_TRUE(fatalMessages.empty());
      continue;
    }
    EXPECT_EQ(status, c.status);
    ASSERT_EQ(fatalMessages.size(), 1u);
    EXPECT_EQ(fatalMessages[0],
              "NO ES POT ACCEDIR AL FITXER " + name + " (" + std::to_string(c.status) + ")");
    for (int e = 1; e <= kFileTableSize; ++e)
      EXPECT_NE(FileTable(e).FileNumber, number - 1) << "entry left free";
  }
}

// Each OS call of an open that creates the file from its dictionary failed in turn: every run
// ends in the fatal message with no file left half made, and the run in which nothing failed
// opens the file.
TEST_F(DataTest, AFailingOsCallEndsTheOpenCleanly) {
  test::FailingOs failing(&os);
  SetOs(&failing);
  char record[24];
  for (int n = 1;; ++n) {
    fatalMessages.clear();
    failing.FailCall(n);
    const int16_t status = OpenOwn(1, record);
    if (!failing.failed()) {
      EXPECT_EQ(status, 0);
      EXPECT_TRUE(fatalMessages.empty());
      break;
    }
    EXPECT_NE(status, 0) << "call " << n;
    EXPECT_EQ(fatalMessages.size(), 1u) << "call " << n;
    EXPECT_FALSE(test::FileExists(dir.file("DADES/OWN.dat"))) << "call " << n;
  }
  SetOs(&os);
}

TEST_F(DataTest, FatalMessageSpeaksTheSessionLanguage) {
  struct Case {
    const char* language;
    std::string text;
  };
  std::vector<Case> cases = {
      {"SPA", "NO SE PUEDE ACCEDER AL FICHERO "},      {"GLG", "NOM SE PODE ACEDER AO FICHEIRO "},
      {"OCI", "NON SE P\xE3T ACCEDIR ATH FICH\xD4R "}, {"CAT", "NO ES POT ACCEDIR AL FITXER "},
      {"ENG", "NO ES POT ACCEDIR AL FITXER "},
  };
  test::WriteFile(dir.file("ddf/BAD.xdf"), "");
  for (const Case& c : cases) {
    CurrentSession().Language = c.language;
    fatalMessages.clear();
    char record[24];
    int16_t status = 0;
    OpenDataFile(7, "C:\\APL\\DADES\\BAD", record, sizeof record, status);
    ASSERT_EQ(fatalMessages.size(), 1u) << c.language;
    EXPECT_EQ(fatalMessages[0], c.text + "C:\\APL\\DADES\\BAD (" + std::to_string(status) + ")")
        << c.language;
  }
  // The message was shown, with a beep, and taken down again.
  EXPECT_GE(DefaultMemoryConsole().Beeps(), 1);
  EXPECT_EQ(CurrentWindow().depth, 0);
}

TEST_F(DataTest, OpenWaitsWhileAnotherHoldsTheFileExclusively) {
  char record[24];
  ASSERT_EQ(OpenOwn(1, record), 0);  // creates it
  int16_t status = 0;
  ResetDataFiles(status);
  test::RmFile holder;
  ASSERT_EQ(holder.Open(dir.file("DADES/OWN.dat"), rm::kModeExclusive), 0);
  os.onSleep = [&](int) {
    if (os.sleeps.size() == 2) holder.Close();
  };
  ASSERT_EQ(OpenOwn(1, record), 0);
  EXPECT_EQ(os.sleeps, (std::vector<int>{3000, 3000}));
  EXPECT_TRUE(fatalMessages.empty());
}

TEST_F(DataTest, LockModeStackInterleavesFiles) {
  char a[24], b[24];
  ASSERT_EQ(OpenOwn(1, a), 0);
  ASSERT_EQ(OpenOwn(2, b), 0);
  int16_t status = 0;
  SetLockMode(1, "a", status);
  SetLockMode(2, "B", status);
  SetLockMode(1, "+D", status);
  SetLockMode(2, "+d", status);
  EXPECT_EQ(FileTable(40).LockMode, 0);
  EXPECT_EQ(FileTable(39).LockMode, 0);
  SetLockMode(1, "-", status);
  EXPECT_EQ(FileTable(40).LockMode, 1);
  EXPECT_EQ(FileTable(39).LockMode, 0);  // B's pair stays saved
  SetLockMode(1, "-xyz", status);        // nothing saved for A any more; others ignored
  EXPECT_EQ(FileTable(40).LockMode, 1);
  SetLockMode(2, "-", status);
  EXPECT_EQ(FileTable(39).LockMode, 2);
  EXPECT_EQ(status, 0);
  SetLockMode(9, "A", status);
  EXPECT_EQ(status, 3);
}

// Two entries on one file: the first holds a record lock, the second reads it.
TEST_F(DataTest, LockedRecordWaitsWithMessageOrAnswers84) {
  char a[24], b[24];
  ASSERT_EQ(OpenOwn(1, a), 0);
  ASSERT_EQ(OpenOwn(2, b), 0);
  InsertAll(1, a, {OwnRecord(1, "ONE"), OwnRecord(2, "TWO")});
  int16_t status = 0;
  SetLockMode(1, "B", status);
  FindRecord(1, 0, std::string("\x01\x00", 2), 0, status);
  ASSERT_EQ(status, 0);

  SetLockMode(2, "B", status);
  std::memset(b, 'z', sizeof b);
  FindRecord(2, 0, std::string("\x01\x00", 2), 0, status);
  EXPECT_EQ(status, rm::kRecordLocked);
  EXPECT_TRUE(os.sleeps.empty());

  SetLockMode(2, "A", status);
  std::string shown;
  os.random = 0.25;
  os.onSleep = [&](int) {
    if (os.sleeps.size() == 2) {
      shown = DefaultMemoryConsole().ScreenText();
      uint32_t length = 0;
      BTRCALL(rm::kUnlock, FileTable(40).PositionBlock.data(), nullptr, &length, nullptr, 0, 0);
    }
  };
  FindRecord(2, 0, std::string("\x01\x00", 2), 0, status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(std::string(b, 24), OwnRecord(1, "ONE"));
  EXPECT_EQ(os.sleeps, (std::vector<int>{2501, 2501}));
  EXPECT_NE(shown.find("FITXER BLOQUEJAT. ESPEREU UN MOMENT."), std::string::npos);
  EXPECT_EQ(DefaultMemoryConsole().ScreenText().find("BLOQUEJAT"), std::string::npos);
  EXPECT_EQ(CurrentWindow().depth, 0);
}

// A record manager that answers shorter than asked, over the real one.
class ShortAnswers : public RecordEngine {
 public:
  explicit ShortAnswers(uint32_t keep) : real_(MakeSqliteEngine()), keep_(keep) {}
  int16_t Call(int op, void* pb, void* data, uint32_t* length, void* key, uint8_t keyLength,
               int8_t keyNumber) override {
    int16_t status = real_->Call(op, pb, data, length, key, keyLength, keyNumber);
    if (status == 0 && op % 100 >= rm::kGetEqual && op % 100 <= rm::kGetLast && *length > keep_) {
      *length = keep_;
      return rm::kDataBufferTooShort;
    }
    return status;
  }

 private:
  std::unique_ptr<RecordEngine> real_;
  uint32_t keep_;
};

TEST_F(DataTest, ShortAnswerOverwritesOnlyItsBytesAndCountsAsFound) {
  ShortAnswers engine(5);
  SetRecordEngine(&engine);
  char record[24];
  ASSERT_EQ(OpenOwn(1, record), 0);
  InsertAll(1, record, {OwnRecord(1, "ONE"), OwnRecord(2, "TWO")});
  std::memset(record, '#', sizeof record);
  int16_t status = -1;
  FindRecord(1, 0, std::string("\x02\x00", 2), 0, status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(std::string(record, 24), OwnRecord(2, "TWO").substr(0, 5) + std::string(19, '#'));
  SkipRecords(1, -1, status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(std::string(record, 5), OwnRecord(1, "ONE").substr(0, 5));
  ResetDataFiles(status);
  SetRecordEngine(nullptr);  // before `engine` goes
}

TEST_F(DataTest, VoraIniSaysHowSafeACommitIs) {
  const std::vector<std::pair<std::string, bool>> cases = {{"", true},
                                                           {"Escriptura=RAPIDA\r\n", false},
                                                           {"Escriptura= rapida \r\n", false},
                                                           {"Escriptura=SEGURA\r\n", true}};
  for (const auto& [line, durable] : cases) {
    test::WriteFile(CurrentSession().RootDir + "Vora.ini", "[Dades]\r\n" + line);
    SetDurableCommits(!durable);
    ChooseRecordEngine();
    EXPECT_EQ(DurableCommits(), durable) << line;
  }
  SetDurableCommits(true);
}

}  // namespace
}  // namespace kap
