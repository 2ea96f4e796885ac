#include <gtest/gtest.h>

#include <climits>
#include <cmath>

#include "tarvex/samplers.hpp"

using namespace tarvex;

namespace {
template <class F>
std::string error_of(F&& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "no error";
}
}  // namespace

TEST(SearchSpace, FloatsMapLinearlyOrOnLogsAndSnapToSteps) {
    SearchSpace s;
    s.add_float("lin", 0, 10, false, std::nullopt);
    s.add_float("log", 1e-3, 1e3, true, std::nullopt);
    s.add_float("step", 0, 0.9, false, 0.25);
    EXPECT_DOUBLE_EQ(s.to_unit("lin", 2.5), 0.25);
    EXPECT_DOUBLE_EQ(std::get<double>(s.from_unit("lin", 0.25)), 2.5);
    EXPECT_EQ(std::get<double>(s.from_unit("lin", -3)), 0.0);
    EXPECT_EQ(std::get<double>(s.from_unit("lin", 7)), 10.0);
    EXPECT_DOUBLE_EQ(s.to_unit("lin", 12.0), 1.2);  // no clamping on the way in
    EXPECT_NEAR(s.to_unit("log", 1.0), 0.5, 1e-15);
    EXPECT_NEAR(std::get<double>(s.from_unit("log", 0.5)), 1.0, 1e-12);
    EXPECT_DOUBLE_EQ(std::get<double>(s.from_unit("step", 0.5)), 0.5);
    EXPECT_DOUBLE_EQ(std::get<double>(s.from_unit("step", 1.0)), 0.9);
    EXPECT_THROW(s.to_unit("lin", 3), std::bad_variant_access);
}

TEST(SearchSpace, IntsRoundThenMoveDownOntoTheGrid) {
    SearchSpace s;
    s.add_int("g", 0, 10, false, 3);
    s.add_int("pair", 1, 2, false, 1);
    s.add_int("full", INT_MIN, INT_MAX, false, 1);
    s.add_int("log", 1, 1000, true, 1);
    EXPECT_EQ(std::get<int>(s.from_unit("g", 1.0)), 9);
    EXPECT_EQ(std::get<int>(s.from_unit("g", 0.5)), 3);
    EXPECT_EQ(s.to_unit("pair", 2), 1.0);
    EXPECT_EQ(std::get<int>(s.from_unit("pair", 0.49)), 1);
    EXPECT_EQ(std::get<int>(s.from_unit("pair", 0.5)), 2);
    EXPECT_EQ(s.to_unit("full", INT_MAX), 1.0);
    EXPECT_EQ(std::get<int>(s.from_unit("full", 0.0)), INT_MIN);
    EXPECT_EQ(std::get<int>(s.from_unit("full", 1.0)), INT_MAX);
    for (int v : {1, 7, 100, 999, 1000}) EXPECT_EQ(std::get<int>(s.from_unit("log", s.to_unit("log", v))), v);
}

TEST(SearchSpace, CategoricalsAreOneHotBlocks) {
    SearchSpace s;
    s.add_float("f", 0, 1, false, std::nullopt);
    s.add_int("i", 0, 5, false, 1);
    s.add_categorical("c", {"a", "b", "c", "d"});
    s.add_categorical("only", {"only"});
    EXPECT_EQ(s.unit_dim("c"), 4);
    EXPECT_EQ(s.total_unit_dim(), 7);
    EXPECT_EQ(s.specs[2].name, "c");
    SearchSpace abc;
    abc.add_categorical("c", {"a", "b", "c"});
    EXPECT_EQ(abc.to_unit("c", std::string("c")), 1.0);
    EXPECT_EQ(abc.to_unit("c", std::string("b")), 0.5);
    EXPECT_EQ(abc.to_unit_block("c", std::string("b")), Eigen::Vector3d(0, 1, 0));
    EXPECT_EQ(std::get<std::string>(abc.from_unit_block("c", Eigen::Vector3d(0.2, 0.7, 0.7))), "b");
    EXPECT_EQ(std::get<std::string>(abc.from_unit("c", 0.24)), "a");
    EXPECT_EQ(std::get<std::string>(abc.from_unit("c", 0.26)), "b");
    EXPECT_EQ(error_of([&] { abc.to_unit("c", std::string("d")); }), "to_unit: 'd' not in choices for 'c'.");
    EXPECT_EQ(error_of([&] { abc.to_unit_block("c", std::string("d")); }),
              "to_unit_block: 'd' not in choices for 'c'.");
    EXPECT_EQ(s.to_unit("only", std::string("only")), 0.0);
    EXPECT_EQ(s.to_unit_block("only", std::string("only")), Eigen::VectorXd::Ones(1));
    EXPECT_EQ(std::get<std::string>(s.from_unit("only", 0.9)), "only");
}

TEST(SearchSpace, ValidationMessagesInOrderAndNothingChangesOnFailure) {
    SearchSpace s;
    s.add_float("x", 0, 1, false, std::nullopt);
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[&] { s.add_float("f", 1, 1, true, -1.0); }, "add_float('f'): low must be < high."},
        {[&] { s.add_float("f", 0, 1, true, -1.0); }, "add_float('f'): log_scale requires low > 0."},
        {[&] { s.add_float("f", 0, 1, false, 0.0); }, "add_float('f'): step must be > 0."},
        {[&] { s.add_float("f", std::nan(""), 1, false, std::nullopt); }, "add_float('f'): low must be < high."},
        {[&] { s.add_float("f", -INFINITY, 1, false, std::nullopt); }, "add_float('f'): bounds must be finite."},
        {[&] { s.add_int("i", 2, 2, true, 0); }, "add_int('i'): low must be < high."},
        {[&] { s.add_int("i", 0, 2, true, 0); }, "add_int('i'): step must be > 0."},
        {[&] { s.add_int("i", 0, 2, true, 1); }, "add_int('i'): log_scale requires low > 0."},
        {[&] { s.add_categorical("c", {}); }, "add_categorical('c'): choices must be non-empty."},
        {[&] { s.add_int("x", 0, 2, false, 1); }, "Parameter 'x' is already defined."},
        {[&] { s.get_param("nope"); }, "Parameter 'nope' not found in SearchSpace."},
    };
    for (const auto& [call, message] : cases) EXPECT_EQ(error_of(call), message);
    EXPECT_EQ(s.specs.size(), 1u);
    EXPECT_EQ(s.index.size(), 1u);
    EXPECT_TRUE(std::holds_alternative<FloatDist>(s.get_param("x").dist));
    EXPECT_THROW(s.unit_dim("nope"), std::out_of_range);
}

TEST(SearchSpace, DecodedFloatsStayInsideExtremeBounds) {
    SearchSpace s;
    s.add_float("tiny", -3.7941278998324163e-198, -2.1693749535599416e-250, false, std::nullopt);
    s.add_float("wide", -1e308, 1e308, false, std::nullopt);
    s.add_float("log", 1e-300, 1e300, true, std::nullopt);
    s.add_float("close", 5.8536377186879002e+170, 5.8536377186879056e+170, true, std::nullopt);  // one log value
    for (const char* name : {"tiny", "wide", "log", "close"}) {
        const auto& d = std::get<FloatDist>(s.get_param(name).dist);
        for (const double u : {0.0, 1e-17, 0.5, 1 - 1e-16, 1.0, std::nan("")}) {
            const double x = std::get<double>(s.from_unit(name, u));
            EXPECT_TRUE(d.low <= x && x <= d.high) << name << " u=" << u << " x=" << x;
            const double back = s.to_unit(name, x);
            EXPECT_TRUE(back >= 0 && back <= 1) << name << " u=" << u;
        }
    }
    EXPECT_EQ(std::get<double>(s.from_unit("wide", 1.0)), 1e308);
    s.add_float("coarse", -1, 1, false, INFINITY);  // only low is on the grid
    EXPECT_EQ(std::get<double>(s.from_unit("coarse", 0.7)), -1.0);
    EXPECT_EQ(s.to_unit("wide", 0.0), 0.5);
}
