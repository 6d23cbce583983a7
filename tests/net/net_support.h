// Shared fixture of the network client tests: a rider (a client with a fake session around it),
// the test clock, the captured console and a stepping loop against the test server.
#pragma once

#include <sys/socket.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/console.h"
#include "files/memory.h"
#include "net/net.h"
#include "files/digest.h"
#include "files/vfs.h"
#include "tests/net/test_server.h"
#include "tests/support/temp_dir.h"

struct RelayedState {
  int slot;
  int32_t tick;
  PackedBikeState state;
};

struct Rider {
  NetClient client{};
  int32_t sim_tick = 0;
  int starts = 0;
  std::vector<RelayedState> states;
  PackedBikeState own{};
  bool has_bike = true;
  int32_t gates = 0;
  int32_t gate_ticks[64] = {};
  std::vector<std::string> demo;  // "type:text"
  int32_t erode_amount = -99;
  bool erode_reload = false;
  bool track_modified = false;
  ~Rider() {
    net_leave(client);
    mem_free(client.delay_queue);
  }
};

inline double test_clock = 100.0;
inline std::vector<std::string> console_lines;

inline void capture_console(const char* text) { console_lines.push_back(text); }

inline bool console_has(const std::string& text) {
  for (const std::string& line : console_lines) {
    if (line.find(text) != std::string::npos) return true;
  }
  return false;
}

inline Rider& rider_of(NetClient& c) { return *static_cast<Rider*>(c.user); }

inline std::unique_ptr<Rider> make_rider(const char* name) {
  auto r = std::make_unique<Rider>();
  NetClient& c = r->client;
  net_client_init(c);
  c.user = r.get();
  snprintf(c.player.bike, NET_TEXT_FIELD, "%s", "cr250");
  snprintf(c.player.rider_texture, NET_TEXT_FIELD, "%s", "rider_red");
  snprintf(c.player.number, sizeof c.player.number, "%s", "42");
  snprintf(c.player.name, NET_TEXT_FIELD, "%s", name);
  NetSessionHooks& h = c.hooks;
  h.now = [](NetClient&) { return test_clock; };
  h.sim_tick = &r->sim_tick;
  h.find_track = [](NetClient&, const char* n) { return strcmp(n, "testtrack") == 0; };
  h.loaded_track_digest = [](NetClient& c, uint8_t out[20]) {
    memset(out, 0, 20);
    out[0] = rider_of(c).track_modified ? 1 : 0;
    return true;
  };
  h.start_session = [](NetClient& c) { rider_of(c).starts++; };
  h.slot_accepts_states = [](NetClient& c, int slot) { return slot != c.client_slot; };
  h.add_state = [](NetClient& c, int slot, const PackedBikeState& s, int32_t tick) {
    rider_of(c).states.push_back({slot, tick, s});
  };
  h.own_bike = [](NetClient& c, int, PackedBikeState* s, int32_t* gates) {
    Rider& r = rider_of(c);
    *s = r.own;
    *gates = r.gates;
    return r.has_bike;
  };
  h.own_gate_tick = [](NetClient& c, int32_t i) { return rider_of(c).gate_ticks[i & 63]; };
  h.erode_amount = [](NetClient& c, int32_t amount, bool reload) {
    rider_of(c).erode_amount = amount;
    rider_of(c).erode_reload = reload;
  };
  h.demo_text = [](NetClient& c, int type, const char* text) {
    rider_of(c).demo.push_back(std::to_string(type) + ":" + text);
  };
  return r;
}

// One step: each rider polls and advances its tick, then the server answers; with relay the
// server sends states every 4 ticks.
inline void step(TestServer& s, std::initializer_list<Rider*> riders, bool relay = false) {
  test_clock += 1.0 / 128;
  for (Rider* r : riders) {
    net_poll(r->client);
    r->sim_tick++;
  }
  test_server_poll(s, test_clock);
  if (relay && riders.size() > 0 && (*riders.begin())->sim_tick % 4 == 0) {
    test_server_relay_states(s, 4);
  }
}

// Steps until every rider is in the connected state; false after max_steps.
inline bool join(TestServer& s, std::initializer_list<Rider*> riders, int max_steps) {
  for (int i = 0; i < max_steps; i++) {
    bool all = true;
    for (Rider* r : riders) all = all && r->client.state == NET_CONNECTED;
    if (all) return true;
    step(s, riders, true);
  }
  return false;
}

struct NetTest : ::testing::Test {
  TestServer server;
  std::string target;
  void SetUp() override {
    console_lines.clear();
    console_set_display_hook(capture_console);
    ASSERT_TRUE(test_server_open(server));
    target = "127.0.0.1:" + std::to_string(server.port);
  }
  void TearDown() override {
    test_server_close(server);
    console_set_display_hook(nullptr);
  }
};
