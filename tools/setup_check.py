#!/usr/bin/env python3
"""Holds the project's scripts to what tools/setup.sh installs.

Every command that the shell scripts call (found in their syntax trees, read
by shfmt, not by guessing at words) and every Python module that the Python
code imports must be the file of a Debian package that tools/setup.sh's lists
install, of one those packages depend on, or of an essential package. A tool
under /usr/local, a link made by hand, a language manager's interpreter or a
package installed by hand all pass on the machine they were made on and fail
on a fresh one: this check fails on them here.

    tools/setup_check.py SOURCE_DIR PACKAGE...

Commands are looked up on the PATH the suite runs with (tools/packaged.sh,
which puts the system's folders first). A tool that a package keeps off PATH
is named in the scripts through `packaged_command PACKAGE NAME`: the check
asks the package's own file list for it. Prints one line when all is well,
else one line a problem, and exits 1.
"""
import concurrent.futures
import json
import os
import re
import shutil
import subprocess
import sys

# Commands that run the command after their options: the check looks through them.
WRAPPERS = {
    "timeout": {"-k": 1, "-s": 1, "--kill-after": 1, "--signal": 1, "positional": 1},
    "nice": {"-n": 1},
    "env": {"-u": 1},
    "exec": {"-a": 1},
    "command": {},
    "setsid": {},
    "stdbuf": {},
    "nohup": {},
    "time": {},
    "chrt": {"positional": 1},
    "unshare": {"--propagation": 1},
    "xargs": {"-n": 1, "-P": 1, "-I": 1, "-d": 1, "-L": 1, "-s": 1},
    "sudo": {"-u": 1, "-g": 1},
    "pw-jack": {},
    "flock": {"-w": 1, "positional": 1},
}
SHELLS = {"bash", "sh"}
# Called only where they are there, and never by the tests: sudo, by
# tools/setup.sh for a user who is not root.
OPTIONAL = {"sudo"}


def run(args, **kw):
    return subprocess.run(args, capture_output=True, text=True, **kw)


def literal(word):
    """The text of a word made only of literal parts (quoted or not), else None."""
    text = ""
    for part in word.get("Parts", []):
        kind = part.get("Type")
        if kind == "Lit":
            text += part.get("Value", "")
        elif kind == "SglQuoted":
            text += part.get("Value", "")
        elif kind == "DblQuoted":
            inner = literal(part)
            if inner is None:
                return None
            text += inner
        else:
            return None
    return text


def walk(node, visit):
    if isinstance(node, dict):
        visit(node)
        for value in node.values():
            walk(value, visit)
    elif isinstance(node, list):
        for value in node:
            walk(value, visit)


def parse(text, where):
    done = run(["shfmt", "--tojson"], input=text)
    if done.returncode != 0:
        raise SystemExit(f"setup check: shfmt cannot read {where}: {done.stderr.strip()}")
    return json.loads(done.stdout)


def commands_of(tree, where, found, functions, packaged):
    """Adds to found {name: where} every command name a CallExpr of tree runs."""

    def visit(node):
        if node.get("Type") == "FuncDecl":
            functions.add(node["Name"]["Value"])
        if node.get("Type") != "CallExpr" or not node.get("Args"):
            return
        words = [literal(w) for w in node["Args"]]
        line = node["Pos"]["Line"]
        i = 0
        while i < len(words):
            name = words[i]
            if name is None:
                return
            if name == "packaged_command" and i + 2 < len(words) and words[i + 1] and words[i + 2]:
                packaged.setdefault((words[i + 1], words[i + 2]), f"{where}:{line}")
                return
            if name == "command" and i + 2 < len(words) and words[i + 1] == "-v":
                name, i = words[i + 2], len(words)
                if name is None:
                    return
            found.setdefault(name, f"{where}:{line}")
            if name in SHELLS and i + 2 < len(words) and words[i + 1] == "-c" and words[i + 2]:
                commands_of(parse(words[i + 2], f"{where}:{line}"), f"{where}:{line}", found, functions, packaged)
                return
            if name not in WRAPPERS:
                return
            options = WRAPPERS[name]
            positional = options.get("positional", 0)
            i += 1
            while i < len(words):
                w = words[i]
                if w is None:
                    return
                if name == "env" and re.match(r"^[A-Za-z_][A-Za-z0-9_]*=", w):
                    i += 1
                elif w.startswith("-"):
                    i += 1 + options.get(w, 0)
                elif positional > 0:
                    positional -= 1
                    i += 1
                else:
                    break

    walk(tree, visit)


def variants(path):
    """The names under which dpkg may know a program: its real file and the
    path found, each also without the /usr that Debian 12's merged /usr adds."""
    names = []
    for candidate in (os.path.realpath(path), path):
        names.append(candidate)
        if re.match(r"^/usr/s?bin/", candidate):
            names.append(candidate[4:])
    return names


def owners(paths):
    """{path: the package that installed it (under any of its names), or None}, in one dpkg call."""
    names = sorted({n for p in paths for n in variants(p)})
    known = {}
    for line in run(["dpkg-query", "-S", *names]).stdout.splitlines():
        package, _, name = line.partition(": ")
        if name and "diversion" not in package:
            known.setdefault(name.strip(), package.split(":")[0].split(",")[0].strip())
    return {p: next((known[n] for n in variants(p) if n in known), None) for p in paths}


def allowed_packages(listed):
    """The listed packages, what they depend on (installed), and the essential ones."""
    allowed = set(listed)
    done = run(["apt-cache", "depends", "--recurse", "--installed", "--no-recommends", "--no-suggests",
                "--no-conflicts", "--no-breaks", "--no-replaces", "--no-enhances", *listed])
    for line in done.stdout.splitlines():
        if line and not line[0].isspace() and not line.startswith("<"):
            allowed.add(line.split(":")[0])
    status = run(["dpkg-query", "-W", "-f", "${Package} ${Essential} ${Priority}\n"])
    for line in status.stdout.splitlines():
        fields = line.split()
        if len(fields) >= 3 and (fields[1] == "yes" or fields[2] == "required"):
            allowed.add(fields[0])
    return allowed


def python_modules(source_dir, files):
    """Top-level modules imported by the Python files and the scripts' Python heredocs."""
    modules = {}
    pattern = re.compile(r"^\s*(?:import|from)\s+([A-Za-z_][A-Za-z0-9_]*)")
    for name in files:
        if not (name.endswith(".py") or name.endswith(".sh")):
            continue
        with open(os.path.join(source_dir, name), encoding="utf-8", errors="replace") as f:
            in_python = name.endswith(".py")
            for number, text in enumerate(f, 1):
                if name.endswith(".sh"):
                    if re.search(r"python3 .*<<-?'?PY'?", text):
                        in_python = True
                        continue
                    if text.strip() == "PY":
                        in_python = False
                        continue
                if in_python:
                    m = pattern.match(text)
                    if m:
                        modules.setdefault(m.group(1), f"{name}:{number}")
    return modules


def main():
    if len(sys.argv) < 3:
        raise SystemExit("usage: tools/setup_check.py SOURCE_DIR PACKAGE...")
    source_dir, listed = sys.argv[1], sys.argv[2:]
    problems = []
    for tool in ("shfmt", "dpkg-query", "apt-cache"):
        if not shutil.which(tool):
            raise SystemExit(f"setup check: no {tool} (tools/setup.sh test installs shfmt)")
    missing = [p for p in listed
               if "install ok installed" not in run(["dpkg-query", "-W", "-f", "${Status}", p]).stdout]
    if missing:
        problems.append(f"not installed: {' '.join(missing)} (run tools/setup.sh)")
    files = run(["git", "-C", source_dir, "ls-files"]).stdout.split()
    scripts = [f for f in files if f.endswith(".sh") or f == ".ci/run"]

    def read_tree(name):
        with open(os.path.join(source_dir, name), encoding="utf-8") as f:
            return parse(f.read(), name)

    # shfmt a process a script, and apt-cache, side by side: seconds, not tens of them.
    with concurrent.futures.ThreadPoolExecutor(max_workers=os.cpu_count() or 2) as pool:
        allowed_later = pool.submit(allowed_packages, [p for p in listed if p not in missing])
        trees = list(pool.map(read_tree, scripts))
        allowed = allowed_later.result()
    found, functions, packaged = {}, set(), {}
    for name, tree in zip(scripts, trees):
        commands_of(tree, name, found, functions, packaged)
    builtins = set(run(["bash", "-c", "compgen -b -k"]).stdout.split())
    commands = {}
    for name, where in sorted(found.items()):
        if name in functions or name in builtins or name in OPTIONAL or "/" in name:
            continue
        if not re.match(r"^[A-Za-z_][\w.+-]*$", name):
            continue
        path = shutil.which(name)
        if path is None:
            problems.append(f"{name} ({where}): not found on the suite's PATH: "
                            "which package of tools/setup.sh's lists installs it?")
        else:
            commands[name] = path
    by_path = owners(commands.values())
    for name, path in commands.items():
        package, where = by_path[path], found[name]
        if package is None:
            problems.append(f"{name} ({where}): {path} belongs to no package (made by hand?): the suite must not use it")
        elif package not in allowed:
            problems.append(f"{name} ({where}): {path} comes from {package}, which no list of tools/setup.sh installs")
    checked = len(commands)
    for (package, name), where in sorted(packaged.items()):
        checked += 1
        if package not in listed:
            problems.append(f"{name} of {package} ({where}): {package} is on no list of tools/setup.sh")
            continue
        paths = run(["dpkg-query", "-L", package]).stdout.split()
        if not any(p.endswith("/" + name) and os.access(p, os.X_OK) and not os.path.isdir(p) for p in paths):
            problems.append(f"{name} ({where}): the package {package} installs no such program")

    modules = python_modules(source_dir, files)
    probe = ("import importlib.util, sys\n"
             "for m in sys.argv[1:]:\n"
             "    s = importlib.util.find_spec(m)\n"
             "    print(m, 'builtin' if s and s.origin in ('built-in', 'frozen') else (s.origin if s else '-'))\n")
    python = shutil.which("python3")
    local = {os.path.splitext(os.path.basename(f))[0] for f in files if f.endswith(".py")}
    wanted = sorted(m for m in modules if m not in local)
    origins = {}
    for line in run([python or "python3", "-c", probe, *wanted]).stdout.splitlines():
        module, origin = line.split(" ", 1)
        if origin == "-":
            problems.append(f"Python module {module} ({modules[module]}): not found by {python}")
        elif origin != "builtin":
            origins[module] = origin
    by_origin = owners(origins.values())
    for module, origin in origins.items():
        package = by_origin[origin]
        if package is None:
            problems.append(f"Python module {module} ({modules[module]}): {origin} belongs to no package")
        elif package not in allowed:
            problems.append(f"Python module {module} ({modules[module]}): {origin} comes from {package}, "
                            "which no list of tools/setup.sh installs")
    if problems:
        print("\n".join(f"setup check: {p}" for p in problems))
        return 1
    print(f"setup check: {checked} commands and {len(wanted)} Python modules the scripts use, each from a package "
          f"of tools/setup.sh's lists ({len(listed)} packages), a dependency of one, or an essential one")
    return 0


if __name__ == "__main__":
    sys.exit(main())
