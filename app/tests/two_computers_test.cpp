// Two computers on one data server, simulated: two installation roots with nothing shared on
// disk (each its own forms, language, help, dictionaries and terminal folders) and the real
// vownmain in tmux on each. Runs in the server pass (KAPSERVIDOR set).
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "testsupport/test_support.h"

namespace kap::test {
namespace {

class TwoComputersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* server = std::getenv("KAPSERVIDOR");
    if (server == nullptr) GTEST_SKIP() << "runs in the server pass";
    server_ = server;
    for (const std::string& root : {first_, second_}) {
      ProcessOptions options;
      options.env = {{"KAPSERVIDOR", server_}};
      // The second root's samples are already on the server: it is built on the local files,
      // which are then removed.
      if (root == second_) options.env["KAPSERVIDOR"] = "-";
      auto built = RunProcess(
          {BuildPath("tools/kaptool"), "demo", "build", SourcePath("demo"), root}, options);
      ASSERT_EQ(built.exitCode, 0) << built.errors;
    }
    for (const char* f : {"/DADES/PropietV.dat", "/DADES/FinquesV.dat", "/TAULES/UPaisos.dat"})
      ASSERT_EQ(std::remove((second_ + f).c_str()), 0) << f;
  }

  std::unique_ptr<Tmux> Start(const std::string& root) {
    std::map<std::string, std::string> env = {{"KAPROOT", root + "/"},
                                              {"KAPTMP", root + "/T01"},
                                              {"KAPTERM", root + "/T01"},
                                              {"KAPSERVIDOR", server_}};
    auto tmux = std::make_unique<Tmux>(BuildPath("app/vownmain"), env, root);
    EXPECT_TRUE(tmux->WaitFor("CODI DEL PROPIETARI:")) << tmux->ScreenText();
    return tmux;
  }

  TempDir dir_;
  std::string first_ = dir_.file("first"), second_ = dir_.file("second");
  std::string server_;
};

TEST_F(TwoComputersTest, OwnerRemovedOnOneIsGoneOnTheOther) {
  auto one = Start(first_);
  one->SendText("5");
  one->SendKeys({"Enter"});
  ASSERT_TRUE(one->WaitFor("CONFIRMEU LA BAIXA")) << one->ScreenText();
  one->SendText("s");
  ASSERT_TRUE(one->WaitFor("\u25c4SI\u25ba")) << one->ScreenText();
  one->SendKeys({"Enter"});
  for (int i = 0; i < 300 && one->ScreenText().find("CONFIRMEU LA BAIXA") != std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
  ASSERT_EQ(one->ScreenText().find("CONFIRMEU LA BAIXA"), std::string::npos) << one->ScreenText();

  auto other = Start(second_);
  other->SendText("5");
  other->SendKeys({"Enter"});
  EXPECT_TRUE(other->WaitFor("PROPIETARI INEXISTENT")) << other->ScreenText();
  other->SendKeys({"Enter"});
  // Owner 4 is still there for both.
  other->SendText("4");
  other->SendKeys({"Enter"});
  EXPECT_TRUE(other->WaitFor("CONFIRMEU LA BAIXA")) << other->ScreenText();
}

// The vownmain running in `root` (its working folder) is killed with SIGKILL.
bool KillProgramIn(const std::string& root) {
  namespace fs = std::filesystem;
  const fs::path program = fs::canonical(BuildPath("app/vownmain"));
  for (const fs::directory_entry& e : fs::directory_iterator("/proc")) {
    std::error_code error;
    if (fs::read_symlink(e.path() / "exe", error) != program || error) continue;
    if (fs::read_symlink(e.path() / "cwd", error) != fs::canonical(root) || error) continue;
    return ::kill(std::stoi(e.path().filename().string()), SIGKILL) == 0;
  }
  return false;
}

TEST_F(TwoComputersTest, SecondWaitsForTheFirstsOwnerAndAKilledHolderFreesItAtOnce) {
  auto one = Start(first_);
  one->SendText("5");
  one->SendKeys({"Enter"});
  ASSERT_TRUE(one->WaitFor("CONFIRMEU LA BAIXA")) << one->ScreenText();

  // The other computer asks for the same owner: it waits, and says so.
  auto other = Start(second_);
  other->SendText("5");
  other->SendKeys({"Enter"});
  ASSERT_TRUE(other->WaitFor("FITXER BLOQUEJAT")) << other->ScreenText();
  EXPECT_EQ(other->ScreenText().find("CONFIRMEU LA BAIXA"), std::string::npos);
  // The first answers no: the second gets the owner.
  one->SendKeys({"Enter"});
  ASSERT_TRUE(other->WaitFor("CONFIRMEU LA BAIXA")) << other->ScreenText();

  // Now the first waits for the second, whose program is killed: the owner is free at once.
  one->SendText("5");
  one->SendKeys({"Enter"});
  ASSERT_TRUE(one->WaitFor("FITXER BLOQUEJAT")) << one->ScreenText();
  ASSERT_TRUE(KillProgramIn(second_));
  EXPECT_TRUE(one->WaitFor("CONFIRMEU LA BAIXA")) << one->ScreenText();
}

}  // namespace
}  // namespace kap::test

namespace kap::test {
namespace {

TEST(UnreachableServer, EndsWithTheFatalOpenMessageAndNamesTheServerOnStderr) {
  TempDir dir;
  std::string root = dir.file("kap");
  ProcessOptions local;
  local.env = {{"KAPSERVIDOR", "-"}};
  auto built =
      RunProcess({BuildPath("tools/kaptool"), "demo", "build", SourcePath("demo"), root}, local);
  ASSERT_EQ(built.exitCode, 0) << built.errors;
  std::map<std::string, std::string> env = {
      {"KAPROOT", root + "/"},
      {"KAPTMP", root + "/T01"},
      {"KAPTERM", root + "/T01"},
      {"KAPSERVIDOR", "host=127.0.0.1 port=1 dbname=kap user=clerk password=s3cret"}};
  Tmux tmux(BuildPath("app/vownmain") + " 2>" + dir.file("errors"), env, root);
  ASSERT_TRUE(tmux.WaitFor("PropietV (20)")) << tmux.ScreenText();
  EXPECT_NE(tmux.ScreenText().find("NO ES POT ACCEDIR AL FITXER"), std::string::npos)
      << tmux.ScreenText();
  tmux.SendKeys({"Enter"});
  int status = -1;
  ASSERT_TRUE(tmux.WaitExit(&status)) << tmux.ScreenText();
  std::string errors = ReadFile(dir.file("errors"));
  // One line: the file, then why it could not be opened, naming the server without its password.
  EXPECT_EQ(errors, "vownmain: NO ES POT ACCEDIR AL FITXER " + root +
                        "/DADES\\PropietV (20): "
                        "cannot reach the data server host=127.0.0.1 port=1 dbname=kap "
                        "user=clerk: connection to server at \"127.0.0.1\", port 1 failed: "
                        "Connection refused\n");
}

}  // namespace
}  // namespace kap::test
