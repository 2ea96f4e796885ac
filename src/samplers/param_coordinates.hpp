// Parameters as the model-based samplers see them: one number each, on the log scale where the
// parameter has one.
#pragma once

#include <optional>
#include <random>
#include <string>
#include <utility>

#include "tarvex/study.hpp"

namespace tarvex::detail {

// One coordinate: a number in [low, high] (already on its log scale where it has one, widened by
// half a step where it is discrete), or a choice index 0 .. n_choices - 1.
struct CoordRange {
    bool categorical = false;
    double low = 0, high = 1;
    int n_choices = 0;
};

struct Coord {
    std::string name;
    Distribution dist;
    CoordRange dim;
    // Whether the coordinate stands for a finite set of numbers (integers, stepped floats).
    bool discrete() const;
};

// The coordinate of a valid distribution with more than one value; none for any other.
std::optional<Coord> coordinate(const std::string& name, const Distribution& dist);

// A value's coordinate, kept inside the bounds; none for a value the distribution cannot hold.
std::optional<double> to_coord(const Coord& c, const ParamValue& v);

// The value at coordinate x: the nearest one the distribution allows.
ParamValue from_coord(const Coord& c, double x);

// A coordinate drawn uniformly over its range (log-uniform for a parameter on a log scale).
double uniform_coord(const CoordRange& d, std::mt19937_64& rng);

// For a discrete coordinate, where the value at x begins and ends: the coordinates past which
// from_coord gives a neighbouring value, none on a side that has no neighbour.
std::pair<std::optional<double>, std::optional<double>> value_edges(const Coord& c, double x);

}  // namespace tarvex::detail
