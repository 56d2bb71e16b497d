// Shared set-up of the lock tests: the real POSIX Os (real files, real exclusive opens) with
// a hand-moved clock and shortened waits, and a switch between terminals.
#pragma once

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "locking/lock_files.h"
#include "platform/os.h"
#include "platform/record_manager.h"
#include "platform/text.h"
#include "session/session.h"
#include "testsupport/test_support.h"

namespace kap::locktest {

constexpr int64_t kStartMinutes = 29455800;  // 2 January 2026 10:00

class TestOs : public OsWrapper {
 public:
  TestOs() : OsWrapper(&PosixOs()) {}
  int64_t minutes = kStartMinutes;
  int minutesPerSleep = 0;  // the clock moves on with every wait
  int microsPerMs = 0;      // real pause per millisecond asked: 0 none, -1 only a yield
  std::vector<int> sleeps;  // every wait asked for
  std::function<void()> onSleep;

  LocalTime Now() override {
    using namespace std::chrono;
    const year_month_day ymd{sys_days{days{minutes / 1440}}};
    LocalTime t;
    t.year = static_cast<int>(ymd.year());
    t.month = static_cast<int>(static_cast<unsigned>(ymd.month()));
    t.day = static_cast<int>(static_cast<unsigned>(ymd.day()));
    t.hour = static_cast<int>(minutes % 1440 / 60);
    t.minute = static_cast<int>(minutes % 60);
    return t;
  }
  void SleepMs(int ms) override {
    sleeps.push_back(ms);
    minutes += minutesPerSleep;
    if (onSleep) onSleep();
    if (microsPerMs > 0) usleep(static_cast<useconds_t>(ms) * microsPerMs);
    if (microsPerMs < 0) sched_yield();
  }
};

// An installation root with its LOCKS directory and any number of terminals (working
// directories, hence identities); Terminal(n) makes this process terminal n.
class LockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSession();
    SetOs(&os_);
    CurrentSession().RootDir = root_.path() + "/";
    Terminal(1);
  }
  void TearDown() override {
    SetOs(nullptr);
    ResetLockStateAndMarks();
    ResetSession();
  }

  // Under the installation in use: a child process runs in its parent's.
  std::string TerminalDir(int n) const {
    return CurrentSession().RootDir + "T" + std::to_string(n);
  }
  void Terminal(int n) {
    test::MakeDirs(TerminalDir(n));
    CurrentSession().WorkDir = TerminalDir(n) + "\\";
    const std::string mode = LockWaitMode();
    ResetLockState();
    LockWaitMode() = mode;
    SetLockMessageSink(
        {[this](const std::string& text) { shown_.push_back(text); }, [this] { ++hidden_; }});
  }

  std::string LockPath(const std::string& name) const { return root_.file("LOCKS/" + name); }
  // The lock file's bytes wherever the installation keeps its lock files.
  std::string Bytes(const std::string& name) const {
    return test::LockFileBytes(root_.path(), name);
  }
  // Writes a lock file's bytes by hand (another program's, or a damaged one) wherever the
  // installation keeps its lock files.
  void WriteLockFile(const std::string& name, const std::string& bytes) const {
    test::WriteLockFileBytes(root_.path(), name, bytes);
  }
  std::vector<LockEntry> Entries(const std::string& name) const {
    const std::string bytes = Bytes(name);
    std::vector<LockEntry> out;
    for (size_t at = 0; at + kLockEntrySize <= bytes.size(); at += kLockEntrySize) {
      out.push_back(LockEntry::Parse(bytes.substr(at, kLockEntrySize)));
    }
    return out;
  }
  std::string Key(const LockEntry& e) const { return e.fromKey.substr(0, 4); }

  test::TempDir root_;
  TestOs os_;
  std::vector<std::string> shown_;
  int hidden_ = 0;
};

}  // namespace kap::locktest
