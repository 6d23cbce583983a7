// skorvan-sim: loads a track through the game's own session code, puts a lineup on the start
// gate, runs the session step as fast as it can and prints what every rider did. It records the
// race as a demo, or plays a demo back and prints the riders as the playback sees them. With
// --connect it joins a game server instead and runs the game's own step loop in real time,
// printing the connection states it went through, the riders it saw and the traffic.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <ode/ode.h>

#include "core/command_line.h"
#include "core/console.h"
#include "core/game.h"
#include "core/net_session.h"
#include "core/session.h"
#include "core/session_replay.h"
#include "core/settings.h"
#include "core/tick.h"
#include "core/track_load.h"
#include "files/memory.h"
#include "files/vfs.h"
#include "net/net.h"
#include "physics/bike.h"
#include "physics/erosion.h"
#include "physics/roost.h"
#include "physics/steering.h"
#include "physics/world.h"
#include "race/race.h"
#include "replay/demo.h"
#include "robots/autopilot.h"
#include "robots/lines.h"
#include "tools/sim/headless.h"
#include "tools/sim/knock.h"
#include "tools/sim/series_run.h"
#include "tools/sim/touches.h"

namespace {

int line_count() {
  int count = 0;
  for (const RacingLine& line : line_table.slots) count += line.count > 0;
  return count;
}

struct SimOptions {
  const char* track = "rabbithill";
  int robots = 1;
  bool human = false;
  int laps = 3;
  double minutes = 0;
  double seconds = 20;
  unsigned seed = 0;
  double erode = 0;
  bool practice = false;
  bool learn = true;
  int skill = 1;  // the lines file robots race on: 0 novice, 1 amateur, 2 expert
  const char* record = nullptr;  // demo file to write
  const char* play = nullptr;    // demo file to play
  const char* connect = nullptr;  // "host[:port]"
  bool robot = false;             // online, the own rider is driven by the auto pilot
  const char* password = "";
  int trace = -1;  // slot whose robot state is printed every 0.25 s
  bool touches = false;  // print which bikes touch each other, where and why, per second
  double knock_seconds = -1;  // race time at which slot 0 is knocked sideways; < 0 none
  double knock_feet = 30;     // how far, positive to the rider's right
  int sweep_moments = 0;      // knock sweep: moments through the first lap, and seeds
  int sweep_seeds = 0;
  int series = -1;  // points series to run, by its place in the series list
};

void usage() {
  fprintf(stderr,
          "usage: skorvan-sim [--track NAME] [--robots N] [--human] [--laps N] [--minutes M]\n"
          "                   [--seconds S] [--seed N] [--erode RATE] [--practice] [--learn|--nolearn]\n"
          "                   [--skill novice|amateur|expert] [--record FILE | --play FILE] [--debug]\n"
          "                   [--trace SLOT] [--touches] [--knock SECONDS FEET]\n"
          "       skorvan-sim --knock-sweep MOMENTS SEEDS FEET [--robots N] [--skill S] [--nolearn]\n"
          "       skorvan-sim --connect HOST[:PORT] [--password P] [--track NAME] [--seconds S] [--robot]\n"
          "       skorvan-sim --series N [--seconds S] [--nolearn]\n");
}

bool parse(int argc, char** argv, SimOptions* o) {
  for (int i = 1; i < argc; i++) {
    const char* a = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    auto need = [&]() {
      if (!value) fprintf(stderr, "%s needs a value\n", a);
      i++;
      return value != nullptr;
    };
    if (!strcmp(a, "--track")) {
      if (!need()) return false;
      o->track = value;
    } else if (!strcmp(a, "--robots")) {
      if (!need()) return false;
      o->robots = atoi(value);
    } else if (!strcmp(a, "--laps")) {
      if (!need()) return false;
      o->laps = atoi(value);
    } else if (!strcmp(a, "--minutes")) {
      if (!need()) return false;
      o->minutes = atof(value);
    } else if (!strcmp(a, "--seconds")) {
      if (!need()) return false;
      o->seconds = atof(value);
    } else if (!strcmp(a, "--seed")) {
      if (!need()) return false;
      o->seed = unsigned(strtoul(value, nullptr, 10));
    } else if (!strcmp(a, "--erode")) {
      if (!need()) return false;
      o->erode = atof(value);
    } else if (!strcmp(a, "--skill")) {
      if (!need()) return false;
      const char* names[] = {"novice", "amateur", "expert"};
      o->skill = -1;
      for (int k = 0; k < 3; k++) {
        if (!strcmp(value, names[k])) o->skill = k;
      }
      if (o->skill < 0) {
        fprintf(stderr, "--skill must be novice, amateur or expert\n");
        return false;
      }
    } else if (!strcmp(a, "--record")) {
      if (!need()) return false;
      o->record = value;
    } else if (!strcmp(a, "--play")) {
      if (!need()) return false;
      o->play = value;
    } else if (!strcmp(a, "--connect")) {
      if (!need()) return false;
      o->connect = strncmp(value, "skorvan:", 8) == 0 ? value + 8 : value;
    } else if (!strcmp(a, "--robot")) {
      o->robot = true;
    } else if (!strcmp(a, "--password")) {
      if (!need()) return false;
      o->password = value;
    } else if (!strcmp(a, "--trace")) {
      if (!need()) return false;
      o->trace = atoi(value);
    } else if (!strcmp(a, "--touches")) {
      o->touches = true;
    } else if (!strcmp(a, "--knock") || !strcmp(a, "--knock-sweep")) {
      const bool sweep = !strcmp(a, "--knock-sweep");
      const int n = sweep ? 3 : 2;
      if (i + n >= argc) {
        fprintf(stderr, "%s needs %d values\n", a, n);
        return false;
      }
      if (sweep) {
        o->sweep_moments = atoi(argv[++i]);
        o->sweep_seeds = atoi(argv[++i]);
        if (o->sweep_moments < 1 || o->sweep_seeds < 1) {
          fprintf(stderr, "--knock-sweep needs at least one moment and one seed\n");
          return false;
        }
      } else {
        o->knock_seconds = atof(argv[++i]);
      }
      o->knock_feet = atof(argv[++i]);
    } else if (!strcmp(a, "--series")) {
      if (!need()) return false;
      o->series = atoi(value);
    } else if (!strcmp(a, "--human")) {
      o->human = true;
    } else if (!strcmp(a, "--practice")) {
      o->practice = true;
    } else if (!strcmp(a, "--learn")) {
      o->learn = true;
    } else if (!strcmp(a, "--nolearn")) {
      o->learn = false;
    } else if (!strcmp(a, "--debug")) {
      debug_level = 1;
    } else {
      usage();
      return false;
    }
  }
  if (o->record && o->play) {
    fprintf(stderr, "--record and --play do not go together\n");
    return false;
  }
  const int riders = o->robots + (o->human ? 1 : 0);
  if (o->robots < 0 || riders < 1 || riders > SLOT_COUNT || o->laps < 0 || o->minutes < 0 || o->seconds <= 0) {
    fprintf(stderr, "riders must be 1 to %d, laps, minutes and seconds not negative\n", SLOT_COUNT);
    return false;
  }
  return true;
}

const char* kind_name(SlotKind kind) {
  switch (kind) {
    case SLOT_LOCAL: return "human";
    case SLOT_ROBOT: return "robot";
    default: return "replay";
  }
}

const char* state_name(int state) {
  switch (state) {
    case NET_CONTACTING: return "contacting";
    case NET_SENDING_INFO: return "sending client info";
    case NET_ACK_TRACK: return "acknowledging track";
    case NET_ACK_BIKES: return "acknowledging bikes";
    case NET_READY: return "ready";
    case NET_CONNECTED: return "connected";
    case NET_RESTARTING: return "restarting";
    case NET_LEAVING: return "leaving";
    default: return "?";
  }
}

int no_events(void*, int*, int*, int32_t, int32_t) { return 0; }

// Joins the server with the player idle in its slot (or ridden by the auto pilot) and runs the game's step loop in real time
// (frame pacing follows the server's clock) for the given seconds or until the connection ends.
int run_connected(const SimOptions& o) {
  int lineup[SLOT_COUNT] = {LINEUP_PLAYER};
  if (!session_reset(lineup, false, false, 0, o.laps, 1)) {
    fprintf(stderr, "can't load track '%s'\n", o.track);
    return 1;
  }
  net_client_init(net_client);
  net_session_attach(net_client);
  game_hooks.session_step = session_step;
  game_hooks.net_poll = [] { net_session_poll(net_client); };
  net_session_connect(net_client, o.connect, o.password, 0, 0);
  game.menu_page = MENU_NONE;
  const PacingClock clock = pacing_real_clock();
  const double start = clock.now(clock.context);
  frame_pacer_start(&game.pacer, start);
  int state = -1;
  bool seen[SLOT_COUNT] = {};
  double connected_at = -1;
  uint64_t sent_at_connect = 0, sent_bytes_at_connect = 0, received_at_connect = 0, received_bytes_at_connect = 0;
  int steps = 0;
  while (net_client.target[0] && clock.now(clock.context) - start < o.seconds) {
    game_update_view_mode();
    PacingInputs inputs;
    inputs.connected = game.net.connected;
    inputs.server_tick = game.net.server_tick;
    inputs.sim_tick = game.sim_tick;
    inputs.race_started = game.race_started;
    const double advance = frame_pace(&game.pacer, clock, inputs);
    steps += game_run_steps(game.pacer.frame_clock, advance, EventSource{no_events, nullptr});
    // Every race the server starts gives the player a new bike; with --robot the auto pilot
    // takes it over.
    Bike* own = session.connected && session.own_slot >= 0 ? game.slot_bike[session.own_slot] : nullptr;
    if (o.robot && own && game.slot_kind[session.own_slot] == SLOT_LOCAL && !bike_is_robot(own)) {
      autopilot_set_personality(own, "rook");
    }
    const double t = clock.now(clock.context) - start;
    if (net_client.state != state && net_client.target[0]) {
      state = net_client.state;
      printf("%8.3f s  state %d %s\n", t, state, state_name(state));
      if (state == NET_CONNECTED && connected_at < 0) {
        connected_at = t;
        sent_at_connect = net_client.sent_datagrams;
        sent_bytes_at_connect = net_client.sent_bytes;
        received_at_connect = net_client.received_datagrams;
        received_bytes_at_connect = net_client.received_bytes;
      }
    }
    for (int s = 0; s < SLOT_COUNT; s++) {
      const Bike* bike = game.slot_bike[s];
      if (seen[s] || !bike || game.slot_kind[s] != SLOT_REPLAY || !session.connected) continue;
      seen[s] = true;
      printf("%8.3f s  rider in slot %d: \"%s\" number %s on %s\n", t, s, session.player_name[s], bike->number,
             bike->info.name);
    }
  }
  const double t = clock.now(clock.context) - start;
  printf("track %s, sim tick %d, server tick %d, race slot %d, %d steps in %.3f s\n", track_current, sim_tick,
         net_client.newest_server_tick, session.race_slot == NO_RACE_SLOT ? -1 : session.race_slot, steps, t);
  const Bike* own = session.own_slot >= 0 ? game.slot_bike[session.own_slot] : nullptr;
  if (own) {
    const dReal* p = dBodyGetPosition(own->bodies[BODY_FRAME]);
    printf("own rider (%s) at %.2f %.2f %.2f, %d gates passed\n", bike_is_robot(own) ? "auto pilot" : "idle", p[0],
           p[1], p[2], gates_passed(race_entrants[session.own_slot].timing));
  }
  for (int s = 0; s < SLOT_COUNT; s++) {
    const Bike* bike = game.slot_bike[s];
    if (!bike || game.slot_kind[s] != SLOT_REPLAY || !session.connected) continue;
    const dReal* p = dBodyGetPosition(bike->bodies[BODY_FRAME]);
    printf("slot %-3d \"%s\" at %.2f %.2f %.2f, last state at tick %d\n", s, session.player_name[s], p[0], p[1], p[2],
           net_client.slot_tick[s]);
  }
  if (connected_at >= 0 && t > connected_at) {
    const double span = t - connected_at;
    printf("while connected (%.3f s): sent %.1f datagrams/s, %.0f bytes/s; received %.1f datagrams/s, %.0f bytes/s"
           " (UDP payload)\n",
           span, double(net_client.sent_datagrams - sent_at_connect) / span,
           double(net_client.sent_bytes - sent_bytes_at_connect) / span,
           double(net_client.received_datagrams - received_at_connect) / span,
           double(net_client.received_bytes - received_bytes_at_connect) / span);
  }
  net_leave(net_client);
  net_session_sync(net_client);
  mem_free(net_client.delay_queue);
  net_client.delay_queue = nullptr;
  headless_finish();
  return 0;
}

// How far erosion moved the ground from its loaded heights.
void print_ground_change(const Terrain& t) {
  float deepest = 0, highest = 0;
  long changed = 0;
  const size_t n = size_t(t.grid_size) * size_t(t.grid_size);
  for (size_t k = 0; k < n; k++) {
    const float d = t.heights[k] - t.base_heights[k];
    deepest = std::min(deepest, d);
    highest = std::max(highest, d);
    changed += d != 0;
  }
  printf("ground erosion: deepest change %.4f ft, highest change %.4f ft, %ld of %zu samples changed, %d points "
         "still queued\n",
         deepest, highest, changed, n, erode_queue.count);
}

// One line of a robot's state: where it is, how fast, where it heads and what it does.
void trace_robot(int slot) {
  const Bike* bike = game.slot_bike[slot];
  if (!bike) return;
  const AutoPilot& pilot = autopilots[slot];
  const RiderControls& c = bike->controls;
  const dReal* p = dBodyGetPosition(bike->bodies[BODY_FRAME]);
  float tx = 0, tz = 0, ts = 0;
  if (pilot.path_target >= 0 && pilot.path_target < int32_t(pilot.path.size())) {
    const LinePoint& t = pilot.path[size_t(pilot.path_target)];
    tx = t.x, tz = t.z, ts = t.speed;
  }
  fprintf(stderr,
          "t %7.2f pos %7.1f %6.1f %7.1f v %5.1f roll %5.2f target %4d/%-4zu (%7.1f %7.1f %5.1f) seg %d gate %d mode %d "
          "steer %5.2f thr %4.2f brk %4.2f clutch %4.2f gear %d crash %d\n",
          sim_tick * SIM_STEP, p[0], p[1], p[2], bike_frame_speed(bike), roll_angle(bike), pilot.path_target,
          pilot.path.size(), tx, tz, ts, pilot.path_segment, race_entrants[slot].timing.gate_index, pilot.ap_mode,
          c.steer, c.throttle, c.front_brake, c.clutch, bike->gear, bike->crash_count);
}

// A race of the options' robots from the seed; false when the track does not load.
bool start_race(const SimOptions& o, unsigned seed) {
  int lineup[SLOT_COUNT] = {};
  for (int i = 0; i < o.robots; i++) lineup[i] = LINEUP_ROBOT;
  session_set_demo(nullptr);
  session_set_record_file(nullptr);
  sim_tick = int32_t(seed);  // the session generator is seeded with the clock
  // A fresh track every time: the line table keeps when each line was last picked, and a run
  // must ride as it does in a process of its own.
  session.reload_requested = true;
  return session_reset(lineup, false, false, 0, o.laps, o.skill);
}

double median_of(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : 0.5 * (v[v.size() / 2 - 1] + v[v.size() / 2]);
}

// Knocks the robot in slot 0 sideways at moments spread over its first lap, to both sides, for
// several seeds; each knocked ride is compared with the same seed's ride without a knock. Prints
// one line per knock and a summary: how many came back through their next two gates and
// completed the lap, and the time the knock cost them.
int run_knock_sweep(const SimOptions& o) {
  constexpr double GRACE = 200;  // s beyond the unknocked lap end before a knock counts as lost
  std::vector<double> gate_times, delays;
  int knocks = 0, back = 0, lapped = 0, crashes = 0;
  double worst_gates = 0;
  printf("seed side  knock(s) gate  two gates(s) unknocked(s)  lap delay(s) crashes\n");
  for (int seed = 1; seed <= o.sweep_seeds; seed++) {
    if (!start_race(o, unsigned(seed))) return 1;
    const int32_t start = race_start_tick;
    // The unknocked ride: when it passed each gate and ended its first lap.
    KnockWatch plain;
    plain.knock_tick = start;
    plain.feet = 0;
    const int32_t plain_limit = start + int32_t(1200 * TICKS_PER_SECOND);
    while (sim_tick < plain_limit && !knock_watch_step(plain)) session_step();
    if (plain.lap_tick < 0) {
      printf("seed %d: the unknocked robot did not complete its first lap in 1200 s\n", seed);
      continue;
    }
    const std::vector<int32_t> plain_gates = race_entrants[0].timing.gates;
    const double lap = (plain.lap_tick - start) * SIM_STEP;
    for (int k = 0; k < o.sweep_moments; k++) {
      const double at = 10 + (lap - 20) * (k + 0.5) / o.sweep_moments;
      for (int side = -1; side <= 1; side += 2) {
        if (!start_race(o, unsigned(seed))) return 1;
        KnockWatch w;
        w.knock_tick = start + int32_t(at * TICKS_PER_SECOND);
        w.feet = side * o.knock_feet;
        const int32_t limit = plain.lap_tick + int32_t(GRACE * TICKS_PER_SECOND);
        while (sim_tick < limit && !knock_watch_step(w)) session_step();
        knocks++;
        const int32_t second = w.gates_at_knock + 1;
        const int32_t plain_second =
            second < int32_t(plain_gates.size()) ? plain_gates[size_t(second)] : plain.lap_tick;
        const double plain_gates_s = (plain_second - w.knock_tick) * SIM_STEP;
        const double gates_s = w.two_gates_tick >= 0 ? (w.two_gates_tick - w.knock_tick) * SIM_STEP : -1;
        const double delay = (w.lap_tick - plain.lap_tick) * SIM_STEP;
        const int crashed = game.slot_bike[0]->crash_count - w.crashes_at_knock;
        crashes += crashed;
        if (gates_s >= 0) {
          back++;
          gate_times.push_back(gates_s);
          worst_gates = std::max(worst_gates, gates_s);
        }
        if (w.lap_tick >= 0) {
          lapped++;
          delays.push_back(delay);
        }
        char gates_text[32] = "never", delay_text[32] = "never";
        if (gates_s >= 0) snprintf(gates_text, sizeof gates_text, "%.2f", gates_s);
        if (w.lap_tick >= 0) snprintf(delay_text, sizeof delay_text, "%.2f", delay);
        printf("%-4d %-5s %8.2f %4d  %12s %13.2f  %12s %7d\n", seed, side < 0 ? "left" : "right", at,
               w.gates_at_knock, gates_text, plain_gates_s, delay_text, crashed);
        fflush(stdout);
      }
    }
  }
  double delay_sum = 0, worst_delay = 0;
  for (double d : delays) delay_sum += d, worst_delay = std::max(worst_delay, d);
  printf("knock sweep %g ft, %d knocks: back through two gates %d (median %.2f s, max %.2f s), lap completed %d "
         "(delay median %.2f s, max %.2f s, sum %.1f s), %d crashes\n",
         o.knock_feet, knocks, back, median_of(gate_times), worst_gates, lapped, median_of(delays), worst_delay,
         delay_sum, crashes);
  headless_finish();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  SimOptions o;
  if (!parse(argc, argv, &o)) return 1;
  headless_prepare(o.track);
  start_options.erode_rate = int(o.erode * 1024);
  start_options.practice = o.practice;
  start_options.learn = o.learn;
  session.practice = o.practice;
  if (o.connect) return run_connected(o);
  if (o.sweep_moments > 0) return run_knock_sweep(o);
  if (o.series >= 0) {
    const int code = run_series(o.series, o.seconds);
    headless_finish();
    return code;
  }

  // Playing a demo, every slot takes the next rider of the demo.
  int lineup[SLOT_COUNT] = {};
  int slot = 0;
  if (!o.play) {
    if (o.human) lineup[slot++] = LINEUP_PLAYER;
    for (int i = 0; i < o.robots; i++) lineup[slot++] = LINEUP_ROBOT;
  }
  session_set_demo(o.play);
  session_set_record_file(o.record);
  sim_tick = int32_t(o.seed);  // the session generator is seeded with the clock
  if (!session_reset(lineup, o.play != nullptr, o.record != nullptr, int32_t(o.minutes * 60 * TICKS_PER_SECOND),
                     o.laps, o.skill)) {
    fprintf(stderr, "can't load track '%s'\n", track_current[0] ? track_current : o.track);
    return 1;
  }
  if (o.play && !demo_playing()) return 1;
  if (o.record && !demo_recording()) {
    fprintf(stderr, "can't write '%s'\n", o.record);
    return 1;
  }
  printf("track %s, %d pieces on the start gate, gate drops at %.3f s\n", track_current, session.piece_count,
         race_start_tick * SIM_STEP);
  if (o.play) printf("playing '%s', %d riders\n", o.play, demo_play_header()->rider_count);
  if (!o.play) printf("robot skill %s, %d racing lines\n", LINE_SET_NAMES[o.skill], line_count());
  if (!o.play && o.human) printf("the human rider gets no input here: it stands where it was placed\n");

  const int32_t first_tick = sim_tick;
  int32_t steps = 0;
  KnockWatch knock;
  const auto wall_start = std::chrono::steady_clock::now();
  if (o.play) {
    // To the demo's end, and on until its last states are more than a second old.
    int32_t ended = -1;
    while (ended < 0 || sim_tick < ended + TICKS_PER_SECOND) {
      session_step();
      steps++;
      if (ended < 0 && demo_play_ended()) ended = sim_tick;
    }
  } else {
    const int32_t limit = int32_t(o.seconds * TICKS_PER_SECOND);
    if (o.touches) touches_begin();
    knock.knock_tick = race_start_tick + int32_t(o.knock_seconds * TICKS_PER_SECOND);
    knock.feet = o.knock_feet;
    for (; steps < limit && !race.results_final; steps++) {
      session_step();
      if (o.knock_seconds >= 0) knock_watch_step(knock);
      if (o.trace >= 0 && o.trace < SLOT_COUNT && sim_tick % 32 == 0) trace_robot(o.trace);
      if (o.touches) touches_after_step();
    }
    if (o.touches) touches_end();
  }
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count();
  if (o.record) {
    session_demos_close();
    FILE* file = fopen(o.record, "rb");
    long size = -1;
    if (file && fseek(file, 0, SEEK_END) == 0) size = ftell(file);
    if (file) fclose(file);
    if (size < 0) {
      fprintf(stderr, "can't write '%s'\n", o.record);
      return 1;
    }
    const double minutes = (sim_tick - first_tick) * SIM_STEP / 60;
    printf("recorded '%s': %ld bytes, %.0f bytes per minute\n", o.record, size, minutes > 0 ? size / minutes : 0.0);
  }

  if (knock.knocked) {
    auto since = [&](int32_t tick) { return tick >= 0 ? (tick - knock.knock_tick) * SIM_STEP : -1.0; };
    printf("knocked %g ft at %.2f s after %d gates: two more gates after %.2f s, lap completed after %.2f s "
           "(-1: never), %d crashes since\n",
           knock.feet, o.knock_seconds, knock.gates_at_knock, since(knock.two_gates_tick), since(knock.lap_tick),
           game.slot_bike[0] ? game.slot_bike[0]->crash_count - knock.crashes_at_knock : 0);
  }
  // Classification: the running order (finished riders first by the race's own rules).
  printf("pos slot kind   number bike              pers   laps finished total     crashes x         y         z"
         "         lap times (s)\n");
  std::vector<double> all_laps;
  int finished = 0;
  for (int i = 0; i < race.order_count; i++) {
    const int s = race.order[i].slot;
    const Bike* bike = game.slot_bike[s];
    if (!bike) continue;
    const RiderTiming& timing = race_entrants[s].timing;
    const int32_t gates = gates_passed(timing);
    const int32_t last = gates > 0 ? gate_tick(timing, gates - 1) : -1;
    const int32_t total = last >= 0 ? last - race.start_tick : 0;
    const int32_t laps = laps_completed(timing);
    finished += timing.finished;
    printf("%-3d %-4d %-6s %-6s %-17s %-6s %-4d %-8s %-9s %-7d", i + 1, s, kind_name(game.slot_kind[s]), bike->number,
           bike->info.name, autopilot_personality_name(autopilots[s].personality), laps, timing.finished ? "yes" : "no",
           race_time_text(total).c_str(), bike->crash_count);
    const dReal* p = dBodyGetPosition(bike->bodies[BODY_FRAME]);
    printf(" %-9.3f %-9.3f %-9.3f", p[0], p[1], p[2]);
    for (int32_t lap = 1; lap <= laps; lap++) {
      const double t = lap_time(timing, lap, race.start_tick);
      printf(" %.2f", t);
      all_laps.push_back(t);
    }
    printf("\n");
  }
  std::sort(all_laps.begin(), all_laps.end());
  const double median = all_laps.empty() ? 0 : all_laps.size() % 2 ? all_laps[all_laps.size() / 2]
                                                 : 0.5 * (all_laps[all_laps.size() / 2 - 1] + all_laps[all_laps.size() / 2]);
  printf("classified %d of %d, median lap %.2f s over %zu laps\n", finished, race.order_count, median, all_laps.size());
  if (o.erode > 0) print_ground_change(track_terrain);
  printf("roost frequency %d, %d particles in flight\n", render_params.roost_frequency, roost_pool.active_count);
  const double simulated = (sim_tick - first_tick) * SIM_STEP;
  printf("simulated %.3f s, wall %.3f s, %.1f steps per second\n", simulated, wall,
         wall > 0 ? double(steps) / wall : 0.0);
  headless_finish();
  return 0;
}
