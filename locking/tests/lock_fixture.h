// Shared set-up of the lock tests: an Os with a hand-moved clock and shortened waits over the
// real POSIX one (real files, real exclusive opens), and a terminal switcher.
#pragma once

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "locking/lock_files.h"
#include "platform/os.h"
#include "session/session.h"
#include "testsupport/test_support.h"

namespace kap::locktest {

// 2 January 2026 10:00 local time, in minutes since 1970.
constexpr int64_t kStartMinutes = 29455800;

inline LocalTime TimeOfMinutes(int64_t minutes) {
  using namespace std::chrono;
  const sys_days day{days{minutes / 1440}};
  const year_month_day ymd{day};
  LocalTime t;
  t.year = static_cast<int>(ymd.year());
  t.month = static_cast<int>(static_cast<unsigned>(ymd.month()));
  t.day = static_cast<int>(static_cast<unsigned>(ymd.day()));
  t.hour = static_cast<int>(minutes % 1440 / 60);
  t.minute = static_cast<int>(minutes % 60);
  return t;
}

class TestOs : public OsWrapper {
 public:
  TestOs() : OsWrapper(&PosixOs()) {}
  int64_t minutes = kStartMinutes;
  int hundredths = 0;
  int minutesPerSleep = 0;      // the clock moves on with every wait
  // Real time slept per requested millisecond, in microseconds; 0 none, -1 a yield only.
  int microsPerMs = 0;
  std::vector<int> sleeps;      // every wait requested
  std::function<void()> onSleep;

  LocalTime Now() override {
    LocalTime t = TimeOfMinutes(minutes);
    t.hundredths = hundredths;
    return t;
  }
  void SleepMs(int ms) override {
    sleeps.push_back(ms);
    minutes += minutesPerSleep;
    if (onSleep) onSleep();
    if (microsPerMs > 0) {
      usleep(static_cast<useconds_t>(ms) * microsPerMs);
    } else if (microsPerMs < 0) {
      sched_yield();  // no pause at all, only let the others run
    }
  }
};

// Each test gets an installation root with its own LOCKS directory and any number of
// terminals (working directories); Terminal(n) makes this process terminal n.
class LockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSession();
    ResetLockState();
    SetOs(&os_);
    CurrentSession().RootDir = root_.path() + "/";
    Terminal(1);
    SetLockMessageSink({[this](const std::string& text) { shown_.push_back(text); },
                        [this] { ++hidden_; }});
  }
  void TearDown() override {
    SetOs(nullptr);
    ResetLockState();
    ResetSession();
  }

  std::string TerminalDir(int n) const { return root_.file("T" + std::to_string(n)); }

  // Becomes terminal n: its working directory, and its identity read anew from LOCKS.TMP.
  void Terminal(int n) {
    test::MakeDirs(TerminalDir(n));
    CurrentSession().WorkDir = TerminalDir(n) + "\\";
    const std::string mode = LockWaitMode();
    ResetLockState();
    LockWaitMode() = mode;
    SetLockMessageSink({[this](const std::string& text) { shown_.push_back(text); },
                        [this] { ++hidden_; }});
  }

  std::string LockPath(const std::string& name) const { return root_.file("LOCKS/" + name); }
  std::string Bytes(const std::string& name) const { return test::ReadFile(LockPath(name)); }
  std::vector<LockEntry> Entries(const std::string& name) const {
    const std::string bytes = Bytes(name);
    std::vector<LockEntry> out;
    for (size_t at = 0; at + kLockEntrySize <= bytes.size(); at += kLockEntrySize) {
      out.push_back(LockEntry::Parse(bytes.substr(at, kLockEntrySize)));
    }
    return out;
  }
  std::string Number() { return std::to_string(CurrentLockIdentity().number); }

  test::TempDir root_;
  TestOs os_;
  std::vector<std::string> shown_;
  int hidden_ = 0;
};

}  // namespace kap::locktest
