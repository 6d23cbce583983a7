// Small hand-made height fields for the terrain tests.
#pragma once

#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "track/terrain.h"

struct TerrainDeleter {
  void operator()(Terrain* t) const {
    terrain_free(t);
    delete t;
  }
};
using TerrainPtr = std::unique_ptr<Terrain, TerrainDeleter>;

// A field of the given level and spacing with heights given row by row (P * P values).
inline TerrainPtr make_field(int level, float spacing, const std::vector<float>& heights) {
  TerrainPtr t(new Terrain{});
  EXPECT_TRUE(terrain_allocate(t.get(), level, spacing, -100, 100));
  size_t samples = size_t(t->grid_size) * t->grid_size;
  EXPECT_EQ(heights.size(), samples);
  for (size_t k = 0; k < samples && k < heights.size(); k++) t->heights[k] = t->base_heights[k] = heights[k];
  return t;
}

#include <string>

#include "core/console.h"
#include "files/vfs.h"
#include "tests/support/temp_dir.h"

// Collects the console messages posted while it lives.
struct ConsoleCapture {
  static std::vector<std::string>& lines() {
    static std::vector<std::string> captured;
    return captured;
  }
  ConsoleCapture() {
    lines().clear();
    console_set_display_hook([](const char* text) { lines().push_back(text); });
  }
  ~ConsoleCapture() { console_set_display_hook(nullptr); }
  std::string all() const {
    std::string out;
    for (const std::string& line : lines()) out += line + (line.empty() || line.back() != '\n' ? "\n" : "");
    return out;
  }
};

// Opens a file written into a temporary directory through the file system.
struct TextFile {
  TempDir dir;
  VfsFile* file = nullptr;
  explicit TextFile(const std::string& text) { file = vfs_open(dir.write("f", text).c_str(), "rb"); }
  ~TextFile() {
    if (file) vfs_close(file);
  }
};
