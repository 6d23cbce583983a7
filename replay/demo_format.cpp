// Demo header text and block bytes: writing, and bounded reading of untrusted files.
#include "replay/demo_format.h"

#include <cstdio>
#include <cstring>

#include "files/memory.h"
#include "physics/model_names.h"

namespace {

void append_clean(std::string* out, const char* text, bool in_models_line) {
  if (!text) return;
  for (const char* c = text; *c; ++c) {
    bool breaks = *c == '\n' || *c == '\r' || (in_models_line && *c == '|');
    out->push_back(breaks ? ' ' : *c);
  }
}

// Walks the header one "\n"-terminated line at a time, never past the bytes.
struct LineCursor {
  const uint8_t* data;
  size_t size;
  size_t pos;
  char line[DEMO_LINE_MAX + 1];

  bool next() {
    size_t limit = size - pos < size_t(DEMO_LINE_MAX) + 1 ? size - pos : size_t(DEMO_LINE_MAX) + 1;
    const void* end = std::memchr(data + pos, '\n', limit);
    if (!end) return false;
    size_t length = static_cast<const uint8_t*>(end) - (data + pos);
    std::memcpy(line, data + pos, length);
    line[length] = 0;
    if (length > 0 && line[length - 1] == '\r') line[length - 1] = 0;
    pos += length + 1;
    return true;
  }
};

// Reads a decimal integer as "%d" would (leading blanks, a sign). False without digits or
// when it does not fit in 32 bits.
bool read_int(const char** text, int32_t* value) {
  const char* c = *text;
  while (*c == ' ' || *c == '\t' || *c == '\v' || *c == '\f') ++c;
  bool negative = false;
  if (*c == '-' || *c == '+') negative = *c++ == '-';
  if (*c < '0' || *c > '9') return false;
  int64_t v = 0;
  for (; *c >= '0' && *c <= '9'; ++c) {
    v = v * 10 + (*c - '0');
    if (v > int64_t(INT32_MAX) + 1) return false;
  }
  v = negative ? -v : v;
  if (v > INT32_MAX) return false;
  *value = int32_t(v);
  *text = c;
  return true;
}

const char* shared_name(const char* text) { return *text ? intern_string(text) : nullptr; }

void read_models_line(char* line, DemoRider* rider) {
  const char** fields[] = {&rider->model, &rider->rider_graphics, &rider->bike_graphics,
                           &rider->wheel_graphics, &rider->helmet_graphics};
  char* field = line;
  for (const char** target : fields) {
    char* bar = field ? std::strchr(field, '|') : nullptr;
    if (bar) *bar = 0;
    *target = field ? shared_name(field) : nullptr;
    field = bar ? bar + 1 : nullptr;
  }
  const char* model = bike_model_alias(rider->model);
  if (model != rider->model) rider->model = intern_string(model);
}

}  // namespace

uint32_t demo_get_u32(const uint8_t* at) {
  return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

void demo_put_u32(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = uint8_t(value >> (8 * i));
}

void demo_header_write(const DemoHeader& header, std::string* out) {
  char line[96];
  snprintf(line, sizeof line, "SK%02d %d %d %d %d\n", DEMO_VERSION, header.rider_count, header.duration,
           header.laps, header.race_start_tick);
  out->append(line);
  append_clean(out, header.track, false);
  out->push_back('\n');
  for (int i = 0; i < header.rider_count && i < DEMO_MAX_RIDERS; ++i) {
    const DemoRider& r = header.riders[i];
    const char* names[] = {r.model, r.rider_graphics, r.bike_graphics, r.wheel_graphics, r.helmet_graphics};
    for (int k = 0; k < 5; ++k) {
      if (k) out->push_back('|');
      append_clean(out, names[k], true);
    }
    out->push_back('\n');
    append_clean(out, r.number, false);
    out->push_back('\n');
    append_clean(out, r.name, false);
    out->append("\n\n");
  }
}

bool demo_header_parse(const uint8_t* data, size_t size, DemoHeader* header, size_t* data_start) {
  std::memset(header, 0, sizeof *header);
  LineCursor cursor{data, size, 0, {}};
  if (!cursor.next() || std::strncmp(cursor.line, "SK", 2) != 0) return false;
  int32_t numbers[5] = {0, 0, 0, 0, DEMO_DEFAULT_START_TICK};
  const char* text = cursor.line + 2;
  int count = 0;
  while (count < 5 && read_int(&text, &numbers[count])) ++count;
  if (count < 3 || numbers[0] < DEMO_OLDEST_VERSION || numbers[0] > DEMO_VERSION) return false;
  if (numbers[1] < 0 || numbers[1] > DEMO_MAX_RIDERS) return false;
  header->version = numbers[0];
  header->rider_count = numbers[1];
  header->duration = numbers[2];
  header->laps = numbers[3];
  header->race_start_tick = numbers[4];

  if (!cursor.next()) return false;
  header->track = intern_string(cursor.line);
  for (int i = 0; i < header->rider_count; ++i) {
    DemoRider& rider = header->riders[i];
    if (!cursor.next()) return false;
    read_models_line(cursor.line, &rider);
    if (!cursor.next()) return false;
    snprintf(rider.number, sizeof rider.number, "%.3s", cursor.line);
    if (header->version >= 6) {
      if (!cursor.next()) return false;
      rider.name = shared_name(cursor.line);
      if (!cursor.next()) return false;  // the empty line between riders
    }
  }
  *data_start = cursor.pos;
  return true;
}

void demo_block_head_put(uint8_t* out, uint32_t length, uint32_t previous_length, int32_t tick,
                         uint8_t type) {
  demo_put_u32(out, length ^ previous_length);
  demo_put_u32(out + 4, uint32_t(tick));
  out[8] = type;
}

void demo_entry_put(uint8_t* out, int rider, int32_t tick, const PackedBikeState& state) {
  out[0] = uint8_t(rider);
  demo_put_u32(out + 1, uint32_t(tick));
  std::memcpy(out + 5, state.bytes, PACKED_STATE_SIZE);
}

void demo_entry_get(const uint8_t* at, int* rider, int32_t* tick, PackedBikeState* state) {
  *rider = at[0];
  *tick = int32_t(demo_get_u32(at + 1));
  std::memcpy(state->bytes, at + 5, PACKED_STATE_SIZE);
}

bool demo_block_at(const uint8_t* data, size_t size, size_t pos, uint32_t previous_length,
                   DemoBlock* out) {
  if (pos > size || size - pos < size_t(DEMO_BLOCK_HEAD)) return false;
  const uint8_t* head = data + pos;
  uint32_t length = demo_get_u32(head) ^ previous_length;
  if (size - pos - DEMO_BLOCK_HEAD < length) return false;
  out->start = pos;
  out->length = length;
  out->tick = int32_t(demo_get_u32(head + 4));
  out->type = head[8];
  out->payload = head + DEMO_BLOCK_HEAD;
  return true;
}

bool demo_block_before(const uint8_t* data, size_t size, size_t data_start, size_t pos,
                       uint32_t length, size_t* start, uint32_t* length_before) {
  if (pos > size || pos < data_start) return false;
  uint64_t span = uint64_t(length) + DEMO_BLOCK_HEAD;
  if (pos - data_start < span) return false;
  *start = pos - size_t(span);
  *length_before = demo_get_u32(data + *start) ^ length;
  return true;
}

// Version-4 records hold the frame's pose, the hinges, the axles, the controls and the
// engine speed: bytes 0-19 and 34-38 of a packed state, then one spare byte. The rider
// body rides centred on the frame with the frame's orientation.
void demo_record_to_state(const uint8_t* record, int version, PackedBikeState* state) {
  if (version != 4) {
    std::memcpy(state->bytes, record, PACKED_STATE_SIZE);
    return;
  }
  uint8_t* s = state->bytes;
  std::memcpy(s, record, 20);
  for (int i = 0; i < 3; ++i) {
    s[20 + 2 * i] = 0x00;  // 32768: no offset from the frame
    s[21 + 2 * i] = 0x80;
  }
  std::memcpy(s + 26, record + 9, 8);
  std::memcpy(s + 34, record + 20, 5);
}

void demo_state_to_v4_record(const PackedBikeState& state, uint8_t* record) {
  std::memcpy(record, state.bytes, 20);
  std::memcpy(record + 20, state.bytes + 34, 5);
  record[25] = 0;
}
