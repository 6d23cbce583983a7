// Points series: series files, standings from race results, round ranks with their ties, the
// standings table, the next event's lineup and the standings file that survives restarts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/lineup.h"
#include "files/vfs.h"
#include "race/race.h"
#include "race/series.h"
#include "tests/support/temp_dir.h"
#include "track/track_list.h"

namespace {

int find_track(const char* dir) { return std::string(dir) == "rabbithill" ? 0 : -1; }

std::string points(const std::vector<int>& first) {
  std::string text;
  for (int i = 0; i < SERIES_POINTS; i++) text += std::to_string(i < int(first.size()) ? first[i] : 0) + " ";
  return text + "\n";
}

// Three robots (20, 21, 22) and the player. A two-moto round (the first moto ends no round),
// then a one-moto round.
const std::string CUP = "\"Rabbit Hill Cup\"\n3 Amateur\n20 21 22\n3\n"
                        "\"Moto 1\" rabbithill 0 2\n" + points({25, 22, 20, 18}) + points({0}) +
                        "\"Moto 2\" rabbithill 5 1\n" + points({25, 22, 20, 18}) + points({50, 40, 30, 20}) +
                        "Final rabbithill 0 3\n" + points({25, 22, 20, 18}) + points({60, 40, 30, 20});

Series parse(const std::string& text) {
  Series s;
  std::string error;
  EXPECT_TRUE(series_parse(text.data(), text.size(), find_track, &s, &error)) << error;
  return s;
}

TEST(SeriesFile, ReadsEveryField) {
  Series s = parse(CUP);
  EXPECT_EQ(s.name, "Rabbit Hill Cup");
  EXPECT_EQ(s.skill, 1);
  ASSERT_EQ(s.rider_count, 3);
  EXPECT_EQ(s.numbers[2], 22);
  ASSERT_EQ(s.events.size(), 3u);
  EXPECT_EQ(s.events[1].name, "Moto 2");
  EXPECT_EQ(s.events[2].name, "Final");
  EXPECT_EQ(s.events[1].minutes, 5);
  EXPECT_EQ(s.events[2].laps, 3);
  EXPECT_EQ(s.events[0].moto_points[1], 22);
  EXPECT_EQ(s.events[1].round_points[3], 20);
  EXPECT_EQ(s.completed, 0);
  for (auto [label, skill] : {std::pair{"Novice", 0}, {"Expert", 2}, {"Pro", 2}})
    EXPECT_EQ(parse(std::string("S 0 ") + label + " 0").skill, skill) << label;
}

TEST(SeriesFile, RefusesMalformedFilesWithAReason) {
  const std::string event = "E rabbithill 1 1 " + points({1}) + points({1});
  struct Case {
    std::string text;
    const char* reason;
  } cases[] = {
      {"", "missing series name"},
      {"S", "missing rider count"},
      {"S 160 Expert", "rider count 160"},
      {"S -1 Expert", "rider count -1"},
      {"S 2 Expert 20", "missing race number of rider 2"},
      {"S 1 Expert 2x 1", "missing race number of rider 1"},
      {"S 0 Expert 99999999999", "missing event count"},
      {"S 0 Expert 2 " + event, "event 2: missing name"},
      {"S 0 Expert 1 E motegi 1 1", "track \"motegi\" is not installed"},
      {"S 0 Expert 1 E rabbithill 1", "event 1: missing minutes or laps"},
      {"S 0 Expert 1 E rabbithill -1 1", "no race length"},
      {"S 0 Expert 1 E rabbithill 1 1 " + points({1}), "event 1: missing round points"},
      {"S 0 Expert 1 E rabbithill 1 1 1 2 3", "event 1: missing moto points"},
      {"\"S 0 Expert 0", "missing series name"},  // the quote never closes
      {"\"" + std::string(1024, 'x') + "\" 0 Expert 0", "missing series name"},
  };
  for (const Case& c : cases) {
    Series s;
    std::string error;
    EXPECT_FALSE(series_parse(c.text.data(), c.text.size(), find_track, &s, &error)) << c.text;
    EXPECT_NE(error.find(c.reason), std::string::npos) << c.text << " -> " << error;
  }
}

// A race that gave these results: robots by race number in the given order, the player
// ("P") where it stands. Final results classify everybody; an unfinished race walks the
// running order, where the player counts only once finished.
void race_with(const std::vector<const char*>& order, bool final) {
  race_entrants_clear();
  race_reset(0, 1, 100);
  for (int i = 0; i < int(order.size()); i++) {
    const bool player = std::string(order[i]) == "P";
    race_entrant_add(i, player ? SLOT_LOCAL : SLOT_ROBOT, player ? "7" : order[i], "kx125");
    RaceOrderEntry entry{i, int32_t(order.size()) - i, 1000 + i};
    race.order[i] = entry;
    race.final_order[i] = entry;
  }
  race.order_count = race.final_count = int32_t(order.size());
  race.results_final = final;
}

class SeriesStandings : public ::testing::Test {
 protected:
  TempDir home;
  void SetUp() override {
    set_search_dirs(home);
    series_free_all();
    series_list.push_back(parse(CUP));
    series_list[0].standings_file = "@cup.series_standings";
  }
  void TearDown() override {
    series_free_all();
    race_entrants_clear();
    vfs_set_search_dirs(nullptr, 0);
  }
  // Runs the series' next event with these results.
  void run(const std::vector<const char*>& order, bool final) {
    ASSERT_TRUE(series_mark_in_progress(0));
    race_with(order, final);
    series_finish_event();
  }
  std::vector<std::string> row_texts(int block = 0) {
    std::vector<std::string> rows;
    const Series& s = series_list[0];
    const std::vector<SeriesTableBlock> table = series_standings_table(s);
    for (const SeriesTableRow& row : table[size_t(block)].rows) {
      std::string text = row.rider == s.rider_count ? "P" : std::to_string(s.numbers[row.rider]);
      text += " " + std::to_string(row.total);
      for (const std::string& cell : row.cells) text += " | " + cell;
      rows.push_back(text);
    }
    return rows;
  }
};

TEST_F(SeriesStandings, EventsGiveRoundRanksAndTheTable) {
  const Series& s = series_list[0];
  EXPECT_EQ(series_heading(s), "Next Event: Moto 1");
  run({"20", "21", "22", "P"}, true);
  // The round is half done: only the first moto's places show.
  EXPECT_EQ(row_texts(), (std::vector<std::string>{"20 0 | - (1-) | -", "21 0 | - (2-) | -",
                                                   "22 0 | - (3-) | -", "P 0 | - (4-) | -"}));
  // Moto points 25 22 20 18: the player and 20 tie on 43, 21 and 22 on 42; the better finish
  // in the round's last moto ranks higher.
  run({"P", "22", "21", "20"}, true);
  const int round_ranks[] = {1, 3, 2, 0};
  for (int rider = 0; rider < 4; rider++) EXPECT_EQ(s.events[1].round_rank[rider], round_ranks[rider]) << rider;
  EXPECT_EQ(row_texts(), (std::vector<std::string>{"P 50 | 50 (4-1) | -", "20 40 | 40 (1-4) | -",
                                                   "22 30 | 30 (3-2) | -", "21 20 | 20 (2-3) | -"}));
  // The last race never ended: the player had not finished and is not classified; robots take
  // their places from the running order. 22 and the player tie on 70, 22 ranking better in
  // the latest round.
  run({"20", "P", "22", "21"}, false);
  EXPECT_EQ(s.events[2].position[3], 3);
  EXPECT_EQ(row_texts(), (std::vector<std::string>{"20 100 | 40 (1-4) | 60 (1)", "22 70 | 30 (3-2) | 40 (2)",
                                                   "P 70 | 50 (4-1) | 20 (4)", "21 50 | 20 (2-3) | 30 (3)"}));
  EXPECT_EQ(series_heading(s), "Rabbit Hill Cup Final Standings");
  EXPECT_EQ(read_file_bytes(home.file("cup.series_standings")), "1 2 3 4 \n4 3 2 1 \n1 3 2 4 \n");
  // Every event is done: nothing more starts or gets recorded.
  int lineup[SLOT_COUNT];
  EXPECT_FALSE(series_next_lineup(s, lineup));
  EXPECT_FALSE(series_mark_in_progress(0));
}

TEST_F(SeriesStandings, OnlyTheNextEventInProgressIsRecorded) {
  // A practice start marks nothing, so its race leaves the standings alone.
  race_with({"P", "20", "21", "22"}, true);
  series_finish_event();
  EXPECT_EQ(series_list[0].completed, 0);
  // An event marked before "Reset Points" is no longer the next one once another was run.
  run({"20", "21", "22", "P"}, true);
  ASSERT_TRUE(series_mark_in_progress(0));
  series_reset_points(0);
  series_finish_event();
  EXPECT_EQ(series_list[0].completed, 0);
  // The file keeps the old standings until the next recorded event.
  EXPECT_EQ(read_file_bytes(home.file("cup.series_standings")), "1 2 3 4 \n");
}

TEST_F(SeriesStandings, StandingsSurviveARestartAndAFailedWrite) {
  run({"20", "21", "22", "P"}, true);
  run({"P", "22", "21", "20"}, true);
  // A restart reads the series and its standings back.
  home.write("cup.series", CUP);
  home.write("broken.series", "\"Broken Cup\" 1 Expert");  // skipped
  track_dirs = {"rabbithill"};
  track_names = {"Rabbit Hill"};
  track_count = 1;
  series_load_all();
  ASSERT_EQ(series_list.size(), 1u);
  EXPECT_EQ(series_list[0].completed, 2);
  EXPECT_EQ(series_list[0].events[1].round_rank[3], 0);
  // The new file cannot be made: the old standings stay on disk, the new ones in memory.
  std::filesystem::create_directory(home.file("cup.series_standings.tmp"));
  run({"21", "20", "22", "P"}, true);
  EXPECT_EQ(series_list[0].completed, 3);
  EXPECT_EQ(read_file_bytes(home.file("cup.series_standings")), "1 2 3 4 \n4 3 2 1 \n");
  track_dirs.clear();
  track_names.clear();
  track_count = 0;
}

TEST(SeriesStandingsFile, StopsAtTheFirstIncompleteLine) {
  struct Case {
    const char* text;
    int completed;
  } cases[] = {
      {"1 2 3 4 \n4 3 2 1 \n", 2},
      {"1 2 3 4\r\n4 3 2 1", 2},
      {"1 2 3 4 \n4 3 2\n1 2 3 4\n", 1},
      {"1 2 3 5 \n", 0},   // no position 5 among four riders
      {"1 2 3 0 \n", 0},
      {"1 2 3 4 4\n", 0},  // one too many
      {"1 2 3 4\n1 2 3 4\n1 2 3 4\n1 2 3 4\n", 3},  // no more than the events
      {"", 0},
  };
  for (const Case& c : cases) {
    Series s = parse(CUP);
    series_read_standings(&s, c.text, strlen(c.text));
    EXPECT_EQ(s.completed, c.completed) << c.text;
  }
}

// The next event's gates: series order for the first event; then the riders pick from the
// last classified of the previous event upwards, robots before the player at equal places.
TEST(SeriesLineup, GatesByThePreviousEvent) {
  Series s = parse(CUP);
  int lineup[SLOT_COUNT];
  ASSERT_TRUE(series_next_lineup(s, lineup));
  EXPECT_EQ(std::vector<int>(lineup, lineup + 5), (std::vector<int>{1020, 1021, 1022, LINEUP_PLAYER, 0}));
  series_read_standings(&s, "3 4 2 1\n", 8);
  ASSERT_TRUE(series_next_lineup(s, lineup));
  const int gates[][2] = {{6, 1021}, {8, 1020}, {10, 1022}, {12, LINEUP_PLAYER}};
  for (auto [gate, value] : gates) EXPECT_EQ(lineup[gate], value) << gate;
  EXPECT_EQ(std::count(lineup, lineup + SLOT_COUNT, 0), SLOT_COUNT - 4);

  // Twenty robots, nobody classified: everyone picks in series order, out from gate 10.
  std::string big = "Big 20 Expert";
  for (int i = 0; i < 20; i++) big += " " + std::to_string(20 + i);
  big += " 2 a rabbithill 0 1 " + points({1}) + points({1}) + " b rabbithill 0 1 " + points({1}) + points({1});
  s = parse(big);
  std::string all_unclassified;
  for (int i = 0; i < 21; i++) all_unclassified += "21 ";
  series_read_standings(&s, all_unclassified.c_str(), all_unclassified.size());
  ASSERT_EQ(s.completed, 1);
  ASSERT_TRUE(series_next_lineup(s, lineup));
  const int order[] = {10, 9, 11, 8, 12, 7, 13, 6, 14, 5, 15, 4, 16, 3, 17, 2, 18, 1, 19, 0};
  for (int j = 0; j < 20; j++) EXPECT_EQ(lineup[order[j]], 1020 + j) << j;
  EXPECT_EQ(lineup[20], LINEUP_PLAYER);
}

// The series the data set ships reads with the installed track list.
TEST(SeriesShipped, RabbitHillCupLoads) {
  TempDir home;
  set_search_dirs(home, SK_TEST_BIN_DIR);
  ASSERT_TRUE(track_list_scan());
  series_load_all();
  ASSERT_EQ(series_list.size(), 1u);
  const Series& s = series_list[0];
  EXPECT_EQ(s.name, "Rabbit Hill Cup");
  EXPECT_EQ(s.rider_count, 20);
  EXPECT_EQ(s.skill, 1);
  EXPECT_EQ(series_round_count(s), 2);
  EXPECT_EQ(s.completed, 0);
  EXPECT_EQ(track_dirs[size_t(s.events[3].track)], "rabbithill");
  EXPECT_EQ(series_heading(s), "Next Event: Round 1 Moto 1");
  series_free_all();
  vfs_set_search_dirs(nullptr, 0);
}

}  // namespace
