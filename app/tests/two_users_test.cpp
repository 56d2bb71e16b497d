// Two operators, two Unix users of one group, on one installation: the set-up the README
// describes (a group-owned setgid tree, umask 002). The second removes an owner whose data
// files the first created, in the real program on the real terminal.
#include <sys/stat.h>

#include <filesystem>

#include "app/tests/owner_fixture.h"

namespace kap::test {
namespace {

int ExitCode(const std::vector<std::string>& argv) { return RunProcess(argv).exitCode; }

// The user exists afterwards, in the operators' group.
bool EnsureOperator(const std::string& user, const std::string& group) {
  if (ExitCode({"/usr/bin/id", user}) == 0) return true;
  return ExitCode({"/usr/sbin/useradd", "--no-create-home", "--gid", group, "--shell", "/bin/sh",
              user}) == 0;
}

// A command line that runs `program` as `user` with the operators' umask.
std::string AsOperator(const std::string& user, const std::string& program) {
  return "/usr/sbin/runuser -u " + user + " -- /bin/sh -c 'umask 002; exec \"$0\" \"$@\"' " +
         program;
}

TEST(TwoUsersTest, SecondOperatorRemovesAnOwnerWhoseFilesTheFirstCreated) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to create the operators";
  const std::string group = "kapops";
  if (ExitCode({"/usr/bin/getent", "group", group}) != 0)
    ASSERT_EQ(ExitCode({"/usr/sbin/groupadd", group}), 0);
  ASSERT_TRUE(EnsureOperator("kapop1", group));
  ASSERT_TRUE(EnsureOperator("kapop2", group));

  TempDir dir;
  const std::string root = dir.file("kap");
  // The shared folder: the group's, setgid so that everything made in it stays the group's.
  ::chmod(dir.path().c_str(), 0755);
  ASSERT_EQ(ExitCode({"/usr/bin/install", "-d", "-g", group, "-m", "2775", root}), 0);
  ProcessResult built = RunProcess(
      {"/usr/sbin/runuser", "-u", "kapop1", "--", "/bin/sh", "-c",
       "umask 002; exec \"$0\" demo build \"$1\" \"$2\"", BuildPath("tools/kaptool"),
       SourcePath("demo"), root});
  ASSERT_EQ(built.exitCode, 0) << built.output << built.errors;
  struct stat owners {};
  ASSERT_EQ(::stat((root + "/DADES/PropietV.dat").c_str(), &owners), 0);
  EXPECT_EQ(owners.st_mode & 0777, 0664u);

  Tmux tmux(AsOperator("kapop2", BuildPath("app/vownmain")),
            {{"KAPROOT", root + "/"}, {"KAPTMP", root + "/T01"}, {"KAPTERM", root + "/T01"}}, root);
  ASSERT_TRUE(tmux.WaitFor("CODI DEL PROPIETARI:")) << tmux.ScreenText();
  tmux.SendText("5");
  tmux.SendKeys({"Enter"});
  ASSERT_TRUE(tmux.WaitFor("CONFIRMEU LA BAIXA")) << tmux.ScreenText();
  tmux.SendText("s");
  tmux.SendKeys({"Enter"});
  ASSERT_TRUE(tmux.WaitFor("CODI DEL PROPIETARI:")) << tmux.ScreenText();
  tmux.WaitQuiet();
  EXPECT_EQ(tmux.ScreenText().find("CONFIRMEU LA BAIXA"), std::string::npos) << tmux.ScreenText();
  // Owner 5 is gone for the first operator too.
  tmux.SendText("5");
  tmux.SendKeys({"Enter"});
  EXPECT_TRUE(tmux.WaitFor("PROPIETARI INEXISTENT")) << tmux.ScreenText();
  tmux.SendKeys({"Enter"});
  tmux.WaitQuiet();
  tmux.SendKeys({"Escape"});
  int status = -1;
  ASSERT_TRUE(tmux.WaitExit(&status)) << tmux.ScreenText();
  EXPECT_EQ(status, 0);
  // What the second operator made is the group's and group-writable as well.
  struct stat log {};
  ASSERT_EQ(::stat((root + "/db.log").c_str(), &log), 0);
  EXPECT_EQ(log.st_mode & 0777, 0664u);
  EXPECT_EQ(log.st_gid, owners.st_gid);
}

}  // namespace
}  // namespace kap::test
