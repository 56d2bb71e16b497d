// Process marks of the system's Os against real child processes: a mark lives as long as the
// process that holds it, however that process ends.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/os.h"
#include "testsupport/test_support.h"

namespace kap {
namespace {

// The child's part: hold mark 7 (and 2000000000 when asked), say so, wait to be killed.
int HoldMarksUntilKilled(const test::ChildArgs& args) {
  auto file = PosixOs().OpenFile(args.at("file"), false, false, Sharing::kShared, nullptr);
  if (!file || !file->HoldMark(7)) return 2;
  if (args.count("both") && !file->HoldMark(2000000000)) return 3;
  test::WriteFile(args.at("ready"), "1");
  for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
}

std::unique_ptr<test::ChildProcess> StartHolder(test::ChildArgs args) {
  auto child = std::make_unique<test::ChildProcess>("hold", args, HoldMarksUntilKilled);
  EXPECT_TRUE(test::Eventually([&] { return test::FileExists(args.at("ready")); },
                               std::chrono::seconds(30)));
  return child;
}

TEST(OsMarks, LiveAsLongAsTheirHoldersProcess) {
  test::RunChildRole({{"hold", HoldMarksUntilKilled}});
  test::TempDir dir, signals;
  const std::string path = dir.file("ALIVE.TMP");
  auto mine = PosixOs().OpenFile(path, true, false, Sharing::kShared, nullptr);
  ASSERT_TRUE(mine && mine->MarksSupported());
  ASSERT_TRUE(mine->HoldMark(2000000000));  // far beyond the end of the empty file
  EXPECT_TRUE(mine->HoldMark(2000000000)) << "held again by the same open";
  EXPECT_FALSE(mine->MarkHeldElsewhere(2000000000)) << "its own mark is not another's";

  auto first = StartHolder({{"file", path}, {"ready", signals.file("first")}});
  // A second holder of both marks: a mark is shared, and one holder's end leaves the other's.
  auto second = StartHolder({{"file", path}, {"ready", signals.file("second")}, {"both", "1"}});

  auto other = PosixOs().OpenFile(path, false, false, Sharing::kShared, nullptr);
  ASSERT_TRUE(other);
  EXPECT_TRUE(other->MarkHeldElsewhere(7));
  EXPECT_TRUE(mine->MarkHeldElsewhere(2000000000)) << "held by the second child too";
  EXPECT_FALSE(other->MarkHeldElsewhere(8));
  EXPECT_FALSE(other->MarkHeldElsewhere(6)) << "a neighbour's mark is not its";
  // Probes never disturb each other nor the holders.
  EXPECT_TRUE(other->MarkHeldElsewhere(7));

  first->Kill();
  first->Wait();
  EXPECT_TRUE(other->MarkHeldElsewhere(7)) << "the second child still holds it";
  second->Kill();
  second->Wait();
  EXPECT_FALSE(other->MarkHeldElsewhere(7)) << "gone with the processes";
  EXPECT_TRUE(other->MarkHeldElsewhere(2000000000)) << "another open of this process";
  mine->ReleaseMark(2000000000);
  EXPECT_FALSE(other->MarkHeldElsewhere(2000000000));
  EXPECT_FALSE(mine->HoldMark(-1));
  EXPECT_EQ(PosixOs().ListFiles(dir.path()), std::vector<std::string>{"ALIVE.TMP"});
}

}  // namespace
}  // namespace kap
