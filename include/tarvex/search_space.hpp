// The unit-cube encoding of a set of parameters, which model-based samplers work in.
#pragma once

#include <Eigen/Core>
#include <cstddef>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "tarvex/study.hpp"

namespace tarvex {

struct ParamSpec {
    std::string name;
    Distribution dist;
};

// An ordered registry of parameters and their unit-cube encoding. A float or int parameter
// takes one coordinate, (v - low) / (high - low) (of the logarithms on a log scale); a
// categorical with n choices takes a one-hot block of n coordinates.
class SearchSpace {
public:
    void add_float(const std::string& name, double low, double high, bool log, std::optional<double> step);
    void add_int(const std::string& name, int low, int high, bool log, int step);
    void add_categorical(const std::string& name, std::vector<std::string> choices);
    // The add_ operation the distribution's kind calls for.
    void add(const std::string& name, const Distribution& dist);

    void assert_unique(const std::string& name) const;
    bool has_param(const std::string& name) const;
    const ParamSpec& get_param(const std::string& name) const;
    int unit_dim(const std::string& name) const;
    int total_unit_dim() const;

    // Not clamped: a value outside the bounds maps outside [0, 1]. A categorical maps to i / (n - 1).
    double to_unit(const std::string& name, const ParamValue& v) const;
    Eigen::VectorXd to_unit_block(const std::string& name, const ParamValue& v) const;
    // u is clamped into [0, 1]; steps and int rounding are applied on the way back.
    ParamValue from_unit(const std::string& name, double u) const;
    ParamValue from_unit_block(const std::string& name, const Eigen::VectorXd& block) const;
    // Maps a point of the cube, in place, to the encoding of the configuration it decodes to:
    // one-hot categoricals, integers and stepped floats on their grid, plain floats clamped.
    void snap(Eigen::Ref<Eigen::VectorXd> x) const;
    // 1 at the coordinates of plain floats, which snap leaves free, 0 elsewhere.
    Eigen::VectorXd continuous_mask() const;

    std::vector<ParamSpec> specs;
    std::unordered_map<std::string, std::size_t> index;

private:
    void append(const std::string& name, Distribution dist);
};

}  // namespace tarvex
