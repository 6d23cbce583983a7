// Checked allocation: the checking switch, double frees, wiping, leaks and the working set.
#include "files/memory.h"

#include <cstdio>
#include <regex>
#include <string>

#include <gtest/gtest.h>

namespace {

struct ProbeResult {
  int status;
  std::string output;  // standard output and standard error together
};

// Runs the probe program with SK_CHECK_ALLOC set to check_alloc (or unset when null).
ProbeResult probe(const char* check_alloc, const char* what) {
  // The leak case leaks on purpose; the sanitizer's own leak check would drown its report.
  std::string command = std::string("ASAN_OPTIONS=detect_leaks=0 ");
  command += check_alloc ? std::string("SK_CHECK_ALLOC='") + check_alloc + "' "
                                    : std::string("env -u SK_CHECK_ALLOC ");
  command += std::string(SK_TEST_DIR) + "/memory_probe " + what + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  ProbeResult result{-1, ""};
  if (!pipe) return result;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
  result.status = pclose(pipe);
  return result;
}

TEST(Memory, CheckingSwitch) {
  struct Case {
    const char* value;
    const char* checking;
  } cases[] = {{"1", "1\n"}, {"7", "1\n"}, {"0", "0\n"}, {"yes", "0\n"}, {"-3", "0\n"}, {nullptr, "0\n"}};
  for (const Case& c : cases) EXPECT_EQ(probe(c.value, "checking").output, c.checking) << (c.value ? c.value : "unset");
}

TEST(Memory, DoubleFreesAreReportedOnceAndIgnored) {
  for (const char* what : {"double_free", "double_delete"}) {
    ProbeResult r = probe("1", what);
    EXPECT_EQ(r.status, 0) << what;
    EXPECT_TRUE(std::regex_match(r.output, std::regex("Allocation not found for 0x[0-9a-f]+!\n"))) << what << ": " << r.output;
  }
}

TEST(Memory, FreedBlockIsWiped) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "reading a freed block is what AddressSanitizer forbids";
#endif
  EXPECT_EQ(probe("1", "wipe").output, "0\n");
}

TEST(Memory, LeaksOfRecordsAndContainersAreReported) {
  ProbeResult r = probe("1", "leak");
  EXPECT_TRUE(std::regex_search(r.output, std::regex("0x[0-9a-f]+:[0-9]+\n(.|\n)*0x[0-9a-f]+:[0-9]+\n"))) << r.output;
  EXPECT_EQ(probe("0", "leak").output, "");
}

TEST(Memory, ReallocKeepsContentsAndRecord) {
  EXPECT_EQ(probe("1", "realloc").output, "abc\n");
}

TEST(Memory, WorkingSetRange) {
  constexpr unsigned long long MIB = 1024ULL * 1024ULL;
  struct Case {
    unsigned long long physical;
    bool applies;
    unsigned long long minimum, maximum;
  } cases[] = {
      {4096 * MIB, true, 1024 * MIB, 2048 * MIB - 32 * MIB},
      {512 * MIB, true, 480 * MIB, 480 * MIB},
      {63 * MIB, false, 0, 0},
      {64 * MIB, true, 32 * MIB, 32 * MIB},
  };
  for (const Case& c : cases) {
    unsigned minimum = 0, maximum = 0;
    EXPECT_EQ(working_set_range(c.physical, &minimum, &maximum), c.applies);
    if (c.applies) {
      EXPECT_EQ(minimum, c.minimum);
      EXPECT_EQ(maximum, c.maximum);
    }
  }
}

TEST(Memory, InternStringSharesCopies) {
  std::string a = "rabbithill", b = "rabbithill";
  EXPECT_EQ(intern_string(a.c_str()), intern_string(b.c_str()));
  EXPECT_STREQ(intern_string(a.c_str()), "rabbithill");
}

}  // namespace
