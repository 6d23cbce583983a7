// Ground erosion under the wheels: each wheel's trace of averaged contact samples (a stroke),
// its compact byte form for the network and demos, the queue of decoded points and the two
// ground shapes (crater and heap) that change the height field a bounded number per step.
#pragma once

#include <cstddef>
#include <cstdint>

struct Bike;
struct Terrain;
struct WheelState;

constexpr int STROKE_POINT_MAX = 64;
constexpr int STROKE_POINT_SAMPLES = 16;       // samples averaged into one point at most
constexpr float STROKE_POINT_DISTANCE = 1;     // ft of travel averaged into one point at most
constexpr float STROKE_STEP_SPREAD_MAX = 64;   // ft, largest spread of point steps per axis
constexpr int32_t STROKE_CLOSE_TICKS = 64;     // a stroke is sent this long after its last point
constexpr int STROKE_HEADER_BYTES = 17;        // format tag, step bounds and point 0
constexpr int STROKE_POINT_BYTES = 4;          // every further point
constexpr int STROKE_DATA_MAX = STROKE_HEADER_BYTES + STROKE_POINT_BYTES * (STROKE_POINT_MAX - 1);
constexpr uint8_t STROKE_FORMAT_TAG = 1;
constexpr int ERODE_QUEUE_SIZE = 131072;
// Queued points within this horizontal distance of the local rider wait (ft), at most
// ERODE_DEFER_TICKS steps.
constexpr float ERODE_DEFER_DISTANCE = 10;
constexpr int32_t ERODE_DEFER_TICKS = 256;

// One averaged contact sample of a wheel. (ex, ez) is the direction of the horizontal ground
// force on the tyre; its length 0.125..1 is the strength.
struct StrokePoint {
  float x, z;  // ft
  float ex, ez;
  int32_t samples;  // steps averaged, 1..16
};

// A wheel's trace so far with the samples collected for its next point.
struct ErodeStroke {
  StrokePoint points[STROKE_POINT_MAX];
  float lo_step[2], hi_step[2];  // smallest and largest step between points, x and z (ft)
  int32_t last_tick;             // sim_tick when the last point was added
  int32_t point_count;
  float last_x, last_z;  // the previous sample's contact point
  float sum_x, sum_z, sum_ex, sum_ez;
  float run_distance;  // ft the contact point moved while these samples were collected
  int32_t sample_count;
};

struct ErodeQueueEntry {
  float x, z, ex, ez;
  int32_t samples;
};

// The ring of decoded points waiting to change the ground; lives for the program run.
struct ErodeQueue {
  ErodeQueueEntry entries[ERODE_QUEUE_SIZE];
  int32_t count;
  int32_t read;
  bool full_reported;   // "Erode queue full!" is printed once per run
  bool deferred;        // a point near the local rider is waiting
  int32_t defer_until;  // tick after which it waits no longer
  bool ground_changed;  // heights differ from base_heights since the last restore
};
extern ErodeQueue erode_queue;

// Where a finished stroke's bytes go. Without a hook they are decoded and queued here
// (offline); the session installs one that sends them to the server while connected.
using ErodeSubmitHook = void (*)(const uint8_t* data, int length);
void erode_set_submit_hook(ErodeSubmitHook hook);

void erode_stroke_clear(ErodeStroke* stroke);

// Samples both wheels of a bike (front, then rear) into their strokes, submitting strokes
// that are full or finished. Call after the world step, while erosion is on.
void bike_erode(Bike* bike, const Terrain* terrain);
// One wheel's sample; front applies the tile's front factor.
void wheel_erode(WheelState* wheel, ErodeStroke* stroke, const Terrain* terrain, bool front);
// Closes the pending point into the stroke (nothing without samples); a full stroke or one
// whose step spread grows too large is submitted first and a new one begun.
void erode_stroke_add_point(ErodeStroke* stroke, float extent);

// Bytes of a stroke with at least one point (at most STROKE_DATA_MAX); returns the length.
int erode_stroke_encode(const ErodeStroke* stroke, float extent, uint8_t* out);
// Decodes stroke bytes into points, calling `point` for each that lies on the field
// [0, extent) x [0, extent). Short, untagged or hostile data yields nothing or fewer points.
// Returns the number of points handed on.
int erode_stroke_decode(const uint8_t* data, size_t length, float extent,
                        void (*point)(const StrokePoint& p, void* user), void* user);
// Decodes and queues the points (received strokes, demo records, offline strokes).
void erode_stroke_apply(const uint8_t* data, size_t length, float extent);
void erode_stroke_submit(const uint8_t* data, int length, float extent);

// Changes the ground for the oldest queued points, at most (count / 64) + 32 of them.
// local_xz (the local rider's frame position, x and z) may be null; strength = erosion
// rate / 1024.
void erode_queue_process(Terrain* terrain, const float* local_xz, float strength);
// Empties the queue and puts every height back to base_heights if erosion changed any
// (a new race on the same track starts on untouched ground).
void erode_ground_restore(Terrain* terrain);

// A crater of radius R (ft) and depth amount (ft, negative digs) with smooth falloff;
// returns the volume moved (height x grid points). Grid points off the field are skipped.
float terrain_dig(Terrain* terrain, float x, float z, float radius, float amount);
// The same footprint raised so that the volume (height x grid points) is spread over it.
void terrain_deposit(Terrain* terrain, float x, float z, float radius, float volume);
