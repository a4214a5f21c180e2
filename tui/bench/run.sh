#!/usr/bin/env bash
# Builds the optimised wizard, the bench driver and the C colourer, then
# prints each figure beside its goal (lower is better for all of them).
# Extra arguments: the number of alternated rounds (20 or more, default 31).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset bench >/dev/null
cmake --build --preset bench -j 2 --target tervane-wizard wizard_bench >/dev/null
cc -O2 -std=c11 -D_GNU_SOURCE -Wall -Wextra -o build/bench/bin/colourer bench/colourer.c
echo "load: $(uptime)"
./build/bench/bin/wizard_bench build/bench/bin/tervane-wizard build/bench/bin/colourer "$@"
