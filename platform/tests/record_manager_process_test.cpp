// The record manager between real processes: record locks seen across processes and freed
// when the holder ends, concurrent writers losing nothing, and a writer killed mid-stream.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <set>

#include "platform/record_manager.h"
#include "platform/tests/record_manager_support.h"
#include "testsupport/test_support.h"

namespace kap {
namespace {

using test::RmFile;

void ResetAll() {
  char none[4] = {};
  uint32_t length = 0;
  BTRCALL(rm::kReset, nullptr, none, &length, none, 0, 0);
}

std::string Rec(uint32_t id, uint32_t value = 0) {
  std::string r(12, ' ');
  for (int i = 0; i < 4; ++i) {
    r[i] = static_cast<char>((id >> (8 * i)) & 0xFF);
    r[4 + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  }
  return r;
}
std::string Id(uint32_t id) { return Rec(id).substr(0, 4); }

// A file of 12-byte records keyed by a 4-byte unique binary id; the caller's handles are all
// closed afterwards so a child starts with nothing inherited.
std::string MakeFile(const test::TempDir& dir, int records) {
  std::string path = dir.file("shared.dat");
  RmFile f;
  EXPECT_EQ(f.Create(path, test::CreationBlock(12, {{{1, 4, 0x0004}}})), 0);
  EXPECT_EQ(f.Open(path), 0);
  for (int i = 1; i <= records; ++i) EXPECT_EQ(f.Insert(Rec(static_cast<uint32_t>(i))), 0);
  ResetAll();
  return path;
}

bool ReadByte(int fd, char* c) {
  for (;;) {
    ssize_t n = read(fd, c, 1);
    if (n == 1) return true;
    if (n < 0 && errno == EINTR) continue;
    return false;
  }
}

// A child process that does its part (`setUp`: 0 when done), tells the parent, and holds on to
// what it took (a lock, an exclusive open, a transaction) until released or killed; `finish`
// then gives its exit code. Each side closes the pipe ends it does not use, so a child that
// fails before it is ready ends the parent's wait at once instead of hanging it.
class HoldingChild {
 public:
  explicit HoldingChild(
      const std::function<int()>& setUp, const std::function<int()>& finish = [] { return 0; }) {
    if (pipe(ready_) != 0 || pipe(go_) != 0) std::abort();
    pid_ = test::ForkChild([&] {
      close(ready_[0]);
      close(go_[1]);
      int code = setUp();
      if (code != 0) return code;
      char c = 'R';
      if (write(ready_[1], &c, 1) != 1) return 100;
      ReadByte(go_[0], &c);  // hold on until told (or killed)
      return finish();       // ends without closing anything
    });
    close(ready_[1]);
    close(go_[0]);
  }
  ~HoldingChild() {
    close(ready_[0]);
    close(go_[1]);
    if (!waited_) {
      Kill();
      Wait();
    }
  }
  HoldingChild(const HoldingChild&) = delete;
  HoldingChild& operator=(const HoldingChild&) = delete;

  // True once the child is ready; false, with the child's exit code reported, when it failed.
  bool WaitReady() {
    char c = 0;
    if (ReadByte(ready_[0], &c)) return true;
    ADD_FAILURE() << "child failed with " << Wait();
    return false;
  }
  void Release() { EXPECT_EQ(write(go_[1], "g", 1), 1); }
  void Kill() { ::kill(pid_, SIGKILL); }
  int Wait() {
    waited_ = true;
    return test::WaitChildAndItsSessions(pid_);
  }

 private:
  int ready_[2] = {-1, -1};
  int go_[2] = {-1, -1};
  int pid_ = -1;
  bool waited_ = false;
};

TEST(RecordManagerProcessTest, LockHeldByAnotherProcessUntilItEnds) {
  for (bool kill : {false, true}) {
    SCOPED_TRACE(kill ? "holder killed" : "holder exits");
    test::TempDir dir;
    std::string path = MakeFile(dir, 3);
    HoldingChild child([&] {
      RmFile f;
      std::string r;
      return f.Open(path) != 0 || f.Get(rm::kGetEqual + 200, 0, Id(2), &r) != 0 ? 1 : 0;
    });
    ASSERT_TRUE(child.WaitReady());
    RmFile f;
    ASSERT_EQ(f.Open(path), 0);
    std::string r;
    EXPECT_EQ(f.Get(rm::kGetEqual + 200, 0, Id(2), &r), rm::kRecordLocked);
    EXPECT_EQ(f.Get(rm::kGetEqual + 400, 0, Id(2), &r), rm::kRecordLocked);
    ASSERT_EQ(f.Get(rm::kGetEqual, 0, Id(2), &r), 0);
    EXPECT_EQ(f.Update(Rec(2, 7)), rm::kRecordLocked);
    EXPECT_EQ(f.Delete(), rm::kRecordLocked);
    EXPECT_EQ(f.Get(rm::kGetEqual + 200, 0, Id(3), &r), 0);  // only that record
    if (kill) {
      child.Kill();
    } else {
      child.Release();
    }
    child.Wait();
    EXPECT_EQ(f.Get(rm::kGetEqual + 200, 0, Id(2), &r), 0);
    EXPECT_EQ(f.Update(Rec(2, 7)), 0);
    ResetAll();
  }
}

TEST(RecordManagerProcessTest, ExclusiveOpenInAnotherProcessGives85) {
  test::TempDir dir;
  std::string path = MakeFile(dir, 1);
  HoldingChild child([&] {
    RmFile f;
    return f.Open(path, rm::kModeExclusive) != 0 ? 1 : 0;
  });
  ASSERT_TRUE(child.WaitReady());
  RmFile f;
  EXPECT_EQ(f.Open(path), rm::kFileLocked);
  child.Kill();
  child.Wait();
  EXPECT_EQ(f.Open(path), 0);
  ResetAll();
}

int16_t Transaction(int op) {
  char none[4] = {};
  uint32_t length = 0;
  return BTRCALL(op, nullptr, none, &length, none, 0, 0);
}

TEST(RecordManagerProcessTest, TransactionHoldsTheFileAgainstOtherWriters) {
  EXPECT_EQ(Transaction(rm::kEndTransaction), rm::kNoTransaction);
  for (bool commit : {false, true}) {
    SCOPED_TRACE(commit ? "committed" : "aborted");
    test::TempDir dir;
    std::string path = MakeFile(dir, 1);
    HoldingChild child(
        [&] {
          RmFile f;
          if (f.Open(path) != 0 || Transaction(rm::kBeginTransaction) != 0) return 1;
          if (Transaction(rm::kBeginTransaction) != rm::kTransactionActive) return 2;
          if (f.Insert(Rec(50)) != 0 || f.Insert(Rec(51)) != 0) return 3;
          return 0;
        },
        [&] {
          return Transaction(commit ? rm::kEndTransaction : rm::kAbortTransaction) == 0 ? 0 : 5;
        });
    if (!child.WaitReady()) continue;
    RmFile f;
    ASSERT_EQ(f.Open(path), 0);
    std::string r;
    EXPECT_EQ(f.Insert(Rec(60)), rm::kFileLocked);
    EXPECT_EQ(f.Get(rm::kGetEqual, 0, Id(50), &r), rm::kKeyNotFound);  // not yet visible
    ASSERT_EQ(f.Get(rm::kGetEqual, 0, Id(1), &r), 0);                  // reads go on
    EXPECT_EQ(f.Update(Rec(1, 5)), rm::kFileLocked);
    child.Release();
    EXPECT_EQ(child.Wait(), 0);
    EXPECT_EQ(f.Get(rm::kGetEqual, 0, Id(51), &r), commit ? 0 : rm::kKeyNotFound);
    EXPECT_EQ(f.Insert(Rec(60)), 0);
    ResetAll();
  }
}

TEST(RecordManagerProcessTest, ConcurrentWritersLoseNothing) {
  test::TempDir dir;
  std::string path = MakeFile(dir, 1);  // record 1 is the shared counter
  constexpr int kEach = 150;
  std::vector<int> pids;
  for (uint32_t worker = 0; worker < 2; ++worker) {
    pids.push_back(test::ForkChild([&, worker] {
      RmFile f;
      if (f.Open(path) != 0) return 1;
      for (int i = 0; i < kEach; ++i) {
        if (f.Insert(Rec(1000 + worker * 10000 + static_cast<uint32_t>(i))) != 0) return 2;
        // Read, add one, write back; a concurrent change is answered 80: read again.
        for (;;) {
          std::string r;
          if (f.Get(rm::kGetEqual, 0, Id(1), &r) != 0) return 3;
          uint32_t value = test::Get32(r, 4);
          int16_t s = f.Update(Rec(1, value + 1));
          if (s == 0) break;
          if (s != rm::kRecordChanged) return 4;
        }
      }
      return 0;
    }));
  }
  for (int pid : pids) EXPECT_EQ(test::WaitChild(pid), 0);
  RmFile f;
  ASSERT_EQ(f.Open(path), 0);
  std::string r;
  ASSERT_EQ(f.Get(rm::kGetEqual, 0, Id(1), &r), 0);
  EXPECT_EQ(test::Get32(r, 4), 2u * kEach);
  std::string stat(4096, '\0'), key(255, '\0');
  ASSERT_EQ(f.Call(rm::kStat, &stat, &key, 0), 0);
  EXPECT_EQ(test::Get32(stat, 6), 1u + 2 * kEach);
  ResetAll();
}

TEST(RecordManagerProcessTest, KilledWriterKeepsEveryAcknowledgedInsert) {
  test::TempDir dir;
  std::string path = MakeFile(dir, 0);
  int acks[2];
  ASSERT_EQ(pipe(acks), 0);
  int pid = test::ForkChild([&] {
    RmFile f;
    if (f.Open(path) != 0) return 1;
    for (uint32_t id = 1;; ++id) {
      if (f.Insert(Rec(id, id * 3)) != 0) return 2;
      if (write(acks[1], &id, 4) != 4) return 3;
    }
  });
  close(acks[1]);
  std::set<uint32_t> acknowledged;
  uint32_t id = 0;
  while (acknowledged.size() < 300 && read(acks[0], &id, 4) == 4) acknowledged.insert(id);
  ::kill(pid, SIGKILL);
  while (read(acks[0], &id, 4) == 4) acknowledged.insert(id);
  test::WaitChild(pid);
  close(acks[0]);

  RmFile f;
  ASSERT_EQ(f.Open(path), 0);
  for (uint32_t want : acknowledged) {
    std::string r;
    ASSERT_EQ(f.Get(rm::kGetEqual, 0, Id(want), &r), 0) << want;
    EXPECT_EQ(test::Get32(r, 4), want * 3) << want;
  }
  // The file still takes writes after the crash.
  EXPECT_EQ(f.Insert(Rec(999999)), 0);
  ResetAll();
}

}  // namespace
}  // namespace kap
