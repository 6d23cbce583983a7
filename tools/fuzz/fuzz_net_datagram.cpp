// Feeds one datagram to the network client's handler with the connection in a chosen state
// (first input byte), the socket pointed at a closed port on 127.0.0.1.
#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "net/net.h"

static bool own_bike(NetClient&, int, PackedBikeState* s, int32_t* gates) {
  memset(s, 0, sizeof *s);
  *gates = 1;
  return true;
}
static bool any_slot(NetClient& c, int slot) { return slot != c.client_slot; }
static bool any_track(NetClient&, const char*) { return true; }
static double fixed_now(NetClient&) { return 10.0; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const int states[] = {NET_CONTACTING, NET_SENDING_INFO, NET_ACK_TRACK, NET_ACK_BIKES,
                               NET_READY,      NET_CONNECTED,    NET_RESTARTING, NET_LEAVING};
  static int32_t sim_tick = 0;
  if (size < 2) return 0;
  NetClient& c = net_client;
  net_leave(c);
  net_client_init(c);
  c.hooks.now = fixed_now;
  c.hooks.sim_tick = &sim_tick;
  c.hooks.own_bike = own_bike;
  c.hooks.slot_accepts_states = any_slot;
  c.hooks.find_track = any_track;
  c.socket = socket(AF_INET, SOCK_DGRAM, 0);
  c.server_address.sin_family = AF_INET;
  c.server_address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  c.server_address.sin_port = htons(9);
  snprintf(c.target, sizeof c.target, "127.0.0.1:9");
  c.state = states[data[0] % 8];
  c.client_slot = 4;
  c.client_id = 9;
  c.session_id = 77;
  c.race_slot = (data[0] & 8) ? 4 : SLOT_COUNT;
  net_handle_datagram(c, data + 1, static_cast<int>(size - 1));
  if (c.socket >= 0) net_send_reliable(c, SUB_CHAT, "x", 1);
  net_leave(c);
  return 0;
}
