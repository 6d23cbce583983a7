// Group replacement of files through side files and renames.
#include "files/replace.h"

#include "files/vfs.h"

namespace {

std::string side_name(const std::string& name) { return name + ".tmp"; }

}  // namespace

VfsFile* replace_open(ReplaceSet& set, const char* name) {
  VfsFile* file = vfs_open(side_name(name).c_str(), "wb");
  if (!file) {
    set.ok = false;
    return nullptr;
  }
  set.names.push_back(name);
  return file;
}

void replace_close(ReplaceSet& set, VfsFile* file) {
  if (!vfs_close_written(file)) set.ok = false;
}

int vfs_replace(const char* name, const void* data, int size) {
  if (!name || size < 0) return 0;
  ReplaceSet set;
  VfsFile* file = replace_open(set, name);
  if (file) {
    if (vfs_write(file, data, size) != size) set.ok = false;
    replace_close(set, file);
  }
  return replace_finish(set);
}

bool replace_finish(ReplaceSet& set) {
  for (const std::string& name : set.names) {
    if (set.ok) set.ok = vfs_rename(side_name(name).c_str(), name.c_str()) != 0;
    if (!set.ok) vfs_remove(side_name(name).c_str());
  }
  set.names.clear();
  return set.ok;
}
