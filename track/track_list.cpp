// Track list: directories found by their height field in the file index, named by "desc".
#include "track/track_list.h"

#include <algorithm>
#include <cstring>
#include <numeric>
#include <strings.h>

#include "core/console.h"
#include "files/vfs.h"
#include "platform/vant.h"

std::vector<std::string> track_dirs;
std::vector<std::string> track_names;
int track_count = 0;

namespace {

constexpr const char* HEIGHT_FIELD_NAMES[] = {"/terrain.hf", "/terrain.hf.gz", "/terrain.hf.scram",
                                              "/terrain.hf.gz.scram"};

bool ends_with(const char* name, const char* tail) {
  const size_t n = strlen(name), t = strlen(tail);
  return n >= t && strcmp(name + n - t, tail) == 0;
}

// Byte-wise case-blind order of two names.
bool name_before(const std::string& a, const std::string& b) { return strcasecmp(a.c_str(), b.c_str()) < 0; }

// The first line of "desc" (up to CR, LF, NUL or the end), or the directory itself.
std::string display_name(const std::string& dir) {
  VfsFile* file = vfs_open(("@" + dir + "/desc").c_str(), "rb");
  if (!file) return dir;
  std::string name;
  for (int c; (c = vfs_getc(file)) > 0 && c != '\r' && c != '\n';) name += static_cast<char>(c);
  vfs_close(file);
  return name;
}

}  // namespace

bool track_list_scan() {
  track_dirs.clear();
  track_names.clear();
  std::vector<std::string> dirs;
  if (const char* const* names = vfs_file_list()) {
    for (; *names; ++names) {
      for (const char* tail : HEIGHT_FIELD_NAMES) {
        if (!ends_with(*names, tail)) continue;
        const std::string dir(*names, strrchr(*names, '/') - *names);
        // A track stored in several variants is listed once.
        if (std::none_of(dirs.begin(), dirs.end(),
                         [&](const std::string& d) { return strcasecmp(d.c_str(), dir.c_str()) == 0; })) {
          dirs.push_back(dir);
        }
      }
    }
  }
  std::vector<std::string> names;
  for (const std::string& dir : dirs) names.push_back(display_name(dir));
  std::vector<size_t> order(dirs.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return name_before(names[a], names[b]); });
  for (size_t i : order) {
    track_dirs.push_back(dirs[i]);
    track_names.push_back(names[i]);
    if (debug_level >= 1) vant_log("%s -> %s\n", dirs[i].c_str(), names[i].c_str());
  }
  track_count = static_cast<int>(track_dirs.size());
  return track_count > 0;
}

int track_list_find(const char* dir) {
  for (int i = 0; i < track_count; ++i) {
    if (strcasecmp(track_dirs[i].c_str(), dir) == 0) return i;
  }
  return -1;
}
