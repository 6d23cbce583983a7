// Opening, reading, formatted reading and writing through the virtual file system.
#include "files/vfs.h"

#include <filesystem>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "files/memory.h"
#include "tests/files/vfs_support.h"

namespace {

TEST(PathJoin, SeparatorsBecomeSingleSlashes) {
  struct Case {
    const char* a;
    const char* b;
    const char* joined;
  } cases[] = {
      {"dir/", "/name", "dir/name"},
      {"c:\\games\\\\sk", "\\data//x", "c:/games/sk/data/x"},
      {"", "", ""},
      {"a", "b", "ab"},
      {"//", "//", "/"},
  };
  for (const Case& c : cases) {
    char* joined = path_join(c.a, c.b);
    ASSERT_NE(joined, nullptr);
    EXPECT_STREQ(joined, c.joined) << c.a << " + " << c.b;
    mem_free(joined);
  }
  EXPECT_EQ(path_join(nullptr, "x"), nullptr);
  EXPECT_EQ(path_join("x", nullptr), nullptr);
}

// The search list built from the environment: home folder, then SK_HOME or the program's own.
TEST(VfsSearchDirs, FromEnvironment) {
  std::string program = std::filesystem::read_symlink("/proc/self/exe").parent_path().string() + "/";
  struct Case {
    const char* xdg_data_home;  // null: unset
    const char* home;
    const char* sk_home;
    std::vector<std::string> dirs;
  } cases[] = {
      {"/x", "/h", "/s", {"/x/Skorvan/", "/s/"}},
      {nullptr, "/h", nullptr, {"/h/.local/share/Skorvan/", program}},
      {"relative", "/h/", "/s//", {"/h/.local/share/Skorvan/", "/s/"}},
      {nullptr, nullptr, "/s", {"/s/"}},
      {"/x", nullptr, "", {"/x/Skorvan/", program}},
  };
  const char* names[] = {"XDG_DATA_HOME", "HOME", "SK_HOME"};
  std::string saved[3];
  bool was_set[3];
  for (int i = 0; i < 3; i++) {
    was_set[i] = getenv(names[i]) != nullptr;
    if (was_set[i]) saved[i] = getenv(names[i]);
  }
  for (const Case& c : cases) {
    const char* values[] = {c.xdg_data_home, c.home, c.sk_home};
    for (int i = 0; i < 3; i++) {
      if (values[i]) setenv(names[i], values[i], 1);
      else unsetenv(names[i]);
    }
    vfs_shutdown();
    std::vector<std::string> dirs;
    for (int i = 0; vfs_search_dir(i); i++) dirs.push_back(vfs_search_dir(i));
    EXPECT_EQ(dirs, c.dirs) << (c.xdg_data_home ? c.xdg_data_home : "-") << " " << (c.home ? c.home : "-");
  }
  for (int i = 0; i < 3; i++) {
    if (was_set[i]) setenv(names[i], saved[i].c_str(), 1);
    else unsetenv(names[i]);
  }
  vfs_shutdown();
}

using VfsOpen = VfsTest;

TEST_F(VfsOpen, DataNamesSearchDirectoriesInOrder) {
  root.write("data/only-data", "data");
  root.write("data/both", "from data");
  root.write("home/both", "from home");
  EXPECT_EQ(vfs_slurp("@only-data"), "data");
  EXPECT_EQ(vfs_slurp("@both"), "from home");
  EXPECT_EQ(vfs_slurp("@missing"), "<none>");
  // A name without "@" is a path, not a data name.
  EXPECT_EQ(vfs_slurp("both"), "<none>");
  EXPECT_EQ(vfs_slurp(root.file("data/both").c_str()), "from data");
  // A directory is not a file to read.
  std::filesystem::create_directories(root.file("home/folder"));
  EXPECT_EQ(vfs_slurp("@folder"), "<none>");
}

TEST_F(VfsOpen, SearchListEndsAfterGivenDirectories) {
  EXPECT_EQ(std::string(vfs_search_dir(0)), home + "/");
  EXPECT_EQ(std::string(vfs_search_dir(1)), data + "/");
  EXPECT_EQ(vfs_search_dir(2), nullptr);
  EXPECT_EQ(vfs_search_dir(-1), nullptr);
}

TEST_F(VfsOpen, OverlongDataNameFailsRatherThanOpeningATruncatedName) {
  // Truncated to the name buffer, the longer name would be this one, which exists.
  std::string stem;
  while (home.size() + 1 + stem.size() < size_t(VFS_NAME_MAX)) stem += stem.size() % 100 == 99 ? '/' : 'a';
  root.write("home/" + stem, "wrong file");
  EXPECT_EQ(vfs_slurp(("@" + stem).c_str()), "wrong file");
  EXPECT_EQ(vfs_slurp(("@" + stem + "bbbb").c_str()), "<none>");
}

TEST_F(VfsOpen, WritingDataNameCreatesHomeChainAndWritesThere) {
  root.write("data/setups/bike", "shipped");
  VfsFile* file = vfs_open("@setups/bike", "wb");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(vfs_printf(file, "value=%d\n", 7), 8);
  EXPECT_EQ(vfs_putc(file, 'x'), 1);
  EXPECT_EQ(vfs_puts(file, "yz"), 0);
  EXPECT_EQ(vfs_write(file, "!!", 2), 2);
  EXPECT_EQ(vfs_flush(file), 0);
  vfs_close(file);
  EXPECT_EQ(read_file_bytes(root.file("home/setups/bike")), "value=7\nxyz!!");
  EXPECT_EQ(read_file_bytes(root.file("data/setups/bike")), "shipped");
  EXPECT_EQ(vfs_slurp("@setups/bike"), "value=7\nxyz!!");
}

TEST_F(VfsOpen, BackupModeKeepsNumberedCopies) {
  for (const char* contents : {"first", "second", "third"}) {
    VfsFile* file = vfs_open("@demo", "~wb");
    ASSERT_NE(file, nullptr);
    vfs_puts(file, contents);
    vfs_close(file);
  }
  EXPECT_EQ(read_file_bytes(root.file("home/demo")), "third");
  EXPECT_EQ(read_file_bytes(root.file("home/demo.~1~")), "first");
  EXPECT_EQ(read_file_bytes(root.file("home/demo.~2~")), "second");
  EXPECT_FALSE(std::filesystem::exists(root.file("home/demo.~3~")));
  // A first write in backup mode has nothing to keep.
  VfsFile* file = vfs_open("@fresh", "~wb");
  ASSERT_NE(file, nullptr);
  vfs_close(file);
  EXPECT_FALSE(std::filesystem::exists(root.file("home/fresh.~1~")));
}

TEST_F(VfsOpen, RenameMapsDataNamesToHome) {
  root.write("home/demo.new", "new");
  root.write("home/demo", "old");
  EXPECT_EQ(vfs_rename("@demo.new", "@demo"), 1);
  EXPECT_EQ(read_file_bytes(root.file("home/demo")), "new");
  EXPECT_FALSE(std::filesystem::exists(root.file("home/demo.new")));
  // A failed rename leaves the target alone.
  EXPECT_EQ(vfs_rename("@demo.new", "@demo"), 0);
  EXPECT_EQ(read_file_bytes(root.file("home/demo")), "new");
  std::string plain_target = root.file("moved");
  EXPECT_EQ(vfs_rename("@demo", plain_target.c_str()), 1);
  EXPECT_EQ(read_file_bytes(plain_target), "new");
  EXPECT_EQ(vfs_rename(("@" + std::string(600, 'x')).c_str(), "@y"), 0);
}

using VfsRead = VfsTest;

TEST_F(VfsRead, PeekThenGetAndLines) {
  root.write("data/lines", "ab\ncd\n\nlast");
  VfsFile* file = vfs_open("@lines", "rb");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(vfs_peekc(file), 'a');
  EXPECT_EQ(vfs_peekc(file), 'a');
  EXPECT_EQ(vfs_getc(file), 'a');
  char line[16];
  EXPECT_STREQ(vfs_gets(file, line, sizeof line), "b\n");
  // n bounds the bytes: 2 bytes and the terminator.
  EXPECT_STREQ(vfs_gets(file, line, 3), "cd");
  EXPECT_STREQ(vfs_gets(file, line, sizeof line), "\n");
  EXPECT_STREQ(vfs_gets(file, line, sizeof line), "\n");
  EXPECT_STREQ(vfs_gets(file, line, sizeof line), "last");
  EXPECT_EQ(vfs_gets(file, line, sizeof line), nullptr);
  EXPECT_EQ(vfs_getc(file), -1);
  EXPECT_EQ(vfs_peekc(file), -1);
  vfs_close(file);
}

TEST_F(VfsRead, BlockReadAfterPeekNeverExceedsCount) {
  root.write("data/bytes", "0123456789");
  VfsFile* file = vfs_open("@bytes", "rb");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(vfs_peekc(file), '0');
  char buffer[5] = {0, 0, 0, 0, 'G'};
  EXPECT_EQ(vfs_read(file, buffer, 4), 4);
  EXPECT_EQ(std::string(buffer, 5), "0123G");
  EXPECT_EQ(vfs_read(file, buffer, 4), 4);
  EXPECT_EQ(std::string(buffer, 4), "4567");
  EXPECT_EQ(vfs_read(file, buffer, 4), 2);
  EXPECT_EQ(vfs_read(file, buffer, 4), 0);
  vfs_close(file);
}

TEST_F(VfsRead, SeekOnPlainData) {
  root.write("data/bytes", "0123456789");
  VfsFile* file = vfs_open("@bytes", "rb");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(vfs_peekc(file), '0');
  EXPECT_EQ(vfs_seek(file, 7), 1);
  EXPECT_EQ(vfs_getc(file), '7');
  EXPECT_EQ(vfs_seek(file, -1), 0);
  EXPECT_EQ(vfs_seek(file, 2), 1);
  EXPECT_EQ(vfs_getc(file), '2');
  vfs_close(file);
}

// One conversion of vfs_scanf: the input, the format, and what lands in the target.
TEST_F(VfsRead, ScanfConversions) {
  struct Case {
    const char* input;
    const char* format;
    int result;
    std::string value;  // the target printed back; "" when nothing was assigned
  };
  const Case cases[] = {
      {"  -42 rest", "%d", 1, "-42"},
      {"+17", "%d", 1, "17"},
      {"0x1f", "%i", 1, "31"},
      {"017", "%i", 1, "15"},
      {"-0X10", "%i", 1, "-16"},
      {"777", "%o", 1, "511"},
      {"ff", "%x", 1, "255"},
      {"0XfF", "%X", 1, "255"},
      {"12345", "%3d", 1, "123"},
      {"4294967297", "%d", 1, "1"},  // wraps to 32 bits
      {"abc", "%d", 0, ""},
      {"", "%d", -1, ""},
      {"   ", "%d", -1, ""},
      {"-", "%d", -1, ""},
      {"3.25", "%f", 1, "3.25"},
      {"-1.5e3", "%f", 1, "-1500"},
      {".5", "%f", 1, "0.5"},
      {"7.", "%f", 1, "7"},
      {"2E-2x", "%f", 1, "0.02"},
      {"1.5e", "%f", 1, "1.5"},
      {"0x10", "%f", 1, "0"},  // decimal only: stops at "x"
      {"inf", "%f", 0, ""},
      {"1e999", "%f", 1, "inf"},
      {"1e-999", "%f", 1, "0"},
      {"  word next", "%s", 1, "word"},
      {"abcdef", "%3s", 1, "abc"},
      {" xy", "%c", 1, " "},
      {"xyz", "%2c", 1, "xy"},
      {"abc]d", "%[]a-c]", 1, "abc]"},
      {"key=value", "%[^=]", 1, "key"},
      {"=value", "%[^=]", 0, ""},
      {"abc", "abd%d", -1, ""},
      {"5%x", "%d%%x", 1, "5"},
      {"9", "%u", 0, ""},  // not a known conversion: the call ends
      {"9 8", "%*d %d", 1, "8"},
  };
  for (const Case& c : cases) {
    root.write("data/scan", c.input);
    VfsFile* file = vfs_open("@scan", "rb");
    ASSERT_NE(file, nullptr);
    std::string format = c.format;
    char text[64] = {};
    std::string value;
    int result;
    char kind = format[format.size() - 1];
    if (format.find('[') != std::string::npos) kind = '[';
    if (format.find("%*d") != std::string::npos || format == "abd%d" || format == "%d%%x") kind = 'd';
    if (kind == 'd' || kind == 'i' || kind == 'o' || kind == 'x' || kind == 'X' || kind == 'u') {
      int32_t n = -999;
      result = vfs_scanf(file, c.format, &n);
      if (n != -999) value = std::to_string(n);
    } else if (kind == 'f') {
      float f = -999;
      result = vfs_scanf(file, c.format, &f);
      if (f != -999) {
        char printed[32];
        snprintf(printed, sizeof printed, "%g", double(f));
        value = printed;
      }
    } else {
      result = vfs_scanf(file, c.format, text);
      value = text;
    }
    EXPECT_EQ(result, c.result) << c.input << " with " << c.format;
    EXPECT_EQ(value, c.value) << c.input << " with " << c.format;
    vfs_close(file);
  }
}

TEST_F(VfsRead, ScanfTargetSizesAndCount) {
  root.write("data/scan", "-2 70000 1.25 2.5 3.75 123456789012 65537 tail");
  VfsFile* file = vfs_open("@scan", "rb");
  ASSERT_NE(file, nullptr);
  int16_t small = 0;
  int32_t plain = 0, consumed = -1;
  float single = 0;
  double wide = 0;
  long double extended = 0;
  int64_t big = 0;
  int16_t wrapped = 0;
  EXPECT_EQ(vfs_scanf(file, "%hd %ld %f %lf %Lf %lld %hd%n", &small, &plain, &single, &wide,
                      &extended, &big, &wrapped, &consumed),
            7);
  EXPECT_EQ(small, -2);
  EXPECT_EQ(plain, 70000);
  EXPECT_EQ(single, 1.25f);
  EXPECT_EQ(wide, 2.5);
  EXPECT_EQ(extended, 3.75L);
  EXPECT_EQ(big, 123456789012LL);
  EXPECT_EQ(wrapped, 1);
  EXPECT_EQ(consumed, 41);
  char word[8];
  EXPECT_EQ(vfs_scanf(file, "%s", word), 1);
  EXPECT_STREQ(word, "tail");
  EXPECT_EQ(vfs_scanf(file, "%s", word), -1);
  vfs_close(file);
}

TEST_F(VfsRead, ScanfHonoursPeekedByteAndLeavesTheStopByte) {
  root.write("data/scan", "123,456\nnext");
  VfsFile* file = vfs_open("@scan", "rb");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(vfs_peekc(file), '1');
  int32_t a = 0, b = 0;
  EXPECT_EQ(vfs_scanf(file, "%d", &a), 1);
  EXPECT_EQ(a, 123);
  EXPECT_EQ(vfs_getc(file), ',');
  EXPECT_EQ(vfs_scanf(file, "%d", &b), 1);
  EXPECT_EQ(b, 456);
  char line[16];
  EXPECT_STREQ(vfs_gets(file, line, sizeof line), "\n");
  EXPECT_STREQ(vfs_gets(file, line, sizeof line), "next");
  vfs_close(file);
}

TEST_F(VfsRead, ScanfDefaultWidthStopsAtOneMillionBytes) {
  std::string digits(VFS_SCAN_WIDTH + 5, '7');
  root.write("data/long", digits + " " + std::string(VFS_SCAN_WIDTH + 3, 'w'));
  VfsFile* file = vfs_open("@long", "rb");
  ASSERT_NE(file, nullptr);
  int32_t n = 0, consumed = 0;
  EXPECT_EQ(vfs_scanf(file, "%d%n", &n, &consumed), 1);
  EXPECT_EQ(consumed, VFS_SCAN_WIDTH);
  EXPECT_EQ(vfs_scanf(file, "%d", &n), 1);  // the five digits left over
  EXPECT_EQ(n, 77777);
  std::string word(VFS_SCAN_WIDTH + 1, '\0');
  EXPECT_EQ(vfs_scanf(file, "%s", word.data()), 1);
  EXPECT_EQ(strlen(word.c_str()), size_t(VFS_SCAN_WIDTH));
  float f = 0;
  EXPECT_EQ(vfs_scanf(file, "%f", &f), 0);  // "www" is no number
  vfs_close(file);
  // A float with a million digits still converts to its magnitude.
  root.write("data/long", "0." + std::string(VFS_SCAN_WIDTH - 10, '0') + "1e999990 " +
                              "3" + std::string(1000, '0') + "e-1000");
  file = vfs_open("@long", "rb");
  ASSERT_NE(file, nullptr);
  double tiny = 0, three = 0;
  EXPECT_EQ(vfs_scanf(file, "%lf %lf", &tiny, &three), 2);
  EXPECT_DOUBLE_EQ(tiny, 0.1);
  EXPECT_DOUBLE_EQ(three, 3.0);
  vfs_close(file);
}

}  // namespace
