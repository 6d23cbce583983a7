// The connection: socket and address, the state machine with its periodic messages, the
// reliable channel, simulated lag and loss, leaving and redirects.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/console.h"
#include "files/memory.h"
#include "net/net.h"
#include "net/net_internal.h"
#include "platform/vant.h"

NetClient net_client;

double net_now(NetClient& c) {
  if (c.hooks.now) return c.hooks.now(c);
  int32_t seconds, microseconds;
  vant_time_now(&seconds, &microseconds);
  return seconds + microseconds * 1e-6;
}

// Socket errors are named by the system's own symbolic names (the counterparts of the Winsock
// names such as "WSAECONNRESET"); would-block and interrupted leave no text.
static void keep_error(NetClient& c, int code) {
  if (code == EWOULDBLOCK || code == EAGAIN || code == EINTR) {
    c.error_text[0] = 0;
    return;
  }
  const char* name = strerrorname_np(code);
  if (name) {
    snprintf(c.error_text, sizeof c.error_text, "%s", name);
  } else {
    snprintf(c.error_text, sizeof c.error_text, "%d", code);
  }
}

void net_send_raw(NetClient& c, const uint8_t* data, int length) {
  if (c.socket < 0) return;
  const ssize_t n = sendto(c.socket, data, static_cast<size_t>(length), 0,
                           reinterpret_cast<const sockaddr*>(&c.server_address),
                           sizeof c.server_address);
  if (n < 0) {
    keep_error(c, errno);
    console_printf("sendto error (%.100s)", c.error_text);
    return;
  }
  c.sent_datagrams++;
  c.sent_bytes += static_cast<uint64_t>(n);
}

static void reset_connection(NetClient& c) {
  c.target[0] = 0;
  c.socket = -1;
  c.state = NET_CONTACTING;
  c.client_slot = SLOT_COUNT;
  c.race_slot = SLOT_COUNT;
  c.last_bike_index = SLOT_COUNT;
  c.session_id = 0;
  c.client_id = 0;
  c.next_outgoing_sequence = 0;
  c.expected_incoming_sequence = 0;
  c.newest_server_tick = 0;
  c.server_tick_estimate = 0;
  c.last_send_time = 0;
  c.race_time = 0;
  c.laps = 0;
  c.race_start_tick = 0;
  memset(c.track_digest, 0, sizeof c.track_digest);
  c.track_name[0] = 0;
  c.own_round_trip = 0;
  memset(c.knockout_ticks, 0, sizeof c.knockout_ticks);
  c.erode_amount = -1;
  c.outgoing.clear();
  c.early_count = 0;
  c.delay_count = 0;
  c.delay_head = 0;
  c.arcade_disabled_by_server = false;
  c.off_course_bias = 10.0;
  c.off_course_scale = 1.5;
}

void net_client_init(NetClient& c) {
  c.socket = -1;
  c.fixed_files_ok = true;
  c.loss_random = 1;
  c.last_gate_count_sent = 0;
  c.sent_datagrams = c.sent_bytes = c.received_datagrams = c.received_bytes = 0;
  reset_connection(c);
}

static void close_and_reset(NetClient& c) {
  if (c.socket >= 0) close(c.socket);
  reset_connection(c);
}

void net_connect(NetClient& c, const char* name) {
  snprintf(c.target, sizeof c.target, "%s", name);
}

void net_split_target(const char* target, char* host, int* port) {
  snprintf(host, 256, "%s", target);
  *port = NET_DEFAULT_PORT;
  char* colon = strrchr(host, ':');
  if (!colon || colon[1] == 0) return;
  char* end = nullptr;
  errno = 0;
  const long value = strtol(colon + 1, &end, 10);
  if (*end != 0 || errno != 0 || value < 0 || value > 65535 || end == colon + 1) return;
  *colon = 0;
  *port = static_cast<int>(value);
}

// Opens the socket towards the target; false (target cleared) on failure.
static bool open_connection(NetClient& c) {
  if (!c.fixed_files_ok) {
    console_print("Fixed file mismatch\n");
    c.target[0] = 0;
    return false;
  }
  char host[256];
  int port;
  net_split_target(c.target, host, &port);
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host, nullptr, &hints, &found) != 0 || !found) {
    console_print("Can't resolve address\n");
    c.target[0] = 0;
    return false;
  }
  memcpy(&c.server_address, found->ai_addr, sizeof c.server_address);
  freeaddrinfo(found);
  c.server_address.sin_port = htons(static_cast<uint16_t>(port));
  const int s = socket(AF_INET, SOCK_DGRAM, 0);
  if (s < 0 || fcntl(s, F_SETFL, fcntl(s, F_GETFL) | O_NONBLOCK) != 0) {
    if (s >= 0) close(s);
    console_print("Can't create socket\n");
    c.target[0] = 0;
    return false;
  }
  c.socket = s;
  const double now = net_now(c);
  const uint32_t micros = static_cast<uint32_t>((now - static_cast<int64_t>(now)) * 1e6);
  c.nonce = micros * 1103515245u + 12345u;
  net_enter_state(c, NET_CONTACTING);
  return true;
}

void net_enter_state(NetClient& c, int state) {
  c.state = state;
  c.last_send_time = net_now(c);
  net_send_periodic(c);
}

// Receiving: with simulated lag or loss, datagrams wait in the delay queue first.
static void receive_all(NetClient& c) {
  uint8_t buffer[NET_RECEIVE_MAX];
  const bool delayed = c.fake_lag > 0 || c.fake_loss > 0;
  while (c.socket >= 0) {
    sockaddr_in from{};
    socklen_t from_length = sizeof from;
    const ssize_t n = recvfrom(c.socket, buffer, sizeof buffer, MSG_TRUNC,
                               reinterpret_cast<sockaddr*>(&from), &from_length);
    if (n < 0) {
      keep_error(c, errno);
      if (c.error_text[0]) console_print(c.error_text);
      break;
    }
    c.received_datagrams++;
    c.received_bytes += static_cast<uint64_t>(n);
    const int length = n > NET_RECEIVE_MAX ? NET_RECEIVE_MAX : static_cast<int>(n);
    if (!delayed) {
      net_handle_datagram(c, buffer, length);
      continue;
    }
    // A draw of 0..32767 below loss × 327 throws the datagram away.
    c.loss_random = c.loss_random * 1103515245u + 12345u;
    if (static_cast<int>((c.loss_random >> 16) & 0x7fff) < c.fake_loss * 327) continue;
    if (!c.delay_queue) {
      c.delay_queue = static_cast<DelayedDatagram*>(
          mem_alloc_or_die(sizeof(DelayedDatagram) * NET_DELAY_QUEUE_SIZE));
    }
    if (c.delay_count == NET_DELAY_QUEUE_SIZE) continue;  // full: dropped like a lost one
    DelayedDatagram& d = c.delay_queue[(c.delay_head + c.delay_count) % NET_DELAY_QUEUE_SIZE];
    d.arrival = net_now(c);
    d.length = length;
    memcpy(d.bytes, buffer, static_cast<size_t>(length));
    c.delay_count++;
  }
  const double now = net_now(c);
  while (c.delay_count > 0 && c.socket >= 0) {
    DelayedDatagram& d = c.delay_queue[c.delay_head];
    if (now - d.arrival < c.fake_lag) break;
    c.delay_head = (c.delay_head + 1) % NET_DELAY_QUEUE_SIZE;
    c.delay_count--;
    net_handle_datagram(c, d.bytes, d.length);
  }
}

void net_poll(NetClient& c) {
  if (!c.target[0]) return;
  if (c.socket < 0 && !open_connection(c)) return;
  if (c.server_tick_estimate != 0) {
    c.server_tick_estimate =
        static_cast<int32_t>(static_cast<uint32_t>(c.server_tick_estimate) + 1u);
  }
  receive_all(c);
  if (c.socket < 0) return;  // a disconnect or redirect arrived
  file_send_poll(c);
  const double now = net_now(c);
  if (!c.outgoing.empty() && c.outgoing.front().next_send_time <= now) {
    ReliableMessage& head = c.outgoing.front();
    net_send_raw(c, head.bytes, head.length);
    head.next_send_time = now + NET_RELIABLE_RESEND;
  }
  if (c.state != NET_CONNECTED) {
    if (now - c.last_send_time < NET_RESEND_INTERVAL) return;
  }
  c.last_send_time = now;
  net_send_periodic(c);
}

void net_send_reliable(NetClient& c, int type, const void* payload, int length) {
  if (c.socket < 0) {
    console_print("Not connected to server");
    return;
  }
  if (length > NET_RELIABLE_PAYLOAD_MAX) length = NET_RELIABLE_PAYLOAD_MAX;
  if (length < 0) length = 0;
  ReliableMessage& m = c.outgoing.emplace_back();
  m.next_send_time = 0;
  m.sequence = c.next_outgoing_sequence++;
  m.bytes[0] = MSG_RELIABLE;
  net_put32(m.bytes + 1, static_cast<uint32_t>(c.client_slot));
  net_put32(m.bytes + 5, c.session_id);
  net_put32(m.bytes + 9, m.sequence);
  m.bytes[13] = static_cast<uint8_t>(type);
  if (length > 0) memcpy(m.bytes + NET_RELIABLE_HEADER, payload, static_cast<size_t>(length));
  m.length = NET_RELIABLE_HEADER + length;
}

void net_leave(NetClient& c) {
  if (c.socket >= 0) {
    uint8_t leave[9];
    net_message_header(c, leave, MSG_LEAVE);
    console_print("Disconnecting\n");
    net_send_raw(c, leave, sizeof leave);
  }
  close_and_reset(c);
}

void net_begin_leaving(NetClient& c) {
  if (c.socket >= 0 && c.state != NET_CONTACTING) net_enter_state(c, NET_LEAVING);
}

void net_request_restart(NetClient& c) {
  if (c.state != NET_CONNECTED) return;
  uint8_t m[13];
  net_message_header(c, m, MSG_RESTART_REQUEST);
  net_put32(m + 9, 1);
  console_print("Requesting restart\n");
  net_send_raw(c, m, sizeof m);
}

void net_server_disconnect(NetClient& c) {
  console_print("Disconnected\n");
  close_and_reset(c);
}

void net_redirect(NetClient& c, const uint8_t* data, int length) {
  if (length < 5 || c.state != NET_CONTACTING || net_get32(data + 1) != c.nonce) return;
  char address[128];
  int n = length - 5;
  if (n > 127) n = 127;
  memcpy(address, data + 5, static_cast<size_t>(n));
  address[n] = 0;
  close_and_reset(c);
  net_connect(c, address);
}

void net_acknowledged(NetClient& c, const uint8_t* data, int length) {
  if (length < 5 || c.outgoing.empty()) return;
  if (net_get32(data + 1) == c.outgoing.front().sequence) c.outgoing.pop_front();
}

void net_reliable_received(NetClient& c, const uint8_t* data, int length) {
  if (length < 6) return;
  const uint32_t sequence = net_get32(data + 1);
  const int32_t ahead = static_cast<int32_t>(sequence - c.expected_incoming_sequence);
  if (ahead > NET_EARLY_MAX) return;  // beyond the early list: left for the server's resend
  uint8_t ack[13];
  net_message_header(c, ack, MSG_ACK);
  net_put32(ack + 9, sequence);
  net_send_raw(c, ack, sizeof ack);
  if (ahead < 0) return;  // handled before
  if (ahead > 0) {
    int i = 0;
    while (i < c.early_count && c.early[i].sequence - c.expected_incoming_sequence <
                                    sequence - c.expected_incoming_sequence) {
      i++;
    }
    if (i < c.early_count && c.early[i].sequence == sequence) return;
    if (c.early_count == NET_EARLY_MAX) return;
    memmove(&c.early[i + 1], &c.early[i], sizeof(EarlyMessage) * (c.early_count - i));
    c.early[i].sequence = sequence;
    c.early[i].length = length - 5;
    memcpy(c.early[i].bytes, data + 5, static_cast<size_t>(length - 5));
    c.early_count++;
    return;
  }
  c.expected_incoming_sequence++;
  net_handle_sub_message(c, data + 5, length - 5);
  // Messages stored early follow while they continue the sequence. Each is taken off the list
  // before it is handled, since handling may reset the connection.
  while (c.socket >= 0 && c.early_count > 0 &&
         c.early[0].sequence == c.expected_incoming_sequence) {
    static EarlyMessage next;
    next = c.early[0];
    c.early_count--;
    memmove(&c.early[0], &c.early[1], sizeof(EarlyMessage) * c.early_count);
    c.expected_incoming_sequence++;
    net_handle_sub_message(c, next.bytes, next.length);
  }
}
