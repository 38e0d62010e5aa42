// --quality as a mode: its options, the limits read before anything is
// measured, the battery's clips given to the stream, its run on the loops as
// the latency found them, and its judgement against --limits.
#include <cmath>
#include <cstdio>

#include "loopcheck/options/options.hpp"
#include "loopcheck/quality/limits_file.hpp"
#include "loopcheck/quality/quality.hpp"

namespace {

// clang-format off
constexpr option_row quality_rows[] = {
    {"--quality", "",
     "after the latency, measure THD+N, harmonics, noise, dynamic range, IMD, gain, response, crosstalk and "
     "channel match per loop",
     "The battery prints its length before it starts.", 0.0, 0.0, "", "", option_kind::flag},
    {"--limits", "FILE.json", "judge the battery's figures against the file's limits (implies --quality)",
     "A JSON object of limits over the worst loop, such as {\"thd_n_db\": {\"max\": -55}, \"gain_db\": {\"min\": "
     "-0.5, \"max\": 0.5}}. Keys: thd_n_db, thd_db, noise_dbfs, noise_dbfs_a, dynamic_range_db_a, imd_smpte_db, "
     "imd_ccif_db, crosstalk_db, response_deviation_db, gain_db, latency_frames, clock_rate_ppm (the interface's "
     "clock against the system's over the stream, taken after 5 s: {\"clock_rate_ppm\": {\"min\": -50, \"max\": 50}} "
     "holds it within 50 ppm; under 5 s it is not taken and fails). The file is read before any device "
     "is opened: one that cannot be read, is not such JSON, or names an unknown key gives exit status 2."},
    {"--crosstalk", "METHOD",
     "how the battery takes crosstalk between loops (implies --quality): auto, aes17, all-driven or both",
     "aes17: each loop in turn driven alone with 997 Hz at -1 dBFS, the others silent, each read in a narrow band at "
     "the tone (one segment a loop, 0.89 s at 48 kHz); all-driven: one segment in which every loop plays its own "
     "tones near the octave centres at -19 dBFS each, every pair at every octave, as in use (its floor 18 dB higher, "
     "and crosstalk that grows with the level driven less); both; auto: both with two loops (the battery 8.03 s at "
     "48 kHz), all-driven from three. The report names the method of each figure; crosstalk_db is AES17's where "
     "taken.",
     0.0, 0.0, "auto"},
};
// clang-format on

// --quality, or --limits or --crosstalk (which imply it), the file read and checked now, the method by its name.
std::string quality_read(const option_values& v, battery_plan& p, bool& asked)
{
    asked = option_given(v, "--quality") || option_given(v, "--limits") || option_given(v, "--crosstalk");
    p.max_delay_s = option_number(v, "--max-delay", p.max_delay_s);
    std::string problem = options_loops(v, p.out_channels, p.in_channels);
    if (problem.empty() && option_given(v, "--crosstalk")) {
        const std::string method = option_text(v, "--crosstalk");
        if (!quality_plan_method_parse(method, p.crosstalk))
            problem = "--crosstalk \"" + method + "\" is not a method: auto, aes17, all-driven or both";
    }
    if (problem.empty() && option_given(v, "--limits")) {
        const std::string path = option_text(v, "--limits");
        p.limits = limits_file_read(path);
        if (!p.limits.error.empty())
            problem = "--limits " + path + ": " + p.limits.error;
    }
    return problem;
}

// The battery for the stream's rate and loops, its clips, and the ring a segment beyond the longest loop needs.
std::string quality_prepare(battery_plan& p, stream& s)
{
    const stream_facts& f = stream_facts_of(s);
    p.plan = quality_plan_make(f.rate, f.loops, p.crosstalk);
    if (!p.plan.error.empty())
        return p.plan.error;
    p.clips = quality_run_clips(s, p.plan);
    stream_ring_need(s, quality_run_ring_frames(p.plan, std::lrint(p.max_delay_s * f.rate)));
    return "";
}

battery_outcome quality_run(const battery_plan& p, const mode_prior& prior, mode_run& run)
{
    // The battery's length from its own plan, before it plays.
    if (!run.live.json && !run.live.quiet) {
        const size_t loops = p.out_channels.size();
        char line[160];
        std::snprintf(
            line, sizeof line, "loopcheck: the quality battery: %.2f s of tones and sweeps on %zu loop%s at %g Hz\n",
            static_cast<double>(quality_plan_frames(p.plan)) / p.plan.rate, loops, loops == 1 ? "" : "s", p.plan.rate);
        run.live.warn(line);
    }
    return quality_run_measure(run.s, p, prior.latency_frames, run.wait, run.interrupted);
}

// How the battery ended, and its figures against --limits: one check that
// decides (outside limits: the figures that failed), and a record per figure,
// a bound marked (it met a max at or above it; it never meets a min).
mode_judgement quality_judge(const battery_outcome& o)
{
    mode_judgement j;
    check_end(j, "quality", o.end);
    if (o.end.ran && o.quality.judged) {
        std::string failed;
        for (const quality_verdict& v : o.quality.verdicts) {
            mode_check c;
            c.name = v.figure, c.value = v.value, c.bound = v.bound, c.min = v.min, c.max = v.max;
            c.unit = check_unit_of(v.figure);
            c.direction = v.min && v.max ? check_direction::closer
                          : v.max        ? check_direction::lower
                                         : check_direction::higher;
            c.result = v.pass ? check_result::pass : check_result::fail;
            j.checks.push_back(c);
            if (!v.pass)
                failed += (failed.empty() ? "" : ", ") + v.figure;
        }
        if (!failed.empty())
            j.checks.push_back(check_failed("limits", check_status::outside_limits, "outside limits: " + failed));
    }
    // A battery cut short leaves the loop to no one after it.
    if (o.end.failure == check_status::interrupted || o.end.failure == check_status::error)
        j.blocks = std::string(check_status_of(o.end.failure).text);
    return j;
}

}  // namespace

std::span<const option_row> quality_options() { return quality_rows; }

mode_row quality_mode()
{
    mode_functions<battery_plan, battery_outcome> f;
    f.read = quality_read, f.prepare = quality_prepare, f.run = quality_run, f.judge = quality_judge;
    f.text = quality_text, f.json = quality_json, f.html = quality_html;
    mode_row row = mode_make("quality", "--quality", quality_options(), f);
    row.plays_on_loop = true, row.noted = true;
    return row;
}
