#!/usr/bin/env bash
# Runs each program once on its example under valgrind's memcheck: any invalid read or write,
# use of uninitialised memory or leaked block fails the run.
#   tests/memcheck.sh [BUILD_DIR]   (default build)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$top/build}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$top"/examples/*.txt "$work"/
cd "$work"
status=0
check() {
  local name=$1; shift
  echo "== memcheck: $name $*"
  if ! valgrind --tool=memcheck --leak-check=full --show-leak-kinds=all --errors-for-leak-kinds=all \
       --error-exitcode=1 --log-file="$name.valgrind" "$build/$name/$name" "$@" >"$name.out" 2>"$name.err"; then
    echo "$name FAILED under memcheck:"; cat "$name.err"; cat "$name.valgrind"; status=1
  else
    grep -E "ERROR SUMMARY|in use at exit" "$name.valgrind" | sed 's/^==[0-9]*== */   /'
  fi
}
check kestrel -t sample.txt -seed 7 -n 20 -perm 2
check plover -t sample_SNP.txt -seed 7 -n 20 -p predict_SNP.txt
check wren -t bramble.txt -p predict.txt
exit $status
