// Races of 1 to 160 robots from the start gate of the default track: steps per second, the
// real-time factor, where the step's time goes, and our cost per bike against the floor: the
// race's own bodies, joints and contacts at one step of every simulated second, stepped again
// by bare world steps.
#include <sys/resource.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <ode/ode.h>

#include "core/constants.h"
#include "core/command_line.h"
#include "core/game.h"
#include "core/session.h"
#include "core/session_replay.h"
#include "core/tick.h"
#include "files/vfs.h"
#include "physics/bike.h"
#include "physics/world.h"
#include "replay/demo.h"
#include "tools/bench/bench.h"
#include "tools/bench/cpu_clock.h"
#include "tools/bench/floor.h"
#include "tools/sim/headless.h"

namespace {

constexpr double DEFAULT_SECONDS = 30;
constexpr int AFTER_START_TICKS = 2 * TICKS_PER_SECOND;  // the gate has fallen, the field moves
constexpr int FLOOR_REPEATS = 8;  // bare steps timed per sample

double peak_rss_mib() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_maxrss) / 1024.0;
}

// The physics library's messages (a constraint solver that gave up on an island) in the race.
int solver_messages = 0;
void count_solver_message(int, const char*, va_list) { solver_messages++; }

// Robots ride the racing lines found in the home directory and a reset saves what they learnt
// there, so figures would follow every earlier run (and every other tool's rides) on this
// machine. The run gets a fresh home of its own, searched before the game data, and the race
// count after it; "" when none can be made.
std::string scratch_home_enter() {
  char pattern[] = "/tmp/skorvan-bench-XXXXXX";
  if (!mkdtemp(pattern)) return {};
  std::vector<std::string> dirs = {pattern};
  for (int i = 1; vfs_search_dir(i); i++) dirs.push_back(vfs_search_dir(i));
  std::vector<const char*> names;
  for (const std::string& dir : dirs) names.push_back(dir.c_str());
  vfs_set_search_dirs(names.data(), int(names.size()));
  return pattern;
}

// The demo every race is recorded to, in the scratch home; "" when races are not recorded.
std::string record_path;

// A race of robots from the gate, run on until the gate has fallen and the field moves.
bool race_start(int bikes) {
  int lineup[SLOT_COUNT] = {};
  for (int i = 0; i < bikes; i++) lineup[i] = LINEUP_ROBOT;
  sim_tick = 0;  // the same shuffle and start time on every run
  const bool record = !record_path.empty();
  session_set_record_file(record ? record_path.c_str() : nullptr);
  if (!session_reset(lineup, false, record, 0, 3, 1)) {
    fprintf(stderr, "skorvan-bench: can't load the default track\n");
    return false;
  }
  if (record && !demo_recording()) {
    fprintf(stderr, "skorvan-bench: can't write '%s'\n", record_path.c_str());
    return false;
  }
  while (sim_tick < race_start_tick + AFTER_START_TICKS) session_step();
  return true;
}

// Every body's position, rotation and velocities: two runs of one race must agree bit for bit.
std::vector<dReal> bodies_state() {
  std::vector<dReal> state;
  for (const Bike* bike : game.slot_bike) {
    if (!bike) continue;
    for (dBodyID body : bike->bodies) {
      for (const dReal* v : {dBodyGetPosition(body), dBodyGetLinearVel(body), dBodyGetAngularVel(body)}) {
        state.insert(state.end(), v, v + 3);
      }
      const dReal* q = dBodyGetQuaternion(body);
      state.insert(state.end(), q, q + 4);
    }
  }
  return state;
}

// Per-stage time per step and bikes touching, for every simulated second of a timed race.
struct RaceSecond {
  double stage_us[STAGE_COUNT];
  double touching;
};

// One row per simulated second: bike count, second, each stage's microseconds per step, bikes
// touching another bike.
void write_profile(FILE* out, int bikes, const std::vector<RaceSecond>& by_second) {
  for (size_t i = 0; i < by_second.size(); i++) {
    fprintf(out, "%d,%zu", bikes, i + 1);
    for (double us : by_second[i].stage_us) fprintf(out, ",%.1f", us);
    fprintf(out, ",%.1f\n", by_second[i].touching);
  }
}

bool run_race(int bikes, double seconds, FILE* profile) {
  if (!race_start(bikes)) return false;
  session_profile = {};
  session_profile.enabled = true;
  solver_messages = 0;
  dSetMessageHandler(count_solver_message);
  ContactLog counter = {nullptr, 0, 0};
  physics_contact_log = &counter;
  const int steps = int(seconds * TICKS_PER_SECOND);
  // Per simulated second: stage times and bikes touching another bike, so the cost of the field
  // bunched up after the start shows against the spread-out race.
  std::vector<RaceSecond> by_second;
  by_second.reserve(size_t(seconds) + 1);
  SessionProfile before = session_profile;
  double touching = 0;
  const double start = bench_cpu_seconds();
  for (int s = 0; s < steps; s++) {
    session_step();
    for (Bike* bike : game.slot_bike) touching += bike && bike->last_bike_contact_tick == sim_tick - 1;
    if ((s + 1) % TICKS_PER_SECOND == 0 || s + 1 == steps) {
      const int in_second = s % TICKS_PER_SECOND + 1;
      RaceSecond second;
      for (int stage = 0; stage < STAGE_COUNT; stage++) {
        second.stage_us[stage] = (session_profile.seconds[stage] - before.seconds[stage]) / in_second * 1e6;
      }
      second.touching = touching / in_second;
      by_second.push_back(second);
      before = session_profile;
      touching = 0;
    }
  }
  const double spent = bench_cpu_seconds() - start;
  session_profile.enabled = false;
  physics_contact_log = nullptr;
  const int contacts = counter.count;
  const int race_messages = solver_messages;
  const std::vector<dReal> raced = bodies_state();

  // The floor: the same race once more, sampled once per simulated second half-way through it.
  // Each sample forks a copy of the process, after which the race's pages fault on their next
  // write, so the timed race above runs without samples and this run only checks it is the
  // same race.
  if (!race_start(bikes)) return false;
  FloorSamples floor;
  floor_sampling_start(&floor, TICKS_PER_SECOND, FLOOR_REPEATS);
  for (int s = 0; s < steps; s++) session_step();
  floor_sampling_stop();
  dSetMessageHandler(nullptr);
  const bool same_race = bodies_state() == raced;

  const double ours = spent / (double(steps) * bikes) * 1e6;
  const double floor_us = floor_step_seconds(floor) / bikes * 1e6;
  printf("bikes=%d steps_per_s=%.1f realtime=%.2f us_per_bike_step=%.2f floor_us_per_bike_step=%.2f ratio=%.2f "
         "peak_rss_mib=%.1f\n",
         bikes, steps / spent, steps * SIM_STEP / spent, ours, floor_us, floor_us > 0 ? ours / floor_us : 0,
         peak_rss_mib());
  double total = 0;
  for (double s : session_profile.seconds) total += s;
  for (int stage = 0; stage < STAGE_COUNT; stage++) {
    const double share = total > 0 ? session_profile.seconds[stage] / total : 0;
    printf("  stage=%s share=%.1f%% us_per_step=%.1f\n", session_stage_name(stage), 100 * share,
           session_profile.seconds[stage] / steps * 1e6);
  }
  printf("  floor_samples=%d floor_failed=%d floor_race_identical=%s solver_messages_race=%d solver_messages_floor=%d\n",
         floor.samples, floor.failed, same_race ? "yes" : "no", race_messages, floor.solver_messages);
  // What the bikes touching each other add to the floor: the floor with those contacts left out.
  printf("  floor_apart_us_per_bike_step=%.2f\n", floor_apart_step_seconds(floor) / bikes * 1e6);
  printf("  contacts_per_bike_step=%.2f\n", double(contacts) / (double(steps) * bikes));
  printf("  world_step_us_per_step_by_second=");
  for (size_t i = 0; i < by_second.size(); i++) printf("%s%.0f", i ? "," : "", by_second[i].stage_us[STAGE_WORLD_STEP]);
  printf("\n  bikes_touching_by_second=");
  for (size_t i = 0; i < by_second.size(); i++) printf("%s%.1f", i ? "," : "", by_second[i].touching);
  printf("\n");
  fflush(stdout);
  if (profile) write_profile(profile, bikes, by_second);
  return true;
}

}  // namespace

int bench_race(int argc, char** argv) {
  double seconds = DEFAULT_SECONDS;
  std::vector<int> counts;
  const char* profile_path = nullptr;
  bool record = false;
  for (int i = 0; i < argc; i++) {
    if (!strcmp(argv[i], "--seconds") && i + 1 < argc) {
      seconds = atof(argv[++i]);
    } else if (!strcmp(argv[i], "--profile") && i + 1 < argc) {
      profile_path = argv[++i];
    } else if (!strcmp(argv[i], "--record")) {
      record = true;
    } else if (atoi(argv[i]) >= 1 && atoi(argv[i]) <= SLOT_COUNT) {
      counts.push_back(atoi(argv[i]));
    } else {
      fprintf(stderr, "usage: skorvan-bench race [--seconds S] [--profile FILE] [--record] [BIKES...]\n");
      return 1;
    }
  }
  FILE* profile = nullptr;
  if (profile_path) {
    if (!(profile = fopen(profile_path, "w"))) {
      perror(profile_path);
      return 1;
    }
    fprintf(profile, "bikes,second");
    for (int stage = 0; stage < STAGE_COUNT; stage++) fprintf(profile, ",%s_us_per_step", session_stage_name(stage));
    fprintf(profile, ",bikes_touching\n");
  }
  if (counts.empty()) counts = {1, 10, 40, 160};
  if (!(seconds > 0)) seconds = DEFAULT_SECONDS;
  const std::string home = scratch_home_enter();
  if (home.empty()) {
    perror("skorvan-bench: can't make a scratch home");
    if (profile) fclose(profile);
    return 1;
  }
  if (record) record_path = home + "/race.skdemo";
  headless_prepare("rabbithill");
  // Without learning every race starts from the data set's lines, so a race gives the same
  // figures whichever races ran before it.
  start_options.learn = false;
  bool ok = true;
  for (int bikes : counts) {
    if (!(ok = run_race(bikes, seconds, profile))) break;
  }
  if (profile && fclose(profile) != 0) {
    perror(profile_path);
    ok = false;
  }
  session_demos_close();
  headless_finish();
  std::error_code ignored;
  std::filesystem::remove_all(home, ignored);
  return ok ? 0 : 1;
}
