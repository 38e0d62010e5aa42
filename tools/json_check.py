#!/usr/bin/env python3
"""Holds loopcheck's JSON output to its schema, docs/loopcheck.schema.json.

    tools/json_check.py [--schema FILE] [--quiet] [FILE ...]

Reads each FILE (standard input without one, or for "-"): one JSON document
(the object of --json, on one line or several), or JSON Lines (one object a
line, as --monitor --json writes them; empty lines skipped). Every object is
validated against the schema (JSON Schema draft 2020-12, Debian's
python3-jsonschema). An input with no object at all fails too.

Exit status: 0 when every object is valid; 1 when one is not, or a line is not
JSON, or an input is empty, each named as FILE:LINE and the failing path
($.runs[0].gain_db) on standard error; 2 for a missing input, schema or
python3-jsonschema.
"""
import argparse
import json
import os
import sys

try:
    from jsonschema import Draft202012Validator
except ImportError:
    sys.stderr.write("json_check: python3-jsonschema is missing (tools/setup.sh test installs it)\n")
    sys.exit(2)

HERE = os.path.dirname(os.path.abspath(__file__))
# Installed, the schema lies beside the checker (share/loopcable/); in the source tree, in docs/.
SCHEMA = next(
    (p for p in (os.path.join(HERE, "loopcheck.schema.json"), os.path.join(HERE, "..", "docs", "loopcheck.schema.json"))
     if os.path.exists(p)),
    os.path.join(HERE, "..", "docs", "loopcheck.schema.json"),
)
MOST_ERRORS = 20  # per object


class Refused(Exception):
    pass


def strict_object(pairs):
    """A JSON object whose keys must not repeat (nlohmann-json never repeats one)."""
    seen = {}
    for key, value in pairs:
        if key in seen:
            raise Refused(f"key {key!r} appears twice")
        seen[key] = value
    return seen


def no_constant(name):
    # NaN and Infinity are not JSON: nlohmann-json writes a non-finite number as null.
    raise Refused(f"{name} is not JSON")


def parse(text):
    return json.loads(text, object_pairs_hook=strict_object, parse_constant=no_constant)


def objects(text):
    """(first line, object or None, problem) for each object of the input."""
    try:
        document = parse(text)
        # The line the document begins on.
        return [(1 + text[: len(text) - len(text.lstrip())].count("\n"), document, None)]
    except (ValueError, Refused):
        pass
    found = []
    for number, line in enumerate(text.split("\n"), 1):
        if not line.strip():
            continue
        try:
            found.append((number, parse(line), None))
        except Refused as e:
            found.append((number, None, f"not as nlohmann-json writes: {e}"))
        except ValueError as e:
            found.append((number, None, f"not JSON: {e}"))
    return found


def path_text(path):
    text = "$"
    for step in path:
        if isinstance(step, int):
            text += f"[{step}]"
        elif step.isidentifier():
            text += "." + step
        else:
            text += "[" + json.dumps(step) + "]"
    return text


def short(value, most=60):
    if isinstance(value, (dict, list)):
        return "this " + ("object" if isinstance(value, dict) else "array")
    text = json.dumps(value, ensure_ascii=False)
    return text if len(text) <= most else text[: most - 3] + "..."


def leaves(error):
    """The errors that say what is wrong: within a oneOf or anyOf, the one
    form whose errors reach deeper into the instance than the others' (a
    nullable object's own errors, not "is not of type 'null'"); else the
    error itself, said shortly."""
    if not error.context:
        return [(error, error.message)]
    forms = {}
    for e in error.context:
        forms.setdefault(e.relative_schema_path[0], []).append(e)
    depths = sorted(((max(len(e.absolute_path) for e in errs), key) for key, errs in forms.items()), reverse=True)
    if depths[0][0] > len(error.absolute_path) and (len(depths) == 1 or depths[0][0] > depths[1][0]):
        return [leaf for e in forms[depths[0][1]] for leaf in leaves(e)]
    said = error.schema.get("description") if isinstance(error.schema, dict) else None
    if not said:
        said = " or ".join(sorted({errs[0].message for errs in forms.values()}))
    return [(error, f"{short(error.instance)} matches none of its forms ({said})")]


class Checker:
    def __init__(self, schema):
        Draft202012Validator.check_schema(schema)
        self.whole = Draft202012Validator(schema)
        defs = schema.get("$defs", {})
        # The branch an object means: an event's by its "event", else the report.
        self.branches = {}
        for name in defs:
            if name == "report" or name.startswith("event_"):
                sub = {"$schema": schema.get("$schema"), "$defs": defs, "$ref": "#/$defs/" + name}
                self.branches[name] = Draft202012Validator(sub)
        self.events = sorted(n[len("event_"):] for n in self.branches if n.startswith("event_"))

    def problems(self, document):
        """Each problem with the object as (path, message); none when it is valid."""
        if not isinstance(document, dict):
            return [("$", f"not a JSON object but {type(document).__name__}")]
        if self.whole.is_valid(document):
            return []
        if "event" in document:
            event = document["event"]
            if not isinstance(event, str) or event not in self.events:
                return [("$.event", f"{event!r} is not an event of loopcheck's ({', '.join(self.events)})")]
            branch = self.branches["event_" + event]
        else:
            branch = self.branches.get("report")
        errors = list(branch.iter_errors(document)) if branch else []
        if not errors:
            errors = list(self.whole.iter_errors(document))
        found = sorted({(path_text(e.absolute_path), message) for error in errors for e, message in leaves(error)})
        return [(path, message if len(message) <= 300 else message[:297] + "...") for path, message in found]


def main():
    parser = argparse.ArgumentParser(description="Validates loopcheck's JSON output against its schema.")
    parser.add_argument("--schema", default=SCHEMA, help="the schema (default: the one beside this script, else docs/loopcheck.schema.json)")
    parser.add_argument("-q", "--quiet", action="store_true", help="nothing on standard output when valid")
    parser.add_argument("files", nargs="*", default=["-"], help="inputs (default: standard input)")
    args = parser.parse_args()
    try:
        with open(args.schema, encoding="utf-8") as f:
            checker = Checker(json.load(f))
    except (OSError, ValueError) as e:
        sys.stderr.write(f"json_check: the schema {args.schema}: {e}\n")
        return 2
    invalid = 0
    for name in args.files:
        label = "<stdin>" if name == "-" else name
        try:
            if name == "-":
                text = sys.stdin.read()
            else:
                with open(name, encoding="utf-8") as f:
                    text = f.read()
        except (OSError, UnicodeDecodeError) as e:
            sys.stderr.write(f"json_check: {label}: {e}\n")
            return 2
        found = objects(text)
        if not found:
            sys.stderr.write(f"{label}: no JSON object (the input is empty)\n")
            invalid += 1
            continue
        bad = 0
        for line, document, problem in found:
            listed = [("$", problem)] if problem else checker.problems(document)
            if not listed:
                continue
            bad += 1
            kind = document.get("event", "report") if isinstance(document, dict) else "line"
            for path, message in listed[:MOST_ERRORS]:
                sys.stderr.write(f"{label}:{line}: {kind}: {path}: {message}\n")
            if len(listed) > MOST_ERRORS:
                sys.stderr.write(f"{label}:{line}: {kind}: and {len(listed) - MOST_ERRORS} problems more\n")
        invalid += bad
        if not args.quiet:
            print(f"{label}: {len(found) - bad} of {len(found)} objects valid")
    return 1 if invalid else 0


if __name__ == "__main__":
    sys.exit(main())
