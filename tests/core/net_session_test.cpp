// The game's session online against the loopback test server: the real session joins a race,
// its bike's states reach the server, a second client's bike appears in the session and follows
// the states that client sent (a second late for a watcher), gate times of others count, and a
// restart on another track reloads the session.
#include <gtest/gtest.h>
#include <ode/ode.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "core/command_line.h"
#include "core/console_commands.h"
#include "core/game.h"
#include "core/net_session.h"
#include "core/session.h"
#include "core/settings.h"
#include "core/tick.h"
#include "core/track_load.h"
#include "files/vfs.h"
#include "physics/bike.h"
#include "physics/erosion.h"
#include "physics/rider.h"
#include "physics/setup.h"
#include "physics/world.h"
#include "race/race.h"
#include "replay/bike_state.h"
#include "tests/net/net_support.h"
#include "track/track_list.h"

namespace {

// Two small flat tracks: their ground lies at different heights, so their digests differ.
struct TrackFiles {
  const char* dir;
  const char* height_field;
  uint8_t digest[DIGEST_SIZE];
};
TrackFiles tracks[] = {{"flat", "5 8 0 10\n", {}}, {"hills", "5 8 5 20\n", {}}};
constexpr int TRACK_SAMPLES = 65;  // per side, at level 5: 512 ft

// Where the other client rides: along x from a start point, at this speed.
constexpr double OTHER_SPEED = 8;  // ft/s

BikePose pose_at_tick(int32_t tick, double ground) {
  BikePose p{};
  p.frame_pos[0] = 40 + OTHER_SPEED * SIM_STEP * (tick % 4096);
  p.frame_pos[1] = ground + 2;
  p.frame_pos[2] = 300;
  p.frame_quat[0] = 1;
  p.rider_pos[0] = p.frame_pos[0];
  p.rider_pos[1] = ground + 4;
  p.rider_pos[2] = 300;
  p.rider_quat[0] = 1;
  p.gear = 2;
  p.throttle = 0.5;
  p.engine_speed = 500;
  return p;
}

class NetSession : public ::testing::Test {
 protected:
  static inline TempDir* home = nullptr;
  TestServer server;
  NetClient client{};
  std::string target;
  int steps = 0;

  static void SetUpTestSuite() {
    physics_world_create();
    home = new TempDir;
    const std::string shading = "P6\n65 65\n255\n" + std::string(TRACK_SAMPLES * TRACK_SAMPLES * 3, char(128));
    for (const TrackFiles& t : tracks) {
      home->write(std::string(t.dir) + "/terrain.hf", t.height_field);
      home->write(std::string(t.dir) + "/shadingx2.ppm", shading);
      home->write(std::string(t.dir) + "/tileinfo", "texture @dirt.png\naddtile\n");
      home->write(std::string(t.dir) + "/tilemap", std::string(1, char(0)));
    }
    use_search_dirs();
    for (TrackFiles& t : tracks) {
      console_set_display_hook(capture_console);
      ASSERT_TRUE(track_load(t.dir)) << t.dir << testing::PrintToString(console_lines);
      memcpy(t.digest, track_digest, DIGEST_SIZE);
      track_free();
    }
  }
  static void TearDownTestSuite() {
    vfs_set_search_dirs(nullptr, 0);
    delete home;
    home = nullptr;
  }
  static void use_search_dirs() {
    const std::string path = home->path.string();
    const char* dirs[] = {path.c_str(), SK_TEST_BIN_DIR};
    vfs_set_search_dirs(dirs, 2);
    vfs_file_list();
    track_list_scan();
  }

  void SetUp() override {
    use_search_dirs();
    settings_reset();
    start_options_reset();
    game_reset();
    console_lines.clear();
    console_set_display_hook(capture_console);
    // The game starts offline on its start track with the player in slot 0.
    snprintf(settings.track, sizeof settings.track, "flat");
    int lineup[SLOT_COUNT] = {LINEUP_PLAYER};
    ASSERT_TRUE(session_reset(lineup, false, false, 0, 3, 1));
    ASSERT_TRUE(test_server_open(server));
    server.track_name = "flat";
    memcpy(server.digest, tracks[0].digest, DIGEST_SIZE);
    target = "127.0.0.1:" + std::to_string(server.port);
    net_client_init(client);
    net_session_attach(client);
    client.hooks.now = [](NetClient&) { return test_clock; };
  }
  void TearDown() override {
    net_leave(client);
    net_session_detach();
    net_session_sync(client);
    mem_free(client.delay_queue);
    test_server_close(server);
    console_set_display_hook(nullptr);
    session_free_bikes();
    track_free();
  }

  // The ranges every rider's states pack into on the loaded track (one bike model for all).
  static PackRanges ranges() { return bike_pack_ranges(*game.slot_bike[session.own_slot], track_pack_ground); }

  // One turn of the game's step loop for the session, one step of each bare client riding
  // along x, then the server; the server relays states every 4 steps.
  void step(std::initializer_list<Rider*> others) {
    test_clock += SIM_STEP;
    net_session_poll(client);
    if (game.net.tick_received) session_step();
    for (Rider* r : others) {
      packed_state_pack(pose_at_tick(r->sim_tick, track_terrain.min_height), ranges(), &r->own);
      net_poll(r->client);
      r->sim_tick++;
    }
    test_server_poll(server, test_clock);
    if (++steps % 4 == 0) test_server_relay_states(server, 4);
  }
  bool join(std::initializer_list<Rider*> others) {
    for (int i = 0; i < 128 * 5; i++) {
      // The session's client counts once it was told to connect.
      bool all = !client.target[0] || client.state == NET_CONNECTED;
      for (Rider* r : others) all = all && r->client.state == NET_CONNECTED;
      if (all) return true;
      step(others);
    }
    return false;
  }
  // A bare client that joins first, riding with the player's bike model.
  std::unique_ptr<Rider> other_rider() {
    auto b = make_rider("Bob");
    snprintf(b->client.player.bike, NET_TEXT_FIELD, "%.63s", settings.setup.bike);
    // It has every track the server names, unmodified.
    b->client.hooks.find_track = [](NetClient&, const char*) { return true; };
    b->client.hooks.loaded_track_digest = nullptr;
    net_connect(b->client, target.c_str());
    EXPECT_TRUE(join({b.get()}));
    return b;
  }
  const dReal* frame(int slot) { return dBodyGetPosition(game.slot_bike[slot]->bodies[BODY_FRAME]); }
  // The player's bike rides on a new bike's setup values here: what the player's own setup
  // does to the ride is not what these tests are about.
  void plain_setup() { setup_defaults(game.slot_bike[session.own_slot]); }
};

TEST_F(NetSession, JoinedSessionRacesWithAnotherClient) {
  auto b = other_rider();
  const int slot_b = b->client.client_slot;
  net_session_connect(client, target.c_str(), "", 0, 0);
  ASSERT_TRUE(join({b.get()}));
  plain_setup();
  const int own = client.client_slot;
  ASSERT_NE(own, slot_b);

  // The server's race: the player rides in its client slot, the other client as a replayed
  // rider with the name it gave; the clock follows the server's tick.
  EXPECT_TRUE(session.connected);
  EXPECT_EQ(session.race_slot, own);
  EXPECT_EQ(session.own_slot, own);
  EXPECT_EQ(game.viewed_slot, own);
  EXPECT_EQ(game.slot_kind[own], SLOT_LOCAL);
  ASSERT_NE(game.slot_bike[slot_b], nullptr);
  EXPECT_EQ(game.slot_kind[slot_b], SLOT_REPLAY);
  EXPECT_STREQ(session.player_name[slot_b], "Bob");
  EXPECT_EQ(race_start_tick, server.start_tick);
  EXPECT_EQ(race.laps, server.laps);

  // A new bike starts knocked back: for its first 0.75 s the history only pulls it towards the
  // received states. After that it follows them.
  double first_x = 0;
  for (int i = 0; i < 256; i++) {
    step({b.get()});
    if (i == 128) first_x = frame(slot_b)[0];
  }
  EXPECT_NEAR(sim_tick, server.server_tick, 4);
  EXPECT_TRUE(game.net.tick_received);
  EXPECT_TRUE(game.net.in_race);

  // The other bike follows the states its client sent, at the session's own tick.
  const BikePose expected = pose_at_tick(sim_tick, track_terrain.min_height);
  for (int k = 0; k < 3; k++) EXPECT_NEAR(frame(slot_b)[k], expected.frame_pos[k], 0.1) << k;
  EXPECT_NEAR(frame(slot_b)[0] - first_x, OTHER_SPEED * 127 * SIM_STEP, 0.02);

  // The player's bike stands on the flat ground, and its states reached the server every 4
  // ticks.
  const TestServerClient& at_server = server.clients[test_server_client_of_slot(server, own)];
  ASSERT_TRUE(at_server.has_state);
  EXPECT_EQ(at_server.state_tick % 4, 0);
  EXPECT_NEAR(at_server.state_tick, sim_tick, 8);
  PackedBikeState sent;
  memcpy(sent.bytes, at_server.state, PACKED_STATE_SIZE);
  BikePose got;
  packed_state_unpack(sent, ranges(), &got);
  for (int k = 0; k < 3; k++) EXPECT_NEAR(got.frame_pos[k], frame(own)[k], 0.05) << k;
  EXPECT_GT(frame(own)[1], track_terrain.min_height);
  EXPECT_LT(frame(own)[1], track_terrain.min_height + 4);

  // Gate times the server reports for the other rider enter its gate record and the order.
  uint8_t gates[8 + 12];
  const uint32_t fields[5] = {client.client_id, 1, uint32_t(slot_b), 0, uint32_t(sim_tick - 20)};
  memcpy(gates, fields, sizeof gates);
  test_server_send_reliable(server, test_server_client_of_slot(server, own), SUB_GATES, gates, sizeof gates);
  for (int i = 0; i < 8; i++) step({b.get()});
  EXPECT_EQ(gates_passed(race_entrants[slot_b].timing), 1);
  EXPECT_EQ(gate_tick(race_entrants[slot_b].timing, 0), int32_t(fields[4]));
  EXPECT_EQ(race.order[0].slot, slot_b);
}

TEST_F(NetSession, AWatcherSeesTheRaceOneTwentySevenTicksLate) {
  auto b = other_rider();
  const int slot_b = b->client.client_slot;
  server.watchers = true;
  net_session_connect(client, target.c_str(), "", 0, 0);
  ASSERT_TRUE(join({b.get()}));
  plain_setup();
  EXPECT_EQ(session.race_slot, NO_RACE_SLOT);
  EXPECT_FALSE(game.net.in_race);
  for (int i = 0; i < 384; i++) step({b.get()});

  const BikePose expected = pose_at_tick(sim_tick - 127, track_terrain.min_height);
  for (int k = 0; k < 3; k++) EXPECT_NEAR(frame(slot_b)[k], expected.frame_pos[k], 0.1) << k;
  // A watcher sends no states.
  EXPECT_FALSE(server.clients[test_server_client_of_slot(server, client.client_slot)].has_state);
}

TEST_F(NetSession, RestartOnAnotherTrackReloadsTheSession) {
  auto b = other_rider();
  const int slot_b = b->client.client_slot;
  net_session_connect(client, target.c_str(), "", 0, 0);
  ASSERT_TRUE(join({b.get()}));
  plain_setup();
  for (int i = 0; i < 64; i++) step({b.get()});
  const uint32_t first_id = client.client_id;

  server.track_name = "hills";
  memcpy(server.digest, tracks[1].digest, DIGEST_SIZE);
  server.start_tick = server.server_tick + 640;
  net_request_restart(client);
  for (int i = 0; i < 16 && client.state == NET_CONNECTED; i++) step({b.get()});
  EXPECT_NE(client.state, NET_CONNECTED);
  ASSERT_TRUE(join({b.get()}));
  plain_setup();
  EXPECT_EQ(client.client_id, first_id + 1);
  EXPECT_STREQ(track_current, "hills");
  EXPECT_EQ(race_start_tick, server.start_tick);
  ASSERT_NE(game.slot_bike[slot_b], nullptr);
  ASSERT_NE(game.slot_bike[client.client_slot], nullptr);

  // The session runs on at the server's clock and the other bike moves on the new ground.
  for (int i = 0; i < 128; i++) step({b.get()});
  EXPECT_NEAR(sim_tick, server.server_tick, 4);
  const BikePose expected = pose_at_tick(sim_tick, track_terrain.min_height);
  for (int k = 0; k < 3; k++) EXPECT_NEAR(frame(slot_b)[k], expected.frame_pos[k], 0.1) << k;
  EXPECT_GT(frame(client.client_slot)[1], 5);
}

TEST_F(NetSession, AModifiedTrackLeavesTheServer) {
  server.digest[0] ^= 1;
  net_session_connect(client, target.c_str(), "", 0, 0);
  for (int i = 0; i < 128 * 2 && client.target[0]; i++) step({});
  EXPECT_TRUE(console_has("Client track modified - does not match server's track (flat)"));
  EXPECT_EQ(client.target[0], 0);
  EXPECT_FALSE(session.connected);
  EXPECT_FALSE(game.net.connected);
}

TEST_F(NetSession, ServerCommandsHoldForBikesBeforeAndAfterThemUntilLeaving) {
  settings.setup.arcade.index = 1;  // the player rides with arcade physics
  net_session_connect(client, target.c_str(), "", 0, 0);
  ASSERT_TRUE(join({}));
  const int own = client.client_slot;
  const int server_index = test_server_client_of_slot(server, own);
  ASSERT_NE(game.slot_bike[own]->setup.options & OPTION_ARCADE, 0u);

  for (const char* command : {"no_arcade", "knockout 100 200"}) {
    test_server_send_reliable(server, server_index, SUB_COMMAND, command, int(strlen(command)));
  }
  for (int i = 0; i < 8; i++) step({});
  EXPECT_TRUE(console_has("Arcade physics disabled"));
  EXPECT_EQ(game.slot_bike[own]->setup.options & OPTION_ARCADE, 0u);
  // The n-th crash keeps the rider down for 512 ticks plus the server's value for n.
  EXPECT_EQ(crash_delay_table[0], 100);
  for (int i = 1; i < CRASH_DELAY_COUNT; i++) EXPECT_EQ(crash_delay_table[i], 200) << i;

  // A race the server restarts creates new bikes: they ride without arcade physics too.
  net_request_restart(client);
  for (int i = 0; i < 16 && client.state == NET_CONNECTED; i++) step({});
  ASSERT_TRUE(join({}));
  Bike* bike = game.slot_bike[client.client_slot];
  ASSERT_NE(bike, nullptr);
  EXPECT_EQ(bike->setup.options & OPTION_ARCADE, 0u);
  EXPECT_EQ(crash_delay_table[3], 200);

  // Offline again: a new race rides on the player's own setting with no extra knock-out time.
  net_leave(client);
  net_session_sync(client);
  for (int i = 0; i < CRASH_DELAY_COUNT; i++) EXPECT_EQ(crash_delay_table[i], 0) << i;
  int lineup[SLOT_COUNT] = {LINEUP_PLAYER};
  ASSERT_TRUE(session_reset(lineup, false, false, 0, 3, 1));
  EXPECT_NE(game.slot_bike[session.own_slot]->setup.options & OPTION_ARCADE, 0u);
}

TEST_F(NetSession, OwnErosionGoesThroughTheServerAndDigsTheSameGroundForEveryClient) {
  static std::vector<uint8_t> received_by_b;
  received_by_b.clear();
  auto b = other_rider();
  b->client.hooks.erosion = [](NetClient&, const uint8_t* data, int length, bool own) {
    if (own) received_by_b.assign(data, data + length);
  };
  net_session_connect(client, target.c_str(), "", 0, 0);
  ASSERT_TRUE(join({b.get()}));
  Terrain& ground = track_terrain;
  erode_ground_restore(&ground);

  // A finished stroke of the player's bike: three points along x on grid points (8 ft apart
  // here), pushed back hard.
  ErodeStroke stroke{};
  for (int i = 0; i < 3; i++) stroke.points[i] = {200.0f + 8 * i, 296, -1, 0, 8};
  stroke.point_count = 3;
  stroke.lo_step[0] = stroke.hi_step[0] = 8;
  uint8_t data[STROKE_DATA_MAX];
  const int length = erode_stroke_encode(&stroke, ground.extent, data);
  erode_stroke_submit(data, length, ground.extent);
  EXPECT_EQ(erode_queue.count, 0);  // online the ground waits for the server's copy
  for (int i = 0; i < 64; i++) step({b.get()});
  EXPECT_EQ(erode_queue.count, 3);
  ASSERT_EQ(received_by_b.size(), size_t(4 + length));
  EXPECT_TRUE(std::equal(data, data + length, received_by_b.begin() + 4));

  // The other client digs from the same bytes: the same ground as here.
  erode_queue_process(&ground, nullptr, 1);
  const size_t n = size_t(ground.grid_size) * size_t(ground.grid_size);
  const std::vector<float> online(ground.heights, ground.heights + n);
  erode_ground_restore(&ground);
  erode_stroke_apply(received_by_b.data() + 4, received_by_b.size() - 4, ground.extent);
  erode_queue_process(&ground, nullptr, 1);
  EXPECT_TRUE(std::equal(online.begin(), online.end(), ground.heights));
  EXPECT_FALSE(std::equal(online.begin(), online.end(), ground.base_heights));
  erode_ground_restore(&ground);
}

TEST_F(NetSession, ChatLinesReachTheServerAtMostOneEveryTwoSeconds) {
  net_session_connect(client, target.c_str(), "", 0, 0);
  ASSERT_TRUE(join({}));
  const TestServerClient& at_server = server.clients[test_server_client_of_slot(server, client.client_slot)];
  const struct {
    double clock;  // s of game clock when the line is entered
    const char* text;
  } lines[] = {{100, "hello"}, {101, "too soon"}, {101.9, "still too soon"}, {102.5, "later"}};
  for (const auto& line : lines) {
    game.game_clock = line.clock;
    EXPECT_NE(console_execute(line.text), 0);
    for (int i = 0; i < 64; i++) step({});
  }
  std::vector<std::string> chats;
  for (const auto& [sub, text] : at_server.received) {
    if (sub == SUB_CHAT) chats.push_back(text);
  }
  EXPECT_EQ(chats, (std::vector<std::string>{"hello", "later"}));
  EXPECT_EQ(std::count(console_lines.begin(), console_lines.end(), "No one likes a spammer"), 2);
}

}  // namespace
