// The network client's hooks acting on the session: starting the race the server describes,
// feeding relayed states into the state history, the own bike's states and gate times, gate
// times of the others, erosion and commands, and the per-step poll.
#include "core/net_session.h"

#include <ode/ode.h>

#include <cstdio>
#include <cstring>

#include "core/console_commands.h"
#include "core/game.h"
#include "core/session.h"
#include "core/settings.h"
#include "core/tick.h"
#include "core/track_load.h"
#include "physics/bike.h"
#include "physics/erosion.h"
#include "physics/rider.h"
#include "physics/setup.h"
#include "physics/world.h"
#include "race/race.h"
#include "replay/bike_state.h"
#include "replay/demo.h"
#include "replay/history.h"
#include "track/track_list.h"

namespace {

// Demo record types of what the server sends.
constexpr uint8_t DEMO_RECORD_EROSION = 5;

// Menu pages on which the player edits the description (bike and rider pages): updates wait.
constexpr int MENU_PAGE_BIKE = 2;
constexpr int MENU_PAGE_RIDER = 7;

// The bike of this computer's player in a slot, or null.
Bike* local_bike(int slot) {
  if (slot < 0 || slot >= SLOT_COUNT || game.slot_kind[slot] != SLOT_LOCAL) return nullptr;
  return game.slot_bike[slot];
}

bool find_track(NetClient&, const char* name) { return track_list_find(name) >= 0; }

bool loaded_track_digest(NetClient&, uint8_t out[20]) {
  if (!track_current[0]) return false;
  memcpy(out, track_digest, 20);
  return true;
}

void start_session(NetClient& c) {
  session.server_start = true;
  snprintf(session.server_track, sizeof session.server_track, "%s", c.track_name);
  session.server_start_tick = c.race_start_tick;
  session.server_erosion_rate = c.erode_amount;
  session.server_riders = c.riders;
  session.race_slot = c.race_slot < SLOT_COUNT ? c.race_slot : NO_RACE_SLOT;
  session_reset(c.lineup_request, false, false, c.race_time, c.laps, settings.skill.index);
  net_session_sync(c);
}

bool slot_accepts_states(NetClient&, int slot) {
  return game.slot_bike[slot] && game.slot_kind[slot] == SLOT_REPLAY;
}

void add_state(NetClient&, int slot, const PackedBikeState& state, int32_t tick) {
  history_add(slot, state, tick);
  // When it arrived, by this session's clock: riders not heard from for a second drop out of
  // collisions, visibility and the wait for the finish.
  race_entrants[slot].net_state_tick = sim_tick;
  history_rings[slot].last_network_tick = sim_tick;
}

void clear_histories(NetClient&) { history_clear_all(); }

bool own_bike(NetClient&, int slot, PackedBikeState* state, int32_t* gates) {
  const Bike* bike = local_bike(slot);
  if (!bike) return false;
  bike_pack(*bike, bike_pack_ranges(*bike, track_pack_ground), state);
  *gates = gates_passed(race_entrants[slot].timing);
  return true;
}

int32_t own_gate_tick(NetClient& c, int32_t index) {
  return gate_tick(race_entrants[c.client_slot].timing, index);
}

void gate_time(NetClient&, int slot, int32_t index, int32_t tick) {
  if (index >= GATE_INDEX_MAX) return;
  RiderTiming& rider = race_entrants[slot].timing;
  if (rider.gates.size() <= size_t(index)) rider.gates.resize(size_t(index) + 1, -1);
  rider.gates[size_t(index)] = tick;
  gate_truncate(rider, index + 1);
}

void race_order(NetClient&) { session_race_order_update(); }

// The strokes after the client id: applied to the ground when they are for this client, and
// recorded in the demo either way.
void erosion(NetClient&, const uint8_t* data, int length, bool own) {
  if (own && track_current[0]) erode_stroke_apply(data + 4, size_t(length - 4), track_terrain.extent);
  if (demo_recording()) demo_record_block(DEMO_RECORD_EROSION, sim_tick, data + 4, uint32_t(length - 4));
}

void erode_amount(NetClient&, int32_t amount, bool reload) {
  session.erosion_rate = amount;
  if (reload) session.reload_requested = true;
}

void demo_text(NetClient&, int record_type, const char* text) {
  if (demo_recording()) demo_record_block(uint8_t(record_type), sim_tick, text, uint32_t(strlen(text)));
}

// The bikes of this computer lose arcade physics now, and every bike set up later (a race the
// server starts in the same poll, a setup read) keeps it off until the connection is left.
void arcade_off(NetClient&) {
  setup_arcade_disabled = true;
  for (int slot = 0; slot < SLOT_COUNT; slot++) {
    Bike* bike = game.slot_bike[slot];
    if (bike && game.slot_kind[slot] != SLOT_REPLAY) setup_set_option(bike, OPTION_ARCADE, false);
  }
}

bool arcade_setting(NetClient&) { return settings.setup.arcade.index != 0; }

bool description_held(NetClient&) {
  return game.menu_page == MENU_PAGE_BIKE || game.menu_page == MENU_PAGE_RIDER;
}

bool gravity_changed(NetClient&) {
  if (!physics_world) return false;
  dVector3 g;
  dWorldGetGravity(physics_world, g);
  return g[0] != 0 || g[1] != -32 || g[2] != 0;
}

// The client that chat lines and the own erosion strokes go to (the one attached last).
NetClient* attached = nullptr;

void send_chat(const char* text) {
  if (attached) net_send_reliable(*attached, SUB_CHAT, text, int(strlen(text)));
}

// A finished stroke of a bike of this computer: online it goes to the server, which sends it
// back to every client (this one too) to dig the same ground everywhere; offline it is dug here.
void submit_stroke(const uint8_t* data, int length) {
  if (attached && attached->socket >= 0) {
    static_assert(4 + STROKE_DATA_MAX <= NET_RELIABLE_PAYLOAD_MAX);
    uint8_t message[4 + STROKE_DATA_MAX];
    if (length < 0 || length > STROKE_DATA_MAX) return;
    const uint32_t id = attached->client_id;
    for (int i = 0; i < 4; i++) message[i] = uint8_t(id >> (8 * i));
    memcpy(message + 4, data, size_t(length));
    net_send_reliable(*attached, SUB_EROSION, message, 4 + length);
  } else if (track_current[0]) {
    erode_stroke_apply(data, size_t(length), track_terrain.extent);
  }
}

// Longer texts are cut to the field.
void copy_text(char* out, const char* text) { snprintf(out, RIDER_TEXT_FIELD, "%.*s", RIDER_TEXT_FIELD - 1, text); }

void take_player_description(NetClient& c) {
  const BikeSetup& s = settings.setup;
  RiderDescription& d = c.player;
  copy_text(d.bike, s.bike);
  copy_text(d.rider_texture, s.rider_texture);
  copy_text(d.bike_texture, s.bike_texture);
  copy_text(d.wheel_texture, s.wheel_texture);
  copy_text(d.head_texture, s.head_texture);
  snprintf(d.number, sizeof d.number, "%.3s", s.number);
  copy_text(d.name, s.name);
}

}  // namespace

void net_session_attach(NetClient& c) {
  NetSessionHooks& h = c.hooks;
  h.sim_tick = &sim_tick;
  h.find_track = find_track;
  h.loaded_track_digest = loaded_track_digest;
  h.start_session = start_session;
  h.slot_accepts_states = slot_accepts_states;
  h.add_state = add_state;
  h.clear_histories = clear_histories;
  h.own_bike = own_bike;
  h.own_gate_tick = own_gate_tick;
  h.gate_time = gate_time;
  h.race_order_update = race_order;
  h.erosion = erosion;
  h.erode_amount = erode_amount;
  h.demo_text = demo_text;
  h.arcade_off = arcade_off;
  h.arcade_setting = arcade_setting;
  h.description_held = description_held;
  h.gravity_changed = gravity_changed;
  attached = &c;
  console_hooks.send_chat = send_chat;
  erode_set_submit_hook(submit_stroke);
  take_player_description(c);
}

void net_session_detach() {
  attached = nullptr;
  console_hooks.send_chat = nullptr;
  erode_set_submit_hook(nullptr);
}

void net_session_connect(NetClient& c, const char* server, const char* password, double fake_lag,
                         int fake_loss) {
  snprintf(c.password, sizeof c.password, "%s", password ? password : "");
  c.fake_lag = fake_lag;
  c.fake_loss = fake_loss;
  net_connect(c, server);
}

void net_session_sync(const NetClient& c) {
  const bool connected = c.socket >= 0;
  // What the server set for riders of this computer: arcade physics off and the knock-out
  // durations; both go back to the offline values when the connection is left.
  setup_arcade_disabled = c.arcade_disabled_by_server;
  static_assert(CRASH_DELAY_COUNT == NET_KNOCKOUT_COUNT);
  int delays[CRASH_DELAY_COUNT];
  for (int i = 0; i < CRASH_DELAY_COUNT; i++) delays[i] = c.knockout_ticks[i];
  crash_delays_set(delays);
  session.connected = connected;
  session.race_slot = c.race_slot < SLOT_COUNT ? c.race_slot : NO_RACE_SLOT;
  session.grace_seconds = c.off_course_bias;
  session.off_pace_factor = c.off_course_scale;
  game.net.connected = connected;
  game.net.tick_received = connected && c.newest_server_tick != 0;
  game.net.server_tick = c.server_tick_estimate;
  game.net.in_race = connected && c.race_slot < SLOT_COUNT;
  game.race_started = sim_tick >= race_start_tick;
  game.sim_tick = uint32_t(sim_tick);
}

void net_session_poll(NetClient& c) {
  net_poll(c);
  net_session_sync(c);
}

void net_session_description_changed(NetClient& c) {
  take_player_description(c);
  c.info_changed = true;
}
