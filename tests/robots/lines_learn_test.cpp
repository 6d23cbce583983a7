// Robots learning on the default track: with learning on, a short race changes the line
// statistics, they are written to the home's lines file and the next race reads them; with
// learning off the statistics and the files stay as they were.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/command_line.h"
#include "core/game.h"
#include "core/session.h"
#include "core/tick.h"
#include "robots/lines.h"
#include "tests/support/session_fixture.h"

namespace {

constexpr int SKILL = 1;
constexpr int ROBOTS = 3;

// Successes and failures over the whole table.
int64_t runs_counted() {
  int64_t runs = 0;
  for (const RacingLine& line : line_table.slots) runs += int64_t(line.tested) + line.failures;
  return runs;
}

class LinesLearnTest : public SessionFixture {
 protected:
  void start_race(bool learn) {
    start_options.learn = learn;
    int lineup[SLOT_COUNT] = {};
    for (int s = 0; s < ROBOTS; ++s) lineup[s] = LINEUP_ROBOT;
    sim_tick = 11;
    ASSERT_TRUE(session_reset(lineup, false, false, 0, 3, SKILL));
    ASSERT_TRUE(line_table.present);
  }
  // Races until a robot run has counted on a line (learning on) or for as long (learning off):
  // the robots pass their third counted gate within half a minute of the gate dropping.
  void race_until_counted(int64_t before) {
    const int32_t limit = race_start_tick + int32_t(30 / SIM_STEP);
    while (sim_tick < limit && runs_counted() == before) session_step();
  }
  std::string home_file() const { return home.file(std::string("rabbithill/") + LINE_SET_NAMES[SKILL]); }
};

TEST_F(LinesLearnTest, LearningRacesWriteTheirStatisticsAndTheNextRaceReadsThem) {
  start_race(true);
  const int64_t shipped = runs_counted();
  race_until_counted(shipped);
  const int64_t learnt = runs_counted();
  ASSERT_NE(learnt, shipped);
  EXPECT_TRUE(line_table.changed);

  session_remember_lines();
  ASSERT_TRUE(std::filesystem::exists(home_file()));
  start_race(true);  // the home is searched first: this race reads what the last one wrote
  EXPECT_EQ(runs_counted(), learnt);
}

TEST_F(LinesLearnTest, WithoutLearningStatisticsAndFilesStayAsTheyWere) {
  start_race(false);
  const int64_t shipped = runs_counted();
  race_until_counted(shipped);
  EXPECT_EQ(runs_counted(), shipped);
  EXPECT_FALSE(line_table.changed);

  session_remember_lines();
  EXPECT_FALSE(std::filesystem::exists(home_file()));
  start_race(false);
  EXPECT_EQ(runs_counted(), shipped);
}

}  // namespace
