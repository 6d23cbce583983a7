// The game messages: what the client sends in each state and what it does with every message
// and reliable sub-message it receives, including the server's command texts.
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/console.h"
#include "files/digest.h"
#include "net/net.h"
#include "net/net_internal.h"
#include "platform/vant.h"
#include "race/race.h"

constexpr int CLIENT_INFO_HEADER = 41;
constexpr int CLIENT_INFO_MAX = 1024;  // bytes of the client information message

// The program integrity value sent with the version answer: a fixed value.
static const uint8_t PROGRAM_INTEGRITY[32] = {};

static void copy_field(char* out, int size, const char* from, int n) {
  if (n > size - 1) n = size - 1;
  memcpy(out, from, static_cast<size_t>(n));
  out[n] = 0;
}

int net_description_text(const RiderDescription& d, char* out, int room) {
  char text[1024];
  int n = snprintf(text, sizeof text, "%s|%s|%s|%s|%s\n%s\n%s", d.bike, d.rider_texture,
                   d.bike_texture, d.wheel_texture, d.head_texture, d.number, d.name);
  if (n >= room) n = snprintf(text, sizeof text, "%s\n%s\n%s", d.bike, d.number, d.name);
  if (n >= room) n = room - 1;  // cannot happen with the field sizes; kept in bounds anyway
  if (n < 0) n = 0;
  memcpy(out, text, static_cast<size_t>(n));
  if (n < room) out[n] = 0;
  return n;
}

void net_description_parse(const char* text, RiderDescription* out) {
  memset(out, 0, sizeof *out);
  const char* newline = strchr(text, '\n');
  const char* line_end = newline ? newline : text + strlen(text);
  char* fields[5] = {out->bike, out->rider_texture, out->bike_texture, out->wheel_texture,
                     out->head_texture};
  const char* p = text;
  for (int f = 0; f < 5 && p <= line_end; f++) {
    const char* bar = static_cast<const char*>(memchr(p, '|', static_cast<size_t>(line_end - p)));
    const char* end = bar ? bar : line_end;
    copy_field(fields[f], NET_TEXT_FIELD, p, static_cast<int>(end - p));
    if (!bar) break;
    p = bar + 1;
  }
  if (!newline) return;
  const char* number = newline + 1;
  int n = 0;
  while (n < 3 && number[n] && number[n] != '\n') n++;
  copy_field(out->number, sizeof out->number, number, n);
  const char* second = strchr(number, '\n');
  if (!second) return;
  const char* name = second + 1;
  const char* name_end = strchr(name, '\n');
  copy_field(out->name, NET_TEXT_FIELD, name,
             static_cast<int>(name_end ? name_end - name : static_cast<long>(strlen(name))));
}

uint32_t net_password_proof(const char* password, uint32_t session_id) {
  Digest d;
  digest_init(&d);
  digest_update(&d, password, strlen(password));
  uint8_t session[4];
  net_put32(session, session_id);
  digest_update(&d, session, 4);
  const uint8_t* h = digest_final(&d);
  // Bytes [9..12] of the message are digest bytes 3, 2, 1, 0.
  return static_cast<uint32_t>(h[3]) | (h[2] << 8) | (h[1] << 16) |
         (static_cast<uint32_t>(h[0]) << 24);
}

static void send_client_info(NetClient& c) {
  uint8_t m[CLIENT_INFO_MAX];
  memset(m, 0, CLIENT_INFO_HEADER);
  net_message_header(c, m, MSG_CLIENT_INFO);
  net_put32(m + 9, c.password[0] ? net_password_proof(c.password, c.session_id) : 0);
  net_put32(m + 17, c.nonce);
  const int n = net_description_text(c.player, reinterpret_cast<char*>(m + CLIENT_INFO_HEADER),
                                     CLIENT_INFO_MAX - CLIENT_INFO_HEADER);
  net_send_raw(c, m, CLIENT_INFO_HEADER + n);
}

static void send_with_id(NetClient& c, uint8_t type) {
  uint8_t m[13];
  net_message_header(c, m, type);
  net_put32(m + 9, c.client_id);
  net_send_raw(c, m, sizeof m);
}

// Gate reports, description updates and the state message of the connected state.
static void send_connected(NetClient& c) {
  PackedBikeState state;
  int32_t gates = 0;
  const bool has_bike = c.client_slot < SLOT_COUNT && c.hooks.own_bike &&
                        c.hooks.own_bike(c, c.client_slot, &state, &gates);
  if (has_bike && gates != c.last_gate_count_sent) {
    c.last_gate_count_sent = gates;
    if (gates > 0) {
      uint8_t report[12];
      net_put32(report, c.client_id);
      net_put32(report + 4, static_cast<uint32_t>(gates - 1));
      net_put32(report + 8, static_cast<uint32_t>(
                                c.hooks.own_gate_tick ? c.hooks.own_gate_tick(c, gates - 1) : 0));
      net_send_reliable(c, SUB_GATES, report, sizeof report);
    }
  }
  if (c.info_changed && !(c.hooks.description_held && c.hooks.description_held(c))) {
    char text[NET_RELIABLE_PAYLOAD_MAX];
    const int n = net_description_text(c.player, text, NET_RELIABLE_PAYLOAD_MAX - 1);
    text[n] = 0;
    net_send_reliable(c, SUB_DESCRIPTION, text, n + 1);
    c.info_changed = false;
  }
  const int32_t tick = c.hooks.sim_tick ? *c.hooks.sim_tick : 0;
  if (c.race_slot >= SLOT_COUNT || !has_bike || tick % 4 != 0) return;
  uint8_t m[STATE_MESSAGE_SIZE];
  net_message_header(c, m, MSG_STATE);
  net_put32(m + 9, c.client_id);
  net_put32(m + 13, static_cast<uint32_t>(c.newest_server_tick));
  net_put32(m + 17, static_cast<uint32_t>(tick));
  memcpy(m + 21, state.bytes, PACKED_STATE_SIZE);
  net_send_raw(c, m, sizeof m);
}

void net_send_periodic(NetClient& c) {
  uint8_t m[21];
  switch (c.state) {
    case NET_CONTACTING:
      vant_log("Contacting server\n");
      memset(m, 0, sizeof m);
      m[1] = c.password[0] ? 1 : 0;
      net_put32(m + 9, 33);
      net_put32(m + 13, c.nonce);
      net_send_raw(c, m, 21);
      break;
    case NET_SENDING_INFO:
      vant_log("Sending client info\n");
      send_client_info(c);
      break;
    case NET_ACK_TRACK:
      vant_log("Sending track acknowledgment\n");
      send_with_id(c, MSG_TRACK_ACK);
      break;
    case NET_ACK_BIKES:
      vant_log("Sending bike acknowledgment %d\n", c.last_bike_index);
      net_message_header(c, m, MSG_BIKE_ACK);
      net_put32(m + 9, c.client_id);
      net_put32(m + 13, static_cast<uint32_t>(c.last_bike_index));
      net_send_raw(c, m, 17);
      break;
    case NET_READY:
      send_with_id(c, MSG_READY);
      break;
    case NET_CONNECTED:
      send_connected(c);
      break;
    case NET_RESTARTING:
      vant_log("Sending restart\n");
      send_with_id(c, MSG_RESTART);
      break;
    case NET_LEAVING:
      vant_log("Disconnecting\n");
      net_message_header(c, m, MSG_LEAVE);
      net_send_raw(c, m, 9);
      break;
    default:
      break;
  }
}

// The received text from offset to the end of the datagram, terminated.
static void take_text(const uint8_t* data, int length, int offset, char* out, int size) {
  const int n = length > offset ? length - offset : 0;
  copy_field(out, size, reinterpret_cast<const char*>(data + offset), n);
  // A zero byte inside ends the text early, which keeps later parsing within it.
}

static bool has_slot(const NetClient& c) { return c.client_slot < SLOT_COUNT; }

static void handle_track(NetClient& c, const uint8_t* data, int length) {
  if (length < 37 || !has_slot(c)) return;
  if (c.state != NET_SENDING_INFO && c.state != NET_RESTARTING) return;
  const uint32_t id = net_get32(data + 1);
  if (c.client_id != 0 && c.client_id != id) return;
  c.client_id = id;
  c.race_time = static_cast<int32_t>(net_get32(data + 5));
  c.laps = static_cast<int32_t>(net_get32(data + 9));
  c.race_start_tick = static_cast<int32_t>(net_get32(data + 13));
  memcpy(c.track_digest, data + 17, 20);
  char name[160];
  take_text(data, length, 37, name, sizeof name);
  if (!c.hooks.find_track || !c.hooks.find_track(c, name)) {
    console_printf("Can't find track '%.150s'\n", name);
    net_enter_state(c, NET_LEAVING);
    return;
  }
  snprintf(c.track_name, sizeof c.track_name, "%s", name);
  memset(c.has_rider, 0, sizeof c.has_rider);
  memset(c.lineup_request, 0, sizeof c.lineup_request);
  memset(c.slot_tick, 0, sizeof c.slot_tick);
  memset(c.slot_round_trip, 0, sizeof c.slot_round_trip);
  if (c.hooks.clear_histories) c.hooks.clear_histories(c);
  c.race_slot = SLOT_COUNT;
  c.last_bike_index = SLOT_COUNT;
  c.newest_server_tick = 0;
  c.server_tick_estimate = 0;
  c.last_gate_count_sent = 0;
  c.erode_amount = -1;
  net_enter_state(c, NET_ACK_TRACK);
}

static bool for_this_client(const NetClient& c, const uint8_t* data) {
  return net_get32(data + 1) == c.client_id;
}

static void handle_rider(NetClient& c, const uint8_t* data, int length) {
  if (length < 9 || !has_slot(c) || !for_this_client(c, data)) return;
  if (c.state != NET_ACK_TRACK && c.state != NET_ACK_BIKES) return;
  const uint32_t slot = net_get32(data + 5);
  if (slot >= SLOT_COUNT) return;
  if (c.last_bike_index != SLOT_COUNT && static_cast<uint32_t>(c.last_bike_index) >= slot) return;
  char text[NET_RECEIVE_MAX + 1];
  take_text(data, length, 9, text, sizeof text);
  net_description_parse(text, &c.riders[slot]);
  c.has_rider[slot] = true;
  c.lineup_request[slot] = LINEUP_SERVER;
  c.last_bike_index = static_cast<int32_t>(slot);
  net_enter_state(c, NET_ACK_BIKES);
}

static void handle_start(NetClient& c, const uint8_t* data, int length) {
  if (length < 9 || !has_slot(c) || !for_this_client(c, data)) return;
  if (c.state != NET_ACK_TRACK && c.state != NET_ACK_BIKES) return;
  char text[NET_RECEIVE_MAX + 1];
  take_text(data, length, 9, text, sizeof text);
  net_description_parse(text, &c.riders[c.client_slot]);
  c.has_rider[c.client_slot] = true;
  c.lineup_request[c.client_slot] = LINEUP_PLAYER;
  const uint32_t race_slot = net_get32(data + 5);
  c.race_slot = race_slot < SLOT_COUNT ? static_cast<int32_t>(race_slot) : SLOT_COUNT;
  if (c.hooks.start_session) c.hooks.start_session(c);
  net_enter_state(c, NET_READY);
  uint8_t digest[20];
  if (c.hooks.loaded_track_digest && c.hooks.loaded_track_digest(c, digest) &&
      memcmp(digest, c.track_digest, 20) != 0) {
    console_printf("Client track modified - does not match server's track (%.100s)\n",
                   c.track_name);
    net_enter_state(c, NET_LEAVING);
  }
}

// The clock part of clock and states messages ([1..12]).
static void take_clock(NetClient& c, const uint8_t* data) {
  const int32_t server_tick = static_cast<int32_t>(net_get32(data + 5));
  const uint32_t echo = net_get32(data + 9);
  int32_t* sim_tick = c.hooks.sim_tick;
  if (echo != 0 && sim_tick) {
    // Ticks wrap like the 32-bit counters they are; a hostile echo must not overflow.
    c.own_round_trip = static_cast<int32_t>(static_cast<uint32_t>(*sim_tick) - echo);
  }
  if (c.newest_server_tick == 0 && sim_tick) *sim_tick = server_tick;
  if (server_tick > c.newest_server_tick) {
    c.newest_server_tick = server_tick;
    c.server_tick_estimate = server_tick;
  }
  if (c.state == NET_READY) {
    char text[64];
    race_length_text(text, sizeof text);
    console_print(text);
    c.state = NET_CONNECTED;
  }
}

static void handle_states(NetClient& c, const uint8_t* data, int length) {
  if (length < 17) {
    console_print("State packet too small");
    return;
  }
  const uint32_t count = net_get32(data + 13);
  const uint8_t* record = data + 17;
  for (uint32_t i = 0; i < count; i++, record += STATE_RECORD_SIZE) {
    if (record + STATE_RECORD_SIZE > data + length) {
      console_print("State packet too small");
      return;
    }
    const int slot = net_get16(record);
    if (slot >= SLOT_COUNT || !c.hooks.slot_accepts_states ||
        !c.hooks.slot_accepts_states(c, slot)) {
      continue;
    }
    const int32_t tick = static_cast<int32_t>(net_get32(record + 4));
    if (tick <= c.slot_tick[slot]) continue;
    c.slot_tick[slot] = tick;
    c.slot_round_trip[slot] = net_get16(record + 2);
    PackedBikeState state;
    memcpy(state.bytes, record + 8, PACKED_STATE_SIZE);
    if (c.hooks.add_state) c.hooks.add_state(c, slot, state, tick);
  }
  take_clock(c, data);
}

void net_handle_datagram(NetClient& c, const uint8_t* data, int length) {
  if (length < 1 || c.socket < 0) return;
  switch (data[0]) {
    case MSG_SERVER_FULL:
      console_print("Server is full\n");
      break;
    case MSG_HELLO:
      if (length < 13 || c.state != NET_CONTACTING) return;
      c.client_slot = static_cast<int32_t>(net_get32(data + 1));
      if (c.client_slot < 0 || c.client_slot > SLOT_COUNT) c.client_slot = SLOT_COUNT;
      c.session_id = net_get32(data + 5);
      if (net_get32(data + 9) != NET_PROTOCOL_VERSION) {
        console_print("Server version does not match client version\n");
        net_enter_state(c, NET_LEAVING);
      } else {
        net_enter_state(c, NET_SENDING_INFO);
      }
      break;
    case MSG_TRACK:
      handle_track(c, data, length);
      break;
    case MSG_RIDER:
      handle_rider(c, data, length);
      break;
    case MSG_START:
      handle_start(c, data, length);
      break;
    case MSG_CLOCK:
    case MSG_STATE:
      if (length < 13 || !has_slot(c) || !for_this_client(c, data)) return;
      if (c.state != NET_READY && c.state != NET_CONNECTED) return;
      if (data[0] == MSG_STATE) {
        handle_states(c, data, length);
      } else {
        take_clock(c, data);
      }
      break;
    case MSG_RESTART:
      if (length < 5 || !has_slot(c)) return;
      if (c.state != NET_READY && c.state != NET_CONNECTED) return;
      if (net_get32(data + 1) > c.client_id) {
        c.client_id = net_get32(data + 1);
        net_enter_state(c, NET_RESTARTING);
      }
      break;
    case MSG_LEAVE:
      net_server_disconnect(c);
      break;
    case MSG_REFUSAL: {
      char text[NET_RECEIVE_MAX + 1];
      take_text(data, length, 1, text, sizeof text);
      console_print(text);
      net_enter_state(c, NET_LEAVING);
      break;
    }
    case MSG_RELIABLE:
      net_reliable_received(c, data, length);
      break;
    case MSG_ACK:
      net_acknowledged(c, data, length);
      break;
    case MSG_REDIRECT:
      net_redirect(c, data, length);
      break;
    default:
      break;
  }
}

static void handle_gates(NetClient& c, const uint8_t* p, int length) {
  if (length < 8 || net_get32(p) != c.client_id) return;
  const uint32_t count = net_get32(p + 4);
  const uint8_t* record = p + 8;
  for (uint32_t i = 0; i < count && record + GATE_RECORD_SIZE <= p + length;
       i++, record += GATE_RECORD_SIZE) {
    const uint32_t slot = net_get32(record);
    if (slot >= SLOT_COUNT || static_cast<int32_t>(slot) == c.client_slot) continue;
    if (!c.hooks.slot_accepts_states || !c.hooks.slot_accepts_states(c, static_cast<int>(slot))) {
      continue;
    }
    const int32_t index = static_cast<int32_t>(net_get32(record + 4));
    if (index < 0) continue;
    if (c.hooks.gate_time) {
      c.hooks.gate_time(c, static_cast<int>(slot), index,
                        static_cast<int32_t>(net_get32(record + 8)));
    }
  }
  if (c.hooks.race_order_update) c.hooks.race_order_update(c);
}

void net_handle_sub_message(NetClient& c, const uint8_t* data, int length) {
  if (length < 1) return;
  const uint8_t* p = data + 1;
  const int n = length - 1;
  char text[NET_RECEIVE_MAX + 1];
  switch (data[0]) {
    case SUB_CHAT:
      take_text(p, n, 0, text, sizeof text);
      console_print(text);
      if (c.hooks.demo_text) c.hooks.demo_text(c, 2, text);
      break;
    case SUB_GATES:
      handle_gates(c, p, n);
      break;
    case SUB_EROSION:
      if (n >= 4 && c.hooks.erosion) c.hooks.erosion(c, p, n, net_get32(p) == c.client_id);
      break;
    case SUB_COMMAND:
      take_text(p, n, 0, text, sizeof text);
      net_handle_command(c, text);
      break;
    default:
      break;
  }
}

// The keyword after optional white space, followed by white space or the end; returns the
// rest of the text, or null when the text does not hold the keyword.
static const char* keyword(const char* text, const char* word) {
  while (isspace(static_cast<unsigned char>(*text))) text++;
  const size_t n = strlen(word);
  if (strncmp(text, word, n) != 0) return nullptr;
  const char after = text[n];
  if (after != 0 && !isspace(static_cast<unsigned char>(after))) return nullptr;
  return text + n;
}

static bool only_space(const char* p) {
  while (isspace(static_cast<unsigned char>(*p))) p++;
  return *p == 0;
}

void net_parse_knockout(const char* text, int32_t out[NET_KNOCKOUT_COUNT]) {
  int32_t previous = 0;
  const char* p = text;
  for (int i = 0; i < NET_KNOCKOUT_COUNT; i++) {
    char* end = nullptr;
    const long long value = p ? strtoll(p, &end, 10) : 0;
    if (p && end != p) {
      previous = value < 0 ? 0 : value > NET_KNOCKOUT_MAX ? NET_KNOCKOUT_MAX
                                                          : static_cast<int32_t>(value);
      p = end;
    } else {
      p = nullptr;  // unreadable: this and every later value repeat the one before
    }
    out[i] = previous;
  }
}

static void handle_erode(NetClient& c, const char* rest) {
  char* end = nullptr;
  errno = 0;
  const long id = strtol(rest, &end, 10);
  bool ok = end != rest && errno == 0;
  const char* p = end;
  long amount = 0;
  if (ok) {
    amount = strtol(p, &end, 10);
    ok = end != p && errno == 0 && isspace(static_cast<unsigned char>(*p)) && only_space(end) &&
         amount >= INT32_MIN && amount <= INT32_MAX;
  }
  if (!ok) {
    console_print("Malformed erode command received");
    return;
  }
  if (static_cast<uint32_t>(id) != c.client_id) return;
  const int32_t value = static_cast<int32_t>(amount);
  const bool unset = c.erode_amount == -1;
  c.erode_amount = value;
  if (unset && value == 0) return;
  char record[32];
  snprintf(record, sizeof record, "erode %d", value);
  if (c.hooks.demo_text) c.hooks.demo_text(c, 3, record);
  if (c.hooks.erode_amount) c.hooks.erode_amount(c, value, value > 0);
}

static void answer_version(NetClient& c) {
  char text[NET_RELIABLE_PAYLOAD_MAX + 1];
  const bool gravity = c.hooks.gravity_changed && c.hooks.gravity_changed(c);
  char integrity[65];
  for (int i = 0; i < 32; i++) snprintf(integrity + 2 * i, 3, "%02x", PROGRAM_INTEGRITY[i]);
  const int n = snprintf(text, sizeof text, "version %x %s %s %s %s", gravity ? 1 : 0, integrity,
                         "2018-07-28-1418 snapshot",
                         c.hooks.gl_renderer ? c.hooks.gl_renderer : "",
                         c.hooks.gl_version ? c.hooks.gl_version : "");
  const int length = n < NET_RELIABLE_PAYLOAD_MAX ? n : NET_RELIABLE_PAYLOAD_MAX;
  net_send_reliable(c, SUB_COMMAND, text, length);
}

void net_handle_command(NetClient& c, const char* text) {
  const char* rest;
  if ((rest = keyword(text, "no_arcade")) && only_space(rest)) {
    // Only the keyword itself, white space aside.
    c.arcade_disabled_by_server = true;
    if (c.hooks.arcade_setting && c.hooks.arcade_setting(c)) {
      console_print("Arcade physics disabled");
    }
    if (c.hooks.arcade_off) c.hooks.arcade_off(c);
  } else if (strncmp(text, "off_course_bias", 15) == 0 &&
             (text[15] == 0 || isspace(static_cast<unsigned char>(text[15])))) {
    double v;
    if (sscanf(text + 15, "%lf", &v) == 1 && std::isfinite(v)) c.off_course_bias = v;
  } else if (strncmp(text, "off_course_scale", 16) == 0 &&
             (text[16] == 0 || isspace(static_cast<unsigned char>(text[16])))) {
    double v;
    if (sscanf(text + 16, "%lf", &v) == 1 && std::isfinite(v)) c.off_course_scale = v;
  } else if ((rest = keyword(text, "knockout"))) {
    net_parse_knockout(rest, c.knockout_ticks);
  } else if ((rest = keyword(text, "erode"))) {
    handle_erode(c, rest);
  } else if ((rest = keyword(text, "sendready")) && only_space(rest)) {
    file_send_ready(c);
  } else if (keyword(text, "senddenied")) {
    file_send_denied(c);
  } else if (keyword(text, "version")) {
    answer_version(c);
  }
}
