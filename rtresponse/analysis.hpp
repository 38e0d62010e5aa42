// One refresh's analysis: the published snapshot's spectrum as levels in dB.
#pragma once

// Snapshot -> forward FFT -> 10 log10(power + 1e-19) for bins 0 .. 1023, left
// in spectrum_re. Runs on the main thread while the snapshot is frozen.
void response_analysis();
