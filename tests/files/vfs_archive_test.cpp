// The file index over loose files and .saf archives: precedence, member bounds, rejected
// headers, the packer and the start-up data check.
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "files/digest.h"
#include "files/saf.h"
#include "tests/files/vfs_support.h"

namespace {

using VfsArchive = VfsTest;

// Packs the files of a fresh folder into data/<archive> with the packer.
void pack(const TempDir& root, const std::string& archive,
          const std::vector<std::pair<std::string, std::string>>& files) {
  std::string folder = root.file("pack-" + archive);
  for (const auto& [name, bytes] : files) root.write("pack-" + archive + "/" + name, bytes);
  ASSERT_EQ(saf_pack_directory(folder.c_str(), root.file("data/" + archive).c_str()), 1);
}

std::vector<std::string> file_list() {
  std::vector<std::string> names;
  for (const char* const* name = vfs_file_list(); *name; name++) names.push_back(*name);
  return names;
}

TEST_F(VfsArchive, PackerWritesSortedHeaderAndDataAndIsRepeatable) {
  root.write("tree/b.txt", "xy");
  root.write("tree/a/c", "123");
  root.write("tree/a/empty", "");
  std::string first = root.file("first.saf"), second = root.file("second.saf");
  ASSERT_EQ(saf_pack_directory(root.file("tree").c_str(), first.c_str()), 1);
  EXPECT_EQ(read_file_bytes(first), "3 a/c\n0 a/empty\n2 b.txt\n-\n123xy");
  ASSERT_EQ(saf_pack_directory(root.file("tree").c_str(), second.c_str()), 1);
  EXPECT_EQ(read_file_bytes(first), read_file_bytes(second));
  // An archive written inside the folder it packs does not swallow itself.
  std::string inside = root.file("tree/self.saf");
  ASSERT_EQ(saf_pack_directory(root.file("tree").c_str(), inside.c_str()), 1);
  ASSERT_EQ(saf_pack_directory(root.file("tree").c_str(), inside.c_str()), 1);
  EXPECT_EQ(read_file_bytes(inside), read_file_bytes(first));
  EXPECT_EQ(saf_pack_directory(root.file("absent").c_str(), second.c_str()), 0);
}

TEST_F(VfsArchive, PackToolRoundTrips) {
  root.write("tree/track/terrain.hf", "heights");
  std::string tool = std::string(SK_TEST_BIN_DIR) + "/skorvan-pack";
  std::string archive = root.file("data/tracks.saf");
  ASSERT_EQ(system((tool + " '" + root.file("tree") + "' '" + archive + "'").c_str()), 0);
  std::string scrambled = root.file("data/plain.scram");
  std::string back = root.file("back");
  root.write("plain", "seventeen bytes!!");
  ASSERT_EQ(system((tool + " --scram '" + root.file("plain") + "' '" + scrambled + "'").c_str()), 0);
  ASSERT_EQ(system((tool + " --unscram '" + scrambled + "' '" + back + "'").c_str()), 0);
  EXPECT_EQ(read_file_bytes(back), "seventeen bytes!!");
  EXPECT_NE(system((tool + " --unscram '" + archive + "' '" + back + "' 2>/dev/null").c_str()), 0);
  vfs_file_list();
  EXPECT_EQ(vfs_slurp("@track/terrain.hf"), "heights");
  EXPECT_EQ(vfs_slurp("@plain"), "seventeen bytes!!");
}

TEST_F(VfsArchive, MembersAreFoundOnlyOnceTheIndexExists) {
  pack(root, "pack.saf", {{"inside", "member"}});
  EXPECT_EQ(vfs_slurp("@inside"), "<none>");
  vfs_file_list();
  EXPECT_EQ(vfs_slurp("@inside"), "member");
  EXPECT_EQ(vfs_slurp("@INSIDE"), "member");
  // Writing never goes into an archive.
  EXPECT_EQ(vfs_open("@inside", "r+b"), nullptr);
}

TEST_F(VfsArchive, LooseFileShadowsMember) {
  pack(root, "pack.saf", {{"Name", "member"}, {"other", "other member"}});
  root.write("data/name", "loose");
  std::vector<std::string> names = file_list();
  EXPECT_EQ(names, (std::vector<std::string>{"name", "other", "pack.saf"}));
  // "@NAME" is not a loose path on a case-sensitive disk, so the index decides.
  EXPECT_EQ(vfs_slurp("@NAME"), "loose");
  EXPECT_EQ(vfs_slurp("@other"), "other member");
}

TEST_F(VfsArchive, ArchiveSortingFirstWinsEvenAsVariant) {
  pack(root, "zzzz.saf", {{"track/t", "from base"}, {"both", "plain"}, {"both.gz", "not gzip"}});
  pack(root, "addon.saf", {{"track/t.gz", gzip_tool(root, "from addon", "-n")}});
  vfs_file_list();
  EXPECT_EQ(vfs_slurp("@track/t"), "from addon");
  // Same archive: plain beats ".gz".
  EXPECT_EQ(vfs_slurp("@both"), "plain");
}

TEST_F(VfsArchive, MemberDataEndsAtItsStoredSize) {
  pack(root, "pack.saf", {{"a", "line1\nline2"}, {"b", "NEXT MEMBER"}});
  vfs_file_list();
  VfsFile* file = vfs_open("@a", "rb");
  ASSERT_NE(file, nullptr);
  char line[64];
  EXPECT_STREQ(vfs_gets(file, line, sizeof line), "line1\n");
  EXPECT_STREQ(vfs_gets(file, line, sizeof line), "line2");
  EXPECT_EQ(vfs_gets(file, line, sizeof line), nullptr);
  EXPECT_EQ(vfs_getc(file), -1);
  EXPECT_EQ(vfs_seek(file, 11), 0);
  ASSERT_EQ(vfs_seek(file, 6), 1);
  EXPECT_EQ(vfs_read(file, line, sizeof line), 5);
  vfs_close(file);
}

TEST_F(VfsArchive, StoredLayersNeverReadIntoTheNextMember) {
  // A deflate stream cut at a flush point, with its rest as the next member: without the
  // compressed-input limit the first member would inflate the second's bytes too.
  std::string text(3000, 'q');
  z_stream z = {};
  deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::string head(8192, '\0'), tail(8192, '\0');
  z.next_in = reinterpret_cast<Bytef*>(text.data());
  z.avail_in = 1000;
  z.next_out = reinterpret_cast<Bytef*>(head.data());
  z.avail_out = unsigned(head.size());
  deflate(&z, Z_SYNC_FLUSH);
  head.resize(z.total_out);
  z.avail_in = 2000;
  z.next_out = reinterpret_cast<Bytef*>(tail.data());
  z.avail_out = unsigned(tail.size());
  deflate(&z, Z_FINISH);
  tail.resize(z.total_out - head.size());
  deflateEnd(&z);
  std::string header = {char(31), char(139), char(8), 0, 0, 0, 0, 0, 0, 3};
  // A scrambled member whose header promises more plain bytes than the member holds.
  std::string scrambled = scramble_bytes(root, std::string(100, 's'));
  pack(root, "pack.saf",
       {{"a.gz", header + head}, {"b", tail}, {"c.scram", scrambled.substr(0, 64 + 32)}, {"d", scrambled}});
  vfs_file_list();
  EXPECT_EQ(vfs_slurp("@a"), std::string(1000, 'q'));
  EXPECT_EQ(vfs_slurp("@c"), std::string(32, 's'));
}

TEST_F(VfsArchive, MalformedHeadersRejectTheWholeArchive) {
  struct Case {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"no end line", "3 bad\nabc"},
      {"last line without newline", "3 bad\n-"},
      {"line too long", "3 bad" + std::string(1100, 'x') + "\n-\nabc"},
      {"not a number", "3 bad\nx bad2\n-\nabc"},
      {"negative size", "-3 bad\n3 bad2\n-\nabc"},
      {"size past the end", "3 bad\n99 bad2\n-\nabc"},
      {"size overflows", "3 bad\n99999999999999999999 bad2\n-\nabc"},
      {"zero byte in a line", std::string("1 bad\0x\n-\nz", 11)},
      {"members longer than the file", "1 bad\n1 bad2\n1 bad3\n-\nab"},
      {"empty file", ""},
  };
  root.write("data/good.saf", "1 ok\n-\nY");
  for (const Case& c : cases) {
    root.write("data/bad.saf", c.bytes);
    EXPECT_EQ(file_list(), (std::vector<std::string>{"bad.saf", "good.saf", "ok"})) << c.what;
    EXPECT_EQ(vfs_slurp("@ok"), "Y") << c.what;
    EXPECT_EQ(vfs_slurp("@bad"), "<none>") << c.what;
    const char* dirs[] = {home.c_str(), data.c_str()};
    vfs_set_search_dirs(dirs, 2);
  }
}

TEST_F(VfsArchive, OddButSoundHeaders) {
  root.write("data/odd.saf", std::string("0 empty\n2 a//b\n") + "3\n" + "2\tc d\n-\nhi" + "xyz" + "cd");
  vfs_file_list();
  EXPECT_EQ(vfs_slurp("@empty"), "");
  EXPECT_EQ(vfs_slurp("@a/b"), "hi");
  EXPECT_EQ(vfs_slurp("@c d"), "cd");
}

TEST_F(VfsArchive, DescribeEntry) {
  root.write("data/loose", "x");
  pack(root, "pack.saf", {{"member", "y"}});
  char text[256];
  EXPECT_EQ(vfs_describe_entry(0, text, sizeof text), 0);
  vfs_file_list();
  ASSERT_EQ(vfs_describe_entry(0, text, sizeof text), 1);
  EXPECT_EQ(std::string(text), "loose -> " + data + "/loose");
  ASSERT_EQ(vfs_describe_entry(1, text, sizeof text), 1);
  EXPECT_EQ(std::string(text), "member -> " + data + "/pack.saf");
  ASSERT_EQ(vfs_describe_entry(1, text, 5), 1);
  EXPECT_STREQ(text, "memb");
  EXPECT_EQ(vfs_describe_entry(3, text, sizeof text), 0);
  EXPECT_EQ(vfs_describe_entry(-1, text, sizeof text), 0);
}

TEST_F(VfsArchive, LinkLoopsInSearchDirectoriesEnd) {
  root.write("data/sub/file", "x");
  std::filesystem::create_directory_symlink(root.file("data"), root.file("data/sub/up"));
  EXPECT_EQ(file_list(), (std::vector<std::string>{"sub/file"}));
}

TEST_F(VfsArchive, FindGameDataChecksFirstMebibyteOfBaseArchive) {
  std::string base = "1 a\n-\nA" + std::string(1048576, 'p');
  Digest digest;
  digest_init(&digest);
  digest_update(&digest, base.data(), 1048576);
  char hex[41];
  digest_to_hex(digest_final(&digest), hex);
  // Bytes past the first MiB do not count.
  root.write("data/zzzz.saf", base + "more");
  EXPECT_EQ(vfs_find_game_data(hex), 1);
  EXPECT_TRUE(std::filesystem::is_directory(home));
  EXPECT_EQ(vfs_find_game_data("0000000000000000000000000000000000000000"), 0);
  root.write("data/zzzz.saf", "-\n");
  EXPECT_EQ(vfs_find_game_data(hex), 0);
}

TEST_F(VfsArchive, OpenHomeCreatesChainAndRunsTheOpener) {
  std::string nested = root.file("deep/er/home");
  const char* dirs[] = {nested.c_str()};
  vfs_set_search_dirs(dirs, 1);
  std::string bin = root.file("bin");
  root.write("bin/xdg-open", "#!/bin/sh\necho \"$1\" > '" + bin + "/opened'\n");
  chmod((bin + "/xdg-open").c_str(), 0755);
  std::string old_path = getenv("PATH") ? getenv("PATH") : "";
  setenv("PATH", bin.c_str(), 1);
  int result = vfs_open_home();
  setenv("PATH", old_path.c_str(), 1);
  EXPECT_EQ(result, 1);
  EXPECT_TRUE(std::filesystem::is_directory(nested));
  EXPECT_EQ(read_file_bytes(bin + "/opened"), nested + "\n");
}

}  // namespace
