// Replacing a group of files without losing the old ones: each is written beside its final
// name and the group takes the place of the old files only once every one of them was written.
#pragma once

#include <string>
#include <vector>

struct VfsFile;

struct ReplaceSet {
  std::vector<std::string> names;  // final names of the files opened so far
  bool ok = true;                  // false once any file could not be created or written
};

// Opens name + ".tmp" for writing (an "@" name lands in the home directory). Null, with the
// set marked failed, when it cannot be created.
VfsFile* replace_open(ReplaceSet& set, const char* name);
// Closes a file of the set; a write error marks the set failed.
void replace_close(ReplaceSet& set, VfsFile* file);
// When every file was written, moves each onto its final name; otherwise removes the written
// ones and leaves the old files as they were. True when the files were replaced.
bool replace_finish(ReplaceSet& set);

// Replaces one file of a path or "@" name with these bytes, as a group of one: a reader sees
// the old or the new data and a failed write leaves the old file whole. 1 when replaced.
int vfs_replace(const char* name, const void* data, int size);
