#!/usr/bin/env python3
"""IEC 60268-3's difference-frequency distortion of the battery's twin tone,
computed here with numpy from the definitions, against the analysis's
(tests/probe/twin_tone_probe) on the same captures: within 0.1 dB.

    twin_tone_iec_check.py PROBE

The captures: the plan's two tones (their bins and amplitudes from the
probe), each with a gain of its own (a converter filter's droop at 20 kHz),
through a nonlinearity (a polynomial, a soft clip, a one-sided cube, a
crossover dead band), in white noise of -130 dBFS RMS, as float32. The
definitions, each U the amplitude of the component at that frequency:

    d2 = U(f2 - f1) / (2 U(f2))
    d3 = (U(2 f1 - f2) + U(2 f2 - f1)) / (2 U(f2))

read here from numpy's real FFT of the analysed block with no window (the
tones are coherent with the block, a whole number of cycles: each component's
whole amplitude lies in its bin, 2 |X_k| / n). The analysis reads three Hann
bins instead. A figure the analysis gives as a bound (its component below
its noise) must lie above numpy's reading.
"""
import os
import subprocess
import sys
import tempfile

import numpy as np

RATES = (44100, 48000, 96000, 192000)
NOISE_DBFS = -130.0
TOLERANCE_DB = 0.1

# name: (the gain of f2 re f1, the nonlinearity)
CASES = {
    "polynomial": (1.0, lambda x: x + 1e-3 * x**2 + 1e-3 * x**3),
    "polynomial, f2 0.6 dB down": (0.933, lambda x: x + 3e-4 * x**2 - 2e-3 * x**3),
    "soft clip": (1.0, lambda x: 0.7 * np.tanh(x / 0.7)),
    "one-sided cube": (0.97, lambda x: x + 0.02 * np.maximum(x, 0.0) ** 3),
    "crossover dead band": (1.0, lambda x: np.sign(x) * np.maximum(np.abs(x) - 2e-4, 0.0)),
    "second order only": (1.0, lambda x: x + 5e-3 * x**2),
}


def probe(*args):
    out = subprocess.run([sys.argv[1], *map(str, args)], check=True, capture_output=True, text=True).stdout
    return [line.split() for line in out.splitlines()]


def db(x):
    return 20.0 * np.log10(x)


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    rng = np.random.default_rng(20261210)
    failed = 0
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "capture.f32")
        for rate in RATES:
            plan = probe("plan", rate)
            settle, block = int(plan[0][1]), int(plan[1][1])
            (b1, a1), (b2, a2) = [(int(t[1]), float(t[2])) for t in plan[2:4]]
            # Frame m of the block from phase 0, the settle before it: the
            # phase in integers, as the battery's stimulus is made.
            m = np.arange(-settle, block, dtype=np.int64) % block
            tone1 = np.cos(2.0 * np.pi * ((b1 * m) % block) / block)
            tone2 = np.cos(2.0 * np.pi * ((b2 * m) % block) / block)
            for name, (g2, nonlinear) in CASES.items():
                x = a1 * tone1 + g2 * a2 * tone2
                y = nonlinear(x) + rng.normal(0.0, 10.0 ** (NOISE_DBFS / 20.0), x.size)
                y32 = y.astype(np.float32)
                y32.tofile(path)
                # The definitions, on the same float32 block.
                spectrum = np.abs(np.fft.rfft(y32[settle:].astype(np.float64))) * 2.0 / block
                u = lambda k: spectrum[k] if 0 < k < block // 2 else 0.0
                reference = 2.0 * u(b2)
                ours = {"d2_db": db(u(b2 - b1) / reference),
                        "d3_db": db((u(2 * b1 - b2) + u(2 * b2 - b1)) / reference),
                        "reference_dbfs": db(reference)}
                theirs = {row[0]: (float(row[1]), row[3] == "1") for row in probe("read", rate, path)}
                for key, value in ours.items():
                    read, bound = theirs[key]
                    ok = value <= read + TOLERANCE_DB if bound else abs(read - value) <= TOLERANCE_DB
                    print(f"{'ok  ' if ok else 'FAIL'} {rate} Hz, {name}: {key} numpy {value:.3f}, "
                          f"analysis {'< ' if bound else ''}{read:.3f}")
                    failed += not ok
    print("FAIL" if failed else "PASS")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
