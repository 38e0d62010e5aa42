// loopcheck's stream, as the modes see it: opaque. Opened from a request
// (the devices, each loop's channels, the rate, the buffer), straight on JACK
// or through PortAudio, whichever serves the request: nothing outside io/
// calls PortAudio or sees the callback's state. Before it starts, the modes
// give it its program (the clips it plays, the ring it must keep); while it
// runs they schedule a clip at a frame, copy what came back and read the log
// of the calls the host flagged and the cycles the callback missed.
#pragma once
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "analysis/clock_rate.hpp"

struct stream;

inline constexpr int stream_max_loops = 8;  // the most loops one stream carries

// What the stream is asked for: the devices, each loop's channels, the rate
// and the buffer. The session makes it from the command line; nothing in
// the stream's layer sees more of it.
struct stream_request {
    std::string device, in_device, out_device;             // index or a unique part of the name; "" for the default
    std::vector<int64_t> out_channels{1}, in_channels{1};  // 1-based, the k-th of each paired into loop k
    double rate = 0.0;                                     // 0: the device's own
    int64_t buffer = 0;       // the latency asked of the host API, in frames; 0: its low-latency choice
    bool two_clocks = false;  // two ALSA cards allowed (the monitor measures their drift)
};

// What the stream is, once opened: what the output names, and what the host reports.
struct stream_facts {
    std::string host_api;                 // the devices' host API ("X to Y" when they differ)
    int out_device = -1, in_device = -1;  // PortAudio's indices; -1 straight on JACK, where it never counted them
    std::string out_name, in_name;
    double rate = 0.0;
    int loops = 1;
    // As the host reports them once the stream has started (PipeWire's JACK
    // face can report nonsense: stream_reported_known says whether to believe it).
    double input_latency_frames = 0.0, output_latency_frames = 0.0;
    // Straight on JACK, the server's own port latencies (capture, playback),
    // what jackd's -I/-O add to and what JACK's clients (a DAW) read: one
    // buffer more on each side than the figures above, which count as
    // PortAudio does. -1 elsewhere.
    double server_input_frames = -1.0, server_output_frames = -1.0;
    std::string jack_library;               // straight on JACK: the file libjack was loaded from ("" elsewhere)
    bool input_is_monitor = false;          // the input is a sink's monitor ports (PipeWire's JACK face), not the cable
    std::string stall_advice;               // what to try when it stops delivering frames, after the message
    std::vector<std::string> port_aliases;  // straight on JACK: the device's port's aliases (the card behind it)
};

// The audio libraries' versions: PortAudio's text, and libjack's (the client library's: JACK's API gives no
// server's version), "" where there is none.
struct stream_versions {
    std::string portaudio, jack;
};
stream_versions stream_versions_of();

// The reported round trip (input + output latency) in frames.
double stream_reported_frames(const stream_facts& facts);
// False when the host reported nonsense (PipeWire's JACK face gives 2^32 - 1024
// frames, a negative number read as unsigned): then there is no excess either.
bool stream_reported_known(const stream_facts& facts);
// What an excess is counted over, so that one applied compensation reads 0
// everywhere: straight on JACK its server's own port latencies (capture plus
// playback: what jackd's -I/-O and latency.internal.* add to, what a DAW on
// JACK reads), elsewhere the host API's figures (ALSA, WASAPI, ASIO:
// PortAudio's). Meaningful where stream_reported_known.
double stream_excess_base_frames(const stream_facts& facts);
// Whose figures those are, for the text: "JACK's ports" or "the host API".
const char* stream_excess_base_name(const stream_facts& facts);

// Closes the stream and whatever it started (PortAudio is terminated on
// every path after its start), in that order, whatever way the program leaves.
struct stream_closer {
    void operator()(stream* s) const;
};
using stream_ptr = std::unique_ptr<stream, stream_closer>;

// Opens the stream the request asks for: straight on JACK when a JACK server
// answers and no device is named, through PortAudio otherwise. The reason in
// problem when it cannot: the stream then holds the facts found so far (the
// host API, the devices chosen) and is only to be closed.
stream_ptr stream_open(const stream_request& request, std::string& problem);

const stream_facts& stream_facts_of(const stream& s);
// What it was asked for (as last opened).
const stream_request& stream_request_of(const stream& s);

// ---- its program: given before it starts -----------------------------------

// A clip for the stream: mono's frames on every loop (driven -1) or on loop
// driven alone, silence on the others; frames x loops interleaved.
std::vector<float> stream_clip_loops(std::span<const float> mono, int loops, int driven = -1);
// Puts mono into an interleaved clip at frame first, for loop driven (-1: every loop).
void stream_clip_place(std::span<float> clip, int loops, int64_t first, std::span<const float> mono, int driven);

// Adds a clip (frames x loops interleaved; a looping one plays again from its
// start when it ends); its number, which stream_schedule takes.
int stream_clip_add(stream& s, std::vector<float> samples, bool looping = false);
// A clip's samples, to fill again while it is not scheduled (its size stays).
std::span<float> stream_clip_room(stream& s, int clip);
// The capture ring must hold at least this many frames of every loop.
void stream_ring_need(stream& s, int64_t frames);

// The run will last about seconds: the callbacks' times are kept far
// enough apart that the ring of them spans it (the rate's fit, below).
void stream_clock_need(stream& s, double seconds);

// Starts it: the ring made, the host's latencies read, the rate checked. "" or the reason.
std::string stream_start(stream& s);

// Stops and closes it, then opens the same devices again asking for buffer
// frames, with its program, and starts it: the frames count from 0 again.
// "" or the reason it could not.
std::string stream_reopen(stream& s, int64_t buffer);

// The host API's own words on its last error (": words"), where PortAudio
// runs the stream and left any; "" otherwise.
std::string stream_host_words(const stream& s);

// ---- while it runs -----------------------------------------------------------

// The frames the callback has handled so far, and the most it was handed in one call.
int64_t stream_frames_done(const stream& s);
int64_t stream_largest_buffer(const stream& s);

// Plays clip from frame start on; the callback switches at that frame.
void stream_schedule(stream& s, int64_t start, int clip);
// The first frame a clip was scheduled at since the stream started (-1: none yet).
int64_t stream_first_sound(const stream& s);

// The first frame a clip may be scheduled at: two of the callback's largest
// buffers and 10 ms past the frames it has handled, whatever buffer the host
// hands it next.
int64_t stream_ahead_of_callback(const stream& s);

// The frames the capture ring holds of each loop.
int64_t stream_ring_frames(const stream& s);

// Frames from..to (absolute frame numbers) of one loop's capture. False when
// they are not all in the ring any more (or not yet).
bool stream_capture_copy(const stream& s, int64_t from, int64_t to, int loop, std::vector<float>& into);

// What the stream's log said of one entry, in portable terms: a call the host
// flagged, or a cycle missed.
enum xrun_flag : unsigned {
    xrun_input_overflow = 1u,
    xrun_input_underflow = 2u,
    xrun_output_underflow = 4u,
    xrun_output_overflow = 8u,
    xrun_missed_cycle = 16u,
};

// What the log holds for a stretch of frames.
struct stream_marks {
    int64_t flagged = 0;            // calls with under- or overflow flags whose buffer overlaps it
    int64_t missed = 0;             // gaps from missed cycles inside it
    int64_t first = -1, last = -1;  // the frames of the first and last of them
    unsigned flags = 0;             // their xrun_flag bits together
    bool lost = false;              // the log overflowed: more happened than it kept
};

// The flagged calls and missed cycles within frames from..to - 1.
stream_marks stream_marks_within(const stream& s, int64_t from, int64_t to);

// How far behind the frames handled the log is final: a missed cycle is
// marked only once the server's counter has stood ahead for several calls,
// so frames newer than this may still gain a mark.
int64_t stream_marks_pending_frames(const stream& s);

// The log one entry at a time: the count of entries written so far, the oldest
// still kept, and entry n (its frame and its xrun_flag bits).
struct stream_mark_entry {
    int64_t frame = 0;
    unsigned what = 0;
};
int64_t stream_marks_written(const stream& s);
int64_t stream_marks_oldest(const stream& s);
stream_mark_entry stream_mark_at(const stream& s, int64_t n);

// The milliseconds from the stream's last opening (stream_open, stream_reopen)
// to its first callback; -1 when not known.
double stream_open_to_first_callback_ms(const stream& s);

// The interface's clock against the system's over the stream's life so far
// (analysis/clock_rate.hpp): the callbacks' times, broken at each xrun.
clock_rate stream_clock_rate(const stream& s);

// --load: the callback stays busy for share (0 to 1) of each call's duration.
void stream_load(stream& s, double share);
