// The ".vm" reader and clean-up, the model cache with level-of-detail chains and generations,
// CPU skinning and the POV-Ray export, on small hand-written model files.
#include "render/model.h"

#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <zlib.h>

#include "core/console.h"
#include "files/vfs.h"
#include "tests/support/temp_dir.h"

namespace {

std::vector<std::string>& console_lines() {
  static std::vector<std::string> lines;
  return lines;
}

struct ConsoleCapture {
  ConsoleCapture() {
    console_lines().clear();
    console_set_display_hook([](const char* text) { console_lines().push_back(text); });
  }
  ~ConsoleCapture() { console_set_display_hook(nullptr); }
};

Model* parse(const std::string& text, ModelReadReport* report = nullptr) {
  return model_parse(reinterpret_cast<const uint8_t*>(text.data()), text.size(), "m.vm", report);
}

int part_count(const Model* m) {
  int n = 0;
  for (; m; m = m->next_part) ++n;
  return n;
}

// A unit square in the z = 0 plane facing +z, texture u along +x and file v along +y.
const char* SQUARE_VERTICES =
    "0 0 0  0 0 1  0 0\n"
    "1 0 0  0 0 1  1 0\n"
    "1 1 0  0 0 1  1 1\n"
    "0 1 0  0 0 1  0 1\n";
const char* SQUARE_TRIANGLES = "0 1 2\n0 2 3\n";

TEST(ModelRead, PlainFormIsOneWhiteRigidPartWithFlippedV) {
  Model* m = parse(std::string("4 2\n") + SQUARE_VERTICES + SQUARE_TRIANGLES);
  ASSERT_NE(m, nullptr);
  EXPECT_TRUE(m->plain_form);
  EXPECT_EQ(part_count(m), 1);
  EXPECT_EQ(m->vertex_count, 4);
  EXPECT_EQ(m->triangle_count, 2);
  EXPECT_EQ(m->bone_count, 0);
  EXPECT_EQ(m->shininess, 32);
  EXPECT_EQ(m->alpha, 1);
  EXPECT_EQ(m->color[0], 1);
  EXPECT_FALSE(m->has_env_parts);
  EXPECT_FLOAT_EQ(m->texcoords[2 * 2 + 1], 0.0f);  // file v 1 becomes 0
  EXPECT_FLOAT_EQ(m->texcoords[2 * 1 + 1], 1.0f);
  // The stored v runs down the square, so the tangent that keeps (t, b, n) right-handed with
  // the normal along +z points along -x.
  for (int v = 0; v < 4; ++v) {
    EXPECT_NEAR(m->tangents[3 * v], -1.0f, 1e-6) << v;
    EXPECT_NEAR(m->tangents[3 * v + 1], 0.0f, 1e-6) << v;
  }
  EXPECT_TRUE(m->bind_positions.empty());
  model_free(m);
}

TEST(ModelRead, PartsUntilOneFails) {
  const std::string part = std::string("4 2\n") + SQUARE_VERTICES + SQUARE_TRIANGLES;
  const std::string chrome = std::string("-1 0.5 0.2 0.3 0.4 ") + part;
  struct Case {
    const char* what;
    std::string text;
    int parts;  // 0 = no model
  } cases[] = {
      {"one part", "VM1 32 1 1 1 1 " + part, 1},
      {"two parts, the second environment-mapped", "VM1 8 1 1 1 1 " + part + chrome, 2},
      {"a truncated second part ends the chain", "VM1 8 1 1 1 1 " + part + "8 1 1 1 1 4 2 0 0 0", 1},
      {"a truncated first part is no model", "VM1 8 1 1 1 1 4 2 0 0 0 1", 0},
      {"unknown version", "VM3 32 1 1 1 1 " + part, 0},
      {"VM without a version", "VM 32x", 0},
      {"empty file", "", 0},
      {"plain form cut short", "4 2\n0 0 0", 0},
      {"a huge vertex count with no data behind it", "VM1 32 1 1 1 1 2000000000 1 0 0 0", 0},
      {"negative triangle count", "VM1 32 1 1 1 1 4 -1 " + std::string(SQUARE_VERTICES), 0},
      {"more bones than a skinned part may name", "VM2 11 rig 32 1 1 1 1 0 0", 0},
      {"a number beyond float range", "VM1 1e999 1 1 1 1 " + part, 0},
      {"hexadecimal is not a number here", "VM1 0x20 1 1 1 1 " + part, 0},
  };
  for (const Case& c : cases) {
    Model* m = parse(c.text);
    EXPECT_EQ(part_count(m), c.parts) << c.what;
    model_free(m);
  }
  Model* m = parse("VM1 8 1 1 1 1 " + part + chrome);
  ASSERT_NE(m, nullptr);
  EXPECT_TRUE(m->has_env_parts);
  EXPECT_EQ(m->alpha, 1);  // a positive shininess ignores the alpha value
  const Model* env = m->next_part;
  EXPECT_EQ(env->shininess, -1);
  EXPECT_EQ(env->alpha, 0.5f);
  EXPECT_EQ(env->color[2], 0.4f);
  model_free(m);
}

TEST(ModelRead, DegenerateTrianglesAreDroppedAndCountedOncePerFile) {
  // Three points plus one at the same place as point 0: a repeated index, an index past the
  // end, a negative index and a sliver whose area falls below the threshold are all dropped.
  TempDir home;
  set_search_dirs(home);
  home.write("bad.vm",
             "VM1 32 1 1 1 1 5 6\n"
             "0 0 0 0 0 1 0 0\n1 0 0 0 0 1 1 0\n0 1 0 0 0 1 0 1\n0 0 0 0 0 1 0 0\n1e-13 1e-13 0 0 0 1 0 0\n"
             "0 1 2\n0 0 1\n0 1 5\n-1 1 2\n0 3 1\n0 1 4\n"
             "32 1 1 1 1 3 2\n0 0 0 0 0 1 0 0\n1 0 0 0 0 1 1 0\n0 1 0 0 0 1 0 1\n0 1 2\n2 2 2\n");
  ConsoleCapture console;
  Model* m = model_read("@bad.vm");
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->triangle_count, 1);
  EXPECT_EQ(m->next_part->triangle_count, 1);
  ASSERT_EQ(console_lines().size(), 1u);
  EXPECT_EQ(console_lines()[0], "6 degenerate triangles deleted in @bad.vm");
  // A vertex no triangle uses still gets a unit tangent.
  EXPECT_EQ(m->tangents[3 * 3], 1.0f);
  model_free(m);
  vfs_shutdown();
}

TEST(ModelRead, BoneWeightsKeepFourAndWarnOncePerPart) {
  // Two vertices weighted 0.5 to each of five bones and one weighted to none, over 5 bones.
  const std::string five = "VM2 5 rig\n32 1 1 1 1 3 1\n"
                           "0 0 0 0 0 1 0 0 .5 .5 .5 .5 .5\n"
                           "1 0 0 0 0 1 1 0 .5 .5 .5 .5 .5\n"
                           "0 1 0 0 0 1 0 1 0 0 0 0 0\n0 1 2\n";
  ConsoleCapture console;
  ModelReadReport report;
  Model* m = parse(five + "32 1 1 1 1 3 1\n"
                          "0 0 0 0 0 1 0 0 0 0 0 0 2\n"
                          "1 0 0 0 0 1 1 0 1 0 3 0 0\n"
                          "0 1 0 0 0 1 0 1 .5 .5 .5 .5 .5\n0 1 2\n",
                   &report);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->bone_count, 5);
  // The fifth bone replaces the first of the equally small slots.
  const std::vector<int32_t> first_bones(m->bone_indices.begin(), m->bone_indices.begin() + 4);
  EXPECT_EQ(first_bones, (std::vector<int32_t>{4, 1, 2, 3}));
  for (int k = 0; k < 4; ++k) {
    EXPECT_FLOAT_EQ(m->bone_weights[k], 0.25f);
    EXPECT_FLOAT_EQ(m->bone_weights[8 + k], 0.25f);  // no weight at all: a quarter each
  }
  const Model* second = m->next_part;
  EXPECT_FLOAT_EQ(second->bone_weights[0], 1.0f);  // bone 4 alone
  EXPECT_EQ(second->bone_indices[0], 4);
  EXPECT_FLOAT_EQ(second->bone_weights[4], 0.25f);  // bone 0 at 1 of 4
  EXPECT_FLOAT_EQ(second->bone_weights[5], 0.75f);  // bone 2 at 3 of 4
  EXPECT_EQ(second->bone_indices[5], 2);
  EXPECT_EQ(report.weight_warnings, 2);
  ASSERT_EQ(console_lines().size(), 2u);
  EXPECT_EQ(console_lines()[0], "Warning: vertex with more than 4 bone influences in 'm.vm'");
  EXPECT_EQ(m->bind_positions, m->positions);
  EXPECT_EQ(m->bind_tangents, m->tangents);
  model_free(m);
}

TEST(ModelRead, TangentsFollowTheTextureOrTheLongerEdge) {
  struct Case {
    const char* what;
    const char* vertices;
    float tangent[3];
  } cases[] = {
      // File v up is stored flipped, so (t, b, n) right-handed puts t along -x.
      {"u along +x", "0 0 0 0 0 1 0 0  1 0 0 0 0 1 1 0  0 1 0 0 0 1 0 1", {-1, 0, 0}},
      {"mirrored u keeps the handedness", "0 0 0 0 0 1 1 0  1 0 0 0 0 1 0 0  0 1 0 0 0 1 1 1", {-1, 0, 0}},
      {"u along +y", "0 0 0 0 0 1 0 0  1 0 0 0 0 1 0 1  0 1 0 0 0 1 1 0", {0, 1, 0}},
      {"no mapping: the longer edge", "0 0 0 0 0 1 0 0  1 0 0 0 0 1 0 0  0 2 0 0 0 1 0 0", {0, 1, 0}},
      {"no mapping, equal edges: the second", "0 0 0 0 0 1 0 0  1 0 0 0 0 1 0 0  0 1 0 0 0 1 0 0", {0, 1, 0}},
  };
  for (const Case& c : cases) {
    Model* m = parse(std::string("3 1 ") + c.vertices + " 0 1 2");
    ASSERT_NE(m, nullptr) << c.what;
    ASSERT_EQ(m->triangle_count, 1) << c.what;
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(m->tangents[i], c.tangent[i], 1e-6) << c.what;
    model_free(m);
  }
}

const char* TRIANGLE = "VM1 32 1 1 1 1 3 1 0 0 0 0 0 1 0 0 1 0 0 0 0 1 1 0 0 1 0 0 0 1 0 1 0 1 2\n";

std::string gzip(const std::string& bytes) {
  z_stream z = {};
  deflateInit2(&z, 9, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);  // 31: a gzip header
  std::string out(deflateBound(&z, bytes.size()) + 32, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  z.avail_in = uInt(bytes.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = uInt(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

struct ModelCache : ::testing::Test {
  TempDir home;
  ConsoleCapture console;
  void SetUp() override {
    set_search_dirs(home);
    models_set_generation(1);
  }
  void TearDown() override {
    models_purge(true);
    models_set_release_hook(nullptr);
    debug_level = 0;
    vfs_shutdown();
  }
};

TEST_F(ModelCache, ByNameWithCaseFallback) {
  home.write("objects/Box.vm", TRIANGLE);
  Model* m = model_load("@objects/Box.vm");
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->name, "@objects/Box.vm");
  EXPECT_EQ(model_load("@objects/Box.vm"), m);
  EXPECT_TRUE(console_lines().empty());
  EXPECT_EQ(model_load("@objects/box.vm"), m);
  ASSERT_EQ(console_lines().size(), 1u);
  EXPECT_EQ(console_lines()[0], "Warning: case mismatch on '@objects/box.vm'");
  EXPECT_EQ(model_load("@objects/missing.vm"), nullptr);
  EXPECT_EQ(models_cached().size(), 1u);
}

TEST_F(ModelCache, LevelOfDetailChainFromTheIndexNearestFirst) {
  home.write("m.vm", TRIANGLE);
  home.write("m_lod5.vm", TRIANGLE);
  home.write("m_lod4.vm.gz", gzip(TRIANGLE));
  home.write("m_lod2-coarse.vm", TRIANGLE);  // anything may follow the number
  home.write("m_lod2.vm", "not a model");    // unreadable: left out
  home.write("m_lodx.vm", TRIANGLE);         // no number
  home.write("mm_lod3.vm", TRIANGLE);        // another model's variant
  home.write("m_lod6.vm", TRIANGLE);
  home.write("m_lod6.vm.gz", gzip(TRIANGLE));  // the same level stored twice is read once
  Model* m = model_load("@m.vm");
  ASSERT_NE(m, nullptr);
  std::vector<float> distances;
  for (const Model* lod = m->next_lod; lod; lod = lod->next_lod) distances.push_back(lod->lod_distance);
  EXPECT_EQ(distances, (std::vector<float>{4, 16, 32, 64}));
  EXPECT_EQ(m->lod_distance, 0);
  EXPECT_TRUE(console_lines().empty());
  // Names without "@" are plain paths: no variants looked up.
  Model* plain = model_load(home.file("m.vm").c_str());
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(plain->next_lod, nullptr);
}

TEST_F(ModelCache, PurgeFreesStaleGenerationsWithTheirVariants) {
  for (const char* name : {"keep.vm", "stale.vm", "used.vm", "forever.vm", "stale_lod3.vm"}) home.write(name, TRIANGLE);
  models_set_generation(0);
  ASSERT_NE(model_load("@forever.vm"), nullptr);
  models_set_generation(1);
  ASSERT_NE(model_load("@stale.vm"), nullptr);
  ASSERT_NE(model_load("@used.vm"), nullptr);
  models_set_generation(2);
  ASSERT_NE(model_load("@keep.vm"), nullptr);
  ASSERT_NE(model_load("@used.vm"), nullptr);  // moved to generation 2
  static int released;
  released = 0;
  models_set_release_hook([](Model*) { ++released; });
  debug_level = 1;
  models_purge(false);
  std::vector<std::string> left;
  for (const Model* m : models_cached()) left.push_back(m->name);
  EXPECT_EQ(left, (std::vector<std::string>{"@forever.vm", "@used.vm", "@keep.vm"}));
  EXPECT_EQ(released, 2);  // stale.vm and its variant
  EXPECT_EQ(console_lines(), (std::vector<std::string>{"deleting model @stale.vm"}));
  models_purge(true);
  EXPECT_TRUE(models_cached().empty());
  EXPECT_EQ(released, 5);
}

TEST(ModelLod, VariantUsedOnceScaledDistanceReachesItsLevelMinusBias) {
  Model base, lod4, lod5;
  lod4.lod_distance = 16;
  lod5.lod_distance = 32;
  base.next_lod = &lod4;
  lod4.next_lod = &lod5;
  const float camera[3] = {0, 0, 0};
  struct Case {
    float distance, scale, bias;
    const Model* expected;
  } cases[] = {
      {10, 1, 0, &base}, {16, 1, 0, &lod4}, {31.9f, 1, 0, &lod4}, {32, 1, 0, &lod5},
      {8, 2, 0, &lod4},  // the scale stretches distances
      {0, 0, 0, &base},  // scale 0: never a coarser level
      {1, 1, 15.5f, &lod4}, {0, 1, 20, &lod4},  // a bias beyond the level makes it always used
  };
  for (const Case& c : cases) {
    const float at[3] = {0, c.distance * 0.6f, c.distance * 0.8f};
    EXPECT_EQ(model_select_lod(&base, at, camera, c.scale, c.bias), c.expected)
        << c.distance << " " << c.scale << " " << c.bias;
  }
  base.next_lod = nullptr;
  lod4.next_lod = nullptr;
}

TEST(ModelSkin, BlendsTheBoneTransformsFromTheBindPose) {
  // One vertex at (1, 0, 0) weighted 1:3 to bone 0 (turned a quarter about z, centre at the
  // origin, moved up 2) and bone 1 (unturned, centre (1, 0, 0), moved to (0, 0, 5)).
  Model* m = parse(
      "VM2 2 arm 32 1 1 1 1 3 1\n"
      "1 0 0 1 0 0 0 0 1 3\n0 1 0 1 0 0 1 0 0 1\n0 0 1 1 0 0 0 1 1 0\n0 1 2\n");
  ASSERT_NE(m, nullptr);
  ModelBone bones[2] = {
      {{0, 0, 0}, {0, 2, 0}, {0, 1, 0, -1, 0, 0, 0, 0, 1}},
      {{1, 0, 0}, {0, 0, 5}, {1, 0, 0, 0, 1, 0, 0, 0, 1}},
  };
  EXPECT_FALSE(model_skin(m, bones, 1));
  ASSERT_TRUE(model_skin(m, bones, 2));
  // Bone 0 takes (1,0,0) to (0,1,0) + (0,2,0); bone 1 to (0,0,5).
  EXPECT_NEAR(m->positions[0], 0.0f, 1e-6);
  EXPECT_NEAR(m->positions[1], 0.25f * 3, 1e-6);
  EXPECT_NEAR(m->positions[2], 0.75f * 5, 1e-6);
  // Normal (1,0,0): 1/4 of (0,1,0) plus 3/4 of (1,0,0), normalised.
  const float length = std::sqrt(0.25f * 0.25f + 0.75f * 0.75f);
  EXPECT_NEAR(m->normals[0], 0.75f / length, 1e-6);
  EXPECT_NEAR(m->normals[1], 0.25f / length, 1e-6);
  // The bind pose stays, so posing again starts afresh.
  EXPECT_EQ(m->bind_positions[0], 1.0f);
  ASSERT_TRUE(model_skin(m, bones, 2));
  EXPECT_NEAR(m->positions[2], 0.75f * 5, 1e-6);
  model_free(m);
}

TEST(ModelPov, MeshBlocksWrappedInAUnionForSeveralParts) {
  TempDir home;
  set_search_dirs(home);
  Model* m = parse(std::string("VM1 32 1 1 1 1 3 1 0 0 0 0 0 1 0 0 1 0 0 0 0 1 1 0 0 1 0 0 0 1 0 1 0 1 2\n") +
                   "32 1 1 1 1 3 1 0 0 0 0 0 1 0 0 1 0 0 0 0 1 1 0 0 1 0 0 0 1 0 1 0 1 2\n");
  ASSERT_NE(m, nullptr);
  VfsFile* file = vfs_open("@out.pov", "wb");
  model_write_pov(file, m);
  vfs_close(file);
  const std::string mesh =
      "mesh2 {\n"
      "\tvertex_vectors {\n\t\t3\n\t\t<0.000000,0.000000,0.000000>,\n\t\t<1.000000,0.000000,0.000000>,\n"
      "\t\t<0.000000,1.000000,0.000000>\n\t}\n"
      "\tnormal_vectors {\n\t\t3\n\t\t<0.000000,0.000000,1.000000>,\n\t\t<0.000000,0.000000,1.000000>,\n"
      "\t\t<0.000000,0.000000,1.000000>\n\t}\n"
      "\tuv_vectors {\n\t\t3\n\t\t<0.000000,1.000000>,\n\t\t<1.000000,1.000000>,\n\t\t<0.000000,0.000000>\n\t}\n"
      "\tface_indices {\n\t\t1\n\t\t<0,1,2>\n\t}\n"
      "}\n";
  EXPECT_EQ(read_file_bytes(home.file("out.pov")), "union {\n" + mesh + mesh + "}\n");
  Model* single = m->next_part;
  m->next_part = nullptr;
  file = vfs_open("@one.pov", "wb");
  model_write_pov(file, single);
  vfs_close(file);
  EXPECT_EQ(read_file_bytes(home.file("one.pov")), mesh);
  model_free(m);
  model_free(single);
  vfs_shutdown();
}

}  // namespace
