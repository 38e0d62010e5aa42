// The refresh handshake between the audio callback, which publishes a copy of
// its results in a snapshot, and the key loop, which freezes the snapshot for
// the length of one refresh.
//
// Both flags are sequentially consistent: the key loop raises snapshot_frozen
// and then waits while snapshot_copying is 1; the callback raises
// snapshot_copying before it tests snapshot_frozen. So either the callback sees
// the freeze and copies nothing, or the key loop sees the copy and waits for
// its end: a refresh never reads a snapshot that a copy is writing.
#pragma once
#include <atomic>
#include <cstdint>
#include <cstring>

// 1 while a refresh may read the snapshot; starts at 1, so nothing is
// published before the first refresh. Written by the key loop only.
extern std::atomic<int64_t> snapshot_frozen;
// 1 while the callback copies into the snapshot. Written by the callback only.
extern std::atomic<int64_t> snapshot_copying;
static_assert(std::atomic<int64_t>::is_always_lock_free);

// Audio-thread side: copies count floats from source into snapshot unless a
// refresh holds it. Real-time safe: no lock, no wait, no allocation.
inline void snapshot_publish(const float* source, float* snapshot, size_t count)
{
    snapshot_copying.store(1);
    if (snapshot_frozen.load() == 0)
        std::memcpy(snapshot, source, count * sizeof(float));
    snapshot_copying.store(0);
}

// Key-loop side: when no copy is under way, freezes the snapshot and waits for
// a copy that began just before the freeze to finish; returns false (and
// freezes nothing) when a copy was under way at the first look.
bool snapshot_freeze();
// Lets the callback publish again.
void snapshot_release();
// Back to the program-load state: frozen 1, copying 0 (tests).
void snapshot_reset();
