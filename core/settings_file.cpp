// Reading and writing "@config" and bike setup files through the file system.
#include <cstdio>
#include <string>

#include "core/settings.h"
#include "files/memory.h"
#include "files/vfs.h"

namespace {

bool vfs_line_source(void* context, char* buffer, int size) {
  return vfs_gets(static_cast<VfsFile*>(context), buffer, size) != nullptr;
}

bool write_all(VfsFile* file, const std::string& text) {
  int n = static_cast<int>(text.size());
  return vfs_write(file, text.data(), n) == n && vfs_flush(file) == 0;
}

}  // namespace

void settings_read() {
  VfsFile* file = vfs_open("@config", "r");
  if (!file) return;
  settings_read_lines(vfs_line_source, file);
  vfs_close(file);
}

bool settings_write() {
  std::string text;
  settings_format(&text);
  const char* home = vfs_search_dir(0);
  if (!home) return false;
  VfsFile* file = vfs_open("@config.new", "wb");
  if (!file) return false;
  bool written = write_all(file, text);
  vfs_close(file);
  char* temporary = path_join(home, "config.new");
  char* final_path = path_join(home, "config");
  // rename() replaces the old file in one step: a reader sees the old or the new settings.
  bool replaced = written && temporary && final_path && rename(temporary, final_path) == 0;
  if (!replaced && temporary) remove(temporary);
  mem_free(temporary);
  mem_free(final_path);
  return replaced;
}

void setup_write(VfsFile* file) {
  std::string text;
  setup_format(&text);
  write_all(file, text);
}
