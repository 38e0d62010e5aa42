#!/usr/bin/env python3
"""Holds the JSON sample of docs/loopcheck.md to a real run of loopcheck --json.

    tools/json_sample.py [--doc FILE] [--out SAMPLE] REAL

The sample is the first ```json block after the heading "## JSON" of the doc
(docs/loopcheck.md), its // comments taken out (outside strings, to the end
of the line). It must have the keys of REAL, loopcheck's object: the same
keys in every object, nested objects recursively, an array by its first
element (two empty arrays agree); a null on either side agrees with anything,
as a figure that is null in one run is an object or a number in another.
With --out, the sample without its comments is written to SAMPLE, for
tools/json_check.py to hold it to the schema.

Prints each difference as the key's path and which side lacks it, and exits
1 when there is any (or the sample is missing or not JSON), 0 otherwise.
"""
import argparse
import json
import os
import sys

DOC = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "docs", "loopcheck.md")


def sample_text(doc):
    """The sample's text, without its comments, or None."""
    lines = open(doc, encoding="utf-8").read().split("\n")
    try:
        start = lines.index("## JSON")
    except ValueError:
        return None
    block, inside = [], False
    for line in lines[start + 1:]:
        if not inside:
            if line.startswith("## "):
                return None
            inside = line.strip() == "```json"
            continue
        if line.strip() == "```":
            return "\n".join(block)
        block.append(uncomment(line))
    return None


def uncomment(line):
    in_string = escaped = False
    for i, ch in enumerate(line):
        if in_string:
            if escaped:
                escaped = False
            elif ch == "\\":
                escaped = True
            elif ch == '"':
                in_string = False
        elif ch == '"':
            in_string = True
        elif line.startswith("//", i):
            return line[:i].rstrip()
    return line


def differences(sample, real, path="$"):
    if sample is None or real is None:
        return []
    if isinstance(sample, dict) and isinstance(real, dict):
        out = [f"{path}.{k}: in the sample, not in the real output" for k in sorted(set(sample) - set(real))]
        out += [f"{path}.{k}: in the real output, not in the sample" for k in sorted(set(real) - set(sample))]
        for k in sorted(set(sample) & set(real)):
            out += differences(sample[k], real[k], f"{path}.{k}")
        return out
    if isinstance(sample, list) and isinstance(real, list):
        if sample and real:
            return differences(sample[0], real[0], f"{path}[0]")
        return []
    kinds = (dict, list)
    if isinstance(sample, kinds) or isinstance(real, kinds):
        def kind(v):
            return "an object" if isinstance(v, dict) else "an array" if isinstance(v, list) else "a value"
        return [f"{path}: {kind(sample)} in the sample, {kind(real)} in the real output"]
    return []


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--doc", default=DOC)
    parser.add_argument("--out")
    parser.add_argument("real")
    args = parser.parse_args()
    text = sample_text(args.doc)
    if text is None:
        print(f"json_sample: {args.doc} has no ```json block under \"## JSON\"")
        return 1
    try:
        sample = json.loads(text)
    except json.JSONDecodeError as e:
        print(f"json_sample: the sample in {args.doc} is not JSON without its comments: {e}")
        return 1
    if args.out:
        with open(args.out, "w", encoding="utf-8") as f:
            json.dump(sample, f)
            f.write("\n")
    try:
        real = json.load(open(args.real, encoding="utf-8"))
    except (OSError, json.JSONDecodeError) as e:
        print(f"json_sample: {args.real}: {e}")
        return 1
    found = differences(sample, real)
    for line in found:
        print(line)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
