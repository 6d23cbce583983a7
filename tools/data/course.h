// The default track's course as data: the centre line of the loop and of the start straight,
// their widths, banking and the height profile of every jump, and the sampled form tools use.
#pragma once

#include <vector>

// One corner of the loop's centre-line polygon. The centre line runs straight from corner to
// corner and turns through each corner on an arc of the given radius (ft), so every bend has a
// known radius and the loop closes by construction.
struct CourseCorner {
  float x, z;    // polygon vertex (ft)
  float radius;  // arc radius of the bend at this vertex (ft)
  float width;   // track width through the bend (ft)
  float bank;    // cross slope across the bend, rise per ft toward the outside; < 0 is off-camber
  const char* name;
};

// A height profile key: `along` ft after the feature's start, the surface `height` ft above the
// natural ground. Keys are joined by straight lines and then rounded by smoothing, so faces are
// straight ramps with rounded transitions and lips.
struct CourseKey {
  float along, height;
};

enum CourseFeatureKind { FEATURE_TABLETOP, FEATURE_DOUBLE, FEATURE_TRIPLE, FEATURE_WHOOPS, FEATURE_RHYTHM, FEATURE_STEP };

// A jump or bump section on the straight that leaves corner `segment` (toward corner segment + 1),
// starting `offset` ft after that straight's first point.
struct CourseFeature {
  CourseFeatureKind kind;
  const char* name;
  int segment;
  float offset;
  std::vector<CourseKey> keys;
};

// The sampled centre line, one sample every COURSE_SAMPLE_STEP ft of arc length.
struct CourseSample {
  float x, z;        // centre point (ft)
  float s;           // distance along the path from its first sample (ft)
  float dx, dz;      // unit direction of travel
  float curvature;   // signed 1/radius (1/ft); > 0 turns to the rider's left
  float width;       // track width (ft)
  float bank;        // cross slope: the surface rises `bank` ft per ft toward the rider's left
  float lift;        // height of the profile above the natural ground (ft)
  int segment;       // straight or corner index the sample belongs to (-1 on the start straight)
};

constexpr float COURSE_SAMPLE_STEP = 0.5f;

// The start area: 40 gate pieces across a flat pad, facing -z, and a straight that funnels from
// the gate into the loop where the loop's own straight begins.
constexpr int COURSE_GATE_PIECES = 40;
constexpr float COURSE_GATE_SPACING = 3.25f;  // ft between pieces

struct Course {
  std::vector<CourseCorner> corners;
  std::vector<CourseFeature> features;
  std::vector<CourseSample> loop;   // closed: the last sample leads back to the first
  std::vector<CourseSample> start;  // from the gate line to where it joins the loop
  float loop_length;                // ft
  std::vector<float> straight_start;   // per corner i: where the straight to corner i + 1 begins (ft)
  std::vector<float> straight_length;  // and its length (ft)
  float gate_x, gate_z;             // centre of the gate line (ft)
  float finish_s;                   // position of the finish line along the loop (ft)
  int merge_index;                  // loop sample where the start straight ends
};

// Fills `course` with the default track "rabbithill" and samples it.
void course_build(Course* course);

// Position along `path` at distance s (wrapped for the loop), by the nearest sample.
const CourseSample& course_at(const std::vector<CourseSample>& path, float s, bool closed);
