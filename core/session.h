// The race session: the riders of the lineup on the start gate of the loaded track, the start
// gate pieces, the session's random generator, and the step that advances everything by one
// SIM_STEP.
#pragma once

#include <cstdint>
#include <random>

#include "core/constants.h"
#include "core/lineup.h"
#include "race/race.h"
#include "race/timing.h"

struct Bike;

constexpr int ROSTER_SIZE = 80;
struct RosterEntry {
  int number;
  const char* personality;  // auto-pilot personality
  const char* model;
  const char* rider_texture;
  const char* head_texture;
  const char* bike_texture;
  const char* wheels_texture;
};
// The robots by roster position (race numbers 20-99 in order).
const RosterEntry& robot_roster(int position);

// One start gate piece: a track object that stands before the start and falls after it.
struct GatePiece {
  int32_t statue;        // index in the track's statues
  float base[9];         // upright orientation, row-major
  float angle;           // 1 = up, 0 = down
  float speed;           // of the fall, angle units per s
  int32_t last_contact;  // tick a bike last touched it, -1 = never
  // The angle and orientation last given to the statue: while both still hold, turning it
  // again would give the same orientation.
  float shown_angle;
  float shown[9];
};

// Ticks before the start from which robots prepare for it.
constexpr int32_t START_READY_TICK = 640;
// Slot value of "no race slot" (the client only watches).
constexpr int NO_RACE_SLOT = SLOT_COUNT;

struct Session {
  std::mt19937 random;  // seeded by session_reset with sim_tick
  int roster_order[ROSTER_SIZE];  // shuffled roster positions
  int lineup[SLOT_COUNT];         // what each slot was asked for
  const char* personality[SLOT_COUNT];  // robots' auto-pilot personality
  char player_name[SLOT_COUNT][256];
  // Graphics of each slot's rider, as demos name them: rider, head, bike, wheels textures
  // (shared strings; null = the default).
  const char* graphics[SLOT_COUNT][4];
  bool time_trial;
  int32_t start_ready_tick;
  int erosion_rate;  // "--erode" value x 1024; -1 until a server sends one
  bool practice;     // every robot is a "tester"
  bool reload_requested;
  // Connection: offline unless the network client says otherwise.
  bool connected;
  int race_slot;  // the slot the server races this client in; NO_RACE_SLOT = only watching
  int own_slot = -1;  // the slot of this computer's player, -1 = none
  // A race the server starts: the network client sets these and server_start before the
  // reset, which takes track, start tick, erosion and its riders from them and clears the flag.
  bool server_start;
  char server_track[256];
  int32_t server_start_tick;
  int server_erosion_rate;               // -1 = not sent yet
  const RiderDescription* server_riders;  // per slot, as the server described them; null offline
  double grace_seconds;     // after the start before off-pace riders are left out
  double off_pace_factor;   // times the leader's segment time
  int piece_count;
  GatePiece pieces[START_GATE_PIECE_MAX];
  int line_set;  // robot skill whose lines file the line table came from; -1 = none
};
extern Session session;

// u in [0, 1) and r in [0, 1) from the next number of the session generator.
double session_random_u();
double session_random_r();

// Starts a new race (see the reset order in session.cpp). lineup null = a time trial. Returns
// false when the track could not be loaded; the session then has no track.
bool session_reset(const int* lineup, bool playback, bool record, int32_t duration_ticks,
                   int32_t laps, int line_set);
// Frees every bike of the session.
void session_free_bikes();
// Writes what the robots learnt into the lines file of the line set in use and empties the
// line table (a new race, and the end of the program).
void session_remember_lines();
// Creates the rider of the slot's lineup value on the start gate (reset, and the time trial's
// ghost); the slot stays empty when there is nobody to load.
void session_load_slot(int slot);
// The session around the race rules at this tick.
RaceContext session_race_context();
// Advances the session by one SIM_STEP.
void session_step();

// Where gate place p stands: position (x, z) and yaw. Offline slot s stands at place s; in a
// race the server starts, the player stands at its race slot's place.
struct GatePlace {
  float x, z, yaw;
};
GatePlace session_gate_place(int place);

// Lowers a bike onto the ground at (x, z) facing yaw: from the height-field value under it,
// raised by 0.25 ft while any part still touches the ground.
void session_put_down(Bike* bike, float x, float z, float yaw);
// Leaving the editor: every bike is lifted off the edited ground (0.125 ft, then 0.25 ft at a
// time while a wheel's lowest point is still below the ground) and lowered by 0.125 ft.
void session_settle_bikes();

// Where the time of session steps goes, for benchmarks: seconds per stage summed since the
// profile was cleared. Nothing is timed unless enabled.
enum SessionStage {
  STAGE_REPLAY,         // replayed slots posed from their history
  STAGE_CONTACTS,       // ground, object and start gate contacts
  STAGE_BIKE_BIKE,      // bike against bike
  STAGE_WORLD_STEP,     // the physics library's step
  STAGE_POST_STEP,      // each bike's own forces after the step
  STAGE_ROBOTS,         // the auto pilots
  STAGE_GATE_PROGRESS,  // timing gates and race entrants
  STAGE_EROSION,        // ground erosion and roost
  STAGE_DEMO,           // demo recording and playback
  STAGE_OTHER,          // the rest: gate motion, race order
  STAGE_COUNT
};
struct SessionProfile {
  bool enabled;
  double seconds[STAGE_COUNT];
};
extern SessionProfile session_profile;
const char* session_stage_name(int stage);

// The off-pace rule for a rider at its current gates (connected sessions and visibility).
bool session_off_pace(int slot);
// True when the slot's bike is not to be drawn or heard (no bike, or a replayed rider the
// connection or the race leaves out).
bool session_slot_hidden(int slot);

// Recomputes the running order (and, once the race is over, the results) at the current tick.
void session_race_order_update();
