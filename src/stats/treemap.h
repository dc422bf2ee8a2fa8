// A squarified treemap: areas proportional to weights laid out in a box in
// rows along its shorter side, each row kept as square as it can be.
#pragma once

#include <cstdint>

struct Box {
    double x;
    double y;
    double width;
    double height;
};

// Lays out `count` weights, each above 0 (best largest first), in `box`,
// writing the box of each: their areas are proportional to the weights and
// fill `box`.
void squarify(const std::uint64_t* weights, int count, Box box, Box* boxes);
