// Owners of twenty estates removed by the real vownmain in tmux, killed with SIGKILL at moments
// spread over the removal: afterwards each owner is either untouched with all its estates, or
// gone with all its estates released. Runs on the local files and in the server pass.
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <random>

#include "app/tests/owner_fixture.h"

namespace kap::test {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

constexpr int kEstates = 20;
constexpr int kKills = 32;

std::string Digits(int number) {
  std::string text = std::to_string(number);
  return std::string(4 - text.size(), '0') + text;
}

class RemovalKillTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* server = std::getenv("KAPSERVIDOR");
    if (server != nullptr) server_ = server;
    ProcessOptions options;
    options.env = {{"KAPSERVIDOR", server_.empty() ? "-" : server_}};
    ProcessResult built = RunProcess(
        {BuildPath("tools/kaptool"), "demo", "build", SourcePath("demo"), demo_}, options);
    ASSERT_EQ(built.exitCode, 0) << built.errors;
    ResetOwnerProgram();
    ASSERT_NO_FATAL_FAILURE(OpenInstallationFiles(demo_));
    AddOwners();
  }
  void TearDown() override { CloseInstallationFiles(); }

  // Owners 100, 101, ... each holding estates 1000 + 20 * n ... in its twenty slots, copied
  // from the demo's owner 1 and estate 1, in one transaction.
  void AddOwners() {
    OwnerProgramState& program = OwnerProgram();
    ASSERT_EQ(RunTransaction([&]() -> int16_t {
                int16_t status = 0;
                FindRecord(kEstatesFile, 0, Packed("0001"), find_mode::kEqual, status);
                FindRecord(kOwnersFile, 0, Packed("0001"), find_mode::kEqual, status);
                for (int n = 0; n <= kKills && status == 0; ++n) {
                  std::memcpy(program.OwnerRecord + owner::kCode, Packed(Digits(100 + n)).data(),
                              2);
                  for (int slot = 0; slot < kEstates && status == 0; ++slot) {
                    const std::string code = Packed(Digits(1000 + kEstates * n + slot));
                    std::memcpy(program.OwnerRecord + owner::kEstates + slot * owner::kSlotSize,
                                code.data(), 2);
                    std::memcpy(program.EstateRecord + estate::kCode, code.data(), 2);
                    std::memcpy(program.EstateRecord + estate::kOwner,
                                program.OwnerRecord + owner::kCode, 2);
                    InsertRecord(kEstatesFile, status);
                  }
                  if (status == 0) InsertRecord(kOwnersFile, status);
                }
                return status;
              }),
              0);
    std::remove((demo_ + "/db.log").c_str());
  }

  // Estates of owner `n` still naming it, and released ones; whether the owner is there.
  struct Found {
    bool owner = false;
    int named = 0, released = 0;
  };
  Found Look(int n) {
    Found found;
    found.owner = OwnerExists(Digits(100 + n));
    for (int slot = 0; slot < kEstates; ++slot) {
      const std::string holder = EstateOwner(Digits(1000 + kEstates * n + slot));
      if (holder == Digits(100 + n)) ++found.named;
      if (holder == "0000") ++found.released;
    }
    return found;
  }

  // vownmain started again each time it ends, on a cleared screen, its pid in `pid_`.
  std::unique_ptr<Tmux> StartLoop() {
    std::map<std::string, std::string> env = {
        {"KAPROOT", demo_ + "/"}, {"KAPTMP", demo_ + "/T01"}, {"KAPTERM", demo_ + "/T01"}};
    if (!server_.empty()) env["KAPSERVIDOR"] = server_;
    return std::make_unique<Tmux>("while :; do printf '\\033[H\\033[2J'; /bin/sh -c 'echo $$ >" +
                                      pid_ + "; exec " + BuildPath("app/vownmain") + "'; done",
                                  env, demo_);
  }
  int Pid() { return std::atoi(ReadFile(pid_).c_str()); }

  // Waits for a vownmain other than `before` (0: any) on its key form, then confirms owner `n` up
  // to the last key, which the caller sends.
  void UpToTheConfirmation(Tmux& tmux, int before, int n) {
    ASSERT_TRUE(Eventually([&] { return Pid() != before && Pid() != 0; })) << "no new vownmain";
    // The screen was cleared before the new one started: the key form alone, drawn and still.
    ASSERT_TRUE(Eventually(
        [&] {
          const std::string screen = tmux.ScreenText();
          return screen.find("CODI DEL PROPIETARI:") != std::string::npos &&
                 screen.find("CONFIRMEU LA BAIXA") == std::string::npos;
        },
        milliseconds(10000)))
        << tmux.ScreenText();
    tmux.WaitQuiet(milliseconds(100));
    tmux.SendText(std::to_string(100 + n));
    tmux.SendKeys({"Enter"});
    ASSERT_TRUE(tmux.WaitFor("CONFIRMEU LA BAIXA")) << tmux.ScreenText();
    tmux.SendText("s");
    ASSERT_TRUE(tmux.WaitFor("\u25c4SI\u25ba")) << tmux.ScreenText();
  }

  int LogLines() { return LinesIn(ReadFile(demo_ + "/db.log")); }
  static int LinesIn(const std::string& log) {
    int lines = 0;
    for (size_t at = log.find("\r\n"); at != std::string::npos; at = log.find("\r\n", at + 2))
      ++lines;
    return lines;
  }

  TempDir dir_;
  std::string demo_ = dir_.file("demo");
  std::string pid_ = dir_.file("pid");
  std::string server_;
};

TEST_F(RemovalKillTest, AKilledRemovalLeavesTheOwnerWholeOrGoneWithAllItsEstates) {
  auto tmux = StartLoop();

  // Owner 100 is removed to the end, timed from the Enter by its access log lines (the first
  // and the last estate written) and by the owner seen gone (committed).
  ASSERT_NO_FATAL_FAILURE(UpToTheConfirmation(*tmux, 0, 0));
  tmux->SendKeys({"Enter"});
  const Clock::time_point start = Clock::now();
  auto since = [&start] {
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
  };
  const std::string log = demo_ + "/db.log";
  int64_t firstLine = -1, lastLine = -1;
  while (lastLine < 0 && since() < 10000000) {
    const int lines = LinesIn(ReadFile(log));
    if (firstLine < 0 && lines > 0) firstLine = since();
    if (lines == kEstates) lastLine = since();
  }
  ASSERT_GE(lastLine, 0) << tmux->ScreenText();
  ASSERT_TRUE(Eventually([&] { return !OwnerExists("0100"); })) << tmux->ScreenText();
  const int64_t committed = since();
  Found first = Look(0);
  ASSERT_EQ(first.released, kEstates);

  // Kill n lands at random within the n-th of kKills equal parts of the time from the Enter to
  // a little past the commit, so that the kills cover the whole removal.
  std::mt19937 random(std::random_device{}());
  std::uniform_real_distribution<double> within(0.0, 1.0);
  const double span = committed * 1.15;
  int untouched = 0, removed = 0, halfDone = 0;
  std::map<int, int> linesOfUndone;  // db.log lines of a run that left nothing, run by run
  int killed = 0;
  for (int n = 1; n <= kKills; ++n) {
    SCOPED_TRACE("owner " + std::to_string(100 + n));
    ASSERT_NO_FATAL_FAILURE(UpToTheConfirmation(*tmux, killed, n));
    const int pid = Pid();
    const int logBefore = LogLines();
    const auto delay =
        std::chrono::microseconds(static_cast<int64_t>(span * ((n - 1) + within(random)) / kKills));
    tmux->SendKeys({"Enter"});
    std::this_thread::sleep_for(delay);
    ASSERT_EQ(::kill(pid, SIGKILL), 0);
    killed = pid;
    ASSERT_TRUE(WaitForServerSessionsOf(pid));

    const Found found = Look(n);
    const int lines = LogLines() - logBefore;
    if (found.owner && found.named == kEstates) {
      ++untouched;
      ++linesOfUndone[lines];
    } else if (!found.owner && found.released == kEstates) {
      ++removed;
      EXPECT_EQ(lines, kEstates) << "a finished removal logs each estate";
    } else {
      ++halfDone;
      ADD_FAILURE() << "half done after " << delay.count() << " us: owner "
                    << (found.owner ? "there" : "gone") << ", " << found.named
                    << " estates naming it, " << found.released << " released";
    }
    EXPECT_LE(lines, kEstates);
  }
  std::string histogram;
  for (const auto& [lines, runs] : linesOfUndone)
    histogram += " " + std::to_string(lines) + "x" + std::to_string(runs);
  std::cout << (server_.empty() ? "local files" : "data server") << ": removal of " << kEstates
            << " estates: first written after " << firstLine << " us, last after " << lastLine
            << " us, committed after " << committed << " us; " << kKills << " kills: " << untouched
            << " untouched, " << removed << " removed, " << halfDone
            << " half done; db.log lines left by the undone runs (lines x runs):" << histogram
            << "\n";
  EXPECT_EQ(halfDone, 0);
}

}  // namespace
}  // namespace kap::test
