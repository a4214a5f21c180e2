#!/usr/bin/env bash
# Checks that the committed tui/src/prompt/unicode_tables.cpp is exactly what
# tools/gen_unicode_tables.py writes from the installed Unicode data files.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
committed="$root/tui/src/prompt/unicode_tables.cpp"
fresh="$(mktemp)"
trap 'rm -f "$fresh"' EXIT
python3 "$root/tools/gen_unicode_tables.py" --output "$fresh"
if cmp -s "$fresh" "$committed"; then
  echo "unicode tables: up to date"
else
  echo "unicode tables: $committed differs from the generator's output:" >&2
  diff -u "$committed" "$fresh" | head -40 >&2 || true
  echo "run: python3 tools/gen_unicode_tables.py" >&2
  exit 1
fi
