// Baselines: a run's figures against a run kept as the reference (a
// golden unit, last week's driver). Both are loopcheck's own JSON objects
// (--json's, which --save-baseline writes), so that any result kept is a
// baseline and the trend reads the same figures. Pure: JSON in, checks out.
#pragma once
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "loopcheck/outcome/judgement.hpp"

// One figure of a result, as a baseline compares it.
struct baseline_figure {
    std::string name;  // "latency_frames", "thd_n_db", "noise_dbfs loop 2"
    double value = 0.0;
    double uncertainty = 0.0;  // its standard uncertainty where the result gives one, else 0
    bool bound = false;        // the figure lies below its value (under its noise): not compared
    std::string unit;
    check_direction better = check_direction::none;
    double tolerance = 0.0;  // the change allowed by default, in its unit
    // A band of the response's mask ("response 10-12.5 kHz"): its edges, its
    // value the mean level of the response's rows within it; 0 for the others.
    double low_hz = 0.0, high_hz = 0.0;
};

// The response's mask by default: third-octave bands, between the preferred
// numbers 20, 25, 31.5 ... 16000, 20000 Hz, each allowed ±0.2 dB (as
// analysers' golden-unit masks are).
inline constexpr double baseline_response_db = 0.2;
// A change within this many combined standard uncertainties (the baseline's
// and the run's) is never a regression, whatever the tolerance.
inline constexpr double baseline_coverage = 3.0;
inline constexpr double baseline_third_octave_hz[] = {20.0,   25.0,   31.5,   40.0,    50.0,    63.0,    80.0,   100.0,
                                                      125.0,  160.0,  200.0,  250.0,   315.0,   400.0,   500.0,  630.0,
                                                      800.0,  1000.0, 1250.0, 1600.0,  2000.0,  2500.0,  3150.0, 4000.0,
                                                      5000.0, 6300.0, 8000.0, 10000.0, 12500.0, 16000.0, 20000.0};

// The changes allowed: each figure's default unless a --tolerances file
// gives it, and the response's mask (its ±dB and its bands' edges).
struct baseline_tolerances {
    std::map<std::string, double> figures;  // by the figure's name without its loop ("thd_n_db")
    double response_db = baseline_response_db;
    std::vector<double> bands_hz{std::begin(baseline_third_octave_hz), std::end(baseline_third_octave_hz)};
    std::string error;  // why the file could not be read; "" when it could
};

// The names a --tolerances file may give: every figure's, and response_db.
std::vector<std::string> baseline_tolerance_names();

// A --tolerances file's text, in the --limits file's syntax: one JSON object,
// a key per figure, e.g.
//   {"thd_n_db": {"tolerance": 2}, "response_db": {"tolerance": 0.3, "bands_hz": [20, 1000, 10000, 20000]}}
// A tolerance is a finite number, 0 or more, in the figure's unit; bands_hz
// (response_db's alone) two edges or more, finite, above 0, rising. An unknown
// name (with the nearest), an unknown item or a bad value: an error naming it.
baseline_tolerances baseline_tolerances_parse(std::string_view text);
// The same from a file: "" or why not (in error too).
std::string baseline_tolerances_read(const std::string& path, baseline_tolerances& out);

// The figures of one of loopcheck's JSON objects: each loop's latency with
// its uncertainty, and the battery's figures per loop (THD+N, THD, noise,
// IMD, crosstalk, gain, dynamic range). Nothing for what the run did not measure.
// With the battery's response rows, the response's mean level in each band of
// the mask (a band without a row left out), its uncertainty the mean of its
// rows' (taken as one: neighbouring rows share the sweep's rows below 800 Hz,
// and every row shares the reference's).
std::vector<baseline_figure> baseline_figures(const nlohmann::json& report, const baseline_tolerances& tolerances = {});

// The interface a result was made on (its environment's key; "" in one made before 1.1).
std::string baseline_identity(const nlohmann::json& report);

// A figure's change judged: regressed when it moved the worse way (either
// way for closer) by more than both its tolerance and three times the combined
// standard uncertainty of the two (a difference inside the uncertainty is never flagged).
struct baseline_change {
    std::string name, unit;
    check_direction better = check_direction::none;
    double baseline = 0.0, value = 0.0;
    double allowed = 0.0;  // the larger of the tolerance and three times the combined uncertainty
    bool regressed = false;
    double low_hz = 0.0, high_hz = 0.0;  // a response band's edges
};
std::vector<baseline_change> baseline_compare(const std::vector<baseline_figure>& baseline,
                                              const std::vector<baseline_figure>& run);

// The changes of run's figures against baseline's (baseline_compare of both
// results' figures); none when their identities differ and any is not set.
std::vector<baseline_change> baseline_changes(const nlohmann::json& baseline, const nlohmann::json& run, bool any,
                                              const baseline_tolerances& tolerances = {});

// The comparison as checks (one per figure both runs have, "regressed: ..."
// words and status regressed where it failed: "regressed: thd_n_db -96.2 →
// -93.1 dB, tolerance 1", for a band its change "regressed: response 10-12.5
// kHz -0.48 dB, tolerance 0.20"), or the refusal of a baseline made on another
// interface (status error) unless any is set.
std::vector<mode_check> baseline_checks(const nlohmann::json& baseline, const nlohmann::json& run, bool any,
                                        const baseline_tolerances& tolerances = {});

// The checks as the text's lines: one per figure, except the response's
// bands within the mask, which are one line, naming the band nearest its
// edge: "baseline: response within the mask in 30 bands, the nearest its
// edge 16-20 kHz -0.05 dB, tolerance 0.20".
std::string baseline_lines(const std::vector<mode_check>& checks);

// A band's name: "20-25 Hz", "800-1000 Hz", "10-12.5 kHz".
std::string baseline_band_name(double low_hz, double high_hz);

// Reads a baseline: one of loopcheck's JSON objects (a --json report or the
// first line of --monitor --json's, whose measurement it takes). "" or why not.
std::string baseline_read(const std::string& path, nlohmann::json& baseline);
