#!/usr/bin/env bash
# The full matrix of Class 1 calls between telvane-fax and spandsp's fax
# terminal through the virtual fax line: sending and receiving, 1 and 3
# pages, normal and fine, at 14400, 9600 and 4800 bit/s, far ends with only
# V.29 or only V.27 ter, pages of mixed resolution, and RTN. Every page is
# compared line for line on both sides. `make test` runs a covering subset.
#
#   scripts/engine-line-matrix.sh [BUILD_DIR]     (default build/test)
#
# Takes about 30 minutes; the calls run one after another in real time.
set -uo pipefail

cd "$(dirname "$0")/.."
build=${1:-build/test}
tests=$build/tests/engine/e2e
for program in engine_e2e_fax_line_test engine_e2e_class1_send_modes_test engine_e2e_class1_receive_test engine_e2e_class1_rtn_test; do
  if [ ! -x "$tests/$program" ]; then
    echo "no $tests/$program: build the tests first (make test-build)" >&2
    exit 2
  fi
done

failures=0
for program in engine_e2e_fax_line_test engine_e2e_class1_send_modes_test engine_e2e_class1_receive_test engine_e2e_class1_rtn_test; do
  start=$(date +%s)
  if TELVANE_LINE_MATRIX=1 "$tests/$program" --gtest_brief=1; then
    verdict=passed
  else
    verdict=FAILED
    failures=$((failures + 1))
  fi
  printf '%-34s %s in %d s\n' "$program" "$verdict" "$(( $(date +%s) - start ))"
done
echo "$failures program(s) failed"
[ "$failures" -eq 0 ]
