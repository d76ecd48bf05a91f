#!/usr/bin/env python3
"""Opens the HTML report of graphs.zul in headless Chromium.

Usage: check_browser.py ZUL SOURCE_DIR WORKDIR

- The page loads without a console error or script error.
- A screenshot of the first graphs and the first path diagram is saved as
  WORKDIR/first-graphs.png.
- In every graph, no two of the title lines, tick labels, axis labels,
  circle labels and legend entries overlap, and none runs past the
  graph's edge, by the browser's own layout boxes (point labels of
  variables with nearly equal loadings may overlap). In a path diagram no
  two nodes meet and no path label lies on a node or outside the drawing.

The boxes are measured by a script added to a copy of the report (the
report itself carries no script) and written into the page, which
--dump-dom then prints.
"""
import json
import os
import re
import shutil
import subprocess
import sys

MEASURE = r"""
<script>
(function () {
  const kinds = ['title', 'subtitle', 'tick', 'label', 'entry', 'circlelabel'];
  const result = {graphs: 0, diagrams: 0, overlaps: [], outside: [], onNodes: [],
                  errors: window.__errors || []};
  const box = e => { const r = e.getBoundingClientRect();
                     return {text: e.textContent || e.tagName, l: r.left, r: r.right, t: r.top, b: r.bottom}; };
  const meet = (a, b) => Math.min(a.r, b.r) - Math.max(a.l, b.l) > 0.5 &&
                         Math.min(a.b, b.b) - Math.max(a.t, b.t) > 0.5;
  document.querySelectorAll('figure.graph svg').forEach((svg, g) => {
    result.graphs++;
    const frame = svg.getBoundingClientRect();
    const boxes = [];
    svg.querySelectorAll('text').forEach(t => {
      const cls = (t.getAttribute('class') || '').split(' ');
      if (!cls.some(c => kinds.includes(c)) || !t.textContent.trim()) return;
      const r = t.getBoundingClientRect();
      boxes.push({text: t.textContent, l: r.left, r: r.right, t: r.top, b: r.bottom});
      if (r.left < frame.left - 1 || r.right > frame.right + 1 || r.top < frame.top - 1 ||
          r.bottom > frame.bottom + 1)
        result.outside.push([g, t.textContent]);
    });
    for (let i = 0; i < boxes.length; i++)
      for (let j = i + 1; j < boxes.length; j++) {
        const a = boxes[i], b = boxes[j];
        const w = Math.min(a.r, b.r) - Math.max(a.l, b.l), h = Math.min(a.b, b.b) - Math.max(a.t, b.t);
        if (w > 0.5 && h > 0.5) result.overlaps.push([g, a.text, b.text]);
      }
    // Path diagrams: no two nodes meet, no path label lies on a node, and
    // every label stays inside the drawing.
    const nodes = [...svg.querySelectorAll('.node')].map(e => {
      const b = box(e); b.text = e.parentNode.textContent.trim(); return b; });
    if (!nodes.length) return;
    result.diagrams++;
    const labels = [...svg.querySelectorAll('text.plabel')].filter(t => t.textContent).map(box);
    for (let i = 0; i < nodes.length; i++)
      for (let j = i + 1; j < nodes.length; j++)
        if (meet(nodes[i], nodes[j])) result.overlaps.push([g, nodes[i].text, nodes[j].text]);
    labels.forEach(l => {
      nodes.forEach(n => { if (meet(l, n)) result.onNodes.push([g, l.text, n.text]); });
      if (l.l < frame.left - 1 || l.r > frame.right + 1 || l.t < frame.top - 1 || l.b > frame.bottom + 1)
        result.outside.push([g, l.text]);
    });
  });
  const pre = document.createElement('pre');
  pre.id = 'zul-boxes';
  pre.textContent = JSON.stringify(result);
  document.body.appendChild(pre);
})();
</script>
"""
ERRORS = "<script>window.__errors=[];window.addEventListener('error',e=>window.__errors.push(String(e.message)));</script>"


def chromium():
    for name in ("chromium", "chromium-browser", "google-chrome"):
        path = shutil.which(name)
        if path:
            return path
    sys.exit("chromium is not installed (scripts/install-deps installs it)")


def browse(args, work):
    cmd = [chromium(), "--headless", "--disable-gpu", "--enable-logging=stderr", "--v=0",
           "--user-data-dir=" + os.path.join(work, "profile")]
    if os.geteuid() == 0:
        cmd.append("--no-sandbox")
    return subprocess.run(cmd + args, capture_output=True, text=True, timeout=60)


def console_errors(stderr):
    return [l for l in stderr.splitlines()
            if "CONSOLE" in l and ("Uncaught" in l or ":ERROR:" in l or "error" in l.lower())]


def main():
    zul, source, work = sys.argv[1:4]
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    report = os.path.join(work, "report.html")
    r = subprocess.run([zul, "--work", os.path.join(source, "examples"), "--html", report,
                        "--listing", os.devnull, "--log", os.path.join(work, "out.log"),
                        os.path.join(source, "tests", "graphs", "graphs.zul")])
    if r.returncode != 0:
        sys.exit("zul failed:\n" + open(os.path.join(work, "out.log")).read())
    html = open(report, encoding="utf-8").read()

    # The first graphs and the first path diagram alone, for the screenshot
    # (one browser start: each costs seconds).
    figures = re.findall(r'<figure class="graph".*?</figure>', html, re.S)
    diagrams = [f for f in figures if "Graphics.PathDiagram" in f][:1]
    head = html[:html.index("<body>") + len("<body>")]
    first = os.path.join(work, "first-graphs.html")
    open(first, "w", encoding="utf-8").write(head + "".join(figures[:3] + diagrams) + "</body></html>")
    browse(["--screenshot=" + os.path.join(work, "first-graphs.png"), "--window-size=1000,2600",
            "file://" + first], work)

    # The boxes, measured in the page.
    measured = os.path.join(work, "measured.html")
    with_script = html.replace("<head>", "<head>" + ERRORS, 1).replace("</body>", MEASURE + "</body>")
    open(measured, "w", encoding="utf-8").write(with_script)
    dom = browse(["--dump-dom", "file://" + measured], work)
    m = re.search(r'<pre id="zul-boxes">(.*?)</pre>', dom.stdout, re.S)
    if not m:
        sys.exit("the measuring script did not run:\n" + dom.stderr[-2000:])
    result = json.loads(m.group(1).replace("&quot;", '"').replace("&amp;", "&")
                        .replace("&lt;", "<").replace("&gt;", ">"))
    errors = result["errors"] + console_errors(dom.stderr)
    if errors:
        sys.exit("console errors:\n" + "\n".join(errors))
    if result["graphs"] < 10:
        sys.exit(f"only {result['graphs']} graphs in the report")
    if result["outside"]:
        sys.exit("texts cut off at the graph's edge:\n" + "\n".join(map(str, result["outside"][:20])))
    if result["overlaps"]:
        sys.exit("overlapping texts or nodes:\n" + "\n".join(map(str, result["overlaps"][:20])))
    if result["diagrams"] < 3:
        sys.exit(f"only {result['diagrams']} path diagrams in the report")
    if result["onNodes"]:
        sys.exit("path labels on nodes:\n" + "\n".join(map(str, result["onNodes"][:20])))
    if not os.path.exists(os.path.join(work, "first-graphs.png")):
        sys.exit("no screenshot")
    print(f"{result['graphs']} graphs, {result['diagrams']} path diagrams, no overlap, "
          "no console error")


main()
