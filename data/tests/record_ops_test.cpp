// Record operations on real files: find, skip, look-ahead, positions, insert, update, delete,
// the access log byte for byte, key images and the save stack.
#include <cstring>
#include <functional>

#include "data/tests/data_test_support.h"

namespace kap {
namespace {

using test::DataTest;
using test::OwnRecord;

std::string Num(uint16_t n) {
  return std::string{static_cast<char>(n & 0xFF), static_cast<char>(n >> 8)};
}
uint16_t NumOf(const char* r) {
  return static_cast<uint16_t>(static_cast<uint8_t>(r[0]) | (static_cast<uint8_t>(r[1]) << 8));
}

class RecordOpsTest : public DataTest {
 protected:
  void SetUp() override {
    DataTest::SetUp();
    ASSERT_EQ(OpenOwn(505, record), 0);
    InsertAll(505, record,
              {OwnRecord(10, "KA", "bob"), OwnRecord(20, "KB", "Al"), OwnRecord(30, "KC", "cy"),
               OwnRecord(40, "KD", "dee"), OwnRecord(50, "KE", "eve")});
    std::remove("db.log");
  }
  char record[24];
};

TEST_F(RecordOpsTest, OperationsOnAFileNotOpen) {
  int16_t status = 0;
  FindRecord(9, 0, "x", 0, status);
  EXPECT_EQ(status, 3);
  status = 0;
  SkipRecords(9, 1, status);
  EXPECT_EQ(status, 3);
  status = 0;
  InsertRecord(9, status);
  EXPECT_EQ(status, 3);
  status = 0;
  UpdateRecord(9, status);
  EXPECT_EQ(status, 3);
  status = 0;
  DeleteRecord(9, status);
  EXPECT_EQ(status, 3);
  EXPECT_EQ(RecordsAhead(9, 1, ""), 0);
  EXPECT_EQ(RecordPosition(9, 0), 0);
  EXPECT_EQ(KeyImage("\x01\x02", 9), "\x01\x02");
  EXPECT_EQ(CurrentKeyImage(9), "");
  EXPECT_FALSE(test::FileExists("db.log"));
}

TEST_F(RecordOpsTest, FindByModeAndKeyLength) {
  struct Case {
    int16_t key;
    std::string value;
    int16_t mode;
    int16_t status;
    uint16_t found;
  };
  std::vector<Case> cases = {
      {0, Num(30), 0, 0, 30},
      {0, Num(30) + "xyz", 0, 0, 30},  // cut to the 2-byte key
      {0, Num(25), 0, rm::kKeyNotFound, 0},
      {0, Num(25), 1, 0, 30},                 // next greater
      {0, Num(25), -1, 0, 20},                // next smaller
      {0, std::string(1, '\x0A'), 0, 0, 10},  // 1 byte + a zero byte = 10
      {0, Num(60), 1, rm::kEndOfFile, 0},
      {1, "KC", 1, 0, 30},    // zero-filled to 16 bytes: just above "KB..."
      {2, "BOB ", 0, 0, 10},  // collating sequence: "bob " finds "BOB "
      {3, "", 0, 1004, 0},
      {-1, "", 0, 1004, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("key " + std::to_string(c.key) + " mode " + std::to_string(c.mode) +
                 " value size " + std::to_string(c.value.size()));
    FileTable(40).KeyNumber = 0;
    int16_t status = -1;
    FindRecord(505, c.key, c.value, c.mode, status);
    EXPECT_EQ(status, c.status);
    if (c.status == 0) {
      EXPECT_EQ(NumOf(record), c.found);
    }
    if (c.status == 1004) {
      EXPECT_EQ(FileTable(40).KeyNumber, 0);
    }
  }
}

TEST_F(RecordOpsTest, SkipsAndPositions) {
  int16_t status = -1;
  FindRecord(505, 0, Num(10), 0, status);
  ASSERT_EQ(status, 0);
  SkipRecords(505, 0, status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(NumOf(record), 10);
  SkipRecords(505, 3, status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(NumOf(record), 40);
  EXPECT_EQ(FileTable(40).KeyValue, Num(40));
  int32_t at40 = RecordPosition(505, 0);
  EXPECT_NE(at40, 0);
  SkipRecords(505, -2, status);
  EXPECT_EQ(NumOf(record), 20);
  SkipRecords(505, 5, status);
  EXPECT_EQ(status, rm::kEndOfFile);
  // Back to a remembered record, whose key becomes current again.
  EXPECT_EQ(RecordPosition(505, at40), 0);
  EXPECT_EQ(NumOf(record), 40);
  SkipRecords(505, 1, status);
  EXPECT_EQ(NumOf(record), 50);
  EXPECT_EQ(RecordPosition(505, 999999), rm::kInvalidRecordAddress);
}

TEST_F(RecordOpsTest, LookAheadReturnsToItsRecord) {
  int16_t status = -1;
  FindRecord(505, 0, Num(50), 0, status);
  std::memset(record + 2, '?', 4);  // the look-ahead puts the stored record back
  EXPECT_EQ(RecordsAhead(505, 1, ""), 0);
  EXPECT_EQ(std::string(record, 24), OwnRecord(50, "KE", "eve"));
  EXPECT_EQ(RecordsAhead(505, -4, ""), -1);
  EXPECT_EQ(RecordsAhead(505, -5, ""), 0);
  EXPECT_EQ(NumOf(record), 50);
  // Bounds are key images: binary keys compare big-endian.
  FindRecord(505, 0, Num(20), 0, status);
  EXPECT_EQ(RecordsAhead(505, 1, KeyImage(Num(30), 505)), -1);
  EXPECT_EQ(RecordsAhead(505, 2, KeyImage(Num(30), 505)), 0);
  EXPECT_EQ(RecordsAhead(505, -1, KeyImage(Num(10), 505)), -1);
  EXPECT_EQ(RecordsAhead(505, -1, KeyImage(Num(11), 505)), 0);
  EXPECT_EQ(NumOf(record), 20);
  SkipRecords(505, 1, status);
  EXPECT_EQ(NumOf(record), 30);
}

TEST_F(RecordOpsTest, InsertUpdateDeleteAndTheLog) {
  int16_t status = -1;
  std::memcpy(record, OwnRecord(60, "KF").data(), 24);
  InsertRecord(505, status);
  EXPECT_EQ(status, 0);
  InsertRecord(505, status);  // the same number again
  EXPECT_EQ(status, rm::kDuplicateKey);
  EXPECT_EQ(FileTable(40).KeyValue, std::string(2, '\0'));

  FindRecord(505, 0, Num(20), 0, status);
  std::memcpy(record + 2, "ZZ", 2);
  UpdateRecord(505, status);
  EXPECT_EQ(status, 0);
  // Key 0 cannot change: the update is refused, the stored record comes back.
  std::memcpy(record, Num(21).data(), 2);
  std::memcpy(record + 2, "YY", 2);
  UpdateRecord(505, status);
  EXPECT_EQ(status, rm::kModifiableKeyChanged);
  EXPECT_EQ(std::string(record, 24), [] {
    std::string r = OwnRecord(20, "KB", "Al");
    r.replace(2, 2, "ZZ");
    return r;
  }());
  EXPECT_EQ(FileTable(40).KeyValue, Num(20));  // read back with the record

  DeleteRecord(505, status);
  EXPECT_EQ(status, 0);
  FindRecord(505, 0, Num(20), 0, status);
  EXPECT_EQ(status, rm::kKeyNotFound);
  DeleteRecord(505, status);
  EXPECT_EQ(status, rm::kNoCurrency);
  EXPECT_EQ(FileTable(40).KeyValue, std::string(2, '\0'));

  auto line = [](const std::string& file, const std::string& op, const std::string& st) {
    auto field = [](const std::string& n, bool pad) {
      std::string s = (n[0] == '-' ? "" : " ") + n + " ";
      while (pad && (s.size() % 14 != 0 || s.size() == n.size() + 2)) s += ' ';
      return s;
    };
    return field(file, true) + field(op, true) + field(st, false) + "\r\n";
  };
  EXPECT_EQ(line("505", "2", "0"), " 505           2             0 \r\n");  // the layout itself
  EXPECT_EQ(test::ReadFile("db.log"), line("505", "2", "0") + line("505", "2", "5") +
                                          line("505", "3", "0") + line("505", "3", "10"));
}

TEST_F(RecordOpsTest, LogLineForNegativeAndWideNumbers) {
  char other[24];
  ASSERT_EQ(OpenOwn(293, other, 24, "DADES\\OWN"), 0);
  ASSERT_EQ(OpenOwn(-12345, other, 24, "DADES\\OWN"), 0);
  int16_t status = 0;
  std::memcpy(other, OwnRecord(10, "KA").data(), 24);
  InsertRecord(293, status);
  InsertRecord(-12345, status);
  EXPECT_EQ(test::ReadFile("db.log"),
            " 293           2             5 \r\n"
            "-12345         2             5 \r\n");
}

TEST_F(RecordOpsTest, KeyImages) {
  int16_t status = 0;
  FindRecord(505, 0, Num(10), 0, status);
  EXPECT_EQ(KeyImage("\x01\x02", 505), "\x02\x01");
  EXPECT_EQ(KeyImage("\x01", 505), std::string("\x00\x01", 2));
  EXPECT_EQ(KeyImage(std::string("\x01\x02tail", 6), 505), "\x02\x01tail");
  EXPECT_EQ(CurrentKeyImage(505), std::string("\x00\x0A", 2));
  FindRecord(505, 2, "cy  ", 0, status);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(KeyImage("ab1z", 505), "AB1Z");
  EXPECT_EQ(KeyImage("a", 505), "A");
  EXPECT_EQ(CurrentKeyImage(505), "CY  ");
  FindRecord(505, 1, "KC", 1, status);
  EXPECT_EQ(KeyImage("kc", 505), "kc");  // text segments without a sequence stay
}

// Records longer than the layer's usual data area are carried whole, never past the variable.
TEST_F(DataTest, RecordsLongerThanTheDataArea) {
  std::string block = test::OwnBlock().substr(0, 16 + 16);
  block[0] = static_cast<char>(2000 & 0xFF);
  block[1] = static_cast<char>(2000 >> 8);
  block[2] = 0;
  block[3] = 0x10;  // page 4096
  block[4] = 1;
  test::WriteFile(dir.file("ddf/BIG.xdf"), test::Dictionary(block));
  std::vector<char> record(2000);
  ASSERT_EQ(OpenOwn(1, record.data(), record.size(), "DADES\\BIG"), 0);
  for (int n = 1; n <= 3; ++n) {
    std::fill(record.begin(), record.end(), static_cast<char>('a' + n));
    record[0] = static_cast<char>(n);
    record[1] = 0;
    int16_t status = -1;
    InsertRecord(1, status);
    ASSERT_EQ(status, 0);
  }
  int16_t status = -1;
  FindRecord(1, 0, Num(1), 0, status);
  ASSERT_EQ(status, 0);
  SkipRecords(1, 2, status);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(record[0], 3);
  EXPECT_EQ(record[1999], 'd');
  EXPECT_EQ(RecordsAhead(1, -2, ""), -1);
  EXPECT_EQ(record[1999], 'd');
}

// A 3-byte binary segment given one byte: zero-filled, then reversed.
TEST_F(DataTest, KeyImageOfAShortBinarySegment) {
  std::string block = test::OwnBlock().substr(0, 16 + 16);
  block[4] = 1;       // one key
  block[16 + 2] = 3;  // of 3 bytes
  test::WriteFile(dir.file("ddf/BIN.xdf"), test::Dictionary(block));
  char record[24];
  ASSERT_EQ(OpenOwn(1, record, 24, "DADES\\BIN"), 0);
  EXPECT_EQ(KeyImage("\x07", 1), std::string("\x00\x00\x07", 3));
}

// What the caller's buffer and the currency hold after an update of record 20, whatever
// another entry on the same file did to it in between. Two bytes outside every key change.
TEST_F(RecordOpsTest, UpdateLeavesTheStoredRecordAndItsCurrency) {
  char other[24];
  ASSERT_EQ(OpenOwn(506, other), 0);
  auto stored = [](const std::string& tail) {
    std::string r = OwnRecord(20, "KB", "Al");
    return r.replace(22, 2, tail);
  };
  struct Case {
    const char* what;
    std::function<void()> between;  // after record 20 is read, before it is updated
    int16_t status;
    std::string buffer;  // after the update
  };
  int16_t status = 0;
  auto otherWrites = [&] {
    FindRecord(506, 0, Num(20), 0, status);
    std::memcpy(other + 22, "ot", 2);
    UpdateRecord(506, status);
    ASSERT_EQ(status, 0);
  };
  std::vector<Case> cases = {
      {"nothing", [] {}, 0, stored("us")},
      // The find fails, but the file's key number is now 1: the update goes on along key 1.
      {"a failed find on another key", [&] { FindRecord(505, 1, "ZZ", 0, status); }, 0,
       stored("us")},
      {"another entry changed it", otherWrites, rm::kRecordChanged, stored("ot")},
      {"another entry holds its lock",
       [&] {
         SetLockMode(506, "B", status);
         FindRecord(506, 0, Num(20), 0, status);
         ASSERT_EQ(status, 0);
       },
       rm::kRecordLocked, stored("  ")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FindRecord(505, 0, Num(20), 0, status);
    ASSERT_EQ(status, 0);
    std::memcpy(record + 22, "  ", 2);
    UpdateRecord(505, status);  // puts the record back as it started
    ASSERT_EQ(status, 0);
    c.between();
    std::memcpy(record + 22, "us", 2);
    UpdateRecord(505, status);
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(std::string(record, 24), c.buffer);
    EXPECT_EQ(FileTable(40).KeyValue, c.status == 0 && FileTable(40).KeyNumber == 1
                                          ? OwnRecord(20, "KB").substr(2, 16)
                                          : Num(20));
    // The record read back is current: a second update is taken, the scan goes on after it.
    if (c.status == rm::kRecordLocked) FindRecord(506, 0, Num(50), 0, status);  // lock moves
    std::memcpy(record + 22, "u2", 2);
    UpdateRecord(505, status);
    EXPECT_EQ(status, 0);
    SkipRecords(505, 1, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(NumOf(record), 30);
  }
}

// On the server, reading back what an update wrote needs no round trip of its own.
TEST_F(RecordOpsTest, AnUpdateCostsTheServerOneStatement) {
  if (RecordServerConnection().empty()) GTEST_SKIP() << "counts the server's statements";
  int16_t status = 0;
  FindRecord(505, 0, Num(20), 0, status);
  ASSERT_EQ(status, 0);
  UpdateRecord(505, status);  // the first one also prepares its statement
  std::memcpy(record + 22, "us", 2);
  uint64_t before = RecordServerRoundTrips();
  UpdateRecord(505, status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(RecordServerRoundTrips() - before, 1u);
}

TEST(SaveStackTest, LastInFirstOutAndSafeWhenEmpty) {
  ResetDataState();
  PushSaved("first");
  PushSaved(std::string("\x00\x01", 2));
  PushSaved("");
  EXPECT_EQ(PopSaved(), "");
  EXPECT_EQ(PopSaved(), std::string("\x00\x01", 2));
  EXPECT_EQ(PopSaved(), "first");
  EXPECT_EQ(PopSaved(), "");  // more pops than pushes
  char area[8] = "abcdefg";
  PutRecordBytes("XY", area);
  EXPECT_EQ(RecordBytes(area, 4), "XYcd");
  EXPECT_EQ(RecordBytes(nullptr, 4), "");
}

}  // namespace
}  // namespace kap
