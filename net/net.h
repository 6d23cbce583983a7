// The game server client: one non-blocking UDP socket, the connection's state machine with its
// one-second retries, the reliable sub-channel, simulated lag and loss, the game messages and
// the file upload from "@outgoing/".
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <deque>

#include "core/constants.h"
#include "core/lineup.h"
#include "replay/packed_state.h"

constexpr int NET_DEFAULT_PORT = 19800;
constexpr int NET_PROTOCOL_VERSION = 6;
constexpr int NET_RECEIVE_MAX = 1023;       // bytes of a received datagram that are used
constexpr int NET_RELIABLE_MAX = 480;       // bytes of one reliable packet, header included
constexpr int NET_RELIABLE_HEADER = 14;     // type, slot, session, sequence, sub-type
constexpr int NET_RELIABLE_PAYLOAD_MAX = NET_RELIABLE_MAX - NET_RELIABLE_HEADER;
constexpr int NET_DELAY_QUEUE_SIZE = 1024;  // datagrams held back by simulated lag or loss
// Reliable messages that arrived ahead of sequence are kept only this far ahead of the expected
// one; further ones are dropped unacknowledged, so the server resends them later. This bounds
// the early list whatever a server sends.
constexpr int NET_EARLY_MAX = 64;
constexpr int NET_KNOCKOUT_COUNT = 16;
constexpr int32_t NET_KNOCKOUT_MAX = 460800;  // ticks: one hour
constexpr double NET_RESEND_INTERVAL = 1.0;   // s, periodic messages
constexpr double NET_RELIABLE_RESEND = 0.5;   // s, head of the reliable queue
constexpr double NET_FILE_PIECE_INTERVAL = 0.25;  // s
constexpr int NET_FILE_PIECE = 256;           // bytes of a file per piece
constexpr int NET_TEXT_FIELD = RIDER_TEXT_FIELD;

enum NetState : int {
  NET_CONTACTING = 0,
  NET_SENDING_INFO = 3,
  NET_ACK_TRACK = 5,
  NET_ACK_BIKES = 7,
  NET_READY = 9,
  NET_CONNECTED = 11,
  NET_RESTARTING = 14,
  NET_LEAVING = 15,
};

// Message types (first byte of every datagram) and reliable sub-types.
enum NetMessage : uint8_t {
  MSG_CONTACT = 0, MSG_SERVER_FULL = 1, MSG_HELLO = 2, MSG_CLIENT_INFO = 3, MSG_TRACK = 4,
  MSG_TRACK_ACK = 5, MSG_RIDER = 6, MSG_BIKE_ACK = 7, MSG_START = 8, MSG_READY = 9,
  MSG_CLOCK = 10, MSG_STATE = 11, MSG_RESTART_REQUEST = 13, MSG_RESTART = 14, MSG_LEAVE = 15,
  MSG_REFUSAL = 16, MSG_RELIABLE = 17, MSG_ACK = 18, MSG_REDIRECT = 25,
};
enum NetSubMessage : uint8_t {
  SUB_DESCRIPTION = 3, SUB_CHAT = 19, SUB_GATES = 21, SUB_COMMAND = 24, SUB_EROSION = 27,
};

constexpr int STATE_MESSAGE_SIZE = 60;
constexpr int STATE_RECORD_SIZE = 47;  // slot16, round trip16, tick, packed state
constexpr int GATE_RECORD_SIZE = 12;   // slot, gate index, tick

struct ReliableMessage {
  double next_send_time;  // s, 0 = at the next poll
  uint32_t sequence;
  int length;
  uint8_t bytes[NET_RELIABLE_MAX];
};

struct EarlyMessage {
  uint32_t sequence;
  int length;  // of the sub-type and payload
  uint8_t bytes[NET_RECEIVE_MAX];
};

struct DelayedDatagram {
  double arrival;  // s
  int length;
  uint8_t bytes[NET_RECEIVE_MAX];
};

struct NetClient;

// What the client needs from the session and the bike it races. The session fills these in;
// a null entry means the piece is not present (a headless tool, a test), and the client then
// does without that effect. Each is called on the game thread during net_poll.
struct NetSessionHooks {
  double (*now)(NetClient&);          // the step clock in s; null = the platform clock
  int32_t* sim_tick;                  // the session's tick counter; read and set
  // A track by directory name among the installed ones.
  bool (*find_track)(NetClient&, const char* name);
  // The digest of the loaded track's files; false when none is loaded.
  bool (*loaded_track_digest)(NetClient&, uint8_t out[20]);
  // Start the session (session_reset) with the client's lineup requests and descriptions and
  // the race time and laps of the track message.
  void (*start_session)(NetClient&);
  // The slot is driven from the network and has a bike.
  bool (*slot_accepts_states)(NetClient&, int slot);
  // A state the server relayed for a slot: the session adds it to the slot's history.
  void (*add_state)(NetClient&, int slot, const PackedBikeState& state, int32_t tick);
  void (*clear_histories)(NetClient&);
  // The own bike in slot: its packed state and gates passed; false without a bike.
  bool (*own_bike)(NetClient&, int slot, PackedBikeState* state, int32_t* gates_passed);
  int32_t (*own_gate_tick)(NetClient&, int32_t index);
  // Another rider passed a gate: store the tick and cut the slot's gates after the index.
  void (*gate_time)(NetClient&, int slot, int32_t index, int32_t tick);
  void (*race_order_update)(NetClient&);
  // Erosion data received (id first); own = it is for this client and must be applied.
  void (*erosion)(NetClient&, const uint8_t* data, int length, bool own);
  // The ground erosion amount changed; reload = reload the track at the next session reset.
  void (*erode_amount)(NetClient&, int32_t amount, bool reload);
  // A record for the demo being recorded (types 2 chat, 3 erode command).
  void (*demo_text)(NetClient&, int record_type, const char* text);
  void (*arcade_off)(NetClient&);       // switch arcade physics off on every own bike
  bool (*arcade_setting)(NetClient&);   // the player's arcade setting
  bool (*description_held)(NetClient&); // a menu page that edits the description is open
  bool (*gravity_changed)(NetClient&);  // the world's gravity is not (0, -32, 0)
  const char* gl_renderer;
  const char* gl_version;
};

// The file upload in progress (one at a time).
struct FileTransfer {
  struct VfsFile* file;
  char closing_text[1024];  // "namefile " + name
  bool allowed;             // the server said "sendready"
  double next_piece_time;   // s
};

struct NetClient {
  // Connection.
  char target[256];  // "host[:port]"; empty when not connected
  int socket;        // -1 = none
  sockaddr_in server_address;
  int state;
  int32_t client_slot;
  uint32_t session_id;
  uint32_t client_id;
  uint32_t nonce;
  int32_t race_slot;
  int32_t last_bike_index;
  int32_t newest_server_tick;
  int32_t server_tick_estimate;
  double last_send_time;
  std::deque<ReliableMessage> outgoing;
  uint32_t next_outgoing_sequence;
  uint32_t expected_incoming_sequence;
  EarlyMessage early[NET_EARLY_MAX];  // sorted by sequence
  int early_count;
  int32_t last_gate_count_sent;
  bool info_changed;
  bool arcade_disabled_by_server;
  // Simulated lag (s) and loss (percent) of received datagrams.
  double fake_lag;
  int fake_loss;
  uint32_t loss_random;  // state of the loss draw
  DelayedDatagram* delay_queue;  // ring of NET_DELAY_QUEUE_SIZE, allocated on first use
  int delay_head, delay_count;
  char password[256];       // empty = none
  bool fixed_files_ok;      // the start-up check of the standard shape files passed
  // Race parameters received.
  int32_t race_time;        // ticks, 0 = laps only
  int32_t laps;
  int32_t race_start_tick;
  uint8_t track_digest[20];
  char track_name[160];
  int32_t own_round_trip;   // ticks
  double off_course_bias;   // s
  double off_course_scale;
  int32_t knockout_ticks[NET_KNOCKOUT_COUNT];
  int32_t erode_amount;     // -1 = unset for this track
  // Riders.
  RiderDescription player;  // this player's appearance
  RiderDescription riders[SLOT_COUNT];
  bool has_rider[SLOT_COUNT];
  int lineup_request[SLOT_COUNT];
  int32_t slot_tick[SLOT_COUNT];        // tick of the last relayed state
  int32_t slot_round_trip[SLOT_COUNT];  // ticks
  FileTransfer transfer;
  char error_text[64];  // of the last failing socket call
  // Traffic since net_client_init (UDP payload bytes), for the figures tools print.
  uint64_t sent_datagrams, sent_bytes, received_datagrams, received_bytes;
  NetSessionHooks hooks;
  void* user;  // for the hooks' owner
};

// The program's one connection.
extern NetClient net_client;

// Brings a client to its not-connected state (also done by net_leave).
void net_client_init(NetClient& c);

// Sets the target; the next poll opens the connection.
void net_connect(NetClient& c, const char* name);
// Once per simulation step, before the step; nothing without a target.
void net_poll(NetClient& c);
// Sends the leave message if a socket is open, closes it and resets the connection.
void net_leave(NetClient& c);
// The disconnect menu entry: repeats the leave message until the server confirms.
void net_begin_leaving(NetClient& c);
// Appends a reliable message; without a socket shows "Not connected to server".
void net_send_reliable(NetClient& c, int type, const void* payload, int length);
// In the connected state asks the server to restart the race.
void net_request_restart(NetClient& c);
// Handles one received datagram (what the poll does with each one).
void net_handle_datagram(NetClient& c, const uint8_t* data, int length);

// The description text in its long form, or the short one when the long form does not fit in
// room bytes; returns the length written (no terminator counted).
int net_description_text(const RiderDescription& d, char* out, int room);
void net_description_parse(const char* text, RiderDescription* out);
// Bytes [9..12] of the client information message: the proof of the password for a session.
uint32_t net_password_proof(const char* password, uint32_t session_id);
// Parses a knockout command's numbers (the text after the keyword) into 16 clamped values.
void net_parse_knockout(const char* text, int32_t out[NET_KNOCKOUT_COUNT]);
// Handles a server command text (reliable sub-type 24).
void net_handle_command(NetClient& c, const char* text);
// Splits "host[:port]" at the last colon; a port that is not a decimal number leaves the whole
// text as the host. host must hold 256 bytes.
void net_split_target(const char* target, char* host, int* port);

// The console command "sendfile NAME": offers "@outgoing/NAME" to the server.
void file_send(NetClient& c, const char* argument_text);
// Sends the next piece when the server allows it and the time has come.
void file_send_poll(NetClient& c);
