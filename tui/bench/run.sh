#!/usr/bin/env bash
# Builds the optimised benchmarks and prints each measurement beside its
# baseline, with the ratio.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset bench >/dev/null
cmake --build --preset bench -j "$(nproc)" --target wizard_bench
out=$(mktemp)
trap 'rm -f "$out"' EXIT
./build/bench/bin/wizard_bench --benchmark_format=csv --benchmark_repetitions=3 \
  --benchmark_report_aggregates_only=true >"$out" 2>/dev/null
python3 - "$out" <<'PY'
import csv, sys
rows = {}
with open(sys.argv[1]) as f:
    lines = [l for l in f if l.startswith('"') or l.startswith('name')]
for r in csv.DictReader(lines):
    if r["name"].endswith("_median"):
        rows[r["name"][:-len("_median")]] = (float(r["real_time"]), r["time_unit"])
print(f"{'benchmark':<52} {'median':>12} {'baseline':>12} {'ratio':>7}")
for name, (t, unit) in rows.items():
    if "_Baseline_" in name:
        continue
    base_name = next((b for b in rows if b.split("_Baseline_")[0] == name.split("/")[0]
                      and b.endswith("/" + name.split("/", 1)[1]) if "/" in name), None)
    if base_name:
        b, _ = rows[base_name]
        print(f"{name:<52} {t:>10.1f}{unit:>2} {b:>10.1f}{unit:>2} {t / b:>7.2f}")
    else:
        print(f"{name:<52} {t:>10.1f}{unit:>2}")
PY
