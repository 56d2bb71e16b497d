// The POSIX Os on real files and real processes.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <functional>

#include <gtest/gtest.h>

#include "platform/os.h"
#include "testsupport/test_support.h"

namespace kap {
namespace {

using test::TempDir;

TEST(MapPath, ResolvesEachComponentWithoutRegardToCase) {
  TempDir dir;
  test::MakeDirs(dir.file("Root/DADES"));
  test::MakeDirs(dir.file("Root/LOCKS"));
  test::MakeDirs(dir.file("abc"));
  test::MakeDirs(dir.file("ABC"));
  const std::string b = dir.path() + "/";
  const std::pair<std::string, std::string> cases[] = {
      {b + "root\\dades\\", b + "Root/DADES/"},
      // A component without a match keeps its case, and so does everything below it.
      {b + "root/locks/New.lck", b + "Root/LOCKS/New.lck"},
      {b + "root/Nothing/dades", b + "Root/Nothing/dades"},
      {b + "root//./dades/../Locks", b + "Root//./DADES/../LOCKS"},
      {b + "aBc", b + "ABC"},  // several matches: the smallest name
      {"", ""},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(PosixOs().MapPath(in), out) << in;
  std::string old = PosixOs().CurrentDir();
  ASSERT_TRUE(PosixOs().ChangeDir(b + "ROOT"));  // relative paths resolve from here
  EXPECT_EQ(PosixOs().MapPath("dades\\x"), "DADES/x");
  ASSERT_TRUE(PosixOs().ChangeDir(old));
}

TEST(OsFiles, SuitePathsReachTheFiles) {
  TempDir dir;
  test::MakeDirs(dir.file("Kap/LOCKS"));
  Os& os = PosixOs();
  const std::string locks = dir.path() + "\\KAP\\locks\\";
  OpenResult result;
  auto file = os.OpenFile(locks + "PropietV.lck", true, false, Sharing::kShared, &result);
  ASSERT_TRUE(file);
  ASSERT_TRUE(file->WriteAt(0, "abc"));
  ASSERT_TRUE(file->WriteAt(5, "Z"));  // past the end: a hole of zeros
  std::string out;
  ASSERT_TRUE(file->ReadAt(2, size_t(1) << 60, &out));  // a huge request gives what there is
  EXPECT_EQ(out, std::string("c\0\0Z", 4));
  EXPECT_TRUE(file->Truncate(2));
  EXPECT_EQ(file->Size(), 2);
  EXPECT_FALSE(file->ReadAt(-1, 1, &out));
  file.reset();
  EXPECT_EQ(test::ReadFile(dir.file("Kap/LOCKS/PropietV.lck")), "ab");  // the given case
  EXPECT_TRUE(os.FileExists(locks + "PROPIETV.LCK"));
  EXPECT_TRUE(os.RemoveFile(locks + "propietv.lck"));
  EXPECT_FALSE(os.FileExists(locks + "PropietV.lck"));
  EXPECT_TRUE(os.MakeDir(dir.path() + "\\kap\\Dades"));
  EXPECT_TRUE(os.MakeDir(dir.path() + "\\KAP\\DADES"));  // already there
  EXPECT_TRUE(test::FileExists(dir.file("Kap/Dades")));
  EXPECT_FALSE(os.MakeDir(dir.path() + "\\missing\\deeper"));
}

TEST(OsFiles, OpenFailuresAreTold) {
  TempDir dir;
  test::MakeDirs(dir.file("sub"));
  test::WriteFile(dir.file("plain"), "data");
  struct Case {
    std::string path;
    bool create;
    OpenResult expected;
    OsError cause;  // what the operator is told
  } cases[] = {
      {dir.file("nofolder/x.lck"), true, OpenResult::kPathMissing, OsError::kMissing},
      {dir.file("plain/x.lck"), true, OpenResult::kPathMissing, OsError::kNotAFolder},
      {dir.file("absent.lck"), false, OpenResult::kFailed, OsError::kMissing},
      {dir.file("sub"), false, OpenResult::kFailed, OsError::kNotAFile},
      // A planted link is never written through, whether its target exists or not.
      {dir.file("link"), false, OpenResult::kFailed, OsError::kLink},
      {dir.file("link"), true, OpenResult::kFailed, OsError::kLink},
      {dir.file("dangling"), true, OpenResult::kFailed, OsError::kLink},
  };
  ASSERT_EQ(::symlink(dir.file("plain").c_str(), dir.file("link").c_str()), 0);
  ASSERT_EQ(::symlink(dir.file("made").c_str(), dir.file("dangling").c_str()), 0);
  for (const Case& c : cases) {
    OpenResult result = OpenResult::kOk;
    EXPECT_FALSE(PosixOs().OpenFile(c.path, c.create, false, Sharing::kShared, &result)) << c.path;
    EXPECT_EQ(result, c.expected) << c.path;
    EXPECT_EQ(PosixOs().LastError(), c.cause) << c.path;
  }
  EXPECT_FALSE(PosixOs().MakeDir(dir.path() + "\\plain"));
  EXPECT_EQ(PosixOs().LastError(), OsError::kNotAFolder);
  EXPECT_EQ(PosixOs().AppendFile(dir.file("link"), "more"), ELOOP);
  EXPECT_EQ(PosixOs().AppendFile(dir.file("dangling"), "more"), ELOOP);
  EXPECT_EQ(test::ReadFile(dir.file("plain")), "data");
  EXPECT_FALSE(test::FileExists(dir.file("made")));
  // Reading through a link is harmless and stays allowed.
  EXPECT_TRUE(PosixOs().OpenFile(dir.file("link"), false, true, Sharing::kShared, nullptr));
  EXPECT_EQ(PosixOs().AppendFile(dir.file("log"), "a"), 0);
  EXPECT_EQ(PosixOs().AppendFile(dir.file("log"), "b"), 0);
  EXPECT_EQ(test::ReadFile(dir.file("log")), "ab");
}

// Whatever the OS layer creates takes the creator's umask on 0666 / 0777, nothing fixed: an
// operators' group with umask 002 can share it, and umask 077 keeps it private.
TEST(OsFiles, CreatedFilesAndFoldersFollowTheUmask) {
  TempDir dir;
  struct Made {
    const char* how;
    std::function<bool(const std::string&)> make;
    mode_t full;
  } ways[] = {
      {"OpenFile",
       [](const std::string& p) {
         return PosixOs().OpenFile(p, true, false, Sharing::kShared, nullptr) != nullptr;
       },
       0666},
      {"OpenFile exclusive",
       [](const std::string& p) {
         return PosixOs().OpenFile(p, true, false, Sharing::kExclusive, nullptr) != nullptr;
       },
       0666},
      {"AppendFile", [](const std::string& p) { return PosixOs().AppendFile(p, "x") == 0; }, 0666},
      {"MakeDir", [](const std::string& p) { return PosixOs().MakeDir(p); }, 0777},
  };
  for (mode_t mask : {mode_t{0}, mode_t{002}, mode_t{022}, mode_t{077}}) {
    for (const Made& way : ways) {
      const std::string path = dir.file(std::string(way.how) + std::to_string(mask));
      const mode_t before = ::umask(mask);
      const bool made = way.make(path);
      ::umask(before);
      ASSERT_TRUE(made) << way.how;
      struct stat info {};
      ASSERT_EQ(::stat(path.c_str(), &info), 0) << path;
      EXPECT_EQ(info.st_mode & 07777, way.full & ~mask) << way.how << " umask " << std::oct << mask;
    }
  }
}

// A child process opens `path` with `sharing`, reports, and holds it until told to end.
struct Holder {
  Holder(const std::string& path, Sharing sharing) {
    int toChild[2], fromChild[2];
    if (pipe(toChild) != 0 || pipe(fromChild) != 0) return;
    pid = test::ForkChild([&]() {
      close(toChild[1]);  // so that the parent's close ends the read below
      OpenResult result;
      auto file = PosixOs().OpenFile(path, true, false, sharing, &result);
      char c = file ? 'y' : 'n';
      if (write(fromChild[1], &c, 1) != 1 || read(toChild[0], &c, 1) < 0) return 3;
      return 0;
    });
    close(toChild[0]);
    close(fromChild[1]);
    release = toChild[1];
    char c = 0;
    opened = read(fromChild[0], &c, 1) == 1 && c == 'y';
    close(fromChild[0]);
  }
  ~Holder() {
    if (release >= 0) End();  // a failed assertion must not leave the child waiting
  }
  int End() {
    close(release);
    release = -1;
    return test::WaitChild(pid);
  }
  int pid = -1, release = -1;
  bool opened = false;
};

TEST(OsFiles, OpensWithoutSharingKeepOtherProcessesOut) {
  TempDir dir;
  const std::string path = dir.file("LOCKS.TMP");
  Os& os = PosixOs();
  OpenResult result;
  {
    Holder exclusive(path, Sharing::kExclusive);
    ASSERT_TRUE(exclusive.opened);
    for (Sharing sharing : {Sharing::kExclusive, Sharing::kShared}) {
      EXPECT_FALSE(os.OpenFile(path, true, false, sharing, &result));
      EXPECT_EQ(result, OpenResult::kBusy);
    }
    EXPECT_EQ(exclusive.End(), 0);
  }
  {
    Holder shared(path, Sharing::kShared);
    ASSERT_TRUE(shared.opened);
    EXPECT_TRUE(os.OpenFile(path, false, true, Sharing::kShared, &result));
    EXPECT_FALSE(os.OpenFile(path, false, false, Sharing::kExclusive, &result));
    EXPECT_EQ(result, OpenResult::kBusy);
    EXPECT_EQ(shared.End(), 0);
  }
  {
    // A killed holder leaves no lock behind.
    Holder killed(path, Sharing::kExclusive);
    ASSERT_TRUE(killed.opened);
    kill(killed.pid, SIGKILL);
    EXPECT_EQ(killed.End(), -1);
  }
  auto mine = os.OpenFile(path, false, false, Sharing::kExclusive, &result);
  ASSERT_TRUE(mine);
  // Within the process, too, until the File is closed.
  EXPECT_FALSE(os.OpenFile(dir.file("locks.tmp"), false, false, Sharing::kExclusive, &result));
  mine.reset();
  EXPECT_TRUE(os.OpenFile(dir.file("locks.tmp"), false, false, Sharing::kExclusive, &result));
}

TEST(OsServices, TermFromKaptermAndRepeatableRandomNumbers) {
  test::ScopedEnv env;
  env.Set("TERM", "xterm").Set("KAPTERM", "/srv/kap/t01/").Unset("KAPEXE");
  Os& os = PosixOs();
  EXPECT_EQ(os.GetEnv("TERM"), "/srv/kap/t01/");  // the suite's TERM
  EXPECT_EQ(os.GetEnv("KAPEXE"), "");
  os.SeedRandom(12345);
  double first = os.Random(), low = 1, high = 0;
  for (int i = 0; i < 2000; ++i) {
    double r = os.Random();
    ASSERT_TRUE(r >= 0 && r < 1) << r;
    low = std::min(low, r);
    high = std::max(high, r);
  }
  EXPECT_TRUE(low < 0.01 && high > 0.99);
  os.SeedRandom(12345);
  EXPECT_EQ(os.Random(), first);
}

}  // namespace
}  // namespace kap
