// --trend's time over a lab's collected results: 1000 of loopcheck's JSON
// objects (a latency and a battery each, as a real run's keys, with the
// response's 239 rows) from 10 interfaces, read from a folder, grouped and
// compared, then written as JSON and as the page. The goal:
// thousands of files in seconds.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "loopcheck/baseline/trend.hpp"
#include "loopcheck/report/report_trend.hpp"

namespace {

namespace fs = std::filesystem;

// A folder of count results, 10 identities, a day apart per identity; the last of each regressed.
fs::path results_folder(int count)
{
    const fs::path folder = fs::temp_directory_path() / ("trend_bench_" + std::to_string(count));
    fs::remove_all(folder);
    for (int i = 0; i < count; i++) {
        const int unit = i % 10, day = i / 10;
        const fs::path sub = folder / ("bench-" + std::to_string(unit));
        fs::create_directories(sub);
        const bool last = i >= count - 10;
        nlohmann::json tone = {{"thd_n_db", last ? -90.0 : -96.2 + 0.01 * (day % 7)},
                               {"thd_n_floor", {{"bound", false}}},
                               {"thd_db", -100.0}};
        nlohmann::json channel = {{"thd_n", nlohmann::json::array({tone})},
                                  {"noise", {{"dbfs", -110.0}}},
                                  {"gain_db", -6.02},
                                  {"dynamic_range_db_a", 109.8}};
        nlohmann::json rows = nlohmann::json::array();
        for (int n = -135; n <= 103; n++) {
            const double hz = 1000.0 * std::pow(2.0, n / 24.0);
            rows.push_back({{"hz", hz}, {"level_db", last && hz >= 10000.0 ? -0.5 : 0.0}, {"uncertainty_db", 0.001}});
        }
        channel["response"] = {{"rows", rows}};
        char time[40];
        std::snprintf(time, sizeof time, "2026-%02d-%02dT03:00:00Z", 1 + day / 28, 1 + day % 28);
        const nlohmann::json r = {
            {"program", "loopcheck"},
            {"schema_version", "1.1"},
            {"summary", {{"mean_frames", 556.0 + (last ? 1.0 : 0.0)}, {"latency_uncertainty_frames", 0.001}}},
            {"environment", {{"time", time}, {"key", "usb:08bb:2902:UNIT" + std::to_string(unit)}}},
            {"quality", {{"channels", nlohmann::json::array({channel})}}}};
        std::ofstream(sub / ("run-" + std::to_string(day) + ".json")) << r.dump() << "\n";
    }
    return folder;
}

void TrendOverFolder(benchmark::State& state)
{
    const fs::path folder = results_folder(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        std::vector<trend_result> results;
        size_t unread = 0;
        trend_read(folder.string(), results, unread);
        const std::vector<trend_group> groups = trend_of(std::move(results));
        benchmark::DoNotOptimize(trend_json(groups, unread).dump());
        benchmark::DoNotOptimize(report_trend_html(groups, unread, folder.string(), "now"));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    fs::remove_all(folder);
}
BENCHMARK(TrendOverFolder)->Arg(1000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
