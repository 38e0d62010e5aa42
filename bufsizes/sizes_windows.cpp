// Buffer-size queries on Windows: what the ASIO driver reports.
#include <pa_asio.h>

#include "bufsizes/buffer_sizes.hpp"

bool host_buffer_sizes(PaHostApiTypeId type, PaDeviceIndex device, long& min, long& max, long& preferred,
                       long& granularity)
{
    return type == paASIO && PaAsio_GetAvailableBufferSizes(device, &min, &max, &preferred, &granularity) == paNoError;
}
