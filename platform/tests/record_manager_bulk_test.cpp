// InsertRecords against Insert one record at a time: on each engine the same status, the same
// count, the same records stored and the same currency afterwards, with and without a
// transaction, for loads that span several of the server's batches.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/record_manager.h"
#include "platform/tests/record_manager_support.h"
#include "testsupport/test_support.h"

namespace kap {
namespace {

using test::CreationBlock;
using test::RmFile;

// 2000 bytes, so that a few thousand records fill several of the server's batches: key 0 a
// unique 2-byte binary number at 1, key 1 a 4-byte text with duplicates.
constexpr size_t kLength = 2000;
std::string Layout() { return CreationBlock(kLength, {{{1, 2, 0x0004}}, {{3, 4, 0x0001}}}); }

std::string Rec(uint16_t number, size_t length = kLength) {
  std::string r(length, static_cast<char>('a' + number % 26));
  r[0] = static_cast<char>(number & 0xFF);
  r[1] = static_cast<char>(number >> 8);
  return r;
}

std::vector<std::string> Numbered(uint16_t from, uint16_t to) {
  std::vector<std::string> out;
  for (uint16_t n = from; n < to; ++n) out.push_back(Rec(n));
  return out;
}

int16_t Transaction(int op) {
  char none[4] = {};
  uint32_t length = 0;
  return BTRCALL(op, none, none, &length, none, 0, 0);
}

// What a file holds, in physical order.
std::vector<std::string> Stored(RmFile& file) {
  std::vector<std::string> out;
  std::string r;
  for (int16_t s = file.Step(rm::kStepFirst, &r); s == 0; s = file.Step(rm::kStepNext, &r))
    out.push_back(r);
  return out;
}

struct Outcome {
  int16_t status = -1;
  size_t inserted = 0;
  std::vector<std::string> stored;
  std::string current;  // the current record after the inserts
  int16_t positionStatus = -1;
  bool nextInsertIsLast = false;  // a later Insert lands after every record
  uint64_t roundTrips = 0;        // statements sent to the server for the inserts
};

struct Case {
  const char* what;
  std::vector<std::string> before;  // inserted and committed first
  std::vector<std::string> records;
  bool transaction;
  bool readOnly;
  int16_t status;
  size_t inserted;
};

class RecordManagerBulkTest : public ::testing::Test {
 protected:
  void TearDown() override {
    std::string none(4, '\0');
    uint32_t length = 0;
    BTRCALL(rm::kReset, nullptr, none.data(), &length, none.data(), 0, 0);
  }

  Outcome Run(const Case& c, const std::string& name, bool bulk) {
    Outcome o;
    std::string path = dir.file(name);
    RmFile file;
    EXPECT_EQ(file.Create(path, Layout()), 0);
    EXPECT_EQ(file.Open(path), 0);
    for (const std::string& r : c.before) EXPECT_EQ(file.Insert(r, -1), 0);
    RmFile writer;
    EXPECT_EQ(writer.Open(path, c.readOnly ? rm::kModeReadOnly : 0), 0);
    if (c.transaction) {
      EXPECT_EQ(Transaction(rm::kBeginTransaction), 0);
    }
    uint64_t trips = RecordServerRoundTrips();
    if (bulk) {
      o.status = InsertRecords(writer.block, c.records, &o.inserted);
    } else {
      o.status = rm::kOk;
      for (const std::string& r : c.records) {
        if ((o.status = writer.Insert(r, -1)) != rm::kOk) break;
        ++o.inserted;
      }
    }
    o.roundTrips = RecordServerRoundTrips() - trips;
    int32_t pos = writer.Position(&o.positionStatus);
    if (o.positionStatus == 0) writer.Direct(pos, -1, &o.current);
    if (c.transaction) {
      EXPECT_EQ(Transaction(rm::kEndTransaction), 0);
    }
    o.stored = Stored(file);
    if (o.positionStatus == 0 && !c.readOnly) {
      EXPECT_EQ(writer.Insert(Rec(60000), -1), 0);
      int16_t status = 0;
      o.nextInsertIsLast = writer.Position(&status) > pos;
    }
    return o;
  }

  test::TempDir dir;
};

TEST_F(RecordManagerBulkTest, InsertRecordsAnswersAsInsertOneByOne) {
  std::vector<std::string> clashInside = Numbered(0, 2500);
  clashInside.push_back(Rec(17));
  std::vector<std::string> shortOne = Numbered(0, 2200);
  shortOne[1500] = Rec(1500, 10);
  std::vector<std::string> longer;
  for (uint16_t n = 0; n < 1200; ++n) longer.push_back(Rec(n, kLength + 8));
  std::vector<Case> cases = {
      {"several batches", {Rec(9000)}, Numbered(0, 2600), true, false, rm::kOk, 2600},
      {"a clash with a stored record in the third batch",
       {Rec(2300)},
       Numbered(0, 2600),
       true,
       false,
       rm::kDuplicateKey,
       2300},
      {"a clash among the records", {}, clashInside, true, false, rm::kDuplicateKey, 2500},
      {"a record too short", {}, shortOne, true, false, rm::kDataBufferTooShort, 1500},
      {"longer records keep their first bytes", {}, longer, true, false, rm::kOk, 1200},
      // Few: each insert commits on its own.
      {"outside a transaction what went in stays",
       {Rec(20)},
       Numbered(0, 30),
       false,
       false,
       rm::kDuplicateKey,
       20},
      {"a read-only open", {}, Numbered(0, 10), true, true, rm::kAccessDenied, 0},
      {"nothing to insert", {Rec(1)}, {}, true, false, rm::kOk, 0},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ++n;
    Outcome bulk = Run(c, "bulk" + std::to_string(n) + ".dat", true);
    Outcome single = Run(c, "single" + std::to_string(n) + ".dat", false);
    EXPECT_EQ(bulk.status, c.status);
    EXPECT_EQ(bulk.inserted, c.inserted);
    EXPECT_EQ(single.status, c.status);
    EXPECT_EQ(single.inserted, c.inserted);
    EXPECT_EQ(bulk.stored.size(), single.stored.size());
    EXPECT_TRUE(bulk.stored == single.stored);
    EXPECT_EQ(bulk.positionStatus, single.positionStatus);
    EXPECT_EQ(bulk.current, single.current);
    EXPECT_EQ(bulk.nextInsertIsLast, single.nextInsertIsLast);
    // On the server a sound load inside a transaction goes in batches, not record by record.
    if (!RecordServerConnection().empty() && c.transaction && c.status == rm::kOk) {
      EXPECT_LT(bulk.roundTrips, c.records.size() / 100 + 10);
    }
  }
}

}  // namespace
}  // namespace kap
