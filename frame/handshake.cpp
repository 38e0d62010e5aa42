// Key-loop side of the refresh handshake.
#include "frame/handshake.hpp"

#include <thread>

std::atomic<int64_t> snapshot_frozen{1};
std::atomic<int64_t> snapshot_copying{0};

bool snapshot_freeze()
{
    if (snapshot_copying.load() != 0)
        return false;
    snapshot_frozen.store(1);
    // A copy that passed its test just before the freeze lasts a few
    // microseconds; every copy after it sees the freeze.
    while (snapshot_copying.load() != 0)
        std::this_thread::yield();
    return true;
}

void snapshot_release() { snapshot_frozen.store(0); }

void snapshot_reset()
{
    snapshot_frozen.store(1);
    snapshot_copying.store(0);
}
