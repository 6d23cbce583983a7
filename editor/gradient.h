// Editor gradients: height profiles laid along straight lines, their values for the gradient
// brushes, the placement and profile tools, and the track's "edinfo" file that keeps them.
#pragma once

#include <cstdint>
#include <vector>

struct GradientPoint {
  float position;  // distance from the start along the line (ft)
  float height;    // ft
};

constexpr uint8_t SEGMENT_LINE = 0;
constexpr uint8_t SEGMENT_CURVE = 1;

struct Gradient {
  float x0, z0;  // start of the line
  float x1, z1;  // end of the line
  std::vector<GradientPoint> points;  // increasing position
  std::vector<uint8_t> segment;       // per point: SEGMENT_CURVE = curved piece to the next
};

// Profile of one gradient. A piece of zero width has slope 0; with fewer than two points every
// slope is 0, and without points the profile is 0 everywhere.
float gradient_piece_slope(const Gradient& g, int piece);
float gradient_point_slope(const Gradient& g, int point);
float gradient_profile(const Gradient& g, float x);
float gradient_length(const Gradient& g);
// Values at a world point: along the line, and by distance from the start (behind the start:
// from the line). A line of zero length measures from its start in every direction.
float gradient_linear_at(const Gradient& g, float x, float z);
float gradient_radial_at(const Gradient& g, float x, float z);

// The same for the editor's selected gradient; 0 without one.
float gradient_linear_value(float x, float z);
float gradient_radial_value(float x, float z);
Gradient* gradient_selected();

// "New Gradient": a flat line of 50 ft from the window centre, selected.
void gradient_new();
// "Copy Gradient": the selected gradient shifted 10 ft sideways, selected.
void gradient_copy();
// "Flatten" and 'f': two points at height 0 spanning the line.
void gradient_flatten();
// "Set From Terrain": the profile of the committed ground under the line, thinned.
void gradient_from_terrain();
// "Segment Type" changed: the selected point's flag.
void gradient_set_segment(int type);

// Tools 9 ("Gradient Placement") and 10 ("Gradient Edit").
void gradient_placement_press();
void gradient_placement_drag();
void gradient_placement_release();
void gradient_edit_press();
void gradient_edit_drag();

// The track's gradients: "@" + track directory + "/edinfo".
void edinfo_read();
bool edinfo_write();
