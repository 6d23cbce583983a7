// Roost particles: emission from the wheels by the tile's roost types, the fixed pool with its
// free and active lists, and the particles' flight.
#include "physics/roost.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <iterator>

#include <ode/ode.h>

#include "core/constants.h"
#include "core/tick.h"
#include "physics/bike.h"
#include "physics/contact.h"
#include "track/objects.h"
#include "track/terrain.h"

RoostPool roost_pool = {{}, {}, {}, -1, -1, 0, -1, 0};

namespace {

// The session generator's two conversions: u over 31 bits, r over 24 bits, both in [0, 1).
double random_u(std::mt19937& random) {
  return (random() & 0x7fffffffu) * (1.0 / 2147483648.0);
}
double random_r(std::mt19937& random) {
  return (random() & 0xffffffu) * (1.0 / 16777216.0);
}

Billboard* particle_billboard(const RoostParticle& p) {
  if (p.billboard < 0 || size_t(p.billboard) >= track_objects.billboards.size()) return nullptr;
  return &track_objects.billboards[size_t(p.billboard)];
}

// The four fade bytes lie side by side, so one word read says whether a type fades at all.
static_assert(offsetof(RoostType, fade_a) == offsetof(RoostType, fade_r) + 3);
bool fades(const RoostType& type) {
  uint32_t word;
  std::memcpy(&word, &type.fade_r, sizeof word);
  return word != 0;
}

uint8_t faded(uint8_t value, uint8_t fade) {
  return uint8_t(std::clamp(int(value) + int(int8_t(fade)), 0, 255));
}

// Every particle takes this many numbers from the session generator, whether it is kept or not.
constexpr int RANDOMS_PER_PARTICLE = 4;

// Once the pool is empty the particles still to come would be dropped: only their random
// numbers are drawn, so the session's sequence goes on as if they had been made.
bool pool_exhausted(int still_to_come, std::mt19937& random) {
  if (roost_pool.free_head >= 0) return false;
  random.discard(uint64_t(still_to_come) * RANDOMS_PER_PARTICLE);
  return true;
}

// Particles of one type from a count that may have a fraction: the fraction is a chance of one
// more, and no more than n.
int particle_count(float count, int n, std::mt19937& random) {
  const double c = std::clamp(double(count), 0.0, double(ROOST_PARTICLE_MAX));
  const double whole = std::floor(c);
  int m = int(whole);
  if (random_u(random) < c - whole) m++;
  return std::min(m, n);
}

// Splash: water thrown up and out to both sides of the wheel's path.
void emit_splash(const WheelState& wheel, const RoostType& type, int m, std::mt19937& random) {
  const dReal* lv = dBodyGetLinearVel(wheel.body);
  const Vec3d v = {lv[0], lv[1], lv[2]};
  const Vec3d normal = {wheel.contact_normal[0], wheel.contact_normal[1], wheel.contact_normal[2]};
  const Vec3d tangent = v - normal * dot(v, normal);
  const double speed = length(tangent);
  const Vec3d across = speed > 0 ? cross(normal, tangent * (1 / speed)) : Vec3d{0, 0, 0};
  const double spread = speed * 0.70710677;
  const Vec3d d1 = (normal + across) * spread, d2 = (normal - across) * spread;
  for (int i = 0; i < m; i++) {
    if (pool_exhausted(m - i, random)) return;
    const Vec3d d = ((uint32_t(sim_tick) ^ uint32_t(i)) & 1) == 0 ? d1 : d2;
    const double lead = i * SIM_STEP / m;
    const float position[3] = {float(wheel.contact_point[0] + d.x * lead), float(wheel.contact_point[1] + d.y * lead),
                               float(wheel.contact_point[2] + d.z * lead)};
    const double jx = random_r(random) - 0.5, jy = random_r(random) - 0.5, jz = random_r(random) - 0.5;
    const double scale = type.vscale * random_u(random);
    const float velocity[3] = {float((d.x + type.randomize * jx) * scale), float((d.y + type.randomize * jy) * scale),
                               float((d.z + type.randomize * jz) * scale)};
    roost_particle_add(position, velocity, &type);
  }
}

// Dirt thrown off the tyre: from the contact point, carried round the tyre by up to the spread
// angle, with the tyre's own velocity there.
void emit_dirt(const WheelState& wheel, const RoostType& type, int m, double max_spread, std::mt19937& random) {
  const Vec3d slip = {wheel.slip_velocity[0], wheel.slip_velocity[1], wheel.slip_velocity[2]};
  if (dot(slip, slip) < double(type.slip_threshold) * type.slip_threshold) return;
  const dReal* lv = dBodyGetLinearVel(wheel.body);
  const Vec3d v = {lv[0], lv[1], lv[2]};
  double spread = ROOST_GRIP_SPREAD;
  if (dot(v, slip) < 0) {
    // The tyre spins faster than the ground goes by: the faster it spins, the wider it throws.
    const dReal* w = dBodyGetAngularVel(wheel.body);
    const double w2 = w[0] * w[0] + w[1] * w[1] + w[2] * w[2];
    const double slow2 = double(type.slow_speed) * type.slow_speed, fast2 = double(type.fast_speed) * type.fast_speed;
    const double a = fast2 > slow2 ? std::clamp((w2 - slow2) / (fast2 - slow2), 0.0, 1.0) : (w2 >= fast2 ? 1.0 : 0.0);
    spread = std::min(type.slow_angle + (double(type.fast_angle) - type.slow_angle) * a, max_spread);
  }
  const dReal* c = dBodyGetPosition(wheel.body);
  const dReal* r = dBodyGetRotation(wheel.body);
  const Vec3d centre = {c[0], c[1], c[2]};
  const Vec3d axle = {r[0], r[4], r[8]};
  const Vec3d offset = Vec3d{wheel.contact_point[0], wheel.contact_point[1], wheel.contact_point[2]} - centre;
  for (int i = 0; i < m; i++) {
    if (pool_exhausted(m - i, random)) return;
    // Turned about the axle by -theta: backwards and up for a bike facing -z.
    const double theta = -random_r(random) * spread;
    const double cs = std::cos(theta), sn = std::sin(theta);
    const Vec3d turned = offset * cs + cross(axle, offset) * sn + axle * (dot(axle, offset) * (1 - cs));
    const Vec3d point = centre + turned;
    dVector3 pv;
    dBodyGetPointVel(wheel.body, point.x, point.y, point.z, pv);
    const double lead = i * SIM_STEP / m;
    const float position[3] = {float(point.x + pv[0] * lead), float(point.y + pv[1] * lead),
                               float(point.z + pv[2] * lead)};
    const double jx = random_r(random) - 0.5, jy = random_r(random) - 0.5, jz = random_r(random) - 0.5;
    const float velocity[3] = {float((pv[0] + type.randomize * jx) * type.vscale),
                               float((pv[1] + type.randomize * jy) * type.vscale),
                               float((pv[2] + type.randomize * jz) * type.vscale)};
    roost_particle_add(position, velocity, &type);
  }
}

}  // namespace

void roost_pool_attach(int32_t first_billboard) {
  const bool room = first_billboard >= 0 &&
                    size_t(first_billboard) + ROOST_PARTICLE_MAX <= track_objects.billboards.size();
  roost_pool.first_billboard = room ? first_billboard : -1;
  roost_pool_reset();
}

void roost_pool_reset() {
  RoostPool& pool = roost_pool;
  for (int i = 0; i < ROOST_PARTICLE_MAX; i++) {
    RoostParticle& p = pool.particles[i];
    p = RoostParticle{};
    p.billboard = pool.first_billboard >= 0 ? pool.first_billboard + i : -1;
    p.next = i + 1 < ROOST_PARTICLE_MAX ? i + 1 : -1;
    if (Billboard* b = particle_billboard(p)) b->texture = 0;
  }
  std::fill(std::begin(pool.active_bits), std::end(pool.active_bits), uint64_t{0});
  pool.free_head = 0;
  pool.active_head = -1;
  pool.active_count = 0;
  pool.added = 0;
}

void roost_particle_add(const float position[3], const float velocity[3], const RoostType* type) {
  RoostPool& pool = roost_pool;
  if (pool.free_head < 0) return;
  const int32_t index = pool.free_head;
  RoostParticle& p = pool.particles[index];
  pool.free_head = p.next;
  for (int k = 0; k < 3; k++) {
    p.position[k] = position[k];
    p.velocity[k] = velocity[k];
  }
  p.type = type;
  if (Billboard* b = particle_billboard(p)) {
    b->x = position[0];
    b->y = position[1];
    b->z = position[2];
    b->height = type->size;
    b->texture = type->texture;
    b->r = type->r;
    b->g = type->g;
    b->b = type->b;
    b->a = type->a;
  }
  p.next = pool.active_head;
  p.previous = -1;
  if (pool.active_head >= 0) pool.particles[pool.active_head].previous = index;
  pool.active_head = index;
  pool.active_count++;
  p.added = pool.added++;
  pool.active_bits[index >> 6] |= uint64_t{1} << (index & 63);
}

void roost_particles_move(const Terrain* terrain) {
  RoostPool& pool = roost_pool;
  const float dt = float(SIM_STEP);
  const float fall = ROOST_GRAVITY * dt;
  // The tint bytes written below may alias anything, so the billboard table is read once here
  // rather than through the vector on every particle.
  Billboard* const boards = track_objects.billboards.data();
  const size_t board_count = track_objects.billboards.size();
  // Particle i shows on billboard first_billboard + i: when the table holds the whole range,
  // no particle needs its own check.
  const bool all_shown =
      pool.first_billboard >= 0 && size_t(pool.first_billboard) + ROOST_PARTICLE_MAX <= board_count;
  // Each particle moves on its own, so they move in the order of the pool (and of their
  // billboards) rather than along the active list: memory is read in order.
  int landed_count = 0;
  for (int word = 0; word < int(std::size(pool.active_bits)); word++) {
    for (uint64_t bits = pool.active_bits[word]; bits != 0; bits &= bits - 1) {
      const int32_t index = word * 64 + std::countr_zero(bits);
      RoostParticle& p = pool.particles[index];
      const RoostType& type = *p.type;
      const float drag = dt * type.drag;
      const float vx = p.velocity[0], vy = p.velocity[1], vz = p.velocity[2];
      const float x = p.position[0] + vx * dt;
      const float y = p.position[1] + vy * dt;
      const float z = p.position[2] + vz * dt;
      p.position[0] = x;
      p.position[1] = y;
      p.position[2] = z;
      p.velocity[0] = vx - vx * drag;
      const float rising = (vy - vy * drag) - fall;
      p.velocity[1] = rising;
      p.velocity[2] = vz - vz * drag;
      Billboard* b = all_shown || (p.billboard >= 0 && size_t(p.billboard) < board_count) ? boards + p.billboard
                                                                                           : nullptr;
      if (b) {
        b->x = x;
        b->y = y;
        b->z = z;
        b->height += dt * type.grow;
        if (fades(type)) {
          b->r = faded(b->r, type.fade_r);
          b->g = faded(b->g, type.fade_g);
          b->b = faded(b->b, type.fade_b);
          b->a = faded(b->a, type.fade_a);
        }
      }
      // A particle that is neither rising nor above the ground has landed.
      const bool landed = rising < 0 && terrain_height_at(terrain, x, z) > y;
      // One that is not a number any more would never land.
      const bool lost = !std::isfinite(y);
      if (landed || lost) {
        if (b) b->texture = 0;
        pool.landed[landed_count++] = index;
      }
    }
  }
  if (landed_count == 0) return;
  // Landed particles leave the active list and go to the head of the free list in the active
  // list's order (newest first), so later throws reuse the same places as ever.
  const uint32_t now = pool.added;
  const RoostParticle* particles = pool.particles;
  std::sort(pool.landed, pool.landed + landed_count, [particles, now](int32_t a, int32_t b) {
    return now - particles[a].added < now - particles[b].added;
  });
  for (int k = 0; k < landed_count; k++) {
    const int32_t index = pool.landed[k];
    RoostParticle& p = pool.particles[index];
    if (p.previous >= 0) {
      pool.particles[p.previous].next = p.next;
    } else {
      pool.active_head = p.next;
    }
    if (p.next >= 0) pool.particles[p.next].previous = p.previous;
    pool.active_bits[index >> 6] &= ~(uint64_t{1} << (index & 63));
    p.next = pool.free_head;
    pool.free_head = index;
    pool.active_count--;
  }
}

void wheel_emit_roost(WheelState* wheel, bool controlled_locally, const Terrain* terrain, int n, double max_spread,
                      std::mt19937& random) {
  if (!controlled_locally && !wheel_ground_probe(terrain, wheel)) return;
  if (!(wheel->depth > 0)) return;
  const GroundTile& tile = terrain->tiles[terrain_tile_at(terrain, wheel->contact_point[0], wheel->contact_point[2])];
  for (const RoostType& type : tile.roost) {
    if (type.mode == ROOST_NONE) break;
    const int m = particle_count(type.count, n, random);
    if (type.mode == ROOST_SPLASH) {
      emit_splash(*wheel, type, m, random);
    } else if (type.mode == ROOST_DIRT) {
      emit_dirt(*wheel, type, m, max_spread, random);
    }
  }
}

void bike_emit_roost(Bike* bike, bool controlled_locally, const Terrain* terrain, int frequency,
                     std::mt19937& random) {
  const int k = std::clamp(frequency, 0, 1000);
  int n = k / 100;
  if (int(random() % 100) < k % 100) n++;
  if (n == 0) return;
  wheel_emit_roost(&bike->front, controlled_locally, terrain, n, ROOST_FRONT_SPREAD, random);
  wheel_emit_roost(&bike->rear, controlled_locally, terrain, n, ROOST_REAR_SPREAD, random);
}
