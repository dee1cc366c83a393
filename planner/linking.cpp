#include "planner/linking.h"

namespace Planner {

void linkSlices(const Environment&, const std::vector<LineString>&, const Point&,
                PathPlanner::PlanningResult&) {}

void appendSlice(LineString&, const LineString&, bool, std::size_t, bool) {}

}  // namespace Planner
