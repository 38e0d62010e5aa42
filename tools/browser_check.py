#!/usr/bin/env python3
"""Opens an HTML page in Debian's headless Chromium and checks that it is
self-contained: a PNG screenshot, the page's DOM as text, and a failure on any
console message or any network request.

  tools/browser_check.py PAGE.html --shot SHOT.png [--size 1000x800]
                         [--dom DOM.html] [--timeout 60]

Exit status: 0 the page loaded quietly; 1 a console message or a network
request (each printed); 2 bad arguments; 3 the browser failed, left no
screenshot or ran out of time.

How it sees the network: Chromium goes through a logging proxy of this
script's own on 127.0.0.1 (loopback included), which refuses every request and
records it. A page of ours loads nothing, so any request is a fault, whether
the page has a Content-Security-Policy or not; with one, the browser blocks
the load and says so on the console, which fails the check as well. Our pages
run no script, so every console line (Chromium logs them all at one level:
CSP violations, errors, plain logs) counts as an error.

Every wait is bounded; the browser runs in a process group of its own, which
is ended whatever happens, and the profile folder is removed.
"""
import argparse
import http.server
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading

CHROMIUM = os.environ.get("CHROMIUM", "/usr/bin/chromium")
FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         # Chromium's own calls home (network time, component updates, accounts)
         # off or sent to a closed local port, so that every request the proxy
         # sees comes from the page. Should a new version of Chromium add one,
         # the check fails and names it: add its switch here.
         "--disable-extensions", "--disable-default-apps", "--no-default-browser-check",
         "--disable-domain-reliability", "--no-pings", "--disable-breakpad",
         "--disable-features=NetworkTimeServiceQuerying,OptimizationHints,MediaRouter,Translate",
         "--gaia-url=http://127.0.0.1:9", "--lso-url=http://127.0.0.1:9", "--google-apis-url=http://127.0.0.1:9",
         "--component-updater=url-source=http://127.0.0.1:9",
         "--hide-scrollbars", "--force-device-scale-factor=1",
         "--enable-logging=stderr", "--v=0"]
CONSOLE = re.compile(r":CONSOLE[:(]\d*\)?\] (.*)")


class Refuser(http.server.BaseHTTPRequestHandler):
    """Records the request line of every request and refuses it."""
    requests = []

    def __getattr__(self, name):
        if name.startswith("do_"):
            return self.refuse
        raise AttributeError(name)

    def refuse(self):
        Refuser.requests.append(self.requestline)
        self.send_response(403)
        self.send_header("Content-Length", "0")
        self.send_header("Connection", "close")
        self.end_headers()

    def log_message(self, *args):
        pass


def group_running(group):
    """Whether a process of the group still runs. Zombies do not count: the
    helpers that outlive the browser are reparented, and where no init reaps
    them they stay in the group as zombies."""
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
        except OSError:
            continue
        if int(fields[2]) == group and fields[0] != "Z":
            return True
    return False


def end_group(process):
    """Ends the browser's process group: a polite signal and 3 s of grace if
    the browser still runs, then a kill for whatever is left of the group."""
    # A second signal must not cut the cleaning short.
    for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(sig, signal.SIG_IGN)
    if process.poll() is None:
        try:
            os.killpg(process.pid, signal.SIGTERM)
            process.wait(timeout=3)
        except (ProcessLookupError, subprocess.TimeoutExpired):
            pass
    for _ in range(50):
        if not group_running(process.pid):
            break
        try:
            os.killpg(process.pid, signal.SIGKILL)
        except ProcessLookupError:
            break
        threading.Event().wait(0.1)
    if process.poll() is None:
        process.wait(timeout=5)


def parse_size(text):
    m = re.fullmatch(r"(\d{2,5})x(\d{2,5})", text)
    if not m:
        raise argparse.ArgumentTypeError(f"size {text!r} is not WIDTHxHEIGHT (e.g. 1000x800)")
    return int(m.group(1)), int(m.group(2))


def parse_timeout(text):
    try:
        value = float(text)
    except ValueError:
        value = float("nan")
    if not (1 <= value <= 600):
        raise argparse.ArgumentTypeError(f"timeout {text!r} is not a number of seconds from 1 to 600")
    return value


def main():
    # Ended from outside (a test's time-out, ^C): through the finally clauses
    # below, so that the browser's group and the profile go too.
    for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(sig, lambda number, frame: sys.exit(3))
    parser = argparse.ArgumentParser(description="Checks an HTML page in headless Chromium.")
    parser.add_argument("page")
    parser.add_argument("--shot", required=True, help="PNG screenshot to write")
    parser.add_argument("--size", type=parse_size, default=(1000, 800), help="window WIDTHxHEIGHT")
    parser.add_argument("--dom", help="where to write the page's DOM after loading")
    parser.add_argument("--timeout", type=parse_timeout, default=60.0, help="seconds the browser may take")
    args = parser.parse_args()
    if not os.path.isfile(args.page):
        print(f"browser_check: no page {args.page}", file=sys.stderr)
        return 2
    if not os.access(CHROMIUM, os.X_OK):
        print(f"browser_check: no browser at {CHROMIUM} (Debian package chromium)", file=sys.stderr)
        return 3

    proxy = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Refuser)
    proxy.daemon_threads = True
    threading.Thread(target=proxy.serve_forever, daemon=True).start()
    profile = tempfile.mkdtemp(prefix="browser_check.")
    shot = os.path.abspath(args.shot)
    if os.path.exists(shot):
        os.remove(shot)
    command = [CHROMIUM, *FLAGS, f"--user-data-dir={profile}",
               f"--proxy-server=http://127.0.0.1:{proxy.server_address[1]}",
               # Loopback too: without this Chromium never sends it to a proxy.
               "--proxy-bypass-list=<-loopback>",
               f"--window-size={args.size[0]},{args.size[1]}", f"--screenshot={shot}", "--dump-dom",
               "file://" + os.path.abspath(args.page)]
    status = 0
    try:
        with open(os.path.join(profile, "stdout"), "wb") as out, open(os.path.join(profile, "stderr"), "wb") as err:
            process = subprocess.Popen(command, stdout=out, stderr=err, stdin=subprocess.DEVNULL,
                                       start_new_session=True, env={**os.environ, "HOME": profile, "TMPDIR": profile})
            try:
                process.wait(timeout=args.timeout)
            except subprocess.TimeoutExpired:
                print(f"browser_check: the browser took more than {args.timeout:g} s", file=sys.stderr)
                status = 3
            finally:
                end_group(process)
        with open(os.path.join(profile, "stderr"), encoding="utf-8", errors="replace") as err:
            log = err.read()
        with open(os.path.join(profile, "stdout"), encoding="utf-8", errors="replace") as out:
            dom = out.read()
        if args.dom:
            with open(args.dom, "w", encoding="utf-8") as f:
                f.write(dom)
        for line in log.splitlines():
            m = CONSOLE.search(line)
            if m:
                print(f"browser_check: console: {m.group(1)}")
                status = status or 1
        for request in list(Refuser.requests):
            print(f"browser_check: network request: {request}")
            status = status or 1
        if status != 3 and (process.returncode != 0 or not os.path.isfile(shot)):
            print(f"browser_check: the browser exited with status {process.returncode} without a screenshot",
                  file=sys.stderr)
            print("\n".join(log.splitlines()[-10:]), file=sys.stderr)
            status = 3
    finally:
        proxy.shutdown()
        proxy.server_close()
        shutil.rmtree(profile, ignore_errors=True)
    return status


if __name__ == "__main__":
    sys.exit(main())
