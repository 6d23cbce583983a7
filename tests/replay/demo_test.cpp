// Recording and playing demos through the file system: round trips of synthetic states,
// rewinding, backups, failed writes, and shared files with bad contents.
#include "replay/demo.h"

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/console.h"
#include "files/vfs.h"
#include "replay/history.h"
#include "tests/support/temp_dir.h"

namespace {

// A state that tells which slot and tick it was packed for.
PackedBikeState synthetic(int slot, int32_t tick) {
  PackedBikeState s;
  for (int i = 0; i < PACKED_STATE_SIZE; ++i) s.bytes[i] = uint8_t(slot * 31 + tick * 7 + i);
  return s;
}

int32_t packing_tick;
bool pack_now(int slot, PackedBikeState* out) {
  *out = synthetic(slot, packing_tick);
  return true;
}

std::vector<std::string> consoles;
std::vector<int> erosion_rates;
std::vector<std::string> erosions;

class Demo : public ::testing::Test {
 protected:
  TempDir dir;
  DemoHeader header{};
  const int slots[3] = {0, 2, 5};

  void SetUp() override {
    set_search_dirs(dir);
    history_clear_all();
    consoles.clear();
    erosion_rates.clear();
    erosions.clear();
    DemoPlaybackHandlers handlers{};
    handlers.erosion_rate = [](int rate) { erosion_rates.push_back(rate); };
    handlers.erosion = [](const uint8_t* data, uint32_t length) { erosions.emplace_back(reinterpret_cast<const char*>(data), length); };
    demo_set_playback_handlers(handlers);
    console_set_display_hook([](const char* text) { consoles.push_back(text); });
    header.rider_count = 3;
    header.laps = 2;
    header.race_start_tick = 1792;
    header.track = "rabbithill";
    for (int i = 0; i < 3; ++i) header.riders[i] = {"yz250f(2017)", nullptr, nullptr, nullptr, nullptr, "1", "Rider"};
  }
  void TearDown() override {
    demo_play_close();
    if (demo_recording()) demo_record_finish();
    demo_set_playback_handlers(DemoPlaybackHandlers{});
    console_set_display_hook(nullptr);
    vfs_shutdown();
  }

  bool record(int backups, int32_t from, int32_t to, const char* track = "rabbithill") {
    header.track = track;
    DemoRecordSetup setup{&header, slots, 3, pack_now, nullptr, backups, nullptr};
    if (!demo_record_start(setup)) return false;
    for (packing_tick = from; packing_tick <= to; ++packing_tick) {
      if (packing_tick == from + 20) {
        demo_record_block(DEMO_BLOCK_CONSOLE, packing_tick, "hello", 5);
        demo_record_block(DEMO_BLOCK_COMMAND, packing_tick, "erode 3", 7);
        demo_record_block(DEMO_BLOCK_EROSION, packing_tick, "\x01\x02", 2);
      }
      demo_record_step(packing_tick, false);
    }
    return demo_record_finish();
  }

  std::string home(const std::string& name) const { return dir.file(name); }
  std::string track_of(const std::string& name) const {
    std::string bytes = read_file_bytes(home(name));
    size_t a = bytes.find('\n') + 1;
    return bytes.substr(a, bytes.find('\n', a) - a);
  }
};

// Plays the demo from tick 0 and checks every recorded state is posed exactly at its tick.
void expect_states_replayed(int32_t from, int32_t to) {
  const int recorded[] = {0, 2, 5};
  int32_t sim_tick = 0;
  demo_read_ahead(&sim_tick);
  EXPECT_EQ(sim_tick, (from + 15) / 16 * 16);  // the first block's tick
  for (int32_t t = sim_tick; t <= to; ++t) {
    demo_read_ahead(&t);
    if (t % DEMO_STATE_EVERY != 0 || t < from) continue;
    for (int rider = 0; rider < 3; ++rider) {
      HistorySample s;
      ASSERT_TRUE(history_sample(rider, t, &s)) << t;
      PackedBikeState want = synthetic(recorded[rider], t);
      ASSERT_EQ(0, std::memcmp(s.state.bytes, want.bytes, PACKED_STATE_SIZE)) << "rider " << rider << " tick " << t;
    }
  }
}

TEST_F(Demo, RecordedStatesPlayBack) {
  ASSERT_TRUE(record(0, 1000, 1300));
  history_clear_all();
  ASSERT_TRUE(demo_play_open("@demos/default.skdemo", false));
  EXPECT_EQ(demo_play_header()->rider_count, 3);
  EXPECT_EQ(demo_play_header()->laps, 2);
  expect_states_replayed(1000, 1296);
  EXPECT_EQ(consoles, std::vector<std::string>{"hello"});
  EXPECT_EQ(erosion_rates, std::vector<int>{3});
  EXPECT_EQ(erosions, std::vector<std::string>{"\x01\x02"});
  EXPECT_FALSE(std::filesystem::exists(home("demos/default.skdemo.tmp")));
}

TEST_F(Demo, RewindAndSkipLandOnTheTargetTick) {
  ASSERT_TRUE(record(0, 0, 1200));
  history_clear_all();
  ASSERT_TRUE(demo_play_open("@demos/default.skdemo", false));
  int32_t tick = 0;
  for (; tick < 1000; ++tick) demo_read_ahead(&tick);
  EXPECT_FALSE(demo_skip_by_stepping(-1.0, false));
  EXPECT_TRUE(demo_skip_by_stepping(1.0, false));
  int32_t c = demo_skip_seek(&tick, -1.0);
  EXPECT_EQ(c, 1000 - 128 - 1);
  EXPECT_EQ(tick, c);
  // The states around the target are back in the histories, from a block at least 64 ticks
  // before it.
  for (int32_t t : {c - 63, c + 1, c + 3, c + 40}) {
    if (t % 4) continue;
    HistorySample s;
    ASSERT_TRUE(history_sample(1, t, &s)) << t;
    PackedBikeState want = synthetic(2, t);
    EXPECT_EQ(0, std::memcmp(s.state.bytes, want.bytes, PACKED_STATE_SIZE)) << t;
  }
  // The erosion data of the file's start is applied once, whatever is played again.
  c = demo_skip_seek(&tick, -10.0);
  EXPECT_EQ(c, 0);
  for (tick = 0; tick < 200; ++tick) demo_read_ahead(&tick);
  EXPECT_EQ(erosions.size(), 1u);
}

TEST_F(Demo, BackupsRotateBySetting) {
  for (const char* track : {"one", "two", "three", "four"}) ASSERT_TRUE(record(3, 0, 40, track));
  EXPECT_EQ(track_of("demos/default.skdemo"), "four");
  EXPECT_EQ(track_of("demos/default00.skdemo"), "three");
  EXPECT_EQ(track_of("demos/default01.skdemo"), "two");
  EXPECT_EQ(track_of("demos/default02.skdemo"), "one");
  EXPECT_FALSE(std::filesystem::exists(home("demos/default03.skdemo")));

  TempDir other;
  set_search_dirs(other);
  for (const char* track : {"one", "two"}) ASSERT_TRUE(record(0, 0, 40, track));
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(other.path / "demos")) files += entry.is_regular_file();
  EXPECT_EQ(files, 1);
}

TEST_F(Demo, PendingNameRenamesTheFinishedDemo) {
  demo_set_pending_name("great.skdemo");
  ASSERT_TRUE(record(2, 0, 40, "named"));
  EXPECT_EQ(track_of("demos/great.skdemo"), "named");
  EXPECT_FALSE(std::filesystem::exists(home("demos/default.skdemo")));
  ASSERT_TRUE(record(2, 0, 40, "after"));
  EXPECT_TRUE(std::filesystem::exists(home("demos/default.skdemo")));
}

TEST_F(Demo, FailedRecordingLeavesThePreviousDemosAlone) {
  ASSERT_TRUE(record(2, 0, 40, "first"));
  ASSERT_TRUE(record(2, 0, 40, "second"));
  // A full disk: every flush of the side file fails.
  std::filesystem::create_symlink("/dev/full", home("demos/default.skdemo.tmp"));
  EXPECT_FALSE(record(2, 0, 40, "lost"));
  EXPECT_EQ(track_of("demos/default.skdemo"), "second");
  EXPECT_EQ(track_of("demos/default00.skdemo"), "first");
  EXPECT_FALSE(std::filesystem::exists(home("demos/default01.skdemo")));
  // A side file that cannot be opened at all: nothing is recorded.
  std::filesystem::create_directories(home("demos/default.skdemo.tmp/x"));
  EXPECT_FALSE(record(2, 0, 40, "lost"));
  EXPECT_EQ(track_of("demos/default.skdemo"), "second");
}

TEST_F(Demo, CopyReplacesTheTargetOnlyWhenWhole) {
  dir.write("t/lastlap.skdemo", "new lap");
  dir.write("t/fastlap.skdemo", "old lap");
  EXPECT_FALSE(demo_copy_file("@t/missing.skdemo", "@t/fastlap.skdemo"));
  std::filesystem::create_symlink("/dev/full", home("t/fastlap.skdemo.tmp"));
  EXPECT_FALSE(demo_copy_file("@t/lastlap.skdemo", "@t/fastlap.skdemo"));
  EXPECT_EQ(read_file_bytes(home("t/fastlap.skdemo")), "old lap");
  EXPECT_TRUE(demo_copy_file("@t/lastlap.skdemo", "@t/fastlap.skdemo"));
  EXPECT_EQ(read_file_bytes(home("t/fastlap.skdemo")), "new lap");
}

TEST_F(Demo, MissingOrBadFilesDoNotPlay) {
  EXPECT_FALSE(demo_play_open("@demos/none.skdemo", false));
  dir.write("demos/bad.skdemo", "SK09 1 0 0 0\nt\n");
  EXPECT_FALSE(demo_play_open("@demos/bad.skdemo", false));
  EXPECT_FALSE(demo_playing());
  EXPECT_EQ(demo_play_header(), nullptr);
}

// A version-6 demo built by hand: two riders, then the given blocks.
struct Builder {
  std::string bytes = "SK06 2 0 1 0\nt\nm\n1\na\n\nm\n2\nb\n\n";
  uint32_t last = 0;
  void block(uint8_t type, int32_t tick, const std::string& payload) {
    uint8_t head[DEMO_BLOCK_HEAD];
    demo_block_head_put(head, uint32_t(payload.size()), last, tick, type);
    bytes.append(reinterpret_cast<char*>(head), sizeof head);
    bytes += payload;
    last = uint32_t(payload.size());
  }
  static std::string entry(int rider, int32_t tick) {
    uint8_t e[DEMO_ENTRY_SIZE];
    demo_entry_put(e, rider, tick, synthetic(rider, tick));
    return std::string(reinterpret_cast<char*>(e), sizeof e);
  }
};

std::vector<int32_t> ticks_in(int slot) {
  std::vector<int32_t> out;
  for (const HistoryEntry& e : history_rings[slot].entries) {
    if (e.tick != HISTORY_EMPTY) out.push_back(e.tick);
  }
  std::sort(out.begin(), out.end());
  return out;
}

TEST_F(Demo, SharedFilesWithBadContents) {
  struct Case {
    const char* what;
    void (*build)(Builder*);
    std::vector<int32_t> rider0, rider1;
  };
  const Case cases[] = {
      {"good", [](Builder* b) { b->block(1, 16, Builder::entry(0, 12) + Builder::entry(1, 16)); }, {12}, {16}},
      {"payload not a multiple of 44, then a good block",
       [](Builder* b) {
         b->block(1, 16, Builder::entry(0, 12) + "x");
         b->block(1, 32, Builder::entry(0, 28));
       },
       {28}, {}},
      {"rider index beyond the header",
       [](Builder* b) { b->block(1, 16, Builder::entry(7, 12) + Builder::entry(255, 12) + Builder::entry(1, 16)); }, {}, {16}},
      {"entry ticks far in the past and future",
       [](Builder* b) { b->block(1, 4000, Builder::entry(0, -5) + Builder::entry(0, 2000000000) + Builder::entry(1, 3996)); }, {}, {3996}},
      {"link pointing past the file's end",
       [](Builder* b) {
         b->block(1, 16, Builder::entry(0, 16));
         b->bytes += std::string("\xff\xff\xff\x7f\x20\x00\x00\x00\x01", 9) + Builder::entry(0, 20);
       },
       {16}, {}},
      {"cut inside a block head",
       [](Builder* b) {
         b->block(1, 16, Builder::entry(0, 16));
         b->bytes += "\x2c\x00";
       },
       {16}, {}},
      {"a block far in the future stops reading",
       [](Builder* b) {
         b->block(1, 16, Builder::entry(0, 16));
         b->block(1, 1000000, Builder::entry(0, 1000000));
       },
       {16}, {}},
      {"unknown types are skipped", [](Builder* b) { b->block(9, 0, "zzz"); b->block(2, 0, std::string(5000, 'c')); b->block(1, 16, Builder::entry(1, 16)); }, {}, {16}},
  };
  for (const Case& c : cases) {
    Builder b;
    c.build(&b);
    history_clear_all();
    ASSERT_TRUE(demo_play_open_bytes(reinterpret_cast<const uint8_t*>(b.bytes.data()), b.bytes.size(), false)) << c.what;
    int32_t tick = 0;
    for (int i = 0; i < 300; ++i, ++tick) demo_read_ahead(&tick);
    // Rewinding over the bad data must stay inside the file as well.
    demo_skip_seek(&tick, -1.0);
    for (int i = 0; i < 300; ++i, ++tick) demo_read_ahead(&tick);
    EXPECT_EQ(ticks_in(0), c.rider0) << c.what;
    EXPECT_EQ(ticks_in(1), c.rider1) << c.what;
  }
  EXPECT_LE(consoles.back().size(), 1023u);
}

TEST_F(Demo, OlderVersionsPlayOneRecordPerRiderPerTick) {
  for (int version : {4, 5}) {
    int size = version == 4 ? DEMO_V4_RECORD_SIZE : DEMO_V5_RECORD_SIZE;
    std::string bytes = "SK0" + std::to_string(version) + " 2 0\nt\nm|||\n1\nm\n2\n";
    for (int32_t tick = 0; tick < 40; ++tick) {
      for (int rider = 0; rider < 2; ++rider) {
        uint8_t record[PACKED_STATE_SIZE];
        PackedBikeState s = synthetic(rider, tick);
        if (version == 4) {
          demo_state_to_v4_record(s, record);
        } else {
          std::memcpy(record, s.bytes, PACKED_STATE_SIZE);
        }
        bytes.append(reinterpret_cast<char*>(record), size);
      }
    }
    bytes.append(10, 'x');  // a cut last record
    history_clear_all();
    ASSERT_TRUE(demo_play_open_bytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), false));
    EXPECT_EQ(history_interpolation, version != 4);
    int32_t tick = 0;
    demo_read_ahead(&tick);
    EXPECT_EQ(ticks_in(1).back(), 8);
    int32_t c = demo_skip_seek(&tick, 20 * SIM_STEP);
    EXPECT_EQ(c, 19);
    EXPECT_EQ(ticks_in(1).front(), 19);
    HistorySample s;
    ASSERT_TRUE(history_sample(1, 21, &s));
    EXPECT_EQ(0, std::memcmp(s.state.bytes, synthetic(1, 21).bytes, 20)) << version;
    for (tick = 0; tick < 100; ++tick) demo_read_ahead(&tick);
    EXPECT_EQ(ticks_in(0).back(), 39);
    demo_play_close();
    EXPECT_TRUE(history_interpolation);
  }
}

TEST_F(Demo, TimeTrialShiftsDemoTicksOntoTheSession) {
  Builder b;
  b.block(1, 5000, Builder::entry(0, 4996) + Builder::entry(1, 5000));
  ASSERT_TRUE(demo_play_open_bytes(reinterpret_cast<const uint8_t*>(b.bytes.data()), b.bytes.size(), true));
  demo_play_map_rider(0, 1);
  demo_play_map_rider(1, 2);
  int32_t tick = 40000;
  demo_read_ahead(&tick);
  EXPECT_EQ(tick, 40000);
  EXPECT_EQ(ticks_in(1), std::vector<int32_t>{39996});
  EXPECT_EQ(ticks_in(2), std::vector<int32_t>{40000});
}

TEST(DemoKinds, RecordedBikes) {
  struct Case {
    SlotKind kind;
    bool connected, race_slot, recorded;
  };
  const Case cases[] = {
      {SLOT_LOCAL, false, false, true},  {SLOT_ROBOT, false, false, true}, {SLOT_REPLAY, false, false, false},
      {SLOT_LOCAL, true, true, true},    {SLOT_REPLAY, true, true, true},  {SLOT_LOCAL, true, false, false},
      {SLOT_REPLAY, true, false, true},  {SLOT_ROBOT, true, false, true},
  };
  for (const Case& c : cases) EXPECT_EQ(demo_records_kind(c.kind, c.connected, c.race_slot), c.recorded) << c.kind;
}

}  // namespace
