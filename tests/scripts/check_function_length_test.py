#!/usr/bin/env python3
"""scripts/check-function-length on small made-up trees: a function over the
limit fails unless the allowlist names it, and a named function that is no
longer over the limit fails too (the list only shrinks).

Usage: check_function_length_test.py SCRIPT
"""
import os
import subprocess
import sys
import tempfile

SCRIPT = sys.argv[1]


def function(name, lines):
    """A C++ function of exactly `lines` lines, signature to closing brace."""
    body = "".join(f"  x += {i};\n" for i in range(lines - 4))
    return f"int {name}(int x)\n{{\n{body}  return x;\n}}\n"


def run(files, allowlist):
    with tempfile.TemporaryDirectory() as root:
        for path, text in files.items():
            full = os.path.join(root, path)
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "w") as f:
                f.write(text)
        listing = os.path.join(root, "allow.txt")
        with open(listing, "w") as f:
            f.write("# comment\n" + "".join(f"{p} {n}\n" for p, n in allowlist))
        p = subprocess.run([sys.executable, SCRIPT, root, "--allowlist", listing],
                           capture_output=True, text=True)
        return p.returncode, p.stdout + p.stderr


member = ("struct Parser { int keyword(int x); };\n"
          "int Parser::keyword(int x)\n{\n" + "  x += 1;\n" * 99 + "  return x;\n}\n")
cases = [
    # (what, files, allowlist, expected exit status, text the report must hold)
    ("100 lines pass", {"src/a/b.cpp": function("f", 100)}, [], 0, ""),
    ("101 lines fail", {"src/a/b.cpp": function("f", 101)}, [], 1, "f has 101 lines"),
    ("allowed", {"src/a/b.cpp": function("f", 150)}, [("src/a/b.cpp", "f")], 0, ""),
    ("allowed elsewhere only", {"src/a/c.cpp": function("f", 150)}, [("src/a/b.cpp", "f")], 1,
     "src/a/c.cpp:1: f has 150 lines"),
    ("split since", {"src/a/b.cpp": function("f", 40)}, [("src/a/b.cpp", "f")], 1,
     "no longer over 100 lines"),
    ("member named with its class", {"src/p.cpp": member}, [("src/p.cpp", "Parser::keyword")], 0,
     ""),
    ("outside src/ not checked", {"tests/t.cpp": function("g", 300)}, [], 0, ""),
]

failed = 0
for what, files, allowlist, status, text in cases:
    got, out = run(files, allowlist)
    if got != status or text not in out:
        failed += 1
        print(f"FAIL {what}: status {got} (expected {status})\n{out}")
sys.exit(1 if failed else 0)
