// The client against the test server over loopback: joining, state relay between two clients,
// the reliable channel under loss, leaving, restarts and redirects.
#include <cmath>

#include "tests/net/net_support.h"

namespace {

const PackRanges RANGES = {2048.0, -20.0, 200.0, 0.6, 0.9};

BikePose pose_at(double x, double y, double z) {
  BikePose p{};
  p.frame_pos[0] = x;
  p.frame_pos[1] = y;
  p.frame_pos[2] = z;
  p.frame_quat[0] = 1;
  p.rider_pos[0] = x;
  p.rider_pos[1] = y + 2;
  p.rider_pos[2] = z;
  p.rider_quat[0] = 1;
  p.gear = 2;
  p.throttle = 0.5;
  p.engine_speed = 500;
  return p;
}

TEST_F(NetTest, TwoClientsSeeEachOthersStates) {
  auto a = make_rider("Alice"), b = make_rider("Bob");
  const BikePose pose_a = pose_at(100.3, 12.7, 1500.9), pose_b = pose_at(640.1, 3.3, 77.7);
  packed_state_pack(pose_a, RANGES, &a->own);
  packed_state_pack(pose_b, RANGES, &b->own);
  net_connect(a->client, target.c_str());
  ASSERT_TRUE(join(server, {a.get()}, 128 * 5));
  net_connect(b->client, target.c_str());
  ASSERT_TRUE(join(server, {a.get(), b.get()}, 128 * 5));
  EXPECT_EQ(a->starts, 1);
  EXPECT_EQ(b->starts, 1);
  // B joined after A, so the server described A to B before the start.
  const int slot_a = a->client.client_slot, slot_b = b->client.client_slot;
  EXPECT_STREQ(b->client.riders[slot_a].name, "Alice");
  EXPECT_STREQ(b->client.riders[slot_a].rider_texture, "rider_red");
  EXPECT_EQ(b->client.lineup_request[slot_a], LINEUP_SERVER);
  EXPECT_EQ(b->client.lineup_request[slot_b], LINEUP_PLAYER);
  EXPECT_EQ(a->client.race_slot, slot_a);
  EXPECT_EQ(a->client.laps, 3);
  EXPECT_EQ(a->client.race_start_tick, 640);
  for (int i = 0; i < 64; i++) step(server, {a.get(), b.get()}, true);

  struct Case {
    Rider* watcher;
    int slot;
    const BikePose* sent;
  } cases[] = {{b.get(), slot_a, &pose_a}, {a.get(), slot_b, &pose_b}};
  for (const Case& c : cases) {
    ASSERT_FALSE(c.watcher->states.empty());
    int32_t last_tick = 0;
    for (const RelayedState& r : c.watcher->states) {
      EXPECT_EQ(r.slot, c.slot);
      EXPECT_GT(r.tick, last_tick);  // only newer states reach the history
      last_tick = r.tick;
    }
    BikePose got;
    packed_state_unpack(c.watcher->states.back().state, RANGES, &got);
    for (int k = 0; k < 3; k++) {
      EXPECT_NEAR(got.frame_pos[k], c.sent->frame_pos[k], 0.05) << k;
      EXPECT_NEAR(got.rider_pos[k], c.sent->rider_pos[k], 0.05) << k;
    }
    EXPECT_EQ(got.gear, 2);
  }
  // The clock follows the server's tick.
  EXPECT_EQ(a->client.newest_server_tick, server.server_tick);
  EXPECT_GT(a->client.server_tick_estimate, 0);
}

TEST_F(NetTest, ReliableTrafficUnderLossArrivesOnceAndInOrder) {
  TempDir home;
  std::string upload;
  for (int i = 0; i < 3000; i++) upload.push_back(static_cast<char>((i * 7 + i / 256) & 0xff));
  home.write("outgoing/track.zip", upload);
  set_search_dirs(home);

  auto a = make_rider("Alice"), b = make_rider("Bob");
  a->client.fake_loss = 30;
  b->client.fake_loss = 30;
  net_connect(a->client, target.c_str());
  net_connect(b->client, target.c_str());
  ASSERT_TRUE(join(server, {a.get(), b.get()}, 128 * 60));
  const int server_a = test_server_client_of_slot(server, a->client.client_slot);
  const int server_b = test_server_client_of_slot(server, b->client.client_slot);

  file_send(a->client, "sendfile track.zip");
  std::vector<std::string> chats;
  for (int i = 0; i < 8; i++) {
    chats.push_back("chat " + std::to_string(i));
    net_send_reliable(a->client, SUB_CHAT, chats.back().data(), static_cast<int>(chats.back().size()));
    a->gates = i + 1;
    a->gate_ticks[i] = 1000 + 50 * i;
    for (int k = 0; k < 40; k++) step(server, {a.get(), b.get()}, true);
  }
  for (int k = 0; k < 128 * 120 && server.clients[server_a].upload_name.empty(); k++) {
    step(server, {a.get(), b.get()}, true);
  }
  for (int k = 0; k < 128 * 10; k++) step(server, {a.get(), b.get()}, true);

  std::vector<std::string> got_chats;
  std::vector<int32_t> gate_indices;
  for (const auto& [sub, payload] : server.clients[server_a].received) {
    if (sub == SUB_CHAT) got_chats.push_back(payload);
    if (sub == SUB_GATES) {
      ASSERT_EQ(payload.size(), 12u);
      int32_t index, tick;
      memcpy(&index, payload.data() + 4, 4);
      memcpy(&tick, payload.data() + 8, 4);
      EXPECT_EQ(tick, 1000 + 50 * index);
      gate_indices.push_back(index);
    }
  }
  EXPECT_EQ(got_chats, chats);
  EXPECT_EQ(gate_indices, (std::vector<int32_t>{0, 1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(server.clients[server_a].upload, upload);
  EXPECT_EQ(server.clients[server_a].upload_name, "track.zip");
  // The server relayed A's chats to B, each handled once and in order despite lost datagrams.
  std::vector<std::string> b_chats;
  for (const std::string& d : b->demo) {
    if (d.rfind("2:", 0) == 0) b_chats.push_back(d.substr(2));
  }
  EXPECT_EQ(b_chats, chats);
  EXPECT_TRUE(server.clients[server_b].outgoing.empty());
  vfs_shutdown();
}

TEST_F(NetTest, LeavingIsConfirmedByTheServer) {
  auto a = make_rider("Alice");
  net_connect(a->client, target.c_str());
  ASSERT_TRUE(join(server, {a.get()}, 128 * 5));
  net_begin_leaving(a->client);
  EXPECT_EQ(a->client.state, NET_LEAVING);
  for (int i = 0; i < 8 && a->client.target[0]; i++) step(server, {a.get()});
  EXPECT_EQ(a->client.target[0], 0);
  EXPECT_EQ(a->client.socket, -1);
  EXPECT_TRUE(console_has("Disconnected"));
  EXPECT_FALSE(server.clients[0].active);
}

TEST_F(NetTest, RestartBringsANewTrackMessage) {
  auto a = make_rider("Alice");
  net_connect(a->client, target.c_str());
  ASSERT_TRUE(join(server, {a.get()}, 128 * 5));
  const uint32_t first_id = a->client.client_id;
  net_request_restart(a->client);
  EXPECT_TRUE(console_has("Requesting restart"));
  for (int i = 0; i < 16 && a->client.state == NET_CONNECTED; i++) step(server, {a.get()});
  ASSERT_TRUE(join(server, {a.get()}, 128 * 5));
  EXPECT_EQ(a->client.client_id, first_id + 1);
  EXPECT_EQ(a->starts, 2);
}

TEST_F(NetTest, HandshakeFailures) {
  struct Case {
    const char* name;
    uint32_t version;
    const char* track;
    bool modified;
    const char* message;
  } cases[] = {
      {"version 7", 7, "testtrack", false, "Server version does not match client version"},
      {"unknown track", 6, "nowhere", false, "Can't find track 'nowhere'"},
      {"modified track", 6, "testtrack", true,
       "Client track modified - does not match server's track (testtrack)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    console_lines.clear();
    server.version = c.version;
    server.track_name = c.track;
    auto a = make_rider("Alice");
    a->track_modified = c.modified;
    net_connect(a->client, target.c_str());
    bool left = false;
    for (int i = 0; i < 128 * 3 && !left; i++) {
      step(server, {a.get()});
      left = a->client.state == NET_LEAVING || !a->client.target[0];
    }
    EXPECT_TRUE(left);
    EXPECT_TRUE(console_has(c.message));
    // The leave message goes out at once; the server's answer ends the connection.
    for (int i = 0; i < 8; i++) step(server, {a.get()});
    EXPECT_EQ(a->client.target[0], 0);
  }
}

TEST_F(NetTest, ChangedShapeFilesKeepTheClientOffTheServer) {
  auto a = make_rider("Alice");
  a->client.fixed_files_ok = false;
  net_connect(a->client, target.c_str());
  step(server, {a.get()});
  EXPECT_TRUE(console_has("Fixed file mismatch"));
  EXPECT_EQ(a->client.target[0], 0);
  EXPECT_LT(a->client.socket, 0);
  EXPECT_FALSE(server.clients[0].active);
}

TEST_F(NetTest, PasswordProofTravelsInDigestByteOrder) {
  auto a = make_rider("Alice");
  snprintf(a->client.password, sizeof a->client.password, "%s", "hunter2");
  net_connect(a->client, target.c_str());
  ASSERT_TRUE(join(server, {a.get()}, 128 * 5));
  Digest d;
  digest_init(&d);
  digest_update(&d, "hunter2", 7);
  const uint8_t session[4] = {0x34, 0x12, 0xed, 0x5e};
  digest_update(&d, session, 4);
  const uint8_t* h = digest_final(&d);
  const uint32_t expected = h[3] | (h[2] << 8) | (h[1] << 16) | (uint32_t(h[0]) << 24);
  EXPECT_EQ(server.clients[0].proof, expected);
}

TEST_F(NetTest, UnreachableServerKeepsContacting) {
  // Nothing answers on this port: the contact message goes out once a second.
  TestServer silent;
  ASSERT_TRUE(test_server_open(silent));
  auto a = make_rider("Alice");
  net_connect(a->client, ("127.0.0.1:" + std::to_string(silent.port)).c_str());
  int contacts = 0;
  for (int i = 0; i < 128 * 3 + 1; i++) {
    test_clock += 1.0 / 128;
    net_poll(a->client);
    uint8_t buffer[64];
    while (recv(silent.socket, buffer, sizeof buffer, 0) > 0) contacts += buffer[0] == 0;
  }
  EXPECT_EQ(contacts, 4);  // on opening, then after 1, 2 and 3 s
  EXPECT_EQ(a->client.state, NET_CONTACTING);
  test_server_close(silent);
}

}  // namespace
