// Received messages one by one on a client brought to a chosen state: reliable ordering,
// hostile datagrams, commands, descriptions, targets and file upload rules.
#include <cmath>

#include "net/net_internal.h"
#include "tests/net/net_support.h"

namespace {

std::vector<uint8_t> bytes(std::initializer_list<uint32_t> words, uint8_t type) {
  std::vector<uint8_t> m{type};
  for (uint32_t w : words) {
    for (int i = 0; i < 4; i++) m.push_back(static_cast<uint8_t>(w >> (8 * i)));
  }
  return m;
}

void feed(NetClient& c, const std::vector<uint8_t>& m) {
  net_handle_datagram(c, m.data(), static_cast<int>(m.size()));
}

std::vector<uint8_t> reliable(uint32_t sequence, uint8_t sub, const std::string& payload) {
  std::vector<uint8_t> m = bytes({sequence}, MSG_RELIABLE);
  m.push_back(sub);
  m.insert(m.end(), payload.begin(), payload.end());
  return m;
}

// A client talking to the (unpolled) test server socket, brought through the handshake by
// messages fed straight to its handler: slot 4, session 77, id 9.
struct ScriptedTest : NetTest {
  std::unique_ptr<Rider> r = make_rider("Alice");
  NetClient& c = r->client;

  void open() {
    net_connect(c, target.c_str());
    net_poll(c);
    ASSERT_GE(c.socket, 0);
  }
  void to_track_ack() {
    open();
    feed(c, bytes({4, 77, 6}, MSG_HELLO));
    std::vector<uint8_t> track = bytes({9, 0, 3, 640, 0, 0, 0, 0, 0}, MSG_TRACK);
    const std::string name = "testtrack";
    track.insert(track.end(), name.begin(), name.end());
    feed(c, track);
    ASSERT_EQ(c.state, NET_ACK_TRACK);
  }
  void to_connected() {
    to_track_ack();
    feed(c, bytes({9, 4}, MSG_START));
    feed(c, bytes({9, 5000, 0}, MSG_CLOCK));
    ASSERT_EQ(c.state, NET_CONNECTED);
  }
  // Acknowledged sequences that reached the server socket.
  std::vector<uint32_t> acks() {
    std::vector<uint32_t> out;
    uint8_t b[2048];
    ssize_t n;
    while ((n = recv(server.socket, b, sizeof b, 0)) > 0) {
      if (b[0] == MSG_ACK && n == 13) out.push_back(net_get32(b + 9));
    }
    return out;
  }
  std::vector<std::string> chats() {
    std::vector<std::string> out;
    for (const std::string& d : r->demo) {
      if (d.rfind("2:", 0) == 0) out.push_back(d.substr(2));
    }
    return out;
  }
};

TEST_F(ScriptedTest, ReliableMessagesAreHandledInOrderOnce) {
  to_connected();
  acks();
  c.expected_incoming_sequence = 5;
  for (uint32_t s : {5u, 7u, 6u, 6u, 3u}) feed(c, reliable(s, SUB_CHAT, "m" + std::to_string(s)));
  EXPECT_EQ(chats(), (std::vector<std::string>{"m5", "m6", "m7"}));
  EXPECT_EQ(c.expected_incoming_sequence, 8u);
  EXPECT_EQ(c.early_count, 0);
  EXPECT_EQ(acks(), (std::vector<uint32_t>{5, 7, 6, 6, 3}));  // every arrival, duplicates too
}

TEST_F(ScriptedTest, EarlyListStaysBoundedUnderAFlood) {
  to_connected();
  acks();
  for (uint32_t s = 1; s < 5000; s += 3) feed(c, reliable(s, SUB_CHAT, "x"));
  feed(c, reliable(0xfffffff0u, SUB_CHAT, "far behind"));
  EXPECT_LE(c.early_count, NET_EARLY_MAX);
  // Only what was kept is acknowledged: the server resends the rest later.
  for (uint32_t s : acks()) EXPECT_TRUE(s <= NET_EARLY_MAX || s == 0xfffffff0u) << s;
  EXPECT_TRUE(chats().empty());
  feed(c, reliable(0, SUB_CHAT, "zero"));  // releases 1 only: 2 never came
  EXPECT_EQ(chats(), (std::vector<std::string>{"zero", "x"}));
  EXPECT_EQ(c.expected_incoming_sequence, 2u);
}

TEST_F(ScriptedTest, AcknowledgementOnlyForTheHead) {
  to_connected();
  net_send_reliable(c, SUB_CHAT, "a", 1);
  net_send_reliable(c, SUB_CHAT, "b", 1);
  feed(c, bytes({1}, MSG_ACK));
  EXPECT_EQ(c.outgoing.size(), 2u);
  feed(c, bytes({0}, MSG_ACK));
  ASSERT_EQ(c.outgoing.size(), 1u);
  EXPECT_EQ(c.outgoing.front().sequence, 1u);
}

TEST_F(ScriptedTest, StatesPackets) {
  to_connected();
  PackedBikeState s{};
  auto record = [&](int slot, int32_t tick) {
    std::vector<uint8_t> rec = {static_cast<uint8_t>(slot), static_cast<uint8_t>(slot >> 8), 5, 0};
    for (int i = 0; i < 4; i++) rec.push_back(static_cast<uint8_t>(tick >> (8 * i)));
    s.bytes[0] = static_cast<uint8_t>(tick);
    rec.insert(rec.end(), s.bytes, s.bytes + PACKED_STATE_SIZE);
    return rec;
  };
  auto packet = [&](uint32_t server_tick, uint32_t count, std::vector<std::vector<uint8_t>> recs) {
    std::vector<uint8_t> m = bytes({9, server_tick, 0, count}, MSG_STATE);
    for (auto& rec : recs) m.insert(m.end(), rec.begin(), rec.end());
    return m;
  };
  // Three records announced, two held: the two apply, the clock does not move.
  feed(c, packet(6000, 3, {record(1, 100), record(2, 100)}));
  EXPECT_TRUE(console_has("State packet too small"));
  ASSERT_EQ(r->states.size(), 2u);
  EXPECT_EQ(c.newest_server_tick, 5000);
  // A count that promises more than any datagram can hold.
  feed(c, packet(6000, 0xffffffffu, {record(3, 100)}));
  EXPECT_EQ(r->states.size(), 3u);
  // Older or equal ticks, the own slot and slots out of range are dropped.
  r->states.clear();
  feed(c, packet(6100, 5, {record(1, 100), record(1, 99), record(4, 300), record(160, 1),
                           record(0xffff, 1)}));
  EXPECT_TRUE(r->states.empty());
  EXPECT_EQ(c.newest_server_tick, 6100);
  feed(c, packet(6200, 1, {record(1, 101)}));
  ASSERT_EQ(r->states.size(), 1u);
  EXPECT_EQ(r->states[0].tick, 101);
  EXPECT_EQ(c.slot_round_trip[1], 5);
  EXPECT_EQ(c.server_tick_estimate, 6200);
}

TEST_F(ScriptedTest, RiderDescriptionsOnlyInRisingSlotOrder) {
  to_track_ack();
  auto rider = [](uint32_t slot, const std::string& text) {
    std::vector<uint8_t> m = bytes({9, slot}, MSG_RIDER);
    m.insert(m.end(), text.begin(), text.end());
    return m;
  };
  feed(c, rider(9, "yz450|r|b|w|h\n7\nNine"));
  feed(c, rider(4, "kx\n8\nFour"));
  feed(c, rider(500, "kx\n8\nOut"));
  EXPECT_EQ(c.state, NET_ACK_BIKES);
  EXPECT_EQ(c.last_bike_index, 9);
  EXPECT_STREQ(c.riders[9].name, "Nine");
  EXPECT_STREQ(c.riders[9].head_texture, "h");
  EXPECT_FALSE(c.has_rider[4]);
  EXPECT_EQ(c.lineup_request[4], 0);
  EXPECT_EQ(c.lineup_request[9], LINEUP_SERVER);
}

TEST(NetDescription, TextBothFormsAndParsing) {
  RiderDescription d{};
  snprintf(d.bike, sizeof d.bike, "cr250");
  snprintf(d.rider_texture, sizeof d.rider_texture, "r1");
  snprintf(d.head_texture, sizeof d.head_texture, "h1");
  snprintf(d.number, sizeof d.number, "12");
  snprintf(d.name, sizeof d.name, "Zed");
  char text[128];
  EXPECT_EQ(std::string(text, size_t(net_description_text(d, text, sizeof text))),
            "cr250|r1|||h1\n12\nZed");
  EXPECT_EQ(std::string(text, size_t(net_description_text(d, text, 16))), "cr250\n12\nZed");

  struct Case {
    const char* text;
    const char* bike;
    const char* head;
    const char* number;
    const char* name;
  } cases[] = {
      {"cr250|r1|||h1\n12\nZed", "cr250", "h1", "12", "Zed"},
      {"kx\n12345\nLong number\nextra", "kx", "", "123", "Long number"},
      {"only a bike", "only a bike", "", "", ""},
      {"a|b|c|d|e|f|g\n1", "a", "e", "1", ""},
      {"", "", "", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    RiderDescription got;
    net_description_parse(c.text, &got);
    EXPECT_STREQ(got.bike, c.bike);
    EXPECT_STREQ(got.head_texture, c.head);
    EXPECT_STREQ(got.number, c.number);
    EXPECT_STREQ(got.name, c.name);
  }
  RiderDescription got;
  const std::string long_name = "x\n1\n" + std::string(500, 'n');
  net_description_parse(long_name.c_str(), &got);
  EXPECT_EQ(strlen(got.name), size_t(NET_TEXT_FIELD - 1));
}

TEST(NetCommands, KnockoutValues) {
  struct Case {
    const char* text;
    int32_t first, second, rest;
  } cases[] = {
      {" 100 200", 100, 200, 200},
      {" -5", 0, 0, 0},
      {"", 0, 0, 0},
      {" 7 junk 9", 7, 7, 7},
      {" 99999999999999999999", NET_KNOCKOUT_MAX, NET_KNOCKOUT_MAX, NET_KNOCKOUT_MAX},
      {" 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18", 1, 2, 16},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    int32_t v[NET_KNOCKOUT_COUNT];
    net_parse_knockout(c.text, v);
    EXPECT_EQ(v[0], c.first);
    EXPECT_EQ(v[1], c.second);
    EXPECT_EQ(v[15], c.rest);
  }
}

TEST_F(ScriptedTest, CommandTexts) {
  to_connected();
  net_handle_command(c, "  knockout 100 200");
  EXPECT_EQ(c.knockout_ticks[2], 200);
  net_handle_command(c, "knockouts 5");  // not the keyword
  EXPECT_EQ(c.knockout_ticks[0], 100);
  net_handle_command(c, "off_course_bias 4.5");
  net_handle_command(c, "off_course_scale nan");
  net_handle_command(c, " off_course_scale 3");  // must begin the text
  EXPECT_DOUBLE_EQ(c.off_course_bias, 4.5);
  EXPECT_DOUBLE_EQ(c.off_course_scale, 1.5);
  net_handle_command(c, "no_arcade please");
  EXPECT_FALSE(c.arcade_disabled_by_server);
  net_handle_command(c, " no_arcade ");
  EXPECT_TRUE(c.arcade_disabled_by_server);
  net_handle_command(c, "version");
  ASSERT_FALSE(c.outgoing.empty());
  const ReliableMessage& m = c.outgoing.back();
  EXPECT_EQ(m.bytes[13], SUB_COMMAND);
  const std::string answer(reinterpret_cast<const char*>(m.bytes + 14), size_t(m.length - 14));
  EXPECT_EQ(answer, "version 0 " + std::string(64, '0') + " 2018-07-28-1418 snapshot  ");
  // Leaving restores the server-set values.
  net_leave(c);
  EXPECT_DOUBLE_EQ(c.off_course_bias, 10.0);
  EXPECT_FALSE(c.arcade_disabled_by_server);
  EXPECT_EQ(c.knockout_ticks[2], 0);
}

TEST_F(ScriptedTest, ErodeCommands) {
  to_connected();
  struct Case {
    const char* text;
    int32_t stored;     // the client's amount afterwards
    int32_t reported;   // what reached the session (-99 = nothing)
    bool malformed;
  } cases[] = {
      {"erode 9 0", 0, -99, false},      // unset and 0: only stored
      {"erode 8 50", 0, -99, false},     // another client
      {"erode 9 50", 50, 50, false},
      {"erode 9", 50, 50, true},
      {"erode 9 50 x", 50, 50, true},
      {"erode x y", 50, 50, true},
      {"erode 9 0", 0, 0, false},        // set before: reported
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.text);
    console_lines.clear();
    net_handle_command(c, t.text);
    EXPECT_EQ(c.erode_amount, t.stored);
    EXPECT_EQ(r->erode_amount, t.reported);
    EXPECT_EQ(console_has("Malformed erode command received"), t.malformed);
  }
  EXPECT_TRUE(r->erode_reload == false);  // the last amount was 0
  EXPECT_EQ(r->demo, (std::vector<std::string>{"3:erode 50", "3:erode 0"}));
}

TEST_F(ScriptedTest, GateTimesOfOtherRiders) {
  to_connected();
  std::vector<uint8_t> payload = bytes({9, 4, 1, 2, 500, 4, 3, 600, 200, 0, 1}, 0);
  payload.erase(payload.begin());
  // Four records promised, three held: the own slot and slot 200 are skipped.
  c.hooks.gate_time = [](NetClient& c, int slot, int32_t index, int32_t tick) {
    rider_of(c).demo.push_back("gate " + std::to_string(slot) + " " + std::to_string(index) +
                               " " + std::to_string(tick));
  };
  feed(c, reliable(0, SUB_GATES, std::string(payload.begin(), payload.end())));
  EXPECT_EQ(r->demo, (std::vector<std::string>{"gate 1 2 500"}));
  // For another client id: nothing.
  payload[0] = 8;
  feed(c, reliable(1, SUB_GATES, std::string(payload.begin(), payload.end())));
  EXPECT_EQ(r->demo.size(), 1u);
}

TEST_F(ScriptedTest, RedirectWithAnOverlongAddress) {
  open();
  std::vector<uint8_t> m = bytes({c.nonce}, MSG_REDIRECT);
  m.insert(m.end(), 900, 'a');
  feed(c, m);
  EXPECT_EQ(c.socket, -1);
  EXPECT_EQ(strlen(c.target), 127u);
}

TEST_F(ScriptedTest, RedirectNeedsTheNonceAndTheContactingState) {
  open();
  std::vector<uint8_t> m = bytes({c.nonce + 1}, MSG_REDIRECT);
  m.push_back('x');
  feed(c, m);
  EXPECT_GE(c.socket, 0);
  EXPECT_EQ(c.target, target);
}

TEST_F(ScriptedTest, ShortAndGarbageDatagramsInEveryState) {
  // Every type cut at every length, in every state: nothing crashes or reads past the end
  // (the sanitizer build checks), and the state only moves by rules.
  const int states[] = {NET_CONTACTING, NET_SENDING_INFO, NET_ACK_TRACK, NET_ACK_BIKES,
                        NET_READY,      NET_CONNECTED,    NET_RESTARTING, NET_LEAVING};
  for (int state : states) {
    for (int type = 0; type < 28; type++) {
      for (int length = 1; length < 48; length++) {
        if (c.socket < 0) to_connected();
        c.state = state;
        std::vector<uint8_t> m(static_cast<size_t>(length), 0xff);
        m[0] = static_cast<uint8_t>(type);
        net_handle_datagram(c, m.data(), length);
      }
    }
    net_leave(c);
  }
  acks();
}

TEST(NetTarget, SplitAtTheLastColon) {
  struct Case {
    const char* target;
    const char* host;
    int port;
  } cases[] = {
      {"localhost", "localhost", NET_DEFAULT_PORT},
      {"localhost:2000", "localhost", 2000},
      {"host:abc", "host:abc", NET_DEFAULT_PORT},
      {"a:b:99", "a:b", 99},
      {"host:", "host:", NET_DEFAULT_PORT},
      {"host:99999", "host:99999", NET_DEFAULT_PORT},
  };
  for (const Case& c : cases) {
    char host[256];
    int port;
    net_split_target(c.target, host, &port);
    EXPECT_STREQ(host, c.host) << c.target;
    EXPECT_EQ(port, c.port) << c.target;
  }
}

TEST_F(ScriptedTest, SimulatedLossAndLag) {
  open();
  // Everything lost: the hello never arrives.
  c.fake_loss = 100;
  for (int i = 0; i < 20; i++) {
    test_server_poll(server, test_clock);
    test_clock += 1.0 / 128;
    net_poll(c);
  }
  EXPECT_EQ(c.state, NET_CONTACTING);
  // Half a second of lag: the hello is handled 64 steps after it arrived.
  c.fake_loss = 0;
  c.fake_lag = 0.5;
  test_clock += 1.0;
  net_poll(c);  // sends the contact again
  test_server_poll(server, test_clock);
  int steps = 0;
  while (c.state == NET_CONTACTING && steps < 200) {
    test_clock += 1.0 / 128;
    net_poll(c);
    steps++;
  }
  EXPECT_EQ(c.state, NET_SENDING_INFO);
  EXPECT_EQ(steps, 65);  // received at the first of these polls, handled 64 steps later
}

struct FileSendTest : ScriptedTest {
  TempDir home;
  void SetUp() override {
    ScriptedTest::SetUp();
    set_search_dirs(home);
  }
  void TearDown() override {
    vfs_shutdown();
    ScriptedTest::TearDown();
  }
  // Command texts the client queued, oldest first.
  std::vector<std::string> sent() {
    std::vector<std::string> out;
    for (const ReliableMessage& m : c.outgoing) {
      out.emplace_back(reinterpret_cast<const char*>(m.bytes + 14), size_t(m.length - 14));
    }
    return out;
  }
};

TEST_F(FileSendTest, NamesAreChecked) {
  to_connected();
  home.write("outgoing/ok.txt", "x");
  for (const char* command : {"sendfile ../x", "sendfile a/b", "sendfile a b", "sendfile a-b"}) {
    console_lines.clear();
    file_send(c, command);
    EXPECT_TRUE(console_has("Filename may only contain alphanumeric characters, '_' or '.'"))
        << command;
    EXPECT_EQ(c.transfer.file, nullptr);
  }
  const std::string too_long = "sendfile " + std::string(1020, 'a');
  file_send(c, too_long.c_str());
  EXPECT_TRUE(console_has("Filename too long"));
  file_send(c, "sendfile missing.txt");
  EXPECT_TRUE(console_has("Can't open file"));
  EXPECT_TRUE(c.outgoing.empty());
}

TEST_F(FileSendTest, PiecesThenTheName) {
  to_connected();
  struct Case {
    size_t size;
    std::vector<size_t> pieces;
  } cases[] = {{512, {256, 256}}, {0, {}}, {300, {256, 44}}};
  for (const Case& t : cases) {
    SCOPED_TRACE(t.size);
    c.outgoing.clear();
    home.write("outgoing/f.bin", std::string(t.size, 'q'));
    file_send(c, "  sendfile   f.bin");
    ASSERT_EQ(sent(), (std::vector<std::string>{"sendfile"}));
    c.outgoing.clear();
    net_handle_command(c, "sendready");
    for (int i = 0; i < 128 * 3; i++) {
      test_clock += 1.0 / 128;
      file_send_poll(c);
    }
    std::vector<std::string> expected;
    for (size_t n : t.pieces) expected.push_back("sendpart -" + std::string(n, 'q'));
    expected.push_back("namefile f.bin");
    EXPECT_EQ(sent(), expected);
    EXPECT_EQ(c.transfer.file, nullptr);
  }
}

TEST_F(FileSendTest, DenialAndReplacement) {
  to_connected();
  home.write("outgoing/a.bin", "aaa");
  home.write("outgoing/b.bin", "bbb");
  file_send(c, "sendfile a.bin");
  file_send(c, "sendfile b.bin");
  EXPECT_TRUE(console_has("Stopping previous transfer"));
  net_handle_command(c, "senddenied");
  EXPECT_TRUE(console_has("Send file denied"));
  EXPECT_EQ(c.transfer.file, nullptr);
  c.outgoing.clear();
  net_handle_command(c, "sendready");
  test_clock += 1;
  file_send_poll(c);
  EXPECT_TRUE(c.outgoing.empty());
}

TEST_F(ScriptedTest, NotConnected) {
  net_send_reliable(c, SUB_CHAT, "hi", 2);
  EXPECT_TRUE(console_has("Not connected to server"));
  EXPECT_TRUE(c.outgoing.empty());
}

}  // namespace
