// Planning over racing lines: line costs per skill, which line continues into which, the
// cheapest chains and the three skill plans on a small circle course.
#include <cstring>
#include <random>

#include "tests/robots/lines_fixture.h"

namespace {

RacingLine stats(int32_t tested, int32_t failures, int32_t sum_a) {
  RacingLine line{};
  line.tested = tested;
  line.failures = failures;
  line.sum_a = sum_a;
  return line;
}

// Points every 15 ft round the circle course at the given radius from angle a0 to a1 (rad).
RacingLine arc(double radius, double a0, double a1, float speed) {
  RacingLine line{};
  for (double a = a0; a < a1; a += 15 / radius) {
    line.points.push_back(LinePoint{float(CIRCLE_X + radius * std::cos(a)), 0, float(CIRCLE_Z + radius * std::sin(a)),
                                    speed, 0});
  }
  line.count = int32_t(line.points.size());
  return line;
}

}  // namespace

TEST(LineCost, BySkillType) {
  struct Case {
    int type;
    RacingLine line;
    double cost;
  } cases[] = {
      {0, stats(3, 0, 3000), 1000000},                        // novices want five good runs
      {0, stats(5, 0, 5000), 1000},                           // the mean time
      {0, stats(3, 1, 3000), 1000000},
      {2, stats(3, 1, 3000), 1000 + 640},                     // experts: four times the failure share
      {2, stats(1, 0, 800), 800},
      {1, stats(6, 1, 6000), 1000 + 640 / 7.0 * 1.1428572},
      {0, stats(5, 5, 5000), 1000 + 320},
      {2, stats(0, 0, 0), 1000000},                           // an empty slot is untested
      {3, stats(0, 0, 0), 0},                                 // exploration tries new lines first
      {3, stats(1, 0, 0), 5000},                              // one binary digit
      {3, stats(2, 1, 0), 7000},                              // 2 + 4 = 6: three digits
      {3, stats(1, 6, 0), 100000},                            // mostly failing: left alone
  };
  for (const Case& c : cases) {
    EXPECT_NEAR(lines_cost(c.line, c.type), c.cost, 1e-3)
        << "type " << c.type << " tested " << c.line.tested << " failures " << c.line.failures;
  }
}

TEST(LineConnection, CircleCentreAndArcs) {
  double kx, kz;
  // Three points of the circle of radius 5 round (2, 3).
  lines_circle_centre(LinePoint{7, 0, 3, 0, 0}, LinePoint{2, 9, 8, 0, 0}, LinePoint{-3, 0, 3, 0, 0}, kx, kz);
  EXPECT_NEAR(kx, 2, 1e-9);
  EXPECT_NEAR(kz, 3, 1e-9);
  // On a straight the centre lies far to the side.
  lines_circle_centre(LinePoint{0, 0, 0, 0, 0}, LinePoint{0, 0, 10, 0, 0}, LinePoint{0, 0, 20, 0, 0}, kx, kz);
  EXPECT_NEAR(std::fabs(kx), 1000000, 1);
  EXPECT_NEAR(kz, 15, 1e-6);

  const RacingLine before = arc(CIRCLE_RADIUS, 0, 1, 40);
  struct Case {
    const char* name;
    RacingLine next;
    bool connected;
  } cases[] = {
      {"same arc", arc(CIRCLE_RADIUS, 1.02, 2, 40), true},
      {"same arc further on", arc(CIRCLE_RADIUS, 2, 3, 40), true},
      {"two feet wider", arc(CIRCLE_RADIUS + 2, 1.02, 2, 40), true},
      {"four feet wider", arc(CIRCLE_RADIUS + 4, 1.02, 2, 40), false},
      {"much slower start", arc(CIRCLE_RADIUS, 1.02, 2, 24), false},
      {"a little slower start", arc(CIRCLE_RADIUS, 1.02, 2, 26), true},
      {"leaves the arc", [] {
         RacingLine l = arc(CIRCLE_RADIUS, 1.02, 2, 40);
         l.points[1].x += 3 * std::cos(1.05f), l.points[1].z += 3 * std::sin(1.05f);
         return l;
       }(), false},
      {"one point only", [] {
         RacingLine l = arc(CIRCLE_RADIUS, 1.02, 2, 40);
         l.count = 1;
         return l;
       }(), false},
  };
  for (const Case& c : cases) EXPECT_EQ(lines_connected(before, c.next), c.connected) << c.name;
  RacingLine short_line = before;
  short_line.count = 2;
  EXPECT_FALSE(lines_connected(short_line, cases[0].next));
}

// The circle course with 6 checkpoints (12 rows); every row holds an inner line (radius 300,
// tested often, mean 1000 ticks) and an outer one (radius 306, tested once, mean 800 ticks).
// The two never connect to each other.
struct LinePlanTest : LinesTest {
  int32_t inner[12], outer[12];
  void SetUp() override {
    LinesTest::SetUp();
    circle_course_set(6);
    lines_table_create();
    for (int32_t row = 0; row < 12; ++row) {
      const double a1 = (row % 6) * M_PI / 3, a0 = row == 0 ? -0.3 : a1 - M_PI / 3;
      RacingLine& in = lines_slot(row, 2);
      in = arc(CIRCLE_RADIUS, a0, a1, 40);
      in.tested = 10;
      in.sum_a = 10000;
      in.line_id = inner[row] = 100 + row;
      RacingLine& out = lines_slot(row, 5);
      out = arc(CIRCLE_RADIUS + 6, a0, a1, 40);
      out.tested = 1;
      out.sum_a = 800;
      out.line_id = outer[row] = 200 + row;
    }
  }
};

TEST_F(LinePlanTest, SkillsPlanTheirOwnChains) {
  lines_analyze();
  for (int32_t row = 0; row < 12; ++row) {
    SCOPED_TRACE(row);
    EXPECT_EQ(line_table.plan[0][size_t(row)], inner[row]);  // novices: only well-tried lines
    EXPECT_EQ(line_table.plan[1][size_t(row)], inner[row]);
    EXPECT_EQ(line_table.plan[2][size_t(row)], outer[row]);  // experts: the faster chain
  }
  const std::string log = read_file_bytes(test_log_path()).substr(log_start);
  for (const char* expected : {"First lap: 46.875000\n", "Normal lap: 46.875000\n",  // 6 x 1000 ticks
                               "First lap: 37.500000\n", "Normal lap: 37.500000\n"}) {  // 6 x 800
    EXPECT_NE(log.find(expected), std::string::npos) << log;
  }
}

TEST_F(LinePlanTest, FailuresTurnExpertsBack) {
  // Two outer lines that failed twice in three runs cost 2 x 640 ticks more, above the
  // 6 x 200 the outer chain saves.
  for (int32_t row : {7, 9}) lines_slot(row, 5).failures = 2;
  lines_analyze();
  for (int32_t row = 6; row < 12; ++row) EXPECT_EQ(line_table.plan[2][size_t(row)], inner[row]) << row;
}

TEST_F(LinePlanTest, ARowWithoutLinesLeavesTheLapUnplanned) {
  for (int i = 0; i < LINE_SLOTS; ++i) lines_slot(9, i) = RacingLine{};
  lines_analyze();
  for (int32_t row = 6; row < 12; ++row) EXPECT_EQ(line_table.plan[0][size_t(row)], 0) << row;
  // The first lap is still planned, into any line of the lap's first row.
  for (int32_t row = 0; row < 6; ++row) EXPECT_EQ(line_table.plan[0][size_t(row)], inner[row]) << row;
}

TEST_F(LinePlanTest, ChainsAheadWrapRoundTheLap) {
  LineCosts costs;
  lines_connectivity_cost(10, 8, 2, costs);
  const int32_t rows[] = {10, 11, 6, 7, 8, 9, 10, 11};
  for (int k = 0; k < 8; ++k) EXPECT_EQ(costs.rows[size_t(k)], rows[k]) << k;
  EXPECT_TRUE(costs.connected_at(0, 2, 2));
  EXPECT_FALSE(costs.connected_at(0, 2, 5));
  EXPECT_DOUBLE_EQ(costs.total_at(0, 5, 5), 8 * 800);
  EXPECT_DOUBLE_EQ(costs.total_at(0, 2, 2), 8 * 1000);
  EXPECT_GE(costs.total_at(0, 2, 5), LINE_COST_UNREACHABLE);
  EXPECT_EQ(costs.choice_at(0, 5, 5), 5);
  // The first lap's last row continues into the normal lap's first.
  lines_connectivity_cost(4, 3, 0, costs);
  EXPECT_EQ(costs.rows[2], 6);
  // Reused without growing.
  const double* data = costs.total.data();
  lines_connectivity_cost(0, 3, 1, costs);
  EXPECT_EQ(costs.total.data(), data);
}

// The cheapest total from each line of a row over every end line, which the robots' line
// choice asks for, equals the minimum the full table of chains gives, to the bit: random rows
// of arcs that connect or not, with random statistics, for every type and run of rows.
TEST_F(LinePlanTest, CheapestTotalsMatchTheFullTable) {
  std::mt19937 random(15);
  auto pick = [&](int n) { return int(random() % unsigned(n)); };
  LineCosts costs;
  int reachable = 0, through_eight = 0;
  for (int round = 0; round < 12; ++round) {
    for (int32_t row = 0; row < 12; ++row) {
      const double a1 = (row % 6) * M_PI / 3, a0 = row == 0 ? -0.3 : a1 - M_PI / 3;
      for (int i = 0; i < LINE_SLOTS; ++i) {
        RacingLine& line = lines_slot(row, i);
        line = RacingLine{};
        if (pick(3) == 0) continue;  // an empty slot
        line = arc(CIRCLE_RADIUS + pick(7), a0 + 0.01 * pick(3), a1, float(25 + pick(20)));
        if (pick(10) == 0) line.count = pick(3);  // too short to connect
        line.tested = pick(8);
        line.failures = pick(4);
        line.sum_a = line.tested * (700 + pick(600)) + pick(97);
      }
    }
    for (int type = 0; type < 4; ++type) {
      for (int32_t first : {0, 4, 9}) {
        for (int32_t rows : {1, 2, 8}) {
          lines_connectivity_cost(first, rows, type, costs);
          double cheapest[LINE_SLOTS];
          lines_cheapest_totals(first, rows, type, cheapest);
          for (int i = 0; i < LINE_SLOTS; ++i) {
            double plain = LINE_COST_UNREACHABLE;
            for (int e = 0; e < LINE_SLOTS; ++e) plain = std::min(plain, costs.total_at(0, i, e));
            ASSERT_EQ(std::memcmp(&plain, &cheapest[i], sizeof plain), 0)
                << "round " << round << " type " << type << " rows " << first << "+" << rows << " line " << i;
            reachable += plain < LINE_COST_UNREACHABLE;
            through_eight += rows == 8 && plain < LINE_COST_UNREACHABLE;
          }
        }
      }
    }
  }
  // Both reachable and unreachable lines were compared, also through the longest runs.
  EXPECT_GT(reachable, 1000);
  EXPECT_GT(through_eight, 100);
}
