// The POSIX Os services other than files: environment, clock, random numbers, computer name,
// the command interpreter, and the replaceable process-wide Os.
#include <unistd.h>

#include <ctime>

#include <gtest/gtest.h>

#include "platform/os.h"
#include "testsupport/test_support.h"

namespace kap {
namespace {

using test::ScopedEnv;
using test::TempDir;

TEST(OsServices, TheSuitesTermComesFromKapterm) {
  ScopedEnv env;
  env.Set("TERM", "xterm-256color").Set("KAPTERM", "/srv/kap/t01/").Set("KAPROOT", "/srv/kap/");
  env.Unset("KAPEXE");
  Os& os = PosixOs();
  EXPECT_EQ(os.GetEnv("TERM"), "/srv/kap/t01/");
  EXPECT_EQ(os.GetEnv("KAPROOT"), "/srv/kap/");
  EXPECT_EQ(os.GetEnv("KAPEXE"), "");
  env.Unset("KAPTERM");
  EXPECT_EQ(os.GetEnv("TERM"), "");
}

TEST(OsServices, LocalTimeMatchesTheSystemClock) {
  Os& os = PosixOs();
  time_t before = time(nullptr);
  LocalTime now = os.Now();
  time_t after = time(nullptr);
  tm parts{};
  localtime_r(&before, &parts);
  tm later{};
  localtime_r(&after, &later);
  EXPECT_TRUE(now.year == parts.tm_year + 1900 || now.year == later.tm_year + 1900);
  EXPECT_GE(now.month, 1);
  EXPECT_LE(now.month, 12);
  EXPECT_GE(now.day, 1);
  EXPECT_LE(now.day, 31);
  int seconds = now.hour * 3600 + now.minute * 60 + now.second;
  int low = parts.tm_hour * 3600 + parts.tm_min * 60 + parts.tm_sec;
  int high = later.tm_hour * 3600 + later.tm_min * 60 + later.tm_sec;
  if (high >= low) {  // not across midnight
    EXPECT_GE(seconds, low);
    EXPECT_LE(seconds, high);
  }
  EXPECT_GE(now.hundredths, 0);
  EXPECT_LE(now.hundredths, 99);
}

TEST(OsServices, RandomValuesLieInTheHalfOpenUnitRangeAndRepeatAfterSeeding) {
  Os& os = PosixOs();
  os.SeedRandom(12345);
  std::vector<double> first;
  double low = 1, high = 0;
  for (int i = 0; i < 2000; ++i) {
    double r = os.Random();
    ASSERT_GE(r, 0.0);
    ASSERT_LT(r, 1.0);
    low = std::min(low, r);
    high = std::max(high, r);
    if (i < 10) first.push_back(r);
  }
  // Spread over the range, not stuck.
  EXPECT_LT(low, 0.01);
  EXPECT_GT(high, 0.99);
  os.SeedRandom(12345);
  for (double r : first) EXPECT_EQ(os.Random(), r);
  os.SeedRandom(54321);
  EXPECT_NE(os.Random(), first[0]);
}

TEST(OsServices, ComputerNameIsTheHostNameCutTo15) {
  char host[256] = {};
  ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
  EXPECT_EQ(PosixOs().ComputerName(), std::string(host).substr(0, 15));
}

TEST(OsServices, SleepWaitsAtLeastTheTimeAsked) {
  Os& os = PosixOs();
  auto start = std::chrono::steady_clock::now();
  os.SleepMs(30);
  os.SleepMs(-5);  // nothing to wait
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
}

TEST(OsServices, CommandInterpreterRunsTheCommandAndWaits) {
  TempDir dir;
  ScopedEnv env;
  env.Unset("COMSPEC");
  Os& os = PosixOs();
  const std::string out = dir.file("out.txt");
  struct Case {
    std::string arguments;
    int status;
    std::string written;
  } cases[] = {
      {"echo one > " + out, 0, "one\n"},
      // The suite's "/C" switch stands for running the command.
      {" /C echo two > " + out, 0, "two\n"},
      {"/c exit 7", 7, ""},
      {"exit 3", 3, ""},
  };
  for (const Case& c : cases) {
    ::unlink(out.c_str());
    EXPECT_EQ(os.RunCommandInterpreter(c.arguments), c.status) << c.arguments;
    EXPECT_EQ(test::ReadFile(out), c.written) << c.arguments;
  }
}

TEST(OsServices, CommandInterpreterComesFromComspec) {
  TempDir dir;
  const std::string shell = dir.file("myshell");
  test::WriteFile(shell, "#!/bin/sh\necho \"$@\" > " + dir.file("args") + "\nexit 5\n");
  ::chmod(shell.c_str(), 0755);
  ScopedEnv env;
  env.Set("COMSPEC", shell);
  Os& os = PosixOs();
  EXPECT_EQ(os.RunCommandInterpreter(" /C UOPEN AJUDA\\VOWNMAIN.HTM"), 5);
  EXPECT_EQ(test::ReadFile(dir.file("args")), "-c UOPEN AJUDA\\VOWNMAIN.HTM\n");
  env.Set("COMSPEC", dir.file("no-such-shell"));
  EXPECT_EQ(os.RunCommandInterpreter("/C true"), -1);
}

class FixedNameOs : public OsWrapper {
 public:
  FixedNameOs() : OsWrapper(&PosixOs()) {}
  std::string ComputerName() override { return "FAKEHOST"; }
};

TEST(OsServices, AnInstalledOsReplacesThePosixOneUntilRemoved) {
  FixedNameOs fake;
  SetOs(&fake);
  EXPECT_EQ(GetOs().ComputerName(), "FAKEHOST");
  // Everything not overridden still reaches the real system.
  EXPECT_EQ(GetOs().CurrentDir(), PosixOs().CurrentDir());
  SetOs(nullptr);
  EXPECT_EQ(&GetOs(), &PosixOs());
}

}  // namespace
}  // namespace kap
