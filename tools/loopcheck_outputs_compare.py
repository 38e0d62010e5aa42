#!/usr/bin/env python3
"""Compares what loopcheck printed for the same cases in two folders
(tools/loopcheck_outputs.sh makes them): the exit statuses, the JSON (one
object, or JSON Lines) key for key and value for value, and the text line for
line, word for word, within the tolerances below. Prints each difference and
exits 1 when there is any.

    tools/loopcheck_outputs_compare.py BEFORE_DIR AFTER_DIR [CASE...]

What is not compared, and why (the tolerance of tests/e2e/loopcheck_outputs_test.sh):
- timings: wall clocks ("wall", the text's "(2026-...Z)"), the stream frames at
  which things were scheduled and a glitch's frame from the stimulus's start
  (they follow the machine's pace), the seconds a glitch or a status came at;
- the busy machine's own marks: xruns (their events and counts), attempts,
  dropouts and segments played again, "retried", the seconds played, and the
  safety they decide (a --buffers row with an xrun is "NOT SAFE"): the test
  runs a case again when the server logged a late client during it;
- numerical noise: a figure more than 120 dB down in both runs (a loop without
  distortion or noise has THD+N and harmonics at the floor of float arithmetic),
  an SNR above 80 dB in both (the same floor, seen from the other side);
  the latency to 0.01 frame, its uncertainty to 2e-4 frame, the SNR to 3 dB,
  drifts to 0.01 ppm, the seconds a soak or a monitor checked, followed or
  lost, and the drift's span, to 0.5 s (the detector locks on after some
  0.6 s); every other number to 1e-6 of itself.

Keys that --quality writes since the battery gave each figure its floor
(ADDED below: floors, bounds, the crosstalk's method, the twin tone's d2 and
d3), and every object's schema_version and environment (schema 1.1), are additions: an output that has them beside every key it had is not a
difference, and every key it had is compared as before. A key that went, or
one new and not in ADDED, is a difference.

What the outputs kept before a fault was mended said of it is taken out of
them first (FIXED below): every --monitor run's start said the monitor had
not run ("note: --monitor did not run: the session ended before it", and the
start event's measurement.not_run listed it), before it ran.
"""
import json
import math
import re
import sys
from pathlib import Path

# Keys whose values are timings or the machine's marks: not compared.
IGNORED = {
    "wall", "stream_frame", "first_sound_stream_frame", "t_s", "frame", "attempts", "dropouts", "replayed",
    "played_s", "retried", "xruns", "safe", "smallest_safe_buffer",
}
# Keys compared within an absolute tolerance.
ABSOLUTE = {
    "latency_frames": 0.01, "mean_frames": 0.01, "min_frames": 0.01, "max_frames": 0.01, "sd_frames": 0.01,
    "excess_frames": 0.01, "group_delay_frames": 0.01, "group_delay_1khz_frames": 0.01,
    "latency_halves_frames": 0.01, "position": 1, "latency_uncertainty_frames": 2e-4,
    "group_delay_1khz_sd_frames": 1e-3, "snr_db": 3.0, "drift_ppm": 0.01, "drift_ppm_uncertainty": 0.01,
    "drift_ppm_interval_95": 0.02, "soak_s": 0.5, "duration_s": 0.5, "longest_clean_s": 0.5,
    "frames_checked": 24000, "delay_start_frames": 0.01, "delay_end_frames": 0.01, "delay_frames": 0.01,
    "latency_ms": 0.001, "mean_ms": 0.001, "offset_ppm": 0.01, "value": 1e-4, "level_db": 0.01, "drift_batch_s": 0.05,
    # The monitor's summary keys added by issue 44: the seconds it followed or
    # lost and the drift's span, as the seconds it checked (lock-on's pace).
    "followed_s": 0.5, "lost_s": 0.5, "frames_lost": 24000, "drift_from_s": 0.5, "drift_to_s": 0.5,
}
# Keys added to --quality's JSON since the outputs were kept, as its cases
# (one loop) write them: each figure's floor and bound, the crosstalk's method,
# the twin tone's d2 and d3; "bound" beside each of --limits' values.
ADDED = {
    "thd_n_floor", "thd_n_a_floor", "offbin_spread_db", "thd_floor", "harmonics_floor", "floor_dbfs", "smpte_floor",
    "ccif_floor", "ccif_d2_db", "ccif_d2_floor", "ccif_d3_db", "ccif_d3_floor", "ccif_reference_dbfs",
    "ccif_references", "crosstalk_db", "crosstalk_db_reason", "crosstalk_floor", "crosstalk_method", "bound",
    # The interface's clock against the system's (every report, the monitor's summary): null under 5 s.
    "clock_rate",
    # --buffers' rows: why a row has no clock_rate ("too short (under 5 s)").
    "clock_rate_reason",
    # Every object's since schema 1.1: its version and where it was made (the machine, the libraries, the card).
    "schema_version", "environment",
    # The response's rows 1/24 octave apart since schema 1.2, and their spacing.
    "rows", "rows_per_octave",
}
FLOOR_DB = -120.0
SNR_FLOOR_DB = 80.0


def close(key, a, b):
    if a <= FLOOR_DB and b <= FLOOR_DB:
        return True
    if key == "snr_db" and a >= SNR_FLOOR_DB and b >= SNR_FLOOR_DB:
        return True
    if key in ABSOLUTE:
        return abs(a - b) <= ABSOLUTE[key]
    return abs(a - b) <= 1e-6 * max(1.0, abs(a), abs(b))


def compare(a, b, path, key, out):
    if key in IGNORED:
        return
    if isinstance(a, bool) or isinstance(b, bool) or a is None or b is None or isinstance(a, str):
        if a != b:
            out.append(f"{path}: {a!r} before, {b!r} after")
        return
    if isinstance(a, (int, float)) and isinstance(b, (int, float)):
        if not (math.isfinite(a) and math.isfinite(b) and close(key, a, b)):
            out.append(f"{path}: {a!r} before, {b!r} after")
        return
    if type(a) is not type(b):
        out.append(f"{path}: {type(a).__name__} before, {type(b).__name__} after")
        return
    if isinstance(a, dict):
        if list(a) != list(b):
            missing, added = [k for k in a if k not in b], [k for k in b if k not in a and k not in ADDED]
            if missing or added:
                out.append(f"{path}: keys {missing} gone, {added} new")
        for k in a:
            if k in b:
                compare(a[k], b[k], f"{path}.{k}", k, out)
        return
    if len(a) != len(b):
        out.append(f"{path}: {len(a)} items before, {len(b)} after")
        return
    for i, (x, y) in enumerate(zip(a, b)):
        compare(x, y, f"{path}[{i}]", key, out)


# The faults mended since the outputs were kept: what they said of them, in the text and the JSON.
FIXED_NOTE = "note: --monitor did not run: the session ended before it"
FIXED_NOT_RUN = {"mode": "monitor", "reason": "the session ended before it"}


def events(text, before):
    """The JSON objects of one output, the stream's xrun events left out."""
    objects = [json.loads(line) for line in text.splitlines() if line.strip()]
    for o in objects:
        measurement = o.get("measurement") if before and o.get("event") == "start" else None
        if measurement and FIXED_NOT_RUN in measurement.get("not_run", []):
            measurement["not_run"].remove(FIXED_NOT_RUN)
    return [o for o in objects if o.get("event") != "xrun"]


# Text lines that only the busy machine writes.
MACHINE_LINES = re.compile(r"^(xrun at |warning: played again after a dropout|warning: (loop \d+ )?run \d+ retried)")
WALL = re.compile(r"\(\d{4}-\d\d-\d\dT[0-9:.]+Z\)")
# Figures of the busy machine (seconds played with the replays) and of the
# float floor (an SNR above 80 dB), as the text prints them.
MACHINE_FIGURES = [(re.compile(r"[\d.]+ s played"), "# s played"), (re.compile(r"SNR (\d{3}|[89]\d) dB"), "SNR # dB")]
NUMBER = re.compile(r"[-+]?\d+(?:\.\d+)?(?:e[-+]?\d+)?")


def text_lines(text):
    lines = []
    for line in text.splitlines():
        if MACHINE_LINES.match(line) or line == FIXED_NOTE:
            continue
        line = WALL.sub("(WALL)", line)
        for pattern, said in MACHINE_FIGURES:
            line = pattern.sub(said, line)
        lines.append(line)
    return lines


def compare_text(a, b, name, out):
    la, lb = text_lines(a), text_lines(b)
    if len(la) != len(lb):
        out.append(f"{name}: {len(la)} lines before, {len(lb)} after")
    for i, (x, y) in enumerate(zip(la, lb)):
        if NUMBER.sub("#", x) != NUMBER.sub("#", y):
            out.append(f"{name}:{i + 1}: before: {x}\n{' ' * len(name)}   after:  {y}")
            continue
        for p, q in zip(NUMBER.findall(x), NUMBER.findall(y)):
            u, v = float(p), float(q)
            # A text prints rounded figures: a last digit off by one is rounding.
            step = 10.0 ** -len(p.split(".")[1]) if "." in p and "e" not in p else 1.0
            if not (u == v or (u <= FLOOR_DB and v <= FLOOR_DB) or abs(u - v) <= max(step, 0.01 * abs(u), 0.5)):
                out.append(f"{name}:{i + 1}: {p} before, {q} after: {y}")


def main():
    before, after = Path(sys.argv[1]), Path(sys.argv[2])
    cases = sys.argv[3:] or sorted(p.name[:-len(".status")] for p in before.glob("*.status"))
    problems = []
    for case in cases:
        found = []
        sa, sb = (before / f"{case}.status").read_text().strip(), (after / f"{case}.status").read_text().strip()
        if sa != sb:
            found.append(f"{case}: exit status {sa} before, {sb} after")
        for stream in ("out", "err"):
            a = (before / f"{case}.{stream}").read_text()
            b = (after / f"{case}.{stream}").read_text()
            if stream == "out" and case.endswith("-json"):
                ea, eb = events(a, True), events(b, False)
                if [o.get("event") for o in ea] != [o.get("event") for o in eb]:
                    found.append(f"{case}: events {[o.get('event') for o in ea]} before, "
                                 f"{[o.get('event') for o in eb]} after")
                for i, (x, y) in enumerate(zip(ea, eb)):
                    compare(x, y, f"{case}[{i}]", "", found)
            else:
                compare_text(a, b, f"{case}.{stream}", found)
        problems += found
        print(f"{'ok  ' if not found else 'DIFF'} {case}")
    for p in problems:
        print("  " + p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
