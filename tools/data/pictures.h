// Pictures the generator paints: ground tiles, sky, track objects, flaggers, the track map and
// the shaded overview. Pixels are top row first, channels R, G, B (and A).
#pragma once

#include <cstdint>
#include <vector>

#include "tools/data/course.h"
#include "tools/data/dataset.h"
#include "tools/data/ground.h"

struct Picture {
  std::vector<uint8_t> pixels;
  int width = 0, height = 0, depth = 0;
};

// Seamless value noise in 0..1 with the given period in cells (tiles with itself).
float picture_noise(float x, float y, int period, int salt);

// Average colour of each ground tile kind as painted, for the map and overview.
void picture_tile_colour(int tile, uint8_t rgb[3]);

// Adds the ground tile textures, roost sprite, sky faces, reflection map, lens flare, trees,
// banners, hay bale texture and flagger pictures.
void pictures_add_assets(DataSet* set);

// The HUD map: the field seen from above, x to the right and z downward, track opaque.
Picture picture_track_map(const Course& course, const Ground& ground, int size);
// A large shaded view of the whole field with the ground colours, shading, the trees and
// banners of the track's "billboards" and its hay bales.
Picture picture_overview(const Course& course, const Ground& ground, const std::vector<uint8_t>& shading,
                         const DataSet& set, int size);

// PNG bytes of a picture (depth 1, 3 or 4).
std::vector<uint8_t> picture_png(const Picture& picture);
