// Transactions over two files: all or nothing, the statuses of misplaced calls, no wait inside
// one, and the runner that undoes and repeats a transaction that meets a lock.
#include <cstring>

#include "data/tests/data_test_support.h"

namespace kap {
namespace {

using test::DataTest;
using test::OwnRecord;

class TransactionTest : public DataTest {
 protected:
  void SetUp() override {
    DataTest::SetUp();
    test::WriteFile(dir.file("ddf/TWO.xdf"), test::Dictionary(test::OwnBlock()));
    ASSERT_EQ(OpenOwn(1, one), 0);
    ASSERT_EQ(OpenOwn(2, two, 24, "DADES\\TWO"), 0);
  }
  // Inserts record `number` into both files.
  int16_t InsertInBoth(uint16_t number) {
    int16_t status = 0;
    for (int16_t file : {1, 2}) {
      std::string r = OwnRecord(number, "T");
      std::memcpy(file == 1 ? one : two, r.data(), r.size());
      InsertRecord(file, status);
      if (status != 0) return status;
    }
    return status;
  }
  bool Has(int16_t file, uint16_t number) {
    int16_t status = 0;
    FindRecord(file, 0, std::string{static_cast<char>(number), '\0'}, find_mode::kEqual, status);
    return status == 0;
  }
  char one[24], two[24];
};

TEST_F(TransactionTest, EndKeepsBothFilesAbortNeitherAndMisplacedCallsAreRefused) {
  int16_t status = -1;
  EndTransaction(status);
  EXPECT_EQ(status, rm::kNoTransaction);
  AbortTransaction(status);
  EXPECT_EQ(status, rm::kNoTransaction);

  // Record 1 written and aborted, record 2 written and ended.
  for (uint16_t number : {1, 2}) {
    const bool end = number == 2;
    BeginTransaction(status);
    ASSERT_EQ(status, 0);
    BeginTransaction(status);
    EXPECT_EQ(status, rm::kTransactionActive);
    ASSERT_EQ(InsertInBoth(number), 0);
    if (end) {
      EndTransaction(status);
    } else {
      AbortTransaction(status);
    }
    EXPECT_EQ(status, 0);
    EXPECT_EQ(Has(1, number), end);
    EXPECT_EQ(Has(2, number), end);
  }
  EndTransaction(status);
  EXPECT_EQ(status, rm::kNoTransaction) << "the End closed it";
}

// Entry 3 holds record 1 of file 1 with a record lock; file 1 writes in the waiting mode.
TEST_F(TransactionTest, AWaitingWriteInsideATransactionAnswersTheLockAtOnce) {
  ASSERT_EQ(InsertInBoth(1), 0);
  char held[24];
  ASSERT_EQ(OpenOwn(3, held), 0);
  int16_t status = 0;
  SetLockMode(3, "B", status);
  FindRecord(3, 0, std::string("\x01\x00", 2), find_mode::kEqual, status);
  ASSERT_EQ(status, 0);

  FindRecord(1, 0, std::string("\x01\x00", 2), find_mode::kEqual, status);
  ASSERT_EQ(status, 0);  // read without a lock: the record is not locked by file 1 itself
  SetLockMode(1, "A", status);
  BeginTransaction(status);
  ASSERT_EQ(status, 0);
  one[5] = 'U';
  UpdateRecord(1, status);
  EXPECT_EQ(status, rm::kRecordLocked);
  EXPECT_TRUE(os.sleeps.empty()) << "no wait while the transaction holds its files";
  AbortTransaction(status);
  EXPECT_EQ(status, 0);
}

TEST_F(TransactionTest, RunTransactionRepeatsAfterALockAndStopsAtAnyOtherRefusal) {
  struct Case {
    std::vector<int16_t> answers;  // what `work` answers, attempt by attempt
    int16_t result;
    size_t sleeps;
    bool message;  // the waiting message was on screen during an attempt (from the second)
  };
  const std::vector<Case> cases = {
      {{0}, 0, 0, false},
      {{rm::kRecordLocked, rm::kFileLocked, 0}, 0, 2, true},
      {{rm::kRecordLocked, 0}, 0, 1, true},
      {{rm::kDuplicateKey}, rm::kDuplicateKey, 0, false},
      {{rm::kRecordLocked, rm::kRecordChanged}, rm::kRecordChanged, 1, true},
  };
  uint16_t number = 10;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.answers));
    os.sleeps.clear();
    size_t attempt = 0;
    bool message = false;
    std::vector<uint16_t> written;
    int16_t result = RunTransaction([&]() -> int16_t {
      message = message ||
                DefaultMemoryConsole().ScreenText().find("FITXER BLOQUEJAT") != std::string::npos;
      written.push_back(++number);
      if (int16_t status = InsertInBoth(number)) return status;
      return c.answers[attempt++];
    });
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(attempt, c.answers.size());
    EXPECT_EQ(os.sleeps.size(), c.sleeps);
    EXPECT_EQ(message, c.message);
    EXPECT_EQ(CurrentWindow().depth, 0) << "the message is gone";
    // Only a last attempt that answered 0 stays, in both files.
    for (size_t i = 0; i < written.size(); ++i) {
      const bool kept = i + 1 == written.size() && c.result == 0;
      EXPECT_EQ(Has(1, written[i]), kept) << written[i];
      EXPECT_EQ(Has(2, written[i]), kept) << written[i];
    }
    int16_t status = 0;
    EndTransaction(status);
    EXPECT_EQ(status, rm::kNoTransaction) << "no transaction left open";
  }
}

}  // namespace
}  // namespace kap
