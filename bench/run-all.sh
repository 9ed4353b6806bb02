#!/usr/bin/env bash
# Runs every benchmark program found below this script's folder and exits 1
# when any of them reports a failed target (or could not measure).
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
mapfile -t benches < <(find "$here" -type f -name 'bench_*' -executable \
    -not -path '*/CMakeFiles/*' | sort)
if [ ${#benches[@]} -eq 0 ]; then
    echo "No benchmark under $here."
    exit 0
fi
failed=()
for b in "${benches[@]}"; do
    echo "== ${b#"$here"/}"
    "$b" "$@" || failed+=("${b##*/}")
done
echo "== Summary"
if [ ${#failed[@]} -gt 0 ]; then
    echo "FAIL: ${failed[*]}"
    exit 1
fi
echo "PASS: all ${#benches[@]} benchmark programs met their targets"
