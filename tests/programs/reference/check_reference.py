#!/usr/bin/env python3
"""Reruns one reference script and compares what it computes with the
expected files it produced, so that a changed script or expected file
cannot drift apart unnoticed.

Usage: check_reference.py REPO SCRIPT [--cwd DIR] [--tables NAME] [-- ARGS...]

SCRIPT is a file of tests/programs/reference/. Two kinds of script:

- A script that writes files (expected files, data files) with --write, or
  a data generator that writes without it (ARGS say which): it runs on a
  copy of tests/programs/ and examples/ in a scratch folder, with DIR (from
  tests/programs/, default reference) as its current folder, and every
  file it writes must match the committed file it replaces. Writing no
  file, or a file that is not committed, is a failure.
- With --tables NAME, a script that prints the tables it computes as JSON
  (a list of tables, each with "name" and optionally "step" and "by",
  "rows", "values"): each is matched with the first table of the same
  name, step and BY values in NAME.expected.json, on the keys it gives.

Tolerance by kind of value: two floating-point numbers match when
|a - e| <= 1e-12 * max(1, |e|) (the scripts are plain Python, and only the
last bits of library functions such as exp and log may differ between
machines); integers, texts, null and true/false must be equal; a CSV field
is compared as a number when both fields are numbers, else as text; an
expected "*" matches anything.
"""
import csv
import io
import json
import os
import shutil
import subprocess
import sys
import tempfile

TOLERANCE = 1e-12
OLD = 1_000_000_000  # mtime given to every copied file
# No __pycache__ beside the scripts in the source tree.
ENV = dict(os.environ, PYTHONDONTWRITEBYTECODE="1")


class Mismatch(Exception):
    pass


def same(actual, expected, path):
    if expected == "*":
        return
    if isinstance(expected, bool) or expected is None or isinstance(expected, str):
        if actual != expected or type(actual) is not type(expected):
            raise Mismatch(f"{path}: {json.dumps(actual)} instead of {json.dumps(expected)}")
    elif isinstance(expected, int) and isinstance(actual, int) and not isinstance(actual, bool):
        if actual != expected:
            raise Mismatch(f"{path}: {actual} instead of {expected}")
    elif isinstance(expected, (int, float)):
        if isinstance(actual, bool) or not isinstance(actual, (int, float)):
            raise Mismatch(f"{path}: {json.dumps(actual)} instead of the number {expected}")
        if abs(actual - expected) > TOLERANCE * max(1.0, abs(expected)):
            raise Mismatch(f"{path}: {actual!r} instead of {expected!r}")
    elif isinstance(expected, list):
        if not isinstance(actual, list) or len(actual) != len(expected):
            raise Mismatch(f"{path}: a list of {len(actual) if isinstance(actual, list) else '?'}"
                           f" items instead of {len(expected)}")
        for i, (a, e) in enumerate(zip(actual, expected)):
            same(a, e, f"{path}[{i}]")
    elif isinstance(expected, dict):
        if not isinstance(actual, dict) or set(actual) != set(expected):
            raise Mismatch(f"{path}: keys {sorted(actual) if isinstance(actual, dict) else '?'}"
                           f" instead of {sorted(expected)}")
        for k in expected:
            same(actual[k], expected[k], f"{path}.{k}")


def number(text):
    try:
        return float(text)
    except ValueError:
        return None


def same_csv(actual, expected, path):
    a = list(csv.reader(io.StringIO(actual)))
    e = list(csv.reader(io.StringIO(expected)))
    if len(a) != len(e):
        raise Mismatch(f"{path}: {len(a)} lines instead of {len(e)}")
    for i, (ra, re) in enumerate(zip(a, e)):
        if len(ra) != len(re):
            raise Mismatch(f"{path}:{i + 1}: {len(ra)} fields instead of {len(re)}")
        for j, (fa, fe) in enumerate(zip(ra, re)):
            na, ne = number(fa), number(fe)
            if na is not None and ne is not None:
                same(na, ne, f"{path}:{i + 1}:{j + 1}")
            elif fa != fe:
                raise Mismatch(f"{path}:{i + 1}:{j + 1}: {fa!r} instead of {fe!r}")


def compare_file(written, committed, label):
    with open(written, encoding="utf-8") as f:
        actual = f.read()
    with open(committed, encoding="utf-8") as f:
        expected = f.read()
    if actual == expected:
        return
    if written.endswith(".json"):
        same(json.loads(actual), json.loads(expected), label)
    elif written.endswith(".csv"):
        same_csv(actual, expected, label)
    else:
        raise Mismatch(f"{label}: the text differs")


def check_written_files(repo, script, cwd, args):
    with tempfile.TemporaryDirectory() as scratch:
        copies = {os.path.join(scratch, "tests", "programs"): os.path.join(repo, "tests", "programs"),
                  os.path.join(scratch, "examples"): os.path.join(repo, "examples")}
        for copy, original in copies.items():
            shutil.copytree(original, copy, ignore=shutil.ignore_patterns("__pycache__"))
            for folder, _, files in os.walk(copy):
                for name in files:
                    os.utime(os.path.join(folder, name), (OLD, OLD))
        programs = os.path.join(scratch, "tests", "programs")
        run = subprocess.run([sys.executable, os.path.join(programs, "reference", script)] + args,
                             cwd=os.path.join(programs, cwd), capture_output=True, text=True, env=ENV)
        if run.returncode != 0:
            raise Mismatch(f"{script} failed:\n{run.stderr}")
        written = 0
        for copy, original in copies.items():
            for folder, _, files in os.walk(copy):
                for name in files:
                    path = os.path.join(folder, name)
                    if os.stat(path).st_mtime == OLD:
                        continue
                    rel = os.path.relpath(path, copy)
                    label = os.path.relpath(os.path.join(original, rel), repo)
                    if not os.path.exists(os.path.join(original, rel)):
                        raise Mismatch(f"{script} wrote {label}, which is not committed")
                    compare_file(path, os.path.join(original, rel), label)
                    written += 1
        if written == 0:
            raise Mismatch(f"{script} wrote no file: nothing was compared")
        return written


def key(table):
    return (table["name"], table.get("step"), json.dumps(table.get("by"), sort_keys=True))


def check_printed_tables(repo, script, name, args):
    programs = os.path.join(repo, "tests", "programs")
    run = subprocess.run([sys.executable, os.path.join(programs, "reference", script)] + args,
                         cwd=os.path.join(programs, "reference"), capture_output=True, text=True, env=ENV)
    if run.returncode != 0:
        raise Mismatch(f"{script} failed:\n{run.stderr}")
    computed = json.loads(run.stdout)
    with open(os.path.join(programs, name + ".expected.json"), encoding="utf-8") as f:
        expected = json.load(f)["tables"]
    for table in computed:
        matches = [t for t in expected if t["name"] == table["name"] and
                   ("step" not in table or t.get("step") == table["step"]) and
                   ("by" not in table or t.get("by") == table["by"])]
        if not matches:
            raise Mismatch(f"{name}.expected.json has no table {key(table)}")
        for k, v in table.items():
            if k in ("name", "step", "by"):
                continue
            if k not in matches[0]:
                raise Mismatch(f"{name}.expected.json: table {key(table)} has no {k}")
            same(v, matches[0][k], f"{name}.expected.json {table['name']}.{k}")
    return len(computed)


def main():
    argv = sys.argv[1:]
    args = []
    if "--" in argv:
        args = argv[argv.index("--") + 1:]
        argv = argv[:argv.index("--")]
    repo, script = argv[0], argv[1]
    options = dict(zip(argv[2::2], argv[3::2]))
    try:
        if "--tables" in options:
            n = check_printed_tables(repo, script, options["--tables"], args)
            print(f"{script}: {n} tables match {options['--tables']}.expected.json")
        else:
            n = check_written_files(repo, script, options.get("--cwd", "reference"), args)
            print(f"{script}: {n} files written match the committed ones")
    except Mismatch as e:
        print(f"FAIL {e}")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
