// Bikes ridden in tests and benchmarks: small sphere sets standing in for the shape files, so
// a bike can lie on the ground and its rider can hit it, and the game's default setup.
#pragma once

#include <cmath>

#include "core/settings.h"
#include "physics/bike.h"
#include "physics/setup.h"
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

// The game's default setup on a bike at rest (the most stable preset: the steer input asks
// for a lean; dab when stopped and realign after a fall on).
inline void use_default_setup(Bike* bike) {
  settings_reset();
  setup_apply(bike);
}
