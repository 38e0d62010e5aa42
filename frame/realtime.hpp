// What an audio thread sets for itself before its frames of work.
#pragma once

// Sets flush-to-zero and denormals-are-zero for the calling thread: MXCSR's FTZ
// and DAZ bits on x86-64, FPCR's FZ bit on AArch64, nothing elsewhere. An
// adaptive filter fed silence lets its taps decay into subnormal numbers and
// stay there, and on many processors every operation on one costs tens to
// hundreds of cycles. Call it from the stream callback, on every call: it reads
// the thread's control register and writes it only when the bits are not yet
// set. Real-time safe: no lock, no allocation, no wait, no thread-local storage.
void realtime_thread_prepare();
