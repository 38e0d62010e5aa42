// What a mode's judge says of its outcome: every check it made, as plain
// records every renderer (text, JSON, a test harness's format) reads alike,
// a note, and whether the modes after it may run. And how a mode ended, which
// its outcome carries. Data only: the verdict (verdict.hpp) folds the
// judgements into the session's status.
#pragma once
#include <optional>
#include <string>
#include <vector>

#include "loopcheck/outcome/status.hpp"

// How a mode ended: whether it ran, and if it failed, with which status and
// in what words (without the program's name: the printing adds it).
struct mode_end {
    bool ran = false;
    check_status failure = check_status::ok;  // ok: it ran to its end
    std::string reason;                       // the failure's words, or why the mode did not run
    std::string note;                         // said after the verdict, whatever it is
};

// Which way a figure is better.
enum class check_direction { none, lower, higher, closer };

enum class check_result { pass, fail, skip };

// One check: a figure against its bound, or a step that had to succeed (the
// stream started, the loop found, the runs agree). A failed check with a
// status other than ok decides the session's status by the precedence table;
// one with ok says what it found without failing the run (a buffer size that
// glitched, in the sweep's table).
struct mode_check {
    std::string name;  // "latency_frames", "thd_n_db", "glitches", "buffer 256": what it is named by
    std::optional<double> value;
    bool bound = false;              // value is a bound: the figure lies below it (under its noise, "<")
    std::string unit;                // "frames", "dB", "ppm", "ms", "" for a count
    std::optional<double> min, max;  // the bounds it is held to
    check_direction direction = check_direction::none;
    check_result result = check_result::pass;
    check_status fails_with = check_status::ok;  // the status a failure gives the session
    std::string words;                           // a failure's words as the summary gives them ("" when it passed)
    std::vector<std::string> files;  // the files that show it (the glitches' WAVs): a CI engine's attachments
};

struct mode_judgement {
    std::vector<mode_check> checks;  // in the order the mode made them
    std::string note;                // said after every failure's words, whatever the status
    std::string blocks;  // why the modes that play on the measured loop may not run after it ("" when they may)
};

// A check that failed with status and words, for the mode's end and its like.
mode_check check_failed(const std::string& name, check_status status, const std::string& words);

// The failure of a mode's end as a check named name (nothing when it ran to its end).
void check_end(mode_judgement& judgement, const std::string& name, const mode_end& end);

// A figure's unit from its name's last word, as the JSON names its figures:
// "_dbfs" dBFS, "_db" dB, "_frames" frames, "_hz" Hz, "_ppm" ppm, "_ms" ms, "_pct" %; "" otherwise (a count).
std::string check_unit_of(const std::string& name);
