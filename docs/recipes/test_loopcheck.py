"""A pytest test in labgrid's style: loopcheck measures the bench's interface
and the test reads its JSON.

Run it on the bench itself (`pytest test_loopcheck.py`), or through labgrid
(`pytest --lg-env bench.yaml test_loopcheck.py`): when labgrid's plugin gives
a `target`, loopcheck runs on it through the target's ShellDriver, as labgrid's
own tests run commands on a board. pytest's `--junitxml` gives the results as
JUnit for the CI engine.

What the bench should read comes from the environment, so that one file
serves every bench:
  LOOPCHECK          the program (default: loopcheck, on PATH)
  LOOPCHECK_OPTIONS  its device and options (-d "USB Audio", --out 1,2 ...)
  EXPECT_FRAMES      the loop's known round trip in frames, and
  EXPECT_TOLERANCE   how far from it the latency may be (default 1 frame)
  MIN_GAIN_DB, MAX_GAIN_DB   the loop's gain's bounds (default -20 and +6 dB)
"""
import json
import os
import shlex
import subprocess

import pytest

TIMEOUT_S = 120


@pytest.fixture
def run_command(request):
    """A function that runs a shell command on the bench: (standard output, exit status)."""
    try:
        target = request.getfixturevalue("target")  # labgrid's pytest plugin
    except pytest.FixtureLookupError:
        target = None
    if target is not None:
        shell = target.get_driver("ShellDriver")

        def on_target(command):
            stdout, _, status = shell.run(command, timeout=TIMEOUT_S)
            return "\n".join(stdout), status

        return on_target

    def here(command):
        done = subprocess.run(command, shell=True, capture_output=True, text=True, timeout=TIMEOUT_S)
        return done.stdout, done.returncode

    return here


@pytest.fixture
def loopcheck(run_command):
    """Runs loopcheck --json with the bench's options and the test's: its object and exit status."""

    def measure(*options):
        command = " ".join(
            [shlex.quote(os.environ.get("LOOPCHECK", "loopcheck")), os.environ.get("LOOPCHECK_OPTIONS", ""), "--json"]
            + [shlex.quote(o) for o in options]
        )
        stdout, status = run_command(command)
        return json.loads(stdout), status

    return measure


def test_latency(loopcheck):
    expect = float(os.environ["EXPECT_FRAMES"])
    tolerance = float(os.environ.get("EXPECT_TOLERANCE", "1"))
    result, status = loopcheck("--expect", f"{expect}:{tolerance}")
    assert result["status"] == "ok", result["message"]
    assert status == 0
    summary = result["summary"]
    assert abs(summary["mean_frames"] - expect) <= tolerance
    low = float(os.environ.get("MIN_GAIN_DB", "-20"))
    high = float(os.environ.get("MAX_GAIN_DB", "6"))
    assert low <= summary["gain_db"] <= high
    assert result["runs"][0]["polarity"] == "normal"


def test_identity(loopcheck):
    result, _ = loopcheck()
    environment = result["environment"]
    assert environment["key"], "the interface's key, what a lab groups its results by"
    assert environment["loopcheck"]["version"] == result["version"]
