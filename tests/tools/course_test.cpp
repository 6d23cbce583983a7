// The default course's geometry: a continuous closed centre line whose sections keep apart and
// whose jumps lie on straights.
#include <cmath>

#include <gtest/gtest.h>

#include "tools/data/course.h"

namespace {

struct CourseGeometry : ::testing::Test {
  static Course course;
  static void SetUpTestSuite() { course_build(&course); }
};
Course CourseGeometry::course;

float gap(const CourseSample& a, const CourseSample& b) { return std::hypot(a.x - b.x, a.z - b.z); }

TEST_F(CourseGeometry, CentreLineIsContinuousClosedAndJoinedByTheStartStraight) {
  size_t n = course.loop.size();
  ASSERT_GT(n, 100u);
  // Bends that do not fit between their neighbours would leave a jump in the line.
  for (size_t k = 0; k < n; k++) {
    float step = gap(course.loop[k], course.loop[(k + 1) % n]);
    ASSERT_LT(step, COURSE_SAMPLE_STEP * 1.01f) << "at " << course.loop[k].s << " ft";
    ASSERT_NEAR(std::hypot(course.loop[k].dx, course.loop[k].dz), 1.0f, 1e-4f);
  }
  EXPECT_LT(gap(course.start.back(), course.loop[course.merge_index]), 1.0f);
  for (size_t k = 0; k < n; k++) ASSERT_GE(course.loop[k].width, 20.0f);
}

TEST_F(CourseGeometry, SectionsOfTheLoopStayApart) {
  // Two places more than 200 ft apart along the loop must be far enough apart on the ground
  // for both tracks, their banks and the grass between.
  const size_t stride = 8;
  size_t n = course.loop.size();
  for (size_t i = 0; i < n; i += stride) {
    for (size_t j = i + stride; j < n; j += stride) {
      float along = std::fabs(course.loop[j].s - course.loop[i].s);
      along = std::min(along, course.loop_length - along);
      if (along < 200) continue;
      ASSERT_GT(gap(course.loop[i], course.loop[j]), 70.0f)
          << "at " << course.loop[i].s << " and " << course.loop[j].s << " ft";
    }
  }
}

TEST_F(CourseGeometry, JumpsLieWhollyOnTheirStraights) {
  for (const CourseFeature& f : course.features) {
    ASSERT_GE(f.segment, 0);
    ASSERT_LT(f.segment, static_cast<int>(course.straight_length.size()));
    EXPECT_GE(f.offset, 0.0f) << f.name;
    // Leave room for the rounding of the profile at its ends.
    EXPECT_LE(f.offset + f.keys.back().along + 6, course.straight_length[f.segment]) << f.name;
  }
}

}  // namespace
