// libFuzzer target: a whole planning call on a garden decoded from bytes.
#include <cstddef>
#include <cstdint>

#include "planner/pipeline.h"
#include "tests/fuzz/garden_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const FuzzInput::Case c = FuzzInput::decode(data, size);
    const Planner::PathService service;
    const Planner::PathPlanner::PlanningResult result =
        service.computeFullTask(c.environment, c.settings, c.start);
    // A non-empty path always starts with the start position.
    if (!result.path.points.empty() && result.slices.empty()) __builtin_trap();
    return 0;
}
