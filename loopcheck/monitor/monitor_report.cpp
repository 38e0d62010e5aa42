// The monitor's lines, text and JSON.
#include "loopcheck/monitor/monitor_report.hpp"

#include "loopcheck/io/stream.hpp"
#include "loopcheck/monitor/monitor.hpp"
#include "loopcheck/report/clock_words.hpp"
#include "loopcheck/report/format.hpp"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <nlohmann/json.hpp>
#include <utility>

namespace {

using json = nlohmann::ordered_json;

std::string line(const json& j) { return j.dump(-1, ' ', false, json::error_handler_t::replace) + "\n"; }

// The drift's uncertainty and its 95 % interval are unknown for the first 0.8 s.
json uncertainty_json(const monitor_summary& s)
{
    return s.drift_ppm_uncertainty >= 0.0 ? json(s.drift_ppm_uncertainty) : json(nullptr);
}

json interval_json(const monitor_summary& s)
{
    return s.drift_ppm_interval >= 0.0 ? json(s.drift_ppm_interval) : json(nullptr);
}

std::string drift_text(const monitor_summary& s)
{
    if (!s.aligned)
        return "drift unknown";
    return "drift " + report_figure("%+.3f", s.drift_ppm) +
           (s.drift_ppm_uncertainty >= 0.0 ? " ± " + report_figure("%.3f", s.drift_ppm_uncertainty) : "") + " ppm";
}

// The summary's drift: with its 95 % interval and the batches it is read from.
std::string drift_summary_text(const monitor_summary& s, double rate)
{
    if (!s.aligned || s.drift_ppm_interval < 0.0)
        return drift_text(s);
    return drift_text(s) + " over the run (95 % ± " + report_figure("%.3f", s.drift_ppm_interval) + ", " +
           report_figure("%.1f", static_cast<double>(s.drift_from) / rate) + " to " +
           report_figure("%.1f", static_cast<double>(s.drift_to) / rate) + " s, from slopes of " +
           report_figure("%.1f", static_cast<double>(s.drift_batch_frames) / rate) + " s)";
}

// The glitches' kinds: the stimulus found again is none, nor a change of the
// clocks' rate, the loop's polarity or its level.
bool glitch_kind(int k) { return monitor_kind_is_glitch(static_cast<monitor_kind>(k)); }
bool change_kind(int k) { return k != static_cast<int>(monitor_kind::found) && !glitch_kind(k); }

json by_kind_json(const monitor_summary& s, bool (*which)(int))
{
    json j = json::object();
    for (int k = 0; k < monitor_kinds; k++)
        if (which(k))
            j[monitor_kind_name(static_cast<monitor_kind>(k))] = s.by_kind[static_cast<size_t>(k)];
    return j;
}

// "1 rate, 2 level" of kinds which, or "".
std::string kinds_text(const monitor_summary& s, bool (*which)(int))
{
    std::string kinds;
    for (int k = 0; k < monitor_kinds; k++)
        if (which(k) && s.by_kind[static_cast<size_t>(k)] > 0)
            kinds += std::string(kinds.empty() ? "" : ", ") + std::to_string(s.by_kind[static_cast<size_t>(k)]) + " " +
                     monitor_kind_name(static_cast<monitor_kind>(k));
    return kinds;
}

double level_db(double before, double after)
{
    return before != 0.0 && after != 0.0 ? 20.0 * std::log10(std::fabs(after / before)) : 0.0;
}

json side_json(monitor_side side)
{
    const char* name = monitor_side_name(side);
    return name ? json(name) : json(nullptr);
}

// "at the playback": where a slip happened, when the clocks tell.
std::string side_text(monitor_side side)
{
    const char* name = monitor_side_name(side);
    return name ? std::string(" at the ") + name : "";
}

}  // namespace

int64_t monitor_glitch_count(const monitor_progress& p) { return p.summary.events + p.overruns; }

std::string monitor_wall_text(std::chrono::system_clock::time_point t)
{
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(t.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &seconds);
#else
    gmtime_r(&seconds, &utc);
#endif
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(ms % 1000));
    return text;
}

std::string monitor_glitch_json(const monitor_event& e, double rate, const std::string& wall)
{
    if (e.kind == monitor_kind::found)
        return line({{"event", "found"},
                     {"t_s", static_cast<double>(e.frame) / rate},
                     {"wall", wall},
                     {"frame", e.frame},
                     {"lost_frames", e.frames},
                     {"lost_s", static_cast<double>(e.frames) / rate},
                     {"delay_frames", e.delay},
                     {"delay_change_frames", e.delay_change}});
    if (!monitor_kind_is_glitch(e.kind)) {
        // A change the detector followed: no glitch, not counted by --max-glitches.
        json j{{"event", "change"},
               {"t_s", static_cast<double>(e.frame) / rate},
               {"wall", wall},
               {"frame", e.frame},
               {"kind", monitor_kind_name(e.kind)}};
        if (e.kind == monitor_kind::rate) {
            j["rate_before_ppm"] = e.rate_before_ppm, j["rate_after_ppm"] = e.rate_after_ppm;
        } else {
            j["gain_before"] = e.gain_before, j["gain_after"] = e.gain_after;
            j["level_change_db"] = level_db(e.gain_before, e.gain_after);
            j["delay_change_frames"] = e.delay_change;
        }
        return line(j);
    }
    json j{{"event", "glitch"},      {"t_s", static_cast<double>(e.frame) / rate}, {"wall", wall},
           {"frame", e.frame},       {"kind", monitor_kind_name(e.kind)},          {"frames", e.frames},
           {"xrun", e.xrun_flagged}, {"delay_change_frames", e.delay_change},      {"side", side_json(e.side)}};
    if (e.kind == monitor_kind::discontinuity) {
        j["level_change_db"] = e.level_db;
        j["learning_restarted"] = e.learning_restarted;
    }
    return line(j);
}

std::string monitor_glitch_text(const monitor_event& e, double rate, const std::string& wall)
{
    const std::string at = report_figure("%.3f", static_cast<double>(e.frame) / rate) + " s (" + wall + "), frame " +
                           std::to_string(e.frame) + ": ";
    if (e.kind == monitor_kind::found)
        return "stimulus found again at " + at + "gone " + std::to_string(e.frames) + " frames (" +
               report_figure("%.3f", static_cast<double>(e.frames) / rate) + " s), delay now " +
               report_figure("%.3f", e.delay) + " frames\n";
    switch (e.kind) {
    case monitor_kind::rate:
        return "clock rate changed at " + at + report_figure("%+.3f", e.rate_before_ppm) + " to " +
               report_figure("%+.3f", e.rate_after_ppm) + " ppm (followed: no glitch)\n";
    case monitor_kind::polarity:
    case monitor_kind::level:
        return std::string(e.kind == monitor_kind::polarity ? "polarity flipped" : "level changed") + " at " + at +
               "gain " + report_figure("%+.4f", e.gain_before) + " to " + report_figure("%+.4f", e.gain_after) + " (" +
               report_figure("%+.1f", level_db(e.gain_before, e.gain_after)) + " dB), delay " +
               report_figure("%+.3f", e.delay_change) + " frames (followed: no glitch)\n";
    default: break;
    }
    std::string text = "glitch at " + at;
    switch (e.kind) {
    case monitor_kind::dropped: text += "dropped " + std::to_string(e.frames) + " frames" + side_text(e.side); break;
    case monitor_kind::inserted: text += "inserted " + std::to_string(e.frames) + " frames" + side_text(e.side); break;
    case monitor_kind::zeros: text += "zeros for " + std::to_string(e.frames) + " frames"; break;
    case monitor_kind::discontinuity:
        text += "discontinuity over " + std::to_string(e.frames) + " frames (level " +
                report_figure("%+.1f", e.level_db) + " dB, delay " + report_figure("%+.2f", e.delay_change) +
                " frames)";
        if (e.learning_restarted)
            text += ", while the residue was learnt: learnt again after it";
        break;
    case monitor_kind::lost: text += "stimulus lost (not found again within 0.15 s)"; break;
    default: break;
    }
    return text + (e.xrun_flagged ? " · the host flagged an xrun" : "") + "\n";
}

std::string monitor_overrun_json(int64_t frame, int64_t frames, double rate, const std::string& wall)
{
    return line({{"event", "glitch"},
                 {"t_s", static_cast<double>(frame) / rate},
                 {"wall", wall},
                 {"frame", frame},
                 {"kind", "monitor overrun"},
                 {"frames", frames},
                 {"xrun", false}});
}

std::string monitor_overrun_text(int64_t frame, int64_t frames, double rate, const std::string& wall)
{
    return "glitch at " + report_figure("%.3f", static_cast<double>(frame) / rate) + " s (" + wall + "), frame " +
           std::to_string(frame) + ": the monitor fell behind the capture, " + std::to_string(frames) +
           " frames not checked (the machine is too busy)\n";
}

namespace {

// What a log entry says, in a few words.
std::string xrun_words(unsigned what)
{
    if (what & xrun_missed_cycle)
        return "missed cycle";
    std::string words;
    for (const auto& [flag, name] :
         {std::pair{xrun_input_overflow, "input overflow"}, std::pair{xrun_input_underflow, "input underflow"},
          std::pair{xrun_output_underflow, "output underflow"}, std::pair{xrun_output_overflow, "output overflow"}})
        if (what & flag)
            words += std::string(words.empty() ? "" : ", ") + name;
    return words.empty() ? "flagged" : words;
}

}  // namespace

std::string monitor_xrun_json(int64_t frame, unsigned what, double rate, const std::string& wall)
{
    return line({{"event", "xrun"},
                 {"t_s", static_cast<double>(frame) / rate},
                 {"wall", wall},
                 {"frame", frame},
                 {"what", xrun_words(what)}});
}

std::string monitor_xrun_text(int64_t frame, unsigned what, double rate, const std::string& wall)
{
    return "xrun at " + report_figure("%.3f", static_cast<double>(frame) / rate) + " s (" + wall + "), frame " +
           std::to_string(frame) + ": " + xrun_words(what) + " (the stream's log)\n";
}

std::string monitor_start_json(const std::string& measurement, int64_t first_sound_frame, const monitor_progress& p,
                               const std::string& wall)
{
    return line(
        {{"event", "start"},
         {"wall", wall},
         {"duration_s", p.duration_s > 0.0 ? json(p.duration_s) : json(nullptr)},
         {"rate", p.rate},
         {"latency_frames", p.latency},
         {"stimulus", {{"tones", 12}, {"level_dbfs", monitor_default_level_dbfs}, {"stream_frame", p.stimulus_frame}}},
         {"first_sound_stream_frame", first_sound_frame},
         {"measurement", json::parse(measurement)}});
}

std::string monitor_start_text(const monitor_progress& p)
{
    return "monitor: playing the stimulus " +
           (p.duration_s > 0.0 ? "for " + report_figure("%g", p.duration_s) + " s" : std::string("until Ctrl-C")) +
           " from the loop's latency of " + report_figure("%.3f", p.latency) + " frames; every frame checked\n";
}

std::string monitor_status_json(const monitor_progress& p, const std::string& wall)
{
    const monitor_summary& s = p.summary;
    return line({{"event", "status"},
                 {"t_s", static_cast<double>(p.frames) / p.rate},
                 {"wall", wall},
                 {"frames", p.frames},
                 {"glitches", monitor_glitch_count(p)},
                 {"xruns", p.xruns},
                 {"locked", s.locked},
                 {"changes", s.changes},
                 {"drift_ppm", s.drift_ppm},
                 {"drift_ppm_uncertainty", uncertainty_json(s)},
                 {"delay_frames", s.delay_end_frames},
                 {"residue_db", s.residue_db}});
}

std::string monitor_status_text(const monitor_progress& p)
{
    return "monitor: " + report_figure("%.0f", static_cast<double>(p.frames) / p.rate) + " s · " +
           report_count(monitor_glitch_count(p), "glitch", "glitches") + " · " +
           report_count(p.xruns, "xrun", "xruns") + " · " + drift_text(p.summary) + "\n";
}

void monitor_summary_json(const monitor_progress& p, json& j)
{
    const monitor_summary& s = p.summary;
    json by_kind = by_kind_json(s, glitch_kind);
    by_kind["monitor overrun"] = p.overruns;
    const json summary{{"event", "summary"},
                       {"duration_s", static_cast<double>(p.frames) / p.rate},
                       {"frames", p.frames},
                       {"glitches", monitor_glitch_count(p)},
                       {"glitches_not_listed", s.events_not_listed},
                       {"by_kind", by_kind},
                       {"changes", s.changes},
                       {"changes_by_kind", by_kind_json(s, change_kind)},
                       {"longest_clean_s", static_cast<double>(s.longest_clean_frames) / p.rate},
                       {"xruns", p.xruns},
                       {"drift_ppm", s.drift_ppm},
                       {"drift_ppm_uncertainty", uncertainty_json(s)},
                       {"drift_ppm_interval_95", interval_json(s)},
                       {"drift_batch_s", static_cast<double>(s.drift_batch_frames) / p.rate},
                       {"drift_from_s", static_cast<double>(s.drift_from) / p.rate},
                       {"drift_to_s", static_cast<double>(s.drift_to) / p.rate},
                       {"drift_correlation_s", s.drift_correlation_s},
                       {"drift_wander_slow", s.drift_wander_slow},
                       {"delay_start_frames", s.delay_start_frames},
                       {"delay_end_frames", s.delay_end_frames},
                       {"residue_db", s.residue_db},
                       {"false_glitches_per_hour", s.false_per_hour},
                       {"learning_restarts", s.learning_restarts},
                       {"stimulus_found", s.aligned},
                       {"locked", s.locked},
                       {"followed_s", static_cast<double>(s.frames_checked) / p.rate},
                       {"lost_s", static_cast<double>(s.frames_lost) / p.rate},
                       {"frames_checked", s.frames_checked},
                       {"frames_lost", s.frames_lost},
                       {"frames_not_checked", s.frames_unchecked + p.overrun_frames}};
    for (const auto& [key, value] : summary.items())
        j[key] = value;
}

std::string monitor_summary_text(const monitor_progress& p)
{
    const monitor_summary& s = p.summary;
    std::string kinds = kinds_text(s, glitch_kind);
    if (p.overruns > 0)
        kinds +=
            std::string(kinds.empty() ? "" : ", ") + report_count(p.overruns, "monitor overrun", "monitor overruns");
    kinds = kinds.empty() ? "" : " (" + kinds + ")";
    const std::string changes = kinds_text(s, change_kind);
    std::string text =
        "monitor summary: " + report_figure("%.1f", static_cast<double>(p.frames) / p.rate) + " s, " +
        std::to_string(p.frames) + " frames · " + report_count(monitor_glitch_count(p), "glitch", "glitches") + kinds +
        (changes.empty() ? "" : " · changes followed, no glitches: " + changes) + " · followed " +
        report_figure("%.1f", static_cast<double>(s.frames_checked) / p.rate) + " s, lost " +
        report_figure("%.1f", static_cast<double>(s.frames_lost) / p.rate) + " s · longest clean stretch " +
        report_figure("%.1f", static_cast<double>(s.longest_clean_frames) / p.rate) + " s · " +
        report_count(p.xruns, "xrun", "xruns") + " · " + drift_summary_text(s, p.rate) + " · delay " +
        report_figure("%.3f", s.delay_start_frames) + " to " + report_figure("%.3f", s.delay_end_frames) +
        " frames · threshold " + report_figure("%.1f", s.residue_db) + " dB below the signal, " +
        report_figure("%.2g", s.false_per_hour) + " false glitches expected per hour\n";
    if (s.aligned && !s.locked)
        text += "note: the stimulus was not followed at the end: the frames since it was lost were not checked\n";
    if (s.learning_restarts > 0)
        text += "note: the residue's learning began again " + report_count(s.learning_restarts, "time", "times") +
                " after a disturbance\n";
    if (s.drift_wander_slow)
        text += "note: the clocks wander slower than the run shows: the drift is the run's, not a long-term rate\n";
    if (s.events_not_listed > 0)
        text += "note: " + report_count(s.events_not_listed, "glitch", "glitches") + " beyond the first " +
                std::to_string(s.events - s.events_not_listed) + " were counted, not kept\n";
    return text;
}

std::string monitor_text(const monitor_outcome& o, const mode_judgement&, text_part part)
{
    return part == text_part::report && o.end.ran ? monitor_summary_text(o.progress) + report_clock_text(o.clock) : "";
}

void monitor_json(const monitor_outcome& o, const mode_judgement&, json& into)
{
    // Its summary is a line of its own, at the end (an object empty so far):
    // the report's object, which has its head already, takes nothing of it.
    if (o.end.ran && into.empty()) {
        monitor_summary_json(o.progress, into);
        into["clock_rate"] = report_clock_json(o.clock);
    }
}

monitor_sink monitor_printer(mode_run& run)
{
    monitor_sink sink;
    const mode_live& live = run.live;
    if (!live.out)
        return sink;
    const stream* s = &run.s;
    sink.start = [&live, s](const monitor_progress& p, monitor_wall at) {
        // The measurement as it stands before the monitor, with its verdict so far.
        if (live.json)
            live.say(monitor_start_json(live.so_far(true), stream_first_sound(*s), p, monitor_wall_text(at)));
        else
            live.say((live.quiet ? "" : live.so_far(false)) + monitor_start_text(p));
    };
    sink.glitch = [&live](const monitor_event& e, const monitor_progress& p, monitor_wall at) {
        const std::string wall = monitor_wall_text(at);
        live.say(live.json ? monitor_glitch_json(e, p.rate, wall) : monitor_glitch_text(e, p.rate, wall));
    };
    sink.overrun = [&live](int64_t frame, int64_t frames, const monitor_progress& p, monitor_wall at) {
        const std::string wall = monitor_wall_text(at);
        live.say(live.json ? monitor_overrun_json(frame, frames, p.rate, wall)
                           : monitor_overrun_text(frame, frames, p.rate, wall));
    };
    sink.xrun = [&live](int64_t frame, unsigned what, const monitor_progress& p, monitor_wall at) {
        const std::string wall = monitor_wall_text(at);
        live.say(live.json ? monitor_xrun_json(frame, what, p.rate, wall)
                           : monitor_xrun_text(frame, what, p.rate, wall));
    };
    sink.status = [&live](const monitor_progress& p, monitor_wall at) {
        if (!live.quiet)
            live.say(live.json ? monitor_status_json(p, monitor_wall_text(at)) : monitor_status_text(p));
    };
    return sink;
}
