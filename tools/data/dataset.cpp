// The data set being generated: named files held in memory, then written out in name order.
#include "tools/data/dataset.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

void dataset_add(DataSet* set, const std::string& name, std::vector<uint8_t> bytes) {
  set->files.push_back(DataFile{name, std::move(bytes)});
}

void dataset_add_text(DataSet* set, const std::string& name, const std::string& text) {
  dataset_add(set, name, std::vector<uint8_t>(text.begin(), text.end()));
}

bool dataset_add_tree(DataSet* set, const std::string& dir) {
  std::error_code error;
  std::vector<fs::path> paths;
  for (fs::recursive_directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
    if (it->is_regular_file()) paths.push_back(it->path());
  }
  if (error) {
    fprintf(stderr, "skorvan-data: can't list '%s': %s\n", dir.c_str(), error.message().c_str());
    return false;
  }
  std::sort(paths.begin(), paths.end());  // directory order is not stable
  for (const fs::path& p : paths) {
    std::ifstream in(p, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    dataset_add(set, fs::relative(p, dir).generic_string(), std::move(bytes));
  }
  return true;
}

const DataFile* dataset_find(const DataSet& set, const std::string& name) {
  for (const DataFile& f : set.files) {
    if (f.name == name) return &f;
  }
  return nullptr;
}

bool dataset_write(const DataSet& set, const std::string& dir) {
  std::vector<std::string> names;
  for (const DataFile& f : set.files) names.push_back(f.name);
  std::sort(names.begin(), names.end());
  if (std::adjacent_find(names.begin(), names.end()) != names.end()) {
    fprintf(stderr, "skorvan-data: '%s' is generated twice\n", std::adjacent_find(names.begin(), names.end())->c_str());
    return false;
  }
  std::error_code error;
  fs::remove_all(dir, error);  // a file left from an older generator must not be packed
  for (const DataFile& f : set.files) {
    fs::path p = fs::path(dir) / f.name;
    fs::create_directories(p.parent_path(), error);
    FILE* out = fopen(p.c_str(), "wb");
    bool ok = out && fwrite(f.bytes.data(), 1, f.bytes.size(), out) == f.bytes.size();
    if (out && fclose(out) != 0) ok = false;
    if (!ok) {
      fprintf(stderr, "skorvan-data: can't write '%s'\n", p.c_str());
      return false;
    }
  }
  return true;
}

void text_printf(std::string* text, const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int length = vsnprintf(nullptr, 0, format, args);
  va_end(args);
  if (length > 0) {
    size_t at = text->size();
    text->resize(at + length + 1);
    vsnprintf(text->data() + at, length + 1, format, again);
    text->resize(at + length);
  }
  va_end(again);
}
