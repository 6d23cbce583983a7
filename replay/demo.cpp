// The demo recorder and player of the session.
#include "replay/demo.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <string>

#include "core/console.h"
#include "files/memory.h"
#include "files/replace.h"
#include "files/vfs.h"
#include "replay/history.h"

namespace {

constexpr const char* DEFAULT_DEMO = "@demos/default.skdemo";
constexpr const char* SIDE_SUFFIX = ".tmp";
constexpr int NAME_MAX_LENGTH = 511;
constexpr int CONSOLE_TEXT_MAX = 1023;
constexpr int READ_CHUNK = 1 << 20;

struct Recorder {
  VfsFile* file;
  bool failed;
  bool is_default;
  char final_name[NAME_MAX_LENGTH + 1];
  char side_name[NAME_MAX_LENGTH + 8];
  int slots[SLOT_COUNT];
  int slot_count;
  DemoPackFn pack;
  int backups;
  uint32_t last_length;
  uint8_t* buffer;   // one states block: head and a full ring of entries per slot
  size_t capacity;
};

struct Player {
  uint8_t* data;
  size_t size;
  DemoHeader header;
  bool open;
  bool time_trial;
  size_t data_start;
  size_t pos;                // next block (version 6) or record (older versions)
  uint32_t last_length;      // payload length of the block before pos
  int32_t read_tick;         // session tick up to which the demo has been read
  int32_t tick_offset;       // session tick minus demo tick
  bool have_base;            // the first states block has been read
  size_t erosion_done_until; // erosion data before this offset has been applied
  int slot_of_rider[DEMO_MAX_RIDERS];
};

Recorder recorder;
Player player;
char pending_name[256];
DemoPlaybackHandlers handlers;

// The path of a file name: an "@" name stands for a file in the home directory.
std::string home_path(const char* name) {
  if (name[0] != '@') return name;
  const char* home = vfs_search_dir(0);
  return std::string(home ? home : "") + (name + 1);
}

void rotate_backups(int backups) {
  int b = std::clamp(backups, 0, DEMO_MAX_BACKUPS);
  char from[64], to[64];
  for (int n = b - 2; n >= 0; --n) {
    snprintf(from, sizeof from, "@demos/default%02d.skdemo", n);
    snprintf(to, sizeof to, "@demos/default%02d.skdemo", n + 1);
    vfs_rename(from, to);
  }
  if (b > 0) vfs_rename(DEFAULT_DEMO, "@demos/default00.skdemo");
}

void recorder_write(const void* data, size_t size) {
  if (!recorder.file || recorder.failed) return;
  if (vfs_write(recorder.file, data, int(size)) != int(size)) recorder.failed = true;
}

void recorder_flush() {
  if (recorder.file && !recorder.failed && vfs_flush(recorder.file) != 0) recorder.failed = true;
}

void write_block(uint8_t type, int32_t tick, const void* payload, uint32_t length) {
  uint8_t head[DEMO_BLOCK_HEAD];
  demo_block_head_put(head, length, recorder.last_length, tick, type);
  recorder_write(head, sizeof head);
  recorder_write(payload, length);
  recorder.last_length = length;
}

void write_pending_states(int32_t sim_tick) {
  uint8_t* out = recorder.buffer + DEMO_BLOCK_HEAD;
  for (int i = 0; i < recorder.slot_count; ++i) {
    HistoryRing& ring = history_rings[recorder.slots[i]];
    for (int back = ring.pending - 1; back >= 0; --back) {
      const HistoryEntry& e = ring.entries[((ring.head - back) % HISTORY_LENGTH + HISTORY_LENGTH) % HISTORY_LENGTH];
      if (e.tick == HISTORY_EMPTY) continue;
      demo_entry_put(out, i, e.tick, e.state);
      out += DEMO_ENTRY_SIZE;
    }
    ring.pending = 0;
  }
  uint32_t length = uint32_t(out - recorder.buffer - DEMO_BLOCK_HEAD);
  if (length == 0) return;
  demo_block_head_put(recorder.buffer, length, recorder.last_length, sim_tick, DEMO_BLOCK_STATES);
  recorder_write(recorder.buffer, DEMO_BLOCK_HEAD + length);
  recorder.last_length = length;
  recorder_flush();
}

void close_recorder_file() {
  if (recorder.file) vfs_close(recorder.file);
  recorder.file = nullptr;
  mem_free(recorder.buffer);
  recorder.buffer = nullptr;
}

void play_console(const uint8_t* payload, uint32_t length) {
  char text[CONSOLE_TEXT_MAX + 1];
  size_t n = std::min<size_t>(length, CONSOLE_TEXT_MAX);
  std::memcpy(text, payload, n);
  text[n] = 0;
  console_print(text);
}

void play_command(const uint8_t* payload, uint32_t length) {
  char text[64];
  size_t n = std::min<size_t>(length, sizeof text - 1);
  std::memcpy(text, payload, n);
  text[n] = 0;
  int rate;
  if (handlers.erosion_rate && sscanf(text, "erode %d", &rate) == 1) handlers.erosion_rate(rate);
}

void play_states(const DemoBlock& block, int32_t* sim_tick) {
  if (block.length % DEMO_ENTRY_SIZE != 0) return;
  if (!player.have_base) {
    player.have_base = true;
    if (player.time_trial) {
      player.tick_offset = int32_t(int64_t(*sim_tick) - block.tick);
    } else {
      *sim_tick = block.tick;
    }
  }
  for (uint32_t at = 0; at < block.length; at += DEMO_ENTRY_SIZE) {
    int rider;
    int32_t tick;
    PackedBikeState state;
    demo_entry_get(block.payload + at, &rider, &tick, &state);
    if (rider >= player.header.rider_count) continue;
    if (std::llabs(int64_t(tick) - block.tick) > DEMO_ENTRY_TICK_SPREAD) continue;
    int64_t session_tick = int64_t(tick) + player.tick_offset;
    int slot = player.slot_of_rider[rider];
    if (slot < 0 || session_tick < 0 || session_tick > INT32_MAX) continue;
    history_add(slot, state, int32_t(session_tick));
  }
}

void read_blocks(int32_t* sim_tick) {
  for (int blocks = 0; blocks < DEMO_READ_BLOCKS; ++blocks) {
    DemoBlock block;
    if (!demo_block_at(player.data, player.size, player.pos, player.last_length, &block)) return;
    int64_t block_tick = int64_t(block.tick) + player.tick_offset;
    // Until the first states block says where the demo starts, its ticks are not comparable
    // with the session's.
    if (player.have_base && block_tick > int64_t(*sim_tick) + DEMO_READ_AHEAD) return;
    switch (block.type) {
      case DEMO_BLOCK_STATES: play_states(block, sim_tick); break;
      case DEMO_BLOCK_CONSOLE: play_console(block.payload, block.length); break;
      case DEMO_BLOCK_COMMAND: play_command(block.payload, block.length); break;
      case DEMO_BLOCK_EROSION:
        if (block.start >= player.erosion_done_until) {
          if (handlers.erosion) handlers.erosion(block.payload, block.length);
          player.erosion_done_until = block.start + 1;
        }
        break;
      default: break;
    }
    player.last_length = block.length;
    player.pos += DEMO_BLOCK_HEAD + size_t(block.length);
    player.read_tick = int32_t(std::clamp<int64_t>(int64_t(block.tick) + player.tick_offset, INT32_MIN, INT32_MAX));
  }
}

size_t record_size() { return player.header.version == 4 ? DEMO_V4_RECORD_SIZE : DEMO_V5_RECORD_SIZE; }

void read_records(int32_t sim_tick) {
  size_t size = record_size();
  int riders = player.header.rider_count;
  if (riders == 0) return;
  while (int64_t(player.read_tick) <= int64_t(sim_tick) + DEMO_RECORD_AHEAD) {
    if (player.size - player.pos < size * riders) {
      // The demo ends inside this tick: the riders get no more states.
      player.pos = player.size;
      return;
    }
    for (int r = 0; r < riders; ++r) {
      PackedBikeState state;
      demo_record_to_state(player.data + player.pos, player.header.version, &state);
      player.pos += size;
      if (player.slot_of_rider[r] >= 0) history_add(player.slot_of_rider[r], state, player.read_tick);
    }
    if (player.read_tick == INT32_MAX) return;
    ++player.read_tick;
  }
}

bool load_file(const char* name, uint8_t** data, size_t* size) {
  VfsFile* file = vfs_open(name, "rb");
  if (!file) return false;
  size_t used = 0, capacity = 0;
  uint8_t* bytes = nullptr;
  for (;;) {
    if (capacity - used < size_t(READ_CHUNK)) {
      capacity = capacity * 2 + READ_CHUNK;
      uint8_t* grown = static_cast<uint8_t*>(mem_realloc(bytes, capacity));
      if (!grown || capacity > size_t(INT32_MAX)) {
        mem_free(grown ? grown : bytes);
        vfs_close(file);
        return false;
      }
      bytes = grown;
    }
    int got = vfs_read(file, bytes + used, READ_CHUNK);
    if (got <= 0) break;
    used += size_t(got);
  }
  vfs_close(file);
  *data = bytes;
  *size = used;
  return true;
}

bool start_playing(uint8_t* data, size_t size, bool time_trial) {
  demo_play_close();
  player.data = data;
  player.size = size;
  if (!demo_header_parse(data, size, &player.header, &player.data_start)) {
    demo_play_close();
    return false;
  }
  player.open = true;
  player.time_trial = time_trial;
  player.pos = player.data_start;
  for (int i = 0; i < DEMO_MAX_RIDERS; ++i) player.slot_of_rider[i] = i < SLOT_COUNT ? i : -1;
  history_interpolation = player.header.version != 4;
  return true;
}

}  // namespace

bool demo_records_kind(SlotKind kind, bool connected, bool has_race_slot) {
  if (!connected) return kind == SLOT_LOCAL || kind == SLOT_ROBOT;
  if (has_race_slot) return kind == SLOT_LOCAL || kind == SLOT_REPLAY || kind == SLOT_ROBOT;
  return kind == SLOT_REPLAY || kind == SLOT_ROBOT;
}

bool demo_record_start(const DemoRecordSetup& setup) {
  if (recorder.file) demo_record_finish();
  recorder = Recorder{};
  if (setup.file) {
    snprintf(recorder.final_name, sizeof recorder.final_name, "%s", setup.file);
  } else if (setup.time_trial_track) {
    snprintf(recorder.final_name, sizeof recorder.final_name, "@%.480s/lastlap.skdemo", setup.time_trial_track);
  } else {
    snprintf(recorder.final_name, sizeof recorder.final_name, "%s", DEFAULT_DEMO);
    recorder.is_default = true;
  }
  snprintf(recorder.side_name, sizeof recorder.side_name, "%s%s", recorder.final_name, SIDE_SUFFIX);
  for (int i = 0; i < setup.slot_count && recorder.slot_count < SLOT_COUNT; ++i) {
    if (setup.slots[i] >= 0 && setup.slots[i] < SLOT_COUNT) recorder.slots[recorder.slot_count++] = setup.slots[i];
  }
  recorder.pack = setup.pack;
  recorder.backups = setup.backups;
  recorder.capacity = DEMO_BLOCK_HEAD + size_t(recorder.slot_count) * HISTORY_LENGTH * DEMO_ENTRY_SIZE;
  recorder.buffer = static_cast<uint8_t*>(mem_alloc_or_die(recorder.capacity));
  recorder.file = vfs_open(recorder.side_name, "wb");
  if (!recorder.file) {
    close_recorder_file();
    return false;
  }
  std::string header;
  demo_header_write(*setup.header, &header);
  recorder_write(header.data(), header.size());
  recorder_flush();
  return true;
}

void demo_record_step(int32_t sim_tick, bool force) {
  if (!recorder.file) return;
  if (force || sim_tick % DEMO_STATE_EVERY == 0) {
    for (int i = 0; i < recorder.slot_count; ++i) {
      PackedBikeState state;
      if (recorder.pack && recorder.pack(recorder.slots[i], &state)) history_add(recorder.slots[i], state, sim_tick);
    }
  }
  if (force || sim_tick % DEMO_BLOCK_EVERY == 0) write_pending_states(sim_tick);
}

void demo_record_block(uint8_t type, int32_t sim_tick, const void* payload, uint32_t length) {
  if (!recorder.file) return;
  write_block(type, sim_tick, payload, length);
  recorder_flush();
}

bool demo_record_finish() {
  if (!recorder.file) return false;
  recorder_flush();
  bool ok = !recorder.failed;
  close_recorder_file();
  if (!ok) {
    std::remove(home_path(recorder.side_name).c_str());
    return false;
  }
  if (recorder.is_default) rotate_backups(recorder.backups);
  if (!vfs_rename(recorder.side_name, recorder.final_name)) return false;
  if (recorder.is_default && pending_name[0]) {
    char named[NAME_MAX_LENGTH + 1];
    snprintf(named, sizeof named, "@demos/%s", pending_name);
    vfs_rename(DEFAULT_DEMO, named);
    pending_name[0] = 0;
  }
  return true;
}

bool demo_copy_file(const char* from, const char* to) {
  uint8_t* data;
  size_t size;
  if (!load_file(from, &data, &size)) return false;
  const bool ok = size <= size_t(INT32_MAX) && vfs_replace(to, data, int(size));
  mem_free(data);
  return ok;
}

bool demo_recording() { return recorder.file != nullptr; }

void demo_set_pending_name(const char* name) { snprintf(pending_name, sizeof pending_name, "%s", name ? name : ""); }

void demo_set_playback_handlers(const DemoPlaybackHandlers& new_handlers) { handlers = new_handlers; }

bool demo_play_open(const char* name, bool time_trial) {
  uint8_t* data;
  size_t size;
  demo_play_close();
  if (!load_file(name, &data, &size)) return false;
  return start_playing(data, size, time_trial);
}

bool demo_play_open_bytes(const uint8_t* data, size_t size, bool time_trial) {
  uint8_t* copy = static_cast<uint8_t*>(mem_alloc_or_die(size ? size : 1));
  if (size) std::memcpy(copy, data, size);
  return start_playing(copy, size, time_trial);
}

void demo_play_close() {
  mem_free(player.data);
  player = Player{};
  history_interpolation = true;
}

bool demo_playing() { return player.open; }

bool demo_play_ended() {
  if (!player.open) return true;
  if (player.header.version != DEMO_VERSION) return player.pos >= player.size;
  DemoBlock block;
  return !demo_block_at(player.data, player.size, player.pos, player.last_length, &block);
}

const DemoHeader* demo_play_header() { return player.open ? &player.header : nullptr; }

void demo_play_map_rider(int rider, int slot) {
  if (rider < 0 || rider >= DEMO_MAX_RIDERS) return;
  player.slot_of_rider[rider] = slot >= 0 && slot < SLOT_COUNT ? slot : -1;
}

void demo_read_ahead(int32_t* sim_tick) {
  if (!player.open) return;
  if (player.header.version == DEMO_VERSION) {
    read_blocks(sim_tick);
  } else {
    read_records(*sim_tick);
  }
}

bool demo_skip_by_stepping(double seconds, bool accurate_skip) {
  return seconds > 0 && (accurate_skip || (player.open && player.header.version == DEMO_VERSION));
}

int32_t demo_skip_seek(int32_t* sim_tick, double seconds) {
  int64_t target = int64_t(*sim_tick) + int64_t(std::floor(seconds / SIM_STEP)) - 1;
  int32_t c = int32_t(std::clamp<int64_t>(target, 0, INT32_MAX));
  if (player.open) {
    if (player.header.version == DEMO_VERSION) {
      // Walk back until the block at the read position starts early enough that the poses
      // around c can be interpolated.
      int64_t early = std::max<int64_t>(0, int64_t(c) - DEMO_READ_AHEAD);
      for (;;) {
        DemoBlock block;
        if (demo_block_at(player.data, player.size, player.pos, player.last_length, &block) &&
            int64_t(block.tick) + player.tick_offset <= early) {
          break;
        }
        size_t start;
        uint32_t before;
        if (player.pos <= player.data_start ||
            !demo_block_before(player.data, player.size, player.data_start, player.pos, player.last_length, &start, &before)) {
          player.pos = player.data_start;
          player.last_length = 0;
          break;
        }
        player.pos = start;
        player.last_length = before;
      }
    } else {
      uint64_t offset = uint64_t(c) * uint64_t(player.header.rider_count) * record_size();
      uint64_t room = player.size - player.data_start;
      player.pos = player.data_start + size_t(std::min(offset, room));
    }
    player.read_tick = c;
  }
  *sim_tick = c;
  history_clear_all();
  demo_read_ahead(sim_tick);
  return c;
}

std::vector<DemoListEntry> demo_list;

void demo_list_build() {
  static constexpr const char* DIR = "demos/";
  static constexpr const char* EXTENSION = ".skdemo";
  const size_t dir_length = strlen(DIR), extension_length = strlen(EXTENSION);
  demo_list.clear();
  for (const char* const* name = vfs_file_list(); name && *name; ++name) {
    const size_t length = strlen(*name);
    if (length <= dir_length + extension_length || strncasecmp(*name, DIR, dir_length) != 0 ||
        strcasecmp(*name + length - extension_length, EXTENSION) != 0)
      continue;
    const char* base = *name + dir_length;
    if (const char* slash = strrchr(base, '/')) base = slash + 1;
    const size_t base_length = size_t(*name + length - extension_length - base);
    demo_list.push_back({std::string("@") + *name, std::string(base, base_length)});
  }
}
