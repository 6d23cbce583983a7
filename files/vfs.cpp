// Search directories, opening by path or "@" name with variants and backups, the byte, line
// and block reads, the writes, renaming, the start-up data check and the home directory.
#include "files/vfs.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "files/digest.h"
#include "files/memory.h"
#include "files/vfs_file.h"
#include "platform/vant.h"

extern char** environ;

namespace {

constexpr int SEARCH_DIR_MAX = 2;
constexpr int BACKUP_COPY_CHUNK = 65536;
constexpr int BACKUP_NUMBER_MAX = 9999;
constexpr int GAME_DATA_DIGEST_BYTES = 1048576;
constexpr int GAME_DATA_PIECE = 256;

char* search_dirs[SEARCH_DIR_MAX];
int search_dir_count;
bool search_dirs_built;
void (*loading_tick)();

// Adds dir + "/" (runs of "/" collapsed) to the search list.
void add_search_dir(const char* dir) {
  if (search_dir_count < SEARCH_DIR_MAX) {
    char* joined = path_join(dir, "/");
    if (joined) search_dirs[search_dir_count++] = joined;
  }
}

void build_search_dirs() {
  search_dirs_built = true;
  // The home directory: the per-user data folder, not created here.
  const char* data_home = getenv("XDG_DATA_HOME");
  const char* home = getenv("HOME");
  if (data_home && data_home[0] == '/') {
    char* dir = path_join(data_home, "/Skorvan/");
    if (dir) search_dirs[search_dir_count++] = dir;
  } else if (home && home[0]) {
    char* dir = path_join(home, "/.local/share/Skorvan/");
    if (dir) search_dirs[search_dir_count++] = dir;
  }
  // An empty SK_HOME would make the whole file system a data directory; it counts as unset.
  const char* sk_home = getenv("SK_HOME");
  if (sk_home && sk_home[0]) {
    add_search_dir(sk_home);
    return;
  }
  char program[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", program, sizeof program - 1);
  if (length <= 0 || length >= ssize_t(sizeof program - 1)) return;
  program[length] = 0;
  char* slash = strrchr(program, '/');
  if (!slash) return;
  *slash = 0;
  add_search_dir(program);
}

void free_search_dirs() {
  for (int i = 0; i < search_dir_count; i++) mem_free(search_dirs[i]);
  search_dir_count = 0;
  search_dirs_built = false;
}

bool is_reading_mode(const char* mode) { return strchr(mode, 'r') && !strchr(mode, '+'); }

// Creates every missing directory on path: the prefix before each "/". Errors are ignored;
// the open that follows tells.
void make_directories(const char* path) {
  size_t length = strlen(path);
  if (length > size_t(VFS_PATH_MAX)) return;
  char prefix[VFS_PATH_MAX + 1];
  for (size_t i = 1; i < length; i++) {
    if (path[i] != '/') continue;
    memcpy(prefix, path, i);
    prefix[i] = 0;
    mkdir(prefix, 0777);
  }
}

// fopen that refuses directories when reading (they open on this platform but hold no data).
FILE* open_stream(const char* path, const char* mode) {
  FILE* stream = fopen(path, mode);
  if (stream && is_reading_mode(mode)) {
    struct stat info;
    if (fstat(fileno(stream), &info) != 0 || S_ISDIR(info.st_mode)) {
      fclose(stream);
      return nullptr;
    }
  }
  return stream;
}

bool file_exists(const char* path) {
  FILE* stream = open_stream(path, "rb");
  if (!stream) return false;
  fclose(stream);
  return true;
}

// Copies path to the first free "path.~N~". 1 on success.
int make_backup(const char* path) {
  char backup[VFS_BACKUP_PATH_MAX + 16];
  int number = 1;
  for (; number <= BACKUP_NUMBER_MAX; number++) {
    snprintf(backup, sizeof backup, "%s.~%d~", path, number);
    if (!file_exists(backup)) break;
  }
  if (number > BACKUP_NUMBER_MAX) return 0;
  FILE* from = fopen(path, "rb");
  if (!from) return 0;
  FILE* to = fopen(backup, "wb");
  if (!to) {
    fclose(from);
    return 0;
  }
  auto* chunk = static_cast<char*>(mem_alloc(BACKUP_COPY_CHUNK));
  int ok = chunk != nullptr;
  while (ok) {
    size_t got = fread(chunk, 1, BACKUP_COPY_CHUNK, from);
    if (got && fwrite(chunk, 1, got, to) != got) ok = 0;
    if (got < size_t(BACKUP_COPY_CHUNK)) {
      if (!feof(from)) ok = 0;
      break;
    }
  }
  mem_free(chunk);
  fclose(from);
  if (fclose(to) != 0) ok = 0;
  return ok;
}

// Opens a real path: directory creation and backup for writing, variants for reading.
VfsFile* open_path(const char* path, const char* mode) {
  bool backup = mode[0] == '~';
  const char* stdio_mode = backup ? mode + 1 : mode;
  bool reading = is_reading_mode(stdio_mode);
  if (!reading) make_directories(path);
  if (backup) {
    if (strlen(path) > size_t(VFS_BACKUP_PATH_MAX)) return nullptr;
    if (file_exists(path) && !make_backup(path)) return nullptr;
  }
  FILE* stream = open_stream(path, stdio_mode);
  if (stream) return vfs_open_stream(stream, 0, VFS_LENGTH_MAX, 0, 0);
  if (!reading) return nullptr;
  static const struct {
    const char* suffix;
    int compressed, scrambled;
  } VARIANTS[] = {{".gz", 1, 0}, {".scram", 0, 1}, {".gz.scram", 1, 1}};
  char variant[VFS_PATH_MAX + 1];
  for (const auto& v : VARIANTS) {
    if (strlen(path) + strlen(v.suffix) > size_t(VFS_PATH_MAX)) return nullptr;
    snprintf(variant, sizeof variant, "%s%s", path, v.suffix);
    stream = open_stream(variant, stdio_mode);
    // The first variant that exists decides; a broken header does not fall through.
    if (stream) return vfs_open_stream(stream, 0, VFS_LENGTH_MAX, v.compressed, v.scrambled);
  }
  return nullptr;
}

// Bytes of data still allowed before the handle's length.
int32_t room(const VfsFile* file) { return file->length - file->position; }

// Up to n data bytes below the pushback, counted into position.
int take(VfsFile* file, uint8_t* buffer, int n) {
  if (n > room(file)) n = room(file);
  if (n <= 0) return 0;
  int got;
  if (file->compressed) {
    got = gz_read(file, buffer, n);
  } else if (file->scrambled) {
    got = scram_read(file->scramble, buffer, n);
  } else if (n == 1) {
    int c = getc_unlocked(file->file);
    if (c < 0) return 0;
    buffer[0] = uint8_t(c);
    got = 1;
  } else {
    got = int(fread(buffer, 1, size_t(n), file->file));
  }
  file->position += got;
  return got;
}

// "@name" as home directory + name, else the path itself, in out. 0 when too long.
int rename_path(const char* name, char* out, size_t size) {
  int written;
  if (name[0] == '@') {
    const char* home = vfs_search_dir(0);
    if (!home) return 0;
    written = snprintf(out, size, "%s%s", home, name + 1);
  } else {
    written = snprintf(out, size, "%s", name);
  }
  return written >= 0 && size_t(written) < size;
}

}  // namespace

char* path_join(const char* a, const char* b) {
  if (!a || !b) return nullptr;
  size_t la = strlen(a), lb = strlen(b);
  auto* out = static_cast<char*>(mem_alloc(la + lb + 1));
  if (!out) return nullptr;
  size_t n = 0;
  for (const char* piece : {a, b}) {
    for (const char* p = piece; *p; p++) {
      char c = *p == '\\' ? '/' : *p;
      if (c == '/' && n > 0 && out[n - 1] == '/') continue;
      out[n++] = c;
    }
  }
  out[n] = 0;
  return out;
}

const char* vfs_search_dir(int i) {
  if (!search_dirs_built) build_search_dirs();
  return i >= 0 && i < search_dir_count ? search_dirs[i] : nullptr;
}

void vfs_set_search_dirs(const char* const* dirs, int count) {
  vfs_shutdown();
  search_dirs_built = true;
  for (int i = 0; dirs && i < count; i++) add_search_dir(dirs[i]);
}

void vfs_set_loading_tick(void (*tick)()) { loading_tick = tick; }

void vfs_loading_tick() {
  if (loading_tick) loading_tick();
}

VfsFile* vfs_open_stream(FILE* stream, int64_t base, int32_t length, int compressed, int scrambled) {
  auto* file = static_cast<VfsFile*>(mem_calloc(1, sizeof(VfsFile)));
  if (!file) {
    fclose(stream);
    return nullptr;
  }
  file->file = stream;
  file->base = base;
  file->length = length;
  file->position = 0;
  file->pushback = -1;
  file->compressed = compressed;
  file->scrambled = scrambled;
  if (scrambled) {
    file->scramble = scram_open(stream, length == VFS_LENGTH_MAX ? -1 : length);
    if (!file->scramble) {
      vfs_close(file);
      return nullptr;
    }
  }
  if (compressed && !gz_start(file)) {
    vfs_close(file);
    return nullptr;
  }
  return file;
}

int vfs_stored_read(VfsFile* file, uint8_t* buffer, int n) {
  if (file->scrambled) return scram_read(file->scramble, buffer, n);
  return int(fread(buffer, 1, size_t(n), file->file));
}

VfsFile* vfs_open(const char* name, const char* mode) {
  if (!name || !mode) return nullptr;
  if (name[0] != '@') return open_path(name, mode);
  const char* data_name = name + 1;
  // A candidate longer than the name buffer fails instead of opening a truncated name.
  char path[VFS_NAME_MAX + 1];
  for (int i = 0; vfs_search_dir(i); i++) {
    int written = snprintf(path, sizeof path, "%s%s", vfs_search_dir(i), data_name);
    if (written < 0 || written > VFS_NAME_MAX) continue;
    VfsFile* file = open_path(path, mode);
    if (file) return file;
  }
  const char* stdio_mode = mode[0] == '~' ? mode + 1 : mode;
  if (!is_reading_mode(stdio_mode) || !vfs_index_built()) return nullptr;
  return vfs_index_open(data_name);
}

void vfs_close(VfsFile* file) {
  if (!file) return;
  if (file->inflater_started) inflateEnd(&file->inflater);
  if (file->scramble) scram_close(file->scramble);
  if (file->file) fclose(file->file);
  mem_free(file);
}

int vfs_getc(VfsFile* file) {
  if (file->pushback >= 0) {
    int c = file->pushback;
    file->pushback = -1;
    return c;
  }
  uint8_t byte;
  return take(file, &byte, 1) == 1 ? byte : -1;
}

int vfs_peekc(VfsFile* file) {
  if (file->pushback < 0) {
    uint8_t byte;
    if (take(file, &byte, 1) == 1) file->pushback = byte;
  }
  return file->pushback;
}

char* vfs_gets(VfsFile* file, char* buffer, int n) {
  if (n < 1) return nullptr;
  int count = 0;
  while (count < n - 1) {
    int c = vfs_getc(file);
    if (c < 0) break;
    buffer[count++] = char(c);
    if (c == '\n') break;
  }
  buffer[count] = 0;
  return count > 0 ? buffer : nullptr;
}

int vfs_read(VfsFile* file, void* buffer, int n) {
  if (n <= 0) return 0;
  auto* out = static_cast<uint8_t*>(buffer);
  int count = 0;
  // The peeked byte counts toward n, so the caller's buffer is never overrun.
  if (file->pushback >= 0) {
    out[count++] = uint8_t(file->pushback);
    file->pushback = -1;
  }
  while (count < n) {
    int got = take(file, out + count, n - count);
    if (got <= 0) break;
    count += got;
  }
  return count;
}

int vfs_seek(VfsFile* file, int32_t offset) {
  if (file->compressed || file->scrambled || offset < 0 || offset >= file->length) return 0;
  if (fseeko(file->file, off_t(file->base + offset), SEEK_SET) != 0) return 0;
  file->pushback = -1;
  file->position = offset;
  return 1;
}

int vfs_putc(VfsFile* file, int byte) { return putc(byte, file->file) != EOF; }

int vfs_puts(VfsFile* file, const char* text) { return fputs(text, file->file) >= 0 ? 0 : -1; }

int vfs_write(VfsFile* file, const void* data, int n) {
  if (n <= 0) return 0;
  return int(fwrite(data, 1, size_t(n), file->file));
}

int vfs_printf(VfsFile* file, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int written = vfprintf(file->file, format, args);
  va_end(args);
  return written;
}

int vfs_flush(VfsFile* file) { return fflush(file->file); }

int vfs_rename(const char* from, const char* to) {
  char from_path[VFS_NAME_MAX + 1], to_path[VFS_NAME_MAX + 1];
  if (!from || !to || !rename_path(from, from_path, sizeof from_path) ||
      !rename_path(to, to_path, sizeof to_path))
    return 0;
  // rename replaces the target in one step, so a failed move never loses it.
  return rename(from_path, to_path) == 0;
}

int vfs_remove(const char* name) {
  char path[VFS_NAME_MAX + 1];
  if (!name || !rename_path(name, path, sizeof path)) return 0;
  return remove(path) == 0;
}

int vfs_close_written(VfsFile* file) {
  if (!file) return 0;
  bool ok = file->file && fflush(file->file) == 0 && !ferror(file->file);
  if (file->file) ok = fclose(file->file) == 0 && ok;
  file->file = nullptr;
  vfs_close(file);
  return ok;
}

int vfs_find_game_data(const char* expected_digest_hex) {
  const char* home = vfs_search_dir(0);
  if (home) {
    make_directories(home);
    vant_log("VANT_LOGFILE=%slastlog.txt", home);
  }
  for (int i = 0; vfs_search_dir(i); i++) {
    char* path = path_join(vfs_search_dir(i), "zzzz.saf");
    FILE* stream = path ? fopen(path, "rb") : nullptr;
    mem_free(path);
    if (!stream) continue;
    Digest digest;
    digest_init(&digest);
    uint8_t piece[GAME_DATA_PIECE];
    for (int taken = 0; taken < GAME_DATA_DIGEST_BYTES; taken += GAME_DATA_PIECE) {
      size_t got = fread(piece, 1, sizeof piece, stream);
      digest_update(&digest, piece, got);
      if (got < sizeof piece) break;
    }
    fclose(stream);
    if (expected_digest_hex && digest_equals_hex(expected_digest_hex, digest_final(&digest))) return 1;
  }
  return 0;
}

int vfs_open_home() {
  const char* home = vfs_search_dir(0);
  if (!home) return 0;
  make_directories(home);
  // The desktop opener wants the directory without its trailing "/".
  char dir[VFS_PATH_MAX + 1];
  int written = snprintf(dir, sizeof dir, "%s", home);
  if (written < 0 || written > VFS_PATH_MAX) return 0;
  if (written > 1 && dir[written - 1] == '/') dir[written - 1] = 0;
  struct stat info;
  if (stat(dir, &info) != 0 || !S_ISDIR(info.st_mode)) return 0;
  char opener[] = "xdg-open";
  char* argv[] = {opener, dir, nullptr};
  pid_t child;
  if (posix_spawnp(&child, opener, nullptr, nullptr, argv, environ) != 0) return 0;
  int status;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void vfs_shutdown() {
  vfs_index_free();
  free_search_dirs();
}
