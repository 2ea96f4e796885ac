#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include "sampling.hpp"

#include "sampling.hpp"
#include "tarvex/samplers.hpp"
#include "tarvex/storage.hpp"
#include "tarvex/thread_exit.hpp"

namespace tarvex {
namespace {

using Clock = std::chrono::system_clock;

// The deadline is now + timeout; a timeout beyond what the clock can add means no limit.
std::optional<TimePoint> make_deadline(std::optional<double> timeout) {
    if (!timeout) return std::nullopt;
    const TimePoint now = Clock::now();
    const double ns = *timeout * 1e9;
    const double headroom =
        static_cast<double>(TimePoint::max().time_since_epoch().count() - now.time_since_epoch().count());
    if (ns >= headroom) return std::nullopt;
    if (ns <= 0) return now;
    return now + Clock::duration(static_cast<Clock::rep>(ns));
}

bool past(const std::optional<TimePoint>& deadline) { return deadline && *deadline <= Clock::now(); }

// A multi-objective result becomes the trial's values if it has one value per direction.
void assign_values(Trial& t, std::vector<double>&& r, const std::vector<StudyDirection>& directions) {
    const auto got = static_cast<std::int32_t>(r.size());
    const auto want = static_cast<std::int32_t>(directions.size());
    if (got != want) {
        throw std::runtime_error("Objective returned " + std::to_string(got) + " values but study has " +
                                 std::to_string(want) + " directions.");
    }
    t.values = std::move(r);
}

// Keeps the first bookkeeping failure of any worker; later ones are dropped.
class FirstError {
public:
    void capture(std::exception_ptr e) {
        const std::scoped_lock lock(mutex);
        if (!error) error = std::move(e);
    }
    void rethrow_if_any() {
        const std::scoped_lock lock(mutex);
        if (error) std::rethrow_exception(error);
    }

private:
    std::mutex mutex;
    std::exception_ptr error;  // guarded by mutex
};

}  // namespace

// Ends a trial's proposal when the finished trial is stored, or when storing it failed.
struct Study::ProposalEnd {
    Study& study;
    int trial_id;
    ~ProposalEnd() { study.end_proposal(trial_id); }
};

template <class Result, class Assign>
TARVEX_PASSES_THREAD_EXIT void Study::run_trial(const std::function<Result(Trial&)>& objective, const Assign& assign,
                                                const TrialEnd& on_end) {
    std::optional<Trial> started = start_trial();
    if (!started) return;  // the sampler has nothing left to propose
    Trial& trial = *started;
    try {
        assign(trial, objective(trial));  // an empty objective throws std::bad_function_call
        trial.state = TrialState::Complete;
    } catch (const TrialPruned&) {
        trial.state = TrialState::Pruned;
    } catch (const ThreadExit&) {
        throw;  // the thread is being ended: its trial goes with it
    } catch (const std::exception& e) {
        trial.state = TrialState::Failed;
        trial.fail_reason = e.what();
    } catch (...) {
        trial.state = TrialState::Failed;
        trial.fail_reason = "an exception of unknown type";
    }
    finish(std::move(trial), on_end);
}

void Study::finish(Trial&& trial, const TrialEnd& on_end) {
    trial.datetime_complete = Clock::now();
    trial.progress_hook = nullptr;  // nothing more is recorded as it happens
    {
        // The proposal stays pending until the storage holds the finished trial: in between,
        // another thread's sampler would see the configuration neither pending nor taken.
        const ProposalEnd proposal_end{*this, trial.trial_id};
        sampler->annotate(trial, sampling->state.get());
        sampler->after_trial(*this, trial);
        if (!on_end) return storage->update_trial(std::move(trial));
        storage->store_finished(trial);  // on_end sees what the storage noted
    }
    on_end(trial);
}

void Study::run_trial_so(const Objective& objective) {
    run_trial(objective, [](Trial& t, double v) { t.values.assign(1, v); }, TrialEnd{});
}

void Study::run_trial_mo(const MultiObjective& objective) {
    run_trial(
        objective, [this](Trial& t, std::vector<double>&& r) { assign_values(t, std::move(r), directions); },
        TrialEnd{});
}

template <class Runner>
void Study::run_loop(const Runner& run_one, int n_trials, int n_jobs, std::optional<double> timeout) {
    if (timeout && std::isnan(*timeout)) throw std::invalid_argument("optimize: timeout must not be NaN.");
    stopping.store(false);
    sampler->before_study(*this);
    const std::optional<TimePoint> deadline = make_deadline(timeout);
    if (n_jobs == -1) n_jobs = static_cast<int>(std::thread::hardware_concurrency());

    if (n_jobs == 1) {
        for (int i = 0; i < n_trials && !past(deadline) && !stopping.load() && !sampler_exhausted(); ++i) run_one();
        return;
    }
    if (n_jobs < 0) throw std::length_error("vector::reserve");
    if (n_jobs == 0) return;

    std::atomic<std::int32_t> remaining{std::max(n_trials, 0)};  // no wrap below INT_MIN
    FirstError first_error;
    // A worker that fails outside the objective stops the hand-out; the error leaves after the join.
    const auto worker = [&]() TARVEX_PASSES_THREAD_EXIT {
        try {
            while (remaining.fetch_sub(1) > 0) {
                if (past(deadline) || stopping.load() || sampler_exhausted()) break;
                run_one();
            }
        } catch (const ThreadExit&) {
            remaining.store(0);
            throw;
        } catch (...) {
            first_error.capture(std::current_exception());
        }
        remaining.store(0);
    };
    // More workers than trials would only start and stop again.
    const int n_workers = std::min(n_jobs, std::max(n_trials, 0));
    std::vector<std::jthread> threads;
    threads.reserve(static_cast<std::size_t>(std::min(n_workers, 1024)));
    try {
        for (int i = 0; i < n_workers; ++i) threads.emplace_back(worker);
    } catch (const std::system_error& e) {
        first_error.capture(std::make_exception_ptr(
            std::runtime_error("optimize: could not start worker thread " + std::to_string(threads.size() + 1) +
                               " of n_jobs = " + std::to_string(n_jobs) + ": " + e.what())));
        remaining.store(0);
    } catch (...) {
        first_error.capture(std::current_exception());
        remaining.store(0);
    }
    for (auto& t : threads) t.join();
    first_error.rethrow_if_any();
}

void Study::optimize(Objective objective, int n_trials, int n_jobs, std::optional<double> timeout) {
    run_loop([&] { run_trial_so(objective); }, n_trials, n_jobs, timeout);
}

void Study::optimize_mo(MultiObjective objective, int n_trials, int n_jobs, std::optional<double> timeout) {
    run_loop([&] { run_trial_mo(objective); }, n_trials, n_jobs, timeout);
}

void Study::optimize(Objective objective, int n_trials, int n_jobs, std::optional<double> timeout, TrialEnd on_end) {
    const auto assign = [](Trial& t, double v) { t.values.assign(1, v); };
    run_loop([&] { run_trial(objective, assign, on_end); }, n_trials, n_jobs, timeout);
}

void Study::optimize_mo(MultiObjective objective, int n_trials, int n_jobs, std::optional<double> timeout,
                        TrialEnd on_end) {
    const auto assign = [this](Trial& t, std::vector<double>&& r) { assign_values(t, std::move(r), directions); };
    run_loop([&] { run_trial(objective, assign, on_end); }, n_trials, n_jobs, timeout);
}

void Study::stop() noexcept { stopping.store(true); }

std::optional<Trial> Study::start_trial() {
    if (!sampler->proposes_at_start()) return make_trial();
    const std::scoped_lock lock(sampler_mutex);
    if (sampler_exhausted()) return std::nullopt;
    Trial trial = make_trial();
    propose_for(trial);
    return trial;
}

bool Study::sampler_exhausted() const { return sampler->exhausted(sampling->state.get()); }

}  // namespace tarvex
