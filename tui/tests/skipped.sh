#!/usr/bin/env bash
# The last words of `make test`: how many checks were skipped, each by name
# and why. Reads the logs of the last ctest runs and of the playbook checks.
set -uo pipefail
build=$(cd "$(dirname "$0")/.." && pwd -P)/build
python3 - "$build" <<'PY'
import os, re, sys
build = sys.argv[1]
skips = []
for preset in ("debug", "tsan"):
    log = os.path.join(build, preset, "Testing", "Temporary", "LastTest.log")
    if not os.path.exists(log):
        continue
    text = open(log, encoding="utf-8", errors="replace").read()
    # One test's output runs from its "[ RUN      ]" line to the next; a
    # shard of the unit tests holds many.
    for block in text.split("[ RUN      ] ")[1:]:
        name = block.split("\n", 1)[0].strip()
        if not re.search(r"^\[  SKIPPED \] " + re.escape(name) + r" \(\d+ ms\)", block, re.M):
            continue
        why = re.search(r": Skipped\n(.*)", block)
        skips.append((name, why.group(1).strip() if why and why.group(1).strip() else "no reason given"))
log = os.path.join(build, "playbooks.log")
if os.path.exists(log):
    for line in open(log, encoding="utf-8", errors="replace"):
        m = re.match(r"SKIPPED: (.*?) \((.*)\)$", line.rstrip("\n"))
        if m:
            skips.append(("playbooks: " + m.group(1), m.group(2)))
print(f"skipped: {len(skips)}")
for name, why in skips:
    print(f"  {name}: {why}")
PY
