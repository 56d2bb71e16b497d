// Creation blocks: what the builder writes is what the reader and the engines read back.
#include <gtest/gtest.h>

#include "platform/bytes.h"
#include "platform/record_manager.h"
#include "platform/tests/record_manager_support.h"
#include "testsupport/test_support.h"

namespace kap {
namespace {

TEST(CreationBlockTest, ReadGivesBackWhatWasBuilt) {
  rm::FileLayout layout;
  layout.recordLength = 321;
  layout.pageSize = 1024;
  layout.fileFlags = 0x0001;
  layout.keys = {{{1, 2, rm::kKeyBinary, 0}},
                 {{3, 30, rm::kKeyDuplicates | rm::kKeyAcs, 0},
                  {40, 4, rm::kKeyDuplicates | rm::kKeyExtendedType, 14}}};
  layout.acs = test::UpperAcs();
  const std::string block = rm::BuildCreationBlock(layout);
  ASSERT_EQ(block.size(), 16u + 3 * 16 + 265);
  // Only the first segment of the two-segment key says that another follows.
  EXPECT_EQ(LittleEndian16(block, 16 + 16 + 4) & rm::kKeySegmented, rm::kKeySegmented);
  EXPECT_EQ(LittleEndian16(block, 16 + 32 + 4) & rm::kKeySegmented, 0);
  rm::FileLayout read;
  ASSERT_TRUE(rm::ReadCreationBlock(block, &read));
  EXPECT_EQ(read.recordLength, 321);
  EXPECT_EQ(read.pageSize, 1024);
  EXPECT_EQ(read.fileFlags, 1);
  EXPECT_EQ(read.keys, layout.keys);
  EXPECT_EQ(read.acs, layout.acs);

  // The file engine takes it as it is, and its Stat answer reads back the same keys.
  test::TempDir dir;
  test::RmFile file;
  layout.fileFlags = 0;  // a flag this engine keeps no use for
  ASSERT_EQ(file.Create(dir.file("x.dat"), rm::BuildCreationBlock(layout)), 0);
  ASSERT_EQ(file.Open(dir.file("x.dat")), 0);
  std::string stat(4096, '\0'), key(255, '\0');
  ASSERT_EQ(file.Call(rm::kStat, &stat, &key, 0), 0);
  ASSERT_TRUE(rm::ReadCreationBlock(stat, &read));
  EXPECT_EQ(read.keys, layout.keys);
  file.Close();
}

TEST(CreationBlockTest, ShortBlocksAreRefused) {
  rm::FileLayout layout;
  layout.recordLength = 20;
  layout.keys = {{{1, 4, rm::kKeyAcs, 0}}};
  layout.acs = test::UpperAcs();
  const std::string block = rm::BuildCreationBlock(layout);
  rm::FileLayout read;
  for (size_t cut : {size_t{0}, size_t{15}, size_t{31}, block.size() - 1})
    EXPECT_FALSE(rm::ReadCreationBlock(block.substr(0, cut), &read)) << cut;
}

}  // namespace
}  // namespace kap
