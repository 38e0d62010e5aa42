// --compensation: what to type where so that a host, a server or a DAW
// places recordings where they were played, from the measured round trip and
// what the host reports of it. Pure: lines of text from figures.
//
// The excess (the round trip less what the host reports) is what every
// program below misses. One loop cannot tell how much of it lies on the
// input side and how much on the output: the JACK and PipeWire lines split
// it half and half, jack_iodelay's convention (the odd frame to the output),
// and say so; a split that is wrong by k frames moves playback against
// capture by nothing, only what the server reports of each side.
#pragma once
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

struct compensation_input {
    std::string host_api;  // "JACK Audio Connection Kit", "ALSA", "ASIO", "Windows WASAPI", ...
    double rate = 48000.0;
    double round_trip = 0.0;  // the measured round trip, frames
    double reported_in = 0.0, reported_out = 0.0;
    bool reported_known = true;  // false: the host's report is nonsense (no excess)
    double spread = -1.0;        // --reopen's max - min over the starts; < 0 not measured
    // Straight on JACK, the server's own port latencies (capture, playback):
    // what -I/-O and latency.internal.* add to, and what JACK's clients read.
    // reported_in/out count one buffer less on each side (PortAudio's way);
    // on a real backend the server's are the true ones. -1: not known.
    double server_in = -1.0, server_out = -1.0;
    // Which JACK server runs: its lines alone are printed; unknown, both.
    enum class server_kind { unknown, jackd, pipewire } server = server_kind::unknown;
};

// The lines, each ending in "\n": on JACK, jackd's -I/-O or PipeWire's rule
// (both, each named, when which server runs is not known), from the excess
// over the server's own port latencies where they are known; a DAW's
// recording offset (always); and what none of them corrects.
std::vector<std::string> compensation_lines(const compensation_input& in);

// The excess split: input and output frames, whole, adding up to the
// excess rounded to the nearest frame (ties to even), the odd frame the output's.
struct compensation_split {
    long long input = 0, output = 0;
};
compensation_split compensation_split_of(double excess);

// The numbers behind the lines, for the JSON.
struct compensation_figures {
    bool jack = false;           // the host is JACK (or PipeWire's JACK face)
    bool none_to_add = false;    // the host (or on JACK the server's ports) report more than measured
    bool server_known = false;   // the server's own port latencies are known and believable
    double excess = 0.0;         // over what the host reports, frames (PortAudio's figures)
    double server_excess = 0.0;  // on JACK over the server's own ports where known, else excess
    compensation_split split;    // server_excess split: jackd's -I/-O, PipeWire's latency.internal.rate
    long long daw_offset = 0;    // samples, where the DAW adds what the driver reports
    long long daw_whole = 0;     // samples, where it adds nothing
    double plus_minus = -1.0;    // half of --reopen's spread; < 0 not measured
};
compensation_figures compensation_figures_of(const compensation_input& in);
// The "compensation" object of the JSON: the figures, which server's lines, and the lines.
nlohmann::ordered_json compensation_json(const compensation_input& in);
// The input from a stream's facts, the round trip and --reopen's spread (< 0: not measured).
struct stream_facts;
compensation_input compensation_input_of(const stream_facts& facts, double round_trip, double spread);

// Which JACK server answers, from the file libjack was loaded from:
// PipeWire's JACK face (pw-jack puts PipeWire's libjack, under a
// "pipewire" folder, before the system's), jackd (any other libjack), or
// unknown ("": not straight on JACK).
compensation_input::server_kind compensation_server_of(const std::string& jack_library);
