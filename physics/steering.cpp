// The lean of a bike's frame, measured against the horizontal right-hand direction of its
// heading.
#include "physics/steering.h"

#include <algorithm>
#include <cmath>

float roll_angle(const Bike* bike) {
  const dReal* r = dBodyGetRotation(bike->bodies[BODY_FRAME]);
  // Columns of the rotation: the frame's up (y) and forward (-z) directions in the world.
  double up[3] = {r[1], r[5], r[9]};
  double forward[3] = {-r[2], -r[6], -r[10]};
  double h = std::sqrt(forward[0] * forward[0] + forward[2] * forward[2]);
  double hx = h > 0 ? forward[0] / h : 0;
  double hz = h > 0 ? forward[2] / h : -1;
  // Horizontal right-hand direction: +x when the bike faces -z.
  double o = up[0] * -hz + up[2] * hx;
  return float(std::acos(std::clamp(o, -1.0, 1.0)) - M_PI / 2);
}

float roll_rate(const Bike* bike) {
  dBodyID frame = bike->bodies[BODY_FRAME];
  const dReal* w = dBodyGetAngularVel(frame);
  dVector3 local;
  dBodyVectorFromWorld(frame, w[0], w[1], w[2], local);
  return float(local[2]);
}
