#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for SECONDS (default 30) on a copy of its
# seed corpus. Fails on any crash, sanitizer report, leak, time-out or memory blow-up.
set -euo pipefail
seconds=${1:-30}
top=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD:-$top/build-fuzz}
CXX=clang++ cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFORESTS_TESTS=OFF -DFORESTS_FUZZ=ON >/dev/null
cmake --build "$build" -j 2 >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for corpus in "$top"/fuzz/corpus/*/; do
  name=$(basename "$corpus")
  exe="$build/fuzz/fuzz_$name"
  [ -x "$exe" ] || { echo "no target for corpus $name"; status=1; continue; }
  mkdir -p "$work/$name"
  cp -r "$corpus". "$work/$name/"
  echo "== fuzz_$name for ${seconds}s"
  if ! (cd "$work" && "$exe" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=20 -max_len=65536 \
        -print_final_stats=0 "$work/$name" >"$work/$name.log" 2>&1); then
    echo "fuzz_$name FAILED:"; tail -n 40 "$work/$name.log"; status=1
    mkdir -p "$top/fuzz/findings"; cp "$work"/crash-* "$work"/leak-* "$work"/timeout-* "$work"/oom-* "$top/fuzz/findings/" 2>/dev/null || true
  else
    grep -oE "#[0-9]+\s+(DONE|pulse).*" "$work/$name.log" | tail -n 1 || true
  fi
done
exit $status
