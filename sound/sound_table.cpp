// Sound tables: the built-in waveforms, the "SOUNDTABLE" reader with bounded counts, and the
// shared raw sample files.
#include "sound/sound_table.h"

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/console.h"
#include "files/vfs.h"

namespace {

struct SampleFile {
  std::string name;
  std::vector<float> samples;
};

struct OwnedTable {
  SoundTable table;
  std::string name;
  std::vector<SoundTableCell> cells;
  std::vector<std::vector<int>> remaps;
  std::vector<std::vector<float>> waveforms;  // the built-in tables' own samples
};

std::vector<std::unique_ptr<SampleFile>> sample_files;
std::vector<std::unique_ptr<OwnedTable>> tables;

const SoundTable* find_table(const char* name) {
  for (const auto& t : tables)
    if (t->name == name) return &t->table;
  return nullptr;
}

const SoundTable* keep(std::unique_ptr<OwnedTable> owned) {
  owned->table = SoundTable{owned->name.c_str(), owned->table.rows, owned->table.columns, owned->cells.data()};
  tables.push_back(std::move(owned));
  return &tables.back()->table;
}

constexpr int BUILT_IN_SAMPLES = 1024;

// One row (speed 0) and two load columns; the full waveform at load 1, a quarter of it at load 0.
const SoundTable* built_in(const char* name, double (*waveform)(double x)) {
  if (const SoundTable* t = find_table(name)) return t;
  auto owned = std::make_unique<OwnedTable>();
  owned->name = name;
  owned->table.rows = 1;
  owned->table.columns = 2;
  for (int column = 0; column < 2; column++) {
    std::vector<float> samples(BUILT_IN_SAMPLES);
    for (int n = 0; n < BUILT_IN_SAMPLES; n++) {
      double s = waveform(n / double(BUILT_IN_SAMPLES - 1));
      samples[n] = static_cast<float>(column == 0 ? 0.25 * s : s);
    }
    owned->waveforms.push_back(std::move(samples));
  }
  for (int column = 0; column < 2; column++)
    owned->cells.push_back(SoundTableCell{owned->waveforms[column].data(), BUILT_IN_SAMPLES, 1, nullptr, 0, 0,
                                          static_cast<float>(column)});
  return keep(std::move(owned));
}

double four_stroke(double x) {
  double s = (std::fabs(std::sin(3 * M_PI * x + 0.5246)) - 0.5) * 0.5;
  if (x < 0.25) s += std::sin(16 * M_PI * x) * (1 - 4 * x);
  return s;
}

double two_stroke(double x) { return x < 0.25 ? std::sin(8 * M_PI * x) * (1 - 4 * x) : 0; }

// A raw 16-bit little-endian signed mono file, loaded once per name; null when empty, unreadable
// or longer than SOUND_SAMPLES_MAX.
const SampleFile* sample_file(const char* name) {
  for (const auto& f : sample_files)
    if (f->name == name) return f.get();
  VfsFile* file = vfs_open(name, "rb");
  if (!file) return nullptr;
  std::vector<uint8_t> bytes;
  uint8_t chunk[4096];
  int got;
  while ((got = vfs_read(file, chunk, sizeof chunk)) > 0) {
    bytes.insert(bytes.end(), chunk, chunk + got);
    if (bytes.size() > size_t(SOUND_SAMPLES_MAX) * 2) break;
  }
  vfs_close(file);
  const size_t count = bytes.size() / 2;
  if (count == 0 || count > size_t(SOUND_SAMPLES_MAX)) return nullptr;
  auto loaded = std::make_unique<SampleFile>();
  loaded->name = name;
  loaded->samples.resize(count);
  for (size_t i = 0; i < count; i++)
    loaded->samples[i] = static_cast<int16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8) / 32768.0f;
  sample_files.push_back(std::move(loaded));
  return sample_files.back().get();
}

}  // namespace

const SoundTable* sound_table_default_four_stroke() { return built_in("default_four_stroke", four_stroke); }
const SoundTable* sound_table_default_two_stroke() { return built_in("default_two_stroke", two_stroke); }

const SoundTable* sound_table_read(VfsFile* file, const char* name) {
  int rows = 0, columns = 0;
  if (vfs_scanf(file, " SOUNDTABLE %d %d", &rows, &columns) != 2 || rows < 1 || columns < 1 ||
      rows > SOUND_TABLE_MAX_CELLS || columns > SOUND_TABLE_MAX_CELLS / rows)
    return nullptr;
  std::vector<float> row_values(rows), column_values(columns);
  for (float& v : row_values)
    if (vfs_scanf(file, " %f", &v) != 1) return nullptr;
  for (float& v : column_values)
    if (vfs_scanf(file, " %f", &v) != 1) return nullptr;
  auto owned = std::make_unique<OwnedTable>();
  owned->name = name;
  owned->table.rows = rows;
  owned->table.columns = columns;
  owned->remaps.resize(size_t(rows) * columns);
  for (int r = 0; r < rows; r++) {
    for (int c = 0; c < columns; c++) {
      std::vector<int>& remap = owned->remaps[size_t(r) * columns + c];
      for (;;) {
        int entry;
        if (vfs_scanf(file, " %d", &entry) != 1 || remap.size() >= size_t(SOUND_REMAP_MAX)) {
          console_printf("(%d, %d) Bad remap entry", r, c);
          return nullptr;
        }
        if (entry == -1) break;
        remap.push_back(entry);
      }
      float periods = 0;
      char sample_name[1024] = "";
      const SampleFile* samples = nullptr;
      if (vfs_scanf(file, " %f %1023s", &periods, sample_name) == 2 && periods >= 1 && periods <= SOUND_SAMPLES_MAX)
        samples = sample_file(sample_name);
      if (!samples) {
        console_printf("(%d, %d) Error reading '%.512s'", r, c, sample_name);
        return nullptr;
      }
      const int whole_periods = static_cast<int>(periods);
      for (int& entry : remap) entry = (entry % whole_periods + whole_periods) % whole_periods;
      owned->cells.push_back(SoundTableCell{samples->samples.data(), static_cast<int>(samples->samples.size()),
                                            whole_periods, remap.empty() ? nullptr : remap.data(),
                                            static_cast<int>(remap.size()), row_values[r], column_values[c]});
    }
  }
  return keep(std::move(owned));
}

const SoundTable* sound_table_get(const char* name) {
  if (const SoundTable* t = find_table(name)) return t;
  VfsFile* file = vfs_open(name, "rb");
  if (!file) return nullptr;
  const SoundTable* t = sound_table_read(file, name);
  vfs_close(file);
  return t;
}

void sound_tables_free() {
  tables.clear();
  sample_files.clear();
}
