// skorvan-data: generates the default data set, packs it into the base archive and writes the
// source that tells the game the archive's digest.
//
//   skorvan-data --source DIR --out DIR --archive FILE [--digest-source FILE] [--overview FILE]
//
// --source holds the hand-written data files, packed as they are; --out receives the whole set
// as loose files (emptied first); --archive is the packed set; --digest-source a C++ source
// defining game_data_digest(), rewritten only when the digest changes; --overview a large
// shaded picture of the track for people to look at.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "files/digest.h"
#include "files/saf.h"
#include "tools/data/course.h"
#include "tools/data/dataset.h"
#include "tools/data/engine_sounds.h"
#include "tools/data/fonts.h"
#include "tools/data/ground.h"
#include "tools/data/models.h"
#include "tools/data/pictures.h"
#include "tools/data/series_files.h"
#include "tools/data/track_files.h"

namespace {

constexpr size_t GAME_DATA_CHECK_BYTES = 1048576;  // the game hashes this much of the archive

bool archive_digest(const std::string& path, char hex[2 * DIGEST_SIZE + 1]) {
  FILE* in = fopen(path.c_str(), "rb");
  if (!in) return false;
  Digest digest;
  digest_init(&digest);
  uint8_t buffer[4096];
  size_t total = 0, got;
  while (total < GAME_DATA_CHECK_BYTES && (got = fread(buffer, 1, std::min(sizeof buffer, GAME_DATA_CHECK_BYTES - total), in)) > 0) {
    digest_update(&digest, buffer, got);
    total += got;
  }
  fclose(in);
  digest_to_hex(digest_final(&digest), hex);
  return true;
}

// Rewrites the file only when its content changes, so the build recompiles nothing needlessly.
bool write_if_changed(const std::string& path, const std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (in && std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()) == text) return true;
  FILE* out = fopen(path.c_str(), "wb");
  if (!out) return false;
  bool ok = fwrite(text.data(), 1, text.size(), out) == text.size();
  return fclose(out) == 0 && ok;
}

int usage() {
  fprintf(stderr, "usage: skorvan-data --source DIR --out DIR --archive FILE [--digest-source FILE] [--overview FILE]\n");
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string source, out, archive, digest_source, overview;
  for (int i = 1; i < argc; i++) {
    std::string* target = nullptr;
    if (!strcmp(argv[i], "--source")) target = &source;
    else if (!strcmp(argv[i], "--out")) target = &out;
    else if (!strcmp(argv[i], "--archive")) target = &archive;
    else if (!strcmp(argv[i], "--digest-source")) target = &digest_source;
    else if (!strcmp(argv[i], "--overview")) target = &overview;
    if (!target || i + 1 >= argc) return usage();
    *target = argv[++i];
  }
  if (source.empty() || out.empty() || archive.empty()) return usage();

  Course course;
  course_build(&course);
  Ground ground;
  ground_build(course, &ground);
  ground_cast_shadows(&ground, track_light().sun);

  DataSet set;
  if (!dataset_add_tree(&set, source)) return 1;
  pictures_add_assets(&set);
  models_add_assets(&set);
  engine_sounds_add(&set);
  fonts_add_assets(&set);
  track_add_files(course, ground, &set);
  series_add_files(&set);
  std::vector<uint8_t> shading = track_add_shading(ground, &set);
  if (shading.empty()) {
    fprintf(stderr, "skorvan-data: can't bake the shading\n");
    return 1;
  }
  if (!dataset_write(set, out)) return 1;
  if (!saf_pack_directory(out.c_str(), archive.c_str())) {
    fprintf(stderr, "skorvan-data: can't pack '%s' into '%s'\n", out.c_str(), archive.c_str());
    return 1;
  }

  char hex[2 * DIGEST_SIZE + 1];
  if (!archive_digest(archive, hex)) {
    fprintf(stderr, "skorvan-data: can't read '%s'\n", archive.c_str());
    return 1;
  }
  if (!digest_source.empty()) {
    std::string text =
        "// Written by skorvan-data: the digest of the first MiB of the base archive built with this program.\n"
        "#include \"tools/data/game_data.h\"\n\n"
        "const char* game_data_digest() { return \"" + std::string(hex) + "\"; }\n";
    if (!write_if_changed(digest_source, text)) {
      fprintf(stderr, "skorvan-data: can't write '%s'\n", digest_source.c_str());
      return 1;
    }
  }
  if (!overview.empty()) {
    std::vector<uint8_t> png = picture_png(picture_overview(course, ground, shading, set, 1024));
    FILE* f = fopen(overview.c_str(), "wb");
    if (!f || fwrite(png.data(), 1, png.size(), f) != png.size() || fclose(f) != 0) {
      fprintf(stderr, "skorvan-data: can't write '%s'\n", overview.c_str());
      return 1;
    }
  }
  printf("skorvan-data: %zu files, loop %.0f ft, digest %s\n", set.files.size(), course.loop_length, hex);
  return 0;
}
