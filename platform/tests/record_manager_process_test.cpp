// The record manager between real processes: record locks seen across processes and freed
// when the holder ends, concurrent writers losing nothing, and a writer killed mid-stream.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <set>
#include <thread>

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

int16_t Transaction(int op) {
  char none[4] = {};
  uint32_t length = 0;
  return BTRCALL(op, nullptr, none, &length, none, 0, 0);
}

// The children's parts. Each is told the file ("path") and, for a holding child, where to say
// it is ready ("ready") and what to wait for before it lets go ("go").
int HoldRecordTwo(const test::ChildArgs& args) {
  RmFile f;
  std::string r;
  return f.Open(args.at("path")) != 0 || f.Get(rm::kGetEqual + 200, 0, Id(2), &r) != 0 ? 1 : 0;
}

int OpenExclusively(const test::ChildArgs& args) {
  RmFile f;
  return f.Open(args.at("path"), rm::kModeExclusive) != 0 ? 1 : 0;
}

int InsertInATransaction(const test::ChildArgs& args) {
  RmFile f;
  if (f.Open(args.at("path")) != 0 || Transaction(rm::kBeginTransaction) != 0) return 1;
  if (Transaction(rm::kBeginTransaction) != rm::kTransactionActive) return 2;
  if (f.Insert(Rec(50)) != 0 || f.Insert(Rec(51)) != 0) return 3;
  return 0;
}

int EndTheTransaction(const test::ChildArgs& args) {
  return Transaction(args.count("commit") ? rm::kEndTransaction : rm::kAbortTransaction) == 0 ? 0
                                                                                              : 5;
}

// Does `setUp` (0 when done), says so, and holds on to what it took (a lock, an exclusive open,
// a transaction) until told to go or killed; `finish` then gives its exit code.
int Holding(const test::ChildArgs& args, int (*setUp)(const test::ChildArgs&),
            int (*finish)(const test::ChildArgs&) = nullptr) {
  const int code = setUp(args);
  if (code != 0) return code;
  test::WriteFile(args.at("ready"), "1");
  while (!test::FileExists(args.at("go")))
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  return finish ? finish(args) : 0;  // ends without closing anything
}

// Inserts records 1, 2, ... and writes each id to the "acks" file once its insert is answered.
int InsertAndAcknowledge(const test::ChildArgs& args) {
  RmFile f;
  if (f.Open(args.at("path")) != 0) return 1;
  std::FILE* acks = std::fopen(args.at("acks").c_str(), "wb");
  if (!acks) return 4;
  for (uint32_t id = 1;; ++id) {
    if (f.Insert(Rec(id, id * 3)) != 0) return 2;
    if (std::fwrite(&id, 4, 1, acks) != 1 || std::fflush(acks) != 0) return 3;
  }
}

// Adds one to the counter in record 1, "each" times, besides an insert of its own each time.
int CountWithOthers(const test::ChildArgs& args) {
  RmFile f;
  if (f.Open(args.at("path")) != 0) return 1;
  const uint32_t worker = static_cast<uint32_t>(std::stoul(args.at("worker")));
  for (int i = 0, each = std::stoi(args.at("each")); i < each; ++i) {
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
}

const std::map<std::string, test::ChildRoleBody> kRoles = {
    {"lock", [](const test::ChildArgs& a) { return Holding(a, HoldRecordTwo); }},
    {"exclusive", [](const test::ChildArgs& a) { return Holding(a, OpenExclusively); }},
    {"transaction",
     [](const test::ChildArgs& a) { return Holding(a, InsertInATransaction, EndTheTransaction); }},
    {"insert", InsertAndAcknowledge},
    {"count", CountWithOthers},
};

// A child of one of the roles above that holds on to what it took; it fails the test, with its
// exit code, when it ends before it is ready.
class HoldingChild {
 public:
  HoldingChild(const test::TempDir& dir, const std::string& role, test::ChildArgs args)
      : ready_(dir.file("ready")), go_(dir.file("go")) {
    args["ready"] = ready_;
    args["go"] = go_;
    child_ = std::make_unique<test::ChildProcess>(role, args, kRoles.at(role));
  }

  bool WaitReady() {
    while (!test::FileExists(ready_)) {
      if (!child_->Running()) {
        ADD_FAILURE() << "child failed with " << Wait();
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
  }
  void Release() { test::WriteFile(go_, "1"); }
  void Kill() { child_->Kill(); }
  int Wait() { return child_->Wait(); }

 private:
  std::string ready_, go_;
  std::unique_ptr<test::ChildProcess> child_;
};

class RecordManagerProcessTest : public ::testing::Test {
 protected:
  void SetUp() override { test::RunChildRole(kRoles); }
};

TEST_F(RecordManagerProcessTest, LockHeldByAnotherProcessUntilItEnds) {
  for (bool kill : {false, true}) {
    SCOPED_TRACE(kill ? "holder killed" : "holder exits");
    test::TempDir dir;
    std::string path = MakeFile(dir, 3);
    HoldingChild child(dir, "lock", {{"path", path}});
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

TEST_F(RecordManagerProcessTest, ExclusiveOpenInAnotherProcessGives85) {
  test::TempDir dir;
  std::string path = MakeFile(dir, 1);
  HoldingChild child(dir, "exclusive", {{"path", path}});
  ASSERT_TRUE(child.WaitReady());
  RmFile f;
  EXPECT_EQ(f.Open(path), rm::kFileLocked);
  child.Kill();
  child.Wait();
  EXPECT_EQ(f.Open(path), 0);
  ResetAll();
}

TEST_F(RecordManagerProcessTest, TransactionHoldsTheFileAgainstOtherWriters) {
  EXPECT_EQ(Transaction(rm::kEndTransaction), rm::kNoTransaction);
  for (bool commit : {false, true}) {
    SCOPED_TRACE(commit ? "committed" : "aborted");
    test::TempDir dir;
    std::string path = MakeFile(dir, 1);
    test::ChildArgs args = {{"path", path}};
    if (commit) args["commit"] = "1";
    HoldingChild child(dir, "transaction", args);
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

TEST_F(RecordManagerProcessTest, ConcurrentWritersLoseNothing) {
  test::TempDir dir;
  std::string path = MakeFile(dir, 1);  // record 1 is the shared counter
  constexpr int kEach = 150;
  std::vector<std::unique_ptr<test::ChildProcess>> workers;
  for (int worker = 0; worker < 2; ++worker) {
    workers.push_back(std::make_unique<test::ChildProcess>(
        "count",
        test::ChildArgs{
            {"path", path}, {"worker", std::to_string(worker)}, {"each", std::to_string(kEach)}},
        CountWithOthers));
  }
  for (auto& worker : workers) EXPECT_EQ(worker->Wait(), 0);
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

TEST_F(RecordManagerProcessTest, KilledWriterKeepsEveryAcknowledgedInsert) {
  test::TempDir dir;
  std::string path = MakeFile(dir, 0);
  const std::string acks = dir.file("acks");
  test::ChildProcess writer("insert", {{"path", path}, {"acks", acks}}, InsertAndAcknowledge);
  ASSERT_TRUE(test::Eventually([&] { return test::ReadFile(acks).size() >= 300 * 4; },
                               std::chrono::seconds(60)));
  writer.Kill();
  writer.Wait();
  // Every whole id in the file was answered; a piece cut short by the kill was not.
  const std::string written = test::ReadFile(acks);
  std::set<uint32_t> acknowledged;
  for (size_t at = 0; at + 4 <= written.size(); at += 4)
    acknowledged.insert(test::Get32(written, at));

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
