// Bikes ridden in tests and benchmarks: small sphere sets standing in for the shape files, so
// a bike can lie on the ground and its rider can hit it, and the stability values of the
// game's default setup.
#pragma once

#include <cmath>

#include "physics/bike.h"
#include "physics/shape.h"

inline Shape* stand_in_shape(int body) {
  auto sphere = [](float x, float y, float z, float r) { return ShapeSphere{{x, y, z}, r, 0.6f, {}}; };
  switch (body) {
    case BODY_FRAME: {
      ShapeSphere s[] = {sphere(0, 0.3f, -0.6f, 0.5f), sphere(0, 0, 0.4f, 0.5f), sphere(0.45f, 0.3f, 0, 0.35f),
                         sphere(-0.45f, 0.3f, 0, 0.35f)};
      return shape_make(s, 4);
    }
    case BODY_RIDER: {
      ShapeSphere s[] = {sphere(0, 0.8f, -0.9f, 0.45f), sphere(0, 0, 0, 0.6f), sphere(0.9f, 0.4f, -0.4f, 0.3f),
                         sphere(-0.9f, 0.4f, -0.4f, 0.3f)};
      return shape_make(s, 4);
    }
    case BODY_STEERING: {
      ShapeSphere s[] = {sphere(1.0f, 0.2f, 0.6f, 0.25f), sphere(-1.0f, 0.2f, 0.6f, 0.25f)};
      return shape_make(s, 2);
    }
    case BODY_FRONT_WHEEL:
    case BODY_REAR_WHEEL: {
      ShapeSphere s[8];
      for (int k = 0; k < 8; k++) {
        float a = float(k) * 0.785398f;
        s[k] = sphere(0, 0.8f * std::cos(a), 0.8f * std::sin(a), 0.33f);
      }
      return shape_make(s, 8);
    }
    default: {
      ShapeSphere s[] = {sphere(0, 0, 0, 0.25f)};
      return shape_make(s, 1);
    }
  }
}

// Replaces every shape of the bike with its stand-in.
inline void give_stand_in_shapes(Bike* bike) {
  for (int b = 0; b < BODY_COUNT; b++) {
    shape_free(bike->shapes[b]);
    bike->shapes[b] = stand_in_shape(b);
  }
}

// The stability values a rider gets from the game's default setup (the most stable preset):
// the steer input asks for a lean.
inline void use_default_stability(Bike* bike) {
  AppliedSetup& s = bike->setup;
  s.leveling = 20;
  s.roll_damping = 80;
  s.roll_limit_angle = 0.7853982f;
  s.roll_limit_factor = 32;
  s.steering_damping = 60;
  s.direct_steering = 0.125f;
  s.slow_damping_speed = 40;
  s.slow_damping_factor = 2;
  s.restricted_lock_angle = 0.0174533f;
}
