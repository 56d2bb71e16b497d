// Real processes on real lock files: mutual exclusion under contention, and a holder killed
// without unlocking.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "locking/tests/lock_fixture.h"

namespace kap::locktest {
namespace {

// Waits for every child; kills the ones still running after `limit`. Returns the exit codes
// (-1 for a child ended by a signal or killed).
std::vector<int> WaitAll(const std::vector<int>& pids, std::chrono::seconds limit) {
  std::vector<int> codes(pids.size(), -2);
  const auto deadline = std::chrono::steady_clock::now() + limit;
  size_t left = pids.size();
  while (left > 0) {
    for (size_t i = 0; i < pids.size(); ++i) {
      if (codes[i] != -2) continue;
      int status = 0;
      if (waitpid(pids[i], &status, WNOHANG) == pids[i]) {
        codes[i] = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        --left;
      }
    }
    if (left > 0 && std::chrono::steady_clock::now() > deadline) {
      for (size_t i = 0; i < pids.size(); ++i) {
        if (codes[i] == -2) {
          kill(pids[i], SIGKILL);
          waitpid(pids[i], nullptr, 0);
          codes[i] = -1;
        }
      }
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return codes;
}

bool WaitForFile(const std::string& path, std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!test::FileExists(path)) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

TEST_F(LockTest, ContendingTerminalsNeverHoldTheSameKeyTogether) {
  constexpr int kTerminals = 4;
  constexpr int kRounds = 500;
  const std::string counter = root_.file("counter");
  const std::string inside = root_.file("inside");
  test::WriteFile(counter, "0");
  os_.microsPerMs = -1;  // waits shrink to a yield: real opens, no pauses
  std::vector<int> pids;
  for (int t = 1; t <= kTerminals; ++t) {
    pids.push_back(test::ForkChild([&, t] {
      Terminal(t + 10);
      for (int i = 0; i < kRounds; ++i) {
        if (LockRecord("PropietV", "\x81\xA2") != 0) return 2;
        // A second holder would find the marker there.
        const int fd = open(inside.c_str(), O_CREAT | O_EXCL | O_WRONLY, 0644);
        if (fd < 0) return 3;
        close(fd);
        int value = 0;
        std::ifstream(counter) >> value;
        std::ofstream(counter, std::ios::trunc) << value + 1;
        unlink(inside.c_str());
        if (UnlockRecord("PropietV") != 0) return 4;
      }
      return 0;
    }));
  }
  const std::vector<int> codes = WaitAll(pids, std::chrono::seconds(120));
  for (int t = 0; t < kTerminals; ++t) EXPECT_EQ(codes[t], 0) << "terminal " << t + 1;
  EXPECT_EQ(test::ReadFile(counter), std::to_string(kTerminals * kRounds));
  // Every entry was given back; the file holds at most one slot per terminal.
  const std::vector<LockEntry> entries = Entries("PROPIETV.lck");
  EXPECT_LE(entries.size(), static_cast<size_t>(kTerminals));
  for (const LockEntry& e : entries) EXPECT_TRUE(e.Free());
}

TEST_F(LockTest, EntryOfAKilledHolderIsWaitedOnUntilItIsStale) {
  const std::string ready = root_.file("ready");
  const int holder = test::ForkChild([&] {
    Terminal(2);
    if (LockRecord("PropietV", "\x81\xA2") != 0) return 2;
    test::WriteFile(ready, "1");
    for (;;) pause();
  });
  ASSERT_TRUE(WaitForFile(ready, std::chrono::seconds(30)));
  kill(holder, SIGKILL);
  EXPECT_EQ(test::WaitChild(holder), -1);

  Terminal(1);
  LockWaitMode() = "S";
  EXPECT_EQ(LockRecord("PropietV", "\x81\xA2"), -1);
  LockWaitMode() = "";
  os_.minutesPerSleep = 1;
  ASSERT_EQ(LockRecord("PropietV", "\x81\xA2"), 0);
  EXPECT_EQ(os_.sleeps.size(), 31u);  // held for 30 minutes, taken over in the 31st
  EXPECT_EQ(shown_.size(), 1u);
  const std::vector<LockEntry> entries = Entries("PROPIETV.lck");
  ASSERT_EQ(entries.size(), 1u);
  int64_t number = 0;
  ASSERT_TRUE(entries[0].NumberValue(&number));
  EXPECT_EQ(number, CurrentLockIdentity().number);
}

}  // namespace
}  // namespace kap::locktest
