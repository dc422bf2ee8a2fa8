#include "stats/treemap.h"

#include <algorithm>
#include <limits>

namespace {

// The worst ratio of the longer to the shorter side in a row of total area
// `sum` along a side of `side`, whose largest item has area `largest` and
// smallest `smallest`.
double worst_ratio(double sum, double side, double largest, double smallest) {
    const double side_squared = side * side, sum_squared = sum * sum;
    return std::max(side_squared * largest / sum_squared, sum_squared / (side_squared * smallest));
}

}  // namespace

void squarify(const std::uint64_t* weights, int count, Box box, Box* boxes) {
    double total = 0;
    for (int i = 0; i < count; ++i) total += static_cast<double>(weights[i]);
    if (total <= 0) return;
    const double scale = box.width * box.height / total;
    for (int start = 0; start < count;) {
        const double side = std::min(box.width, box.height);
        double sum = 0, largest = 0, smallest = std::numeric_limits<double>::max();
        double worst = std::numeric_limits<double>::max();
        int end = start;
        for (; end < count; ++end) {
            const double area = static_cast<double>(weights[end]) * scale;
            const double ratio = worst_ratio(sum + area, side, std::max(largest, area), std::min(smallest, area));
            if (end > start && ratio > worst) break;
            worst = ratio;
            sum += area;
            largest = std::max(largest, area);
            smallest = std::min(smallest, area);
        }
        // The row takes a strip of the box as thick as its area needs.
        const double thickness = side > 0 ? sum / side : 0;
        const bool column = box.width >= box.height;
        double along = column ? box.y : box.x;
        for (int i = start; i < end; ++i) {
            const double length = thickness > 0 ? static_cast<double>(weights[i]) * scale / thickness : 0;
            boxes[i] = column ? Box{box.x, along, thickness, length} : Box{along, box.y, length, thickness};
            along += length;
        }
        if (column) {
            box.x += thickness;
            box.width = std::max(0.0, box.width - thickness);
        } else {
            box.y += thickness;
            box.height = std::max(0.0, box.height - thickness);
        }
        start = end;
    }
}
