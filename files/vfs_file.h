// Inside of the virtual file system: the open-file record, the inflater over it and the
// pieces the opener, the index and the fuzz targets share. Loaders use files/vfs.h only.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <cstdio>

#include "files/scramble.h"
#include "files/vfs.h"

constexpr int VFS_INPUT_SIZE = 16384;  // compressed input buffer, bytes
constexpr int VFS_OUTPUT_SIZE = 1024;  // inflated output buffer, bytes
constexpr int32_t VFS_LENGTH_MAX = INT32_MAX;

struct VfsFile {
  FILE* file;
  int64_t base;      // offset of the data inside the file (archive members)
  int32_t length;    // readable bytes; VFS_LENGTH_MAX for loose and compressed data
  int32_t position;  // bytes taken so far; a byte in pushback is already counted
  int pushback;      // one byte of look-ahead, -1 when empty
  int compressed;
  int scrambled;
  int64_t input_limit;  // compressed bytes that may be taken from the stored data
  int64_t input_used;
  int stream_end;       // the inflater has nothing more to give
  int inflater_started;
  z_stream inflater;
  uint8_t input[VFS_INPUT_SIZE];
  uint8_t output[VFS_OUTPUT_SIZE];
  int output_read;  // next byte to hand out of output
  int output_fill;  // bytes of output filled
  ScrambleStream* scramble;
};

// Wraps an open stdio stream positioned at the data: base is the data's offset in it, length
// its stored size (VFS_LENGTH_MAX when unbounded). Starts the descrambler and/or inflater as
// asked. Takes ownership of stream: on failure it is closed and null is returned.
VfsFile* vfs_open_stream(FILE* stream, int64_t base, int32_t length, int compressed, int scrambled);

// Stored bytes below the inflater: through the descrambler when scrambled, else the stream.
int vfs_stored_read(VfsFile* file, uint8_t* buffer, int n);

// Gzip layer: parses the header from the first chunk and starts raw inflate. 1/0.
int gz_start(VfsFile* file);
// Up to n inflated bytes; short only when the compressed stream has ended or broke.
int gz_read(VfsFile* file, uint8_t* buffer, int n);

// Byte-wise case-blind comparison (ASCII tolower), the order of the file index.
int vfs_name_compare(const char* a, const char* b);

// Index lookup of a data name (without "@") and its variants for reading; null when absent.
VfsFile* vfs_index_open(const char* name);
// 1 once the file index has been built.
int vfs_index_built();
// Forgets the index and the file list.
void vfs_index_free();
// The loading-screen tick, if one is set.
void vfs_loading_tick();
