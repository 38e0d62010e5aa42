#!/usr/bin/env python3
"""Checks the documentation's links: every relative link of README.md and
docs/**/*.md ([text](path), [text](path#anchor), [text](#anchor), images too)
names a file that exists and, for a Markdown file, a heading it has (GitHub's
anchors: lower case, punctuation dropped, blanks made hyphens, -1, -2 ... for
repeats); and every plain mention of a docs/ or README file, with or without
an anchor, in the repository's tracked sources, scripts, man pages and CMake
files (docs/loopcheck.md, README.md#try-it-with-no-hardware) names one that
exists. Links into fenced code are not links and are left alone.

    tools/doc_links.py [ROOT]      ROOT: the repository (default: this one)

Prints one line per broken link (FILE:LINE: what is wrong) and exits 1 when
there is any, 0 otherwise.
"""
import os
import re
import subprocess
import sys
import unicodedata

ROOT = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), ".."))


def slug(text):
    """GitHub's anchor for a heading's text."""
    text = re.sub(r"!\[[^\]]*\]\([^)]*\)", "", text)            # images
    text = re.sub(r"\[([^\]]*)\]\([^)]*\)", r"\1", text)         # links: their text
    text = text.replace("`", "").replace("*", "")
    text = re.sub(r"<[^>]+>", "", text)
    out = []
    for ch in text.strip().lower():
        cat = unicodedata.category(ch)
        if ch in " -_" or cat[0] in "LN":
            out.append("-" if ch == " " else ch)
    return "".join(out)


def lines_outside_code(path):
    """(line number, text) of a Markdown file, fenced blocks left out."""
    fence = None
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            stripped = line.lstrip()
            m = re.match(r"(`{3,}|~{3,})", stripped)
            if m:
                if fence is None:
                    fence = m.group(1)
                    continue
                if stripped.startswith(fence):
                    fence = None
                    continue
            if fence is None:
                yield number, line


anchor_cache = {}


def anchors(path):
    if path not in anchor_cache:
        seen = {}
        found = set()
        for _, line in lines_outside_code(path):
            m = re.match(r"\s{0,3}(#{1,6})\s+(.*?)\s*#*\s*$", line)
            if not m:
                continue
            base = slug(m.group(2))
            n = seen.get(base, 0)
            seen[base] = n + 1
            found.add(base if n == 0 else f"{base}-{n}")
        for _, line in lines_outside_code(path):                  # <a name="..."> / id="..."
            for m in re.finditer(r"<a\s+(?:name|id)=\"([^\"]+)\"", line):
                found.add(m.group(1))
        anchor_cache[path] = found
    return anchor_cache[path]


problems = []


def check_target(where, base_dir, target):
    """target: a path relative to base_dir, with or without #anchor."""
    path, _, anchor = target.partition("#")
    full = os.path.normpath(os.path.join(base_dir, path)) if path else None
    if full is not None and not os.path.exists(full):
        problems.append(f"{where}: {target}: no file {os.path.relpath(full, ROOT)}")
        return
    if anchor:
        if full is None:
            full = None  # filled in by the caller for same-file anchors
        if full is not None and not full.endswith(".md"):
            return
        if full is not None and anchor not in anchors(full):
            problems.append(f"{where}: {target}: {os.path.relpath(full, ROOT)} has no heading #{anchor}")


markdown = [os.path.join(ROOT, "README.md")]
for folder, _, files in os.walk(os.path.join(ROOT, "docs")):
    markdown += [os.path.join(folder, f) for f in sorted(files) if f.endswith(".md")]

link = re.compile(r"!?\[(?:[^\[\]]|\[[^\]]*\])*\]\(([^)\s]+)(?:\s+\"[^\"]*\")?\)")
for md in markdown:
    rel = os.path.relpath(md, ROOT)
    for number, line in lines_outside_code(md):
        line = re.sub(r"`[^`]*`", "", line)                          # inline code is no link
        for m in link.finditer(line):
            target = m.group(1)
            if re.match(r"[a-z]+:", target):                          # http:, https:, mailto:
                continue
            where = f"{rel}:{number}"
            if target.startswith("#"):
                if target[1:] not in anchors(md):
                    problems.append(f"{where}: {target}: no such heading in {rel}")
                continue
            check_target(where, os.path.dirname(md), target)

# Plain mentions in the tracked files: docs/NAME.md[#anchor], README.md#anchor.
try:
    tracked = subprocess.run(["git", "-C", ROOT, "ls-files"], capture_output=True, text=True, check=True).stdout.split()
except (OSError, subprocess.CalledProcessError):
    tracked = []
mention = re.compile(r"(?<![\w/.-])((?:\.\./)*(?:docs/[\w./-]+\.(?:md|json|png)|README\.md)(?:#[\w-]+)?)")
for rel in tracked:
    if not re.search(r"\.(sh|py|cpp|hpp|c|h|scd|txt|cmake|md)$|CMakeLists\.txt$", rel) or rel.startswith("shared/"):
        continue
    if rel == "tools/doc_links.py":  # its own comments show the patterns, not links
        continue
    path = os.path.join(ROOT, rel)
    try:
        with open(path, encoding="utf-8") as f:
            text = f.read()
    except (OSError, UnicodeDecodeError):
        continue
    for number, line in enumerate(text.splitlines(), 1):
        for m in mention.finditer(line):
            target = m.group(1).rstrip(".")
            # A Markdown file's own links were checked above, relative to it.
            if rel.endswith(".md") and f"]({target}" in line:
                continue
            base = ROOT if not target.startswith("..") else os.path.dirname(path)
            check_target(f"{rel}:{number}", base, target)

for p in problems:
    print(p)
sys.exit(1 if problems else 0)
