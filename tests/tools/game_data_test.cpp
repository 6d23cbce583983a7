// The game's data check against the base archive the build generated, and the fixed-file
// check of the standard shape files found through it.
#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>

#include "files/fixed_files.h"
#include "files/vfs.h"
#include "tests/support/temp_dir.h"
#include "tools/data/game_data.h"

namespace {

// The check reads the first MiB of "zzzz.saf" in each search directory; the home directory
// and SK_HOME are pointed into a fresh folder holding a copy of the built archive.
struct GameDataCheck : ::testing::Test {
  TempDir temp;
  std::string archive;

  void SetUp() override {
    std::filesystem::create_directories(temp.path / "data");
    archive = temp.file("data/zzzz.saf");
    std::filesystem::copy_file(std::string(SK_TEST_BIN_DIR) + "/zzzz.saf", archive);
    setenv("XDG_DATA_HOME", temp.file("home").c_str(), 1);
    setenv("SK_HOME", temp.file("data").c_str(), 1);
    vfs_shutdown();
  }
  void TearDown() override { vfs_shutdown(); }

  int check() {
    vfs_shutdown();  // search directories are fixed on first use; start afresh each time
    return vfs_find_game_data(game_data_digest());
  }
};

TEST_F(GameDataCheck, AcceptsTheBuiltArchiveAndRefusesAnyChangedByteOfItsFirstMiB) {
  ASSERT_EQ(check(), 1);
  std::string bytes = read_file_bytes(archive);
  ASSERT_GT(bytes.size(), 1048576u) << "the archive should reach past the checked part";
  // The member list at the start, a byte in the middle and the last checked byte.
  for (size_t offset : {size_t{3}, size_t{600000}, size_t{1048575}}) {
    std::string changed = bytes;
    changed[offset] = static_cast<char>(changed[offset] ^ 0x01);
    temp.write("data/zzzz.saf", changed);
    EXPECT_EQ(check(), 0) << "byte " << offset;
  }
  temp.write("data/zzzz.saf", bytes);
  EXPECT_EQ(check(), 1);
}

TEST_F(GameDataCheck, TheShippedShapeFilesPassTheFixedFileCheckAndAChangedOneDoesNot) {
  ASSERT_EQ(check(), 1);
  vfs_file_list();
  const char* accepted[] = {fixed_files_accepted_digest()};
  EXPECT_TRUE(fixed_files_check(accepted, 1));
  const char* others[] = {nullptr, "0000000000000000000000000000000000000000", fixed_files_accepted_digest()};
  EXPECT_TRUE(fixed_files_check(others, 3));
  EXPECT_FALSE(fixed_files_check(others, 2));

  // A shape file of the player's own in the home directory is found first.
  temp.write("home/Skorvan/rear_wheel.shp", "a wheel of my own\n");
  vfs_shutdown();
  vfs_file_list();
  EXPECT_FALSE(fixed_files_check(accepted, 1));
}

}  // namespace
