// Runs and their retries.
#include "loopcheck/latency/runs.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "loopcheck/io/stream_wait.hpp"

namespace {

constexpr double run_gap_s = 0.02;  // silence between one run's capture and the next sweep

// The measurement ends here, unfinished: its status and words.
void unfinished(runs_outcome& out, check_status status, const std::string& message)
{
    out.end.failure = status, out.end.reason = message;
}

bool interrupted(const runs_setup& setup) { return setup.interrupted && setup.interrupted->load(); }

// True when every sample the run captured is exactly zero: nothing reaches
// the input at all, not even its own noise.
bool digital_silence(const run_capture& capture)
{
    const auto zero = [](float x) { return x == 0.0f; };
    return !capture.capture.empty() && std::all_of(capture.capture.begin(), capture.capture.end(), zero) &&
           std::all_of(capture.quiet.begin(), capture.quiet.end(), zero);
}

// "no loop found within N frames (S s)", what may be wrong, and where a loop
// too long for --max-delay showed its peak.
std::string no_loop_message(const runs_plan& p, const runs_setup& setup, int64_t last_lag, const run_capture& capture)
{
    char text[320];
    std::snprintf(text, sizeof text, "no loop found within %lld frames (%.3f s)", static_cast<long long>(last_lag),
                  static_cast<double>(last_lag) / p.rate);
    const size_t loop = static_cast<size_t>(setup.loop);
    if (digital_silence(capture) && loop < p.inputs.size())
        return text + (": " + p.inputs[loop]) +
               " was digital silence, every sample exactly zero: nothing reaches it. Check that the cable goes "
               "into that input (--in), that the input is not muted or switched off, and the device (-d; dravik "
               "lists them)";
    if (capture.beyond)
        return text + std::string(": the loop is longer, its sweep came back from about ") +
               std::to_string(capture.result.peak) + " frames on; a longer --max-delay measures it";
    return text + std::string(
                      ": check the cable, the channels (--out, --in), that the output is not muted, and "
                      "any monitoring; a longer loop needs --max-delay");
}

// What an earlier attempt of the run saw: where its sweep started, which
// sweep, whether it was spoiled, how far it searched and where, if anywhere,
// it found the loop.
struct earlier_attempt {
    int64_t start = 0;
    int clip = 0;
    bool spoiled = false;
    int64_t searched = 0;
    bool loop = false;
    int64_t peak = 0;
};

enum class answer_of { this_sweep, earlier_sweep, unsure };

// Whether a loop found at lag x could be the answer to an earlier playing of
// the same sweep rather than to this one: an earlier sweep's answer, from a
// loop longer than the lags looked at, lands in this capture earlier by the
// frames between the two starts, and the same sweep cannot tell the two
// apart. The earlier attempts decide: one that was not spoiled and searched
// that far would have seen a loop as short as it looks here; one that found
// the loop at the same lag, its sweep started at another spacing (the retries'
// leads differ), confirms it. A spoiled one that saw nothing cannot say; but
// two attempts whose peaks moved by just the spacing between their starts
// both answered one earlier sweep (or two, at the same delay from each): a
// loop as long as that delay, beyond the lags looked at. That is how a loop
// too long for --max-delay shows when its first attempt was spoiled (a busy
// machine's late cycle), and it must read as no loop, not as unstable.
answer_of earlier_answer(const std::vector<earlier_attempt>& earlier, const run_capture& now, int64_t tolerance)
{
    bool unsure = false;
    const int64_t x = now.result.peak;
    for (const earlier_attempt& e : earlier) {
        if (e.clip != now.clip)
            continue;
        if (e.loop && std::llabs(e.peak - x) <= tolerance)
            return answer_of::this_sweep;
        if (!e.spoiled && !e.loop && e.searched > x + tolerance)
            return answer_of::earlier_sweep;
        unsure = true;
    }
    if (!unsure)
        return answer_of::this_sweep;
    // The delays the two peaks imply, each from any sweep of the clip played before it.
    for (const earlier_attempt& e : earlier) {
        if (e.clip != now.clip || !e.loop)
            continue;
        for (const earlier_attempt& k : earlier) {
            if (k.clip != now.clip || k.start >= e.start)
                continue;
            const int64_t delay = e.peak + (e.start - k.start);
            for (const earlier_attempt& j : earlier)
                if (j.clip == now.clip && std::llabs(x + (now.start - j.start) - delay) <= tolerance)
                    return answer_of::earlier_sweep;
        }
    }
    return answer_of::unsure;
}

// The impulse response from 256 frames before the peak (the largest tap,
// whether a loop or not) to 1024 after it, at 48000 Hz; more at higher rates.
void run_keep_ir(latency_facts& f, const run_capture& capture, double rate)
{
    const run_result& x = capture.result;
    const impulse_response& ir = capture.response;
    f.ir.clear();
    if (ir.n <= 0)
        return;
    const int64_t scale = std::max<int64_t>(1, std::lrint(rate / 48000.0));
    f.ir_first = x.peak - 256 * scale;
    for (int64_t lag = f.ir_first; lag <= x.peak + 1024 * scale; lag++)
        f.ir.push_back(ir.ir[static_cast<size_t>(((lag % ir.n) + ir.n) % ir.n)]);
}

// The run that found no loop, for the report: what it saw instead.
void run_keep_seen(latency_facts& f, const run_capture& capture, double rate)
{
    f.has_seen = true;
    f.seen = capture.result;
    run_keep_ir(f, capture, rate);
}

// One run: attempts until one is not spoiled (three at most), measured again
// with the long sweep if the short one leaves the loop weak or unseen. A
// spoiled attempt is retried before anything is judged of its peak. False
// when the session ends here, with its failure set.
bool run_one(const runs_plan& p, runs_outcome& out, stream& s, const runs_setup& setup, const capture_wait& wait,
             capture_plan& plan, run_report& run, run_capture& kept)
{
    std::vector<earlier_attempt> earlier;
    // Every attempt so far captured exact zeros (and none stalled, whose
    // missing frames could be the zeros): nothing reaches the input.
    bool silent = true;
    for (run.attempts = 1;;) {
        const bool long_sweep = plan.clip == setup.long_clip, response_sweep = plan.clip == setup.response_clip;
        plan.sweep = long_sweep ? setup.long_sweep : response_sweep ? setup.response_sweep : setup.short_sweep;
        plan.quiet = p.rows ? capture_quiet_frames(p.rate) : 0;
        run_capture capture = capture_run(s, plan, wait);
        if (out.facts.first_sound_frame < 0)
            out.facts.first_sound_frame = capture.start;
        plan.lead = std::lrint(run_gap_s * p.rate);
        if (interrupted(setup))
            return unfinished(out, check_status::interrupted, "interrupted"), false;
        std::string spoiled = capture_spoiled_by(capture);
        silent = silent && !capture.stalled && digital_silence(capture);
        const int64_t tolerance = peak_neighbourhood(p.rate) + stream_largest_buffer(s);
        answer_of answer = spoiled.empty() && capture.result.loop && !capture.beyond
                               ? earlier_answer(earlier, capture, tolerance)
                               : answer_of::this_sweep;
        // After a short sweep that found nothing, its answer from a loop
        // longer than the lags it searched may arrive in the long sweep's
        // capture, where the long sweep's division smears it into peaks of
        // its own, far smaller than the loop's tap. Divided by the short sweep
        // instead, that answer stands as a clean peak, larger than the one the
        // long sweep found: then the loop is the short sweep's, and out of
        // range. (A loop of the long sweep's own, divided so, is the smear.)
        if (answer == answer_of::this_sweep && capture.result.loop && run.lengthened && plan.clip == setup.long_clip &&
            !earlier.empty() && earlier.front().clip == setup.short_clip && !earlier.front().loop) {
            const int64_t frames = static_cast<int64_t>(capture.capture.size() - setup.short_sweep.size());
            const run_result short_answer =
                analyse_peak(deconvolve(setup.short_sweep, capture.capture, p.rate), frames);
            if (short_answer.loop && std::fabs(short_answer.peak_value) > std::fabs(capture.result.peak_value))
                answer = answer_of::earlier_sweep, capture.result.peak = short_answer.peak;
        }
        if (answer == answer_of::earlier_sweep) {
            char text[200];
            std::snprintf(text, sizeof text,
                          "no loop found within %lld frames (%.3f s): an earlier sweep's answer arrived %lld frames "
                          "after this one began; the loop is longer, and a longer --max-delay measures it",
                          static_cast<long long>(plan.last_lag), static_cast<double>(plan.last_lag) / p.rate,
                          static_cast<long long>(capture.result.peak));
            return unfinished(out, check_status::no_loop, text), false;
        }
        earlier.push_back({capture.start, capture.clip, !spoiled.empty() || answer == answer_of::unsure,
                           capture.result.searched_lags, capture.result.loop, capture.result.peak});
        if (answer == answer_of::unsure)
            spoiled = "its peak may be an earlier sweep's answer";
        // A retry's sweep starts at another spacing from the last, so that
        // an earlier sweep's answer cannot land at the same lag twice.
        plan.lead += static_cast<int64_t>(run.attempts) * 3 * tolerance;
        const stream_retry next = stream_retry_after(run.attempts, spoiled);
        if (next != stream_retry::keep)
            run.dropouts.push_back(spoiled);
        // Exact zeros are no signal whatever spoiled the attempts: a loaded
        // machine's xruns must not turn a dead input into an unstable loop.
        if (next == stream_retry::give_up && silent) {
            run_keep_seen(out.facts, capture, p.rate);
            return unfinished(out, check_status::no_loop, no_loop_message(p, setup, plan.last_lag, capture)), false;
        }
        if (next == stream_retry::give_up)
            return unfinished(out, check_status::unstable,
                              stream_retry_given_up("run " + std::to_string(out.facts.runs.size() + 1),
                                                    spoiled + (capture.stalled ? setup.stall_advice : ""))),
                   false;
        if (next == stream_retry::again) {
            run.attempts++;
            continue;
        }
        if (capture.beyond) {
            run_keep_seen(out.facts, capture, p.rate);
            return unfinished(out, check_status::no_loop, no_loop_message(p, setup, plan.last_lag, capture)), false;
        }
        // Not an attempt: the loop may be there, only weak. The runs after
        // this one take the long sweep at once (12 dB more signal than the
        // short one, 2 dB more than the response's, which is lengthened only
        // for a loop it leaves weak or unseen).
        const double lengthen_below = response_sweep ? weak_snr_db : capture_lengthen_below_db;
        // A capture of exact zeros stays so whatever plays: no longer sweep for it.
        if (!long_sweep && !digital_silence(capture) &&
            (!capture.result.loop || capture.result.snr_db < lengthen_below)) {
            plan.clip = setup.long_clip;
            run.lengthened = true;
            continue;
        }
        if (!capture.result.loop) {
            run_keep_seen(out.facts, capture, p.rate);
            return unfinished(out, check_status::no_loop, no_loop_message(p, setup, plan.last_lag, capture)), false;
        }
        run.result = capture.result;
        run.sweep_frames = static_cast<int64_t>(plan.sweep.size());
        kept = std::move(capture);
        return true;
    }
}

// The last run's response rows and impulse response, for the files and the
// report (which draws the response of the short sweep when --response did
// not ask for the long one).
void run_keep_files(const runs_plan& p, latency_facts& f, const run_capture& capture)
{
    const run_result& x = capture.result;
    if (p.rows)
        f.response_rows = response_rows(capture.response, capture.quiet, x.latency);
    if (p.response) {
        f.has_response = true;
        f.response = response_summarise(f.response_rows, p.rate);
        f.response_valid = x.input_peak < clipping_level;
    }
    run_keep_ir(f, capture, p.rate);
}

}  // namespace

int64_t runs_settle_frames(double settle_s, double rate) { return std::lrint(settle_s * rate); }

runs_outcome runs_measure(stream& s, const runs_plan& p, const runs_setup& setup, const capture_wait& wait,
                          const runs_hook& on_run)
{
    runs_outcome out;
    out.end.ran = true;
    if (!wait(1)) {
        if (interrupted(setup))
            unfinished(out, check_status::interrupted, "interrupted");
        else
            unfinished(out, check_status::error,
                       "the stream delivered no frames within a second of starting (" + p.host_api + ")");
        return out;
    }
    capture_plan plan;
    plan.rate = p.rate;
    plan.last_lag = std::lrint(p.max_delay_s * p.rate);
    plan.tail = capture_tail(p.rate, p.response);
    plan.clip = p.response ? setup.response_clip : setup.short_clip;
    // --settle counts from the stream's first frame: whatever the session did
    // since (the monitor's check, say) is part of it, not added to it.
    plan.lead = std::max<int64_t>(0, runs_settle_frames(p.settle_s, p.rate) - stream_frames_done(s));
    plan.loop = setup.loop;
    for (int64_t i = 0; i < p.repeat; i++) {
        run_report run;
        run_capture capture;
        if (!run_one(p, out, s, setup, wait, plan, run, capture))
            return out;
        out.facts.runs.push_back(run);
        if (on_run)
            on_run(run, out.facts.runs.size() - 1);
        if (i + 1 == p.repeat)
            run_keep_files(p, out.facts, capture);
    }
    return out;
}
