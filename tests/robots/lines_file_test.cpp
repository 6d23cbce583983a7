// The "ct03" lines files: written and read back, files for another table or with corrupt
// data, statistics brought into range, and a failed write that keeps the previous file.
#include <filesystem>

#include "files/vfs.h"
#include "tests/robots/lines_fixture.h"

namespace {

// "count time_a time_b tested min_a min_b sum_a sum_b failures" and `count` points along x.
std::string line_text(const char* header, int points) {
  std::string text = std::string(header) + "\n";
  for (int i = 0; i < points; ++i) text += "[" + std::to_string(10 * i) + ".000000 1.000000 2.000000] 40.000000 0.100000\n";
  return text;
}

}  // namespace

// The circle course of 6 checkpoints (12 rows) with the home directory in a fresh folder.
struct LinesFileTest : LinesTest {
  TempDir home;
  void SetUp() override {
    LinesTest::SetUp();
    set_search_dirs(home);
    circle_course_set(6);
    lines_table_create();
  }
  void TearDown() override {
    LinesTest::TearDown();
    vfs_set_search_dirs(nullptr, 0);
  }
  std::string file(const char* name) const { return home.file(std::string("circle/") + name); }
  int32_t total_lines() const {
    int32_t n = 0;
    for (int32_t row = 0; row < lines_row_count(); ++row) n += row_lines(row);
    return n;
  }
};

TEST_F(LinesFileTest, WrittenLinesReadBack) {
  RacingLine& a = put_line(0, 0, 0.5, -3.25, 3, 900);
  a.points[1].speed = -41.5;  // airborne
  a.points[2].roll = -0.7f;
  a.tested = 4, a.min_a = 400, a.min_b = 800, a.sum_a = 1700, a.sum_b = 3500, a.failures = 2;
  put_line(11, 3, 100, 200, 5, 1200).failures = 1;
  put_line(11, 40, 300, 200, 4, 1300);
  line_table.changed = true;
  ASSERT_TRUE(lines_save("circle", 2));
  EXPECT_FALSE(std::filesystem::exists(file("lines_expert.tmp")));
  const std::string text = read_file_bytes(file("lines_expert"));
  EXPECT_EQ(text.rfind("ct03 12\n1\n3 450 900 4 400 800 1700 3500 2\n[0.500000 0.000000 -3.250000] 40.000000 0.000000\n"
                       "[10.500000 0.000000 -3.250000] -41.500000 0.000000\n",
                       0),
            0u)
      << text;

  // Reading gives every line a new id and packs a row's lines from its first slot.
  const int32_t ids[] = {lines_slot(0, 0).line_id, lines_slot(11, 3).line_id, lines_slot(11, 40).line_id};
  ASSERT_TRUE(lines_load("circle", 2));
  EXPECT_FALSE(line_table.changed);
  EXPECT_EQ(total_lines(), 3);
  const RacingLine& b = lines_slot(0, 0);
  ASSERT_EQ(b.count, 3);
  EXPECT_EQ(b.time_a, 450);
  EXPECT_EQ(b.time_b, 900);
  EXPECT_EQ(b.tested, 4);
  EXPECT_EQ(b.min_a, 400);
  EXPECT_EQ(b.min_b, 800);
  EXPECT_EQ(b.sum_a, 1700);
  EXPECT_EQ(b.sum_b, 3500);
  EXPECT_EQ(b.failures, 2);
  EXPECT_FLOAT_EQ(b.points[1].x, 10.5f);
  EXPECT_FLOAT_EQ(b.points[1].z, -3.25f);
  EXPECT_FLOAT_EQ(b.points[1].speed, -41.5f);
  EXPECT_NEAR(b.points[2].roll, -0.7f, 1e-6);
  EXPECT_EQ(lines_slot(11, 0).count, 5);
  EXPECT_EQ(lines_slot(11, 0).failures, 1);
  EXPECT_EQ(lines_slot(11, 1).count, 4);
  for (const RacingLine* line : {&lines_slot(0, 0), &lines_slot(11, 0), &lines_slot(11, 1)}) {
    EXPECT_GT(line->line_id, 0);
    for (int32_t id : ids) EXPECT_NE(line->line_id, id);
  }
  EXPECT_NE(lines_slot(11, 0).line_id, lines_slot(11, 1).line_id);

  // Other skills have files of their own.
  EXPECT_FALSE(lines_load("circle", 0));
  EXPECT_EQ(total_lines(), 0);
}

TEST_F(LinesFileTest, UnchangedLinesAreNotWritten) {
  put_line(2, 0, 0, 0, 3, 900);
  ASSERT_TRUE(lines_save("circle", 1));
  EXPECT_FALSE(std::filesystem::exists(file("lines_amateur")));
}

TEST_F(LinesFileTest, AFailedWriteKeepsThePreviousFile) {
  put_line(2, 0, 0, 0, 3, 900);
  line_table.changed = true;
  ASSERT_TRUE(lines_save("circle", 0));
  const std::string before = read_file_bytes(file("lines_novice"));
  put_line(2, 1, 50, 0, 3, 900);
  line_table.changed = true;
  std::filesystem::create_directories(file("lines_novice.tmp"));  // the temporary cannot be made
  EXPECT_FALSE(lines_save("circle", 0));
  EXPECT_EQ(read_file_bytes(file("lines_novice")), before);
  EXPECT_TRUE(line_table.changed);
}

TEST_F(LinesFileTest, FilesForAnotherTableAreNotUsed) {
  const char* texts[] = {"", "ct03", "ct03 11\n0\n", "ct03 13\n0\n", "ct02 12\n0\n", "ct03x 12\n", "12 ct03\n"};
  for (const char* text : texts) {
    home.write("circle/lines_expert", std::string(text) + "1\n" + line_text("3 450 900 0 1000000 1000000 0 0 0", 3));
    EXPECT_FALSE(lines_load("circle", 2)) << text;
    EXPECT_EQ(total_lines(), 0) << text;
  }
}

TEST_F(LinesFileTest, CorruptLinesAreDropped) {
  const std::string good = line_text("3 450 900 0 1000000 1000000 0 0 0", 3);
  std::string many = "ct03 12\n50\n";
  for (int i = 0; i < 50; ++i) many += good;
  many += "1\n" + good;
  struct Case {
    const char* name;
    std::string text;
    std::vector<int> rows;  // lines per row 0, 1, 2 ...
  } cases[] = {
      {"whole", "ct03 12\n2\n" + good + good + "1\n" + good, {2, 1, 0}},
      {"truncated in a point", "ct03 12\n2\n" + good + good.substr(0, good.size() - 20), {1, 0}},
      {"truncated in the numbers", "ct03 12\n2\n" + good + "3 450 900", {1, 0}},
      {"negative point count", "ct03 12\n1\n-5 450 900 0 1 1 0 0 0\n1\n" + good, {0, 1}},
      {"huge point count", "ct03 12\n1\n2000000000 450 900 0 1 1 0 0 0\n" + good, {0, 0}},
      {"text in a point", "ct03 12\n2\n" + good + "3 1 2 0 1 1 0 0 0\n[1 2 x] 3 4\n", {1, 0}},
      {"number too large for a float",
       "ct03 12\n1\n1 1 2 0 1 1 0 0 0\n[1" + std::string(60, '0') + " 0 0] 1 1\n1\n" + good, {0, 1}},
      {"point far off any track", "ct03 12\n1\n1 1 2 0 1 1 0 0 0\n[1e30 0 0] 1 1\n1\n" + good, {0, 1}},
      {"more lines than slots", many, {LINE_SLOTS, 1}},
      {"row count of a negative number", "ct03 12\n-3\n1\n" + good, {0, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    home.write("circle/lines_expert", c.text);
    EXPECT_TRUE(lines_load("circle", 2));
    int32_t expected_total = 0;
    for (size_t row = 0; row < c.rows.size(); ++row) {
      EXPECT_EQ(row_lines(int32_t(row)), c.rows[row]) << "row " << row;
      expected_total += c.rows[row];
    }
    EXPECT_EQ(total_lines(), expected_total);
  }
}

TEST_F(LinesFileTest, StatisticsAreBroughtIntoRange) {
  struct Case {
    const char* numbers;  // tested min_a min_b sum_a sum_b failures
    int32_t tested, sum_a, sum_b, failures;
  } cases[] = {
      // Halved five times: the mean of 10000 ticks stays.
      {"200000 50 90 2000000000 2000000000 70000", 6250, 62500000, 62500000, 2187},
      {"4 50 90 2000 4000 100000", 2, 1000, 2000, 50000},
      // Negative counts from a file become 0, so scores never divide by zero.
      {"-4 50 90 100 200 -1", 0, 100, 200, 0},
      {"1 50 90 100 200 -1", 1, 100, 200, 0},
      // An untested line's sums halve on their own.
      {"0 50 90 2000000000 2000000000 0", 0, 62500000, 62500000, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.numbers);
    home.write("circle/lines_expert",
               "ct03 12\n1\n" + line_text((std::string("3 450 900 ") + c.numbers).c_str(), 3));
    ASSERT_TRUE(lines_load("circle", 2));
    const RacingLine& line = lines_slot(0, 0);
    EXPECT_EQ(line.tested, c.tested);
    EXPECT_EQ(line.sum_a, c.sum_a);
    EXPECT_EQ(line.sum_b, c.sum_b);
    EXPECT_EQ(line.failures, c.failures);
    lines_score(line);
  }
}
