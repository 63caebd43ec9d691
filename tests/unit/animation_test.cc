#include "windows/animation.h"

#include <gtest/gtest.h>

#include <vector>

namespace morvenit {
namespace {

TEST(AnimationTest, OpeningPlaysOnceThenFramesFourToEightLoop) {
  uint8_t AnimationFrame = 1;  // as the window's load sets it
  std::vector<int> shown;
  for (int tick = 0; tick < 13; ++tick) shown.push_back(AnimationStep(AnimationFrame));
  EXPECT_EQ(shown, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 4, 5, 6, 7, 8}));
  EXPECT_EQ(AnimationFrame, 4);

  // However long a run lasts, the opening never comes back and the counter stays a frame number.
  for (int tick = 0; tick < 1000; ++tick) {
    const int frame = AnimationStep(AnimationFrame);
    ASSERT_GE(frame, kAnimationLoopStart);
    ASSERT_LE(frame, kAnimationFrames);
    ASSERT_GE(AnimationFrame, kAnimationLoopStart);
    ASSERT_LE(AnimationFrame, kAnimationFrames);
  }
}

}  // namespace
}  // namespace morvenit
