// A fresh directory per test under the build's test-tmp folder, removed afterwards, and the
// file system pointed at it.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "files/vfs.h"

struct TempDir {
  std::filesystem::path path;

  TempDir() {
    const char* base = getenv("SK_TEST_TMP");
    std::filesystem::path root = base ? base : std::filesystem::temp_directory_path();
    std::filesystem::create_directories(root);
    std::string pattern = (root / "skXXXXXX").string();
    char* made = mkdtemp(pattern.data());
    EXPECT_NE(made, nullptr);
    path = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::string file(const std::string& name) const { return (path / name).string(); }

  // Writes bytes to name (creating folders) and returns its full path.
  std::string write(const std::string& name, const std::string& bytes) const {
    std::filesystem::path p = path / name;
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << bytes;
    return p.string();
  }
};

inline std::string read_file_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Makes home the file system's only search directory, so "@" names read and write there, or its
// first one with `then` (the built game data, another folder) searched after it.
inline void set_search_dirs(const TempDir& home, const std::string& then = {}) {
  const std::string path = home.path.string();
  const char* dirs[] = {path.c_str(), then.c_str()};
  vfs_set_search_dirs(dirs, then.empty() ? 1 : 2);
}
