// Process marks of the Windows Os against real child processes: a mark lives as long as the
// process that holds it, however that process ends.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>

#include "platform/os.h"
#include "testsupport/test_support.h"

namespace kap {
namespace {

const char* const kTest = "WindowsMarks.LiveAsLongAsTheirHoldersProcess";

// The child's part: hold mark 7 (and 2000000000 when asked), say so, wait to be killed.
int HoldMarksUntilKilled() {
  auto file = WindowsOs().OpenFile(std::getenv("KAP_MARKS_FILE"), false, false,
                                   Sharing::kShared, nullptr);
  if (!file || !file->HoldMark(7)) return 2;
  if (std::getenv("KAP_MARKS_BOTH") && !file->HoldMark(2000000000)) return 3;
  std::printf("ready\n");
  std::fflush(stdout);
  ::Sleep(INFINITE);
  return 0;
}

TEST(WindowsMarks, LiveAsLongAsTheirHoldersProcess) {
  if (test::ChildRole() == "hold") std::exit(HoldMarksUntilKilled());
  test::TempDir dir;
  const std::string path = dir.file("ALIVE.TMP");
  auto mine = WindowsOs().OpenFile(path, true, false, Sharing::kShared, nullptr);
  ASSERT_TRUE(mine && mine->MarksSupported());
  ASSERT_TRUE(mine->HoldMark(2000000000));  // far beyond the end of the empty file
  EXPECT_TRUE(mine->HoldMark(2000000000)) << "held again by the same open";
  EXPECT_FALSE(mine->MarkHeldElsewhere(2000000000)) << "its own mark is not another's";

  test::SelfChild first(kTest, "hold", {{"KAP_MARKS_FILE", path}});
  ASSERT_TRUE(first.Started());
  ASSERT_TRUE(first.WaitForLine("ready"));
  // A second holder of both marks: a mark is shared, and one holder's end leaves the other's.
  test::SelfChild second(kTest, "hold", {{"KAP_MARKS_FILE", path}, {"KAP_MARKS_BOTH", "1"}});
  ASSERT_TRUE(second.WaitForLine("ready"));

  auto other = WindowsOs().OpenFile(path, false, false, Sharing::kShared, nullptr);
  ASSERT_TRUE(other);
  EXPECT_TRUE(other->MarkHeldElsewhere(7));
  EXPECT_TRUE(mine->MarkHeldElsewhere(2000000000)) << "held by the second child too";
  EXPECT_FALSE(other->MarkHeldElsewhere(8));
  EXPECT_FALSE(other->MarkHeldElsewhere(6)) << "a neighbour's slots are not its";
  // Probes never disturb each other nor the holders.
  EXPECT_TRUE(other->MarkHeldElsewhere(7));

  first.Kill();
  EXPECT_TRUE(other->MarkHeldElsewhere(7)) << "the second child still holds it";
  second.Kill();
  EXPECT_FALSE(other->MarkHeldElsewhere(7)) << "gone with the processes";
  EXPECT_TRUE(other->MarkHeldElsewhere(2000000000)) << "another open of this process";
  mine->ReleaseMark(2000000000);
  EXPECT_FALSE(other->MarkHeldElsewhere(2000000000));
  EXPECT_FALSE(mine->HoldMark(-1));
}

}  // namespace
}  // namespace kap
#endif
