// Database storage on both backends: studies by name, exact round trips, running trials and
// heartbeats, several connections writing one study, schema versions.
#include <chrono>
#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <regex>
#include <set>
#include <thread>

#include "../../src/storage/storage_url.hpp"
#include "storage_fixture.hpp"

using namespace tarvex;
using namespace tarvex::testing;
using namespace std::chrono_literals;
constexpr auto Min = StudyDirection::Minimize;
constexpr auto Max = StudyDirection::Maximize;

TEST_P(Backend, StudiesAreFoundByNameWithTheirDirections) {
    const auto db = open();
    const StudyRecord a = db->create_study(kOdd, {Min, Max});
    db->create_study("b", {Max});
    EXPECT_THROW(db->create_study(kOdd, {Min}), std::invalid_argument);
    EXPECT_THROW(db->create_study("none", {}), std::invalid_argument);
    const StudyRecord loaded = open()->load_study(kOdd);  // from another connection
    EXPECT_EQ(loaded.id, a.id);
    EXPECT_EQ(loaded.directions, (std::vector{Min, Max}));
    EXPECT_EQ(db->studies().size(), 2u);
    db->delete_study("b");
    EXPECT_THROW(db->load_study("b"), std::out_of_range);
    EXPECT_THROW(db->delete_study("b"), std::out_of_range);
    ASSERT_EQ(db->studies().size(), 1u);
    EXPECT_EQ(db->studies()[0].name, kOdd);
}

TEST_P(Backend, TrialsReadBackExactlyInAnotherConnection) {
    const auto db = open();
    const StudyRecord record = db->create_study("s", {Min});
    Study study(Min, nullptr, nullptr, db->study_storage(record));
    Trial t = study.ask();
    t.suggest_float("f", 1e-8, 1e8, true, std::nullopt);
    t.suggest_float("stepped", -1, 1, false, 0.1);
    t.suggest_int("i", -7, 2147483647, false, 3);
    t.suggest_categorical("c", {kOdd, "", "tab\there"});
    t.report(0.1, 0);
    t.report(-std::numeric_limits<double>::infinity(), 2147483647);
    t.report(std::nan(""), 3);
    t.set_user_attr(kOdd, kOdd);
    t.set_user_attr("empty", "");
    const Trial sent = t;
    study.tell(std::move(t), TrialState::Complete, {std::numeric_limits<double>::denorm_min()});
    study.tell(study.ask(), TrialState::Failed, {}, kOdd);
    study.tell(study.ask(), TrialState::Pruned);

    Study again(Min, nullptr, nullptr, open()->study_storage(open()->load_study("s")));
    const std::vector<Trial> got = again.trials();
    ASSERT_EQ(got.size(), 3u);
    const Trial& back = got[0];
    EXPECT_EQ(back.trial_id, sent.trial_id);
    EXPECT_EQ(back.study_id, again.study_id);
    EXPECT_EQ(back.params, sent.params);
    EXPECT_EQ(back.distributions, sent.distributions);
    EXPECT_EQ(back.user_attrs, sent.user_attrs);
    EXPECT_EQ(back.values, std::vector{std::numeric_limits<double>::denorm_min()});
    ASSERT_EQ(back.intermediate_values.size(), 3u);
    EXPECT_EQ(back.intermediate_values[1], sent.intermediate_values[1]);
    EXPECT_TRUE(std::isnan(back.intermediate_values[2].second));
    EXPECT_EQ(std::chrono::duration_cast<std::chrono::microseconds>(back.datetime_start.time_since_epoch()),
              std::chrono::duration_cast<std::chrono::microseconds>(sent.datetime_start.time_since_epoch()));
    EXPECT_EQ(got[1].state, TrialState::Failed);
    EXPECT_EQ(got[1].fail_reason, kOdd);
    EXPECT_EQ(got[2].state, TrialState::Pruned);
    EXPECT_EQ(again.storage->get_trial(sent.trial_id).params, sent.params);
    EXPECT_THROW(again.storage->get_trial(sent.trial_id + 1000), std::out_of_range);
}

TEST_P(Backend, RunningTrialsShowTheirParametersAndAreFailedOnceTheirHeartbeatIsLost) {
    const StudyRecord record = open()->create_study("s", {Min});
    auto beating = open(0.5);
    Study alive(Min, nullptr, nullptr, beating->study_storage(record));
    Trial kept = alive.ask();
    kept.suggest_float("x", 0, 1, false, std::nullopt);
    {
        auto dying = open(0.5);
        Study lost(Min, nullptr, nullptr, dying->study_storage(record));
        Trial orphan = lost.ask();
        orphan.suggest_int("n", 0, 9, false, 1);
        Study reader(Min, nullptr, nullptr, open(0.5)->study_storage(record));
        const std::vector<Trial> seen = reader.trials();
        ASSERT_EQ(seen.size(), 2u);
        EXPECT_EQ(seen[1].state, TrialState::Running);
        EXPECT_EQ(seen[1].params.at("n"), orphan.params.at("n"));
    }  // its process is gone: no more heartbeats
    std::this_thread::sleep_for(800ms);
    Study reader(Min, nullptr, nullptr, open(0.5)->study_storage(record));
    const std::vector<Trial> seen = reader.trials();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].state, TrialState::Running);  // still beating
    EXPECT_EQ(seen[1].state, TrialState::Failed);
    EXPECT_EQ(seen[1].fail_reason, "heartbeat lost");
    alive.tell(std::move(kept), TrialState::Complete, {1.0});
    EXPECT_EQ(reader.trials()[0].state, TrialState::Complete);
}

TEST_P(Backend, AReadOnlyStorageReadsLiveTrialsAndWritesNothing) {
    const StudyRecord record = open()->create_study("s", {Min});
    StorageOptions options;
    options.heartbeat_grace = 0.5;
    options.read_only = true;
    const auto reader = DatabaseStorage::open(url, options);
    const auto storage = reader->study_storage(record);
    std::uint64_t cursor = 0;
    {
        auto dying = open(0.5);
        Study lost(Min, nullptr, nullptr, dying->study_storage(record));
        Trial orphan = lost.ask();
        orphan.suggest_float("x", 0, 1, false, std::nullopt);
        const std::vector<StoredTrial> seen = storage->trials_since(0, cursor);
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0]->state, TrialState::Running);
        EXPECT_EQ(seen[0]->params.count("x"), 1u);
    }  // its process is gone, but a reader that may not write leaves the trial as it is
    std::this_thread::sleep_for(800ms);
    EXPECT_TRUE(storage->trials_since(0, cursor).empty());
    EXPECT_EQ(reader->load_study("s").id, record.id);

    for (const auto& [what, write] : std::vector<std::pair<std::string, std::function<void()>>>{
             {"create_study", [&] { reader->create_study("t", {Min}); }},
             {"delete_study", [&] { reader->delete_study("s"); }},
             {"set_study_user_attr", [&] { reader->set_study_user_attr(record, "k", "v"); }},
             {"starting a trial", [&] { Study(Min, nullptr, nullptr, storage).ask(); }}}) {
        try {
            write();
            ADD_FAILURE() << what << " wrote to a read-only storage";
        } catch (const StorageError& e) {
            EXPECT_NE(std::string(e.what()).find("read-only; " + what), std::string::npos) << e.what();
        }
    }
    EXPECT_EQ(open()->studies().size(), 1u);
    options.create = true;
    EXPECT_THROW(DatabaseStorage::open(url, options), std::invalid_argument);
}

TEST_P(Backend, ConnectionsWritingOneStudyKeepIdentifiersUniqueAndSeeEachOther) {
    const StudyRecord record = open()->create_study("s", {Min});
    auto pruner = std::make_shared<MedianPruner>(2, 0, 50.0);
    const auto run = [&] {
        Study study(Min, std::make_shared<GPSampler>(GPSamplerConfig{.n_warmup = 5}), pruner,
                    open()->study_storage(record));
        study.optimize(
            [](Trial& t) {
                const double v = objective(t);
                for (int step = 0; step < 3; ++step) {
                    t.report(v + step, step);
                    if (t.should_prune()) throw TrialPruned();
                }
                return v;
            },
            15, 2);
    };
    std::jthread a(run), b(run);
    a.join();
    b.join();
    Study reader(Min, nullptr, nullptr, open()->study_storage(record));
    std::set<int> ids;
    int pruned = 0;
    for (const Trial& t : reader.trials()) {
        ids.insert(t.trial_id);
        EXPECT_NE(t.state, TrialState::Running);
        pruned += t.state == TrialState::Pruned;
    }
    EXPECT_EQ(ids.size(), 30u);
    EXPECT_EQ(*ids.rbegin(), 29);  // numbered 0, 1, 2, ... within the study
    EXPECT_GT(pruned, 0);
    EXPECT_LT(reader.best_value(), 10.0);
}

TEST_P(Backend, GPSamplersOfTwoProcessesAvoidEachOthersRunningPoints) {
    const auto storage = open();
    const StudyRecord record = storage->create_study("s", {Min});
    Study seed(Min, nullptr, nullptr, storage->study_storage(record));
    seed.optimize([](Trial& t) { return std::abs(t.suggest_float("x", -5, 5, false, std::nullopt) - 1.3); }, 10);
    // Identical samplers over identical data choose identically; only the other's running trial,
    // read from the storage, can set them apart.
    const auto point_of = [&](Study& study) {
        Trial t = study.ask();
        return std::pair(t.suggest_float("x", -5, 5, false, std::nullopt), std::move(t));
    };
    Study first(Min, std::make_shared<GPSampler>(GPSamplerConfig{.seed = 3}), nullptr, open()->study_storage(record));
    Study second(Min, std::make_shared<GPSampler>(GPSamplerConfig{.seed = 3}), nullptr, open()->study_storage(record));
    const auto [a, kept] = point_of(first);
    const auto [b, other] = point_of(second);
    EXPECT_GT(std::abs(a - b), 1e-3) << a << " " << b;
}

TEST_P(Backend, ASchemaOfAnotherVersionIsRefusedNamingTheStorage) {
    open();
    raw_sql("UPDATE tarvex_meta SET number = 99 WHERE name = 'schema_version'");
    const std::string error = error_of([&] { open(); });
    EXPECT_NE(error.find(url), std::string::npos) << error;
    EXPECT_NE(error.find("schema version 99"), std::string::npos) << error;
}

TEST_P(Backend, AVersionOneDatabaseIsUpgradedWhereItStands) {
    // Version 1's tables, as the first stored studies wrote them, with a study of two trials:
    // one finished, one whose process died (its own heartbeat, long ago).
    const bool sqlite = GetParam() == "sqlite";
    const std::string serial = sqlite ? "INTEGER PRIMARY KEY AUTOINCREMENT" : "BIGSERIAL PRIMARY KEY";
    const std::string ref = "trial_id BIGINT NOT NULL REFERENCES tarvex_trials(trial_id) ON DELETE CASCADE";
    for (const std::string& sql :
         {"CREATE TABLE tarvex_studies (study_id " + serial +
              ", name TEXT NOT NULL UNIQUE, directions TEXT NOT NULL,"
              " datetime_created BIGINT NOT NULL)",
          "CREATE TABLE tarvex_trials (trial_id " + serial +
              ", study_id BIGINT NOT NULL REFERENCES tarvex_studies(study_id)"
              " ON DELETE CASCADE, number INTEGER NOT NULL, state INTEGER NOT NULL, datetime_start BIGINT NOT NULL,"
              " datetime_complete BIGINT NOT NULL, heartbeat BIGINT NOT NULL, fail_reason TEXT, change BIGINT NOT NULL,"
              " UNIQUE (study_id, number))",
          "CREATE TABLE tarvex_params (" + ref +
              ", name TEXT NOT NULL, kind INTEGER NOT NULL, number DOUBLE PRECISION,"
              " text TEXT, distribution TEXT, PRIMARY KEY (trial_id, name))",
          "CREATE TABLE tarvex_values (" + ref +
              ", idx INTEGER NOT NULL, value DOUBLE PRECISION, PRIMARY KEY (trial_id, idx))",
          "CREATE TABLE tarvex_reports (" + ref +
              ", idx INTEGER NOT NULL, step INTEGER NOT NULL, value DOUBLE PRECISION,"
              " PRIMARY KEY (trial_id, idx))",
          "CREATE TABLE tarvex_user_attrs (" + ref +
              ", key TEXT NOT NULL, value TEXT NOT NULL, PRIMARY KEY (trial_id, key))",
          std::string("CREATE TABLE tarvex_meta (name TEXT PRIMARY KEY, number BIGINT NOT NULL)"),
          std::string("INSERT INTO tarvex_meta (name, number) VALUES ('schema_version', 1), ('change', 2)"),
          std::string("INSERT INTO tarvex_studies (name, directions, datetime_created) VALUES ('old', 'maximize', 0)"),
          std::string(
              "INSERT INTO tarvex_trials (study_id, number, state, datetime_start, datetime_complete, heartbeat,"
              " change) VALUES (1, 0, 1, 1000, 2000, 2000, 1), (1, 1, 0, 3000, 0, 3000, 2)"),
          std::string("INSERT INTO tarvex_params (trial_id, name, kind, number, distribution) VALUES"
                      " (1, 'b', 0, 0.5, 'float 0 1 0 -'), (1, 'a', 1, 3, 'int 0 5 0 1')"),
          std::string("INSERT INTO tarvex_values (trial_id, idx, value) VALUES (1, 0, 7.5)")}) {
        if (sqlite) {
            std::filesystem::create_directories(dir);
            raw_sql(sql.find("DOUBLE") != std::string::npos
                        ? std::regex_replace(sql, std::regex("DOUBLE PRECISION"), "REAL")
                        : sql);
        } else {
            admin(sql, name);
        }
    }
    const auto storage = open(0.5);
    Study study(Max, nullptr, nullptr, storage->study_storage(storage->load_study("old")));
    const std::vector<Trial> trials = study.trials();
    ASSERT_EQ(trials.size(), 2u);
    EXPECT_EQ(trials[0].values, std::vector<double>{7.5});
    EXPECT_EQ(trials[0].params, (ParamMap{{"a", 3}, {"b", 0.5}}));
    EXPECT_EQ(trials[0].param_order, (std::vector<std::string>{"a", "b"}));  // written before positions: by name
    EXPECT_EQ(trials[1].state, TrialState::Failed);
    EXPECT_EQ(trials[1].fail_reason, "heartbeat lost");
    study.optimize([](Trial& t) { return t.suggest_float("b", 0, 1, false, std::nullopt); }, 2);
    EXPECT_EQ(study.trials().size(), 4u);
    EXPECT_EQ(study.best_trial().trial_id >= 0, true);
    EXPECT_EQ(error_of([&] { open(); }), "no error");  // opens again without upgrading twice
}

TEST_P(Backend, AVersionTwoDatabaseGainsConstraintsObjectiveNamesAndStudyAttributes) {
    {
        const auto storage = open();
        Study study(Min, nullptr, nullptr, storage->study_storage(storage->create_study("old", {Min})));
        study.add_trial({{"x", 0.5}}, {2.0});
    }
    // Version 2 is version 4 without these columns and this table.
    raw_sql("DROP TABLE tarvex_study_attrs");
    raw_sql("ALTER TABLE tarvex_trials DROP COLUMN constraints");
    raw_sql("ALTER TABLE tarvex_studies DROP COLUMN objective_names");
    raw_sql("UPDATE tarvex_meta SET number = 2 WHERE name = 'schema_version'");
    StorageOptions read_only;
    read_only.read_only = true;
    const std::string refused = error_of([&] { DatabaseStorage::open(url, read_only); });
    EXPECT_NE(refused.find("schema version 2, which this tarvex upgrades to 4 when it may write to it"),
              std::string::npos)
        << refused;
    const auto storage = open();
    const StudyRecord old = storage->load_study("old");
    EXPECT_TRUE(old.objective_names.empty());
    Study study(Min, nullptr, nullptr, storage->study_storage(old));
    ASSERT_EQ(study.trials().size(), 1u);
    EXPECT_TRUE(study.trials()[0].constraints.empty());
    Trial t = study.ask();
    t.constraints = {-1.0, 0.0};
    study.tell(std::move(t), TrialState::Complete, {1.0});
    EXPECT_EQ(open()->load_study("old").objective_names, std::vector<std::string>{});
    EXPECT_EQ(study.trials()[1].constraints, (std::vector<double>{-1.0, 0.0}));
    storage->set_study_user_attr(old, "owner", "\"ana\"");
    EXPECT_EQ(open()->study_user_attrs(old), (std::map<std::string, std::string>{{"owner", "\"ana\""}}));
}

TEST_P(Backend, StudyAttributesAreReplacedKeptPerStudyAndGoWithTheStudy) {
    const auto storage = open();
    const StudyRecord a = storage->create_study("a", {Min}), b = storage->create_study("b", {Min});
    storage->set_study_user_attr(a, "k", "1");
    storage->set_study_user_attr(a, "k", "2");  // replaced, not added
    storage->set_study_user_attr(a, "it's \"odd\"; ✓", kOdd);
    storage->set_study_user_attr(b, "k", "4");
    EXPECT_EQ(open()->study_user_attrs(a), (std::map<std::string, std::string>{{"k", "2"}, {"it's \"odd\"; ✓", kOdd}}));
    EXPECT_EQ(open()->study_user_attrs(b).at("k"), "4");
    EXPECT_THROW(storage->set_study_user_attr(a, std::string("n\0ul", 4), "1"), std::invalid_argument);
    storage->delete_study("a");
    EXPECT_TRUE(storage->study_user_attrs(a).empty());
    EXPECT_THROW(storage->set_study_user_attr(a, "k", "5"), StudyNotFound);
}

TEST_P(Backend, ACopiedTrialIsStoredExactlyUnderTheNextNumber) {
    Trial source(7, 0);
    source.state = TrialState::Failed;
    source.params = {{"x", 0.25}, {"c", kOdd}};
    source.param_order = {"x", "c"};
    source.distributions = {{"x", FloatDist{0, 1, false, std::nullopt}}, {"c", CategoricalDist{{kOdd, "b"}}}};
    source.intermediate_values = {{0, 3.0}, {2, 1.5}};
    source.user_attrs = {{"note", "\"n\""}};
    source.system_attrs = {{"presumed_lost", "heartbeat lost"}};
    source.fail_reason = "ValueError: bad";
    source.constraints = {0.5};
    source.datetime_start = TimePoint(std::chrono::seconds(1000));
    source.datetime_complete = TimePoint(std::chrono::seconds(1010));
    const auto storage = open();
    Study study(Min, nullptr, nullptr, storage->study_storage(storage->create_study("copy", {Min})));
    study.add_trial({{"x", 0.5}}, {1.0});
    EXPECT_EQ(study.copy_trial(source), 1);
    Trial complete = source;
    complete.state = TrialState::Complete;
    EXPECT_THROW(study.copy_trial(complete), std::invalid_argument);  // no value for its direction
    complete.values = {0.75};
    complete.constraints = {};  // feasible, so the best
    EXPECT_EQ(study.copy_trial(complete), 2);

    Study again(Min, nullptr, nullptr, open()->study_storage(open()->load_study("copy")));
    const std::vector<Trial> trials = again.trials();
    ASSERT_EQ(trials.size(), 3u);
    const Trial& got = trials[1];
    EXPECT_EQ(got.trial_id, 1);
    EXPECT_EQ(got.state, source.state);
    EXPECT_EQ(got.params, source.params);
    EXPECT_EQ(got.param_order, source.param_order);
    EXPECT_EQ(got.distributions, source.distributions);
    EXPECT_EQ(got.intermediate_values, source.intermediate_values);
    EXPECT_EQ(got.user_attrs, source.user_attrs);
    EXPECT_EQ(got.system_attrs, source.system_attrs);
    EXPECT_EQ(got.fail_reason, source.fail_reason);
    EXPECT_EQ(got.constraints, source.constraints);
    EXPECT_EQ(got.datetime_start, source.datetime_start);
    EXPECT_EQ(got.datetime_complete, source.datetime_complete);
    EXPECT_EQ(again.best_value(), 0.75);
}

TEST_P(Backend, ConstraintsAndObjectiveNamesReadBackAndResultsAreFeasibleOnly) {
    const auto storage = open();
    EXPECT_THROW(storage->create_study("s", {Min, Max}, {"error"}), std::invalid_argument);
    EXPECT_THROW(storage->create_study("s", {Min, Max}, {"a", "a"}), std::invalid_argument);
    storage->create_study("s", {Min, Max}, {kOdd, "latency ms"});
    const StudyRecord mo = open()->load_study("s");
    EXPECT_EQ(mo.objective_names, (std::vector<std::string>{kOdd, "latency ms"}));
    EXPECT_EQ(open()->studies().at(0).objective_names, mo.objective_names);

    Study study(Min, nullptr, nullptr, storage->study_storage(storage->create_study("c", {Min})));
    const auto tell = [&](double value, std::vector<double> constraints) {
        Trial t = study.ask();
        t.constraints = std::move(constraints);
        study.tell(std::move(t), TrialState::Complete, {value});
    };
    tell(0.0, {0.5});  // best value, infeasible
    EXPECT_THROW(
        {
            try {
                study.best_trial();
            } catch (const std::runtime_error& e) {
                EXPECT_NE(std::string(e.what()).find("No feasible trials"), std::string::npos) << e.what();
                throw;
            }
        },
        std::runtime_error);
    tell(3.0, {-1.0, 0.0});
    tell(1.0, {std::nan("")});  // a NaN constraint is a violation
    tell(2.0, {});
    Study again(Min, nullptr, nullptr, open()->study_storage(open()->load_study("c")));
    EXPECT_EQ(again.best_value(), 2.0);
    EXPECT_EQ(again.trials()[1].constraints, (std::vector<double>{-1.0, 0.0}));
    EXPECT_TRUE(std::isnan(again.trials()[2].constraints.at(0)));
}

TEST_P(Backend, RunningTrialsShareWhatTheyRecordAndTheQueueOfEnqueuedParameters) {
    const auto storage = open();
    const StudyRecord record = storage->create_study("s", {Min});
    Study here(Min, nullptr, nullptr, storage->study_storage(record));
    Study there(Min, nullptr, nullptr, open()->study_storage(record));
    here.enqueue_trial({{"x", 0.75}});
    Trial running = there.ask();  // another connection takes what this one enqueued
    EXPECT_EQ(suggest_x(running), 0.75);
    running.report(0.5, 3);
    running.set_user_attr("phase", "warm");
    Trial seen = here.trials().at(0);
    EXPECT_EQ(seen.state, TrialState::Running);
    EXPECT_EQ(seen.intermediate_values, (std::vector<std::pair<std::int32_t, double>>{{3, 0.5}}));
    EXPECT_EQ(seen.user_attrs.at("phase"), "warm");
    there.tell(std::move(running), TrialState::Complete, {1.0});
    EXPECT_EQ(here.best_value(), 1.0);
    EXPECT_EQ(here.trials().at(0).intermediate_values.size(), 1u);  // written once
    EXPECT_TRUE(there.ask().fixed_params.empty());                  // taken once
}

INSTANTIATE_TEST_SUITE_P(Storage, Backend, ::testing::Values("sqlite", "postgresql"));
