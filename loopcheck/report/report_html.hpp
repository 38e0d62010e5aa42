// loopcheck's HTML report: one self-contained page (writers/html) assembled
// from sections, each drawn from the check_report alone: the verdict and the
// key figures with their conditions, the conditions of the session, then the
// plots. A mode that measures more keeps its data in check_report and adds
// its section to report_html_sections() (docs/internals/reports.md).
#pragma once
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include "loopcheck/report/report.hpp"
#include "loopcheck/verdict/verdict.hpp"
#include "writers/html.hpp"
#include "writers/plot.hpp"

// A part of the page. add writes nothing when the report holds nothing for it.
struct report_section {
    const char* name;
    void (*add)(html_page& page, const check_report& report, const check_verdict& verdict, const std::string& date);
};

// The sections in the page's order.
std::span<const report_section> report_html_sections();

// The page; date: when it was made, as the page names it.
std::string report_html(const check_report& report, const check_verdict& verdict, const std::string& date);
// The page to report.options.report_file, dated now (UTC). "" or why not.
std::string report_html_write(const check_report& report, const check_verdict& verdict);

// The sections (report_html_text.cpp, report_html_figures.cpp).
void report_html_verdict(html_page& page, const check_report& report, const check_verdict& verdict,
                         const std::string& date);
void report_html_conditions(html_page& page, const check_report& report, const check_verdict& verdict,
                            const std::string& date);
void report_html_impulse(html_page& page, const check_report& report, const check_verdict& verdict,
                         const std::string& date);
void report_html_runs(html_page& page, const check_report& report, const check_verdict& verdict,
                      const std::string& date);
void report_html_response(html_page& page, const check_report& report, const check_verdict& verdict,
                          const std::string& date);
// --quality's and --monitor's (report_html_quality.cpp, report_html_monitor.cpp).
void report_html_quality(html_page& page, const check_report& report, const check_verdict& verdict,
                         const std::string& date);
void report_html_monitor(html_page& page, const check_report& report, const check_verdict& verdict,
                         const std::string& date);
// --buffers' (report_html_sweep.cpp).
void report_html_sweep(html_page& page, const check_report& report, const check_verdict& verdict,
                       const std::string& date);

// A plot with the data its series, points and bands point into, held
// together: the spans point into these vectors, so it is filled in place
// and never copied.
struct report_plot {
    plot p;
    std::vector<double> x, y;
    std::vector<uint8_t> weak;
    // More curves' and points' data: every vector filled before a span points into it.
    std::vector<std::vector<double>> more;
    report_plot() = default;
    report_plot(const report_plot&) = delete;
    report_plot& operator=(const report_plot&) = delete;
};

inline constexpr double report_plot_width = 900.0;
// A point that breaks a plot's line.
inline constexpr double report_plot_gap = std::numeric_limits<double>::quiet_NaN();
inline constexpr const char* report_curve_colour = "#1f77b4";
inline constexpr const char* report_latency_colour = "#d62728";
inline constexpr const char* report_next_colour = "#ff7f0e";

// The impulse response report.ir on a linear lag axis over exactly its
// excerpt (ir_first .. ir_first + size - 1 frames), its values within ±1.15
// times the largest; the latency marked (or, for a run that found no loop,
// its largest tap), and the next peak when it falls within the excerpt.
// False when there is no impulse response.
bool report_plot_impulse(const check_report& report, report_plot& out);

// The level of report.response_rows on a log axis from 10 Hz to the Nyquist
// frequency, with the ±1 and ±0.1 dB bands; rows under the SNR floor weak.
// The level axis is the first of -3..3, -12..6, -30..10, -60..20 and
// -120..40 dB that holds every row from 20 Hz to 20 kHz (or 0.45 x rate).
bool report_plot_level(const check_report& report, report_plot& out);
// Their phase, -180..180 degrees, the line broken where it wraps.
bool report_plot_phase(const check_report& report, report_plot& out);
// Every run's latency against its number, with the mean's uncertainty as a
// band. False for fewer than two runs.
bool report_plot_runs(const check_report& report, report_plot& out);

// --quality's (report_html_quality_plots.cpp), all on the response's
// frequency axis (10 Hz to the Nyquist frequency, log). A tone's spectrum
// (loop, tone: the index in quality_loop_figures::tones) in dBFS, -200..0,
// the fundamental's level and each harmonic in the band marked, and the
// THD+N residue's RMS level as a line across the band.
inline constexpr double report_spectrum_low_dbfs = -200.0;
inline constexpr const char* report_harmonic_colour = "#ff7f0e";
inline constexpr const char* report_residue_colour = "#2ca02c";
bool report_plot_tone_spectrum(const check_report& report, size_t loop, size_t tone, report_plot& out);
// The silent outputs' noise spectrum, unweighted and A-weighted.
bool report_plot_noise_spectrum(const check_report& report, size_t loop, report_plot& out);
// Every ordered pair's crosstalk at the octave centres, -160..0 dB. False
// with one loop.
bool report_plot_crosstalk(const check_report& report, report_plot& out);

// --monitor's (report_html_monitor_plots.cpp). The loop's delay against time
// from the stimulus's start (s, min or h by the run's length: up to 600 s,
// up to 600 min, beyond), each glitch kept a red line at its time; the line
// of the delay breaks between two points with a glitch between them.
bool report_plot_delay(const check_report& report, report_plot& out);
// The time unit of the delay's axis for a run of checked_s: 1, 60 or 3600 s.
double report_delay_unit_s(double checked_s);
// The histogram of the glitch-free stretches on a log axis of seconds, from
// the bin before the first that holds one to the bin after the last.
bool report_plot_stretches(const check_report& report, report_plot& out);

// --buffers': each measured size's round trip (ms) against its granted buffer
// on a log axis, safe sizes as green points, the others red with a line
// saying how many glitches and xruns their soak had. False with none measured.
bool report_plot_sweep(const check_report& report, report_plot& out);
