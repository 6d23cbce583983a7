// Formatted matching of one line of text: the counts and values the track readers rely on.
#include <gtest/gtest.h>

#include "track/line_scan.h"

namespace {

TEST(LineScan, ThreeFloatsInBrackets) {
  struct Case {
    const char* text;
    int count;
    float a, b, c;
  } cases[] = {
      {" [ 1 2 3 ] ", 3, 1, 2, 3},
      {"[0.5 -2e1 +.25]", 3, 0.5f, -20, 0.25f},
      {"[1 2", 2, 1, 2, -1},
      {"1 2 3", 0, -1, -1, -1},        // the bracket is missing
      {"[ 1 nan 3 ]", 1, 1, -1, -1},   // decimal numbers only
      {"[ 1 0x10 3 ]", 2, 1, 0, -1},   // "0" is read, then "x10" stops the match
      {"[ 1e39 2 3 ]", 0, -1, -1, -1}, // too large for a float
      {"", -1, -1, -1, -1},
      {"   ", -1, -1, -1, -1},
  };
  for (const Case& c : cases) {
    float v[3] = {-1, -1, -1};
    EXPECT_EQ(line_scanf(c.text, " [ %f %f %f ] ", &v[0], &v[1], &v[2]), c.count) << c.text;
    EXPECT_EQ(v[0], c.a) << c.text;
    EXPECT_EQ(v[1], c.b) << c.text;
    EXPECT_EQ(v[2], c.c) << c.text;
  }
}

TEST(LineScan, IntegersStringsAndConsumedLength) {
  int a = 0, used = 0;
  char word[8];
  EXPECT_EQ(line_scanf("12 abcdefghij rest", "%d %7s%n", &a, word, &used), 2);
  EXPECT_EQ(a, 12);
  EXPECT_STREQ(word, "abcdefg");
  EXPECT_EQ(used, 10);
  EXPECT_EQ(line_scanf("99999999999", "%d", &a), 0);  // does not fit an int
  EXPECT_EQ(line_scanf("fov60", "fov %d", &a), 1);    // white space in a format matches none too
  EXPECT_EQ(a, 60);
}

}  // namespace
