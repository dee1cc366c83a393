// Inputs the pipeline fuzzer found, replayed through the same decoder.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "planner/pipeline.h"
#include "tests/fuzz/garden_decoder.h"

using namespace Planner;

namespace {

PathPlanner::PlanningResult replay(const std::vector<std::uint8_t>& bytes) {
    const FuzzInput::Case c = FuzzInput::decode(bytes.data(), bytes.size());
    return computeFullTask(c.environment, c.settings, c.start);
}

// A negative spacing with 262144 perimeter laps: every lap after the first
// grew the outline outwards, and the run never ended.  Now only the first
// lap along the perimeter is laid.
TEST(FuzzRegressions, NegativeSpacingWithManyLapsEnds) {
    const std::vector<std::uint8_t> bytes = {0x24, 0x59, 0x30, 0x00, 0x00, 0xc8, 0xc8,
                                             0xc8, 0xc8, 0x01, 0x08, 0x00, 0x00, 0x00,
                                             0x00, 0x00, 0xfd, 0xc2, 0xa9, 0x2b, 0x92};
    const FuzzInput::Case c = FuzzInput::decode(bytes.data(), bytes.size());
    ASSERT_LT(c.settings.offset, 0.0);
    ASSERT_EQ(c.settings.borderLaps, 262144u);
    const auto result = replay(bytes);
    EXPECT_EQ(result.slices.size(), 1u);
    ASSERT_FALSE(result.path.points.empty());
}

}  // namespace
