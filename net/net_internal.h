// What the connection and the message handlers share inside the network client.
#pragma once

#include <cstdint>
#include <cstring>

#include "net/net.h"

inline void net_put32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}
inline uint32_t net_get32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint16_t net_get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

double net_now(NetClient& c);
void net_send_raw(NetClient& c, const uint8_t* data, int length);
// Type, slot and session: the first 9 bytes of most messages.
inline void net_message_header(const NetClient& c, uint8_t* m, uint8_t type) {
  m[0] = type;
  net_put32(m + 1, static_cast<uint32_t>(c.client_slot));
  net_put32(m + 5, c.session_id);
}
// Sets the state and sends its message at once.
void net_enter_state(NetClient& c, int state);
// The message of the current state (the connected state's gate reports, updates and state).
void net_send_periodic(NetClient& c);
void net_server_disconnect(NetClient& c);
void net_redirect(NetClient& c, const uint8_t* data, int length);
void net_acknowledged(NetClient& c, const uint8_t* data, int length);
void net_reliable_received(NetClient& c, const uint8_t* data, int length);
// A reliable sub-message in sequence: its type byte and payload.
void net_handle_sub_message(NetClient& c, const uint8_t* data, int length);
// Transfer answers from the server's command texts.
void file_send_ready(NetClient& c);
void file_send_denied(NetClient& c);
