// The virtual file system: search directories, the file index over loose files and .saf
// archives, "@" data names, and one handle type for plain, .gz, .scram and .gz.scram data.
#pragma once

#include <cstdarg>
#include <cstdint>

// One open file of any variant; allocated by vfs_open, freed by vfs_close.
struct VfsFile;

// Longest search-directory candidate ("dir" + data name) and variant / directory-creation path.
constexpr int VFS_NAME_MAX = 511;
constexpr int VFS_PATH_MAX = 1023;
constexpr int VFS_BACKUP_PATH_MAX = 1000;
// Default field width of vfs_scanf's integer, float, string and scan-set conversions.
constexpr int VFS_SCAN_WIDTH = 1000000;

// a + b with every "\" turned into "/" and every run of "/" collapsed into one.
// Allocated with mem_alloc (free with mem_free); null when either piece is null.
char* path_join(const char* a, const char* b);

// The i-th search directory (ends in "/"), null past the end. Entry 0 is the home
// directory, where writes of "@" names land. Built from the environment on first use:
// $XDG_DATA_HOME/Skorvan/ (else ~/.local/share/Skorvan/), then $SK_HOME/ or, without
// SK_HOME, the directory of the running program.
const char* vfs_search_dir(int i);

// Replaces the search list with the given directories (at most 2; each gets a trailing "/")
// and forgets the file index. For tools and tests that point the layer at a folder of their
// own; entry 0 acts as the home directory. Null or count 0 leaves no search directory.
void vfs_set_search_dirs(const char* const* dirs, int count);

// Called once per directory walked and per archive read while the index is built, so a
// loading screen can stay alive. Null turns it off.
void vfs_set_loading_tick(void (*tick)());

// Opens a path, or an "@" data name (search directories first, then the file index). mode is
// a stdio mode ("rb", "wb", "a" ...), optionally prefixed by "~" to keep the previous file as
// "path.~N~" before writing. Reading modes ("r" without "+") also try the ".gz", ".scram" and
// ".gz.scram" variants. Writing creates missing directories. Null on failure.
VfsFile* vfs_open(const char* name, const char* mode);
void vfs_close(VfsFile* file);

// Reads. Each returns -1 or a short count at the end of the data; an archive member's data
// ends at its stored size.
int vfs_getc(VfsFile* file);
// The next byte without consuming it, or -1.
int vfs_peekc(VfsFile* file);
// Up to and including the next "\n", at most n - 1 bytes, zero-terminated; null only when no
// byte at all could be read.
char* vfs_gets(VfsFile* file, char* buffer, int n);
// Up to n bytes (a peeked byte first); returns the count delivered.
int vfs_read(VfsFile* file, void* buffer, int n);
// Moves to offset within the data; only for data neither compressed nor scrambled. 1/0.
int vfs_seek(VfsFile* file, int32_t offset);

// Formatted read over the byte stream; returns the number of assigned conversions, or -1 when
// the input ends (or a literal fails to match) before the first conversion.
// Conversions: d i o x X f s c [set] n %%, with width, "*" (suppress), "h" (int16_t target),
// "l" (double for f; int32_t for integers), "ll"/"L"/"q" (long double for f; int64_t for
// integers). Plain integer conversions store int32_t, plain f stores float. Any other letter
// (u, e, g, p ...) ends the call and returns the count so far. f reads decimal only.
int vfs_scanf(VfsFile* file, const char* format, ...);
int vfs_vscanf(VfsFile* file, const char* format, va_list args);

// Writes (plain files only), each the stdio counterpart on the stream.
int vfs_putc(VfsFile* file, int byte);  // 1 on success
int vfs_puts(VfsFile* file, const char* text);  // >= 0 on success, -1 on error
int vfs_write(VfsFile* file, const void* data, int n);  // count written
int vfs_printf(VfsFile* file, const char* format, ...) __attribute__((format(printf, 2, 3)));
int vfs_flush(VfsFile* file);  // 0 on success

// Moves from onto to, replacing to; "@name" stands for the home directory + name. 1/0.
// When the move fails, to is left as it was.
int vfs_rename(const char* from, const char* to);
// Removes a file; "@name" stands for the home directory + name. 1/0.
int vfs_remove(const char* name);
// Closes a file that was being written: 1 when every byte reached the file (no write error
// before or at the close), else 0. The handle is freed either way.
int vfs_close_written(VfsFile* file);

// The null-terminated list of distinct data names (case-insensitively), sorted. Builds the
// file index on first call; later calls return the same list.
const char* const* vfs_file_list();
// "name -> path" of index entry i, truncated to the buffer. 0 before the index exists or
// for i out of range.
int vfs_describe_entry(int i, char* buffer, int size);

// Start-up: creates the home directory, points the log at "lastlog.txt" there, and looks in
// each search directory for "zzzz.saf" whose first MiB has the given RIPEMD-160 digest
// (40 hexadecimal digits). 1 when found.
int vfs_find_game_data(const char* expected_digest_hex);

// Creates the home directory chain and asks the desktop to show it ("xdg-open"). 1 when the
// directory exists and the opener reported success.
int vfs_open_home();

// Frees the search directories, the index and the file list; the next use starts afresh.
void vfs_shutdown();
