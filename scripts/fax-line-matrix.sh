#!/usr/bin/env bash
# The longer matrix of calls through the virtual fax line, with efax as the
# fax program: both directions, 1 and 3 pages, each far-end speed, and noise.
# Prints one line per call with its duration and the line's result.
#
#   scripts/fax-line-matrix.sh [BUILD_DIR]     (default build/release)
#
# Takes about ten minutes. Needs efax (scripts/install-deps.sh installs it).
set -uo pipefail

cd "$(dirname "$0")/.."
build=${1:-build/release}
line=$build/tools/telvane-line/telvane-line
if [ ! -x "$line" ]; then
  echo "no $line: build first (make release)" >&2
  exit 2
fi
command -v efax >/dev/null && command -v efix >/dev/null || {
  echo "efax and efix are needed (scripts/install-deps.sh)" >&2
  exit 2
}

work=$(mktemp -d /tmp/fax-line-matrix-XXXXXX)
trap 'rm -rf "$work"' EXIT
for i in $(seq 1 45); do
  echo "Line $i of the test page: the quick brown fox jumps over the lazy dog 0123456789"
done > "$work/page.txt"
efix -i text -o tiffg3 -r 204x98 "$work/page.txt" > "$work/normal.tif" 2>/dev/null
efix -i text -o tiffg3 -r 204x196 "$work/page.txt" > "$work/fine.tif" 2>/dev/null

failures=0

# run NAME LINE-ARGS... -- EFAX-ARGS...
run() {
  local name=$1
  shift
  local largs=() eargs=()
  while [ "$1" != "--" ]; do largs+=("$1"); shift; done
  shift
  eargs=("$@")
  rm -rf "$work/in" "$work/got"
  mkdir -p "$work/got"
  "$line" "${largs[@]}" --timeout 300 > "$work/line.out" 2> "$work/line.err" &
  local pid=$!
  local pty=""
  for _ in $(seq 1 50); do
    pty=$(head -1 "$work/line.out" 2>/dev/null)
    [ -n "$pty" ] && break
    sleep 0.1
  done
  local start=$(date +%s.%N)
  efax -d "$pty" -o1 "${eargs[@]}" > "$work/efax.log" 2>&1
  local efax_rc=$?
  local end=$(date +%s.%N)
  wait "$pid"
  local line_rc=$?
  local result
  result=$(grep '^result:' "$work/line.out")
  local sent
  sent=$(grep -o 'sent [0-9+]* lines, [0-9+]* bytes, [0-9]* s' "$work/efax.log" | paste -sd';')
  printf '%-28s efax=%d line=%d %6.1f s  %s %s\n' "$name" "$efax_rc" "$line_rc" \
    "$(echo "$end - $start" | bc)" "${result#result: }" "$sent"
  if [ "$efax_rc" -ne 0 ] || [ "$line_rc" -ne 0 ]; then failures=$((failures + 1)); fi
}

n=$work/normal.tif
f=$work/fine.tif
for modems in v17 v29 v27ter; do
  run "send 1 normal $modems"  --answer "$work/in" --modems "$modems" -- -h "" -t 1 "$n"
done
run "send 3 normal v17"        --answer "$work/in" -- -h "" -t 1 "$n" "$n" "$n"
run "send 3 normal v29"        --answer "$work/in" --modems v29 -- -h "" -t 1 "$n" "$n" "$n"
run "send 2 fine v17"          --answer "$work/in" -- -h "" -t 1 "$f" "$f"
run "receive 1 normal v17"     --call "$n" -- -r "$work/got/fax"
run "receive 1 normal v29"     --call "$n" --modems v29 -- -r "$work/got/fax"
run "receive 1 fine v17"       --call "$f" -- -r "$work/got/fax"
# Louder noise (-47 dBm0 and up) makes spandsp's V.21 receiver report spurious
# frames, and calls fail before the speed falls.
for noise in -60 -50; do
  run "send 1 normal noise $noise" --answer "$work/in" --noise "$noise" -- -h "" -t 1 "$n"
done

echo "$failures call(s) failed"
[ "$failures" -eq 0 ]
