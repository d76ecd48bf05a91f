#!/usr/bin/env python3
"""SPSS (.sav) and Stata (.dta) files as input tables, through zul.

Usage: check_stat_files.py ZUL MAKE_DTA WORKDIR

The files are made with the `readstat` tool from a CSV file and a JSON
description. A check that fails prints why; the exit status is 1 when any did.
"""
import csv
import json
import os
import shutil
import struct
import subprocess
import sys
from datetime import date, datetime

MISSING_CODE = 99  # an SPSS user-missing value of x2


def lcg(seed):
    state = seed
    while True:
        state = (state * 6364136223846793005 + 1442695040888963407) % 2**64
        yield (state >> 11) / 2**53


def rows():
    """id, grp, x1..x5 with two factors; every seventh x2 is missing."""
    rnd = lcg(7)
    out = []
    for i in range(120):
        f1, f2 = next(rnd) - 0.5, next(rnd) - 0.5
        x = [f1 + 0.3 * (next(rnd) - 0.5), f1 + 0.4 * (next(rnd) - 0.5),
             f1 + f2 + 0.3 * (next(rnd) - 0.5), f2 + 0.3 * (next(rnd) - 0.5),
             f2 + 0.5 * (next(rnd) - 0.5)]
        x = [round(v * 10, 4) for v in x]
        out.append([i + 1, "." if i == 4 else "a, b" if i % 2 else 'say "hi"'] + x)
    return out


def variables(kind):
    names = ["id", "grp", "x1", "x2", "x3", "x4", "x5"]
    vs = []
    for n in names:
        v = {"type": "STRING" if n == "grp" else "NUMERIC", "name": n,
             "label": "Item " + n.upper()}
        if n == "x2" and kind == "SPSS":
            v["missing"] = {"type": "DISCRETE", "values": [MISSING_CODE]}
        vs.append(v)
    return {"type": kind, "variables": vs}


class Checks:
    def __init__(self, zul, make_dta, work):
        self.zul, self.make_dta, self.work = zul, make_dta, work
        self.failures = []

    def fail(self, what):
        self.failures.append(what)
        print("FAIL:", what)

    def path(self, name):
        return os.path.join(self.work, name)

    def write_csv(self, name, data, header=("id", "grp", "x1", "x2", "x3", "x4", "x5")):
        with open(self.path(name), "w", newline="") as f:
            csv.writer(f).writerows([header] + list(data))

    def make_file(self, name, header, data):
        """The file name (.dta, or .sav for a few columns) written by
        make_dta from name.csv of header and data."""
        self.write_csv(name + ".csv", data, header)
        subprocess.run([self.make_dta, self.path(name + ".csv"), self.path(name)], check=True)

    def make(self):
        data = rows()
        plain = [r[:3] + ["" if r[0] % 7 == 0 else r[3]] + r[4:] for r in data]
        coded = [r[:3] + [MISSING_CODE if r[0] % 7 == 0 else r[3]] + r[4:] for r in data]
        self.write_csv("survey.csv", plain)
        self.write_csv("coded.csv", coded)
        for kind, src, out in [("SPSS", "coded.csv", "survey.sav"), ("STATA", "survey.csv", "panel.dta")]:
            meta = self.path(kind + ".json")
            with open(meta, "w") as f:
                json.dump(variables(kind), f)
            subprocess.run(["readstat", self.path(src), meta, self.path(out)], check=True,
                           capture_output=True)
        # Numbers only, x2 missing as Stata's .a and .b (extended missing).
        self.make_file("ext.dta", ["id", "x1", "x2", "x3", "x4", "x5"], (
            r[:1] + r[2:3] + [(".a" if r[0] % 14 == 0 else ".b") if r[0] % 7 == 0 else r[3]] + r[4:]
            for r in data))

    def run(self, program, name, env=None):
        path = self.path(name + ".zul")
        with open(path, "w") as f:
            f.write(program)
        out = self.path(name + ".json")
        if os.path.exists(out):
            os.remove(out)
        r = subprocess.run([self.zul, "--work", self.work, "--json", out, path],
                           capture_output=True, text=True, cwd=self.work, env=env)
        # A refusal must not be a crash, nor a sanitizer's report (whose exit
        # status is a refusal's).
        if r.returncode not in (0, 1, 2) or "Sanitizer" in r.stderr or "runtime error:" in r.stderr:
            self.fail(f"{name}: zul ended with {r.returncode}:\n{r.stderr[-1500:]}")
        tables = json.load(open(out))["tables"] if os.path.exists(out) else []
        return r, tables

    def refused(self, program, name, *texts):
        """Runs program, which must fail with each of texts in its log."""
        r, _ = self.run(program, name)
        log = r.stdout + r.stderr
        if r.returncode == 0 or not all(t in log for t in texts):
            self.fail(f"{name}: wanted a failure with {texts}:\n{log[-1500:]}")

    def same_analysis(self):
        """CSV, .sav (x2 coded 99, user-missing) and .dta give the same numbers,
        the .sav's 99s counted as missing; labels reach the OUT= table."""
        results = {}
        for src in ["'survey.csv'", "'survey.sav'", "'panel.dta'", "'ext.dta'"]:
            out = "s_" + src.strip("'").replace(".", "_")
            r, tables = self.run(f"FACTOR DATA={src} NFACTORS=2 ROTATE=VARIMAX OUT={out};\n"
                                 "  VAR x1-x5;\nRUN;\n", out)
            if r.returncode != 0 or not tables:
                self.fail(f"{src}: zul ended with {r.returncode}:\n{r.stdout[-1500:]}{r.stderr}")
                continue
            results[src] = tables
            self.check_scores(out, src)
        base = results.get("'survey.csv'")
        for src, tables in results.items():
            if base is None or len(tables) != len(base):
                self.fail(f"{src}: {len(tables)} tables against CSV's")
                continue
            labelled = 0
            for a, b in zip(base, tables):
                labelled += "item x1" in json.dumps(b["rows"]).lower()
                if a["name"] != b["name"] or not close(a["rows"], without_labels(b, a)):
                    self.fail(f"{src}: table {a['name']} differs from the CSV one")
                    break
            if src != "'survey.csv'" and not labelled:
                self.fail(f"{src}: no table shows the variable labels")

    def check_scores(self, out, src):
        got = read_rows(self.path(out + ".csv"))
        if src == "'ext.dta'":
            return
        if len(got) != 120 or got[1]["grp"] != "a, b" or got[0]["grp"] != 'say "hi"':
            self.fail(f"{src}: OUT= rows or text values wrong: {got[:2]}")
        if src != "'survey.csv'":
            if got[4]["grp"] != ".":  # a text ".", not a missing value
                self.fail(f"{src}: the text '.' copied as {got[4]['grp']!r}")
            meta = json.load(open(self.path(out + ".csv-metadata.json")))
            labels = {c["name"]: c.get("dc:description") for c in meta["tableSchema"]["columns"]}
            if "Item GRP" not in json.dumps(labels.get("grp")):
                self.fail(f"{src}: column label of grp not kept: {labels}")

    def errors(self):
        """A truncated file, a file that is no .sav, and an output onto one."""
        data = open(self.path("survey.sav"), "rb").read()
        with open(self.path("cut.sav"), "wb") as f:
            f.write(data[:len(data) * 2 // 3])
        # The first variable record follows the 176-byte header; its name
        # starts 24 bytes in. Without it the library gave no name at all.
        with open(self.path("noname.sav"), "wb") as f:
            f.write(data[:200] + b"\0" + data[201:])
        open(self.path("empty.dta"), "wb").close()
        shutil.copy(self.path("survey.csv"), self.path("text.sav"))
        shutil.copy(self.path("survey.csv"), self.path("text.dta"))
        # Stata tells x1 from X1; zul would take one for the other.
        self.make_file("dup.dta", ["x1", "X1", "x2", "x3", "x4", "x5"],
                       ([i, i * i % 7, i % 3, i % 5, 1, 2] for i in range(10)))
        self.make_file("novars.sav", [], [])
        cases = [
            ("'novars.sav'", "novars.sav", "has no variables"),
            ("'dup.dta'", "dup.dta", "x1 and X1 have the same name"),
            ("'cut.sav'", "cut.sav", "truncated"),
            ("'noname.sav'", "noname.sav", "damaged: variable 1 has no name"),
            ("'empty.dta'", "empty.dta", "is empty: the file empty.dta has 0 bytes"),
            ("'text.sav'", "text.sav", "is not an SPSS data file"),
            ("'text.dta'", "text.dta", "is not a Stata data file"),
            ("'nothere.dta'", "nothere.dta", "does not exist"),
        ]
        for src, file, words in cases:
            self.refused(f"FACTOR DATA={src} NFACTORS=1;\n  VAR x1-x5;\nRUN;\n", "err", file, words)
        before = open(self.path("survey.sav"), "rb").read()
        self.refused("FACTOR DATA='survey.csv' NFACTORS=1 OUT='survey.sav';\n  VAR x1-x5;\nRUN;\n",
                     "out_sav", "reads but does not write")
        if open(self.path("survey.sav"), "rb").read() != before:
            self.fail("OUT= onto a .sav file changed it")
        leftovers = [f for f in os.listdir(self.work) if ".zul-" in f]
        if leftovers:
            self.fail(f"temporary files left: {leftovers}")


    def row_counts(self):
        """A .sav header may give no case count (-1: a writer that streamed
        its cases): every case up to the end of the file is read, with a
        note. Data cut short, or not as many cases as the header gives,
        fail naming the file instead of reading part of it. Every storage:
        bytecode (survey.sav), none (plain.sav) and zlib blocks (plain.zsav),
        whose cases are counted by unpacking them."""
        for name in ("plain.sav", "plain.zsav"):
            self.make_file(name, ["id", "x1", "x2", "x3", "x4", "x5"],
                           (r[:1] + r[2:] for r in rows()))
        for base in ("survey.sav", "plain.sav", "plain.zsav"):
            data = open(self.path(base), "rb").read()

            def variant(name, count, cut=0):
                body = data[:80] + struct.pack("<i", count) + data[84:]
                with open(self.path(name), "wb") as f:
                    f.write(body[:len(body) - cut])
                return f"'{name}'"
            src = variant("nocount_" + base, -1)  # read whole, with a note
            r, _ = self.run(f"FACTOR DATA={src} NFACTORS=1 OUT=nc;\n  VAR x1-x5;\nRUN;\n", "nc")
            log = r.stdout + r.stderr
            if r.returncode != 0 or "does not give its number of cases; the 120 cases" not in log \
                    or len(read_rows(self.path("nc.csv"))) != 120:
                self.fail(f"{src}: not read whole without a case count:\n{log[-1500:]}")
            cases = [(variant("cut5_" + base, -1, 5), "truncated or damaged"),
                     (variant("cut8_" + base, -1, 8), "truncated or damaged"),
                     (variant("cut3rd_" + base, -1, len(data) // 3), "truncated or damaged"),
                     (variant("more_" + base, 30), "header gives 30 cases, but its data hold 120"),
                     (variant("huge_" + base, 2**31 - 1), "data hold 120")]
            for src, words in cases:
                self.refused(f"FACTOR DATA={src} NFACTORS=1;\n  VAR x1-x5;\nRUN;\n", "cut",
                             words, src.strip("'"))

    def weighted(self):
        """An SPSS file saved with a frequency weight: the analysis does not
        use it unless told, and says so."""
        self.make_file("weighted.sav", ["w:weight", "x1", "x2", "x3"],
                       ([1 + r[0] % 3] + r[2:5] for r in rows()))
        r, _ = self.run("FACTOR DATA='weighted.sav' NFACTORS=1;\n  VAR x1-x3;\nRUN;\n", "wtd")
        log = r.stdout + r.stderr
        if r.returncode != 0 or "weighted.sav is weighted by w; the analysis counts each case " \
                "once unless a FREQ w; statement says otherwise" not in log:
            self.fail(f"weighted.sav: no note of its weight:\n{log[-1500:]}")

    def old_stata(self):
        """Stata 113 to 115 files mark nothing between the data and the value
        labels after them: one whose header gives fewer observations than
        its data hold fails rather than read some; value labels are no
        such excess."""
        for version in (113, 114, 115):
            name = f"v{version}.dta"
            self.write_csv(name + ".csv", ([1 + r[0] % 2] + r[2:5] for r in rows()),
                           ["k:labelled", "x1", "x2", "x3"])
            subprocess.run([self.make_dta, self.path(name + ".csv"), self.path(name),
                            str(version)], check=True)
            got = self.scored(name)
            if got is not None and len(got) != 120:
                self.fail(f"{name}: {len(got)} rows read, not 120")
            data = open(self.path(name), "rb").read()
            with open(self.path("fewer_" + name), "wb") as f:
                f.write(data[:6] + struct.pack("<i", 30) + data[10:])
            self.refused(f"FACTOR DATA='fewer_{name}' NFACTORS=1;\n  VAR x1-x3;\nRUN;\n", "fewer",
                         f"fewer_{name} is damaged: after the 30 observations")

    def damaged(self):
        """Files with bytes overwritten in their headers and dictionaries, some
        also cut short, are read or refused, never a crash (run() tells)."""
        rnd = lcg(11)
        for base in ("survey.sav", "plain.sav", "panel.dta", "v114.dta"):
            data = open(self.path(base), "rb").read()
            for k in range(15):
                bad = bytearray(data)
                for _ in range(1 + int(next(rnd) * 4)):
                    bad[int(next(rnd) * min(len(bad), 1200))] = int(next(rnd) * 256)
                if next(rnd) < 0.3:
                    bad = bad[:int(next(rnd) * len(bad))]
                name = "bad." + base.split(".")[1]
                with open(self.path(name), "wb") as f:
                    f.write(bad)
                self.run(f"FACTOR DATA='{name}' NFACTORS=1;\n  VAR x1-x3;\nRUN;\n", "bad")

    def dates(self):
        """Dates, datetimes and times keep their files' origins (SPSS seconds
        from 14 October 1582, Stata days or milliseconds from 1960); read,
        they count days and seconds from 1 January 1960, as zul does: a date
        before 1960, a datetime in 2030, a time of day; Stata's left-aligned
        formats (%-td) are dates as well."""
        day = (date(1955, 3, 1) - date(1960, 1, 1)).days
        stamp = (datetime(2030, 6, 15, 12, 34, 56) - datetime(1960, 1, 1)).total_seconds()
        tod = 13 * 3600 + 45 * 60 + 30
        spss = 141428 * 86400  # seconds from 14 October 1582 to 1960
        cases = {
            "dates.sav": (["d:DATE11", "ts:DATETIME20", "tm:TIME8"],
                          lambda i: [(day + i) * 86400 + spss, stamp + i + spss, tod + i]),
            "dates.dta": (["d:%td", "ts:%tc"], lambda i: [day + i, (stamp + i) * 1000]),
            "left.dta": (["d:%-td", "ts:%-tcDD_Mon_CCYY_HH:MM:SS"],
                         lambda i: [day + i, (stamp + i) * 1000]),
        }
        for name, (header, stored) in cases.items():
            self.make_file(name, header + ["x1", "x2", "x3"], (
                [repr(v) for v in stored(i)] + r[2:5] for i, r in enumerate(rows()[:40])))
            got = self.scored(name)
            if got is None:
                continue
            want = {"d": day, "ts": stamp, "tm": tod}
            for k in [h.split(":")[0] for h in header]:
                if [float(g[k]) for g in got[:3]] != [want[k] + i for i in range(3)]:
                    self.fail(f"{name}: column {k} reads {[g[k] for g in got[:3]]}, not "
                              f"{want[k]} and on")

    def scored(self, src):
        """The OUT= rows of a one-factor analysis of x1-x3 of src; None
        (a failure noted) when zul stops."""
        out = "o_" + src.replace(".", "_")
        r, _ = self.run(f"FACTOR DATA='{src}' NFACTORS=1 OUT={out};\n  VAR x1-x3;\nRUN;\n", out)
        if r.returncode != 0:
            self.fail(f"{src}: zul ended with {r.returncode}:\n{r.stdout[-1500:]}{r.stderr}")
            return None
        return read_rows(self.path(out + ".csv"))

    def floats(self):
        """A Stata float variable reads as the decimal Stata shows (-2.63,
        not -2.630000114440918): the same analysis as the CSV of those
        decimals."""
        data = [[round(v, 2) for v in r[2:5]] for r in rows()[:40]]
        self.write_csv("floats.csv", data, ["x1", "x2", "x3"])
        self.make_file("floats.dta", ["x1:float", "x2:float", "x3"], data)
        got = {src: self.scored(src) for src in ("floats.dta", "floats.csv")}
        if got["floats.dta"] is None or got["floats.csv"] is None:
            return
        if got["floats.dta"] != got["floats.csv"]:
            self.fail(f"floats.dta: {got['floats.dta'][:2]} against the CSV's {got['floats.csv'][:2]}")
        # NaN and the infinities (which SPSS does not write) are missing, as
        # in a float column of a database, with no remark about a line of
        # the temporary CSV.
        self.make_file("nonfinite.sav", ["x1", "x2", "x3"], data[:2] + [[data[2][0], "inf", "nan"]] + data[3:])
        r, _ = self.run("FACTOR DATA='nonfinite.sav' NFACTORS=1;\n  VAR x1-x3;\nRUN;\n", "nonfinite")
        log = r.stdout + r.stderr
        if r.returncode != 0 or "not a number" in log or "omitted because of missing values: 1 of the 40" not in log:
            self.fail("nonfinite.sav: NaN and infinity not read as missing:\n" + log[-1500:])

    def scratch_files(self):
        """The CSV a file is streamed into lives in a private directory and is
        gone after the run; one left there by a killed run (its owner's
        process has ended) is removed by the next, one of another machine
        stays."""
        tmp = self.path("tmp")
        private = os.path.join(tmp, f"zul-{os.getuid()}")
        os.makedirs(private, exist_ok=True)
        os.chmod(private, 0o700)
        child = subprocess.Popen(["true"])
        child.wait()
        dead = f".stat.csv.zul-{child.pid}-1-{host_tag()}-abcdef"
        other = f".stat.csv.zul-{child.pid}-1-0badcafe-abcdef"
        for name in (dead, other):
            open(os.path.join(private, name), "w").close()
        env = dict(os.environ, TMPDIR=tmp)
        r, _ = self.run("FACTOR DATA='survey.sav' NFACTORS=1;\n  VAR x1-x5;\nRUN;\n", "scratch", env)
        if r.returncode != 0:
            self.fail(f"scratch: zul ended with {r.returncode}:\n{r.stderr[-1500:]}")
        left = sorted(os.listdir(private))
        if left != [other]:
            self.fail(f"scratch: the private directory holds {left}, not only {other}")


def read_rows(path):
    with open(path, newline="") as f:
        return list(csv.DictReader(f))


def host_tag():
    """The tag of this machine and process-id namespace in a temporary's
    name: FNV-1a of the boot id and the namespace link."""
    with open("/proc/sys/kernel/random/boot_id", "rb") as f:
        what = f.read() + os.readlink("/proc/self/ns/pid").encode()
    h = 2166136261
    for c in what:
        h = ((h ^ c) * 16777619) & 0xFFFFFFFF
    return f"{h:08x}"


def without_labels(table, base):
    """The rows without the Label column that labelled variables add."""
    names = [c["name"] for c in table["columns"]]
    if "Label" not in names or "Label" in [c["name"] for c in base["columns"]]:
        return table["rows"]
    k = names.index("Label")
    return [r[:k] + r[k + 1:] for r in table["rows"]]


def close(a, b, tol=1e-9):
    if isinstance(a, list) and isinstance(b, list):
        return len(a) == len(b) and all(close(x, y, tol) for x, y in zip(a, b))
    if isinstance(a, dict) and isinstance(b, dict):
        return a.keys() == b.keys() and all(close(a[k], b[k], tol) for k in a)
    if isinstance(a, float) and isinstance(b, float):
        return abs(a - b) <= tol * max(1.0, abs(a), abs(b))
    return a == b


def main():
    zul, make_dta, work = sys.argv[1], sys.argv[2], sys.argv[3]
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    c = Checks(zul, make_dta, work)
    c.make()
    c.same_analysis()
    c.errors()
    c.row_counts()
    c.old_stata()
    c.weighted()
    c.damaged()
    c.dates()
    c.floats()
    c.scratch_files()
    print("stat files: all checks passed" if not c.failures else
          f"stat files: {len(c.failures)} checks failed")
    return 1 if c.failures else 0


if __name__ == "__main__":
    sys.exit(main())
