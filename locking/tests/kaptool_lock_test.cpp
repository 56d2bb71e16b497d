// `kaptool lock` run as the built program against lock files written by this library.
#include <thread>

#include "locking/tests/lock_fixture.h"

namespace kap::locktest {
namespace {

class KaptoolLockTest : public LockTest {
 protected:
  void SetUp() override {
    LockTest::SetUp();
    os_.minutes = MinutesSince1970(PosixOs().Now());  // kaptool reads the real clock
  }
  std::map<std::string, std::string> Env(int terminal) const {
    return {{"KAPROOT", root_.path() + "/"}, {"KAPTMP", TerminalDir(terminal)}};
  }
  test::ProcessResult Kaptool(int terminal, std::vector<std::string> args) const {
    args.insert(args.begin(), kaptool_);
    test::ProcessOptions options;
    options.env = Env(terminal);
    return test::RunProcess(args, options);
  }
  const std::string kaptool_ = test::BuildPath("tools/kaptool");
};

TEST_F(KaptoolLockTest, HoldRunsTheCommandUnderTheLockAndPassesItsStatusOn) {
  // Inside: the entry is this terminal's, and another terminal finds the key taken.
  const std::string script = "KAPTMP=" + TerminalDir(1) + " " + kaptool_ +
                             " lock list propietv; KAPTMP=" + TerminalDir(2) + " " + kaptool_ +
                             " lock hold --no-wait PROPIETV 0134 -- true; echo other=$?; exit 7";
  const test::ProcessResult held =
      Kaptool(1, {"lock", "hold", "PropietV", "0134", "--", "sh", "-c", script});
  EXPECT_EQ(held.exitCode, 7) << held.errors;
  // Held under the tool's own identity, alive while the command runs.
  for (const char* part : {"0134..0134", "alive", "other=75"}) {
    EXPECT_NE(held.output.find(part), std::string::npos) << part << " in\n" << held.output;
  }
  EXPECT_EQ(Kaptool(1, {"lock", "hold", "PropietV", "1", "--", "false"}).exitCode, 1);
  EXPECT_EQ(Kaptool(1, {"lock", "hold", "PropietV", "1", "--", root_.file("none")}).exitCode, 127);
  EXPECT_EQ(Kaptool(1, {"lock", "hold", "PropietV", "1", "true"}).exitCode, 2);
  for (const LockEntry& e : Entries("PROPIETV.lck")) EXPECT_TRUE(e.Free());  // all given back
}

TEST_F(KaptoolLockTest, HoldWaitsWithTheMessageOnStandardErrorUntilTheKeyIsFree) {
  Terminal(2);
  ASSERT_EQ(LockRecord("PropietV", "\x81\xA2"), 0);
  const std::string errors = root_.file("errors"), out = root_.file("out");
  const int child = test::ForkChild([&] {
    test::ProcessOptions options;
    options.env = Env(1);
    const test::ProcessResult r = test::RunProcess(
        {"/bin/sh", "-c", kaptool_ + " lock hold PropietV 0134 -- echo taken 2>" + errors},
        options);
    test::WriteFile(out, r.output);
    return r.exitCode;
  });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (test::ReadFile(errors).empty() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(test::ReadFile(errors), "kaptool lock: FITXER BLOQUEJAT. ESPEREU UN MOMENT.\n");
  EXPECT_EQ(UnlockRecord("PropietV"), 0);
  EXPECT_EQ(test::WaitChild(child), 0);
  EXPECT_EQ(test::ReadFile(out), "taken\n");
}

TEST_F(KaptoolLockTest, ListShowsEachEntryAndClearFreesTheStaleOnes) {
  Terminal(3);
  ASSERT_EQ(LockRange("PropietV", "F", "", ""), 0);
  const std::string number3 = std::to_string(CurrentLockIdentity().number);
  const std::string host = CurrentLockIdentity().host;
  auto entry = [](const std::string& host, const std::string& number, int64_t time) {
    return PadOrCut(host, 15) + PadOrCut(number, 11) + PadOrCut(std::to_string(time), 8) + "K4 " +
           PadOrCut("0001", 40) + "4 " + PadOrCut("0009", 40) + "\r\n";
  };
  // Any lock call would clear an abandoned entry: these are written as they would be found.
  // Stale; another computer's, fresh; this computer's with no living holder; dated ahead.
  test::WriteFile(LockPath("PROPIETV.lck"),
                  Bytes("PROPIETV.lck") + entry("OTHERPC", "99", os_.minutes - 45) +
                      entry("OTHERPC", "98", os_.minutes) + entry(host, "4242", os_.minutes) +
                      entry(host, "4343", os_.minutes + 2 * 1440));
  const test::ProcessResult list = Kaptool(1, {"lock", "list", "PropietV"});
  ASSERT_EQ(list.exitCode, 0) << list.errors;
  std::vector<std::string> lines;
  for (size_t at = 0, end; (end = list.output.find('\n', at)) != std::string::npos; at = end + 1) {
    lines.push_back(list.output.substr(at, end - at));
  }
  ASSERT_EQ(lines.size(), 6u) << list.output;
  for (const char* part : {"whole file", "alive"}) {
    EXPECT_NE(lines[1].find(part), std::string::npos) << part << " in " << lines[1];
  }
  EXPECT_NE(lines[1].find(number3), std::string::npos) << lines[1];
  for (const char* part : {"OTHERPC", "0001..0009", "stale"}) {
    EXPECT_NE(lines[2].find(part), std::string::npos) << part << " in " << lines[2];
  }
  // 45 minutes old, 46 when a minute turned while kaptool started.
  EXPECT_TRUE(lines[2].find(" 45 ") != std::string::npos ||
              lines[2].find(" 46 ") != std::string::npos)
      << lines[2];

  const char* holders[] = {"alive", "stale", "remote", "dead", "stale"};
  for (size_t i = 1; i < lines.size(); ++i) {
    EXPECT_NE(lines[i].find(holders[i - 1]), std::string::npos) << lines[i];
  }

  const test::ProcessResult clear = Kaptool(1, {"lock", "clear", "propietv"});
  EXPECT_EQ(clear.output, "3 dead or stale entries cleared\n");
  std::vector<LockEntry> entries = Entries("PROPIETV.lck");
  ASSERT_EQ(entries.size(), 5u);
  for (size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(entries[i].Free(), i != 0 && i != 2) << "entry " << i;
  }
  EXPECT_EQ(Kaptool(1, {"lock", "clear", "Nothing"}).exitCode, 1);

  // A named entry of a living holder needs --live, and the tool says whose it was.
  const test::ProcessResult refused = Kaptool(1, {"lock", "clear", "PropietV", "0"});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_NE(refused.errors.find("add --live"), std::string::npos) << refused.errors;
  EXPECT_FALSE(Entries("PROPIETV.lck")[0].Free());
  const test::ProcessResult forced = Kaptool(1, {"lock", "clear", "PropietV", "0", "2", "--live"});
  EXPECT_EQ(forced.exitCode, 0) << forced.errors;
  EXPECT_NE(
      forced.output.find("entry 0 cleared (computer " +
                         host.substr(0, host.find_last_not_of(" ") + 1) + ", terminal " + number3),
      std::string::npos)
      << forced.output;
  EXPECT_NE(forced.output.find("entry 2 cleared (computer OTHERPC, terminal 98"), std::string::npos)
      << forced.output;
  entries = Entries("PROPIETV.lck");
  for (const LockEntry& e : entries) EXPECT_TRUE(e.Free());
}

}  // namespace
}  // namespace kap::locktest
