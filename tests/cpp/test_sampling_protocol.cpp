// The two stages of a sampler as a study drives them: one proposal per trial, names outside it
// sampled one by one, pending trials as input, state made per study and gone with it.
#include "stubs.hpp"
#include "tarvex/saved_state.hpp"

using namespace tarvex;
using namespace tarvex::testing;

namespace {

// Proposes {x: 0.25, k: 7} to every trial, counting what it is asked and what it sees pending.
class ProposingSampler : public StubSampler {
public:
    struct State : SamplerState {
        int proposals = 0;
        std::shared_ptr<int> alive = std::make_shared<int>(0);
    };
    bool proposes() const override { return true; }
    std::unique_ptr<SamplerState> make_state(const Study&) override {
        auto state = std::make_unique<State>();
        states.push_back(state->alive);
        return state;
    }
    ParamMap propose(const History& history, const Trial&, SamplerState* state) override {
        if (fail_next) {
            fail_next = false;
            throw std::runtime_error("no model");
        }
        ++static_cast<State*>(state)->proposals;
        pending_seen = history.pending.size();
        stored_seen = history.trials.size();
        return {{"x", 0.25}, {"k", 7}};
    }
    std::vector<std::weak_ptr<int>> states;
    std::size_t pending_seen = 0, stored_seen = 0;
    bool fail_next = false;
};

}  // namespace

TEST(SamplingProtocol, AProposalServesTheNamesItCoversWithValuesTheRequestCanTake) {
    const auto sampler = std::make_shared<ProposingSampler>();
    Study study(StudyDirection::Minimize, sampler);
    Trial t = study.ask();
    EXPECT_EQ(suggest_x(t), 0.25);
    EXPECT_EQ(t.suggest_int("k", 0, 5, false, 1), 1);                 // 7 lies outside: sampled on its own
    EXPECT_EQ(t.suggest_float("y", 0, 1, false, std::nullopt), 0.5);  // not proposed
    EXPECT_EQ(sampler->sample_calls.load(), 2);
    // One proposal per trial, made when it first asked; the next trial sees this one pending.
    Trial u = study.ask();
    EXPECT_EQ(suggest_x(u), 0.25);
    EXPECT_EQ(sampler->pending_seen, 1u);
    study.tell(t, TrialState::Complete, {1.0});
    Trial v = study.ask();
    suggest_x(v);
    EXPECT_EQ(sampler->pending_seen, 1u);  // u only: t finished
    EXPECT_EQ(sampler->stored_seen, 1u);
}

TEST(SamplingProtocol, AFailedProposalIsAskedAgainAndStateDiesWithItsStudy) {
    const auto sampler = std::make_shared<ProposingSampler>();
    {
        Study study(StudyDirection::Minimize, sampler);
        Trial t = study.ask();
        sampler->fail_next = true;
        EXPECT_EQ(error_of([&] { suggest_x(t); }), "no model");
        EXPECT_EQ(suggest_x(t), 0.25);
        Study other(StudyDirection::Minimize, sampler);
        ASSERT_EQ(sampler->states.size(), 2u);
        EXPECT_FALSE(sampler->states[1].expired());
    }
    for (const auto& state : sampler->states) EXPECT_TRUE(state.expired());
}

TEST(SamplingProtocol, EnqueuedValuesComeBeforeTheProposal) {
    const auto sampler = std::make_shared<ProposingSampler>();
    Study study(StudyDirection::Minimize, sampler);
    study.enqueue_trial({{"x", 0.75}});
    study.optimize([](Trial& t) { return suggest_x(t); }, 2);
    const auto trials = study.trials();
    EXPECT_EQ(std::get<double>(trials[0].params.at("x")), 0.75);
    EXPECT_EQ(std::get<double>(trials[1].params.at("x")), 0.25);
}

namespace {

// The configurations a fresh study gets from sampler over n trials of a mixed space.
std::vector<ParamMap> configs_of(const std::shared_ptr<ISampler>& sampler, int n) {
    Study study(StudyDirection::Minimize, sampler);
    study.optimize(
        [](Trial& t) {
            const double x = t.suggest_float("x", -2, 2, false, std::nullopt);
            const auto k = t.suggest_int("k", 1, 9, false, 1);
            return x * x + static_cast<double>(k) + (t.suggest_categorical("c", {"a", "b"}) == "a");
        },
        n);
    std::vector<ParamMap> out;
    for (const Trial& t : study.trials()) out.push_back(t.params);
    return out;
}

template <class Config>
Config seeded(std::uint64_t seed) {
    Config config;
    config.seed = seed;
    return config;
}

}  // namespace

TEST(SamplingProtocol, ARestoredSamplerGoesOnExactlyAsTheOneItsStateCameFrom) {
    // Seed 0, a generator of its own, leaves the state alone to make two samplers agree; CMA-ES's
    // search draws from the study's generator, seeded afresh per study, so it needs a seed.
    TPESamplerConfig tpe;
    tpe.n_startup_trials = 4;
    GPSamplerConfig gp;
    gp.n_warmup = 4;
    const std::vector<std::function<std::shared_ptr<ISampler>()>> kinds = {
        [] { return std::make_shared<RandomSampler>(0); },
        [&] { return std::make_shared<TPESampler>(tpe); },
        [&] { return std::make_shared<GPSampler>(gp); },
        [] { return std::make_shared<AutoSampler>(AutoSamplerConfig{}); },
        [] { return std::make_shared<CMAESSampler>(seeded<CMAESSamplerConfig>(3)); },
    };
    for (std::size_t kind = 0; kind < kinds.size(); ++kind) {
        SCOPED_TRACE(kind);
        const auto used = kinds[kind]();
        configs_of(used, 6);  // the generators move on
        const auto copy = kinds[kind]();
        copy->restore_state(used->saved_state());
        EXPECT_EQ(copy->saved_state(), used->saved_state());
        EXPECT_EQ(configs_of(copy, 8), configs_of(used, 8));
        // Anything else is refused, and the sampler stays as it was.
        const std::string before = copy->saved_state();
        for (const std::string& bad : {std::string("junk"), before + "1:x", before.substr(0, before.size() / 2)}) {
            EXPECT_THROW(copy->restore_state(bad), std::invalid_argument);
        }
        EXPECT_EQ(copy->saved_state(), before);
    }
    // A GP state naming a parameter twice would leave a warm-up dimension without a name.
    GPSampler named(gp);
    const std::string unchanged = named.saved_state();
    const std::string twice = utils::StateWriter().add(std::mt19937_64{}).add(std::int64_t{2}).add("x").add("x").text();
    EXPECT_THROW(named.restore_state(twice), std::invalid_argument);
    EXPECT_EQ(named.saved_state(), unchanged);
    // A sampler that carries nothing saves nothing and takes nothing else.
    SobolSampler sobol(5);
    EXPECT_EQ(sobol.saved_state(), "");
    EXPECT_NO_THROW(sobol.restore_state(""));
    EXPECT_THROW(sobol.restore_state("3:abc"), std::invalid_argument);
}
