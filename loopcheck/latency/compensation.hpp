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
#include <string>
#include <vector>

struct compensation_input {
    std::string host_api;  // "JACK Audio Connection Kit", "ALSA", "ASIO", "Windows WASAPI", ...
    double rate = 48000.0;
    double round_trip = 0.0;  // the measured round trip, frames
    double reported_in = 0.0, reported_out = 0.0;
    bool reported_known = true;  // false: the host's report is nonsense (no excess)
    double spread = -1.0;        // --reopen's max - min over the starts; < 0 not measured
};

// The lines, each ending in "\n": on JACK, jackd's -I/-O and PipeWire's rule
// (its JACK face looks like JACK: both are given, each named); a DAW's
// recording offset (always); and what none of them corrects.
std::vector<std::string> compensation_lines(const compensation_input& in);

// The excess split: input and output frames, whole, adding up to the
// excess rounded to the nearest frame (ties to even), the odd frame the output's.
struct compensation_split {
    long long input = 0, output = 0;
};
compensation_split compensation_split_of(double excess);
