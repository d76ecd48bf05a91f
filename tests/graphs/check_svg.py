#!/usr/bin/env python3
"""Runs zul with --graphs and --json on graphs.zul and checks each SVG.

Usage: check_svg.py ZUL SOURCE_DIR WORKDIR

Every file must be well-formed XML with a <title> and a <desc>; each kind
of graph must show what its data table holds: a marker or vector per
variable in a loadings graph (named by a label), one point per eigenvalue
in a scree graph, the reference circles with their labels, the three
series of parallel analysis, and the ringed minimum of MAP.
"""
import json
import os
import shutil
import subprocess
import sys
import xml.etree.ElementTree as ET

NS = {"s": "http://www.w3.org/2000/svg"}


def run(zul, source, work):
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    graphs = os.path.join(work, "graphs")
    cmd = [zul, "--work", os.path.join(source, "examples"), "--graphs", graphs,
           "--json", os.path.join(work, "out.json"), "--listing", os.path.join(work, "out.lst"),
           "--log", os.path.join(work, "out.log"),
           os.path.join(source, "tests", "graphs", "graphs.zul")]
    result = subprocess.run(cmd, capture_output=True, text=True)
    if result.returncode != 0:
        sys.exit(f"zul failed ({result.returncode}):\n" + open(os.path.join(work, "out.log")).read())
    return graphs, json.load(open(os.path.join(work, "out.json")))


def texts(root, cls):
    return [t.text for t in root.iter("{%s}text" % NS["s"])
            if cls in (t.get("class") or "").split()]


def count(root, tag, cls):
    return sum(1 for e in root.iter("{%s}%s" % (NS["s"], tag)) if e.get("class") == cls)


def check(cond, what):
    if not cond:
        sys.exit("FAILED: " + what)


def main():
    zul, source, work = sys.argv[1:4]
    graphs, doc = run(zul, source, work)
    files = sorted(os.listdir(graphs))
    kinds = {}
    for f in files:
        root = ET.parse(os.path.join(graphs, f)).getroot()  # well-formed or raises
        check(root.find("s:title", NS) is not None and root.find("s:desc", NS) is not None,
              f + ": title and desc")
        kinds.setdefault(f.split("-", 1)[1][:-4], []).append(root)
    check(set(kinds) >= {"ScreePlot", "VariancePlot", "InitPatternPlot", "PrePatternPlot",
                         "RefStructurePlot", "ParallelPlot", "MAPPlot"}, "kinds: %s" % sorted(kinds))
    # (the legend shows each series' marker once more)
    # The listing never shows a graph's data.
    check("ScreePlotData" not in open(os.path.join(work, "out.lst")).read(), "data in listing")
    graph_tables = [t for t in doc["tables"] if t.get("graph")]
    check(any(t["name"] == "Pattern" for t in graph_tables), "Pattern table in JSON")

    nvars = 24
    scree = kinds["ScreePlot"][0]
    check(count(scree, "circle", "s1") == nvars, "scree: one marker per eigenvalue")
    check(len(kinds["ScreePlot"]) == 3, "scree graphs of the three steps")
    # Eigenvalues near 1e8 are labelled in powers of ten, not in nine digits.
    big = texts(kinds["ScreePlot"][2], "tick")
    check(any("e+0" in t for t in big) and max(map(len, big)) <= 8, "covariance ticks: %s" % big)
    panel = kinds["ScreePlot"][1]
    check(count(panel, "rect", "s2") == nvars + 1, "panel: the cumulative share beside the scree")
    init = kinds["InitPatternPlot"]
    check(len(init) == 3, "three pairs of three factors")
    check(len(texts(init[0], "point")) == nvars, "a label per variable")
    # The first factor of the pair vertical, as on the character plot's page.
    check("on Factor2 (horizontal) and Factor1 (vertical)" in init[0].find("s:desc", NS).text,
          "axes of the first pair: " + init[0].find("s:desc", NS).text)
    check(count(init[0], "circle", "ref") == 2, "two reference circles")
    check(sorted(t.strip() for t in texts(init[0], "circlelabel")) == ["25%", "9%"],
          "circle labels: %s" % texts(init[0], "circlelabel"))
    check(count(kinds["PrePatternPlot"][0], "line", "vec") == nvars, "a vector per variable")
    check(count(kinds["PrePatternPlot"][0], "polygon", "head") == nvars, "an arrow head each")
    ref = kinds["RefStructurePlot"][0]
    check("degrees" in ref.find("s:desc", NS).text, "oblique axes stated in desc")
    par = kinds["ParallelPlot"][0]
    check(len(texts(par, "entry")) == 3, "parallel: three series in the legend")
    check(count(par, "polygon", "s3") == nvars + 1, "parallel: critical values as triangles")
    check(count(kinds["MAPPlot"][0], "circle", "mark") == 2, "MAP: both minima ringed")
    check_path_diagrams(kinds.get("PathDiagram", []), graph_tables)
    print(f"{len(files)} graphs checked")


def check_path_diagrams(svgs, graph_tables):
    """Each diagram shows every node, arrow and label of its data table."""
    tables = [t for t in graph_tables if t["name"] == "PathDiagramData"]
    check(len(svgs) == 3 and len(tables) == 3, "three path diagrams")
    for svg, table, alg in zip(svgs, tables, ["flow", "grouped flow", "grip"]):
        col = {c["name"]: i for i, c in enumerate(table["columns"])}
        nodes = [r for r in table["rows"] if r[col["NodeId"]] is not None]
        links = [r for r in table["rows"] if r[col["LinkId"]] is not None]
        factors = sum(1 for r in nodes if r[col["NodeShape"]] == "oval")
        loops = sum(1 for r in links if r[col["FromId"]] == r[col["ToId"]])
        arcs = sum(1 for r in links if r[col["LinkDir"]] == "Both") - loops
        arrows = len(links) - arcs - loops
        stars = sum(1 for r in links if r[col["LinkDir"]] == "Link"
                    and r[col["LinkLabel"]].endswith("*"))
        what = f"path diagram ({alg}): "
        check(f"({alg} arrangement)" in svg.find("s:desc", NS).text, what + "arrangement")
        check(count(svg, "ellipse", "node") == factors, what + "a oval per factor")
        check(count(svg, "rect", "node") == len(nodes) - factors, what + "a box per variable")
        check(count(svg, "polygon", "phead") == arrows + 2 * (arcs + loops), what + "arrow heads")
        check(len(texts(svg, "plabel")) == len(links), what + "a label per path")
        check(arcs == 3 and stars > 0, what + "correlations and significant loadings in the data")
        check(count(svg, "line", "path load sig") == stars + 1, what + "bold significant paths")


main()
