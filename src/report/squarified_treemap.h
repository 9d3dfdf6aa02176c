#pragma once

#include <span>
#include <vector>

namespace zelkor {

// An axis-aligned rectangle of the size map, in pixels of the drawing.
struct MapRect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    double Area() const { return width * height; }
};

// Divides `bounds` into one rectangle per weight, each with an area in
// proportion to its weight, as squarified treemaps do: the weights are laid out
// in rows along the shorter side, and a row takes another weight only while
// that brings its worst aspect ratio closer to 1. The rectangles tile `bounds`
// without overlapping.
//
// `weights` must be positive and sorted from the largest down; the rectangles
// come in the same order. Empty weights or empty bounds give empty rectangles.
std::vector<MapRect> SquarifiedTreemap(std::span<const double> weights, const MapRect& bounds);

}  // namespace zelkor
