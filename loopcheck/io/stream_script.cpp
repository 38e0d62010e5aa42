// The scripted stream: the callback's state with no device behind it.
#include "loopcheck/io/stream_script.hpp"

#include <algorithm>

#include "loopcheck/io/stream_state.hpp"

namespace {

uint32_t script_clock(void* context) { return *static_cast<const uint32_t*>(context); }

}  // namespace

stream_ptr stream_script_open(const stream_request& request, double rate, bool clock)
{
    stream_ptr s(new stream);
    s->request = request;
    const int64_t outputs = *std::max_element(request.out_channels.begin(), request.out_channels.end());
    const int64_t inputs = *std::max_element(request.in_channels.begin(), request.in_channels.end());
    stream_channels_set(s->state, request, static_cast<int>(outputs), static_cast<int>(inputs), "scripted", "scripted");
    s->facts.host_api = "scripted";
    s->facts.out_name = s->facts.in_name = "scripted";
    s->facts.rate = rate;
    s->facts.loops = s->state.loops;
    s->facts.stall_advice = " (the script stopped)";
    if (clock)
        s->state.clock_context = &s->script_server_frames, s->state.clock_read = script_clock;
    return s;
}

stream_ptr stream_script_open(double rate, bool clock) { return stream_script_open(stream_request{}, rate, clock); }

int64_t stream_script_next_start(const stream& s)
{
    const int64_t next = s.state.next.load();
    return (next & stream_no_clip) == stream_no_clip ? -1 : next >> stream_clip_bits;
}

int stream_script_next_clip(const stream& s)
{
    const int64_t clip = s.state.next.load() & stream_no_clip;
    return clip == stream_no_clip ? -1 : static_cast<int>(clip);
}

void stream_script_cycle(stream& s, const float* in, float* out, int64_t frames, unsigned xrun_flags,
                         uint32_t server_frames)
{
    s.script_server_frames = server_frames;
    PaStreamCallbackFlags flags = 0;
    flags |= (xrun_flags & xrun_input_overflow) ? paInputOverflow : 0;
    flags |= (xrun_flags & xrun_input_underflow) ? paInputUnderflow : 0;
    flags |= (xrun_flags & xrun_output_underflow) ? paOutputUnderflow : 0;
    flags |= (xrun_flags & xrun_output_overflow) ? paOutputOverflow : 0;
    stream_callback(in, out, static_cast<unsigned long>(frames), nullptr, flags, &s.state);
}
