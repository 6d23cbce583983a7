// Reading and writing "@config" and bike setup files through the file system.
#include <cstdio>
#include <cstring>
#include <string>

#include "core/console.h"
#include "core/settings.h"
#include "files/replace.h"
#include "files/vfs.h"

namespace {

bool vfs_line_source(void* context, char* buffer, int size) {
  return vfs_gets(static_cast<VfsFile*>(context), buffer, size) != nullptr;
}

bool write_all(VfsFile* file, const std::string& text) {
  int n = static_cast<int>(text.size());
  return vfs_write(file, text.data(), n) == n && vfs_flush(file) == 0;
}

bool replace_file(const std::string& name, const std::string& text) {
  return vfs_replace(name.c_str(), text.data(), static_cast<int>(text.size()));
}

// A setup name names one file in "@setups/": a name with a path separator could reach any file
// of the home directory ("../config") and overwrite it.
bool setup_name_valid(const char* name) { return name && name[0] && !strpbrk(name, "/\\"); }

}  // namespace

void settings_read() {
  VfsFile* file = vfs_open("@config", "r");
  if (!file) return;
  settings_read_lines(vfs_line_source, file);
  vfs_close(file);
}

bool settings_write() {
  if (!vfs_search_dir(0)) return false;
  std::string text;
  settings_format(&text);
  return replace_file("@config", text);
}

bool setup_write(VfsFile* file) {
  std::string text;
  setup_format(&text);
  return write_all(file, text);
}

bool setup_file_read(const char* name) {
  VfsFile* file = setup_name_valid(name) ? vfs_open((std::string("@setups/") + name).c_str(), "r") : nullptr;
  if (!file) {
    console_print("Error reading setup");
    return false;
  }
  settings_read_lines(vfs_line_source, file, setup_file_line);
  vfs_close(file);
  console_print("Setup updated");
  return true;
}

bool setup_file_write(const char* name) {
  std::string text;
  setup_format(&text);
  bool written = setup_name_valid(name) && vfs_search_dir(0) && replace_file(std::string("@setups/") + name, text);
  console_print(written ? "Setup written" : "Error writing setup");
  return written;
}
