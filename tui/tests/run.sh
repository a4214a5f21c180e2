#!/usr/bin/env bash
# Every test, as `make test` runs them. The target check (the whole bootstrap on booted
# containers) is by far the longest step and spends much of its time waiting on its
# containers: it starts first, beside the rest, and its report follows theirs. As make
# does, the first step that fails ends the run; the target check then stops with it.
set -uo pipefail

tui=$(cd "$(dirname "$0")/.." && pwd -P)
build=$tui/build
jobs=${JOBS:-$(nproc 2>/dev/null || echo 2)}
mkdir -p "$build"
cd "$tui" || exit 1

# In a process group of its own, so that stopping it reaches its ansible-playbook runs too;
# its own traps then stop the containers.
set -m
bash tests/playbooks/target_check.sh </dev/null >"$build/target.log" 2>&1 &
target=$!
set +m
stop_target() { kill -TERM -- "-$target" 2>/dev/null; wait "$target"; }
trap 'stop_target; exit 130' INT TERM HUP

run() { echo "$*" >&2; "$@" || { status=$?; echo "failed ($status): $*"; stop_target; exit "$status"; }; }
run cmake --preset debug >/dev/null
run cmake --build --preset debug -j "$jobs"
run ctest --preset debug -j "$jobs"
run cmake --preset tsan >/dev/null
run cmake --build --preset tsan -j "$jobs"
run ctest --preset tsan
run bash tests/unicode_tables_check.sh
bash tests/playbooks/check.sh | tee "$build/playbooks.log"
checks=$?

echo "all but the target check: $SECONDS s"
echo "bash tests/playbooks/target_check.sh (started first)"
wait "$target"
target_status=$?
trap - INT TERM HUP
tee -a "$build/playbooks.log" <"$build/target.log"
bash tests/skipped.sh
[ "$checks" -eq 0 ] && [ "$target_status" -eq 0 ]
