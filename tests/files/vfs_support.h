// Shared fixture of the file-system tests: a home and a data directory as the search list,
// and helpers that make stored variants with real tools.
#pragma once

#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "files/scramble.h"
#include "files/vfs.h"
#include "tests/support/temp_dir.h"

struct VfsTest : ::testing::Test {
  TempDir root;
  std::string home = root.file("home");
  std::string data = root.file("data");

  void SetUp() override {
    const char* dirs[] = {home.c_str(), data.c_str()};
    vfs_set_search_dirs(dirs, 2);
  }
  void TearDown() override { vfs_shutdown(); }
};

// Everything vfs_read delivers from name, or "<none>" when it does not open.
inline std::string vfs_slurp(const char* name) {
  VfsFile* file = vfs_open(name, "rb");
  if (!file) return "<none>";
  std::string out;
  char buffer[333];
  int got;
  while ((got = vfs_read(file, buffer, sizeof buffer)) > 0) out.append(buffer, size_t(got));
  vfs_close(file);
  return out;
}

// The gzip tool's output for bytes; flags such as "-n" (no name) or "-N" (name and time).
inline std::string gzip_tool(const TempDir& dir, const std::string& bytes, const std::string& flags) {
  std::string plain = dir.write("gzip-input/member.txt", bytes);
  std::string packed = dir.file("gzip-output.gz");
  std::string command = "gzip -c " + flags + " '" + plain + "' > '" + packed + "'";
  EXPECT_EQ(system(command.c_str()), 0);
  return read_file_bytes(packed);
}

// Raw deflate of bytes at the given level.
inline std::string deflate_raw(const std::string& bytes) {
  z_stream z = {};
  deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, bytes.size()), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  z.avail_in = unsigned(bytes.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = unsigned(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// A gzip member with every optional header field: extra field, name, comment and header
// CRC (flag bits 4, 8, 16, 2), plus the given flag bits on top.
inline std::string gzip_with_fields(const std::string& bytes, int extra_flags = 0) {
  std::string out = {char(31), char(139), char(8), char(2 | 4 | 8 | 16 | extra_flags)};
  out += std::string(6, '\0');
  out += std::string("\x03\x00xyz", 5);
  out += std::string("name.txt") + '\0';
  out += std::string("a comment, with a \xff byte") + '\0';
  out += "\x12\x34";
  out += deflate_raw(bytes);
  uLong crc = crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), unsigned(bytes.size()));
  for (int i = 0; i < 4; i++) out += char(crc >> (8 * i));
  for (int i = 0; i < 4; i++) out += char(bytes.size() >> (8 * i));
  return out;
}

// The scrambled form of bytes.
inline std::string scramble_bytes(const TempDir& dir, const std::string& bytes) {
  std::string path = dir.file("scramble-output");
  FILE* out = fopen(path.c_str(), "wb");
  EXPECT_TRUE(out && scram_write(out, bytes.data(), bytes.size()));
  if (out) fclose(out);
  return read_file_bytes(path);
}
