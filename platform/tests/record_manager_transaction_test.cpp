// Transactions over several files: all or none, however they end, a process killed in the
// middle of its commits included.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <signal.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstdlib>
#include <random>
#include <set>
#include <thread>

#include "platform/record_manager.h"
#include "platform/tests/record_manager_support.h"
#include "testsupport/test_support.h"

namespace kap {
namespace {

using test::RmFile;

int16_t Call(int op) {
  char none[4] = {};
  uint32_t length = 0;
  return BTRCALL(op, nullptr, none, &length, none, 0, 0);
}

// 8-byte records keyed by a unique 4-byte binary id.
std::string Rec(uint32_t id) {
  std::string r(8, 'r');
  for (int i = 0; i < 4; ++i) r[i] = static_cast<char>((id >> (8 * i)) & 0xFF);
  return r;
}
std::string Id(uint32_t id) { return Rec(id).substr(0, 4); }

std::string MakeFile(const test::TempDir& dir, const std::string& name) {
  const std::string path = dir.file(name);
  RmFile f;
  EXPECT_EQ(f.Create(path, test::CreationBlock(8, {{{1, 4, 0x0004}}})), 0);
  return path;
}

// Every id in the file, by a scan in key order.
std::set<uint32_t> Ids(const std::string& path) {
  RmFile f;
  std::set<uint32_t> ids;
  if (f.Open(path) != 0) return {0xFFFFFFFF};
  std::string r;
  for (int16_t s = f.Get(rm::kGetFirst, 0, "", &r); s == 0; s = f.Get(rm::kGetNext, 0, "", &r))
    ids.insert(test::Get32(r, 0));
  f.Close();
  return ids;
}

class RecordManagerTransactionTest : public ::testing::Test {
 protected:
  void TearDown() override { Call(rm::kReset); }
  test::TempDir dir;
};

TEST_F(RecordManagerTransactionTest, EveryFileKeepsAllOrNothingHoweverTheTransactionEnds) {
  enum class End { kCommit, kAbort, kReset, kCloseThenAbort };
  struct Case {
    const char* what;
    End end;
    bool kept;
  };
  const std::vector<Case> cases = {{"end", End::kCommit, true},
                                   {"abort", End::kAbort, false},
                                   {"reset", End::kReset, false},
                                   {"a file closed, then abort", End::kCloseThenAbort, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string a = MakeFile(dir, std::string("a") + c.what),
                      b = MakeFile(dir, std::string("b") + c.what);
    RmFile fa, fb;
    ASSERT_EQ(fa.Open(a), 0);
    ASSERT_EQ(fb.Open(b), 0);
    ASSERT_EQ(Call(rm::kBeginTransaction), 0);
    ASSERT_EQ(fa.Insert(Rec(1)), 0);
    ASSERT_EQ(fb.Insert(Rec(2)), 0);
    ASSERT_EQ(fb.Insert(Rec(3)), 0);
    std::string r;
    EXPECT_EQ(fb.Get(rm::kGetEqual, 0, Id(2), &r), 0) << "a transaction reads its own writes";
    switch (c.end) {
      case End::kCommit:
        EXPECT_EQ(Call(rm::kEndTransaction), 0);
        break;
      case End::kAbort:
        EXPECT_EQ(Call(rm::kAbortTransaction), 0);
        break;
      case End::kReset:
        EXPECT_EQ(Call(rm::kReset), 0);
        break;
      case End::kCloseThenAbort:
        EXPECT_EQ(fa.Close(), 0);
        EXPECT_EQ(Call(rm::kAbortTransaction), 0);
        break;
    }
    EXPECT_EQ(Ids(a), c.kept ? std::set<uint32_t>{1} : std::set<uint32_t>{});
    EXPECT_EQ(Ids(b), c.kept ? std::set<uint32_t>({2, 3}) : std::set<uint32_t>{});
    Call(rm::kReset);
  }
}

TEST_F(RecordManagerTransactionTest, TwoHandlesOfOneFileWriteInOneTransaction) {
  const std::string a = MakeFile(dir, "a.dat");
  RmFile first, second;
  ASSERT_EQ(first.Open(a), 0);
  ASSERT_EQ(second.Open(a), 0);
  ASSERT_EQ(Call(rm::kBeginTransaction), 0);
  ASSERT_EQ(first.Insert(Rec(1)), 0);
  ASSERT_EQ(second.Insert(Rec(2)), 0);
  std::string r;
  EXPECT_EQ(second.Get(rm::kGetEqual, 0, Id(1), &r), 0);
  ASSERT_EQ(Call(rm::kAbortTransaction), 0);
  EXPECT_EQ(Ids(a), std::set<uint32_t>{});
}

TEST_F(RecordManagerTransactionTest, AFileOpenedAfterTheFirstWriteCannotJoin) {
  if (std::getenv("KAP_TEST_ENGINE") != nullptr)
    GTEST_SKIP() << "the server has every file at hand";
  const std::string a = MakeFile(dir, "a.dat"), b = MakeFile(dir, "b.dat");
  RmFile fa, fb;
  ASSERT_EQ(fa.Open(a), 0);
  ASSERT_EQ(Call(rm::kBeginTransaction), 0);
  ASSERT_EQ(fa.Insert(Rec(1)), 0);
  ASSERT_EQ(fb.Open(b), 0);
  EXPECT_EQ(fb.Insert(Rec(2)), rm::kTransactionTooManyFiles);
  ASSERT_EQ(Call(rm::kEndTransaction), 0);
  EXPECT_EQ(fb.Insert(Rec(2)), 0) << "outside the transaction it writes again";
  EXPECT_EQ(Ids(a), std::set<uint32_t>{1});
}

#ifndef _WIN32
// Which of the transactions from `first` on a file holds (each writes ids t*100 .. t*100+19);
// a transaction found in part is marked 'P'.
std::string Transactions(const std::string& path, uint32_t first, uint32_t count) {
  RmFile f;
  if (f.Open(path) != 0) return "cannot open";
  std::string held;
  for (uint32_t t = first; t < first + count; ++t) {
    std::string r;
    const bool head = f.Get(rm::kGetEqual, 0, Id(t * 100), &r) == 0;
    const bool tail = f.Get(rm::kGetEqual, 0, Id(t * 100 + 19), &r) == 0;
    held += head && tail ? 'Y' : head || tail ? 'P' : '-';
  }
  f.Close();
  return held;
}

// A writer of two files killed at random moments, its commits included: each file holds the
// same transactions, and every acknowledged one.
TEST_F(RecordManagerTransactionTest, KilledDuringCommitsBothFilesOrNeither) {
  const std::string a = MakeFile(dir, "a.dat"), b = MakeFile(dir, "b.dat");
  constexpr int kKills = 30;
  std::mt19937 random(20261210);
  uint32_t next = 1;
  int acknowledged = 0;
  for (int kill = 0; kill < kKills; ++kill) {
    int acks[2];
    ASSERT_EQ(pipe(acks), 0);
    const uint32_t start = next;
    const int pid = test::ForkChild([&] {
      close(acks[0]);
      RmFile fa, fb;
      if (fa.Open(a) != 0 || fb.Open(b) != 0) return 1;
      for (uint32_t t = start;; ++t) {
        if (Call(rm::kBeginTransaction) != 0) return 2;
        for (uint32_t i = 0; i < 20; ++i) {
          if (fa.Insert(Rec(t * 100 + i)) != 0 || fb.Insert(Rec(t * 100 + i)) != 0) return 3;
        }
        if (Call(rm::kEndTransaction) != 0) return 4;
        if (write(acks[1], &t, 4) != 4) return 5;
      }
    });
    close(acks[1]);
    // Killed anywhere within the next three transactions, commits included.
    uint32_t t = 0, last = 0;
    ASSERT_EQ(read(acks[0], &t, 4), 4) << "the writer failed at once";
    const auto first = std::chrono::steady_clock::now();
    ASSERT_EQ(read(acks[0], &last, 4), 4);
    const auto each = std::chrono::steady_clock::now() - first;
    std::uniform_int_distribution<int64_t> pause(0, 3 * each.count());
    std::this_thread::sleep_for(std::chrono::steady_clock::duration(pause(random)));
    ::kill(pid, SIGKILL);
    while (read(acks[0], &t, 4) == 4) last = t;
    close(acks[0]);
    test::WaitChildAndItsSessions(pid);
    acknowledged += static_cast<int>(last - start + 1);
    const uint32_t span = last - start + 4;
    const std::string inA = Transactions(a, start, span);
    ASSERT_EQ(inA, Transactions(b, start, span)) << "after kill " << kill;
    ASSERT_EQ(inA.find('P'), std::string::npos);
    ASSERT_EQ(inA.substr(0, last - start + 1), std::string(last - start + 1, 'Y'));
    next = start + static_cast<uint32_t>(inA.find_last_of('Y')) + 1;
  }
  EXPECT_GE(acknowledged, 2 * kKills);
}
#endif  // _WIN32: no fork there

}  // namespace
}  // namespace kap
