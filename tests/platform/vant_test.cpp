// Log file, option store, aliases, names, clock and VantVector.
#include "platform/vant.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace {

// The log opens once per process, so each log case runs in a forked child.
void run_in_child(const std::function<void()>& body) {
  EXPECT_EXIT(
      {
        body();
        exit(0);
      },
      testing::ExitedWithCode(0), "");
}

TEST(Log, TimePrefix) {
  struct Case {
    int32_t seconds, microseconds;
    const char* text;
  } cases[] = {
      {3725, 500000, "[1:02:05.50] "},
      {0, 0, "[0:00:00.00] "},
      {59, 999999, "[0:00:59.99] "},
      {360000, 10000, "[100:00:00.01] "},
  };
  for (const Case& c : cases) {
    char out[40];
    vant_log_prefix(out, sizeof out, c.seconds, c.microseconds);
    EXPECT_STREQ(out, c.text);
  }
}

TEST(Log, NothingWithoutPathOrRequest) {
  TempDir dir;
  std::string path = dir.file("log.txt");
  run_in_child([&] {
    unsetenv("VANT_LOGFILE");
    chdir(dir.path.c_str());
    vant_log("hello\n");
  });
  EXPECT_TRUE(std::filesystem::is_empty(dir.path));
}

TEST(Log, ConfigurationRequestOpensAndWritesHeader) {
  TempDir dir;
  std::string path = dir.file("lastlog.txt");
  run_in_child([&] {
    unsetenv("VANT_LOGFILE");
    unsetenv("VANT_LOGFILE_FLAGS");
    vant_log("VANT_LOGFILE=%s", path.c_str());
    vant_log("first\n");
    vant_log("\x13quiet\n");
    vant_log("VANT_LOGFILE=again\n");
  });
  std::string text = read_file_bytes(path);
  EXPECT_EQ(text.find("Logfile \"" + path + "\" opened\nVANT 0.31\n"), 0u);
  EXPECT_NE(text.find("] first\n"), std::string::npos);
  EXPECT_EQ(text.find("quiet"), std::string::npos);
  // A second request later on is ordinary text.
  EXPECT_NE(text.find("] VANT_LOGFILE=again\n"), std::string::npos);
}

TEST(Log, AppendAndFlagsOverride) {
  struct Case {
    const char* prefix;
    const char* flags;
    bool keeps_old;
  } cases[] = {{">>", nullptr, true}, {">>", "w", false}, {">", nullptr, false}, {"", "a", true}};
  for (const Case& c : cases) {
    TempDir dir;
    std::string path = dir.write("log.txt", "old line\n");
    run_in_child([&] {
      setenv("VANT_LOGFILE", (std::string(c.prefix) + path).c_str(), 1);
      if (c.flags)
        setenv("VANT_LOGFILE_FLAGS", c.flags, 1);
      else
        unsetenv("VANT_LOGFILE_FLAGS");
      vant_log("new line\n");
    });
    std::string text = read_file_bytes(path);
    EXPECT_EQ(text.find("old line\n") == 0, c.keeps_old) << c.prefix << " " << (c.flags ? c.flags : "");
    EXPECT_NE(text.find("] new line\n"), std::string::npos);
  }
}

TEST(Log, EnvironmentPathWinsOverRequestAndCloseIsFinal) {
  TempDir dir;
  std::string env_path = dir.file("env.txt");
  run_in_child([&] {
    setenv("VANT_LOGFILE", env_path.c_str(), 1);
    unsetenv("VANT_LOGFILE_FLAGS");
    vant_log("VANT_LOGFILE=%s", dir.file("asked.txt").c_str());
    vant_log("kept\n");
    vant_log(nullptr);
    vant_log("dropped\n");
  });
  EXPECT_FALSE(std::filesystem::exists(dir.file("asked.txt")));
  std::string text = read_file_bytes(env_path);
  EXPECT_NE(text.find("kept"), std::string::npos);
  EXPECT_EQ(text.find("dropped"), std::string::npos);
}

TEST(Options, ReadsGroups) {
  vant_option_set_text("[threaded:on][sound-rate:44100][dsnd:no][waveout:off][dinput:yes][x: -12junk");
  EXPECT_EQ(vant_option_bool("threaded", 0), 1);
  EXPECT_EQ(vant_option_int("sound-rate", 22050), 44100);
  EXPECT_EQ(vant_option_int("sound-channels", 16), 16);
  EXPECT_EQ(vant_option_bool("dsnd", 1), 0);
  EXPECT_EQ(vant_option_bool("waveout", 1), 0);
  EXPECT_EQ(vant_option_bool("dinput", 0), 1);
  EXPECT_EQ(vant_option_int("x", 5), -12);  // no closing bracket needed
}

TEST(Options, UnrecognisedValueLogsOncePerQuery) {
  TempDir dir;
  std::string path = dir.file("log.txt");
  run_in_child([&] {
    setenv("VANT_LOGFILE", path.c_str(), 1);
    unsetenv("VANT_LOGFILE_FLAGS");
    vant_option_set_text("[threaded:maybe][sound-rate:fast]");
    if (vant_option_bool("threaded", 0) != 0) exit(2);
    if (vant_option_bool("threaded", 1) != 1) exit(3);
    if (vant_option_int("sound-rate", 22050) != 22050) exit(4);
  });
  std::string text = read_file_bytes(path);
  size_t first = text.find("unrecognized setting for threaded\n");
  ASSERT_NE(first, std::string::npos);
  EXPECT_NE(text.find("unrecognized setting for threaded\n", first + 1), std::string::npos);
  EXPECT_NE(text.find("unrecognized setting for sound-rate\n"), std::string::npos);
}

TEST(Options, LongNamesMatchOnFirstSixtyCharacters) {
  std::string name(60, 'n');
  vant_option_set_text(("[" + name + ":yes]").c_str());
  EXPECT_EQ(vant_option_bool((name + "tail").c_str(), 0), 1);
}

TEST(Aliases, FirstWinsOneLevel) {
  EXPECT_EQ(vant_alias_add("alias_a", "alias_b"), 1);
  EXPECT_EQ(vant_alias_add("alias_b", "alias_c"), 1);
  EXPECT_EQ(vant_alias_add("alias_a", "other"), 0);
  EXPECT_STREQ(vant_alias_lookup("alias_a"), "alias_b");
  const char* unknown = "unaliased";
  EXPECT_EQ(vant_alias_lookup(unknown), unknown);
}

TEST(Names, InternAndCompare) {
  std::string a = "Left Shift", b = "Left Shift";
  EXPECT_EQ(vant_intern(a.c_str()), vant_intern(b.c_str()));
  EXPECT_NE(vant_intern("x"), vant_intern("y"));
  EXPECT_EQ(vant_name_compare("left_shift", "Left Shift"), 0);
  EXPECT_EQ(vant_name_compare("a\tb", "A_B"), 0);
  EXPECT_LT(vant_name_compare("abc", "abd"), 0);
  EXPECT_GT(vant_name_compare("abcd", "abc"), 0);
}

TEST(Clock, SleepWaitsAtLeastTheTime) {
  int32_t s0, us0, s1, us1;
  vant_time_now(&s0, &us0);
  vant_sleep(0, 20000);
  vant_time_now(&s1, &us1);
  int64_t elapsed = (s1 - s0) * 1000000LL + (us1 - us0);
  EXPECT_GE(elapsed, 20000);
  EXPECT_GE(us1, 0);
  EXPECT_LT(us1, 1000000);
}

TEST(Vector, AppendsCopiesAndZeroes) {
  VantVector v;
  vant_vector_init(&v, sizeof(int));
  for (int i = 0; i < 100; i++) ASSERT_EQ(vant_vector_append(&v, &i), 1);
  ASSERT_EQ(vant_vector_append(&v, nullptr), 1);
  EXPECT_EQ(v.count, 101u);
  EXPECT_GE(v.capacity, v.count);
  const int* data = static_cast<const int*>(v.data);
  EXPECT_EQ(data[57], 57);
  EXPECT_EQ(data[100], 0);
  vant_vector_free(&v);
}

}  // namespace
