// Per-trial cost of the engine itself: a trivial objective with one float parameter,
// random sampling, in-memory storage. Reports wall time and resident memory per trial.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "tarvex/samplers.hpp"
#include "tarvex/study.hpp"

namespace {

long peak_rss_kib() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

void run(int n_trials, int n_jobs) {
    const long rss_before = peak_rss_kib();
    tarvex::Study study(tarvex::StudyDirection::Minimize, std::make_shared<tarvex::RandomSampler>(7));
    const auto start = std::chrono::steady_clock::now();
    study.optimize(
        [](tarvex::Trial& t) {
            const double x = t.suggest_float("x", -10, 10, false, std::nullopt);
            return x * x;
        },
        n_trials, n_jobs);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const long rss_after = peak_rss_kib();
    std::printf("n_jobs=%d  trials=%d  %.3f us/trial  %.0f B/trial peak RSS growth  best=%.3g\n", n_jobs, n_trials,
                seconds * 1e6 / n_trials, (rss_after - rss_before) * 1024.0 / n_trials, study.best_value());
}

}  // namespace

int main(int argc, char** argv) {
    const int n = argc > 1 ? std::atoi(argv[1]) : 100000;
    run(n, 1);
    run(n, 2);
}
