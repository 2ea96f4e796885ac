// Trials and studies: the domain records, the study that creates trials and
// routes their requests, the optimisation loop and the result queries.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <variant>
#include <vector>

namespace tarvex {

class ISampler;
class IPruner;
class IStorage;
class PrunerState;
class SamplerState;
class Study;
namespace detail {
struct Sampling;  // what a study keeps for its sampler (sampling.hpp)
}  // namespace detail

enum class TrialState : std::int32_t { Running = 0, Complete = 1, Pruned = 2, Failed = 3 };
enum class StudyDirection : std::int32_t { Minimize = 0, Maximize = 1 };

// The alternative index is relied on by every switch over it: 0 double, 1 int, 2 string.
using ParamValue = std::variant<double, int, std::string>;
using ParamMap = std::unordered_map<std::string, ParamValue>;

// Distributions hold exactly what the objective asked for; validation belongs to the samplers.
struct FloatDist {
    double low;
    double high;
    bool log;
    std::optional<double> step;  // absent: continuous; present: grid low, low + step, ...
    bool operator==(const FloatDist&) const = default;
};

struct IntDist {
    int low;
    int high;
    bool log;
    int step;
    bool operator==(const IntDist&) const = default;
};

struct CategoricalDist {
    std::vector<std::string> choices;
    bool operator==(const CategoricalDist&) const = default;
};

// Index i of a Distribution produces alternative i of a ParamValue.
using Distribution = std::variant<FloatDist, IntDist, CategoricalDist>;

using TimePoint = std::chrono::system_clock::time_point;

// Thrown by an objective to end its trial as Pruned.
class TrialPruned : public std::exception {};

// A parameter asked for as another kind than the value it holds (a float asked for as an int, an
// enqueued text asked for as a float): the standard bad-variant error, naming the parameter.
class ParamKindError : public std::bad_variant_access {
public:
    explicit ParamKindError(std::string message) : message(std::move(message)) {}
    const char* what() const noexcept override { return message.c_str(); }

private:
    std::string message;
};

// What a running trial records besides its parameters, as it happens.
enum class TrialProgress { Report, UserAttr };

// One evaluation of the objective: a plain value, copied into and out of storage.
class Trial {
public:
    using SuggestHook = std::function<ParamValue(Trial&, const std::string&, const Distribution&)>;
    using PruneHook = std::function<bool(const Trial&)>;
    // Told after a report (key empty) or a user attribute (its key) was recorded.
    using ProgressHook = std::function<void(const Trial&, TrialProgress, const std::string& key)>;

    Trial(int trial_id, int study_id);

    // The single objective value; throws std::runtime_error unless values holds exactly one.
    double value() const;
    // Whether constraints are all met; results and samplers that honour constraints rank
    // infeasible trials below every feasible one.
    bool feasible() const;

    double suggest_float(const std::string& name, double low, double high, bool log, std::optional<double> step);
    int suggest_int(const std::string& name, int low, int high, bool log, int step);
    std::string suggest_categorical(const std::string& name, std::vector<std::string> choices);

    // Appends (step, value); nothing is checked or merged.
    void report(double value, int step);
    bool should_prune() const;

    // Throws std::invalid_argument for a key or value holding a NUL character, which a database
    // would cut short.
    void set_user_attr(const std::string& key, const std::string& value);
    std::string get_user_attr(const std::string& key) const;

    // The parameters in the order the trial got them: those param_order lists (each once, in
    // its order), then n_listed onwards the others params holds.
    struct OrderedParams {
        std::vector<const ParamMap::value_type*> params;
        std::size_t n_listed;
    };
    OrderedParams ordered_params() const;

    std::int32_t trial_id;
    std::int32_t study_id;
    TrialState state = TrialState::Running;
    std::vector<double> values;
    ParamMap params;
    ParamMap fixed_params;
    std::unordered_map<std::string, Distribution> distributions;
    std::vector<std::pair<std::int32_t, double>> intermediate_values;
    std::unordered_map<std::string, std::string> user_attrs;
    TimePoint datetime_start;
    TimePoint datetime_complete{};           // the epoch means "not finished"
    std::optional<std::string> fail_reason;  // why a Failed trial failed; empty for the others
    // What the study's constraints made of the trial once its objective returned: the trial is
    // feasible when every value is <= 0 (a NaN is a violation). Empty: no constraints, feasible.
    std::vector<double> constraints;
    // Non-owning references back to the creating study; empty in a detached trial.
    SuggestHook suggest_hook;
    PruneHook prune_hook;
    // The names of params in the order the trial first held them, which is how tables and
    // results list them; a name missing here comes after those listed.
    std::vector<std::string> param_order;
    // What the system noted about the trial, such as "presumed_lost" for one declared lost whose
    // process finished it after all.
    std::unordered_map<std::string, std::string> system_attrs;
    // Set by a study whose storage keeps running trials; stored trials do not carry it.
    ProgressHook progress_hook;

private:
    template <class T, class D>
    T suggest(const std::string& name, D dist);
};

// Whether constraint values are all met: each <= 0, none NaN.
bool constraints_met(const std::vector<double>& constraints);

using Objective = std::function<double(Trial&)>;
using MultiObjective = std::function<std::vector<double>(Trial&)>;
// Called with each finished trial once it is stored, on the thread that ran it, with no lock held.
using TrialEnd = std::function<void(const Trial&)>;

class Study {
public:
    Study(std::vector<StudyDirection> directions, std::shared_ptr<ISampler> sampler = nullptr,
          std::shared_ptr<IPruner> pruner = nullptr, std::shared_ptr<IStorage> storage = nullptr);
    Study(StudyDirection direction, std::shared_ptr<ISampler> sampler = nullptr,
          std::shared_ptr<IPruner> pruner = nullptr, std::shared_ptr<IStorage> storage = nullptr);
    Study(const Study&) = delete;
    Study& operator=(const Study&) = delete;
    ~Study();

    // Copies of the stored trials of this study, ascending trial_id; running trials are absent.
    std::vector<Trial> trials() const;

    Trial make_trial();
    // n_jobs: 1 runs on the calling thread, -1 one worker per hardware thread, 0 nothing.
    // timeout in seconds; no trial starts at or after the deadline.
    void optimize(Objective objective, int n_trials, int n_jobs = 1, std::optional<double> timeout = std::nullopt);
    void optimize_mo(MultiObjective objective, int n_trials, int n_jobs = 1,
                     std::optional<double> timeout = std::nullopt);
    // The same, telling on_end of every finished trial. What on_end throws stops the run and
    // leaves optimize like a storage failure.
    void optimize(Objective objective, int n_trials, int n_jobs, std::optional<double> timeout, TrialEnd on_end);
    void optimize_mo(MultiObjective objective, int n_trials, int n_jobs, std::optional<double> timeout,
                     TrialEnd on_end);
    // Stops the run in progress from starting trials; those already running finish. Safe from any
    // thread, a signal handler's included; the next run starts afresh.
    void stop() noexcept;

    // A new running trial for a loop the caller drives: its suggestions and pruning reach this
    // study as in optimize. tell finishes it (Complete with one value per direction, or Pruned or
    // Failed with none) as the loop does: sampler told, trial stored. Telling a trial that was not
    // asked here, or twice, throws std::invalid_argument. Both are safe from several threads.
    Trial ask();
    void tell(Trial trial, TrialState state, std::vector<double> values = {},
              std::optional<std::string> fail_reason = std::nullopt);

    // Results consider feasible trials only (Trial::feasible).
    Trial best_trial() const;
    double best_value() const;
    ParamMap best_params() const;
    std::vector<Trial> pareto_front() const;
    // a dominates b: nowhere worse and somewhere strictly better, over the indices all three share.
    static bool dominates(const std::vector<double>& a, const std::vector<double>& b,
                          const std::vector<StudyDirection>& directions);

    // Where the storage keeps a queue (a database shared by processes), the set goes there and
    // the next trial of any process takes it; otherwise it waits in this study.
    void enqueue_trial(const ParamMap& params);
    void add_trial(const ParamMap& params, const std::vector<double>& values);
    // The same, the parameters listed in order (the names of params, first to last).
    void add_trial(const ParamMap& params, const std::vector<double>& values, std::vector<std::string> order);
    // Stores trial, as it is, as this study's next trial: its state, parameters, distributions,
    // values, reports, attributes, times, fail reason and constraints (a study copied trial by
    // trial keeps its numbers). Returns the new trial's number. Throws std::invalid_argument for
    // a completed trial without one value per direction.
    int copy_trial(const Trial& trial);

    const std::vector<StudyDirection> directions;
    const std::shared_ptr<ISampler> sampler;
    const std::shared_ptr<IPruner> pruner;  // null: never prune
    const std::shared_ptr<IStorage> storage;
    const std::int32_t study_id;

    // What pruner made for this study when the study took it (IPruner::make_state); null when
    // pruner is not this study's pruner, or made nothing.
    PrunerState* pruner_state(const IPruner& pruner) const;
    // Likewise what sampler made for this study (ISampler::make_state); read it between runs.
    const SamplerState* sampler_state(const ISampler& sampler) const;

private:
    // Reached through the trials' hooks only.
    ParamValue _suggest(Trial& trial, const std::string& name, const Distribution& dist);
    bool _should_prune(const Trial& trial) const;
    void run_trial_so(const Objective& objective);
    void run_trial_mo(const MultiObjective& objective);
    // The trial's proposal (ISampler::propose), with sampler_mutex held, or null for a sampler
    // that does not propose; ended when the trial finishes.
    const ParamMap* propose_for(const Trial& trial);
    void end_proposal(int trial_id);
    struct ProposalEnd;
    template <class Runner>
    void run_loop(const Runner& run_one, int n_trials, int n_jobs, std::optional<double> timeout);
    template <class Result, class Assign>
    void run_trial(const std::function<Result(Trial&)>& objective, const Assign& assign, const TrialEnd& on_end);
    // Completion time, the sampler told, the trial stored, on_end told.
    void finish(Trial&& trial, const TrialEnd& on_end);

    // Whether the sampler has nothing left to propose, which ends a run like stop.
    bool sampler_exhausted() const;
    // A run's next trial; for a sampler that proposes at the start, proposed at once, and none
    // once the sampler is exhausted, so no two trials of a run share a proposal.
    std::optional<Trial> start_trial();
    std::mutex sampler_mutex;                    // serialises this study's sampler calls; guards sampling
    std::unique_ptr<detail::Sampling> sampling;  // set by the constructor
    std::unique_ptr<PrunerState> pruner_state_;  // set by the constructor
    std::deque<ParamMap> enqueued_params;        // guarded by queue_mutex
    std::mutex queue_mutex;
    std::atomic<bool> stopping{false};       // set by stop(), cleared when a run starts
    std::unordered_set<std::int32_t> asked;  // guarded by asked_mutex; asked trials not yet told
    std::mutex asked_mutex;
};

}  // namespace tarvex
