// The POSIX Os on real files and real processes: path mapping, opens with and without sharing.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/os.h"
#include "testsupport/test_support.h"

namespace kap {
namespace {

using test::TempDir;

TEST(MapPath, ResolvesEachComponentWithoutRegardToCase) {
  TempDir dir;
  test::MakeDirs(dir.file("Root/DADES"));
  test::WriteFile(dir.file("Root/DADES/PropietV.dat"), "x");
  test::MakeDirs(dir.file("Root/LOCKS"));
  Os& os = PosixOs();
  const std::string base = dir.path() + "/";
  struct Case {
    std::string in, out;
  } cases[] = {
      {base + "Root/DADES/PropietV.dat", base + "Root/DADES/PropietV.dat"},
      {base + "root\\dades\\PROPIETV.DAT", base + "Root/DADES/PropietV.dat"},
      {base + "ROOT/locks/", base + "Root/LOCKS/"},
      // A component without a match keeps its case, and so does everything below it.
      {base + "root/locks/New.lck", base + "Root/LOCKS/New.lck"},
      {base + "root/Nothing/dades", base + "Root/Nothing/dades"},
      {base + "Root//dades", base + "Root//DADES"},
      {base + "root/./dades/../Locks", base + "Root/./DADES/../LOCKS"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(os.MapPath(c.in), c.out) << "input: " << c.in;
}

TEST(MapPath, RelativePathsResolveAgainstTheCurrentDirectory) {
  TempDir dir;
  test::MakeDirs(dir.file("T01"));
  test::WriteFile(dir.file("T01/Sessio.ini"), "");
  Os& os = PosixOs();
  std::string old = os.CurrentDir();
  ASSERT_TRUE(os.ChangeDir(dir.path()));
  EXPECT_EQ(os.MapPath("t01\\SESSIO.INI"), "T01/Sessio.ini");
  EXPECT_EQ(os.MapPath("T01"), "T01");
  EXPECT_TRUE(os.FileExists("t01\\sessio.ini"));
  // ChangeDir maps too.
  EXPECT_TRUE(os.ChangeDir("t01"));
  EXPECT_EQ(os.CurrentDir(), dir.path() + "/T01");
  ASSERT_TRUE(os.ChangeDir(old));
}

TEST(MapPath, SeveralMatchesPickTheSmallestName) {
  TempDir dir;
  test::MakeDirs(dir.file("abc"));
  test::MakeDirs(dir.file("ABC"));
  test::MakeDirs(dir.file("Abc"));
  EXPECT_EQ(PosixOs().MapPath(dir.path() + "/aBC"), dir.path() + "/ABC");
}

TEST(OsFiles, SuitePathsWorkForEveryFileOperation) {
  TempDir dir;
  test::MakeDirs(dir.file("Kap/LOCKS"));
  Os& os = PosixOs();
  const std::string suite = dir.path() + "\\KAP\\locks\\";
  OpenResult result;
  auto file = os.OpenFile(suite + "PropietV.lck", true, false, Sharing::kShared, &result);
  ASSERT_TRUE(file) << static_cast<int>(result);
  EXPECT_EQ(result, OpenResult::kOk);
  file.reset();
  // The new file keeps the case it was given; its folder is the existing one.
  EXPECT_TRUE(test::FileExists(dir.file("Kap/LOCKS/PropietV.lck")));
  EXPECT_TRUE(os.FileExists(suite + "PROPIETV.LCK"));
  EXPECT_TRUE(os.RemoveFile(suite + "propietv.lck"));
  EXPECT_FALSE(os.FileExists(suite + "PropietV.lck"));
  EXPECT_FALSE(os.RemoveFile(suite + "PropietV.lck"));

  EXPECT_TRUE(os.MakeDir(dir.path() + "\\kap\\Dades"));
  EXPECT_TRUE(os.MakeDir(dir.path() + "\\KAP\\DADES"));  // exists already: same folder
  struct stat info;
  EXPECT_EQ(::stat(dir.file("Kap/Dades").c_str(), &info), 0);
  EXPECT_FALSE(os.MakeDir(dir.path() + "\\missing\\deeper"));
}

TEST(OsFiles, OpenFailuresAreTold) {
  TempDir dir;
  test::MakeDirs(dir.file("sub"));
  test::WriteFile(dir.file("plain"), "data");
  Os& os = PosixOs();
  struct Case {
    std::string path;
    bool create;
    OpenResult expected;
  } cases[] = {
      {dir.file("nofolder/x.lck"), true, OpenResult::kPathMissing},
      {dir.file("nofolder/x.lck"), false, OpenResult::kPathMissing},
      {dir.file("plain/x.lck"), true, OpenResult::kPathMissing},  // a file used as a folder
      {dir.file("absent.lck"), false, OpenResult::kFailed},
      {dir.file("sub"), false, OpenResult::kFailed},  // a folder is not a file
  };
  for (const Case& c : cases) {
    OpenResult result = OpenResult::kOk;
    auto file = os.OpenFile(c.path, c.create, false, Sharing::kShared, &result);
    EXPECT_FALSE(file) << c.path;
    EXPECT_EQ(result, c.expected) << c.path;
  }
  if (::geteuid() != 0) {
    ::chmod(dir.file("plain").c_str(), 0444);
    OpenResult result;
    EXPECT_FALSE(os.OpenFile(dir.file("plain"), false, false, Sharing::kShared, &result));
    EXPECT_EQ(result, OpenResult::kFailed);
    EXPECT_TRUE(os.OpenFile(dir.file("plain"), false, true, Sharing::kShared, &result));
  }
}

TEST(OsFiles, ReadWriteSizeAndTruncate) {
  TempDir dir;
  Os& os = PosixOs();
  OpenResult result;
  auto file = os.OpenFile(dir.file("f.bin"), true, false, Sharing::kExclusive, &result);
  ASSERT_TRUE(file);
  EXPECT_EQ(file->Size(), 0);
  ASSERT_TRUE(file->WriteAt(0, std::string("abc\0def", 7)));
  ASSERT_TRUE(file->WriteAt(10, "Z"));  // past the end: a hole of zeros
  EXPECT_EQ(file->Size(), 11);
  std::string out;
  ASSERT_TRUE(file->ReadAt(2, 4, &out));
  EXPECT_EQ(out, std::string("c\0de", 4));
  // A huge request gives what there is, without allocating the request.
  ASSERT_TRUE(file->ReadAt(8, size_t(1) << 60, &out));
  EXPECT_EQ(out, std::string("\0\0Z", 3));
  ASSERT_TRUE(file->ReadAt(50, 10, &out));
  EXPECT_EQ(out, "");
  EXPECT_FALSE(file->ReadAt(-1, 10, &out));
  EXPECT_FALSE(file->WriteAt(-1, "x"));
  ASSERT_TRUE(file->Truncate(3));
  EXPECT_EQ(file->Size(), 3);
  EXPECT_FALSE(file->Truncate(-5));
  file.reset();
  EXPECT_EQ(test::ReadFile(dir.file("f.bin")), "abc");
}

// The child holds `path` open with `sharing` until the parent closes the pipe.
int HoldInChild(const std::string& path, Sharing sharing, int* release, int* ready) {
  int toChild[2], fromChild[2];
  if (pipe(toChild) != 0 || pipe(fromChild) != 0) return -1;
  int pid = test::ForkChild([&]() {
    close(toChild[1]);
    close(fromChild[0]);
    OpenResult result;
    auto file = PosixOs().OpenFile(path, true, false, sharing, &result);
    char c = file ? 'y' : 'n';
    if (write(fromChild[1], &c, 1) != 1) return 3;
    if (read(toChild[0], &c, 1) < 0) return 4;  // returns 0 when the parent closes its end
    return file ? 0 : 1;
  });
  close(toChild[0]);
  close(fromChild[1]);
  *release = toChild[1];
  *ready = fromChild[0];
  return pid;
}

TEST(OsFiles, AnExclusiveOpenKeepsEveryOtherProcessOut) {
  TempDir dir;
  const std::string path = dir.file("LOCKS.TMP");
  int release, ready;
  int pid = HoldInChild(path, Sharing::kExclusive, &release, &ready);
  ASSERT_GT(pid, 0);
  char c = 0;
  ASSERT_EQ(read(ready, &c, 1), 1);
  ASSERT_EQ(c, 'y');
  Os& os = PosixOs();
  for (Sharing sharing : {Sharing::kExclusive, Sharing::kShared}) {
    OpenResult result = OpenResult::kOk;
    EXPECT_FALSE(os.OpenFile(path, true, false, sharing, &result));
    EXPECT_EQ(result, OpenResult::kBusy) << static_cast<int>(sharing);
  }
  close(release);
  EXPECT_EQ(test::WaitChild(pid), 0);
  close(ready);
  // The lock went with the process.
  OpenResult result;
  EXPECT_TRUE(os.OpenFile(path, false, false, Sharing::kExclusive, &result));
}

TEST(OsFiles, SharedOpensCoexistButKeepAnExclusiveOpenOut) {
  TempDir dir;
  const std::string path = dir.file("shared.dat");
  int release, ready;
  int pid = HoldInChild(path, Sharing::kShared, &release, &ready);
  ASSERT_GT(pid, 0);
  char c = 0;
  ASSERT_EQ(read(ready, &c, 1), 1);
  ASSERT_EQ(c, 'y');
  Os& os = PosixOs();
  OpenResult result;
  EXPECT_TRUE(os.OpenFile(path, false, true, Sharing::kShared, &result));
  EXPECT_FALSE(os.OpenFile(path, false, false, Sharing::kExclusive, &result));
  EXPECT_EQ(result, OpenResult::kBusy);
  close(release);
  EXPECT_EQ(test::WaitChild(pid), 0);
  close(ready);
}

TEST(OsFiles, AKilledHolderLeavesNoLock) {
  TempDir dir;
  const std::string path = dir.file("crash.lck");
  int release, ready;
  int pid = HoldInChild(path, Sharing::kExclusive, &release, &ready);
  ASSERT_GT(pid, 0);
  char c = 0;
  ASSERT_EQ(read(ready, &c, 1), 1);
  kill(pid, SIGKILL);
  EXPECT_EQ(test::WaitChild(pid), -1);
  close(release);
  close(ready);
  OpenResult result;
  EXPECT_TRUE(PosixOs().OpenFile(path, false, false, Sharing::kExclusive, &result));
}

TEST(OsFiles, ClosingTheFileReleasesTheLockWithinTheProcess) {
  TempDir dir;
  Os& os = PosixOs();
  OpenResult result;
  auto first = os.OpenFile(dir.file("a.lck"), true, false, Sharing::kExclusive, &result);
  ASSERT_TRUE(first);
  EXPECT_FALSE(os.OpenFile(dir.file("A.LCK"), true, false, Sharing::kExclusive, &result));
  EXPECT_EQ(result, OpenResult::kBusy);
  first.reset();
  EXPECT_TRUE(os.OpenFile(dir.file("A.LCK"), true, false, Sharing::kExclusive, &result));
}

}  // namespace
}  // namespace kap
