// The .saf archive: text header of member lines ("size name\n"), an end line "-\n", then
// the members' bytes back to back. Reading the header and writing archives.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

constexpr int SAF_LINE_MAX = 1024;  // header line buffer, bytes, "\n" included

struct SafMember {
  std::string name;  // data name, "/" separators, runs of "/" collapsed
  int64_t offset;    // byte offset of the member's data within the archive
  int32_t size;      // stored bytes
};

// Reads the header from the start of stream. archive_size is the archive's length in bytes.
// 1 and the members in header order when the header is sound; 0 (members cleared) when a
// line lacks "\n" or does not start with a number, the end line is missing, a size is
// negative, or a member would reach past the end of the archive.
int saf_read_header(FILE* stream, int64_t archive_size, std::vector<SafMember>* members);

// One member to write: its data name and the file that holds its bytes.
struct SafSource {
  std::string name;
  std::string path;
};

// Writes an archive with the members in the given order, creating missing directories on
// its path. The file is written under a temporary name and moved into place when complete.
// 1 on success.
int saf_write(const char* archive_path, const std::vector<SafSource>& members);

// Packs every file below dir (recursively, symbolic links to directories not followed) into
// archive_path; member names are the paths relative to dir, sorted byte-wise so equal input
// gives equal bytes. An archive_path inside dir is left out. 1 on success.
int saf_pack_directory(const char* dir, const char* archive_path);
