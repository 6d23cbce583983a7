// Lines entered in the chat field: the setup commands with the player's bike on the gate,
// unknown commands, and chat lines offline.
#include "core/console_commands.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/console.h"
#include "core/game.h"
#include "core/session.h"
#include "core/settings.h"
#include "physics/bike.h"
#include "tests/support/session_fixture.h"

namespace {

std::vector<std::string> messages;

class Console : public SessionFixture {
 protected:
  void SetUp() override {
    SessionFixture::SetUp();
    messages.clear();
    console_set_display_hook([](const char* text) { messages.emplace_back(text); });
  }
  void TearDown() override {
    console_set_display_hook(nullptr);
    SessionFixture::TearDown();
  }
};

TEST_F(Console, SetupCommandsWriteAndReadSetupFilesAndTheRiderTakesTheSetup) {
  int lineup[SLOT_COUNT] = {LINEUP_PLAYER};
  ASSERT_TRUE(session_reset(lineup, false, false, 0, 3, 1));
  Bike* bike = game.slot_bike[game.viewed_slot];
  ASSERT_NE(bike, nullptr);
  messages.clear();  // the reset posts its own (texture memory)

  settings.setup.brake_torque.value = 120;
  EXPECT_NE(console_execute("/writesetup  race "), 0);
  std::string expected;
  setup_format(&expected);
  EXPECT_EQ(read_file_bytes(home.file("setups/race")), expected);

  settings.setup.brake_torque.value = 300;
  EXPECT_NE(console_execute("\\readsetup race"), 0);
  EXPECT_EQ(settings.setup.brake_torque.value, 120);
  EXPECT_EQ(bike->setup.front_brake_torque, 120);

  // A missing file and a name outside the setups folder change nothing.
  home.write("config", "brake_torque=20\n");
  EXPECT_NE(console_execute("/readsetup missing"), 0);
  EXPECT_NE(console_execute("/readsetup ../config"), 0);
  EXPECT_NE(console_execute("/writesetup"), 0);
  EXPECT_EQ(bike->setup.front_brake_torque, 120);
  EXPECT_EQ(messages, (std::vector<std::string>{"Setup written", "Setup updated", "Error reading setup",
                                                "Error reading setup", "Error writing setup"}));
}

TEST_F(Console, UnknownCommandsStayAndChatNeedsAServerAndPatience) {
  EXPECT_EQ(console_execute("/readsetupx race"), 0);
  EXPECT_EQ(console_execute("/"), 0);
  EXPECT_TRUE(messages.empty());

  game.game_clock = 100;
  EXPECT_NE(console_execute("hello"), 0);
  game.game_clock = 101;
  EXPECT_NE(console_execute("hello again"), 0);
  game.game_clock = 103.5;
  EXPECT_NE(console_execute("and again"), 0);
  EXPECT_EQ(messages, (std::vector<std::string>{"Not connected to server", "No one likes a spammer",
                                                "Not connected to server"}));
}

}  // namespace
