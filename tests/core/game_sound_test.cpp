// The game's sound from the frame loop: the loudness rules of view, menus and pause, and robots
// on the start gate heard in the "--record-audio" file.
#include <gtest/gtest.h>

#include <string>

#include "core/game.h"
#include "core/game_sound.h"
#include "core/lineup.h"
#include "core/session.h"
#include "core/settings.h"
#include "platform/audio.h"
#include "tests/support/session_fixture.h"

namespace {

class GameSound : public SessionFixture {};

TEST_F(GameSound, FrameVolumeFollowsViewMenuAndPause) {
  struct Case {
    const char* label;
    int view, menu;
    bool paused;
    SlotKind viewed_kind;
    double volume;  // with the "volume" setting at 10
  } cases[] = {
      {"riding", VIEW_RIDER, MENU_NONE, false, SLOT_LOCAL, 1},
      {"riding, menu open", VIEW_RIDER, MENU_MAIN, false, SLOT_LOCAL, 0},
      {"watching, menu open", VIEW_TV, MENU_MAIN, false, SLOT_ROBOT, 0.25},
      {"paused", VIEW_CHASE, MENU_NONE, true, SLOT_LOCAL, 0},
      {"editor", VIEW_EDITOR, MENU_NONE, false, SLOT_LOCAL, 0},
  };
  settings.volume.value = 10;
  for (const Case& c : cases) {
    game.view_mode = c.view;
    game.menu_page = c.menu;
    game.paused = c.paused;
    game.slot_kind[game.viewed_slot] = c.viewed_kind;
    EXPECT_DOUBLE_EQ(game_sound_frame_volume(), c.volume) << c.label;
  }
  settings.volume.value = 4;
  game.paused = false;
  game.menu_page = MENU_NONE;
  game.view_mode = VIEW_RIDER;
  EXPECT_DOUBLE_EQ(game_sound_frame_volume(), 0.4);
}

// Bytes of the recording in [from, to) that are not silence.
int sounding(const std::string& bytes, size_t from, size_t to) {
  int n = 0;
  for (size_t i = from; i < to && i < bytes.size(); i++) n += static_cast<uint8_t>(bytes[i]) != 128;
  return n;
}

TEST_F(GameSound, RobotsOnTheGateAreHeardInTheRecording) {
  int lineup[SLOT_COUNT] = {};
  for (int i = 0; i < 3; i++) lineup[i] = LINEUP_ROBOT;
  ASSERT_TRUE(session_reset(lineup, false, false, 0, 3, 1));
  game.view_mode = VIEW_TV;
  game.menu_page = MENU_NONE;
  const std::string path = home.file("engines.raw");
  ASSERT_TRUE(game_sound_record_open(path.c_str()));
  // A frame of 1/64 s is two steps; the engines idle on the gate. Then the game pauses.
  constexpr int FRAMES = 96, PAUSED_FRAMES = 32, STEP_BYTES = 2 * RECORD_AUDIO_STEP_SAMPLES;
  for (int frame = 0; frame < FRAMES + PAUSED_FRAMES; frame++) {
    game.paused = frame >= FRAMES;
    game_sound_update();
    for (int step = 0; step < 2; step++) game_sound_record_step();
  }
  game_sound_close();
  EXPECT_FALSE(audio_is_open());
  const std::string bytes = read_file_bytes(path);
  ASSERT_EQ(bytes.size(), size_t(FRAMES + PAUSED_FRAMES) * 2 * STEP_BYTES);
  // The voices start a quarter of a second behind the written sound.
  const size_t frame_bytes = 2 * STEP_BYTES;
  EXPECT_GT(sounding(bytes, 48 * frame_bytes, FRAMES * frame_bytes), 10000);
  // Paused, every engine falls silent at its next zero crossing.
  EXPECT_EQ(sounding(bytes, (FRAMES + 2) * frame_bytes, bytes.size()), 0);
}

}  // namespace
