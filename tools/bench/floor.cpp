// Floor samples of a race: a forked copy of the process steps the world's bodies with the step's
// own joints and contacts, putting the bodies back between repeats, and reports its CPU time,
// once as the race has it and once with the contacts between bikes switched off.
#include "tools/bench/floor.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <utility>
#include <vector>

#include <ode/ode.h>

#include "core/constants.h"
#include "core/game.h"
#include "physics/bike.h"
#include "physics/world.h"
#include "tools/bench/cpu_clock.h"

namespace {

FloorSamples* active = nullptr;
constexpr double FLOOR_WARM_SECONDS = 0.002;

// What a bare step changes in a body, to put it back between repeats.
struct BodyState {
  dBodyID body;
  dReal position[3], quaternion[4], velocity[3], spin[3], force[3], torque[3];
};

void copy3(dReal* to, const dReal* from) {
  for (int k = 0; k < 3; k++) to[k] = from[k];
}

void save(std::vector<BodyState>& states) {
  for (Bike* bike : game.slot_bike) {
    if (!bike) continue;
    for (dBodyID body : bike->bodies) {
      BodyState s;
      s.body = body;
      copy3(s.position, dBodyGetPosition(body));
      const dReal* q = dBodyGetQuaternion(body);
      for (int k = 0; k < 4; k++) s.quaternion[k] = q[k];
      copy3(s.velocity, dBodyGetLinearVel(body));
      copy3(s.spin, dBodyGetAngularVel(body));
      copy3(s.force, dBodyGetForce(body));
      copy3(s.torque, dBodyGetTorque(body));
      states.push_back(s);
    }
  }
}

// Within the copy only: setting the quaternion renormalises it, so the last bits may differ.
void restore(const std::vector<BodyState>& states) {
  for (const BodyState& s : states) {
    dBodySetPosition(s.body, s.position[0], s.position[1], s.position[2]);
    dBodySetQuaternion(s.body, s.quaternion);
    dBodySetLinearVel(s.body, s.velocity[0], s.velocity[1], s.velocity[2]);
    dBodySetAngularVel(s.body, s.spin[0], s.spin[1], s.spin[2]);
    dBodySetForce(s.body, s.force[0], s.force[1], s.force[2]);
    dBodySetTorque(s.body, s.torque[0], s.torque[1], s.torque[2]);
  }
}

struct CopyReport {
  double step_seconds;
  double apart_step_seconds;
  int solver_messages;
};

int copy_messages = 0;
void count_message(int, const char*, va_list) { copy_messages++; }

// CPU seconds of one bare step from the saved state: `repeats` steps timed as one run, less a run
// of the restores alone (a clock read around every step costs as much as a lone bike's step on
// some machines).
double timed_step(const std::vector<BodyState>& states, int repeats) {
  double start = bench_cpu_seconds();
  for (int r = 0; r < repeats; r++) {
    restore(states);
    dWorldStep(physics_world, SIM_STEP);
  }
  const double stepped = bench_cpu_seconds() - start;
  start = bench_cpu_seconds();
  for (int r = 0; r < repeats; r++) restore(states);
  const double restored = bench_cpu_seconds() - start;
  return (stepped - restored) / repeats;
}

// Switches off every contact joint between bodies of two different bikes. Those contacts join the
// bikes into one island, whose solve costs more than the two apart.
void part_the_bikes() {
  std::vector<std::pair<dBodyID, int>> owner;  // body, slot; sorted by body
  for (int slot = 0; slot < SLOT_COUNT; slot++) {
    if (!game.slot_bike[slot]) continue;
    for (dBodyID body : game.slot_bike[slot]->bodies) owner.emplace_back(body, slot);
  }
  std::sort(owner.begin(), owner.end());
  const auto slot_of = [&](dBodyID body) {
    const auto at = std::lower_bound(owner.begin(), owner.end(), std::make_pair(body, -1));
    return at != owner.end() && at->first == body ? at->second : -1;
  };
  for (const auto& [body, slot] : owner) {
    for (int i = 0; i < dBodyGetNumJoints(body); i++) {
      const dJointID joint = dBodyGetJoint(body, i);
      if (dJointGetType(joint) != dJointTypeContact) continue;
      const dBodyID a = dJointGetBody(joint, 0), b = dJointGetBody(joint, 1);
      if (a && b && slot_of(a) != slot_of(b)) dJointDisable(joint);
    }
  }
}

// In the copy: untimed warm-up steps, then the timed steps, each from the state the race had,
// first with the step's contacts as they are and then with the bikes parted.
[[noreturn]] void step_copy(int out, int repeats) {
  dSetMessageHandler(count_message);
  std::vector<BodyState> states;
  save(states);
  // A fresh copy runs its first steps far slower than the race's (copy-on-write faults, cold
  // caches), so it steps untimed for a while before it is timed.
  const double warm_until = bench_cpu_seconds() + FLOOR_WARM_SECONDS;
  do {
    restore(states);
    dWorldStep(physics_world, SIM_STEP);
  } while (bench_cpu_seconds() < warm_until);
  const double together = timed_step(states, repeats);
  part_the_bikes();
  const double apart = timed_step(states, repeats);
  const CopyReport report = {together, apart, copy_messages};
  const bool sent = write(out, &report, sizeof report) == ssize_t(sizeof report);
  _exit(sent ? 0 : 1);
}

void take_sample(FloorSamples& samples) {
  int pipe_ends[2];
  if (pipe(pipe_ends) != 0) {
    samples.failed++;
    return;
  }
  const pid_t child = fork();
  if (child == 0) {
    close(pipe_ends[0]);
    step_copy(pipe_ends[1], samples.repeats);
  }
  close(pipe_ends[1]);
  CopyReport report{};
  bool received = false;
  if (child > 0) {
    received = read(pipe_ends[0], &report, sizeof report) == ssize_t(sizeof report);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
  }
  close(pipe_ends[0]);
  if (!received) {
    samples.failed++;
    return;
  }
  samples.samples++;
  samples.step_seconds += report.step_seconds;
  samples.apart_step_seconds += report.apart_step_seconds;
  samples.solver_messages += report.solver_messages;
}

void before_step() {
  FloorSamples& samples = *active;
  const int phase = samples.steps++ % samples.every;
  if (phase == samples.every / 2) take_sample(samples);
}

}  // namespace

void floor_sampling_start(FloorSamples* samples, int every, int repeats) {
  *samples = {};
  samples->every = every > 0 ? every : 1;
  samples->repeats = repeats > 0 ? repeats : 1;
  active = samples;
  physics_before_step = before_step;
}

void floor_sampling_stop() {
  physics_before_step = nullptr;
  active = nullptr;
}

double floor_step_seconds(const FloorSamples& samples) {
  return samples.samples > 0 ? samples.step_seconds / samples.samples : 0;
}

double floor_apart_step_seconds(const FloorSamples& samples) {
  return samples.samples > 0 ? samples.apart_step_seconds / samples.samples : 0;
}
