// The test game server: hello, track, rider descriptions, start, clock and state relay,
// reliable messages and acknowledgements, commands, restart, leaving and file uploads.
#include "tests/net/test_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace {

void put32(std::vector<uint8_t>& m, uint32_t v) {
  for (int i = 0; i < 4; i++) m.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
uint32_t get32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void send_to(TestServer& s, const TestServerClient& c, const std::vector<uint8_t>& m) {
  sendto(s.socket, m.data(), m.size(), 0, reinterpret_cast<const sockaddr*>(&c.address),
         sizeof c.address);
}

int find_client(TestServer& s, const sockaddr_in& from) {
  for (int i = 0; i < TEST_SERVER_CLIENTS; i++) {
    const TestServerClient& c = s.clients[i];
    if (c.active && c.address.sin_port == from.sin_port &&
        c.address.sin_addr.s_addr == from.sin_addr.s_addr) {
      return i;
    }
  }
  return -1;
}

void send_track(TestServer& s, TestServerClient& c) {
  std::vector<uint8_t> m{4};
  put32(m, s.track_id);
  put32(m, static_cast<uint32_t>(s.race_time));
  put32(m, static_cast<uint32_t>(s.laps));
  put32(m, static_cast<uint32_t>(s.start_tick));
  m.insert(m.end(), s.digest, s.digest + 20);
  m.insert(m.end(), s.track_name.begin(), s.track_name.end());
  send_to(s, c, m);
}

void send_riders_and_start(TestServer& s, int index) {
  TestServerClient& c = s.clients[index];
  for (const TestServerClient& other : s.clients) {
    if (!other.active || &other == &c || other.description.empty()) continue;
    std::vector<uint8_t> m{6};
    put32(m, s.track_id);
    put32(m, static_cast<uint32_t>(other.slot));
    m.insert(m.end(), other.description.begin(), other.description.end());
    send_to(s, c, m);
  }
  std::vector<uint8_t> m{8};
  put32(m, s.track_id);
  put32(m, c.watcher ? 160u : static_cast<uint32_t>(c.slot));
  m.insert(m.end(), c.description.begin(), c.description.end());
  send_to(s, c, m);
}

void handle_reliable(TestServer& s, int index, const uint8_t* d, int n) {
  TestServerClient& c = s.clients[index];
  if (n < 14) return;
  const uint32_t sequence = get32(d + 9);
  std::vector<uint8_t> ack{18};
  put32(ack, sequence);
  send_to(s, c, ack);
  if (sequence != c.expected_sequence) return;  // the client sends one at a time
  c.expected_sequence++;
  const int sub = d[13];
  const std::string payload(reinterpret_cast<const char*>(d + 14), static_cast<size_t>(n - 14));
  c.received.emplace_back(sub, payload);
  if (sub == 19) {
    for (int i = 0; i < TEST_SERVER_CLIENTS; i++) {
      if (i != index && s.clients[i].active) {
        test_server_send_reliable(s, i, 19, payload.data(), static_cast<int>(payload.size()));
      }
    }
  } else if (sub == 27 && payload.size() >= 4) {
    // Erosion goes to every client, the sender too, under the id of the receiver's track.
    std::vector<uint8_t> m;
    put32(m, s.track_id);
    m.insert(m.end(), payload.begin() + 4, payload.end());
    for (int i = 0; i < TEST_SERVER_CLIENTS; i++) {
      if (s.clients[i].active) test_server_send_reliable(s, i, 27, m.data(), static_cast<int>(m.size()));
    }
  } else if (sub == 24) {
    if (payload == "sendfile") {
      const char* answer = s.deny_files ? "senddenied" : "sendready";
      test_server_send_reliable(s, index, 24, answer, static_cast<int>(strlen(answer)));
    } else if (payload.rfind("sendpart -", 0) == 0) {
      c.upload += payload.substr(10);
    } else if (payload.rfind("namefile ", 0) == 0) {
      c.upload_name = payload.substr(9);
    }
  }
}

void handle(TestServer& s, const sockaddr_in& from, const uint8_t* d, int n) {
  int index = find_client(s, from);
  if (d[0] == 0 && n >= 21) {
    if (index < 0) {
      for (int i = 0; i < TEST_SERVER_CLIENTS && index < 0; i++) {
        if (!s.clients[i].active) index = i;
      }
      if (index < 0) {
        sendto(s.socket, "\x01", 1, 0, reinterpret_cast<const sockaddr*>(&from), sizeof from);
        return;
      }
      TestServerClient& c = s.clients[index];
      c = TestServerClient{};
      c.active = true;
      c.address = from;
      c.slot = 2 + 3 * index;
      c.watcher = s.watchers;
    }
    TestServerClient& c = s.clients[index];
    c.nonce = get32(d + 13);
    std::vector<uint8_t> m{2};
    put32(m, static_cast<uint32_t>(c.slot));
    put32(m, s.session);
    put32(m, s.version);
    send_to(s, c, m);
    return;
  }
  if (index < 0) return;
  TestServerClient& c = s.clients[index];
  c.datagrams++;
  c.bytes += static_cast<uint64_t>(n);
  switch (d[0]) {
    case 3:
      if (n < 41) return;
      c.proof = get32(d + 9);
      c.description.assign(reinterpret_cast<const char*>(d + 41), static_cast<size_t>(n - 41));
      send_track(s, c);
      break;
    case 5:
    case 7:
      send_riders_and_start(s, index);
      break;
    case 9: {
      std::vector<uint8_t> m{10};
      put32(m, s.track_id);
      put32(m, static_cast<uint32_t>(s.server_tick));
      put32(m, 0);
      send_to(s, c, m);
      break;
    }
    case 11:
      if (n < 60) return;
      c.has_state = true;
      c.echo = get32(d + 17);
      c.state_tick = static_cast<int32_t>(get32(d + 17));
      memcpy(c.state, d + 21, 39);
      break;
    case 13:
      s.track_id++;
      for (TestServerClient& other : s.clients) {
        if (!other.active) continue;
        std::vector<uint8_t> m{14};
        put32(m, s.track_id);
        send_to(s, other, m);
      }
      break;
    case 14:
      send_track(s, c);
      break;
    case 15:
      send_to(s, c, std::vector<uint8_t>{15});
      c.active = false;
      break;
    case 17:
      handle_reliable(s, index, d, n);
      break;
    case 18:
      if (n >= 13 && !c.outgoing.empty() && get32(c.outgoing.front().data() + 1) == get32(d + 9)) {
        c.outgoing.pop_front();
        c.next_send = 0;
      }
      break;
    default:
      break;
  }
}

}  // namespace

bool test_server_open(TestServer& s) {
  s.socket = socket(AF_INET, SOCK_DGRAM, 0);
  if (s.socket < 0) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(s.port));
  socklen_t length = sizeof a;
  if (bind(s.socket, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      getsockname(s.socket, reinterpret_cast<sockaddr*>(&a), &length) != 0) {
    return false;
  }
  fcntl(s.socket, F_SETFL, fcntl(s.socket, F_GETFL) | O_NONBLOCK);
  s.port = ntohs(a.sin_port);
  return true;
}

void test_server_close(TestServer& s) {
  if (s.socket >= 0) close(s.socket);
  s.socket = -1;
}

void test_server_poll(TestServer& s, double now) {
  s.now = now;
  uint8_t buffer[2048];
  for (;;) {
    sockaddr_in from{};
    socklen_t length = sizeof from;
    const ssize_t n = recvfrom(s.socket, buffer, sizeof buffer, 0,
                               reinterpret_cast<sockaddr*>(&from), &length);
    if (n <= 0) break;
    handle(s, from, buffer, static_cast<int>(n));
  }
  for (TestServerClient& c : s.clients) {
    if (c.active && !c.outgoing.empty() && now >= c.next_send) {
      send_to(s, c, c.outgoing.front());
      c.next_send = now + 0.5;
    }
  }
}

void test_server_relay_states(TestServer& s, int ticks) {
  s.server_tick += ticks;
  for (TestServerClient& c : s.clients) {
    if (!c.active) continue;
    std::vector<uint8_t> m{11};
    put32(m, s.track_id);
    put32(m, static_cast<uint32_t>(s.server_tick));
    put32(m, c.echo);
    uint32_t count = 0;
    std::vector<uint8_t> records;
    for (const TestServerClient& other : s.clients) {
      if (!other.active || !other.has_state || &other == &c) continue;
      count++;
      records.push_back(static_cast<uint8_t>(other.slot));
      records.push_back(static_cast<uint8_t>(other.slot >> 8));
      records.push_back(3);  // round trip, ticks
      records.push_back(0);
      put32(records, static_cast<uint32_t>(other.state_tick));
      records.insert(records.end(), other.state, other.state + 39);
    }
    put32(m, count);
    m.insert(m.end(), records.begin(), records.end());
    send_to(s, c, m);
  }
}

void test_server_send_reliable(TestServer& s, int client, int sub_type, const void* payload,
                               int length) {
  TestServerClient& c = s.clients[client];
  std::vector<uint8_t> m{17};
  put32(m, c.next_sequence++);
  m.push_back(static_cast<uint8_t>(sub_type));
  const uint8_t* p = static_cast<const uint8_t*>(payload);
  m.insert(m.end(), p, p + length);
  c.outgoing.push_back(m);
}

void test_server_send_raw(TestServer& s, int client, const void* data, int length) {
  const std::vector<uint8_t> m(static_cast<const uint8_t*>(data),
                               static_cast<const uint8_t*>(data) + length);
  send_to(s, s.clients[client], m);
}

int test_server_client_of_slot(const TestServer& s, int32_t slot) {
  for (int i = 0; i < TEST_SERVER_CLIENTS; i++) {
    if (s.clients[i].active && s.clients[i].slot == slot) return i;
  }
  return -1;
}
