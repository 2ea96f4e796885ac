// The cost of NSGA2Sampler per trial through ask and tell, on ZDT1 (30-D, two objectives) and
// DTLZ2 (12-D, three), with each selection rule, and the hypervolume it ends with.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <string>
#include <vector>

#include "tarvex/hypervolume.hpp"
#include "tarvex/nsga2_sampler.hpp"
#include "tarvex/study.hpp"

namespace {

using Objectives = std::vector<double> (*)(const std::vector<double>&);

std::vector<double> zdt1(const std::vector<double>& x) {
    double g = 0;
    for (std::size_t i = 1; i < x.size(); ++i) g += x[i];
    g = 1 + 9 * g / static_cast<double>(x.size() - 1);
    return {x[0], g * (1 - std::sqrt(x[0] / g))};
}

std::vector<double> dtlz2(const std::vector<double>& x) {
    double g = 0;
    for (std::size_t i = 2; i < x.size(); ++i) g += (x[i] - 0.5) * (x[i] - 0.5);
    const double a = x[0] * std::numbers::pi / 2, b = x[1] * std::numbers::pi / 2;
    return {(1 + g) * std::cos(a) * std::cos(b), (1 + g) * std::cos(a) * std::sin(b), (1 + g) * std::sin(a)};
}

void run(const char* label, Objectives f, int dim, int n_objectives, int n_trials, tarvex::NSGA2Selection selection,
         const char* selection_name) {
    tarvex::NSGA2SamplerConfig config;
    config.seed = 7;
    config.selection = selection;
    auto sampler = std::make_shared<tarvex::NSGA2Sampler>(config);
    tarvex::Study study(std::vector(static_cast<std::size_t>(n_objectives), tarvex::StudyDirection::Minimize), sampler);
    std::vector<std::string> names;
    for (int i = 0; i < dim; ++i) {
        std::string name = "x";
        name += std::to_string(i);
        names.push_back(std::move(name));
    }
    std::vector<double> x(static_cast<std::size_t>(dim));
    const auto start = std::chrono::steady_clock::now();
    double objective_seconds = 0;
    for (int n = 0; n < n_trials; ++n) {
        tarvex::Trial trial = study.ask();
        for (int i = 0; i < dim; ++i)
            x[static_cast<std::size_t>(i)] =
                trial.suggest_float(names[static_cast<std::size_t>(i)], 0, 1, false, std::nullopt);
        const auto before = std::chrono::steady_clock::now();
        std::vector<double> values = f(x);
        objective_seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - before).count();
        study.tell(std::move(trial), tarvex::TrialState::Complete, std::move(values));
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() - objective_seconds;
    std::vector<std::vector<double>> front;
    for (const tarvex::Trial& t : study.pareto_front()) front.push_back(t.values);
    std::printf("NSGA2Sampler (%s), %s, %d trials: %.1f us per ask+tell, hypervolume %.4f\n", selection_name, label,
                n_trials, seconds * 1e6 / n_trials,
                tarvex::hypervolume(front, std::vector<double>(static_cast<std::size_t>(n_objectives), 1.1)));
}

}  // namespace

int main(int argc, char** argv) {
    const int n = argc > 1 ? std::atoi(argv[1]) : 5000;
    for (const auto& [selection, name] : {std::pair{tarvex::NSGA2Selection::Hypervolume, "hypervolume"},
                                          std::pair{tarvex::NSGA2Selection::Crowding, "crowding"}}) {
        run("ZDT1 30-D", zdt1, 30, 2, n, selection, name);
        run("DTLZ2 12-D", dtlz2, 12, 3, n, selection, name);
    }
}
