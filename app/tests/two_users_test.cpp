// Two operators, two Unix users of one group, on one installation: the set-up the README
// describes (a group-owned setgid tree, umask 002). Each runs the real program on a real
// terminal at the same time; the second removes an owner whose data files the first created.
#include <pwd.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>

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
  if (ExitCode({"/usr/bin/getent", "group", group}) != 0) {
    ASSERT_EQ(ExitCode({"/usr/sbin/groupadd", group}), 0);
  }
  ASSERT_TRUE(EnsureOperator("kapop1", group));
  ASSERT_TRUE(EnsureOperator("kapop2", group));

  TempDir dir;
  const std::string root = dir.file("kap");
  // The shared folder: the group's, setgid so that everything made in it stays the group's.
  ::chmod(dir.path().c_str(), 0755);
  ASSERT_EQ(ExitCode({"/usr/bin/install", "-d", "-g", group, "-m", "2775", root}), 0);
  ProcessResult built = RunProcess({"/usr/sbin/runuser", "-u", "kapop1", "--", "/bin/sh", "-c",
                                    "umask 002; exec \"$0\" demo build \"$1\" \"$2\"",
                                    BuildPath("tools/kaptool"), SourcePath("demo"), root});
  ASSERT_EQ(built.exitCode, 0) << built.output << built.errors;
  struct stat owners {};
  ASSERT_EQ(::stat((root + "/DADES/PropietV.dat").c_str(), &owners), 0);
  EXPECT_EQ(owners.st_mode & 0777, 0664u);

  // Both terminals run at once, one per operator. The first shows owner 5, so it holds the
  // owner in the lock file it created; the second asks for the same owner, waits, and once the
  // first lets go removes it: writing the lock file, the data files and db.log of the first.
  auto start = [&](const std::string& user, const std::string& terminal) {
    return std::make_unique<Tmux>(
        AsOperator(user, BuildPath("app/vownmain")),
        std::map<std::string, std::string>{{"KAPROOT", root + "/"},
                                           {"KAPTMP", root + "/" + terminal},
                                           {"KAPTERM", root + "/" + terminal}},
        root);
  };
  auto first = start("kapop1", "T01");
  ASSERT_TRUE(first->WaitFor("CODI DEL PROPIETARI:")) << first->ScreenText();
  first->SendText("5");
  first->SendKeys({"Enter"});
  ASSERT_TRUE(first->WaitFor("CONFIRMEU LA BAIXA")) << first->ScreenText();
  auto second = start("kapop2", "T02");
  ASSERT_TRUE(second->WaitFor("C\u00d3DIGO DEL PROPIETARIO:")) << second->ScreenText();
  second->SendText("5");
  second->SendKeys({"Enter"});
  ASSERT_TRUE(second->WaitFor("FICHERO BLOQUEADO")) << second->ScreenText();
  first->SendKeys({"Enter"});  // answers no and lets the owner go
  ASSERT_TRUE(second->WaitFor("CONFIRME LA BAJA", std::chrono::seconds(15)))
      << second->ScreenText();
  second->SendText("s");
  second->SendKeys({"Enter"});
  ASSERT_TRUE(second->WaitFor("C\u00d3DIGO DEL PROPIETARIO:")) << second->ScreenText();
  second->WaitQuiet();
  EXPECT_EQ(second->ScreenText().find("CONFIRME LA BAJA"), std::string::npos)
      << second->ScreenText();
  // Owner 5 is gone for the first operator too.
  first->WaitQuiet();
  first->SendText("5");
  first->SendKeys({"Enter"});
  EXPECT_TRUE(first->WaitFor("PROPIETARI INEXISTENT")) << first->ScreenText();
  first->SendKeys({"Enter"});
  first->WaitQuiet();
  for (Tmux* t : {first.get(), second.get()}) {
    t->SendKeys({"Escape"});
    int status = -1;
    ASSERT_TRUE(t->WaitExit(&status)) << t->ScreenText();
    EXPECT_EQ(status, 0) << t->ScreenText();
  }
  // The owners' lock file is the first operator's, and the second could still use it.
  struct stat lock {};
  ASSERT_EQ(::stat((root + "/LOCKS/PROPIETV.lck").c_str(), &lock), 0);
  const passwd* firstOperator = ::getpwnam("kapop1");
  ASSERT_NE(firstOperator, nullptr);
  EXPECT_EQ(lock.st_uid, firstOperator->pw_uid);
  EXPECT_EQ(lock.st_mode & 0777, 0664u);
  // What the second operator made is the group's and group-writable as well.
  struct stat log {};
  ASSERT_EQ(::stat((root + "/db.log").c_str(), &log), 0);
  EXPECT_EQ(log.st_mode & 0777, 0664u);
  EXPECT_EQ(log.st_gid, owners.st_gid);
}

}  // namespace
}  // namespace kap::test
