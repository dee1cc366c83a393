#include "planner/transit.h"

namespace Planner {

std::vector<TransitNode> buildTransitNodes(const Environment&, double, double) { return {}; }

std::vector<Point> findTransitPath(const Environment&, std::vector<LineString>&, double, double,
                                   double, double) {
    return {};
}

}  // namespace Planner
