// The data generator: byte-for-byte the same output on every run.
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace {

TEST(DataGenerator, AnotherRunGivesTheArchiveOfTheBuildByteForByte) {
  TempDir temp;
  std::string command = std::string(SK_TEST_BIN_DIR) + "/skorvan-data --source " + SK_SOURCE_DIR + "/data --out " +
                        temp.file("set") + " --archive " + temp.file("zzzz.saf") + " > /dev/null";
  ASSERT_EQ(system(command.c_str()), 0);
  std::string built = read_file_bytes(std::string(SK_TEST_BIN_DIR) + "/zzzz.saf");
  std::string again = read_file_bytes(temp.file("zzzz.saf"));
  ASSERT_FALSE(built.empty());
  EXPECT_TRUE(built == again) << "sizes " << built.size() << " and " << again.size();
}

}  // namespace
