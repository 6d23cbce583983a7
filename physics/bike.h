// One rider and machine: seven rigid bodies and six joints in the shared physics world, with
// the rider's controls, the applied setup and the run state; building, placing, sleeping and
// the per-bike work after each world step.
#pragma once

#include <ode/ode.h>

#include <cstdint>

#include "physics/bike_info.h"
#include "physics/controls.h"
#include "physics/erosion.h"
#include "physics/shape.h"

enum BikeBody : int {
  BODY_FRAME,
  BODY_FRONT_WHEEL,
  BODY_REAR_WHEEL,
  BODY_STEERING,
  BODY_FORK_LOWER,
  BODY_SWINGARM,
  BODY_RIDER,
  BODY_COUNT
};

enum BikeJoint : int {
  JOINT_FRONT_AXLE,  // hinge, lower fork - front wheel
  JOINT_REAR_AXLE,   // hinge, swing arm - rear wheel
  JOINT_STEERING,    // hinge, steering body - frame
  JOINT_FORK,        // slider, steering body - lower fork; 0 extended, -fork_travel bottomed
  JOINT_SWINGARM,    // hinge, swing arm - frame; 0 extended, -swingarm_max_angle bottomed
  JOINT_RIDER,       // hinge2, rider - frame
  JOINT_COUNT
};

// Option flags of the applied setup.
enum BikeOption : unsigned {
  OPTION_STOP_WHEELIES = 1u << 0,         // throttle cut
  OPTION_STOP_STOPPIES = 1u << 1,         // front brake release
  OPTION_FRONT_ANTILOCK = 1u << 2,
  OPTION_REAR_ANTILOCK = 1u << 3,
  OPTION_AUTO_SHIFT = 1u << 4,
  OPTION_DAB_WHEN_STOPPED = 1u << 5,
  OPTION_REALIGN_AFTER_FALL = 1u << 6,
  OPTION_STEER_UNLOADED_FRONT = 1u << 7,  // steering input stays active with the front wheel unloaded
  OPTION_ARCADE = 1u << 8,
};

// A wheel's contact with the ground (or another bike), rewritten every step. depth 0 means
// the wheel is in the air.
struct WheelState {
  dBodyID body;
  float axle[3];  // axle direction in wheel body coordinates: (1, 0, 0)
  float ring_radius;
  float tread_radius;
  float contact_point[3];
  float slip_velocity[3];   // velocity of the wheel body at the contact point, ft/s
  float contact_normal[3];  // unit, pointing from the ground into the wheel
  float depth;              // ft, > 0 while touching
  bool on_ground;           // the contact is with the ground (not another bike or object)
  dJointFeedback feedback;  // forces of the wheel's contact joint
};

// Setup values in effect on the bike (the setup store applies them; "adj" values are signed
// low-speed offsets). Units: lbf/ft, ft, lbf·ft, ft/s, rad, s.
struct AppliedSetup {
  float fork_hs_comp_k, fork_ls_comp_adj, fork_hs_reb_k, fork_ls_reb_adj;
  float fork_spring_k, fork_preload, fork_air_gap;
  float shock_hs_comp_k, shock_ls_comp_adj, shock_hs_reb_k, shock_ls_reb_adj;
  float shock_spring_k, shock_preload;
  float leveling, roll_damping, roll_limit_factor, roll_limit_angle;
  float steering_damping, steering_strength, max_steering_force, direct_steering;
  float slow_damping_speed, slow_damping_factor, land_damping_falloff, land_damping_factor;
  float full_lock_speed, restricted_lock_speed, restricted_lock_angle;
  float front_brake_torque, rear_brake_torque;
  float max_dab_speed;
  float auto_clutch_rpm;
  float rider_vspring, rider_vdamping, rider_fspring, rider_fdamping;  // each 0..1
  float rider_mass_distribution;  // share of the rider's mass on the rider body
  unsigned options;               // BikeOption bits
};

constexpr int BIKE_NUMBER_LENGTH = 7;

struct Bike {
  BikeInfo info;  // a private copy of the model row, so setup changes never touch the table

  dBodyID bodies[BODY_COUNT];
  dJointID joints[JOINT_COUNT];
  dJointFeedback joint_feedback[JOINT_COUNT];
  WheelState front;
  WheelState rear;
  ErodeStroke front_stroke;  // the wheels' erosion traces
  ErodeStroke rear_stroke;
  Shape* shapes[BODY_COUNT];  // null where the shape file is missing

  RiderControls controls;
  int gear;        // 0 = first gear
  int last_shift;  // -1, 0, 1: the shift input of the previous step

  // Engine and drivetrain.
  float drive_angle;     // rad, -pi..pi
  float engine_speed;    // rad/s
  float engine_inertia;  // slug·ft²
  float final_drive;     // rear / front sprocket teeth after the setup's adjustments

  AppliedSetup setup;

  // Run state.
  int crash_timer;  // steps, > 0 while crashed
  int crash_count;
  int32_t fall_tick;       // tick the bike last started falling
  int32_t touchdown_tick;  // tick a wheel last touched down after a fall
  float invulnerability;   // steps; > 0 weakens the stability aid, < 0 suppresses crash tests
  float knockback;         // 0..1; at or below 0.25 the bodies sleep
  bool touched_down;       // a body part other than the wheels touched the ground
  float dab;               // 0..1, how far the foot is out
  float land_damping;
  float lean_limit;
  bool fell_while_leading;  // fell at low speed while leading a race (the race rules read it)
  float limb_pos[2][3];  // the rider's two crash limbs
  float limb_vel[2][3];
  float rider_velocity_ring[4][3];  // the rider body's velocity of the last four steps
  int32_t last_bike_contact_tick;   // tick of the latest contact with another bike
  int32_t first_bike_contact_tick;  // -1 until the first contact with another bike
  // line_id of the racing line a robot follows per gate-sequence index mod 4; a contact with
  // another bike clears them, so the run no longer counts for the line statistics.
  int32_t lines_in_use[4];

  char number[BIKE_NUMBER_LENGTH + 1];  // race number
  int tag;                              // the caller's value
  float total_mass;                     // slugs, the seven bodies
};

// Builds a bike of the named model (the fallback row when unknown) in the model pose, reset.
// Texture names may be null. The bike belongs to the caller until bike_destroy.
Bike* bike_create(const char* model, int tag, const char* number, const char* rider_texture,
                  const char* head_texture, const char* bike_texture, const char* wheels_texture);
void bike_destroy(Bike* bike);
// Puts the share `distribution` (0..1) of the rider's mass on the rider body (a sphere of
// radius 1 ft) and the rest on the frame box.
void bike_set_rider_masses(Bike* bike, float distribution);

// Back to the model pose at rest with controls, run state and contacts cleared.
void bike_reset(Bike* bike);
// Turns every body about the world y axis through the origin (used right after bike_reset).
void bike_rotate(Bike* bike, float angle);
// Moves every body by offset (ft).
void bike_translate(Bike* bike, const float offset[3]);

// Knock-back of bikes replayed online: above 0.25 the bodies are simulated, at or below they
// sleep and the bike follows its recorded states.
void bike_enable(Bike* bike);
void bike_disable(Bike* bike);
void bike_knockback_start(Bike* bike);
void bike_knockback_tick(Bike* bike);

// The per-bike work after each world step: forces and joint settings for the next step.
void bike_post_step(Bike* bike);
// Cancels the net force and torque that the bike's own joints put on it as a whole (numerical
// drift of the constraint solution), by applying the opposite to the frame.
void bike_correct_joint_drift(Bike* bike);

inline bool bike_crashed(const Bike* bike) { return bike->crash_timer > 0; }
// Speed of the frame body (ft/s).
float bike_frame_speed(const Bike* bike);
// Forward speed in mph: the frame velocity along the frame's forward (-z) axis.
float bike_forward_speed_mph(const Bike* bike);
