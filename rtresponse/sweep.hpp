// The periodic flat-spectrum sweep, built once at start-up.
#pragma once

// Builds rtresponse::sweep_table through the FFT work arrays; the FFT tables
// must exist.
void build_sweep_table();
