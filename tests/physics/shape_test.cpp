// Shape files: the record layout, the bounding radius, rejection of malformed files, and the
// cache with private copies.
#include "physics/shape.h"

#include <cmath>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "files/vfs.h"
#include "tests/support/temp_dir.h"

namespace {

struct ShapeTest : ::testing::Test {
  TempDir root;
  void SetUp() override {
    set_search_dirs(root);
  }
  void TearDown() override {
    shape_cache_clear();
    vfs_shutdown();
  }
};

TEST_F(ShapeTest, ReadsSevenNumbersPerSphere) {
  root.write("two.shp", "2\n0.000000 1.000000 0.000000\n0.500000 0.700000 0.000000 0.000000\n"
                        "3 4 0 1 0.25 9 8\n");
  Shape* shape = shape_load("@two.shp");
  ASSERT_NE(shape, nullptr);
  ASSERT_EQ(shape->sphere_count, 2);
  EXPECT_EQ(shape->spheres[0].centre[1], 1);
  EXPECT_EQ(shape->spheres[0].radius, 0.5f);
  EXPECT_EQ(shape->spheres[0].friction, 0.7f);
  EXPECT_EQ(shape->spheres[1].centre[0], 3);
  EXPECT_EQ(shape->spheres[1].radius, 1);
  EXPECT_EQ(shape->spheres[1].friction, 0.25f);
  EXPECT_EQ(shape->spheres[1].spare[0], 9);
  EXPECT_EQ(shape->spheres[1].spare[1], 8);
  EXPECT_EQ(shape->spheres[1].spare[2], 0);
  EXPECT_FLOAT_EQ(shape->bounding_radius, 6);  // |(3, 4, 0)| + 1
  shape_free(shape);
}

TEST_F(ShapeTest, MalformedFilesAreRefused) {
  const char* cases[] = {
      "",                                // no count
      "-1\n",                            // negative count
      "1025\n",                          // more spheres than allowed
      "99999999999999999999\n",          // count does not fit
      "2\n0 0 0 1 1 0 0\n0 0 0 1 1 0\n", // second record one number short
      "1\n0 0 0 0 1 0 0\n",              // zero radius
      "1\n0 0 0 -1 1 0 0\n",             // negative radius
      "1\n0 0 0 1 -0.5 0 0\n",           // negative friction
      "1\n0 x 0 1 1 0 0\n",              // not a number
      "1\n0 0 0 1 1\n",                  // record cut short
  };
  int n = 0;
  for (const char* text : cases) {
    std::string name = "bad" + std::to_string(n++) + ".shp";
    root.write(name, text);
    EXPECT_EQ(shape_load(("@" + name).c_str()), nullptr) << text;
  }
  EXPECT_EQ(shape_load("@missing.shp"), nullptr);
}

TEST_F(ShapeTest, EmptyShapeIsValid) {
  root.write("empty.shp", "0\n");
  Shape* shape = shape_load("@empty.shp");
  ASSERT_NE(shape, nullptr);
  EXPECT_EQ(shape->sphere_count, 0);
  EXPECT_EQ(shape->bounding_radius, 0);
  shape_free(shape);
}

// A loaded file is kept by name; every caller gets a copy of its own.
TEST_F(ShapeTest, CacheGivesPrivateCopies) {
  std::string path = root.write("one.shp", "1\n0 0 2 0.5 1 0 0\n");
  Shape* first = shape_load("@one.shp");
  ASSERT_NE(first, nullptr);
  first->spheres[0].radius = 9;
  std::filesystem::remove(path);
  Shape* second = shape_load("@one.shp");
  ASSERT_NE(second, nullptr);
  EXPECT_NE(first, second);
  EXPECT_EQ(second->spheres[0].radius, 0.5f);
  EXPECT_FLOAT_EQ(second->bounding_radius, 2.5f);
  shape_free(first);
  shape_free(second);
}

}  // namespace
