#include "planner/node_lookup.h"

namespace Planner {

void addToLookup(NodeLookup& lookup, double x, double y, std::uint32_t id) {
    if (!isFinitePosition(x, y)) return;
    if (!detail::onNodeGrid(x, y)) {
        lookup.far.push_back(id);
        return;
    }
    lookup.cells.push_back({detail::nodeCell(x), detail::nodeCell(y), id});
}

void sortLookup(NodeLookup& lookup) {
    std::sort(lookup.cells.begin(), lookup.cells.end(), detail::cellBefore);
}

}  // namespace Planner
