// The race session: reset (riders of the lineup onto the start gate of the loaded track) and the
// per-step driver of bikes, contacts, physics, timing, start gate and demos.
#include "core/session.h"

#include <ode/ode.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>
#include <string>

#include "core/command_line.h"
#include "core/console.h"
#include "core/game.h"
#include "core/loading.h"
#include "core/session_replay.h"
#include "core/settings.h"
#include "core/tick.h"
#include "core/track_load.h"
#include "files/memory.h"
#include "physics/bike.h"
#include "physics/contact.h"
#include "physics/erosion.h"
#include "physics/model_names.h"
#include "physics/rider.h"
#include "physics/roost.h"
#include "physics/setup.h"
#include "physics/shape.h"
#include "physics/world.h"
#include "platform/vant.h"
#include "race/race.h"
#include "race/series.h"
#include "render/model.h"
#include "replay/bike_state.h"
#include "replay/demo.h"
#include "replay/history.h"
#include "robots/autopilot.h"
#include "robots/lines.h"
#include "track/objects.h"
#include "track/textures.h"

Session session;
SessionProfile session_profile;

const char* session_stage_name(int stage) {
  static const char* const NAMES[STAGE_COUNT] = {"replay",    "contacts", "bike_bike",      "world_step",
                                                 "post_step", "robots",   "gate_progress", "erosion",
                                                 "demo",      "other"};
  return stage >= 0 && stage < STAGE_COUNT ? NAMES[stage] : "";
}

namespace {

// Gate pieces are 33.75 degrees from their fallen pose while upright.
constexpr double GATE_TILT = 0.5890486;  // rad
constexpr double GATE_TEST_SECONDS = 10;  // the gate moves and is tested this long after the start
constexpr double GATE_ACCELERATION = 32;  // angle units per s²
constexpr float GATE_SPEED_MAX = 8;
constexpr float GATE_ROW_SPACING = 10;  // ft between rows behind a piece
constexpr float OBJECT_REACH = 6;       // ft around a bike's frame searched for objects
constexpr float PUT_DOWN_STEP = 0.25f;  // ft
constexpr int PUT_DOWN_TRIES = 4096;
constexpr int32_t WATCH_DELAY = 127;    // ticks watchers see the race late

// Graphics names of the roster, kept for the life of the program.
struct RosterNames {
  std::string rider, head, bike, wheels;
};

struct Roster {
  RosterEntry entries[ROSTER_SIZE];
  RosterNames names[ROSTER_SIZE];
  Roster() {
    struct Group {
      const char* personality;
      const char* models[5];
      int counts[5];
    };
    const Group groups[4] = {
        {"rook", {"kx125", "yz125", "cr125", "rm125", nullptr}, {5, 5, 5, 5, 0}},
        {"wren", {"crf250", "kx250f", "rmz250", "yz250f", "yz250f_se(2006)"}, {5, 5, 4, 5, 1}},
        {"rook", {"crf250", "kx250f", "rmz250", "yz250f", "yz250f_se(2006)"}, {5, 5, 4, 5, 1}},
        {"finch", {"crf250", "kx250f", "yz250f", "rmz250", nullptr}, {5, 5, 5, 5, 0}},
    };
    int i = 0;
    for (const Group& group : groups) {
      for (int m = 0; m < 5; m++) {
        for (int k = 0; k < group.counts[m]; k++, i++) {
          const std::string alt = i % 2 ? "-alt2" : "-alt1";
          names[i] = {"@rider_body" + alt + ".png", "@rider_head" + alt + ".png",
                      "@" + std::string(group.models[m]) + alt + ".png", "@wheels" + alt + ".png"};
          entries[i] = {20 + i, group.personality, group.models[m], names[i].rider.c_str(),
                        names[i].head.c_str(), names[i].bike.c_str(), names[i].wheels.c_str()};
        }
      }
    }
  }
};

const Roster& roster() {
  static const Roster table;
  return table;
}

Bike*& slot_bike(int slot) { return game.slot_bike[slot]; }

// Lifts a settling bike never takes more of (0.25 ft each: far above any edited hill).
constexpr int SETTLE_LIFTS_MAX = 4096;

const dReal* frame_position(const Bike* bike) { return dBodyGetPosition(bike->bodies[BODY_FRAME]); }

// The rotation of a statue as the contact code takes it (3 rows of 4).
void statue_rotation(const Statue& statue, dMatrix3 out) {
  for (int row = 0; row < 3; row++) {
    for (int col = 0; col < 3; col++) out[row * 4 + col] = statue.orientation[row * 3 + col];
    out[row * 4 + 3] = 0;
  }
}

int gate_piece_of_statue(int32_t statue) {
  for (int i = 0; i < session.piece_count; i++) {
    if (session.pieces[i].statue == statue) return i;
  }
  return -1;
}

// Statues already tested against the current bike this step (one stamp per statue).
std::vector<uint32_t> statue_stamps;
uint32_t stamp_now = 0;

// A bike against the statues of the object cells around its frame; a statue that spans
// several cells is tested once. reach is bike_reach(bike).
void object_contacts(Bike* bike, double reach) {
  const float extent = track_terrain.extent;
  if (!(extent > 0)) return;
  auto cell = [extent](double v) {
    return std::clamp(int(std::floor((v / extent - 0.125) * 4.0 / 3.0 * OBJECT_BUCKETS)), 0, OBJECT_BUCKETS - 1);
  };
  const dReal* p = frame_position(bike);
  const int c0 = cell(p[0] - OBJECT_REACH), c1 = cell(p[0] + OBJECT_REACH);
  const int r0 = cell(p[2] - OBJECT_REACH), r1 = cell(p[2] + OBJECT_REACH);
  if (statue_stamps.size() < track_objects.statues.size()) statue_stamps.resize(track_objects.statues.size(), 0);
  if (++stamp_now == 0) {
    std::fill(statue_stamps.begin(), statue_stamps.end(), 0);
    stamp_now = 1;
  }
  for (int r = r0; r <= r1; r++) {
    for (int c = c0; c <= c1; c++) {
      for (int32_t i : track_objects.statue_buckets[r][c]) {
        if (statue_stamps[size_t(i)] == stamp_now) continue;
        statue_stamps[size_t(i)] = stamp_now;
        const Statue& statue = track_objects.statues[size_t(i)];
        const Shape* shape = static_cast<const Shape*>(statue.shape);
        if (!shape) continue;
        const dReal position[3] = {statue.x, statue.y, statue.z};
        // Most statues of the cells are beyond the whole bike's reach: one distance test
        // instead of one per part.
        if (bike_out_of_reach(bike, reach, position, shape->bounding_radius)) continue;
        dMatrix3 rotation;
        statue_rotation(statue, rotation);
        if (!part_object_collision(bike, shape, nullptr, position, rotation, SPHERE_JOINT, false)) continue;
        const int piece = gate_piece_of_statue(i);
        if (piece >= 0) session.pieces[piece].last_contact = sim_tick;
      }
    }
  }
}

// A replayed bike only touches the gate: the touch stops the piece. reach is bike_reach(bike).
void gate_touch(Bike* bike, double reach) {
  for (int k = 0; k < session.piece_count; k++) {
    GatePiece& piece = session.pieces[k];
    const Statue& statue = track_objects.statues[size_t(piece.statue)];
    const Shape* shape = static_cast<const Shape*>(statue.shape);
    if (!shape) continue;
    const dReal position[3] = {statue.x, statue.y, statue.z};
    if (bike_out_of_reach(bike, reach, position, shape->bounding_radius)) continue;
    dMatrix3 rotation;
    statue_rotation(statue, rotation);
    if (part_object_collision(bike, shape, nullptr, position, rotation, SPHERE_REPORT, true))
      piece.last_contact = sim_tick;
  }
}

bool gate_testing(int32_t start) {
  return start * SIM_STEP + GATE_TEST_SECONDS >= sim_tick * SIM_STEP;
}

// Bikes in a list sorted by descending frame speed; equal speeds keep slot order. An insertion
// sort: it allocates nothing, and the order changes little from one step to the next. A value
// per bike, when given, moves along with its bike.
void sort_by_speed(Bike** bikes, int count, double* carried = nullptr) {
  float speed[SLOT_COUNT];
  for (int i = 0; i < count; i++) speed[i] = bike_frame_speed(bikes[i]);
  for (int i = 1; i < count; i++) {
    Bike* bike = bikes[i];
    const float v = speed[i];
    const double value = carried ? carried[i] : 0;
    int j = i;
    for (; j > 0 && speed[j - 1] < v; j--) {
      bikes[j] = bikes[j - 1];
      speed[j] = speed[j - 1];
      if (carried) carried[j] = carried[j - 1];
    }
    bikes[j] = bike;
    speed[j] = v;
    if (carried) carried[j] = value;
  }
}

// The time since the last mark goes to a stage, when profiling.
double stage_clock = 0;
double profile_now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}
void stage_start() {
  if (session_profile.enabled) stage_clock = profile_now();
}
void stage_mark(SessionStage stage) {
  if (!session_profile.enabled) return;
  const double now = profile_now();
  session_profile.seconds[stage] += now - stage_clock;
  stage_clock = now;
}

Bike* step_list[SLOT_COUNT];
double step_reach[SLOT_COUNT];  // bike_reach of each listed bike: objects and bike pairs share it
int step_slot[SLOT_COUNT];      // the slot of each listed bike, before the list is sorted
Bike* candidate_list[SLOT_COUNT];
int candidate_slots[SLOT_COUNT];

void collisions_offline() {
  int count = 0;
  for (int slot = 0; slot < SLOT_COUNT; slot++) {
    Bike* bike = slot_bike(slot);
    if (!bike) continue;
    // Contacts add joints and forces but move no body, so one reach serves the whole pass.
    step_reach[count] = bike_reach(bike);
    step_slot[count] = slot;
    step_list[count++] = bike;
    if (game.slot_kind[slot] == SLOT_REPLAY) continue;
    bike_ground_contacts(bike, &track_terrain);
    object_contacts(bike, step_reach[count - 1]);
  }
  if (gate_testing(race_start_tick)) {
    for (int i = 0; i < count; i++) {
      if (game.slot_kind[step_slot[i]] == SLOT_REPLAY) gate_touch(step_list[i], step_reach[i]);
    }
  }
  stage_mark(STAGE_CONTACTS);
  sort_by_speed(step_list, count, step_reach);
  bike_list_collisions(step_list, count, 0, step_reach);
  stage_mark(STAGE_BIKE_BIKE);
}

bool grace_passed() {
  return (sim_tick - race_start_tick) * SIM_STEP >= session.grace_seconds;
}

bool no_gate_yet(int slot) { return gates_passed(race_entrants[slot].timing) == 0; }

void collisions_connected() {
  // Bikes driven here stand on the ground whether or not they race.
  for (int slot = 0; slot < SLOT_COUNT; slot++) {
    if (slot_bike(slot) && game.slot_kind[slot] != SLOT_REPLAY) bike_ground_contacts(slot_bike(slot), &track_terrain);
  }
  const bool has_slot = session.race_slot != NO_RACE_SLOT;
  const int own_slot = session.own_slot;
  Bike* own = own_slot >= 0 ? slot_bike(own_slot) : nullptr;
  const bool judge = own && race.order_count > 1 && grace_passed();
  const bool own_out =
      judge && (rider_finished(own_slot) || no_gate_yet(own_slot) || session_off_pace(own_slot));
  int count = 0;
  for (int slot = 0; slot < SLOT_COUNT; slot++) {
    Bike* bike = slot_bike(slot);
    if (!bike || game.slot_kind[slot] != SLOT_REPLAY) continue;
    if (slot != own_slot && race_entrants[slot].net_state_tick <= sim_tick - TICKS_PER_SECOND) continue;
    if (judge && !own_out && (rider_finished(slot) || no_gate_yet(slot) || session_off_pace(slot))) continue;
    candidate_slots[count] = slot;
    candidate_list[count++] = bike;
  }
  if (!has_slot && gate_testing(race_start_tick + WATCH_DELAY)) {
    for (int i = 0; i < count; i++) gate_touch(candidate_list[i], bike_reach(candidate_list[i]));
  }
  if (!own) return;
  object_contacts(own, bike_reach(own));
  stage_mark(STAGE_CONTACTS);
  if (!has_slot) return;  // watchers ride through the others
  sort_by_speed(candidate_list, count);
  for (int i = 0; i < count; i++) {
    Bike* other = candidate_list[i];
    if (bike_bike_collision(own, other, 1)) bike_knockback_start(other);
    if (other->knockback > 0.25f) {
      bike_ground_contacts(other, &track_terrain);
      object_contacts(other, bike_reach(other));
    }
  }
  stage_mark(STAGE_BIKE_BIKE);
}

void gate_motion() {
  const int32_t start = race_start_tick + (session.connected && session.race_slot == NO_RACE_SLOT ? WATCH_DELAY : 0);
  if (!gate_testing(start)) return;
  for (int k = 0; k < session.piece_count; k++) {
    GatePiece& piece = session.pieces[k];
    if (sim_tick < start) {
      piece.angle = 1;
      piece.speed = 0;
    } else if (piece.angle > 0) {
      if (piece.last_contact == sim_tick) {
        piece.speed = 0;
      } else {
        piece.speed = std::min(piece.speed + float(GATE_ACCELERATION * SIM_STEP), GATE_SPEED_MAX);
        piece.angle = std::max(piece.angle - float(SIM_STEP) * piece.speed, 0.0f);
      }
    }
    // The upright orientation turned about the piece's own x axis; a piece at rest keeps the
    // orientation it was given.
    Statue& statue = track_objects.statues[size_t(piece.statue)];
    const bool unchanged = std::memcmp(piece.shown, statue.orientation, sizeof piece.shown) == 0;
    if (piece.angle == piece.shown_angle && unchanged) continue;
    const double t = piece.angle * GATE_TILT;
    const float c = float(std::cos(t)), s = float(std::sin(t));
    const float tilt[9] = {1, 0, 0, 0, c, s, 0, -s, c};
    for (int row = 0; row < 3; row++) {
      for (int col = 0; col < 3; col++) {
        float sum = 0;
        for (int k2 = 0; k2 < 3; k2++) sum += piece.base[row * 3 + k2] * tilt[k2 * 3 + col];
        statue.orientation[row * 3 + col] = sum;
      }
    }
    piece.shown_angle = piece.angle;
    std::copy(statue.orientation, statue.orientation + 9, piece.shown);
  }
}

RaceContext race_context() {
  RaceContext context;
  context.sim_tick = sim_tick;
  context.connected = session.connected;
  context.has_race_slot = session.connected && session.race_slot != NO_RACE_SLOT;
  context.track_name = track_current;
  context.calendar_time = time(nullptr);
  return context;
}

void timing_step(int slot, Bike* bike) {
  const dReal* wheel = dBodyGetPosition(bike->bodies[BODY_FRONT_WHEEL]);
  lines_record_step(bike);
  GateStep step = race_gate_progress(slot, float(wheel[0]), float(wheel[2]), sim_tick);
  if (step.advanced && step.counted) lines_gate_passed(bike, step.index);
  if (step.accepted) race_order_update(race_context());
}

// The start gate pieces of the loaded track's timing file, standing up.
void gate_pieces_build() {
  session.piece_count = timing.piece_count;
  for (int i = 0; i < timing.piece_count; i++) {
    GatePiece& piece = session.pieces[i];
    piece.statue = track_gate_statues[i];
    const Statue& statue = track_objects.statues[size_t(piece.statue)];
    std::copy(statue.orientation, statue.orientation + 9, piece.base);
    piece.angle = 1;
    piece.speed = 0;
    piece.last_contact = -1;
    piece.shown_angle = std::numeric_limits<float>::quiet_NaN();
  }
}

// The height-field sample under a point (clamped to the field).
float ground_sample(float x, float z) {
  const Terrain& t = track_terrain;
  const int last = t.grid_size - 1;
  const int col = std::clamp(int(std::floor(x / t.spacing)), 0, last);
  const int row = std::clamp(int(std::floor(z / t.spacing)), 0, last);
  return t.heights[size_t(row) * size_t(t.grid_size) + size_t(col)];
}

void clear_forces(Bike* bike) {
  for (dBodyID body : bike->bodies) {
    dBodySetForce(body, 0, 0, 0);
    dBodySetTorque(body, 0, 0, 0);
  }
}

// Lowers the bike onto the ground at (x, z) facing yaw: from the height-field value under it,
// raised in small steps while any part still touches the ground.
}  // namespace

void session_put_down(Bike* bike, float x, float z, float yaw) {
  float height = ground_sample(x, z);
  for (int i = 0; i < PUT_DOWN_TRIES; i++, height += PUT_DOWN_STEP) {
    bike_reset(bike);
    bike_rotate(bike, yaw);
    const float offset[3] = {x, height, z};
    bike_translate(bike, offset);
    const bool touching = bike_ground_contacts(bike, &track_terrain);
    dJointGroupEmpty(contact_group);
    clear_forces(bike);
    if (!touching) break;
  }
  for (WheelState* wheel : {&bike->front, &bike->rear}) wheel->depth = 0;
}

namespace {

struct Rider {
  const char* model;
  const char* number;
  const char* name;
  const char* textures[4];
  const char* personality;
  SlotKind kind;
};

bool robot_used[ROSTER_SIZE];

// The next unused robot of the shuffled roster whose model contains filter (any when null).
int next_robot(const char* filter) {
  for (int pass = 0; pass < 2; pass++) {
    for (int k = 0; k < ROSTER_SIZE; k++) {
      const int position = session.roster_order[k];
      if (robot_used[position]) continue;
      if (filter && !strstr(robot_roster(position).model, filter)) continue;
      robot_used[position] = true;
      return position;
    }
    // Every matching robot rides already: they start over.
    for (int k = 0; k < ROSTER_SIZE; k++) {
      if (!filter || strstr(robot_roster(k).model, filter)) robot_used[k] = false;
    }
  }
  return -1;
}

// Who rides in a slot for its lineup value; false when the slot stays empty.
bool choose_rider(int slot, int value, Rider* rider, char number_text[16]) {
  int robot = -1;
  switch (value) {
    case LINEUP_PLAYER: {
      const BikeSetup& setup = settings.setup;
      *rider = {setup.bike, setup.number, setup.name,
                {setup.rider_texture, setup.head_texture, setup.bike_texture, setup.wheel_texture},
                nullptr, SLOT_LOCAL};
      return true;
    }
    case LINEUP_SERVER: {
      if (!session.server_riders) return false;
      // An empty graphics name means the default picture.
      auto named = [](const char* name) { return name[0] ? name : nullptr; };
      const RiderDescription& d = session.server_riders[slot];
      *rider = {bike_model_alias(d.bike), d.number, d.name,
                {named(d.rider_texture), named(d.head_texture), named(d.bike_texture), named(d.wheel_texture)},
                nullptr, SLOT_REPLAY};
      return true;
    }
    case LINEUP_ROBOT: robot = next_robot(nullptr); break;
    case LINEUP_ROBOT_125: robot = next_robot("125"); break;
    case LINEUP_ROBOT_250: robot = next_robot("250"); break;
    default:
      if (value >= LINEUP_ROBOT_NUMBER + 20 && value < LINEUP_ROBOT_NUMBER + 20 + ROSTER_SIZE)
        robot = value - LINEUP_ROBOT_NUMBER - 20;
      break;
  }
  // Demo riders (0) come with demo playback.
  if (robot < 0) return false;
  const RosterEntry& entry = robot_roster(robot);
  snprintf(number_text, 16, "%d", entry.number);
  *rider = {bike_model_alias(entry.model), number_text, "Roborider",
            {entry.rider_texture, entry.head_texture, entry.bike_texture, entry.wheels_texture},
            session.practice ? "tester" : entry.personality, SLOT_ROBOT};
  return true;
}

// The next rider of the demo being played, replayed in this slot.
bool demo_rider(int slot, Rider* rider) {
  const int index = session_next_demo_rider(slot);
  if (index < 0) return false;
  const DemoRider& r = demo_play_header()->riders[index];
  *rider = {r.model ? r.model : "", r.number, r.name ? r.name : "",
            {r.rider_graphics, r.helmet_graphics, r.bike_graphics, r.wheel_graphics}, nullptr, SLOT_REPLAY};
  return true;
}

void load_bike(int slot, int gate_place) {
  Rider rider;
  char number_text[16];
  game.slot_kind[slot] = SLOT_REPLAY;
  const bool chosen = session.lineup[slot] == LINEUP_DEMO
                          ? demo_rider(slot, &rider)
                          : choose_rider(slot, session.lineup[slot], &rider, number_text);
  if (!chosen) return;
  const GatePlace place = session_gate_place(gate_place);
  Bike* bike = bike_create(rider.model, slot, rider.number, rider.textures[0], rider.textures[1],
                           rider.textures[2], rider.textures[3]);
  if (!bike) return;
  // Engine sound state joins here with the engine sound.
  session_put_down(bike, place.x, place.z, place.yaw);
  slot_bike(slot) = bike;
  game.slot_kind[slot] = rider.kind;
  snprintf(session.player_name[slot], sizeof session.player_name[slot], "%.255s", rider.name);
  for (int i = 0; i < 4; i++) session.graphics[slot][i] = rider.textures[i] ? intern_string(rider.textures[i]) : nullptr;
  session.personality[slot] = rider.personality;
  if (rider.kind == SLOT_ROBOT) autopilot_set_personality(bike, rider.personality);
  if (rider.kind == SLOT_LOCAL) {
    race.penalty_countdown = 0;
    const dReal* p = frame_position(bike);
    race.start_position[0] = float(p[0]);
    race.start_position[1] = float(p[1]);
    race.start_position[2] = float(p[2]);
  } else if (rider.kind == SLOT_REPLAY) {
    // Posed from the history each step and moved on by the pose's velocities within it, so a
    // replayed bike crosses checkpoints on the same step as the bike that was recorded. A
    // knock-back timer left at its fresh value would only pull the bike towards its states.
    for (dBodyID body : bike->bodies) dBodySetKinematic(body);
    bike->knockback = 0;
  }
  race_entrant_add(slot, rider.kind, bike->number, bike->info.name);
}

}  // namespace

const RosterEntry& robot_roster(int position) { return roster().entries[position]; }

void session_load_slot(int slot) { load_bike(slot, slot); }

RaceContext session_race_context() { return race_context(); }

double session_random_u() { return (session.random() & 0x7fffffffu) * (1.0 / 2147483648.0); }
double session_random_r() { return (session.random() & 0xffffffu) * (1.0 / 16777216.0); }

GatePlace session_gate_place(int place) {
  if (session.piece_count > 0) {
    const StartGatePiece& piece = timing.pieces[place % session.piece_count];
    const float row = float(place / session.piece_count);
    const float along = (row + 0.0625f) * GATE_ROW_SPACING;
    return {piece.x + std::sin(piece.angle) * along, piece.z + std::cos(piece.angle) * along, piece.angle};
  }
  const float half = track_terrain.extent / 2;
  return {half + 5.0f * float(place), half, 0};
}

bool session_off_pace(int slot) {
  const RiderTiming& rider = race_entrants[slot].timing;
  const int32_t n = gates_passed(rider);
  for (int32_t g = std::max(1, n - 3); g <= n; g++) {
    int32_t b = race.start_tick;
    for (int32_t i = g - 1; i >= std::max(0, g - 3); i--) {
      if (gate_tick(rider, i) >= 0) {
        b = gate_tick(rider, i);
        break;
      }
    }
    int32_t c = sim_tick;
    for (int32_t i = g; i < n; i++) {
      if (gate_tick(rider, i) >= 0) {
        c = gate_tick(rider, i);
        break;
      }
    }
    for (int k = 0; k < race.order_count; k++) {
      const RiderTiming& leader = race_entrants[race.order[k].slot].timing;
      if (gates_passed(leader) <= g) continue;
      const int32_t from = gate_tick(leader, g - 1), to = gate_tick(leader, g);
      if (from < 0 || to < 0) continue;
      if (c * SIM_STEP >= b * SIM_STEP + session.off_pace_factor * (to - from) * SIM_STEP + session.grace_seconds)
        return true;
      break;
    }
  }
  return false;
}

bool session_slot_hidden(int slot) {
  ReplayVisibility v{};
  v.slot = slot;
  v.has_bike = slot_bike(slot) != nullptr;
  v.kind = game.slot_kind[slot];
  v.viewed = slot == game.viewed_slot;
  v.sim_tick = sim_tick;
  v.connected = session.connected;
  v.has_race_slot = session.connected && session.race_slot != NO_RACE_SLOT;
  const int own = session.own_slot;
  v.own_bike = session.connected && own >= 0 && slot_bike(own) != nullptr;
  v.race_order_count = race.order_count;
  v.grace_passed = grace_passed();
  // Only online are riders who are out of the running left out; offline the rules need no more.
  if (v.own_bike) {
    v.own_finished = rider_finished(own);
    v.own_no_checkpoint = no_gate_yet(own);
    v.own_off_pace = session_off_pace(own);
  }
  if (v.has_bike && v.own_bike) {
    v.finished = rider_finished(slot);
    v.no_checkpoint = no_gate_yet(slot);
    v.off_pace = session_off_pace(slot);
  }
  return replay_hidden(v);
}

namespace {

// The slot of a bike of this session, -1 for any other bike.
int slot_of(const Bike* bike) {
  const int slot = bike ? bike->tag : -1;
  return slot >= 0 && slot < SLOT_COUNT && slot_bike(slot) == bike ? slot : -1;
}

// In a running race, a rider who has passed a gate and is level with or ahead of the leader's
// gate count.
bool leading_in_race(const Bike* bike) {
  const int slot = slot_of(bike);
  if (slot < 0 || session.time_trial || sim_tick < race_start_tick || race.results_final) return false;
  if (race.order_count == 0) return false;
  const int32_t gates = gates_passed(race_entrants[slot].timing);
  return gates >= 1 && gates >= race.order[0].gates;
}

// Index of the point of a path nearest to (x, z), horizontally.
size_t nearest_point(const LinePoint* points, size_t count, double x, double z) {
  size_t best = 0;
  double best_d2 = 1e300;
  for (size_t i = 0; i < count; i++) {
    const double dx = points[i].x - x, dz = points[i].z - z;
    if (dx * dx + dz * dz < best_d2) best_d2 = dx * dx + dz * dz, best = i;
  }
  return best;
}

// Where a fallen bike is turned to: 4 points on from the nearest point of a robot's own path, or
// of the best racing line of the stretch the rider is on; without lines the next checkpoint.
bool realign_target(const Bike* bike, float out[3]) {
  constexpr size_t POINTS_AHEAD = 4;
  const int slot = slot_of(bike);
  if (slot < 0) return false;
  const dReal* p = frame_position(bike);
  const LinePoint* path = nullptr;
  size_t count = 0;
  const AutoPilot* pilot = autopilot_of(bike);
  if (bike_is_robot(bike) && pilot && !pilot->path.empty()) {
    path = pilot->path.data();
    count = pilot->path.size();
  }
  const RiderTiming& rider = race_entrants[slot].timing;
  const int32_t next = int32_t(std::min<size_t>(rider.gates.size(), GATE_INDEX_MAX));
  if (!path && lines_row_count() > 0) {
    const int32_t row = lines_row_of(lines_counted_before(next));
    const RacingLine* best = nullptr;
    for (int i = 0; i < LINE_SLOTS; i++) {
      const RacingLine& line = lines_slot(row, i);
      if (line.count > 0 && (!best || lines_score(line) < lines_score(*best))) best = &line;
    }
    if (best) {
      path = best->points.data();
      count = std::min(size_t(best->count), best->points.size());
    }
  }
  if (path && count > 0) {
    const LinePoint& q = path[std::min(nearest_point(path, count, p[0], p[2]) + POINTS_AHEAD, count - 1)];
    out[0] = q.x, out[1] = q.y, out[2] = q.z;
    return true;
  }
  if (!timing.present) return false;
  const Checkpoint& c = timing.checkpoints[lap_checkpoint(next)];
  out[0] = c.px, out[1] = c.py, out[2] = c.pz;
  return true;
}

}  // namespace

void session_free_bikes() {
  vant_log("Deallocating bikes\n");
  for (int slot = 0; slot < SLOT_COUNT; slot++) {
    if (slot_bike(slot)) bike_destroy(slot_bike(slot));
    slot_bike(slot) = nullptr;
    autopilot_reset(autopilots[slot]);
    game.slot_kind[slot] = SLOT_REPLAY;
  }
  race_entrants_clear();
  race.order_count = 0;
  vant_log("Finished deallocating bikes\n");
}

bool session_reset(const int* lineup, bool playback, bool record, int32_t duration_ticks, int32_t laps,
                   int line_set) {
  series_finish_event();
  loading_message("Resetting...");
  // A played demo's "erode" commands set the erosion rate; its erosion records dig the ground.
  demo_set_playback_handlers({[](int rate) { session.erosion_rate = rate; },
                              [](const uint8_t* data, uint32_t length) {
                                erode_stroke_apply(data, length, track_terrain.extent);
                              }});
  vant_log("Resetting\n");
  rider_hooks = RiderHooks{leading_in_race, realign_target};

  session.random.seed(uint32_t(sim_tick));
  for (int i = 0; i < ROSTER_SIZE; i++) session.roster_order[i] = i;
  for (int j = ROSTER_SIZE - 1; j >= 1; j--) {
    const uint32_t r = session.random();
    std::swap(session.roster_order[j], session.roster_order[(r / 65536) % uint32_t(j)]);
  }

  loading_message_logged("Remembering lines");
  session_remember_lines();
  loading_done("Remembering lines");

  session_demos_close();
  loading_message_logged("Cleaning up");
  session_free_bikes();
  loading_done("Cleaning up");

  sim_tick = 0;
  session.start_ready_tick = START_READY_TICK;
  const bool server = session.server_start;
  session.server_start = false;
  session.connected = server;
  if (server) {
    race_start_tick = session.server_start_tick;
    session.erosion_rate = session.server_erosion_rate;
  } else {
    race_start_tick = race_start_tick_for(session_random_u());
    session.erosion_rate = start_options.erode_rate;
  }
  session.time_trial = lineup == nullptr;
  if (!server) {
    session.server_riders = nullptr;
    session.race_slot = NO_RACE_SLOT;
    session.grace_seconds = 10;
    session.off_pace_factor = 1.5;
    history_clear_all();
  }

  const char* track = server ? session.server_track : settings.track;
  if (playback && session_demo_open()) {
    const DemoHeader& header = *demo_play_header();
    if (header.track && header.track[0]) track = header.track;
    duration_ticks = header.duration;
    laps = header.laps;
    race_start_tick = header.race_start_tick;
    if (record && vant_name_compare(session_demo_name(), "@demos/default.skdemo") == 0) {
      console_print("Can't record and play from same file - recording disabled");
      record = false;
    }
  }
  if (vant_name_compare(track, track_current) != 0 || !track_current[0] || session.reload_requested) {
    session.reload_requested = false;
    if (track_current[0]) track_free();
    track_textures_new_generation();
    models_new_generation();
    if (!track_load(track)) {
      demo_play_close();
      game.track_loaded = false;
      game.view_mode = VIEW_NO_TRACK;
      session.piece_count = 0;
      return false;
    }
    gate_pieces_build();
  }
  game.track_loaded = true;
  // A new race starts on the ground as loaded, before the riders are put down on it.
  erode_ground_restore(&track_terrain);

  if (session.time_trial) {
    race.best_lap = race.last_lap = 0;
    std::fill(session.lineup, session.lineup + SLOT_COUNT, 0);
    session.lineup[0] = LINEUP_PLAYER;
    sim_tick = int32_t(300 / SIM_STEP);
  } else {
    std::copy(lineup, lineup + SLOT_COUNT, session.lineup);
  }

  int viewed = -1;
  for (int slot = 0; slot < SLOT_COUNT; slot++) {
    if (session.lineup[slot] != 0 && viewed < 0) viewed = slot;
  }
  if (viewed < 0) {
    viewed = 0;
    if (!demo_playing()) session.lineup[0] = LINEUP_ROBOT;
  }
  bool player_seen = false;
  for (int slot = 0; slot < SLOT_COUNT; slot++) {
    if (session.lineup[slot] != LINEUP_PLAYER) continue;
    if (player_seen) {
      session.lineup[slot] = 0;
    } else {
      player_seen = true;
      viewed = slot;
    }
  }
  game.viewed_slot = viewed;
  session.own_slot = player_seen ? viewed : -1;

  lines_learn = start_options.learn;
  if (line_table.present) {
    lines_load(track_current, line_set);
    session.line_set = line_set;
    loading_message_logged("Analyzing lines");
    lines_analyze();
    loading_done("Analyzing lines");
  }

  std::fill(robot_used, robot_used + ROSTER_SIZE, false);
  race_entrants_clear();
  // Offline each slot stands at its own place. In a race the server starts, the player stands at
  // its race slot's place (the first place when only watching) and the others fill the places in
  // slot order around it.
  const int player_place = !server ? -1 : session.race_slot != NO_RACE_SLOT ? session.race_slot : 0;
  int next_place = 0;
  for (int slot = 0; slot < SLOT_COUNT; slot++) {
    loading_progress("Loading bikes");
    int place = slot;
    if (server && slot == session.own_slot) {
      place = player_place;
    } else if (server && session.lineup[slot] != LINEUP_DEMO) {
      if (next_place == player_place) next_place++;
      place = next_place++;
    }
    load_bike(slot, place);
  }
  loading_done("Loading bikes");
  history_clear_all();
  roost_pool_reset();
  lines_reset_race();
  console_printf("%d MB texture memory used\n", static_cast<int>(track_texture_memory() >> 20));
  track_textures_purge_stale();
  models_purge(false);

  race_reset(duration_ticks, laps, race_start_tick);
  // The demo header names the race's length, so the recording starts once the race has it.
  if (record) session_record_start(session.time_trial);
  for (int k = 0; k < session.piece_count; k++) {
    session.pieces[k].angle = 1;
    session.pieces[k].speed = 0;
    session.pieces[k].last_contact = -1;
  }
  gate_motion();

  if (session.time_trial) time_trial_attempt_start();

  const char* before = "";
  const double delay = loading_max_delay(&before);
  vant_log("Max loading delay was %f (%s)\n", delay, before ? before : "");

  session_demos_begin();
  race.results_final = false;
  race_order_update(race_context());
  if (!slot_bike(game.viewed_slot) && race.order_count > 0) game.viewed_slot = race.order[0].slot;
  dJointGroupEmpty(contact_group);
  // The player's own bike takes the player's setup; it stands still at the gate, so it applies.
  Bike* viewed_bike = slot_bike(game.viewed_slot);
  if (viewed_bike && game.slot_kind[game.viewed_slot] == SLOT_LOCAL) setup_apply(viewed_bike);
  game.sim_tick = uint32_t(sim_tick);
  game.race_start_tick = uint32_t(race_start_tick);
  working_set_adjust();
  return true;
}

namespace {

// Roost from every bike, the order turning by one each step so no bike always comes first
// when the pool runs short.
void emit_roost() {
  int slots[SLOT_COUNT];
  int count = 0;
  for (int slot = 0; slot < SLOT_COUNT; slot++) {
    if (slot_bike(slot)) slots[count++] = slot;
  }
  for (int k = 0; k < count; k++) {
    const int slot = slots[uint32_t(k + sim_tick) % uint32_t(count)];
    bike_emit_roost(slot_bike(slot), game.slot_kind[slot] != SLOT_REPLAY, &track_terrain,
                    render_params.roost_frequency, session.random);
  }
}

// The wheels of the bikes simulated here dig the ground; queued changes are applied around
// the last local rider.
void erode_ground() {
  const float* local = nullptr;
  float local_xz[2];
  for (int slot = 0; slot < SLOT_COUNT; slot++) {
    Bike* bike = slot_bike(slot);
    if (!bike || game.slot_kind[slot] == SLOT_REPLAY) continue;
    bike_erode(bike, &track_terrain);
    if (game.slot_kind[slot] == SLOT_LOCAL) {
      const dReal* p = frame_position(bike);
      local_xz[0] = float(p[0]);
      local_xz[1] = float(p[2]);
      local = local_xz;
    }
  }
  erode_queue_process(&track_terrain, local, float(session.erosion_rate) / 1024);
}

}  // namespace

void session_remember_lines() {
  if (track_current[0] && session.line_set >= 0) lines_save(track_current, session.line_set);
  lines_clear();
  session.line_set = -1;
}

void session_race_order_update() { race_order_update(race_context()); }

void session_step() {
  if (!track_current[0]) return;
  stage_start();
  const bool watching = session.connected && session.race_slot == NO_RACE_SLOT;

  // Replayed slots take their pose from the state history.
  const int32_t replay_tick = watching ? sim_tick - WATCH_DELAY : sim_tick;
  for (int slot = 0; slot < SLOT_COUNT; slot++) {
    Bike* bike = slot_bike(slot);
    if (!bike || game.slot_kind[slot] != SLOT_REPLAY) continue;
    history_apply(slot, bike, bike_pack_ranges(*bike, track_pack_ground), replay_tick);
  }
  stage_mark(STAGE_REPLAY);
  const int32_t rider_laps = session.time_trial ? session_laps_completed(0) : 0;
  const int32_t ghost_laps = session.time_trial ? session_laps_completed(1) : 0;

  if (session.connected)
    collisions_connected();
  else
    collisions_offline();
  emit_roost();
  stage_mark(STAGE_EROSION);

  physics_world_step();
  stage_mark(STAGE_WORLD_STEP);
  if (session.erosion_rate > 0) erode_ground();
  stage_mark(STAGE_EROSION);

  autopilot_field_forget();  // the bodies moved: robots look at the field afresh
  for (int slot = 0; slot < SLOT_COUNT; slot++) {
    Bike* bike = slot_bike(slot);
    if (!bike) continue;
    const SlotKind kind = game.slot_kind[slot];
    // A local bike given a personality (a headless client's rider) rides like a robot.
    if (kind == SLOT_ROBOT || (kind == SLOT_LOCAL && bike_is_robot(bike))) {
      autopilot_step(bike);
      stage_mark(STAGE_ROBOTS);
    }
    if (session.connected && kind == SLOT_REPLAY) bike_knockback_tick(bike);
    if (session.connected && kind == SLOT_LOCAL) {
      const dReal* p = frame_position(bike);
      if (race_false_start_step(float(p[0]), float(p[1]), float(p[2]), sim_tick).hold) {
        controls_set_front_brake(bike, 1);
        controls_set_rear_brake(bike, 1);
        controls_set_back_up(bike, 0);
        controls_set_clutch(bike, 0);
        controls_set_throttle(bike, 0);
        controls_set_sit_dab(bike, 1);
      }
    }
    stage_mark(STAGE_OTHER);
    bike_post_step(bike);
    stage_mark(STAGE_POST_STEP);
    if (!session.connected || kind == SLOT_LOCAL) timing_step(slot, bike);
    RaceEntrant& entrant = race_entrants[slot];
    entrant.crashed = bike_crashed(bike);
    if (kind == SLOT_REPLAY) {
      const HistoryRing& ring = history_rings[slot];
      entrant.newest_state_tick = ring.entries[ring.head].tick;
    }
    stage_mark(STAGE_GATE_PROGRESS);
  }
  roost_particles_move(&track_terrain);
  stage_mark(STAGE_EROSION);

  gate_motion();

  const int32_t before = sim_tick;
  sim_tick++;
  if (session.connected && before % 512 == 510) race_order_update(race_context());

  stage_mark(STAGE_OTHER);
  if (demo_recording()) demo_record_step(sim_tick, false);
  if (demo_playing()) demo_read_ahead(&sim_tick);
  if (session.time_trial) time_trial_step(rider_laps, ghost_laps);
  game.sim_tick = uint32_t(sim_tick);
  stage_mark(STAGE_DEMO);
}

void session_settle_bikes() {
  if (!track_terrain.grid_size) return;
  const float first[3] = {0, 0.125f, 0}, lift[3] = {0, 0.25f, 0}, lower[3] = {0, -0.125f, 0};
  for (int slot = 0; slot < SLOT_COUNT; slot++) {
    Bike* bike = slot_bike(slot);
    if (!bike) continue;
    // A wheel buried in raised ground touches no triangle from inside, so its lowest point is
    // compared with the ground under its centre instead.
    auto below = [](const WheelState& w) {
      const dReal* p = dBodyGetPosition(w.body);
      return p[1] - (w.ring_radius + w.tread_radius) < terrain_height_at(&track_terrain, float(p[0]), float(p[2]));
    };
    auto touches = [&] { return below(bike->front) || below(bike->rear); };
    bike_translate(bike, first);
    for (int i = 0; i < SETTLE_LIFTS_MAX && touches(); i++) bike_translate(bike, lift);
    bike_translate(bike, lower);
  }
}
