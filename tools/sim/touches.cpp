// Bikes touching each other in a headless run: pairs by what their riders were doing and where,
// and the world-step islands they form, printed per simulated second.
#include "tools/sim/touches.h"

#include <ode/ode.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>
#include <vector>

#include "core/constants.h"
#include "core/game.h"
#include "core/session.h"
#include "core/tick.h"
#include "physics/bike.h"
#include "physics/world.h"
#include "race/race.h"
#include "robots/autopilot.h"

namespace {

// Bikes touching each other: every step the contact joints between two bikes are gathered into
// pairs; a pair is counted by what its bikes were doing (down, recovering, side by side or one
// behind the other) and where (the gate index of the pair's rear bike). Bikes joined by
// contacts form one island of the world step, whose cost grows with the cube of its size, so
// the sum of island sizes cubed shows what the touching costs.
struct TouchCounter {
  static constexpr int LOG_CAPACITY = SLOT_COUNT * 64;
  static constexpr int GATES = 64;
  ContactRecord records[LOG_CAPACITY];
  ContactLog log{records, LOG_CAPACITY, 0};
  std::vector<std::pair<dBodyID, int>> body_slot;  // sorted by body
  // Per second and in total: pair-steps by kind, bike-steps touching, sum of island sizes cubed.
  enum { AT_GATE, CRASHED, RECOVERING, SIDE_BY_SIDE, BEHIND, KINDS };
  double second[KINDS] = {}, total[KINDS] = {};
  double touching_second = 0, cube_second = 0, closing_second = 0;
  int largest_second = 0;
  double by_gate[GATES][KINDS] = {};
};

TouchCounter touch_counter;

int touch_slot(dBodyID body) {
  const auto& v = touch_counter.body_slot;
  auto it = std::lower_bound(v.begin(), v.end(), std::pair<dBodyID, int>{body, -1});
  return it != v.end() && it->first == body ? it->second : -1;
}

int touch_root(int* parent, int i) {
  while (parent[i] != i) i = parent[i] = parent[parent[i]];
  return i;
}

}  // namespace

void touches_begin() {
  TouchCounter& t = touch_counter;
  t.body_slot.clear();
  for (int s = 0; s < SLOT_COUNT; s++) {
    if (const Bike* bike = game.slot_bike[s])
      for (dBodyID body : bike->bodies) t.body_slot.push_back({body, s});
  }
  std::sort(t.body_slot.begin(), t.body_slot.end());
  physics_contact_log = &t.log;
}

// After a step: counts the pairs of the contacts logged during it.
void touches_after_step() {
  TouchCounter& t = touch_counter;
  const int kept = std::min(t.log.count, t.log.capacity);
  t.log.count = 0;
  std::vector<std::pair<int, int>> pairs;
  for (int i = 0; i < kept; i++) {
    const int a = touch_slot(t.records[i].b1), b = touch_slot(t.records[i].b2);
    if (a < 0 || b < 0 || a == b) continue;
    pairs.push_back({std::min(a, b), std::max(a, b)});
  }
  std::sort(pairs.begin(), pairs.end());
  pairs.erase(std::unique(pairs.begin(), pairs.end()), pairs.end());
  int parent[SLOT_COUNT], size[SLOT_COUNT] = {};
  bool touching[SLOT_COUNT] = {};
  for (int i = 0; i < SLOT_COUNT; i++) parent[i] = i;
  const bool before_start = sim_tick <= race_start_tick;
  for (auto [a, b] : pairs) {
    touching[a] = touching[b] = true;
    parent[touch_root(parent, a)] = touch_root(parent, b);
    const Bike* ba = game.slot_bike[a];
    const Bike* bb = game.slot_bike[b];
    const dReal* pa = dBodyGetPosition(ba->bodies[BODY_FRAME]);
    const dReal* pb = dBodyGetPosition(bb->bodies[BODY_FRAME]);
    const dReal* va = dBodyGetLinearVel(ba->bodies[BODY_FRAME]);
    const dReal* vb = dBodyGetLinearVel(bb->bodies[BODY_FRAME]);
    // Along the pair's mean direction of travel, how far b is ahead of a.
    double dx = va[0] + vb[0], dz = va[2] + vb[2];
    const double len = std::hypot(dx, dz);
    const double along = len > 0 ? ((pb[0] - pa[0]) * dx + (pb[2] - pa[2]) * dz) / len : 0;
    const int rear = along >= 0 ? a : b;
    const int gate = std::clamp(race_entrants[rear].timing.gate_index, 0, TouchCounter::GATES - 1);
    int kind;
    if (before_start)
      kind = TouchCounter::AT_GATE;
    else if (bike_crashed(ba) || bike_crashed(bb))
      kind = TouchCounter::CRASHED;
    else if (autopilots[a].ap_mode != 0 || autopilots[b].ap_mode != 0)
      kind = TouchCounter::RECOVERING;
    else
      kind = std::fabs(along) < 3 ? TouchCounter::SIDE_BY_SIDE : TouchCounter::BEHIND;
    t.second[kind]++;
    t.total[kind]++;
    t.by_gate[gate][kind]++;
    // Closing speed: how fast the rear bike runs into the one ahead.
    const double closing = len > 0 ? std::fabs(((va[0] - vb[0]) * dx + (va[2] - vb[2]) * dz) / len) : 0;
    t.closing_second += closing;
  }
  for (int i = 0; i < SLOT_COUNT; i++) {
    if (touching[i]) {
      t.touching_second++;
      size[touch_root(parent, i)]++;
    }
  }
  for (int i = 0; i < SLOT_COUNT; i++) {
    if (size[i] > 0) t.cube_second += double(size[i]) * size[i] * size[i];
    t.largest_second = std::max(t.largest_second, size[i]);
  }
  if (sim_tick % TICKS_PER_SECOND == 0) {
    const double n = TICKS_PER_SECOND;
    double pair_steps = 0;
    for (double k : t.second) pair_steps += k;
    printf("touch t %6.1f race %6.1f bikes %5.1f pairs %5.1f gate %5.1f down %5.1f recover %5.1f side %5.1f "
           "behind %5.1f closing %5.2f ft/s island3 %8.0f largest %d\n",
           sim_tick * SIM_STEP, (sim_tick - race_start_tick) * SIM_STEP, t.touching_second / n, pair_steps / n,
           t.second[0] / n, t.second[1] / n, t.second[2] / n, t.second[3] / n, t.second[4] / n,
           pair_steps > 0 ? t.closing_second / pair_steps : 0.0, t.cube_second / n, t.largest_second);
    for (double& k : t.second) k = 0;
    t.touching_second = t.cube_second = t.closing_second = 0;
    t.largest_second = 0;
  }
}

void touches_end() {
  TouchCounter& t = touch_counter;
  physics_contact_log = nullptr;
  const double n = TICKS_PER_SECOND;
  printf("touch pair-seconds: gate %.1f down %.1f recover %.1f side %.1f behind %.1f\n", t.total[0] / n,
         t.total[1] / n, t.total[2] / n, t.total[3] / n, t.total[4] / n);
  for (int g = 0; g < TouchCounter::GATES; g++) {
    double sum = 0;
    for (double k : t.by_gate[g]) sum += k;
    if (sum > 0)
      printf("touch at gate index %2d: pair-seconds %7.1f (gate %.1f down %.1f recover %.1f side %.1f behind %.1f)\n",
             g, sum / n, t.by_gate[g][0] / n, t.by_gate[g][1] / n, t.by_gate[g][2] / n, t.by_gate[g][3] / n,
             t.by_gate[g][4] / n);
  }
}
