// The auto pilot: each robot stitches racing lines into its own path and rides it with the
// controls a rider has (lean by counter-steering, throttle, brakes, clutch), with a scripted
// start, following distance behind other bikes and a recovery mode when it gets stuck.
#include <ode/ode.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/console.h"
#include "core/constants.h"
#include "core/game.h"
#include "core/session.h"
#include "core/tick.h"
#include "core/track_load.h"
#include "physics/bike.h"
#include "physics/drivetrain.h"
#include "physics/rider.h"
#include "physics/setup.h"
#include "physics/steering.h"
#include "physics/suspension.h"
#include "platform/vant.h"
#include "race/race.h"
#include "robots/autopilot.h"
#include "robots/lines.h"
#include "track/terrain.h"

namespace {

struct Personality {
  const char* name;
  int type_close;      // line cost type while the race is close
  int type_far_ahead;  // while leading by more than lead_threshold
  float lead_threshold;  // s
  float reaction_min, reaction_max;  // s after the gate drops
};

constexpr Personality PERSONALITIES[PERSONALITY_COUNT] = {
    {"empty", 0, 0, 0, 0, 0},
    {"wren", 0, 0, 1, 0.2f, 0.4f},
    {"rook", 2, 1, 10, 0.2f, 0.4f},
    {"finch", 1, 0, 10, 0, 0.1f},
    {"tester", 3, 3, 1, 0.2f, 0.4f},
};

constexpr double PI = 3.14159265358979323846;
constexpr double GRAVITY = 32;              // ft/s²
constexpr double POINT_SECONDS = 0.25;      // path points are this far apart in time
constexpr double LOOKAHEAD = 60;            // ft, the target stays this far ahead
constexpr double LOOKAHEAD_RECOVERY = 30;   // ft, in recovery mode 3
constexpr int32_t REFILL_POINTS = 10;       // extend when fewer remain ahead of the target
constexpr int32_t KEPT_BEHIND = 30;         // points kept behind the target
constexpr int32_t ROWS_AHEAD = 8;           // segment rows the line choice looks through
constexpr double START_SECONDS = 5;  // s after the gate drops the start sequence may ride the bike until
constexpr double STUCK_SECONDS = 3;
constexpr double DRAG_SECONDS = 19;
constexpr double JUMP_TARGET_SECONDS = 40;
constexpr double DRAG_FORCE = 2000;  // lbf the drag pulls the front wheel with
constexpr double RECOVERY_LEAN_MARGIN = 0.125;  // rad past the recovery's lean limit before it slows
constexpr double RESTING_ON_FOOT_ROLL = 0.35;   // rad: a slow bike leaning more rests on the foot
constexpr double RESTING_ON_FOOT_SPEED = 3;     // ft/s, slow enough for the foot to right the bike
constexpr double RECOVERY_FOLLOW_MIN_SPEED = 5;  // ft/s: slower, a recovering bike has no direction to follow in
constexpr double UPRIGHT_SPEED = 7.5;  // ft/s: slower, the normal controller asks for no lean and puts a foot down
constexpr size_t PATH_RESERVE = 1024;

struct V3 {
  double x, y, z;
};
V3 operator+(V3 a, V3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
V3 operator-(V3 a, V3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
V3 operator*(V3 a, double k) { return {a.x * k, a.y * k, a.z * k}; }
double dot(V3 a, V3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
double length(V3 a) { return std::sqrt(dot(a, a)); }
V3 from(const dReal* p) { return {p[0], p[1], p[2]}; }
V3 at(const LinePoint& p) { return {p.x, p.y, p.z}; }
double horizontal_distance(double ax, double az, double bx, double bz) { return std::hypot(ax - bx, az - bz); }

double clamp01(double v) { return std::clamp(v, 0.0, 1.0); }

const LinePoint& point(const AutoPilot& pilot, int32_t i) {
  const int32_t count = static_cast<int32_t>(pilot.path.size());
  return pilot.path[size_t(std::clamp(i, 0, count - 1))];
}

// A point of the path at a fractional index.
V3 path_at(const AutoPilot& pilot, double index) {
  const int32_t i = static_cast<int32_t>(std::floor(index));
  const double f = index - i;
  return at(point(pilot, i)) * (1 - f) + at(point(pilot, i + 1)) * f;
}

V3 frame_forward(const Bike* bike) {
  const dReal* r = dBodyGetRotation(bike->bodies[BODY_FRAME]);
  return {-r[2], -r[6], -r[10]};
}

// Angular velocity of the frame in its own axes.
V3 frame_spin(const Bike* bike) {
  dVector3 w;
  const dReal* world = dBodyGetAngularVel(bike->bodies[BODY_FRAME]);
  dBodyVectorFromWorld(bike->bodies[BODY_FRAME], world[0], world[1], world[2], w);
  return {w[0], w[1], w[2]};
}

float slip_speed(const WheelState& wheel) {
  return std::sqrt(wheel.slip_velocity[0] * wheel.slip_velocity[0] + wheel.slip_velocity[1] * wheel.slip_velocity[1] +
                   wheel.slip_velocity[2] * wheel.slip_velocity[2]);
}

const RiderTiming& timing_of(const Bike* bike) { return race_entrants[bike->tag].timing; }

// The first airborne stretch (two airborne points in a row) from i0 within 20 points; -1 when
// there is none.
int32_t next_jump(const AutoPilot& pilot, int32_t i0) {
  const int32_t count = static_cast<int32_t>(pilot.path.size());
  const int32_t end = std::min(i0 + 20, count);
  for (int32_t j = std::max(i0, 0); j < end; ++j) {
    if (point(pilot, j).speed < 0 && point(pilot, j + 1).speed < 0) return j;
  }
  return -1;
}

// Keeps the bike on the gate: foot down, clutch out, both brakes, straight bars, second gear.
void hold(Bike* bike) {
  RiderControls& c = bike->controls;
  c.sit_dab = bike_crashed(bike) ? 0 : 1;
  setup_set_option(bike, OPTION_AUTO_SHIFT, false);
  c.clutch = 0;
  c.front_brake = c.rear_brake = 1;
  c.steer = 0;
  gear_set(bike, 1);
}

// The scripted start; true when it drove the bike this step.
bool start_sequence(Bike* bike, AutoPilot& pilot) {
  RiderControls& c = bike->controls;
  const double now = sim_tick * SIM_STEP;
  const double ready = session.start_ready_tick * SIM_STEP;
  const double start = race_start_tick * SIM_STEP;
  const float full = bike_crashed(bike) ? 0.0f : 1.0f;
  if (pilot.start_timer == 0) pilot.start_timer = float(2 * session_random_u());
  if (now < ready) {
    // Blip the engine for 0.25-0.75 s about every 2-2.5 s.
    hold(bike);
    if (pilot.start_timer < 0) {
      c.throttle = full;
      if (now > -pilot.start_timer) pilot.start_timer = float(std::min(now + 2 + 0.5 * session_random_u(), ready));
    } else {
      c.throttle = 0;
      if (now > pilot.start_timer) pilot.start_timer = float(-(now + 0.25 + 0.5 * session_random_u()));
    }
    return true;
  }
  if (pilot.start_timer <= ready) pilot.start_timer = float(ready + 0.125 + 0.375 * session_random_u());
  if (pilot.start_timer < start) {
    if (now < pilot.start_timer) {
      hold(bike);
      c.throttle = 0;
      return true;
    }
    const Personality& p = PERSONALITIES[pilot.personality];
    pilot.start_timer = float(start + p.reaction_min + (p.reaction_max - p.reaction_min) * session_random_u());
  }
  if (now < pilot.start_timer) {
    hold(bike);
    c.throttle = full;
    return true;
  }
  if (now < pilot.start_timer + 2) {
    double clutch = 4 * (now - pilot.start_timer);
    const bool shifting = clutch >= 0.75;
    setup_set_option(bike, OPTION_AUTO_SHIFT, shifting);
    if (shifting)
      clutch = std::min(clutch, 1.0);
    else
      gear_set(bike, 1);
    c.throttle = full;
    c.sit_dab = bike_crashed(bike) ? 0 : float(1 - clutch);
    c.clutch = float(clutch);
    c.front_brake = c.rear_brake = 0;
    c.steer = 0;
    return true;
  }
  return false;
}

// Moves the target on once it is within the lookahead radius, unless the path there runs
// against the bike's heading.
void target_advance(const Bike* bike, AutoPilot& pilot) {
  const int32_t count = static_cast<int32_t>(pilot.path.size());
  if (pilot.path_target < 0 || pilot.path_target >= count) return;
  const dReal* pos = dBodyGetPosition(bike->bodies[BODY_FRAME]);
  const LinePoint& t = pilot.path[size_t(pilot.path_target)];
  const double dx = t.x - pos[0], dz = t.z - pos[2];
  const double d2 = dx * dx + dz * dz;
  const double radius = pilot.ap_mode == 3 ? LOOKAHEAD_RECOVERY : LOOKAHEAD;
  if (d2 >= radius * radius) return;
  if (d2 > 16 && pilot.path_target >= 1) {
    const LinePoint& prev = pilot.path[size_t(pilot.path_target - 1)];
    const double ex = t.x - prev.x, ez = t.z - prev.z;
    const V3 f = frame_forward(bike);
    if (ex * ex + ez * ez > 1 && ex * f.x + ez * f.z < 0) return;
  }
  pilot.path_target++;
  pilot.last_progress_tick = sim_tick;
  if (pilot.path_target >= count) {
    pilot.path.clear();
    pilot.path_target = 0;
  }
  if (pilot.ap_mode > 0) pilot.ap_mode--;
}

// Replaces the points between a and n0 by a cubic curve so the appended line joins the path
// smoothly.
void smooth_junction(const Bike* bike, AutoPilot& pilot, int32_t a, int32_t n0) {
  const int32_t q = n0 - a;
  if (q < 2 || point(pilot, a).speed < 0 || point(pilot, n0).speed < 0) return;
  V3 p = at(point(pilot, a)), t0;
  if (a == 0) {
    p = from(dBodyGetPosition(bike->bodies[BODY_FRAME]));
    t0 = frame_forward(bike) * (7.5 * n0);
  } else {
    t0 = (at(point(pilot, a)) - at(point(pilot, a - 1))) * q;
  }
  const V3 e = at(point(pilot, n0));
  const V3 t1 = (at(point(pilot, n0 + 1)) - e) * q;
  const V3 c2 = (e - p) * 3 - t0 * 2 - t1;
  const V3 c3 = (p - e) * 2 + t0 + t1;
  const float speed_a = point(pilot, a).speed, speed_n = point(pilot, n0).speed;
  const float roll_a = point(pilot, a).roll, roll_n = point(pilot, n0).roll;
  for (int32_t i = a + 1; i < n0; ++i) {
    const double t = double(i - a) / q;
    const V3 v = p + t0 * t + c2 * (t * t) + c3 * (t * t * t);
    LinePoint& out = pilot.path[size_t(i)];
    out.x = float(v.x);
    out.y = float(v.y);
    out.z = float(v.z);
    out.speed = std::min(out.speed, float(speed_a + (speed_n - speed_a) * t));
    out.roll = float(roll_a + (roll_n - roll_a) * t);
  }
}

// The line cost type of this robot now: its type when close, or when far ahead while it leads
// the second rider by more than its threshold.
int line_type(const Bike* bike, const Personality& p) {
  int32_t gap = 0;
  if (race.order_count >= 2 && race.order[0].slot == bike->tag) {
    const int32_t k = race.order[1].gates - 1;
    const int32_t t1 = gate_tick(timing_of(bike), k);
    const int32_t t2 = gate_tick(race_entrants[race.order[1].slot].timing, k);
    if (t1 >= 1 && t2 >= 1 && t2 > t1) gap = t2 - t1;
  }
  return gap * SIM_STEP <= p.lead_threshold ? p.type_close : p.type_far_ahead;
}

// How well a line continues the path: its start on the arc the path is on, at a speed it can
// take.
double line_match(const Bike* bike, const AutoPilot& pilot, const RacingLine& line) {
  if (line.count < 1) return 0;
  const int32_t count = static_cast<int32_t>(pilot.path.size());
  if (count < 3) {
    const double d = length(at(line.points[0]) - from(dBodyGetPosition(bike->bodies[BODY_FRAME])));
    const double k = clamp01((100 - d) / 96);
    return 10 * k * k * k;
  }
  if (line.count < 2) return 0;
  const LinePoint& last = pilot.path[size_t(count - 1)];
  double kx, kz;
  lines_circle_centre(pilot.path[size_t(count - 3)], pilot.path[size_t(count - 2)], last, kx, kz);
  const double r = horizontal_distance(kx, kz, last.x, last.z);
  const double d1 = horizontal_distance(kx, kz, line.points[0].x, line.points[0].z);
  const double d2 = horizontal_distance(kx, kz, line.points[1].x, line.points[1].z);
  const double speed = clamp01((std::fabs(line.points[0].speed) + 15 - std::fabs(last.speed)) / 5);
  const double arc = clamp01((5 - std::fabs(r - d1)) / 3.5) * clamp01((3 - std::fabs(d2 - d1)) / 2);
  return speed * arc * arc * arc;
}

// Appends the best line of the next segment to the robot's path.
void path_extend(Bike* bike, AutoPilot& pilot) {
  if (!line_table.present || lines_row_count() == 0) return;
  const int32_t n = pilot.path_segment;
  const int32_t row = lines_row_of(n);
  if (timing_of(bike).finished) return;
  bool any = false;
  for (int i = 0; i < LINE_SLOTS && !any; ++i) any = lines_slot(row, i).count > 0;
  if (!any) return;

  const Personality& personality = PERSONALITIES[pilot.personality];
  const int type = line_type(bike, personality);
  double best_total[LINE_SLOTS];
  lines_cheapest_totals(row, ROWS_AHEAD, type, best_total);
  double b = LINE_COST_UNREACHABLE;
  for (int i = 0; i < LINE_SLOTS; ++i) b = std::min(b, best_total[i]);
  const double now = sim_tick * SIM_STEP;
  const double plan_weight = clamp01((now - 40) / 20);
  const int32_t planned = type < LINE_PLAN_TYPES && size_t(row) < line_table.plan[type].size()
                              ? line_table.plan[type][size_t(row)]
                              : 0;
  int chosen = 0;
  double chosen_score = 0;
  for (int i = 0; i < LINE_SLOTS; ++i) {
    RacingLine& line = lines_slot(row, i);
    double w = best_total[i] <= 0 ? 1 : b / best_total[i];
    if (planned != 0 && line.line_id == planned) w += (1 - w) * plan_weight;
    if (row == 0) w = 0.2 * w + 0.8;
    const double m = line_match(bike, pilot, line);
    const double since = (sim_tick - line.last_picked) * SIM_STEP;
    const double score = w * clamp01(since / 3) + m;
    if (debug_level != 0)
      vant_log("auto pilot: picking %d score = %f match = %f last_picked = %f\n", i, w, m, since);
    if (score > chosen_score) {
      chosen = i;
      chosen_score = score;
    }
  }

  RacingLine& line = lines_slot(row, chosen);
  line.last_picked = sim_tick;
  if (line.count > 0) {
    const LinePoint& end = line.points[size_t(line.count - 1)];
    for (int i = 0; i < LINE_SLOTS; ++i) {
      RacingLine& other = lines_slot(row, i);
      if (other.count == 0) continue;
      const LinePoint& o = other.points[size_t(other.count - 1)];
      const double dx = o.x - end.x, dy = o.y - end.y, dz = o.z - end.z;
      if (dx * dx + dy * dy + dz * dz < 9) other.last_picked = sim_tick;
    }
  }
  if (line.count == 0) return;

  bike->lines_in_use[n & 3] = line.line_id;
  pilot.path_segment = n + 1;
  if (pilot.path_target > KEPT_BEHIND) {
    const int32_t drop = std::min<int32_t>(pilot.path_target - KEPT_BEHIND, int32_t(pilot.path.size()));
    pilot.path.erase(pilot.path.begin(), pilot.path.begin() + drop);
    pilot.path_target = KEPT_BEHIND;
  }
  if (pilot.path.capacity() < PATH_RESERVE) pilot.path.reserve(PATH_RESERVE);
  if (pilot.path.empty()) pilot.path.insert(pilot.path.end(), 5, line.points[0]);
  const int32_t n0 = static_cast<int32_t>(pilot.path.size());
  const int32_t a = std::max(n0 - 5, pilot.path_target);
  pilot.path.insert(pilot.path.end(), line.points.begin(), line.points.begin() + line.count);
  smooth_junction(bike, pilot, a, n0);

  if (n == 0) {
    const int32_t count = static_cast<int32_t>(pilot.path.size());
    const V3 p0 = at(pilot.path[0]);
    pilot.path_target = count;
    for (int32_t i = 1; i < count; ++i) {
      if (length(at(pilot.path[size_t(i)]) - p0) > 10) {
        pilot.path_target = i;
        break;
      }
    }
    // No stuck test while the field waits at the gate and launches: the time without progress
    // counts from the end of the start. Counted from 30 s of session time instead, a robot that
    // fell at the launch before reaching a point of its path lay in the field's path until then,
    // some 18 s after the gate dropped.
    pilot.last_progress_tick = std::max(sim_tick, race_start_tick) + int32_t(START_SECONDS / SIM_STEP);
  }
}

Footprint footprint(const dReal* pos, V3 back, double speed) {
  return autopilot_footprint(pos[0], pos[2], back.x, back.z, speed);
}

// Distance from a bike's frame to the farthest corner of its footprint (ft).
double footprint_radius(double speed) { return std::hypot(FOOTPRINT_REACH + speed, FOOTPRINT_HALF_WIDTH); }

// Direction against a bike's velocity (backwards), (0, 0, 1) at rest.
V3 back_of(const Bike* bike) {
  const V3 v = from(dBodyGetLinearVel(bike->bodies[BODY_FRAME]));
  const double len = length(v);
  return len > 0 ? v * (-1 / len) : V3{0, 0, 1};
}

// Target speed behind another bike: keep a gap that grows once the field has spread out.
double follow_speed(Bike* bike, double v, double s, double radius, V3 back, const Bike* other) {
  const double tau = std::min((sim_tick - race_start_tick) * SIM_STEP, 100.0);
  const double w = clamp01((tau - 3) / 2) * clamp01((120 - tau) / 100);
  const double gap = 8 * w + 12;
  const V3 own = from(dBodyGetPosition(bike->bodies[BODY_FRAME]));
  const V3 pos = from(dBodyGetPosition(other->bodies[BODY_FRAME]));
  const double d = length(pos - own);
  const V3 centre{own.x + radius * back.z, own.y, own.z - radius * back.x};
  double cx = pos.x - centre.x, cz = pos.z - centre.z;
  const double cl = std::hypot(cx, cz);
  const V3 vel = from(dBodyGetLinearVel(other->bodies[BODY_FRAME]));
  double tx = vel.x, tz = vel.z;
  if (cl > 0) {
    cx /= cl;
    cz /= cl;
    const double radial = tx * cx + tz * cz;
    tx -= radial * cx;
    tz -= radial * cz;
  }
  const double vt = tx * back.x + tz * back.z < 0 ? std::hypot(tx, tz) : 0;
  if (d >= gap && vt < s) {
    const double q = (v - vt) / 5;
    const double g = (v * q - 2.5 * q * q) - (vt * q + d);
    if (g > -gap) {
      const double k = clamp01((g + gap) / 3);
      s += (vt - s) * k;
      std::fill(bike->lines_in_use, bike->lines_in_use + 4, 0);
    }
  }
  if (d < gap) s = std::min(s, (1 - 0.25 * w) * vt);
  return s;
}

// The axis-aligned bounds of a footprint: a cheap test before the exact one.
struct FootprintBox {
  double min_x, max_x, min_z, max_z;
};
FootprintBox footprint_box(const Footprint& f) {
  return {*std::min_element(f.x, f.x + 4), *std::max_element(f.x, f.x + 4), *std::min_element(f.z, f.z + 4),
          *std::max_element(f.z, f.z + 4)};
}
bool boxes_apart(const FootprintBox& a, const FootprintBox& b) {
  return b.max_x <= a.min_x || a.max_x <= b.min_x || b.max_z <= a.min_z || a.max_z <= b.min_z;
}

// Every bike's footprint for this step, sorted by x so a robot looks only at the bikes within
// reach. Bodies do not move while the robots of a step ride, so it is built once per step.
struct FieldBike {
  const Bike* bike;
  int slot;
  double x, z;
  V3 back;
  double speed;
  double radius;  // footprint_radius(speed)
  Footprint f;
  FootprintBox box;
};
FieldBike field[SLOT_COUNT];
double field_xs[SLOT_COUNT];  // field[i].x, for the search
int field_count = 0;
double field_max_radius = 0;
int32_t field_tick = 0;
bool field_valid = false;

void field_build() {
  field_count = 0;
  field_max_radius = 0;
  for (int slot = 0; slot < SLOT_COUNT; ++slot) {
    const Bike* bike = game.slot_bike[slot];
    if (!bike) continue;
    FieldBike& e = field[field_count++];
    const dReal* p = dBodyGetPosition(bike->bodies[BODY_FRAME]);
    e.bike = bike;
    e.slot = slot;
    e.x = p[0];
    e.z = p[2];
    e.back = back_of(bike);
    e.speed = bike_frame_speed(bike);
    e.f = footprint(p, e.back, e.speed);
    e.box = footprint_box(e.f);
    e.radius = footprint_radius(e.speed);
    field_max_radius = std::max(field_max_radius, e.radius);
  }
  // Insertion sort: nothing allocated, and the order changes little from step to step.
  for (int i = 1; i < field_count; ++i) {
    const FieldBike e = field[i];
    int j = i;
    for (; j > 0 && field[j - 1].x > e.x; --j) field[j] = field[j - 1];
    field[j] = e;
  }
  for (int i = 0; i < field_count; ++i) field_xs[i] = field[i].x;
  field_tick = sim_tick;
  field_valid = true;
}

// The nearest other bike ahead whose footprint meets this one's, null when none.
const Bike* bike_ahead(const Bike* bike, V3 back, double speed) {
  if (!field_valid || field_tick != sim_tick) field_build();
  const dReal* pos = dBodyGetPosition(bike->bodies[BODY_FRAME]);
  const Footprint own = footprint(pos, back, speed);
  const double own_radius = footprint_radius(speed);
  const FootprintBox own_box = footprint_box(own);
  const FieldBike* nearest = nullptr;
  double nearest_d2 = 0;
  const double window = own_radius + field_max_radius;
  for (int i = int(std::lower_bound(field_xs, field_xs + field_count, pos[0] - window) - field_xs);
       i < field_count && field_xs[i] <= pos[0] + window; ++i) {
    const FieldBike& other = field[i];
    if (other.bike == bike) continue;
    const double dx = other.x - pos[0], dz = other.z - pos[2];
    const double reach = own_radius + other.radius;
    const double d2 = dx * dx + dz * dz;
    if (d2 > reach * reach) continue;  // footprints this far apart never meet
    if (dx * (back.x + other.back.x) + dz * (back.z + other.back.z) >= 0) continue;  // not ahead
    if (nearest && (d2 > nearest_d2 || (d2 == nearest_d2 && other.slot > nearest->slot))) continue;
    if (boxes_apart(own_box, other.box)) continue;
    if (!autopilot_footprints_meet(own, other.f)) continue;
    nearest = &other;
    nearest_d2 = d2;
  }
  return nearest ? nearest->bike : nullptr;
}

// The steering PD towards a steer angle (rad) of the front wheel, with dead bands so small
// errors leave the bars alone.
double steer_pd(const Bike* bike, double target) {
  const double delta = dJointGetHingeAngle(bike->joints[JOINT_STEERING]);
  const double e = std::clamp(target - delta, -0.25, 0.25);
  constexpr double BAND = 1.0 / 32;
  const double e1 = e > BAND ? (e - BAND) * 8 : e < -BAND ? (e + BAND) * 8 : 0;
  double r = e1 - dJointGetHingeAngleRate(bike->joints[JOINT_STEERING]);
  constexpr double RATE_BAND = 0.00041667;
  r = r > RATE_BAND ? r - RATE_BAND : r < -RATE_BAND ? r + RATE_BAND : 0;
  return std::clamp(r * 0.5, -0.6666667, 0.6666667);
}

// Throttle, brakes and clutch to ride at speed s; in the air, levels the bike for landing.
void speed_control(Bike* bike, double v, double s) {
  RiderControls& c = bike->controls;
  const bool crashed = bike_crashed(bike);
  if (bike->rear.depth <= 0) {
    c.front_brake = c.rear_brake = 0;
    const double pitch = frame_spin(bike).x;
    const double yf = dBodyGetPosition(bike->bodies[BODY_FRONT_WHEEL])[1];
    const double yr = dBodyGetPosition(bike->bodies[BODY_REAR_WHEEL])[1];
    if ((yr <= yf || pitch >= 0) && pitch >= -PI / 4) {
      c.throttle = 0;
      if (yf > yr + 1 && pitch >= -PI / 8) {
        c.clutch = 0;
        c.rear_brake = 1;  // the braked wheel pitches the nose down
      } else {
        c.clutch = 0.125f;
      }
    } else {
      c.throttle = crashed ? 0 : 1;  // the spinning wheel lifts the nose
      c.clutch = 0.125f;
    }
    return;
  }
  if (v < s - 1) {
    c.throttle = 1;
    c.front_brake = c.rear_brake = 0;
  } else {
    const double x = v - (s - 1);
    if (x >= 1) {
      c.throttle = 0;
      c.front_brake = c.rear_brake = float(clamp01(x - 1));
    } else {
      c.throttle = float(1 - x);
      c.front_brake = c.rear_brake = 0;
    }
  }
  if (crashed) c.throttle = 0;
  c.clutch = bike->gear > 0 ? 1.0f : float(clamp01((engine_rpm(bike) - (bike->info.shift_down_rpm - 1000)) / 1000));
}

double front_grip(float x, float z) {
  const Terrain* terrain = &track_terrain;
  if (terrain->grid_size == 0) return 1;
  const int tile = terrain_tile_at(terrain, x, z);
  if (tile < 0 || tile >= terrain->tile_count) return 1;
  return terrain->tiles[tile].friction[0].coefficient;
}

// The steepest lean (rad) against the ground the grip allows: atan of the friction
// coefficient, at most 1.1780972. Most of a track shares a few coefficients, so the last one
// and its result are kept: the same argument gives the same value.
double grip_lean(double coefficient) {
  static double last_coefficient = 1, last_lean = std::atan(1.0);
  if (coefficient != last_coefficient) {
    last_coefficient = coefficient;
    last_lean = std::atan(coefficient);
  }
  return std::min(last_lean, 1.1780972);
}

// How many g the wheels' contacts push up with beyond the bike's weight, at least 1: the
// grip there is to lean with.
double grip_factor(const Bike* bike) {
  double load = 0;
  if (bike->front.depth > 0) load += bike->front.feedback.f1[1];
  if (bike->rear.depth > 0) load += bike->rear.feedback.f1[1];
  return std::max(1.0, load / (GRAVITY * bike->total_mass) - 1);
}

// Signed radius of the turn the bike's lean makes at speed v (ft, positive = right); a huge
// value stands for the straight line ahead of an upright bike.
double turn_radius(double v, double roll, double grip) {
  const double tan_roll = std::tan(roll);
  return std::fabs(tan_roll) < 1e-9 ? 1e9 : -v * v / (GRAVITY * grip * tan_roll);
}

// The normal controller: lean into the turn to the aim point, at the path's speed.
void normal_controller(Bike* bike, AutoPilot& pilot) {
  RiderControls& c = bike->controls;
  if ((sim_tick - pilot.last_progress_tick) * SIM_STEP > STUCK_SECONDS) {
    pilot.ap_mode = 3;
    return;
  }
  const double pos = autopilot_path_position(bike);
  const int32_t i0 = static_cast<int32_t>(pos);
  const dBodyID frame = bike->bodies[BODY_FRAME];
  const V3 own = from(dBodyGetPosition(frame));
  const V3 vel = from(dBodyGetLinearVel(frame));
  const double v = length(vel);
  const double roll = roll_angle(bike);
  // Below walking pace steering cannot hold a bike up: a robot slowing to a crawl in a queue of
  // bikes fell onto its side with its feet on the pegs and lay in the others' way until the stuck
  // test sent it into recovery. A rider puts a foot down there, as the recovery does.
  c.sit_dab = v < UPRIGHT_SPEED && !bike_crashed(bike) ? 1 : 0;

  const double fraction = pos - i0;
  double s = std::fabs(point(pilot, i0).speed) * (1 - fraction) + std::fabs(point(pilot, i0 + 1).speed) * fraction;

  const int32_t j = next_jump(pilot, i0);
  const double to_jump = j < 0 ? 1000000.0
                               : (j - i0) * POINT_SECONDS + length(at(point(pilot, i0)) - own) / std::max(v, 1e-6);

  const double grip = grip_factor(bike);
  const double radius = turn_radius(v, roll, grip);
  double rate_limit = PI / grip;
  double gain = 4;

  const V3 back = back_of(bike);
  const double rx = back.z, rz = -back.x;  // right, horizontal

  if (const Bike* other = bike_ahead(bike, back, v)) s = follow_speed(bike, v, s, radius, back, other);

  V3 aim;
  if (timing_of(bike).gate_index < 1) {
    aim = path_at(pilot, pos + 4);
  } else {
    int k = 0;
    for (int32_t i = i0 + 1; i <= i0 + 6; ++i) {
      const V3 d = at(point(pilot, i)) - own;
      const double ahead = -(d.x * back.x + d.z * back.z);
      const double lateral = d.x * rx + d.z * rz;
      if (ahead <= 0 || std::fabs(lateral) > 0.125 * ahead) break;
      ++k;
    }
    const double h = clamp01((20.0 - k) / 17);
    gain = 4 * h;
    rate_limit *= h;
    if (to_jump >= 2) {
      aim = path_at(pilot, pos + (k > 4 && std::fabs(roll) < PI / 8 ? 3 : 2));
    } else {
      // Line up with the ramp: aim along the jump's direction from where the bike is.
      const double q = clamp01(2 * (2 - to_jump));
      const V3 x = at(point(pilot, i0 + 3));
      aim = x + (own + (at(point(pilot, j + 3)) - at(point(pilot, j))) - x) * q;
    }
  }

  // Radius of the turn that reaches the aim, overshooting it from the present circle so the
  // bike turns in decisively.
  const double ax = (aim.x - own.x) * rx + (aim.z - own.z) * rz;
  const double af = -((aim.x - own.x) * back.x + (aim.z - own.z) * back.z);
  double turn;
  if (af <= 0) {
    turn = ax >= 0 ? 10 : -10;
  } else {
    double qx, qf;
    if (std::fabs(radius) > 1e6) {
      qx = 0;
      qf = af;
    } else {
      const double dx = ax - radius, dl = std::hypot(dx, af);
      qx = dl > 0 ? radius + dx / dl * std::fabs(radius) : radius;
      qf = dl > 0 ? af / dl * std::fabs(radius) : 0;
    }
    double x1 = ax + 2 * (ax - qx);
    const double f1 = af + 2 * (af - qf);
    if (std::fabs(x1) < 1e-6) x1 = x1 < 0 ? -1e-6 : 1e-6;
    turn = (x1 * x1 + f1 * f1) / (2 * x1);
  }
  double theta = std::atan(-v * v / (GRAVITY * grip * turn));

  // The ground limits the lean: no more than its grip allows relative to its slope.
  const double theta_wanted = theta;
  auto limit_at = [&](double x, double z) {
    const Vec3f n = terrain_normal_at(&track_terrain, float(x), float(z));
    dVector3 local;
    dBodyVectorFromWorld(frame, n.x, n.y, n.z, local);
    theta = autopilot_ground_clamp(theta, roll, local[0], local[1], grip_lean(front_grip(float(x), float(z))));
  };
  if (track_terrain.grid_size > 0) {
    for (int32_t i = i0 + 4; i >= i0; --i) limit_at(point(pilot, i).x, point(pilot, i).z);
    const dReal* wheel = dBodyGetPosition(bike->bodies[BODY_FRONT_WHEEL]);
    const dReal* wheel_vel = dBodyGetLinearVel(bike->bodies[BODY_FRONT_WHEEL]);
    limit_at(wheel[0] + 0.25 * wheel_vel[0], wheel[2] + 0.25 * wheel_vel[2]);
  }
  if (theta != theta_wanted) {
    s = std::min(s, std::sqrt(std::tan(std::fabs(theta)) * grip * std::fabs(turn) * GRAVITY));
    pilot.lean_limit_tick = sim_tick;
  }

  const double front_slip = slip_speed(bike->front);
  double m = bike->front.depth >= 0 ? clamp01((16 - front_slip) / 16) : 1;
  if (v < UPRIGHT_SPEED) {
    theta = 0;
    m = 1;
  } else if (v < 10) {
    const double k = (v - UPRIGHT_SPEED) * 0.4;
    theta *= k;
    m = 1 - (1 - m) * k;
  }
  if (to_jump < 3) {
    const double k = clamp01((3 - to_jump) / 2);
    m += (1 - m) * k;
    s += (std::max(v, std::fabs(point(pilot, i0).speed) + 2.0) - s) * k;
    const double lean = PI / 2 - 1.3744469 * k;
    theta = std::clamp(theta, -lean, lean);
    rate_limit += (PI / 8 - rate_limit) * clamp01((3 - to_jump) / 3);
  }

  double e = (theta - roll) * gain;
  if ((e < 0) != (roll < 0)) rate_limit *= 2;  // back towards upright goes faster
  e = std::clamp(e, -rate_limit, rate_limit);

  setup_set(bike, SETUP_FULL_LOCK_SPEED, 1);
  setup_set(bike, SETUP_RESTRICTED_LOCK_SPEED, 50);
  setup_set(bike, SETUP_RESTRICTED_LOCK_ANGLE, float((4 * clamp01(std::fabs(e) / PI) + 1) * PI / 180));

  // Counter-steer to the lean rate, with a dead band of 0.125 rad/s; sliding, follow the
  // direction of travel.
  const double omega = frame_spin(bike).z;
  const double dead = std::clamp(e - omega, -0.125, 0.125);
  const double pd = steer_pd(bike, steer_heading_angle(bike));
  double steer;
  if (bike->front.depth <= 0) {
    steer = pd;
  } else {
    const double r = (omega - (e - dead)) * 4;
    const double k = clamp01((4 - front_slip) / 4);
    steer = pd + (r - pd) * k;
  }
  c.steer = float(std::clamp(steer, -1.0, 1.0));

  speed_control(bike, v, s);
  const double p = m * c.throttle;
  double throttle;
  if (sim_tick * SIM_STEP >= pilot.lean_limit_tick * SIM_STEP + 0.125)
    throttle = std::max(double(pilot.throttle_memory) - 1.0 / 32, std::min(p, 1.0));
  else
    throttle = std::min(double(pilot.throttle_memory) + 1.0 / 32, std::max(p, 0.0));
  pilot.throttle_memory = float(throttle);
  c.throttle = bike_crashed(bike) ? 0.0f : float(clamp01(throttle));
}

// Recovery: ride slowly and upright straight at the target; after a long time drag the bike
// there, and after longer still pick another target.
void recovery_controller(Bike* bike, AutoPilot& pilot) {
  RiderControls& c = bike->controls;
  const int32_t count = static_cast<int32_t>(pilot.path.size());
  if ((sim_tick - pilot.last_progress_tick) * SIM_STEP > JUMP_TARGET_SECONDS) {
    // Another target, picked by the clock among the points after the one it could not reach.
    // Picked from the whole path, it could lie among the points kept behind the robot and send
    // it back against the field.
    pilot.ap_mode = 3;
    const int32_t ahead = count - 1 - pilot.path_target;
    if (ahead > 0) pilot.path_target += 1 + sim_tick % ahead;
    pilot.last_progress_tick = sim_tick;
  }
  const LinePoint& target = point(pilot, pilot.path_target);
  const double pos = autopilot_path_position(bike);
  const int32_t i0 = static_cast<int32_t>(pos);
  const int32_t j = next_jump(pilot, i0);
  const dBodyID frame = bike->bodies[BODY_FRAME];
  const bool crashed = bike_crashed(bike);
  if ((sim_tick - pilot.last_progress_tick) * SIM_STEP <= DRAG_SECONDS) {
    const double v = bike_frame_speed(bike);
    const double omega = frame_spin(bike).z;
    const double roll = roll_angle(bike);
    c.sit_dab = 0;
    double limit = 0.5;
    if (v < 10) {
      limit = 1.0 / 6;
      c.sit_dab = 1;
    } else if (v < 20) {
      limit = ((v - 10) * 0.1 * 0.6666667 + 0.33333334) * 0.5;
    }
    // The lean asked for below is held to the limit, so a bike turning hard towards its target
    // reaches it routinely: slowing at the limit itself would brake the bike upright every time
    // it leans as asked and it would never turn. It slows once it leans clearly past it.
    double speed = std::fabs(roll) > limit + RECOVERY_LEAN_MARGIN ? 5 : 15;
    // Slower than 10 ft/s a bike leaning this far rests on the rider's foot: counter-steering
    // cannot lift it at walking pace and the foot only pushes it upright near a standstill, so
    // at 5 ft/s it would circle on the foot at full lock. Near a standstill it is pushed up.
    if (v < 10 && std::fabs(roll) > RESTING_ON_FOOT_ROLL) speed = RESTING_ON_FOOT_SPEED;
    // A bike finding its way back keeps its distance behind the bikes ahead as on its line:
    // riding blind at its own pace it ran into the field it rejoins. Near a standstill its
    // direction of travel is noise, so two bikes standing side by side would each find the
    // other ahead by turns and wait for each other: it sets off first.
    const V3 back = back_of(bike);
    const Bike* other = v >= RECOVERY_FOLLOW_MIN_SPEED ? bike_ahead(bike, back, v) : nullptr;
    if (other)
      speed = follow_speed(bike, v, speed, turn_radius(v, roll, grip_factor(bike)), back, other);
    dVector3 rel;
    dBodyGetPosRelPoint(frame, target.x, target.y, target.z, rel);
    const double x = rel[0], z = rel[2];
    double lean;
    if (std::fabs(x) <= -z)
      lean = std::clamp(0.5 * x / z, -limit, limit);
    else
      lean = x >= 0 ? -limit : limit;
    if (-z < 4 * std::fabs(x) || (j >= 0 && j >= i0 && j <= i0 + 8)) pilot.ap_mode = 3;
    const double e = std::clamp((lean - roll) * 4, -4.0, 4.0);
    c.steer = float(std::clamp(2 * (omega - e), -1.0, 1.0));
    speed_control(bike, v, speed);
    return;
  }
  // Drag the front wheel towards the target at walking pace, half the weight lifted.
  const dBodyID wheel = bike->bodies[BODY_FRONT_WHEEL];
  const dReal* w = dBodyGetPosition(wheel);
  V3 d{w[0] - target.x, w[1] - target.y, w[2] - target.z};
  const double len = length(d);
  const double velocity[3] = {len > 0 ? -5 * d.x / len : 0, len > 0 ? -5 * d.y / len : 0,
                              len > 0 ? -5 * d.z / len : 0};
  horizontal_velocity_servo(wheel, velocity, DRAG_FORCE);
  dBodyAddForce(frame, 0, 16 * bike->total_mass, 0);
  const double delta = dJointGetHingeAngle(bike->joints[JOINT_STEERING]);
  const double rate = dJointGetHingeAngleRate(bike->joints[JOINT_STEERING]);
  c.steer = float(std::clamp(-(delta + rate) * 0.25, -1.0, 1.0));
  c.sit_dab = crashed ? 0 : 1;
  c.clutch = c.throttle = c.front_brake = c.rear_brake = 0;
}

}  // namespace

void autopilot_set_personality(Bike* bike, const char* name) {
  AutoPilot* pilot = autopilot_of(bike);
  if (!pilot) return;
  for (int i = 1; i < PERSONALITY_COUNT; ++i) {
    if (name && strcmp(name, PERSONALITIES[i].name) == 0) {
      pilot->personality = i;
      return;
    }
  }
  vant_log("auto pilot personality '%s' not found\n", name ? name : "");
  pilot->personality = 1;
}

const char* autopilot_personality_name(int personality) {
  return personality >= 0 && personality < PERSONALITY_COUNT ? PERSONALITIES[personality].name : "";
}

namespace {

// The aids every robot rides with: no wheelies or stoppies, antilock brakes, automatic gears.
void rider_options(Bike* bike) {
  for (unsigned option : {OPTION_STOP_WHEELIES, OPTION_STOP_STOPPIES, OPTION_FRONT_ANTILOCK, OPTION_REAR_ANTILOCK,
                          OPTION_AUTO_SHIFT})
    setup_set_option(bike, option, true);
}

// Without a path the bike stands on both brakes; true when that is the case.
bool hold_without_path(Bike* bike, const AutoPilot& pilot) {
  if (pilot.path_target < int32_t(pilot.path.size())) return false;
  RiderControls& c = bike->controls;
  c.throttle = 0;
  c.clutch = 0;
  c.front_brake = c.rear_brake = 1;
  c.steer = 0;
  c.sit_dab = 1;
  return true;
}

void ride(Bike* bike, AutoPilot& pilot) {
  if (pilot.ap_mode == 0)
    normal_controller(bike, pilot);
  else
    recovery_controller(bike, pilot);
}

}  // namespace

void autopilot_drive(Bike* bike, AutoPilot& pilot, bool may_drag) {
  rider_options(bike);
  if (!may_drag) pilot.last_progress_tick = std::max(pilot.last_progress_tick, sim_tick - int32_t(DRAG_SECONDS / SIM_STEP));
  target_advance(bike, pilot);
  if (!hold_without_path(bike, pilot)) ride(bike, pilot);
}

void autopilot_field_forget() { field_valid = false; }

void autopilot_step(Bike* bike) {
  AutoPilot* pilot = autopilot_of(bike);
  if (!pilot || pilot->personality == 0) return;
  rider_options(bike);
  target_advance(bike, *pilot);
  if (pilot->path_target >= int32_t(pilot->path.size()) - REFILL_POINTS) path_extend(bike, *pilot);
  if (hold_without_path(bike, *pilot)) return;
  if (sim_tick < race_start_tick + int32_t(START_SECONDS / SIM_STEP) && start_sequence(bike, *pilot)) return;
  ride(bike, *pilot);
}

// The slope's lean phi = atan2(nx, ny) lies within +-nx/ny when ny > 0 (|atan t| <= |t|). When
// the lean asked for is that far and a margin inside the grip either side of the roll, no
// slope within the bound can move it, so the arctangent is not needed; the margin of 1e-9 rad
// dwarfs the rounding of the bounds (some 1e-15 rad), so the answer is the same to the bit.
double autopilot_ground_clamp(double theta, double roll, double nx, double ny, double psi) {
  if (ny > 0 && std::fabs(theta - roll) + std::fabs(nx) / ny + 1e-9 <= psi) return theta;
  const double phi = std::atan2(nx, ny);
  return std::clamp(theta, roll - phi - psi, roll - phi + psi);
}

Footprint autopilot_footprint(double x, double z, double back_x, double back_z, double speed) {
  const double rx = back_z, rz = -back_x;
  const double lateral[4] = {-FOOTPRINT_HALF_WIDTH, -FOOTPRINT_HALF_WIDTH, FOOTPRINT_HALF_WIDTH, FOOTPRINT_HALF_WIDTH};
  const double ahead[4] = {FOOTPRINT_REACH + speed, -FOOTPRINT_REACH, -FOOTPRINT_REACH, FOOTPRINT_REACH + speed};
  Footprint f;
  for (int k = 0; k < 4; ++k) {
    f.x[k] = x + rx * lateral[k] - back_x * ahead[k];
    f.z[k] = z + rz * lateral[k] - back_z * ahead[k];
  }
  return f;
}

// Separating axes: two rectangles are apart exactly when the corners of both, projected on the
// normal of some edge of either, fall into intervals that do not overlap. Testing only edges
// against edges misses a footprint lying inside the other and two footprints in one lane, whose
// sides are parallel: a robot would never see the bike it rides up to on its own line.
bool autopilot_footprints_meet(const Footprint& a, const Footprint& b) {
  for (const Footprint* f : {&a, &b}) {
    for (int e = 0; e < 2; ++e) {
      const double nx = f->z[e + 1] - f->z[e], nz = f->x[e] - f->x[e + 1];
      double lo_a = 1e300, hi_a = -1e300, lo_b = 1e300, hi_b = -1e300;
      for (int k = 0; k < 4; ++k) {
        const double pa = a.x[k] * nx + a.z[k] * nz, pb = b.x[k] * nx + b.z[k] * nz;
        lo_a = std::min(lo_a, pa), hi_a = std::max(hi_a, pa);
        lo_b = std::min(lo_b, pb), hi_b = std::max(hi_b, pb);
      }
      if (hi_a <= lo_b || hi_b <= lo_a) return false;
    }
  }
  return true;
}
