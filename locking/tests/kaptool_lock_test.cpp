// `kaptool lock` run as the built program against lock files written by this library.
#include <chrono>
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
  test::ProcessResult Kaptool(int terminal, std::vector<std::string> args) {
    args.insert(args.begin(), test::BuildPath("tools/kaptool"));
    test::ProcessOptions options;
    options.env = {{"KAPROOT", root_.path() + "/"}, {"KAPTMP", TerminalDir(terminal)}};
    options.timeout = std::chrono::seconds(60);
    return test::RunProcess(args, options);
  }
};

TEST_F(KaptoolLockTest, HoldRunsTheCommandUnderTheLockAndPassesItsStatusOn) {
  const std::string self = test::BuildPath("tools/kaptool");
  const std::string env = "KAPROOT=" + root_.path() + "/ ";
  // Inside: the entry is this terminal's, and another terminal finds the key taken.
  const std::string script = "KAPTMP=" + TerminalDir(1) + " " + self + " lock list propietv; " +
                             "KAPTMP=" + TerminalDir(2) + " " + self +
                             " lock hold --no-wait PROPIETV 0134 -- true; echo other=$?; exit 7";
  const test::ProcessResult held =
      Kaptool(1, {"lock", "hold", "PropietV", "0134", "--", "sh", "-c", script});
  EXPECT_EQ(held.exitCode, 7) << held.errors;
  EXPECT_NE(held.output.find("0134..0134"), std::string::npos) << held.output;
  EXPECT_NE(held.output.find("mine"), std::string::npos) << held.output;
  EXPECT_NE(held.output.find("other=75"), std::string::npos) << held.output;
  // Given back afterwards.
  const std::vector<LockEntry> entries = Entries("PROPIETV.lck");
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_TRUE(entries[0].Free());

  const test::ProcessResult failed = Kaptool(1, {"lock", "hold", "PropietV", "1", "--", "false"});
  EXPECT_EQ(failed.exitCode, 1);
  const test::ProcessResult missing =
      Kaptool(1, {"lock", "hold", "PropietV", "1", "--", root_.file("no-such-program")});
  EXPECT_EQ(missing.exitCode, 127);
  EXPECT_EQ(Kaptool(1, {"lock", "hold", "PropietV", "1", "true"}).exitCode, 2);
  EXPECT_TRUE(Entries("PROPIETV.lck")[0].Free());
}

TEST_F(KaptoolLockTest, HoldWaitsWithTheMessageOnStandardErrorUntilTheKeyIsFree) {
  Terminal(2);
  ASSERT_EQ(LockRecord("PropietV", "\x81\xA2"), 0);
  const std::string errors = root_.file("errors");
  const std::string command = test::BuildPath("tools/kaptool") +
                              " lock hold PropietV 0134 -- echo taken 2>" + errors;
  const std::string out = root_.file("out");
  const int child = test::ForkChild([&] {
    test::ProcessOptions options;
    options.env = {{"KAPROOT", root_.path() + "/"}, {"KAPTMP", TerminalDir(1)}};
    const test::ProcessResult r = test::RunProcess({"/bin/sh", "-c", command}, options);
    test::WriteFile(out, r.output);
    return r.exitCode;
  });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (test::ReadFile(errors).find("FITXER BLOQUEJAT") == std::string::npos &&
         std::chrono::steady_clock::now() < deadline) {
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
  const std::string number3 = Number();
  // Any lock call would clear an abandoned entry: this one is written as it would be found.
  LockEntry abandoned;
  abandoned.host = "OTHERPC";
  abandoned.number = "99";
  abandoned.time = std::to_string(os_.minutes - 45);
  abandoned.type = 'K';
  abandoned.fromLength = abandoned.toLength = "4";
  abandoned.fromKey = "0001";
  abandoned.toKey = "0009";
  abandoned.lineEnd = "\r\n";
  test::WriteFile(LockPath("PROPIETV.lck"), Bytes("PROPIETV.lck") + abandoned.Bytes());

  const test::ProcessResult list = Kaptool(1, {"lock", "list", "PropietV"});
  ASSERT_EQ(list.exitCode, 0) << list.errors;
  std::vector<std::string> lines;
  for (size_t at = 0, end; (end = list.output.find('\n', at)) != std::string::npos; at = end + 1) {
    lines.push_back(list.output.substr(at, end - at));
  }
  ASSERT_EQ(lines.size(), 3u) << list.output;
  EXPECT_NE(lines[1].find(number3), std::string::npos) << lines[1];
  EXPECT_NE(lines[1].find("whole file"), std::string::npos) << lines[1];
  EXPECT_NE(lines[1].find("held"), std::string::npos) << lines[1];
  EXPECT_NE(lines[2].find("OTHERPC"), std::string::npos) << lines[2];
  EXPECT_NE(lines[2].find("0001..0009"), std::string::npos) << lines[2];
  // 45 minutes old, 46 when a minute turned while kaptool started.
  EXPECT_TRUE(lines[2].find(" 45 ") != std::string::npos ||
              lines[2].find(" 46 ") != std::string::npos)
      << lines[2];
  EXPECT_NE(lines[2].find("stale"), std::string::npos) << lines[2];

  const test::ProcessResult clear = Kaptool(1, {"lock", "clear", "propietv"});
  EXPECT_EQ(clear.exitCode, 0);
  EXPECT_EQ(clear.output, "1 stale entry cleared\n");
  const std::vector<LockEntry> entries = Entries("PROPIETV.lck");
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].type, 'F');
  EXPECT_TRUE(entries[1].Free());
  EXPECT_EQ(Kaptool(1, {"lock", "clear", "Nothing"}).exitCode, 1);
}

}  // namespace
}  // namespace kap::locktest
