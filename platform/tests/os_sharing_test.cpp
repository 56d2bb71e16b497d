// Opens with and without sharing against each other inside one process, on the system's own
// Os: flock on POSIX, the share modes of CreateFile on Windows. The lock files rely on both
// answering alike.
#include <gtest/gtest.h>

#include "platform/os.h"
#include "testsupport/test_support.h"

namespace kap {
namespace {

const char* Name(Sharing s) { return s == Sharing::kExclusive ? "exclusive" : "shared"; }

TEST(OsSharing, AnExclusiveOpenKeepsEveryOtherOpenOut) {
  test::TempDir dir;
  const std::string path = dir.file("LOCKS.TMP");
  test::WriteFile(path, "x");
  struct Case {
    Sharing held, wanted;
    OpenResult expected;
  } cases[] = {
      {Sharing::kShared, Sharing::kShared, OpenResult::kOk},
      {Sharing::kShared, Sharing::kExclusive, OpenResult::kBusy},
      {Sharing::kExclusive, Sharing::kShared, OpenResult::kBusy},
      {Sharing::kExclusive, Sharing::kExclusive, OpenResult::kBusy},
  };
  Os& os = GetOs();
  for (const Case& c : cases) {
    OpenResult result = OpenResult::kFailed;
    auto held = os.OpenFile(path, false, false, c.held, &result);
    ASSERT_TRUE(held) << Name(c.held);
    auto second = os.OpenFile(path, true, false, c.wanted, &result);
    EXPECT_EQ(result, c.expected) << Name(c.held) << " held, " << Name(c.wanted) << " wanted";
    EXPECT_EQ(second != nullptr, c.expected == OpenResult::kOk);
    // Closing gives the file back at once.
    second.reset();
    held.reset();
    auto after = os.OpenFile(path, false, false, Sharing::kExclusive, &result);
    EXPECT_TRUE(after) << "after " << Name(c.held) << " and " << Name(c.wanted);
  }
}

TEST(OsSharing, ReadsAndWritesAtOffsetsKeepTheRest) {
  test::TempDir dir;
  OpenResult result;
  auto file = GetOs().OpenFile(dir.file("entries.lck"), true, false, Sharing::kExclusive, &result);
  ASSERT_TRUE(file);
  ASSERT_TRUE(file->WriteAt(0, "0123456789"));
  ASSERT_TRUE(file->WriteAt(12, "AB"));  // past the end: the gap reads as zero bytes
  EXPECT_EQ(file->Size(), 14);
  std::string bytes;
  ASSERT_TRUE(file->ReadAt(8, 100, &bytes));
  EXPECT_EQ(bytes, std::string("89\0\0AB", 6));
  ASSERT_TRUE(file->Truncate(3));
  ASSERT_TRUE(file->ReadAt(0, 10, &bytes));
  EXPECT_EQ(bytes, "012");
  ASSERT_TRUE(file->ReadAt(5, 10, &bytes));
  EXPECT_EQ(bytes, "");
}

}  // namespace
}  // namespace kap
