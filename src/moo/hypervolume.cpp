#include "tarvex/hypervolume.hpp"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>

namespace tarvex {
namespace {

using Point = std::vector<double>;

double hv2(std::vector<const Point*> points, const Point& ref) {
    std::sort(points.begin(), points.end(), [](const Point* a, const Point* b) {
        return (*a)[0] != (*b)[0] ? (*a)[0] < (*b)[0] : (*a)[1] < (*b)[1];
    });
    double volume = 0.0, bound = ref[1];
    for (const Point* p : points) {
        if ((*p)[1] < bound) {
            volume += (ref[0] - (*p)[0]) * (bound - (*p)[1]);
            bound = (*p)[1];
        }
    }
    return volume;
}

// The two-objective front of the points added so far, as a staircase (x ascending, y strictly
// descending), and the area it dominates.
class Staircase {
public:
    explicit Staircase(const Point& ref) : ref_x(ref[0]), ref_y(ref[1]) {}

    void add(double x, double y) {
        auto next = steps.lower_bound(x);  // the first step at or right of x
        if (next != steps.begin()) {
            const auto before = std::prev(next);
            if (before->second <= y) return;  // dominated
        }
        if (next != steps.end() && next->first == x && next->second <= y) return;
        // Above the step left of x (or the reference) the area is covered already; right of x it
        // is covered above each step's height until a step lower than y.
        double top = next == steps.begin() ? ref_y : std::prev(next)->second;
        double from = x;
        while (next != steps.end() && next->second >= y) {
            area += (next->first - from) * (top - y);
            from = next->first;
            top = next->second;
            next = steps.erase(next);
        }
        area += ((next == steps.end() ? ref_x : next->first) - from) * (top - y);
        steps.emplace_hint(next, x, y);
    }
    double covered() const { return area; }

private:
    const double ref_x, ref_y;
    std::map<double, double> steps;
    double area = 0.0;
};

double hv3(std::vector<const Point*> points, const Point& ref) {
    std::sort(points.begin(), points.end(), [](const Point* a, const Point* b) { return (*a)[2] < (*b)[2]; });
    Staircase front(ref);
    double volume = 0.0;
    for (std::size_t i = 0; i < points.size(); ++i) {
        front.add((*points[i])[0], (*points[i])[1]);
        const double next_z = i + 1 < points.size() ? (*points[i + 1])[2] : ref[2];
        volume += front.covered() * (next_z - (*points[i])[2]);
    }
    return volume;
}

double hv(std::vector<const Point*> points, const Point& ref, std::size_t d) {
    if (points.empty()) return 0.0;
    if (d == 1) {
        double low = ref[0];
        for (const Point* p : points) low = std::min(low, (*p)[0]);
        return ref[0] - low;
    }
    if (d == 2) return hv2(std::move(points), ref);
    if (d == 3) return hv3(std::move(points), ref);
    // Slices between consecutive values of the last objective, each the (d-1)-volume of the points
    // at or below it.
    const std::size_t last = d - 1;
    std::sort(points.begin(), points.end(), [last](const Point* a, const Point* b) { return (*a)[last] < (*b)[last]; });
    double volume = 0.0;
    std::vector<const Point*> below;
    for (std::size_t i = 0; i < points.size(); ++i) {
        below.push_back(points[i]);
        const double next = i + 1 < points.size() ? (*points[i + 1])[last] : ref[last];
        if (next > (*points[i])[last]) volume += hv(below, ref, d - 1) * (next - (*points[i])[last]);
    }
    return volume;
}

}  // namespace

double hypervolume(const std::vector<std::vector<double>>& points, const std::vector<double>& reference) {
    if (reference.empty()) throw std::invalid_argument("hypervolume: the reference point is empty");
    for (const double r : reference) {
        if (!std::isfinite(r)) throw std::invalid_argument("hypervolume: the reference point must be finite");
    }
    std::vector<const Point*> inside;
    inside.reserve(points.size());
    for (std::size_t i = 0; i < points.size(); ++i) {
        const Point& p = points[i];
        if (p.size() != reference.size()) {
            throw std::invalid_argument("hypervolume: point " + std::to_string(i) + " has " + std::to_string(p.size()) +
                                        " objectives but the reference point has " + std::to_string(reference.size()));
        }
        bool below = true;
        for (std::size_t k = 0; k < p.size() && below; ++k) below = p[k] < reference[k];  // false for NaN
        if (below) inside.push_back(&p);
    }
    return hv(std::move(inside), reference, reference.size());
}

}  // namespace tarvex
