// Roost: dirt and splashes thrown by the wheels, as particles of a fixed pool shown on the
// billboards the track load reserves for them, with their flight until they land.
#pragma once

#include <cstdint>
#include <random>

struct Bike;
struct RoostType;
struct Terrain;
struct WheelState;

constexpr int ROOST_PARTICLE_MAX = 2000;
constexpr float ROOST_GRAVITY = 32;  // ft/s²
constexpr double ROOST_FRONT_SPREAD = 3.14159265358979323846 / 8;  // rad, largest for a front wheel
constexpr double ROOST_REAR_SPREAD = 2 * 3.14159265358979323846;
constexpr double ROOST_GRIP_SPREAD = 3.14159265358979323846 / 64;  // tyre not spinning faster than the ground

struct RoostParticle {
  float position[3];  // ft
  float velocity[3];  // ft/s
  int32_t billboard;  // index in track_objects.billboards, -1 when the pool has none
  int32_t previous;   // previous particle of the active list, -1 at its head
  const RoostType* type;
  int32_t next;       // next particle of its list, -1 at the end
  uint32_t added;     // the pool's count of particles added when this one was
};

// The pool: every particle is on the free list or the active list (newest first). The active
// ones are also marked in a bit set, so their flight runs through memory in order.
struct RoostPool {
  RoostParticle particles[ROOST_PARTICLE_MAX];
  uint64_t active_bits[(ROOST_PARTICLE_MAX + 63) / 64];
  int32_t landed[ROOST_PARTICLE_MAX];  // the step's landed particles, while it runs
  int32_t free_head;
  int32_t active_head;
  int32_t active_count;
  int32_t first_billboard;  // -1 = no billboards reserved
  uint32_t added;           // particles added since the reset (wrapping)
};
extern RoostPool roost_pool;

// The track load reserved ROOST_PARTICLE_MAX billboards from first_billboard on (-1: none,
// particles fly unseen). Resets the pool.
void roost_pool_attach(int32_t first_billboard);
// Every particle free, its billboard hidden (session reset).
void roost_pool_reset();

// Throws roost from both wheels of a bike (front, then rear), `frequency` 0..1000 being the
// player's roost density. A bike not controlled locally has no contact state of its own; its
// wheels are searched against the ground first.
void bike_emit_roost(Bike* bike, bool controlled_locally, const Terrain* terrain, int frequency,
                     std::mt19937& random);
// One wheel: at most n particles per roost type of the tile under it, spread over at most
// max_spread rad around the tyre.
void wheel_emit_roost(WheelState* wheel, bool controlled_locally, const Terrain* terrain, int n, double max_spread,
                      std::mt19937& random);
// Takes a free particle (none: dropped) and shows it with the type's look.
void roost_particle_add(const float position[3], const float velocity[3], const RoostType* type);
// Moves every particle one step; one falling below the ground is removed.
void roost_particles_move(const Terrain* terrain);
