#!/usr/bin/env python3
"""Runs one program test: zul on NAME.zul, then its output checked.

Usage: check_program.py ZUL TESTDIR NAME WORKDIR

zul runs with TESTDIR as the current directory (so data files beside the
program are found by quoted paths or `LIBNAME x '.'`), WORK in WORKDIR, the
JSON file and the log in WORKDIR. Expectations, all optional but at least
one must exist:

NAME.expected.json   an object with any of
    "exitStatus": 0            the exit status of zul (default 0)
    "zulArgs": ["--option", "THREADS=NO"]   extra arguments for zul
                               ("{work}" stands for WORKDIR: "--html", "{work}/r.html")
    "env": {"TMPDIR": "/no/such"}  environment variables for zul
    "tolerance": {"absolute": 1e-9, "relative": 1e-9}
                               numbers match when |a - e| <= absolute or
                               |a - e| <= relative * |e| (defaults 1e-9)
    "steps": [{...}, ...]      each compared with the JSON step of the
                               same index (only the keys given)
    "tables": [{...}, ...]     each expected table is looked for, in order,
                               among the tables after the one matched
                               before, by "name" (and "step", "by" when
                               given); then every key given must match:
                               objects key by key, lists element by element
                               with equal lengths, numbers within the
                               tolerance, the string "*" matches anything.
                               "rowsPrefix": [...] checks the first rows only.
    "noTables": ["Name", {"name": "NObs", "by": {"g": "B"}}, ...]
                               tables that must not appear
    "log": ["text", ...]       lines that must appear in the log, in this
                               order (substring match)
    "logAbsent": ["text", ...] texts that must not appear in the log
    "logCount": {"text": n}    texts that must appear exactly n times
    "listing": ["text", ...]   texts that must appear in the listing, in order
    "files": {"path": true|false}  files (relative to WORKDIR) that must or
                               must not exist after the run
    "csv": {"path": {...}}     an output table (CSV relative to WORKDIR),
                               read as {"columns": [...], "rows": [[...]]}
                               (numbers parsed, empty fields null) and
                               matched like a table ("rowsPrefix" too)
    "checkScript": "FILE.py"   a script run as python3 FILE.py WORKDIR in
                               TESTDIR after zul, for checks computed from
                               the outputs; a non-zero exit fails the test
    the keys "_", "_about", "_source", "_comment", "_rows" and "_log" are
                               comments (say where expected numbers came
                               from); other keys that start with "_" (graph
                               values such as "_DesignHeight") are checked
NAME.expected.log    lines that must appear in the log in order; lines
                     starting with "!" must not appear; "#" lines are
                     comments.
"""
import json
import math
import os
import shutil
import subprocess
import sys


COMMENT_KEYS = {"_", "_about", "_source", "_comment", "_rows", "_log"}


class Mismatch(Exception):
    pass


def close(actual, expected, tol):
    if actual is None or isinstance(actual, bool) or not isinstance(actual, (int, float)):
        return False
    diff = abs(actual - expected)
    return diff <= tol["absolute"] or diff <= tol["relative"] * abs(expected)


def match(actual, expected, tol, path):
    if isinstance(expected, str) and expected == "*":
        return
    if isinstance(expected, dict):
        if not isinstance(actual, dict):
            raise Mismatch(f"{path}: expected an object, got {json.dumps(actual)[:200]}")
        for k, v in expected.items():
            if k in COMMENT_KEYS:
                continue
            if k == "rowsPrefix":
                rows = actual.get("rows")
                if not isinstance(rows, list) or len(rows) < len(v):
                    raise Mismatch(f"{path}.rows: fewer rows than the {len(v)} expected")
                for i, row in enumerate(v):
                    match(rows[i], row, tol, f"{path}.rows[{i}]")
                continue
            if k not in actual:
                raise Mismatch(f"{path}: no key '{k}'")
            match(actual[k], v, tol, f"{path}.{k}")
        return
    if isinstance(expected, list):
        if not isinstance(actual, list):
            raise Mismatch(f"{path}: expected a list, got {json.dumps(actual)[:200]}")
        if len(actual) != len(expected):
            raise Mismatch(f"{path}: {len(actual)} entries, expected {len(expected)}: "
                           f"{json.dumps(actual)[:300]}")
        for i, (a, e) in enumerate(zip(actual, expected)):
            match(a, e, tol, f"{path}[{i}]")
        return
    if expected is None:
        if actual is not None:
            raise Mismatch(f"{path}: {json.dumps(actual)}, expected null (missing)")
        return
    if isinstance(expected, bool) or isinstance(expected, str):
        if actual != expected:
            raise Mismatch(f"{path}: {json.dumps(actual)}, expected {json.dumps(expected)}")
        return
    if isinstance(expected, (int, float)):
        if not close(actual, expected, tol):
            raise Mismatch(f"{path}: {json.dumps(actual)}, expected {expected} "
                           f"(tolerance {tol['absolute']:g} absolute, {tol['relative']:g} relative)")
        return
    raise Mismatch(f"{path}: cannot compare {expected!r}")


def find_table(tables, start, exp):
    for i in range(start, len(tables)):
        t = tables[i]
        if t.get("name") != exp.get("name"):
            continue
        if "step" in exp and t.get("step") != exp["step"]:
            continue
        if "by" in exp and t.get("by") != exp["by"]:
            continue
        return i
    return -1


def read_csv_table(path):
    import csv
    with open(path, newline="") as f:
        rows = list(csv.reader(f))

    def value(text):
        if text == "" or text == ".":
            return None
        try:
            return float(text)
        except ValueError:
            return text
    return {"columns": rows[0], "rows": [[value(x) for x in r] for r in rows[1:]]}


def lines_in_order(text, wanted, what):
    lines = text.splitlines()
    pos = 0
    for w in wanted:
        while pos < len(lines) and w not in lines[pos]:
            pos += 1
        if pos >= len(lines):
            raise Mismatch(f"{what}: no line containing {w!r} (in order)")
        pos += 1


def main():
    zul, testdir, name, workdir = sys.argv[1:5]
    base = os.path.join(testdir, name)
    expected = {}
    if os.path.exists(base + ".expected.json"):
        with open(base + ".expected.json") as f:
            expected = json.load(f)
    log_expect, log_absent = [], []
    if os.path.exists(base + ".expected.log"):
        with open(base + ".expected.log") as f:
            for line in f.read().splitlines():
                if not line.strip() or line.startswith("#"):
                    continue
                (log_absent if line.startswith("!") else log_expect).append(line.lstrip("!"))
    log_expect = expected.get("log", []) + log_expect
    log_absent = expected.get("logAbsent", []) + log_absent

    shutil.rmtree(workdir, ignore_errors=True)
    os.makedirs(workdir)
    json_file = os.path.join(workdir, "out.json")
    log_file = os.path.join(workdir, "out.log")
    listing_file = os.path.join(workdir, "out.lst")
    cmd = [zul, "--work", workdir, "--json", json_file, "--log", log_file,
           "--listing", listing_file]
    cmd += [a.replace("{work}", workdir) for a in expected.get("zulArgs", [])] + [name + ".zul"]
    env = dict(os.environ, ZUL_MESSAGE_TRACE=os.path.join(workdir, "messages.trace"))
    env.update(expected.get("env", {}))
    proc = subprocess.run(cmd, cwd=testdir, capture_output=True, text=True, timeout=300, env=env)
    log = open(log_file).read() if os.path.exists(log_file) else ""
    listing = open(listing_file).read() if os.path.exists(listing_file) else ""

    problems = []
    want_status = expected.get("exitStatus", 0)
    if proc.returncode != want_status:
        problems.append(f"exit status {proc.returncode}, expected {want_status}")
    tol = {"absolute": 1e-9, "relative": 1e-9}
    tol.update(expected.get("tolerance", {}))

    try:
        lines_in_order(log, log_expect, "log")
    except Mismatch as e:
        problems.append(str(e))
    for a in log_absent:
        if a in log:
            problems.append(f"log: {a!r} must not appear")
    for text, count in expected.get("logCount", {}).items():
        if log.count(text) != count:
            problems.append(f"log: {text!r} appears {log.count(text)} times, expected {count}")
    try:
        lines_in_order(listing, expected.get("listing", []), "listing")
    except Mismatch as e:
        problems.append(str(e))
    for path, must in expected.get("files", {}).items():
        if os.path.exists(os.path.join(workdir, path)) != must:
            problems.append(f"file {path} should {'' if must else 'not '}exist")

    for path, exp in expected.get("csv", {}).items():
        try:
            match(read_csv_table(os.path.join(workdir, path)), exp, tol, f"csv {path}")
        except (Mismatch, OSError) as e:
            problems.append(str(e))
    if "checkScript" in expected:
        script = subprocess.run([sys.executable, expected["checkScript"], workdir], cwd=testdir,
                                capture_output=True, text=True, timeout=300)
        if script.returncode != 0:
            problems.append(f"{expected['checkScript']}: {script.stdout}{script.stderr}")

    if "tables" in expected or "steps" in expected or "noTables" in expected:
        try:
            with open(json_file) as f:
                actual = json.load(f)
        except (OSError, ValueError) as e:
            actual = None
            problems.append(f"no readable JSON output: {e}")
        if actual is not None:
            tables = actual.get("tables", [])
            for i, s in enumerate(expected.get("steps", [])):
                try:
                    if i >= len(actual.get("steps", [])):
                        raise Mismatch(f"steps[{i}]: the run has no such step")
                    match(actual["steps"][i], s, tol, f"steps[{i}]")
                except Mismatch as e:
                    problems.append(str(e))
            pos = 0
            for exp in expected.get("tables", []):
                i = find_table(tables, pos, exp)
                if i < 0:
                    names = [t.get("name") for t in tables]
                    problems.append(f"table {exp.get('name')!r} not found after position {pos}; "
                                    f"tables: {names}")
                    continue
                try:
                    match(tables[i], exp, tol, f"table {exp.get('name')}")
                except Mismatch as e:
                    problems.append(str(e))
                pos = i + 1
            for n in expected.get("noTables", []):
                exp = n if isinstance(n, dict) else {"name": n}
                if find_table(tables, 0, exp) >= 0:
                    problems.append(f"table {json.dumps(exp)} must not appear")

    if problems:
        print("FAILED: " + " ".join(cmd))
        for p in problems:
            print("  - " + p)
        print("---- log ----\n" + log)
        if proc.stderr:
            print("---- stderr ----\n" + proc.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
