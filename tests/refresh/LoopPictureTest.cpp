#include "refresh/LoopPicture.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "platform/WebpAnimation.h"

namespace refresh {
namespace {

TEST(LoopPictureTest, FrameTimeIsTheDelayWithinWhatAWebpFrameHolds) {
  EXPECT_EQ(LoopFrameMs(500), 500);
  EXPECT_EQ(LoopFrameMs(19), kMinLoopFrameMs);
  EXPECT_EQ(LoopFrameMs(-5), kMinLoopFrameMs);
  // The newest frame's time, three frames long, still fits 24 bits.
  const int longest = LoopFrameMs(std::numeric_limits<std::int32_t>::max());
  EXPECT_LE(longest * kNewestFrameHold, platform::kMaxWebpFrameMs);
  EXPECT_GT((longest + 1) * kNewestFrameHold, platform::kMaxWebpFrameMs);
}

}  // namespace
}  // namespace refresh
