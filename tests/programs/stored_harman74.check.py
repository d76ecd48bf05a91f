#!/usr/bin/env python3
"""The metadata file of the OUTSTAT= table of stored_harman74.zul: TYPE
FACTOR, its label, and the widths of _TYPE_ (8) and _NAME_ (the longest
variable name, StraightCurvedCapitals, 22 characters: more than 8 and than
the factor names). Usage: stored_harman74.check.py WORKDIR"""
import json, os, sys

meta = json.load(open(os.path.join(sys.argv[1], "h74stat.csv-metadata.json")))
cols = {c["name"]: c for c in meta["tableSchema"]["columns"]}
problems = []
if meta.get("dc:type") != "FACTOR":
    problems.append(f"dc:type {meta.get('dc:type')!r}")
if meta.get("dc:title") != "Factor Analysis Statistics":
    problems.append(f"dc:title {meta.get('dc:title')!r}")
for name, width in (("_TYPE_", 8), ("_NAME_", 22)):
    got = cols[name]["datatype"].get("maxLength")
    if got != width:
        problems.append(f"{name} width {got}, expected {width}")
if cols["Cubes"]["datatype"] != "double":
    problems.append("Cubes is not numeric")
print("\n".join(problems))
sys.exit(1 if problems else 0)
