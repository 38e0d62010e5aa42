// Runs, retries, verdicts.
#include "loopcheck/runs.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

namespace {

constexpr double run_gap_s = 0.02;  // silence between one run's capture and the next sweep

void verdict(check_report& r, check_status status, const std::string& message)
{
    r.status = status, r.message = message;
}

bool interrupted(const runs_setup& setup) { return setup.interrupted && setup.interrupted->load(); }

// "no loop found within N frames (S s)", what may be wrong, and where a loop
// too long for --max-delay showed its peak.
std::string no_loop_message(const check_report& r, int64_t last_lag, const run_capture& capture)
{
    char text[320];
    std::snprintf(text, sizeof text, "no loop found within %lld frames (%.3f s)", static_cast<long long>(last_lag),
                  static_cast<double>(last_lag) / r.rate);
    if (capture.beyond)
        return text + std::string(": the loop is longer, its sweep came back from about ") +
               std::to_string(capture.result.peak) + " frames on; a longer --max-delay measures it";
    return text + std::string(": check the cable, the channels (--out, --in), that the output is not muted, and "
                              "any monitoring; a longer loop needs --max-delay");
}

// One run: attempts until one is not spoiled (three at most), measured again
// with the long sweep if the short one leaves the loop weak or unseen. A
// spoiled attempt is retried before anything is judged of its peak. False
// when the session ends here, with its verdict set.
bool run_one(check_report& r, stream_state& s, const runs_setup& setup, const capture_wait& wait, capture_plan& plan,
             run_report& run, run_capture& kept)
{
    const bool response = !r.options.response_file.empty();
    for (run.attempts = 1;;) {
        const bool long_sweep = plan.clip == setup.long_clip, response_sweep = plan.clip == setup.response_clip;
        plan.sweep = long_sweep ? setup.long_sweep : response_sweep ? setup.response_sweep : setup.short_sweep;
        plan.quiet = response ? runs_quiet_frames(r.rate) : 0;
        run_capture capture = capture_run(s, plan, wait);
        if (r.first_sound_frame < 0)
            r.first_sound_frame = capture.start;
        plan.lead = std::lrint(run_gap_s * r.rate);
        if (interrupted(setup))
            return verdict(r, check_status::interrupted, "loopcheck: interrupted"), false;
        const std::string spoiled = capture_spoiled_by(capture);
        if (!spoiled.empty()) {
            run.dropouts.push_back(spoiled);
            if (run.attempts == runs_attempts)
                return verdict(r, check_status::unstable,
                               "unstable: run " + std::to_string(r.runs.size() + 1) + " was spoiled " +
                                   std::to_string(runs_attempts) + " times: " + spoiled +
                                   (capture.stalled ? setup.stall_advice : "")),
                       false;
            run.attempts++;
            continue;
        }
        if (capture.beyond)
            return verdict(r, check_status::no_loop, no_loop_message(r, plan.last_lag, capture)), false;
        // Not an attempt: the loop may be there, only weak. The runs after
        // this one take the long sweep at once (12 dB more signal than the
        // short one, 2 dB more than the response's, which is lengthened only
        // for a loop it leaves weak or unseen).
        const double lengthen_below = response_sweep ? weak_snr_db : runs_lengthen_below_db;
        if (!long_sweep && (!capture.result.loop || capture.result.snr_db < lengthen_below)) {
            plan.clip = setup.long_clip;
            run.lengthened = true;
            continue;
        }
        if (!capture.result.loop)
            return verdict(r, check_status::no_loop, no_loop_message(r, plan.last_lag, capture)), false;
        run.result = capture.result;
        run.sweep_frames = static_cast<int64_t>(plan.sweep.size());
        kept = std::move(capture);
        return true;
    }
}

// The last run's response rows and impulse response, for the files.
void run_keep_files(check_report& r, const run_capture& capture)
{
    const run_result& x = capture.result;
    if (!r.options.response_file.empty()) {
        r.response_rows = response_rows(capture.response, capture.quiet, x.latency);
        r.has_response = true;
        r.response = response_summarise(r.response_rows, r.rate);
        r.response_valid = x.input_peak < clipping_level;
    }
    // From 256 frames before the peak to 1024 after it (at 48000 Hz; more at higher rates).
    const impulse_response& ir = capture.response;
    const int64_t scale = std::max<int64_t>(1, std::lrint(r.rate / 48000.0));
    r.ir_first = x.peak - 256 * scale;
    r.ir.clear();
    for (int64_t lag = r.ir_first; lag <= x.peak + 1024 * scale; lag++)
        r.ir.push_back(ir.ir[static_cast<size_t>(((lag % ir.n) + ir.n) % ir.n)]);
}

}  // namespace

int64_t runs_quiet_frames(double rate) { return std::lrint(4096.0 * rate / 48000.0); }

int64_t runs_settle_frames(double settle_s, double rate) { return std::lrint(settle_s * rate); }

void runs_measure(check_report& r, stream_state& s, const runs_setup& setup, const capture_wait& wait,
                  void (*on_run)(const check_report&, size_t))
{
    const check_options& o = r.options;
    if (!wait(1)) {
        if (interrupted(setup))
            return verdict(r, check_status::interrupted, "loopcheck: interrupted");
        return verdict(r, check_status::error,
                       "loopcheck: the stream delivered no frames within a second of starting (" + r.host_api + ")");
    }
    const bool response = !o.response_file.empty();
    capture_plan plan;
    plan.rate = r.rate;
    plan.last_lag = std::lrint(o.max_delay_s * r.rate);
    plan.tail = capture_tail(r.rate, response);
    plan.clip = response ? setup.response_clip : setup.short_clip;
    // --settle counts from the stream's first frame: whatever the session did
    // since (the monitor's check, say) is part of it, not added to it.
    plan.lead = std::max<int64_t>(0, runs_settle_frames(o.settle_s, r.rate) - s.frames_done.load());
    for (int64_t i = 0; i < o.repeat; i++) {
        run_report run;
        run_capture capture;
        if (!run_one(r, s, setup, wait, plan, run, capture))
            return;
        r.runs.push_back(run);
        if (on_run)
            on_run(r, r.runs.size() - 1);
        if (i + 1 == o.repeat)
            run_keep_files(r, capture);
    }
    const run_statistics st = report_statistics(r);
    if (st.max - st.min > runs_agree_frames) {
        char text[160];
        std::snprintf(text, sizeof text, "unstable: the runs disagree by %.3f frames (from %.3f to %.3f)",
                      st.max - st.min, st.min, st.max);
        return verdict(r, check_status::unstable, text);
    }
    if (o.expect && std::fabs(st.mean - o.expect_frames) > o.expect_tolerance) {
        char text[160];
        std::snprintf(text, sizeof text, "outside the expected %.3f ± %.3f frames", o.expect_frames, o.expect_tolerance);
        verdict(r, check_status::outside_expected, text);
    }
}
