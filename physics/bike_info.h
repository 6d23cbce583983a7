// The built-in table of bike models: geometry, masses, suspension ranges, drivetrain and engine
// torque curves of every model the game knows, looked up by name.
#pragma once

constexpr int BIKE_INFO_COUNT = 80;
constexpr int GEAR_COUNT = 6;
constexpr int TORQUE_POINTS = 50;  // torque table entries, one per 500 rpm from 0
constexpr int BIKE_MODEL_FILES = 23;

// Index of each file name in BikeInfo::model_files.
enum BikeModelFile : int {
  MODEL_FRAME,
  SHAPE_FRAME,
  TEXTURE_BIKE,
  MODEL_STEERING,
  SHAPE_STEERING,
  MODEL_FORK_LOWER,
  SHAPE_FORK_LOWER,
  MODEL_SWINGARM,
  SHAPE_SWINGARM,
  MODEL_FRONT_WHEEL,
  SHAPE_FRONT_WHEEL,
  MODEL_REAR_WHEEL,
  SHAPE_REAR_WHEEL,
  TEXTURE_WHEELS,
  MODEL_RIDER_HEAD,
  TEXTURE_RIDER_HEAD,
  MODEL_RIDER_BODY,
  MODEL_RIDER_BODY_FIRST_PERSON,
  SHAPE_RIDER,
  TEXTURE_RIDER_BODY,
  MODEL_SIDE_PLATES,
  MODEL_FRONT_PLATE,
  MODEL_RIDER_PLATE,
};

// A wheel in the model pose (ft, slugs). The tyre is a torus: a tread circle of radius
// ring_radius around the axle swept by a cross-section of radius tread_radius, so the
// rolling radius is ring_radius + tread_radius.
struct WheelInfo {
  float pos[3];
  float ring_radius;
  float tread_radius;
  float ring_mass;
  float hub_radius;
  float hub_mass;
};

// Rider pose points used by the rider drawing and the crash limbs; the same in every row.
struct RiderPosePoints {
  float neck[3];         // head pivot, rider body coordinates
  float shoulder[2][3];  // left, right; rider body coordinates
  float hip[2][3];       // left, right; rider body coordinates
  float hand[2][3];      // left, right; steering body coordinates
  float foot_peg[2][3];  // left, right; frame body coordinates
  float upper_arm, forearm, thigh, shin;  // segment lengths, ft
};

// One row of the model table. Positions are in the model pose: the bike stands with its
// wheels on y = 0 ground, faces -z and its rear wheel lies at larger z. Units: ft, slugs,
// lbf, lbf/ft, rad, lbf·ft, rpm.
struct BikeInfo {
  const char* name;          // the model key, e.g. "450sxf(2018)"
  const char* engine_class;  // "450f", "250f", "250", "125" or "50": the engine sound set
  WheelInfo front_wheel;
  WheelInfo rear_wheel;
  float frame_pos[3];
  float frame_mass;  // without the rider
  float frame_box[3];
  float steering_pos[3];    // top of the steering axis
  float swingarm_pos[3];
  float swingarm_pivot[3];
  float fork_lower_pos[3];  // bottom of the steering axis
  float fork_width;
  float fork_length;
  float fork_mass;  // given to each of the steering and lower fork bodies
  float fork_spring_min, fork_spring_max;    // lbf/ft, both legs
  float fork_preload_min, fork_preload_max;  // ft
  float fork_oil_min, fork_oil_max;          // air gap above the oil, ft (low setting = larger gap)
  float fork_hs_comp, fork_ls_comp, fork_hs_reb, fork_ls_reb;
  float fork_travel;    // ft
  float swingarm_mass;  // each of the two legs
  float shock_spring_min, shock_spring_max;
  float shock_preload_min, shock_preload_max;
  float shock_hs_comp, shock_ls_comp, shock_hs_reb, shock_ls_reb;
  float link_mid, link_end;    // shock compression (ft) at 0.75 and 1.0 of swing arm travel
  float swingarm_max_angle;    // full extension to full compression, rad
  float link_break;            // breakpoint of the linkage curve, fraction of travel
  float link_slope0, link_slope_mid, link_slope1;  // ft per unit travel
  float primary_ratio;
  float front_sprocket, rear_sprocket;  // stock tooth counts
  float gear_ratio[GEAR_COUNT];         // 1st..6th; -1 where the gearbox has no such gear
  float engine_inertia;                 // slug·ft²
  float driveline_stiffness;            // lbf·ft/rad
  float driveline_damping;
  float closed_torque[TORQUE_POINTS];  // lbf·ft at closed throttle, entry k at k * 500 rpm
  float open_torque[TORQUE_POINTS];    // lbf·ft at full throttle
  float shift_down_rpm, shift_up_rpm, max_rpm;
  float state_offset[3];  // 0, 1/12, 1/12: read only by the state reconstruction
  float rider_pos[3];
  float state_rider_offset[2];  // -2/3, 1/2: read only by the state reconstruction
  float rider_mass;
  const char* model_files[BIKE_MODEL_FILES];  // "@" names, indexed by BikeModelFile
  const char* model_base;                     // the name the per-model files are built from
  RiderPosePoints rider_pose;
  const float (*rider_bone_centres)[3];  // nine shared points of the skinned rider models
};

// The BIKE_INFO_COUNT rows in table order, complete before main runs.
extern const BikeInfo* const bike_info_table;

// The row named exactly `name` (the last match wins). An unknown name takes the first row
// whose name contains "125" when the request contains "125", else the first containing
// "250f", and posts "bike info for '%.20s' not found using '%.20s' instead".
const BikeInfo* bike_info_find(const char* name);
