// Real processes on real lock files: mutual exclusion under contention, and a holder killed
// without unlocking.
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <thread>

#include "formengine/screen.h"
#include "locking/tests/lock_fixture.h"

namespace kap::locktest {
namespace {

bool WaitForFile(const std::string& path, std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!test::FileExists(path)) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// Each way a holder's process can end without unlocking. Windows has one: TerminateProcess.
#ifdef _WIN32
const int kEnds[] = {0};
#else
const int kEnds[] = {SIGKILL, SIGHUP, SIGTERM};
#endif

// Terminals as child processes. A child is told everything through its arguments: the
// installation, its terminal and the clock; then what it does (a role below).
class HolderTest : public LockTest {
 protected:
  void SetUp() override {
    LockTest::SetUp();
    test::RunChildRole({{"contend", [this](const test::ChildArgs& a) { return Contend(a); }},
                        {"hold", [this](const test::ChildArgs& a) { return Hold(a); }}});
  }

  test::ChildArgs Installation(int terminal) const {
    return {{"root", root_.path()},
            {"terminal", std::to_string(terminal)},
            {"minutes", std::to_string(os_.minutes)}};
  }
  void EnterInstallation(const test::ChildArgs& args) {
    CurrentSession().RootDir = args.at("root") + "/";
    os_.minutes = std::stoll(args.at("minutes"));
    Terminal(std::stoi(args.at("terminal")));
  }

  // Takes and gives back owner 0134 `rounds` times; a second holder inside would find the
  // marker folder there.
  int Contend(const test::ChildArgs& args) {
    EnterInstallation(args);
    os_.microsPerMs = -1;  // waits shrink to a yield: real opens, no pauses
    const std::string counter = args.at("counter"), inside = args.at("inside");
    for (int i = 0, rounds = std::stoi(args.at("rounds")); i < rounds; ++i) {
      if (LockRecord("PropietV", "\x81\xA2") != 0) return 2;
      std::error_code error;
      if (!std::filesystem::create_directory(inside, error)) return 3;
      int value = 0;
      std::ifstream(counter) >> value;
      std::ofstream(counter, std::ios::trunc) << value + 1;
      std::filesystem::remove(inside, error);
      if (UnlockRecord("PropietV") != 0) return 4;
    }
    return 0;
  }

  // Takes the keys ("key<i>" of file "file<i>"), then crashes when asked, or moves its clock
  // on to "minutes" + "living" while it renews as a program at the key form does, says so in
  // the "ready" file and sits waiting.
  int Hold(const test::ChildArgs& args) {
    EnterInstallation(args);
    for (int i = 0; args.count("key" + std::to_string(i)); ++i) {
      const std::string n = std::to_string(i);
      if (LockRecord(args.at("file" + n), args.at("key" + n)) != 0) return 2;
    }
    if (args.count("crash")) test::CrashThisProcess();
    const int64_t until = os_.minutes + (args.count("living") ? std::stoi(args.at("living")) : 0);
    while (os_.minutes < until) {
      ++os_.minutes;
      RunIdleHandler();
    }
    test::WriteFile(args.at("ready"), "1");
    for (;;) {
      RunIdleHandler();
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }

  // A child of `terminal` holding keys of PropietV, started and ready.
  std::unique_ptr<test::ChildProcess> StartHolder(int terminal,
                                                  const std::vector<std::string>& keys,
                                                  test::ChildArgs more = {}) {
    Terminal(terminal);  // makes its folder
    test::ChildArgs args = Installation(terminal);
    args.merge(more);
    for (size_t i = 0; i < keys.size(); ++i) {
      args["file" + std::to_string(i)] = "PropietV";
      args["key" + std::to_string(i)] = keys[i];
    }
    args["ready"] = root_.file("ready" + std::to_string(++holders_));
    auto child = std::make_unique<test::ChildProcess>(
        "hold", args, [this](const test::ChildArgs& a) { return Hold(a); });
    EXPECT_TRUE(WaitForFile(args["ready"], std::chrono::seconds(30)));
    return child;
  }
  int holders_ = 0;
};

TEST_F(HolderTest, ContendingTerminalsNeverHoldTheSameKeyTogether) {
  constexpr int kTerminals = 4;
  // Every lock and unlock costs round trips on the server and under Wine: fewer rounds keep
  // the test's time.
#ifdef _WIN32
  const int kRounds = 100;
#else
  const int kRounds = RecordServerConnection().empty() ? 500 : 100;
#endif
  const std::string counter = root_.file("counter");
  test::WriteFile(counter, "0");
  std::vector<std::unique_ptr<test::ChildProcess>> children;
  for (int t = 1; t <= kTerminals; ++t) {
    test::ChildArgs args = Installation(t + 10);
    args.merge(test::ChildArgs{{"rounds", std::to_string(kRounds)},
                               {"counter", counter},
                               {"inside", root_.file("inside")}});
    children.push_back(std::make_unique<test::ChildProcess>(
        "contend", args, [this](const test::ChildArgs& a) { return Contend(a); }));
  }
  for (int t = 0; t < kTerminals; ++t) EXPECT_EQ(children[t]->Wait(), 0) << "terminal " << t + 1;
  EXPECT_EQ(test::ReadFile(counter), std::to_string(kTerminals * kRounds));
  // Every entry was given back; the file holds at most one slot per terminal.
  const std::vector<LockEntry> entries = Entries("PROPIETV.lck");
  EXPECT_LE(entries.size(), static_cast<size_t>(kTerminals));
  for (const LockEntry& e : entries) EXPECT_TRUE(e.Free());
}

TEST_F(HolderTest, AKilledHolderFreesItsKeysToAnotherTerminalAtOnce) {
  os_.microsPerMs = 1000;  // real waits: the time it takes is what is measured
  os_.minutes = MinutesSince1970(PosixOs().Now());
  for (const int end : kEnds) {
    auto holder = StartHolder(2, {"\x81\xA2"});
    Terminal(1);
    LockWaitMode() = "S";
    EXPECT_EQ(LockRecord("PropietV", "\x81\xA2"), -1) << "end " << end;  // alive
    holder->Kill(end);
    holder->Wait();
    // Still mode "S": free at the first attempt, no waiting for it to expire.
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(LockRecord("PropietV", "\x81\xA2"), 0) << "end " << end;
    LockWaitMode() = "";
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << "end " << end;
    EXPECT_TRUE(shown_.empty()) << "end " << end;  // no wait at all
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
  // The holder's clock moves on 45 minutes while it sits at the key form; then it stands still
  // while this terminal looks.
  auto holder = StartHolder(2, {"\x81\xA2"}, {{"living", "45"}});
  Terminal(1);
  os_.minutes = kStartMinutes + 45;
  LockWaitMode() = "S";
  EXPECT_EQ(LockRecord("PropietV", "\x81\xA2"), -1);
  const std::vector<LockEntry> entries = Entries("PROPIETV.lck");
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_GT(entries[0].TimeValue(), os_.minutes - 10);  // renewed
}

TEST_F(HolderTest, ARerunAfterACrashLeavesNoEntryBehind) {
  // A program dies holding its owner and two estates; the next one on the terminal clears
  // them all, in every lock file, before it locks anything there.
  test::ChildArgs args = Installation(1);
  args.merge(test::ChildArgs{{"file0", "PropietV"},
                             {"key0", "\x81\xA2"},
                             {"file1", "FinquesV"},
                             {"key1", "\x81\x81"},
                             {"file2", "FinquesV"},
                             {"key2", "\x81\x82"},
                             {"crash", "1"}});
  test::ChildProcess crashed("hold", args, [this](const test::ChildArgs& a) { return Hold(a); });
  EXPECT_EQ(crashed.Wait(), -1);
  ASSERT_EQ(Entries("PROPIETV.lck").size(), 1u) << "the crashed program had taken its key";
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
  auto other = StartHolder(1, {"\x81\xA2"});
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
  other->Kill();
  other->Wait();
  EXPECT_EQ(LockRecord("PropietV", "\x81\xA2"), 0);
}

}  // namespace
}  // namespace kap::locktest
