"""Every output of input_bytes.zul is valid UTF-8 and holds no control
byte other than tab and line feed; the bad bytes appear as escapes."""
import os
import sys

work = sys.argv[1]
problems = []
for name in ["out.log", "out.lst", "out.json", "r.html"]:
    data = open(os.path.join(work, name), "rb").read()
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError as e:
        problems.append(f"{name} is not UTF-8: {e}")
        continue
    bad = [c for c in text if ord(c) < 32 and c not in "\t\n"]
    if bad:
        problems.append(f"{name} holds control characters {bad[:3]!r}")
    if name != "out.log" and "x\\xFFy" not in text and "x\\\\xFFy" not in text:
        problems.append(f"{name} does not show the column name as x\\xFFy")
if problems:
    print("\n".join(problems))
    sys.exit(1)
