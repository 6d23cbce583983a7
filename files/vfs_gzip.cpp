// The gzip layer of an open file: header parsing and raw inflate, never taking more
// compressed bytes than the stored data holds.
#include <cstring>
#include <initializer_list>

#include "files/vfs_file.h"

namespace {

// Gzip header flag bits.
constexpr int FLAG_HEADER_CRC = 2;
constexpr int FLAG_EXTRA = 4;
constexpr int FLAG_NAME = 8;
constexpr int FLAG_COMMENT = 16;
constexpr int FLAG_RESERVED = 0xe0;

// Fills the compressed-input buffer, at most up to the compressed-input limit.
void refill(VfsFile* file) {
  int64_t allowed = file->input_limit - file->input_used;
  int want = allowed < VFS_INPUT_SIZE ? int(allowed) : VFS_INPUT_SIZE;
  int got = want > 0 ? vfs_stored_read(file, file->input, want) : 0;
  if (got < 0) got = 0;
  file->input_used += got;
  file->inflater.next_in = file->input;
  file->inflater.avail_in = unsigned(got);
}

// Length of the gzip member header at the start of bytes, or 0 when it is not a valid
// header or does not lie wholly within them.
size_t header_length(const uint8_t* bytes, size_t size) {
  if (size < 10 || bytes[0] != 31 || bytes[1] != 139 || bytes[2] != 8) return 0;
  int flags = bytes[3];
  if (flags & FLAG_RESERVED) return 0;
  size_t at = 10;  // past the time, extra flags and operating system
  if (flags & FLAG_EXTRA) {
    if (size - at < 2) return 0;
    size_t extra = size_t(bytes[at]) | size_t(bytes[at + 1]) << 8;
    at += 2;
    if (size - at < extra) return 0;
    at += extra;
  }
  for (int field : {FLAG_NAME, FLAG_COMMENT}) {
    if (!(flags & field)) continue;
    const void* end = memchr(bytes + at, 0, size - at);
    if (!end) return 0;
    at = size_t(static_cast<const uint8_t*>(end) - bytes) + 1;
  }
  if (flags & FLAG_HEADER_CRC) {
    if (size - at < 2) return 0;
    at += 2;
  }
  return at;
}

}  // namespace

int gz_start(VfsFile* file) {
  // The stored size bounds the compressed input; the inflated size is not known.
  file->input_limit = file->length;
  file->input_used = 0;
  file->length = VFS_LENGTH_MAX;
  file->output_read = 0;
  file->output_fill = 0;
  file->stream_end = 0;
  memset(&file->inflater, 0, sizeof file->inflater);
  refill(file);
  size_t chunk = file->inflater.avail_in;
  size_t header = header_length(file->input, chunk);
  if (header == 0) return 0;
  file->inflater.next_in = file->input + header;
  file->inflater.avail_in = unsigned(chunk - header);
  if (inflateInit2(&file->inflater, -15) != Z_OK) return 0;
  file->inflater_started = 1;
  return 1;
}

int gz_read(VfsFile* file, uint8_t* buffer, int n) {
  int done = 0;
  for (;;) {
    if (file->output_read < file->output_fill) {
      int take = file->output_fill - file->output_read;
      if (take > n - done) take = n - done;
      memcpy(buffer + done, file->output + file->output_read, size_t(take));
      file->output_read += take;
      done += take;
      if (done == n) return done;
    }
    if (file->stream_end) return done;
    file->output_read = 0;
    file->output_fill = 0;
    z_stream* z = &file->inflater;
    z->next_out = file->output;
    z->avail_out = VFS_OUTPUT_SIZE;
    while (z->avail_out > 0) {
      if (z->avail_in == 0) {
        refill(file);
        // Compressed data that stops before its end marker ends the data here.
        if (z->avail_in == 0) {
          file->stream_end = 1;
          break;
        }
      }
      int result = inflate(z, Z_NO_FLUSH);
      if (result != Z_OK) {
        // The end marker, a corrupt stream or any other trouble: nothing more will come.
        file->stream_end = 1;
        break;
      }
    }
    file->output_fill = VFS_OUTPUT_SIZE - int(z->avail_out);
  }
}
