// The file index: every loose file of the search directories and every member of their
// .saf archives, sorted by name (case-blind) and priority, plus the list of distinct names.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "files/saf.h"
#include "files/vfs_file.h"
#include "platform/vant.h"

namespace {

struct FileIndexEntry {
  std::string path;  // the real file: the loose file or the archive
  std::string name;  // data name relative to its search directory or archive
  int64_t offset;    // of the data within path
  int32_t size;      // stored bytes
  int32_t priority;  // lower wins: search directory number, then archives in name order
};

std::vector<FileIndexEntry> entries;
std::vector<const char*> file_list;
bool built;

int lower(int c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; }

bool entry_before(const FileIndexEntry& a, const FileIndexEntry& b) {
  int order = vfs_name_compare(a.name.c_str(), b.name.c_str());
  if (order != 0) return order < 0;
  if (a.priority != b.priority) return a.priority < b.priority;
  // Names differing only in case within one directory: a fixed order, not the disk's.
  return a.name < b.name;
}

void sort_index() { std::stable_sort(entries.begin(), entries.end(), entry_before); }

// Adds every file below dir (no trailing "/"); names lose the first prefix bytes.
// ancestors holds the directories being walked, so a link back up is not followed.
void walk(const std::string& dir, size_t prefix, int priority,
          std::vector<std::pair<dev_t, ino_t>>* ancestors) {
  vfs_loading_tick();
  DIR* listing = opendir(dir.empty() ? "/" : dir.c_str());
  if (!listing) return;
  while (dirent* item = readdir(listing)) {
    if (strcmp(item->d_name, ".") == 0 || strcmp(item->d_name, "..") == 0) continue;
    std::string path = dir + "/" + item->d_name;
    struct stat info;
    if (fstatat(dirfd(listing), item->d_name, &info, 0) != 0) continue;
    if (S_ISDIR(info.st_mode)) {
      auto id = std::make_pair(info.st_dev, info.st_ino);
      if (std::find(ancestors->begin(), ancestors->end(), id) != ancestors->end()) continue;
      ancestors->push_back(id);
      walk(path, prefix, priority, ancestors);
      ancestors->pop_back();
      continue;
    }
    int32_t size = info.st_size > VFS_LENGTH_MAX ? VFS_LENGTH_MAX : int32_t(info.st_size);
    entries.push_back({path, path.substr(prefix), 0, size, priority});
  }
  closedir(listing);
}

void walk_search_dir(const char* search_dir, int priority) {
  std::string dir = search_dir;
  while (!dir.empty() && dir.back() == '/') dir.pop_back();
  std::vector<std::pair<dev_t, ino_t>> ancestors;
  struct stat info;
  if (stat(dir.empty() ? "/" : dir.c_str(), &info) == 0) ancestors.push_back({info.st_dev, info.st_ino});
  walk(dir, dir.size() + 1, priority, &ancestors);
}

// Adds the members of one archive; a rejected archive adds nothing.
void read_archive(const std::string& path, int priority) {
  FILE* stream = fopen(path.c_str(), "rb");
  if (!stream) return;
  struct stat info;
  std::vector<SafMember> members;
  int ok = fstat(fileno(stream), &info) == 0 && saf_read_header(stream, info.st_size, &members);
  fclose(stream);
  if (!ok) return;
  for (SafMember& member : members) {
    if (!member.name.empty()) entries.push_back({path, std::move(member.name), member.offset, member.size, priority});
  }
}

bool has_saf_suffix(const std::string& name) {
  return name.size() >= 5 && vfs_name_compare(name.c_str() + name.size() - 4, ".saf") == 0;
}

void build_index() {
  built = true;
  vant_log("Listing directories\n");
  int priority = 0;
  for (; vfs_search_dir(priority); priority++) walk_search_dir(vfs_search_dir(priority), priority);
  sort_index();
  vant_log("Listing archives\n");
  // Archives are read in index order, each ranking after all search directories and after
  // every archive whose name sorts before it.
  size_t loose = entries.size();
  for (size_t i = 0; i < loose; i++) {
    if (!has_saf_suffix(entries[i].name)) continue;
    std::string path = entries[i].path;
    read_archive(path, priority++);
    vfs_loading_tick();
  }
  sort_index();
  vant_log("Creating file list\n");
  for (const FileIndexEntry& entry : entries) {
    if (file_list.empty() || vfs_name_compare(file_list.back(), entry.name.c_str()) != 0)
      file_list.push_back(entry.name.c_str());
  }
  file_list.push_back(nullptr);
  vant_log("File index complete\n");
}

// The first entry named name (case-blind), which has the lowest priority; null when absent.
const FileIndexEntry* find(const std::string& name) {
  auto at = std::lower_bound(entries.begin(), entries.end(), name,
                             [](const FileIndexEntry& entry, const std::string& key) {
                               return vfs_name_compare(entry.name.c_str(), key.c_str()) < 0;
                             });
  if (at == entries.end() || vfs_name_compare(at->name.c_str(), name.c_str()) != 0) return nullptr;
  return &*at;
}

}  // namespace

int vfs_name_compare(const char* a, const char* b) {
  for (;; a++, b++) {
    int ca = lower(uint8_t(*a)), cb = lower(uint8_t(*b));
    if (ca != cb || ca == 0) return ca - cb;
  }
}

const char* const* vfs_file_list() {
  if (!built) build_index();
  return file_list.data();
}

int vfs_index_built() { return built; }

void vfs_index_free() {
  entries.clear();
  entries.shrink_to_fit();
  file_list.clear();
  file_list.shrink_to_fit();
  built = false;
}

int vfs_describe_entry(int i, char* buffer, int size) {
  if (!built || i < 0 || size_t(i) >= entries.size() || size < 1) return 0;
  snprintf(buffer, size_t(size), "%s -> %s", entries[size_t(i)].name.c_str(), entries[size_t(i)].path.c_str());
  return 1;
}

VfsFile* vfs_index_open(const char* name) {
  static const struct {
    const char* suffix;
    int compressed, scrambled;
  } KINDS[] = {{"", 0, 0}, {".gz", 1, 0}, {".scram", 0, 1}, {".gz.scram", 1, 1}};
  const FileIndexEntry* best = nullptr;
  int compressed = 0, scrambled = 0;
  // At equal priority the earlier kind wins.
  for (const auto& kind : KINDS) {
    const FileIndexEntry* entry = find(std::string(name) + kind.suffix);
    if (entry && (!best || entry->priority < best->priority)) {
      best = entry;
      compressed = kind.compressed;
      scrambled = kind.scrambled;
    }
  }
  if (!best) return nullptr;
  FILE* stream = fopen(best->path.c_str(), "rb");
  if (!stream) return nullptr;
  if (fseeko(stream, off_t(best->offset), SEEK_SET) != 0) {
    fclose(stream);
    return nullptr;
  }
  return vfs_open_stream(stream, best->offset, best->size, compressed, scrambled);
}
