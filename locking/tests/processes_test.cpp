// Real processes on real lock files: mutual exclusion under contention, and a holder killed
// without unlocking.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "formengine/screen.h"
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
  // Every lock and unlock costs round trips on the server: fewer rounds keep the test's time.
  const int kRounds = RecordServerConnection().empty() ? 500 : 100;
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

// Children of a terminal that take keys of PropietV, say so and then sit waiting, calling
// `idle` (what a program does while it waits for a key).
class HolderTest : public LockTest {
 protected:
  int StartHolder(
      int terminal, const std::vector<std::string>& keys,
      std::function<void()> idle = [] { usleep(20 * 1000); }) {
    Terminal(terminal);
    const std::string ready = root_.file("ready" + std::to_string(++holders_));
    const int pid = test::ForkChild([&] {
      for (const std::string& key : keys) {
        if (LockRecord("PropietV", key) != 0) return 2;
      }
      test::WriteFile(ready, "1");
      for (;;) idle();
      return 0;
    });
    EXPECT_TRUE(WaitForFile(ready, std::chrono::seconds(30)));
    return pid;
  }
  int holders_ = 0;
};

TEST_F(HolderTest, AKilledHolderFreesItsKeysToAnotherTerminalAtOnce) {
  os_.microsPerMs = 1000;  // real waits: the time it takes is what is measured
  os_.minutes = MinutesSince1970(PosixOs().Now());
  for (const int signal : {SIGKILL, SIGHUP, SIGTERM}) {
    const int holder = StartHolder(2, {"\x81\xA2"});
    Terminal(1);
    LockWaitMode() = "S";
    EXPECT_EQ(LockRecord("PropietV", "\x81\xA2"), -1) << "signal " << signal;  // alive
    kill(holder, signal);
    test::WaitChildAndItsSessions(holder);
    // Still mode "S": free at the first attempt, no waiting for it to expire.
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(LockRecord("PropietV", "\x81\xA2"), 0) << "signal " << signal;
    LockWaitMode() = "";
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2))
        << "signal " << signal;
    EXPECT_TRUE(shown_.empty()) << "signal " << signal;  // no wait at all
    EXPECT_EQ(UnlockRecord("PropietV"), 0);
  }
}

TEST_F(HolderTest, AnotherComputersEntryKeepsTheThirtyMinuteRule) {
  WriteLockFile("PROPIETV.lck", PadOrCut("OTHERPC", 15) + PadOrCut("77", 11) +
                                    PadOrCut(std::to_string(os_.minutes), 8) + "K4 " +
                                    PadOrCut("0134", 40) + "4 " + PadOrCut("0134", 40) + "\r\n");
  os_.minutesPerSleep = 1;
  ASSERT_EQ(LockRecord("PropietV", "\x81\xA2"), 0);
  // Held for 30 minutes, taken over in the 31st; the server knows that no terminal 77 lives
  // on any computer, so there it is taken at once.
  EXPECT_EQ(os_.sleeps.size(), RecordServerConnection().empty() ? 31u : 0u);
}

TEST_F(HolderTest, ALivingHolderKeepsItsKeysPastTheStaleTime) {
  // The holder's clock moves a minute at every idle call, as if it sat at the key form.
  const std::string minute = root_.file("minute");
  const int holder = StartHolder(2, {"\x81\xA2"}, [&] {
    ++os_.minutes;
    RunIdleHandler();
    test::WriteFile(minute + ".tmp", std::to_string(os_.minutes));
    rename((minute + ".tmp").c_str(), minute.c_str());
    usleep(2000);
  });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  int64_t now = 0;
  while (now < kStartMinutes + 45 && std::chrono::steady_clock::now() < deadline) {
    now = std::atoll(test::ReadFile(minute).c_str());
  }
  ASSERT_GE(now, kStartMinutes + 45);
  kill(holder, SIGSTOP);  // its clock stands still while this terminal looks
  Terminal(1);
  os_.minutes = std::atoll(test::ReadFile(minute).c_str());
  LockWaitMode() = "S";
  EXPECT_EQ(LockRecord("PropietV", "\x81\xA2"), -1);
  const std::vector<LockEntry> entries = Entries("PROPIETV.lck");
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_GT(entries[0].TimeValue(), os_.minutes - 10);  // renewed
  kill(holder, SIGKILL);
  test::WaitChildAndItsSessions(holder);
}

TEST_F(HolderTest, ARerunAfterACrashLeavesNoEntryBehind) {
  // A program dies holding its owner and two estates; the next one on the terminal clears
  // them all, in every lock file, before it locks anything there.
  const int crashed = test::ForkChild([&] {
    Terminal(1);
    if (LockRecord("PropietV", "\x81\xA2") != 0 || LockRecord("FinquesV", "\x81\x81") != 0 ||
        LockRecord("FinquesV", "\x81\x82") != 0) {
      return 2;
    }
    raise(SIGKILL);
    return 3;
  });
  EXPECT_EQ(test::WaitChildAndItsSessions(crashed), -1);
  Terminal(1);
  ASSERT_EQ(LockRecord("UPaisos", "ES"), 0);  // the first lock of the re-run
  for (const char* file : {"PROPIETV.lck", "FINQUESV.lck"}) {
    for (const LockEntry& e : Entries(file)) EXPECT_TRUE(e.Free()) << file;
  }
  EXPECT_EQ(UnlockRecord("UPaisos"), 0);
  for (const LockEntry& e : Entries("UPAISOS.lck")) EXPECT_TRUE(e.Free());
}

TEST_F(HolderTest, TwoProgramsOfOneTerminalKeepEachOthersEntries) {
  // Owner 0134, held by a living program whose entry is the newer one: the terminal's newest
  // entry is not this program's to give back.
  os_.minutes = kStartMinutes + 5;
  const int other = StartHolder(1, {"\x81\xA2"});
  os_.minutes = kStartMinutes;
  Terminal(1);  // this program: same terminal
  ASSERT_EQ(LockRecord("PropietV", "\x81\xA3"), 0);
  ASSERT_EQ(LockRecord("FinquesV", "\x81\x81"), 0);
  EXPECT_EQ(UnlockRecord("PropietV"), 0);  // gives back its own 0135, not the other's 0134
  std::vector<std::string> held;
  for (const LockEntry& e : Entries("PROPIETV.lck")) {
    if (!e.Free()) held.push_back(Key(e));
  }
  EXPECT_EQ(held, std::vector<std::string>{"0134"});
  EXPECT_EQ(UnlockRecord("FinquesV"), 0);  // this program holds nothing any more
  // Another terminal still finds 0134 taken.
  Terminal(2);
  LockWaitMode() = "S";
  EXPECT_EQ(LockRecord("PropietV", "\x81\xA2"), -1);
  kill(other, SIGKILL);
  test::WaitChildAndItsSessions(other);
  EXPECT_EQ(LockRecord("PropietV", "\x81\xA2"), 0);
}

}  // namespace
}  // namespace kap::locktest
