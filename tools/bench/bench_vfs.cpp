// Builds the file index over a scratch tree of small files and archives, and times it and
// the look-ups that follow.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "files/saf.h"
#include "files/vfs.h"
#include "tools/bench/bench.h"

namespace {

constexpr int LOOSE_FILES = 10000;
constexpr int FILES_PER_DIR = 100;
constexpr int ARCHIVES = 4;
constexpr int MEMBERS_PER_ARCHIVE = 1000;
constexpr int RUNS = 5;

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void write_file(const std::string& path, const std::string& bytes) {
  FILE* out = fopen(path.c_str(), "wb");
  if (!out) {
    fprintf(stderr, "skorvan-bench: cannot write %s\n", path.c_str());
    exit(1);
  }
  fwrite(bytes.data(), 1, bytes.size(), out);
  fclose(out);
}

}  // namespace

int bench_vfs_index(int argc, char** argv) {
  namespace fs = std::filesystem;
  fs::path scratch = argc >= 1 ? fs::path(argv[0]) : fs::temp_directory_path() / "skorvan-bench-vfs";
  fs::remove_all(scratch);
  fs::path data = scratch / "data", staging = scratch / "staging";
  for (int i = 0; i < LOOSE_FILES; i++) {
    fs::path dir = data / ("dir" + std::to_string(i / FILES_PER_DIR));
    if (i % FILES_PER_DIR == 0) fs::create_directories(dir);
    write_file((dir / ("file" + std::to_string(i) + ".txt")).string(), "value=" + std::to_string(i) + "\n");
  }
  fs::create_directories(staging);
  for (int a = 0; a < ARCHIVES; a++) {
    std::vector<SafSource> members;
    for (int m = 0; m < MEMBERS_PER_ARCHIVE; m++) {
      std::string name = "pack" + std::to_string(a) + "/member" + std::to_string(m);
      std::string path = (staging / (std::to_string(a) + "-" + std::to_string(m))).string();
      write_file(path, name + "\n");
      members.push_back({name, path});
    }
    if (!saf_write((data / ("archive" + std::to_string(a) + ".saf")).string().c_str(), members)) {
      fprintf(stderr, "skorvan-bench: cannot write archive %d\n", a);
      return 1;
    }
  }
  fs::remove_all(staging);
  std::string dir = data.string();
  const char* dirs[] = {dir.c_str()};
  std::vector<double> times;
  size_t names = 0;
  for (int run = 0; run < RUNS; run++) {
    vfs_set_search_dirs(dirs, 1);
    auto start = std::chrono::steady_clock::now();
    const char* const* list = vfs_file_list();
    times.push_back(seconds_since(start));
    for (names = 0; list[names]; names++) {
    }
  }
  std::sort(times.begin(), times.end());
  printf("vfs-index: %d loose files, %d archives of %d members: %zu names\n", LOOSE_FILES, ARCHIVES,
         MEMBERS_PER_ARCHIVE, names);
  printf("vfs-index: build %.1f ms best, %.1f ms median of %d runs\n", times[0] * 1e3,
         times[RUNS / 2] * 1e3, RUNS);
  // Opening by data name through the index (members are not loose, so the search dirs miss).
  auto start = std::chrono::steady_clock::now();
  int opened = 0;
  for (int m = 0; m < MEMBERS_PER_ARCHIVE; m++) {
    std::string name = "@pack" + std::to_string(m % ARCHIVES) + "/member" + std::to_string(m);
    VfsFile* file = vfs_open(name.c_str(), "rb");
    if (file) {
      opened += vfs_getc(file) == 'p';
      vfs_close(file);
    }
  }
  double open_time = seconds_since(start);
  printf("vfs-index: %d member opens in %.1f ms (%.1f us each), %d read back\n", MEMBERS_PER_ARCHIVE,
         open_time * 1e3, open_time * 1e6 / MEMBERS_PER_ARCHIVE, opened);
  vfs_shutdown();
  fs::remove_all(scratch);
  return opened == MEMBERS_PER_ARCHIVE ? 0 : 1;
}
