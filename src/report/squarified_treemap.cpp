#include "report/squarified_treemap.h"

#include <algorithm>

namespace zelkor {

namespace {

// The worst aspect ratio (at least 1) of a row of areas summing to `sum`, with
// largest `largest` and smallest `smallest`, laid along a side of `side`.
double WorstRatio(double sum, double largest, double smallest, double side)
{
    const double sideSquared = side * side;
    const double sumSquared = sum * sum;
    return std::max(sideSquared * largest / sumSquared, sumSquared / (sideSquared * smallest));
}

}  // namespace

std::vector<MapRect> SquarifiedTreemap(std::span<const double> weights, const MapRect& bounds)
{
    std::vector<MapRect> rects(weights.size(), MapRect{bounds.x, bounds.y, 0, 0});
    double total = 0;
    for (const double weight : weights)
        total += weight;
    if (weights.empty() || total <= 0 || bounds.Area() <= 0)
        return rects;
    const double scale = bounds.Area() / total;

    MapRect free = bounds;
    std::size_t first = 0;
    while (first < weights.size()) {
        // Grow the row from `first` while its worst aspect ratio improves.
        const double side = std::min(free.width, free.height);
        double sum = weights[first] * scale;
        std::size_t end = first + 1;
        while (end < weights.size()) {
            const double area = weights[end] * scale;
            const double largest = weights[first] * scale;
            if (WorstRatio(sum + area, largest, area, side) > WorstRatio(sum, largest, weights[end - 1] * scale, side))
                break;
            sum += area;
            ++end;
        }
        // The last row takes what is left, so that rounding leaves no gap.
        const bool last = end == weights.size();
        // A row along the shorter side: a column at the left of a wide space, a
        // band at the top of a tall one.
        const bool column = free.width >= free.height;
        const double thickness = last ? (column ? free.width : free.height)
                                      : std::min(sum / side, column ? free.width : free.height);
        double along = 0;
        double done = 0;
        for (std::size_t i = first; i < end; ++i) {
            done += weights[i] * scale;
            // Each edge from the running sum, so that the row ends exactly at its far side.
            const double next = i + 1 == end ? side : side * done / sum;
            rects[i] = column ? MapRect{free.x, free.y + along, thickness, next - along}
                              : MapRect{free.x + along, free.y, next - along, thickness};
            along = next;
        }
        if (column) {
            free.x += thickness;
            free.width -= thickness;
        } else {
            free.y += thickness;
            free.height -= thickness;
        }
        first = end;
    }
    return rects;
}

}  // namespace zelkor
