// Compressed and scrambled variants: every stored form reads back the same bytes and the
// same conversions; broken headers and streams end cleanly.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "files/saf.h"
#include "tests/files/vfs_support.h"

namespace {

using VfsVariant = VfsTest;

// Text of numbers and words, long enough for several inflate buffers and input chunks.
std::string sample_text() {
  std::string text = "12 -3.5e2 word\nline two\n0x1F 017 key=value]x\n";
  uint32_t state = 12345;
  char line[96];
  for (int i = 0; i < 3000; i++) {
    state = state * 1103515245u + 12345u;
    snprintf(line, sizeof line, "%d %.4f tok%u\n", int(state % 100000) - 50000,
             double(state % 77777) / 7.0, state >> 20);
    text += line;
  }
  return text + "last line without newline";
}

// Reads a file with every kind of read mixed, and writes down what each returned.
std::string transcript(const char* name) {
  VfsFile* file = vfs_open(name, "rb");
  if (!file) return "<none>";
  std::string out;
  char text[64], line[40];
  int32_t a = 0, b = 0, c = 0;
  float f = 0;
  out += std::to_string(vfs_peekc(file)) + " " + std::to_string(vfs_peekc(file)) + "\n";
  int n = vfs_scanf(file, "%d %f %s", &a, &f, text);
  char summary[128];
  snprintf(summary, sizeof summary, "%d: %d %g %s\n", n, a, double(f), text);
  out += summary;
  out += std::string(vfs_gets(file, line, sizeof line)) + "|";
  out += std::to_string(vfs_getc(file)) + "|";
  out += std::string(vfs_gets(file, line, 4)) + "|";
  out += std::string(vfs_gets(file, line, sizeof line)) + "|";
  n = vfs_scanf(file, "%i %i %[^=]=%[^]]%c", &a, &b, text, line, text + 32);
  snprintf(text + 40, 24, "%d: %d %d %c\n", n, a, b, text[32]);
  out += std::string(text) + " " + line + " " + (text + 40);
  // Then alternating small block reads, formatted reads and single bytes to the end.
  char block[700];
  for (int round = 0;; round++) {
    int got = vfs_read(file, block, 1 + round % 700);
    out.append(block, size_t(got));
    if (got == 0) break;
    if (vfs_scanf(file, "%d %f", &c, &f) == 2) out += "<" + std::to_string(c) + ">";
    int byte = vfs_getc(file);
    if (byte >= 0) out += char(byte);
  }
  vfs_close(file);
  return out;
}

TEST_F(VfsVariant, EveryStoredFormReadsTheSame) {
  std::string text = sample_text();
  std::string gz = gzip_tool(root, text, "-n");
  struct Form {
    const char* file;  // stored name under data/, or in an archive when it ends in "@"
    std::string bytes;
  } forms[] = {
      {"plain", text},
      {"gz.gz", gz},
      {"gz-named.gz", gzip_tool(root, text, "-N")},
      {"gz-fields.gz", gzip_with_fields(text)},
      {"scram.scram", scramble_bytes(root, text)},
      {"both.gz.scram", scramble_bytes(root, gz)},
  };
  std::vector<SafSource> members;
  for (const Form& form : forms) {
    root.write(std::string("data/") + form.file, form.bytes);
    members.push_back({std::string("member-") + form.file, root.file(std::string("data/") + form.file)});
  }
  ASSERT_EQ(saf_write(root.file("data/pack.saf").c_str(), members), 1);
  vfs_file_list();
  std::string expected = transcript("@plain");
  ASSERT_NE(expected.find("3: 12 -350 word\n"), std::string::npos) << expected.substr(0, 200);
  ASSERT_NE(expected.find("key value 5: 31 15 ]\n"), std::string::npos) << expected.substr(0, 200);
  ASSERT_NE(expected.find("without newline"), std::string::npos);
  for (const Form& form : forms) {
    std::string stem = form.file;
    stem = stem.substr(0, stem.find('.') == std::string::npos ? stem.size() : stem.find('.'));
    EXPECT_EQ(transcript(("@" + stem).c_str()), expected) << form.file;
    EXPECT_EQ(transcript(("@member-" + stem).c_str()), expected) << form.file;
    EXPECT_EQ(vfs_slurp(("@member-" + stem).c_str()), text) << form.file;
  }
}

TEST_F(VfsVariant, SeekOnlyOnPlainData) {
  root.write("data/z.gz", gzip_tool(root, "0123456789", "-n"));
  root.write("data/s.scram", scramble_bytes(root, "0123456789"));
  for (const char* name : {"@z", "@s"}) {
    VfsFile* file = vfs_open(name, "rb");
    ASSERT_NE(file, nullptr) << name;
    EXPECT_EQ(vfs_seek(file, 1), 0) << name;
    EXPECT_EQ(vfs_getc(file), '0') << name;
    vfs_close(file);
  }
}

TEST_F(VfsVariant, BadGzipHeadersFailTheOpenWithoutFallingThrough) {
  std::string good = gzip_tool(root, "payload", "-n");
  auto with_byte = [&](size_t at, char value) {
    std::string bytes = good;
    bytes[at] = value;
    return bytes;
  };
  std::string long_name = good.substr(0, 3) + char(8) + good.substr(4, 6) + std::string(20000, 'n') +
                          '\0' + good.substr(10);
  struct Case {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"wrong magic", with_byte(1, char(140))},
      {"not deflate", with_byte(2, 7)},
      {"reserved flag", gzip_with_fields("payload", 32)},
      {"reserved flag 128", with_byte(3, char(128))},
      {"cut in the fixed part", good.substr(0, 7)},
      {"name without end", good.substr(0, 3) + char(8) + good.substr(4, 6) + "name"},
      {"extra longer than file", good.substr(0, 3) + char(4) + good.substr(4, 6) + "\xff\x00" + "ab"},
      {"header past the first chunk", long_name},
      {"empty", ""},
  };
  // A good scrambled variant beside it must not be taken instead.
  root.write("data/x.scram", scramble_bytes(root, "scrambled"));
  for (const Case& c : cases) {
    root.write("data/x.gz", c.bytes);
    EXPECT_EQ(vfs_slurp("@x"), "<none>") << c.what;
  }
  root.write("data/x.gz", good);
  EXPECT_EQ(vfs_slurp("@x"), "payload");
}

TEST_F(VfsVariant, BrokenStreamsEndTheDataEarly) {
  // Random letters: about 30 KB compressed, so the input is refilled along the way.
  std::string text(50000, '\0');
  uint32_t state = 1;
  for (char& letter : text) {
    state = state * 1103515245u + 12345u;
    letter = char('a' + (state >> 16) % 26);
  }
  std::string good = gzip_tool(root, text, "-n");
  std::string corrupt = good;
  for (size_t i = good.size() / 2; i < good.size() / 2 + 40; i++) corrupt[i] = char(corrupt[i] ^ 0x5a);
  std::string bad_crc = good;
  bad_crc[good.size() - 6] ^= 1;
  struct Case {
    const char* what;
    std::string bytes;
    bool whole;  // all of text comes back
  } cases[] = {
      {"wrong trailing crc", bad_crc, true},
      {"no trailer", good.substr(0, good.size() - 8), true},
      {"cut in the middle", good.substr(0, good.size() / 2), false},
      {"corrupt in the middle", corrupt, false},
      {"header only", good.substr(0, 10), false},
  };
  for (const Case& c : cases) {
    root.write("data/t.gz", c.bytes);
    std::string got = vfs_slurp("@t");
    ASSERT_NE(got, "<none>") << c.what;
    if (c.whole) {
      EXPECT_EQ(got, text) << c.what;
    } else {
      EXPECT_NE(got, text) << c.what;
      // What does come is the start of the text, up to where the damage lies.
      size_t same = 0;
      while (same < got.size() && got[same] == text[same]) same++;
      EXPECT_GE(same, c.bytes.size() > 1000 ? size_t(1024) : size_t(0)) << c.what;
    }
  }
}

TEST_F(VfsVariant, BadScrambledFiles) {
  std::string good = scramble_bytes(root, "0123456789abcdefXYZ");
  std::string bad_magic = good;
  bad_magic[0] = 'x';
  std::string huge_length = good;
  huge_length[11] = char(0x80);
  struct Case {
    const char* what;
    std::string bytes;
    const char* read;
  } cases[] = {
      {"shorter than its header", good.substr(0, 63), "<none>"},
      {"not our header", bad_magic, "<none>"},
      {"length beyond 2 GiB", huge_length, "<none>"},
      {"last block cut", good.substr(0, good.size() - 1), "0123456789abcdef"},
      {"header only", good.substr(0, 64), ""},
      {"whole", good, "0123456789abcdefXYZ"},
  };
  for (const Case& c : cases) {
    root.write("data/s.scram", c.bytes);
    testing::internal::CaptureStderr();
    EXPECT_EQ(vfs_slurp("@s"), c.read) << c.what;
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.find("fread error") != std::string::npos, c.bytes.size() < 64) << c.what;
  }
}

}  // namespace
