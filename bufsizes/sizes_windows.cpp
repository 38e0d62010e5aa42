// Buffer-size queries on Windows: what the ASIO driver reports, when PortAudio
// was built with ASIO (PORTAUDIO_HAS_ASIO); the other Windows host APIs have
// no such query.
#include <pa_asio.h>

#include "bufsizes/buffer_sizes.hpp"

bool host_buffer_sizes(PaHostApiTypeId type, PaDeviceIndex device, long& min, long& max, long& preferred,
                       long& granularity)
{
#if PORTAUDIO_HAS_ASIO
    return type == paASIO && PaAsio_GetAvailableBufferSizes(device, &min, &max, &preferred, &granularity) == paNoError;
#else
    (void)type, (void)device, (void)min, (void)max, (void)preferred, (void)granularity;
    return false;
#endif
}
