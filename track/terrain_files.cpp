// Loading a track's ground from its directory (terrain.hf with binary heights or terrain.png,
// shading, shadows, tile table, tile map) and saving what the editor changed.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/console.h"
#include "core/loading.h"
#include "files/digest.h"
#include "files/replace.h"
#include "files/vfs.h"
#include "platform/vant.h"
#include "render/image.h"
#include "track/lighting.h"
#include "track/objects.h"
#include "track/terrain.h"

namespace {

// Height of code 1 as a fraction of the height range.
constexpr float CODE_STEP = 1.5259022e-05f;

struct TrackPath {
  char text[TRACK_DIR_MAX + 64];
};

TrackPath track_path(const Terrain* t, const char* name) {
  TrackPath p;
  snprintf(p.text, sizeof p.text, "@%s/%s", t->track_dir, name);
  return p;
}

// Opens a file of the track directory; a required one that is missing says so.
VfsFile* open_track_file(const Terrain* t, const char* name, bool required) {
  TrackPath path = track_path(t, name);
  VfsFile* file = vfs_open(path.text, "rb");
  if (!file && required) console_printf("Can't open '%.950s'", path.text);
  return file;
}

bool fail_heights(const char* first) {
  if (first) console_print(first);
  console_print("Error reading heights");
  return false;
}

// Fills the heights from codes, feeding each code's two bytes (low first) to the digest.
void store_code_row(Terrain* t, int row, const uint8_t* bytes, Digest* digest) {
  int size = t->grid_size;
  float scale = (t->max_height - t->min_height) * CODE_STEP;
  float* out = t->heights + size_t(row) * size;
  for (int col = 0; col < size; col++) {
    unsigned code = bytes[2 * col] | (unsigned(bytes[2 * col + 1]) << 8);
    out[col] = t->min_height + float(code) * scale;
  }
  digest_update(digest, bytes, size_t(size) * 2);
}

bool read_binary_heights(Terrain* t, VfsFile* file, Digest* digest) {
  std::vector<uint8_t> row_bytes(size_t(t->grid_size) * 2);
  for (int row = 0; row < t->grid_size; row++) {
    loading_progress("Loading heights");
    if (vfs_read(file, row_bytes.data(), int(row_bytes.size())) != int(row_bytes.size())) return false;
    store_code_row(t, row, row_bytes.data(), digest);
  }
  return true;
}

// Heights from terrain.png, extended by its last row and column or cropped to the field. An
// image that cannot be read leaves the flat field at min_height.
void read_png_heights(Terrain* t, Digest* digest) {
  GreyImage16 image;
  if (!image_load_png_grey16(track_path(t, "terrain.png").text, image) || image.width <= 0 || image.height <= 0)
    return;
  int size = t->grid_size;
  std::vector<uint8_t> row_bytes(size_t(size) * 2);
  for (int row = 0; row < size; row++) {
    loading_progress("Loading heights");
    const uint16_t* src = image.samples.data() + size_t(row < image.height ? row : image.height - 1) * image.width;
    for (int col = 0; col < size; col++) {
      uint16_t code = src[col < image.width ? col : image.width - 1];
      row_bytes[2 * col] = uint8_t(code & 0xff);
      row_bytes[2 * col + 1] = uint8_t(code >> 8);
    }
    store_code_row(t, row, row_bytes.data(), digest);
  }
}

// The header, the field and its heights. Messages as the player sees them on failure.
bool load_heights(Terrain* t) {
  VfsFile* file = open_track_file(t, "terrain.hf", true);
  if (!file) return false;
  int level = 0;
  float spacing = 0, min_height = 0, max_height = 0;
  int got = vfs_scanf(file, "%d %f %f %f ", &level, &spacing, &min_height, &max_height);
  // A level beyond the largest field, a spacing that is not a positive distance or a height
  // range that is not a number would make every later step meaningless: refused alike.
  bool sane = got == 4 && level >= 0 && level <= TERRAIN_LEVEL_MAX && spacing > 0 && std::isfinite(spacing) &&
              std::isfinite(min_height) && std::isfinite(max_height);
  if (!sane) {
    vfs_close(file);
    return fail_heights("Bad height field parameters");
  }
  char dir[TRACK_DIR_MAX];
  memcpy(dir, t->track_dir, sizeof dir);
  if (!terrain_allocate(t, level, spacing, min_height, max_height)) {
    vfs_close(file);
    return fail_heights(nullptr);
  }
  memcpy(t->track_dir, dir, sizeof dir);
  Digest digest;
  digest_init(&digest);
  if (vfs_getc(file) == ':') {
    if (!read_binary_heights(t, file, &digest)) {
      vfs_close(file);
      return fail_heights(nullptr);
    }
  } else {
    read_png_heights(t, &digest);
  }
  vfs_close(file);
  digest_final(&digest);
  if (debug_level >= 2) {
    char hex[2 * DIGEST_SIZE + 1];
    digest_to_hex(digest.result, hex);
    vant_log("%s\n", hex);
  }
  memcpy(t->base_heights, t->heights, size_t(t->grid_size) * t->grid_size * sizeof(float));
  loading_done("Loading heights");
  return true;
}

bool load_shading(Terrain* t) {
  bool doubled = false;
  VfsFile* file = open_track_file(t, "shadingx2.ppm", false);
  if (!file) {
    doubled = true;
    file = open_track_file(t, "shading.ppm", true);
    if (!file) return false;
  }
  std::vector<uint8_t> bytes;
  MipChain image;
  bool ok = image_read_all(file, bytes);
  vfs_close(file);
  if (ok) {
    ImageCursor in = image_cursor(bytes.data(), bytes.size());
    ImageKind kind = image_kind(bytes.data(), bytes.size());
    ok = (kind == IMAGE_KIND_PPM && image_decode_ppm(in, image)) ||
         (kind == IMAGE_KIND_V6 && image_decode_own(in, 3, image));
  }
  if (!ok) {
    console_print("Error reading shading");
    return false;
  }
  if (image.width != t->grid_size || image.height != t->grid_size) {
    console_printf("Bad shading dimensions (%dx%d)", image.width, image.height);
    return false;
  }
  size_t count = size_t(t->grid_size) * t->grid_size * 3;
  for (size_t k = 0; k < count; k++) t->shading[k] = doubled ? image.pixels[k] >> 1 : image.pixels[k];
  return true;
}

bool load_shadows(Terrain* t) {
  VfsFile* file = open_track_file(t, "shadows.pgm", false);
  if (!file) return true;
  std::vector<uint8_t> bytes;
  Image image;
  bool ok = image_read_all(file, bytes);
  vfs_close(file);
  if (ok) {
    ImageCursor in = image_cursor(bytes.data(), bytes.size());
    ok = image_kind(bytes.data(), bytes.size()) == IMAGE_KIND_PGM && image_decode_pgm(in, image);
  }
  if (!ok) {
    console_print("Error reading shadows");
    return false;
  }
  if (image.width != t->grid_size || image.height != t->grid_size) {
    vant_log("Bad shadow dimensions (%dx%d)\n", image.width, image.height);
    return false;
  }
  size_t count = size_t(t->grid_size) * t->grid_size;
  for (size_t k = 0; k < count; k++) t->shadows[k] = uint8_t(255 - image.pixels[k]);
  return true;
}

bool load_tiles(Terrain* t) {
  VfsFile* file = open_track_file(t, "tileinfo", false);
  if (file) {
    tileinfo_read(t, file);
  } else {
    file = open_track_file(t, "texturelist", true);
    if (!file) return false;
    texturelist_read(t, file);
  }
  vfs_close(file);
  return true;
}

// The tile map; entries the file does not reach stay tile 0, and every index is kept inside
// the tile table (a table without tiles still leaves index 0, whose record holds defaults).
bool load_tilemap(Terrain* t) {
  VfsFile* file = open_track_file(t, "tilemap", true);
  if (!file) return false;
  size_t count = size_t(1) << (2 * t->level);
  size_t done = 0;
  while (done < count) {
    int want = count - done > (1 << 20) ? (1 << 20) : int(count - done);
    int got = vfs_read(file, t->tilemap + done, want);
    if (got <= 0) break;
    done += size_t(got);
  }
  vfs_close(file);
  uint8_t last = uint8_t(t->tile_count > 0 ? t->tile_count - 1 : 0);
  for (size_t k = 0; k < count; k++)
    if (t->tilemap[k] > last) t->tilemap[k] = last;
  return true;
}

bool load_stages(Terrain* t, int method) {
  loading_message_logged("Loading terrain");
  if (!load_heights(t)) return false;
  loading_done("Loading terrain");

  t->render_method = method;
  const TerrainRenderHooks* render = terrain_render_hooks();
  t->use_normal_map = render->shaders && lighting.dynamic_lighting && (method == 2 || method == 3);

  loading_message_logged("Loading shading");
  if (!load_shading(t)) return false;
  loading_done("Loading shading");

  loading_message_logged("Loading shadows");
  if (!load_shadows(t)) return false;
  loading_done("Loading shadows");

  loading_message_logged("Loading tileinfo");
  if (!load_tiles(t)) return false;
  loading_done("Loading tileinfo");

  loading_message_logged("Loading tilemap");
  if (!load_tilemap(t)) return false;
  loading_done("Loading tilemap");

  if (t->use_normal_map) terrain_create_normal_map(t);
  // The renderer builds its level-of-detail tree, low-detail and clipmap textures here.
  if (render->create && !render->create(t)) return false;
  decals_read(t->track_dir, t->use_normal_map);
  return true;
}

// Writes one whole file of the track directory (in the home directory, where "@" names are
// written) beside its final name, as part of the set that replaces the old files together;
// false (with the message) when it cannot be created or written.
bool write_track_file(ReplaceSet& set, const Terrain* t, const char* name, const void* header, size_t header_size,
                      const void* data, size_t size) {
  TrackPath path = track_path(t, name);
  VfsFile* file = replace_open(set, path.text);
  if (!file) {
    console_printf("Can't open '%s'", name);
    return false;
  }
  bool ok = vfs_write(file, header, int(header_size)) == int(header_size);
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  for (size_t done = 0; ok && done < size;) {
    int chunk = size - done > (1 << 20) ? (1 << 20) : int(size - done);
    ok = vfs_write(file, bytes + done, chunk) == chunk;
    done += size_t(chunk);
  }
  if (!ok) set.ok = false;
  replace_close(set, file);
  if (!set.ok) console_printf("Error writing '%s'", name);
  return set.ok;
}

// The ground files, each made in memory and written as one piece of the set.
bool write_ground_files(ReplaceSet& set, Terrain* t) {
  size_t samples = size_t(t->grid_size) * t->grid_size;
  float lo = t->heights[0], hi = t->heights[0];
  for (size_t k = 1; k < samples; k++) {
    lo = t->heights[k] < lo ? t->heights[k] : lo;
    hi = t->heights[k] > hi ? t->heights[k] : hi;
  }
  t->min_height = lo;
  t->max_height = hi;
  char header[256];
  int header_size = snprintf(header, sizeof header, "%d %f %f %f\n", t->level, t->spacing, lo, hi);
  if (!write_track_file(set, t, "terrain.hf", header, size_t(header_size), nullptr, 0)) return false;

  // Codes are made against the range exactly as the header states it, so loading gives
  // back each height within half a code step.
  float min_written = 0, max_written = 0, spacing_written = 0;
  int level_written = 0;
  sscanf(header, "%d %f %f %f", &level_written, &spacing_written, &min_written, &max_written);
  std::vector<uint16_t> codes(samples, 0);
  if (max_written != min_written) {
    for (size_t k = 0; k < samples; k++) {
      double c = std::floor((t->heights[k] - min_written) / double(max_written - min_written) * 65535 + 0.5);
      codes[k] = uint16_t(c > 0 ? (c < 65535 ? c : 65535) : 0);
    }
  }
  std::vector<uint8_t> png;
  if (!image_encode_png_grey16(codes.data(), t->grid_size, t->grid_size, png)) {
    console_print("Error writing 'terrain.png'");
    set.ok = false;
    return false;
  }
  if (!write_track_file(set, t, "terrain.png", nullptr, 0, png.data(), png.size())) return false;

  terrain_refresh_lighting(t);
  int ppm_size = snprintf(header, sizeof header, "P6\n%d %d\n255\n", t->grid_size, t->grid_size);
  std::vector<uint8_t> full(samples * 3);
  for (size_t k = 0; k < samples * 3; k++) full[k] = uint8_t(t->shading[k] >= 128 ? 255 : 2 * t->shading[k]);
  if (!write_track_file(set, t, "shading.ppm", header, size_t(ppm_size), full.data(), full.size())) return false;
  if (!write_track_file(set, t, "shadingx2.ppm", header, size_t(ppm_size), t->shading, samples * 3)) return false;
  size_t tiles = size_t(1) << (2 * t->level);
  return write_track_file(set, t, "tilemap", nullptr, 0, t->tilemap, tiles);
}

}  // namespace

bool terrain_load(Terrain* t, const char* track_dir, int method) {
  terrain_free(t);
  snprintf(t->track_dir, sizeof t->track_dir, "%s", track_dir);
  if (load_stages(t, method)) return true;
  terrain_free(t);
  return false;
}

bool terrain_save(Terrain* t) {
  // The header's height range and terrain.png only make sense together: either every ground
  // file is replaced or none is.
  ReplaceSet set;
  write_ground_files(set, t);
  if (!replace_finish(set)) return false;
  return decals_save(t->track_dir);
}
