// Reading .saf archive headers (hostile input: every size and line is checked) and
// writing archives in a stable order.
#include "files/saf.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace {

// Reads one header line with its "\n" into line; its byte length, or -1 when the line is
// too long, holds a zero byte, or the stream ends first.
int read_line(FILE* stream, char* line) {
  int length = 0;
  while (length < SAF_LINE_MAX - 1) {
    int c = getc(stream);
    if (c <= 0) return -1;
    line[length++] = char(c);
    if (c == '\n') {
      line[length] = 0;
      return length;
    }
  }
  return -1;
}

std::string collapse_slashes(const char* name, size_t length) {
  std::string out;
  out.reserve(length);
  for (size_t i = 0; i < length; i++) {
    if (name[i] == '/' && !out.empty() && out.back() == '/') continue;
    out.push_back(name[i]);
  }
  return out;
}

}  // namespace

int saf_read_header(FILE* stream, int64_t archive_size, std::vector<SafMember>* members) {
  members->clear();
  char line[SAF_LINE_MAX];
  int64_t header_length = 0;
  for (;;) {
    int length = read_line(stream, line);
    if (length < 0) break;
    header_length += length;
    if (strcmp(line, "-\n") == 0) {
      // The data starts right after the end line; every member must lie inside the file.
      int64_t offset = header_length;
      for (size_t i = 0; i < members->size(); i++) {
        (*members)[i].offset = offset;
        offset += (*members)[i].size;
        if (offset > archive_size) break;
      }
      if (offset <= archive_size) return 1;
      break;
    }
    char* end;
    errno = 0;
    long size = strtol(line, &end, 10);
    if (end == line || errno == ERANGE || size < 0 || size > INT32_MAX) break;
    // One separator byte, then the name up to the "\n".
    const char* name = end + 1;
    const char* newline = line + length - 1;
    if (*end == '\n') name = newline;
    members->push_back({collapse_slashes(name, size_t(newline - name)), 0, int32_t(size)});
  }
  members->clear();
  return 0;
}

int saf_write(const char* archive_path, const std::vector<SafSource>& members) {
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(archive_path).parent_path(), ignored);
  std::string temporary = std::string(archive_path) + ".part";
  FILE* out = fopen(temporary.c_str(), "wb");
  if (!out) return 0;
  int ok = 1;
  std::vector<int64_t> sizes;
  for (const SafSource& member : members) {
    struct stat info;
    if (member.name.empty() || member.name.find('\n') != std::string::npos ||
        member.name.size() + 13 > size_t(SAF_LINE_MAX) || stat(member.path.c_str(), &info) != 0 ||
        !S_ISREG(info.st_mode) || info.st_size > INT32_MAX) {
      ok = 0;
      break;
    }
    sizes.push_back(info.st_size);
    fprintf(out, "%lld %s\n", (long long)info.st_size, member.name.c_str());
  }
  if (ok) fputs("-\n", out);
  static char chunk[65536];
  for (size_t i = 0; ok && i < members.size(); i++) {
    FILE* in = fopen(members[i].path.c_str(), "rb");
    if (!in) {
      ok = 0;
      break;
    }
    int64_t left = sizes[i];
    while (left > 0) {
      size_t want = left < int64_t(sizeof chunk) ? size_t(left) : sizeof chunk;
      size_t got = fread(chunk, 1, want, in);
      if (got != want || fwrite(chunk, 1, got, out) != got) {
        ok = 0;
        break;
      }
      left -= int64_t(got);
    }
    // A member that grew while being packed would break the offsets of its followers.
    if (getc(in) != EOF) ok = 0;
    fclose(in);
  }
  if (fclose(out) != 0) ok = 0;
  if (ok && rename(temporary.c_str(), archive_path) != 0) ok = 0;
  if (!ok) remove(temporary.c_str());
  return ok;
}

int saf_pack_directory(const char* dir, const char* archive_path) {
  namespace fs = std::filesystem;
  std::error_code error;
  fs::path root(dir);
  if (!fs::is_directory(root, error)) return 0;
  fs::path archive = fs::absolute(archive_path, error);
  std::vector<SafSource> members;
  for (auto it = fs::recursive_directory_iterator(root, error); !error && it != fs::end(it);
       it.increment(error)) {
    if (!it->is_regular_file(error)) continue;
    std::error_code missing;
    if (fs::equivalent(it->path(), archive, missing)) continue;
    members.push_back({it->path().lexically_relative(root).generic_string(), it->path().string()});
  }
  if (error) return 0;
  std::sort(members.begin(), members.end(),
            [](const SafSource& a, const SafSource& b) { return a.name < b.name; });
  return saf_write(archive_path, members);
}
