#!/usr/bin/env python3
"""scripts/check-layering on small made-up trees: it must refuse each kind
of wrong include and accept the right ones.

Usage: check_layering_test.py SCRIPT
"""
import os
import subprocess
import sys
import tempfile

SCRIPT = sys.argv[1]


def run(files):
    with tempfile.TemporaryDirectory() as root:
        for path, text in files.items():
            full = os.path.join(root, "src", path)
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "w") as f:
                f.write(text)
        p = subprocess.run([sys.executable, SCRIPT, root], capture_output=True, text=True)
        return p.returncode, p.stdout


cases = [
    # (what, files, expected exit status, text the report must hold)
    ("down the layers", {"zulfact/extract/a.cpp": '#include "zulfact/data/b.hpp"\n#include "zulfact/state/codes.hpp"\n#include "zul/abi.h"\n'}, 0, ""),
    ("own folder", {"zulfact/data/a.cpp": '#include "zulfact/data/b.hpp"\n'}, 0, ""),
    ("up the layers", {"zulfact/state/codes.hpp": '#include "zulfact/entry/proc.hpp"\n'}, 1, "state/ may not include"),
    ("next layer up", {"zulfact/host/a.cpp": '#include "zulfact/output/b.hpp"\n'}, 1, "output/ is not in a lower layer"),
    ("relative style", {"zulfact/data/a.cpp": '#include "entry/host.hpp"\n'}, 1, "written from src/"),
    ("unknown folder", {"zulfact/data/a.cpp": '#include "zulfact/misc/x.hpp"\n'}, 1, "in no layer"),
    ("module into host", {"zulfact/data/a.cpp": '#include "zul/services/pool.hpp"\n'}, 1, "include/zul/"),
    ("host into module", {"zul/program/a.cpp": '#include "zulfact/state/codes.hpp"\n'}, 1, "host may not include"),
    ("engine into module", {"qkxfac/a.cpp": '#include "zulfact/state/codes.hpp"\n'}, 1, "engine may include only"),
    ("kernels below every binary", {"zulfact/state/a.cpp": '#include "kernels/packed.hpp"\n',
                                    "qkxfac/a.cpp": '#include "kernels/eigen.hpp"\n',
                                    "zul/services/a.cpp": '#include "kernels/linalg.hpp"\n',
                                    "kernels/a.cpp": '#include "kernels/packed.hpp"\n'}, 0, ""),
    ("kernel into module", {"kernels/a.cpp": '#include "zulfact/state/constants.hpp"\n'}, 1, "kernel may include only"),
    ("kernel into interface", {"kernels/a.cpp": '#include "zul/abi.h"\n'}, 1, "kernel may include only"),
]

failed = 0
for what, files, status, text in cases:
    got, out = run(files)
    if got != status or text not in out:
        print(f"FAIL {what}: exit {got} (want {status}), output:\n{out}")
        failed += 1
sys.exit(1 if failed else 0)
