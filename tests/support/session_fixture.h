// A session on a track of the built data set: one physics world per suite, a fresh home searched
// before the data set, settings and start options reset; bikes, track, demos and shapes freed.
#pragma once

#include <cstdio>

#include <gtest/gtest.h>

#include "core/command_line.h"
#include "core/game.h"
#include "core/session.h"
#include "core/session_replay.h"
#include "core/settings.h"
#include "core/track_load.h"
#include "files/vfs.h"
#include "physics/shape.h"
#include "physics/world.h"
#include "tests/support/temp_dir.h"

class SessionFixture : public ::testing::Test {
 protected:
  TempDir home;

  static void SetUpTestSuite() { physics_world_create(); }
  static void TearDownTestSuite() {
    session_demos_close();
    session_free_bikes();
    track_free();
    shape_cache_clear();
  }
  // Files a test writes into home before this runs are found like the data set's.
  void SetUp() override {
    set_search_dirs(home, SK_TEST_BIN_DIR);
    vfs_file_list();
    settings_reset();
    start_options_reset();
    snprintf(settings.track, sizeof settings.track, "rabbithill");
    game_reset();
  }
  void TearDown() override {
    session_demos_close();
    vfs_set_search_dirs(nullptr, 0);
  }
};
