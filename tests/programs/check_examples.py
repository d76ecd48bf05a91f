#!/usr/bin/env python3
"""Runs every example of README.md and of `zul --help` as written.

Usage: check_examples.py ZUL SOURCEDIR WORKDIR

README.md: each indented block (up to a blank line) that starts with a /* NAME.zul */ comment
is saved as NAME.zul; each indented line that starts with `zul ` or
`build/bin/zul ` is a command (not the synopsis lines with [options]). `zul --help`: each line under "Examples:"
that starts with `zul ` is a command (what follows two blanks is its
comment). Commands run in WORKDIR, which holds a copy of examples/ and a
library data/ with a survey table of twelve items q1-q12 (two factors, made
up here), and must end with status 0 without a warning or error in the log:
a new user's first run should not look like a failure.
"""
import os
import random
import re
import shlex
import shutil
import subprocess
import sys


def survey_table(path):
    # Items q1-q6 load on one factor, q7-q12 on another, with noise.
    rnd = random.Random(7)
    lines = [",".join(f"q{i}" for i in range(1, 13))]
    for _ in range(60):
        f = (rnd.gauss(0, 1), rnd.gauss(0, 1))
        lines.append(",".join(f"{3 + 0.8 * f[i >= 6] + rnd.gauss(0, 0.6):.2f}" for i in range(12)))
    with open(path, "w") as out:
        out.write("\n".join(lines) + "\n")


def readme_examples(text):
    programs, commands = {}, []
    blocks, current = [], []
    for line in text.splitlines() + [""]:
        if line.startswith("    "):
            current.append(line[4:])
        else:
            if current:
                blocks.append(current)
            current = []
    for block in blocks:
        body = "\n".join(block).strip("\n")
        m = re.match(r"/\*\s*(\S+\.zul)\s*\*/", body)
        if m:
            programs[m.group(1)] = body + "\n"
            continue
        for line in block:
            synopsis = "[options]" in line
            if (line.startswith("zul ") or line.startswith("build/bin/zul ")) and not synopsis:
                commands.append(line.split("  #")[0].strip())
    return programs, commands


def help_examples(text):
    commands, inside = [], False
    for line in text.splitlines():
        if line.startswith("Examples:"):
            inside = True
            continue
        if inside and line and not line.startswith(" "):
            break
        if inside and line.strip().startswith("zul "):
            commands.append(re.split(r"\s{2,}", line.strip())[0])
    return commands


def main():
    zul, source, work = sys.argv[1:4]
    shutil.rmtree(work, ignore_errors=True)
    shutil.copytree(os.path.join(source, "examples"), os.path.join(work, "examples"))
    os.makedirs(os.path.join(work, "data"))
    survey_table(os.path.join(work, "data", "survey.csv"))

    with open(os.path.join(source, "README.md")) as f:
        programs, commands = readme_examples(f.read())
    help_text = subprocess.run([zul, "--help"], capture_output=True, text=True).stdout
    commands += help_examples(help_text)
    for name, text in programs.items():
        with open(os.path.join(work, name), "w") as out:
            out.write(text)
    if not programs or len(commands) < 4:
        print(f"too few examples found: programs {list(programs)}, commands {commands}")
        return 1

    failed = 0
    for cmd in commands:
        words = shlex.split(cmd)
        words[0] = zul
        proc = subprocess.run(words, cwd=work, capture_output=True, text=True, timeout=300)
        alarms = re.findall(r"^(?:WARNING|ERROR):.*$", proc.stderr, re.MULTILINE)
        if proc.returncode != 0 or alarms:
            failed += 1
            print(f"FAILED ({proc.returncode}): {cmd}\n" + "\n".join(alarms or [proc.stderr]))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
