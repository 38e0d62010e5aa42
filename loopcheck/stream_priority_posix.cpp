// Real-time scheduling of PortAudio's ALSA callback thread. Without it the
// thread is an ordinary one, and on a busy machine it comes late to the
// device: through an ALSA plugin that buffers on its own (PipeWire's), a late
// thread shows as frames dropped or inserted with no xrun reported, and a
// monitor would report the machine's load as the interface's glitches.
#include "loopcheck/stream_priority.hpp"

#include <pa_linux_alsa.h>
#include <pthread.h>
#include <sched.h>

namespace {

// Whether this process may run a thread at SCHED_FIFO: tried on the calling
// thread and undone at once.
bool fifo_allowed()
{
    int policy = 0;
    sched_param before{};
    if (pthread_getschedparam(pthread_self(), &policy, &before) != 0)
        return false;
    sched_param lowest{};
    lowest.sched_priority = sched_get_priority_min(SCHED_FIFO);
    if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &lowest) != 0)
        return false;
    pthread_setschedparam(pthread_self(), policy, &before);
    return true;
}

}  // namespace

void stream_priority_ask(PaStream* stream, PaHostApiTypeId api)
{
    // Only where it will be granted: PortAudio's start reads errno, not the
    // refusal's own code, to tell a refused priority from a failure, so a
    // refusal could fail the start with an internal error.
    if (api == paALSA && fifo_allowed())
        PaAlsa_EnableRealtimeScheduling(stream, 1);
}
