// The auto pilot's per-robot state by slot and the robot's position along its own path.
#include <algorithm>

#include <ode/ode.h>

#include "physics/bike.h"
#include "robots/autopilot.h"

AutoPilot autopilots[SLOT_COUNT];

AutoPilot* autopilot_of(const Bike* bike) {
  if (!bike || bike->tag < 0 || bike->tag >= SLOT_COUNT) return nullptr;
  return &autopilots[bike->tag];
}

void autopilot_reset(AutoPilot& pilot) {
  autopilot_field_forget();
  pilot.personality = 0;
  pilot.path.clear();
  pilot.path_target = 0;
  pilot.path_segment = 0;
  pilot.ap_mode = 0;
  pilot.last_progress_tick = 0;
  pilot.start_timer = 0;
  pilot.throttle_memory = 0;
  pilot.lean_limit_tick = -1000000;
}

bool bike_is_robot(const Bike* bike) {
  const AutoPilot* pilot = autopilot_of(bike);
  return pilot && pilot->personality != 0;
}

// With p_i the distance of point i ahead of the frame along its forward axis, the position is
// the index just past the last point behind the frame plus the fraction of the way to the
// next one; the target itself while the point before it is behind.
float autopilot_path_position(const Bike* bike) {
  const AutoPilot* pilot = autopilot_of(bike);
  if (!pilot || pilot->path.empty()) return 0;
  const std::vector<LinePoint>& path = pilot->path;
  const int32_t count = static_cast<int32_t>(path.size());
  const int32_t t = pilot->path_target;
  if (t <= 0) return static_cast<float>(std::max(t, 0));
  const dReal* pos = dBodyGetPosition(bike->bodies[BODY_FRAME]);
  const dReal* r = dBodyGetRotation(bike->bodies[BODY_FRAME]);
  const double fx = -r[2], fy = -r[6], fz = -r[10];
  auto ahead = [&](int32_t i) {
    const LinePoint& p = path[static_cast<size_t>(std::clamp(i, 0, count - 1))];
    return (p.x - pos[0]) * fx + (p.y - pos[1]) * fy + (p.z - pos[2]) * fz;
  };
  if (ahead(t - 1) < 0) return static_cast<float>(t);
  for (int32_t i = t - 2; i >= 0; --i) {
    const double pi = ahead(i);
    if (pi < 0) {
      const double pn = ahead(i + 1);
      const double f = pn != pi ? -pi / (pn - pi) : 0.0;
      return static_cast<float>(i + 1 + std::clamp(f, 0.0, 1.0));
    }
  }
  return 0;
}
