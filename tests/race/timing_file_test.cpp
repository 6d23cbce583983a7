// Reading and writing the timing file: sections, defaults, limits and damaged input.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "files/vfs.h"
#include "race/timing.h"
#include "tests/support/temp_dir.h"

namespace {

class TimingFile : public ::testing::Test {
 protected:
  TempDir home;
  void SetUp() override {
    set_search_dirs(home);
  }
  void TearDown() override { vfs_set_search_dirs(nullptr, 0); }
  bool read(const std::string& text) {
    home.write("t/timing_gates", text);
    return timing_gates_read("@t/timing_gates");
  }
};

const char* const GOOD =
    "startinggate:\n"
    "[10 0 20] 0.5\n"
    "[ 13.5 1 20 ] 4 @gate2.vm @gate2.png null\n"
    "checkpoints:\n"
    "20 [100 0 100] [1 0 0]\n"
    "15.5 [ 200 3 100 ] [ 0 0 1 ]\n"
    "firstlap:\n"
    "0 1\n"
    "normallap:\n"
    "100000 1\n";

TEST_F(TimingFile, ReadsEverySection) {
  ASSERT_TRUE(read(GOOD));
  ASSERT_EQ(timing.piece_count, 2);
  const StartGatePiece& a = timing.pieces[0];
  EXPECT_FLOAT_EQ(a.x, 10);
  EXPECT_FLOAT_EQ(a.angle, 0.5f);
  EXPECT_EQ(a.model, "@startgate.vm");
  EXPECT_EQ(a.texture, "@startgate.ppm");
  EXPECT_EQ(a.shape, "@startgate.shp");
  EXPECT_FLOAT_EQ(a.object_x, 10 - 3 * std::sin(0.5f));
  EXPECT_FLOAT_EQ(a.object_z, 20 - 3 * std::cos(0.5f));
  const StartGatePiece& b = timing.pieces[1];
  EXPECT_NEAR(b.angle, 4 - 2 * 3.14159265, 1e-5);  // wrapped into -pi..pi
  EXPECT_EQ(b.model, "@gate2.vm");
  EXPECT_EQ(b.texture, "@gate2.png");
  EXPECT_EQ(b.shape, "");
  ASSERT_EQ(timing.checkpoint_count, 2);
  EXPECT_FLOAT_EQ(timing.checkpoints[1].radius, 15.5f);
  EXPECT_FLOAT_EQ(timing.checkpoints[1].dz, 1);
  EXPECT_TRUE(timing.present);
  EXPECT_EQ(timing.first_count, 2);
  EXPECT_EQ(timing.normal_count, 2);
  EXPECT_EQ(timing.first_lines, 2);
  EXPECT_EQ(timing.normal_lines, 1);
}

TEST_F(TimingFile, DamagedOrIncompleteFiles) {
  struct Case {
    const char* what;
    std::string text;
    int pieces, checkpoints;
    bool present;
  } cases[] = {
      {"lap lists without a start gate", std::string(GOOD).substr(std::string(GOOD).find("checkpoints:")),
       0, 2, true},
      {"no lap lists: the gate stays", std::string(GOOD).substr(0, std::string(GOOD).find("firstlap:")), 2,
       0, false},
      {"a short piece line ends the gate", "startinggate:\n[1 2 3] 4\n[1 2] 3\ncheckpoints:\n", 1, 0, false},
      {"section names need white space after them",
       "checkpoints:20 [0 0 0] [1 0 0]\nfirstlap:\n0\nnormallap:\n0\n", 0, 0, false},
      {"a broken checkpoint ends the list and the laps behind it",
       "checkpoints:\n5 [0 0 0] [1 0 0]\n5 [0 0 0 [1 0 0]\nfirstlap: 0 normallap: 0\n", 0, 0, false},
      {"all on one line", "checkpoints: 5 [0 0 0] [1 0 0] firstlap: 0 normallap: 0", 0, 1, true},
      {"garbage", "\x01\xff[[[ ]]] -- 1e999\n", 0, 0, false},
      {"empty", "", 0, 0, false},
      {"non-finite numbers", "startinggate:\n[nan 0 0] 1\ncheckpoints:\n", 0, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_TRUE(read(c.text));
    EXPECT_EQ(timing.piece_count, c.pieces);
    EXPECT_EQ(timing.checkpoint_count, c.checkpoints);
    EXPECT_EQ(timing.present, c.present);
  }
}

TEST_F(TimingFile, MissingFileMeansNoTiming) {
  ASSERT_TRUE(read(GOOD));
  EXPECT_FALSE(timing_gates_read("@nowhere/timing_gates"));
  EXPECT_EQ(timing.piece_count, 0);
  EXPECT_FALSE(timing.present);
}

// More records than the tables hold: the rest is read past, so later sections still count.
TEST_F(TimingFile, OverLongSectionsKeepTheirFirstEntries) {
  std::string text = "startinggate:\n";
  for (int i = 0; i < 170; ++i) text += "[" + std::to_string(i) + " 0 0] 0\n";
  text += "checkpoints:\n";
  for (int i = 0; i < 300; ++i) text += "5 [" + std::to_string(i) + " 0 0] [1 0 0]\n";
  text += "firstlap:\n";
  for (int i = 0; i < 300; ++i) text += std::to_string(i % 7 == 0 ? -i : i) + " ";
  text += "\nnormallap:\n3 ";
  for (int i = 0; i < 300; ++i) text += std::to_string(100000 + 300 - i) + " 2147483647 ";
  ASSERT_TRUE(read(text));
  EXPECT_EQ(timing.piece_count, START_GATE_PIECE_MAX);
  EXPECT_FLOAT_EQ(timing.pieces[START_GATE_PIECE_MAX - 1].x, START_GATE_PIECE_MAX - 1);
  EXPECT_EQ(timing.checkpoint_count, CHECKPOINT_MAX);
  EXPECT_EQ(timing.first_count, LAP_PART_MAX);
  EXPECT_EQ(timing.normal_count, LAP_PART_MAX);
  for (int i = 0; i < timing.first_count + timing.normal_count; ++i) {
    const int32_t entry = timing.lap_list[i];
    const int32_t n = entry >= LAP_ENTRY_UNCOUNTED ? entry - LAP_ENTRY_UNCOUNTED : entry;
    ASSERT_GE(n, 0);
    ASSERT_LT(n, CHECKPOINT_MAX);
  }
  EXPECT_EQ(timing.lap_list[7], 0);     // -7
  EXPECT_EQ(timing.lap_list[255], 255);  // last kept first-lap entry
  EXPECT_EQ(timing.lap_list[256], 3);
  EXPECT_EQ(timing.lap_list[257], LAP_ENTRY_UNCOUNTED + 255);
  EXPECT_EQ(timing.lap_list[258], LAP_ENTRY_UNCOUNTED + 255);  // the largest integer
  EXPECT_TRUE(timing.present);
}

TEST_F(TimingFile, WriteThenReadGivesTheSameFile) {
  ASSERT_TRUE(read(GOOD));
  ASSERT_TRUE(timing_gates_write("t"));
  const std::string written = read_file_bytes(home.file("t/timing_gates"));
  EXPECT_EQ(written,
            "startinggate:\n"
            "[10.000000 0.000000 20.000000] 0.500000\n"
            "[13.500000 1.000000 20.000000] -2.283185 @gate2.vm @gate2.png null\n"
            "checkpoints:\n"
            "20.000000 [100.000000 0.000000 100.000000] [1.000000 0.000000 0.000000]\n"
            "15.500000 [200.000000 3.000000 100.000000] [0.000000 0.000000 1.000000]\n"
            "firstlap:\n"
            "0 1 \n"
            "normallap:\n"
            "100000 1 \n");
  ASSERT_TRUE(timing_gates_read("@t/timing_gates"));
  ASSERT_TRUE(timing_gates_write("t"));
  EXPECT_EQ(read_file_bytes(home.file("t/timing_gates")), written);
}

TEST_F(TimingFile, WriteFailsWhenTheFileCannotBeCreated) {
  home.write("blocked", "a file where a directory should be");
  EXPECT_FALSE(timing_gates_write("blocked"));
}

}  // namespace
