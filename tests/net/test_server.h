// A small game server for tests: speaks the server's side of the game messages as the client
// sees them, on 127.0.0.1 only, driven by the test's clock. Not the product's server.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

constexpr int TEST_SERVER_CLIENTS = 4;

struct TestServerClient {
  bool active;
  sockaddr_in address;
  int32_t slot;
  uint32_t nonce;
  std::string description;
  uint32_t proof;
  bool watcher;  // started without a race slot
  uint32_t expected_sequence;
  std::vector<std::pair<int, std::string>> received;  // reliable sub-messages in order
  std::deque<std::vector<uint8_t>> outgoing;          // reliable packets, head in flight
  uint32_t next_sequence;
  double next_send;
  bool has_state;
  int32_t state_tick;
  uint8_t state[39];
  uint32_t echo;
  std::string upload;       // "sendpart -" contents in order
  std::string upload_name;  // from "namefile"
  uint64_t datagrams, bytes;  // received from this client
};

struct TestServer {
  int socket = -1;
  int port = 0;  // set before opening to ask for a port; 0 = any free one
  uint32_t session = 0x5eed1234;
  uint32_t version = 6;
  uint32_t track_id = 7;
  int32_t race_time = 0, laps = 3, start_tick = 640;
  uint8_t digest[20] = {};
  std::string track_name = "testtrack";
  int32_t server_tick = 1000;
  bool deny_files = false;
  bool watchers = false;  // clients that join from now on start without a race slot
  TestServerClient clients[TEST_SERVER_CLIENTS] = {};
  double now = 0;
};

// Binds 127.0.0.1 on the asked port or a free one; false on failure.
bool test_server_open(TestServer& s);
void test_server_close(TestServer& s);
// Handles every waiting datagram and resends due reliable heads.
void test_server_poll(TestServer& s, double now);
// Sends every started client the newest states of the others, and advances the server tick.
void test_server_relay_states(TestServer& s, int ticks);
void test_server_send_reliable(TestServer& s, int client, int sub_type, const void* payload,
                               int length);
void test_server_send_raw(TestServer& s, int client, const void* data, int length);
// The client index of a slot, or -1.
int test_server_client_of_slot(const TestServer& s, int32_t slot);
