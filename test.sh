#!/usr/bin/env bash
# Builds Morvenit and runs every test: the native unit tests (ASan and UBSan on, then again under
# ThreadSanitizer), the same unit tests built for Windows under Wine, and end-to-end tests of the
# real morvenit.exe under Wine on a private virtual display. Installs whatever is missing first.
# Exits non-zero when anything fails.
set -uo pipefail
cd "$(dirname "$0")"
root=$PWD

tools/install-deps.sh || exit 1

passed=0
failed=0
failures=()

# run_ctest NAME COMMAND...: runs COMMAND (ctest, perhaps behind a launcher) and adds the counts
# ctest reports to the totals.
run_ctest() {
  local name=$1 out line
  shift
  out=$(mktemp)
  "$@" --timeout 900 2>&1 | tee "$out"
  line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$out" | tail -n 1)
  if [ -z "$line" ]; then
    failures+=("$name: no result")
    failed=$((failed + 1))
  else
    local f total
    f=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
    total=$(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<<"$line")
    passed=$((passed + total - f))
    failed=$((failed + f))
    [ "$f" -gt 0 ] && failures+=("$name: $f of $total failed")
  fi
  rm -f "$out"
}

build() {
  cmake --preset "$1" >/dev/null && cmake --build --preset "$1"
}

echo "== native: build and unit tests"
if build native; then
  run_ctest native ctest --preset native
else
  failures+=("native: build failed")
  failed=$((failed + 1))
fi

echo "== tsan: build and unit tests under ThreadSanitizer"
# GCC 12's ThreadSanitizer dies with "unexpected memory mapping" where the kernel randomises mmap
# with more than 30 bits (vm.mmap_rnd_bits, 32 on some distributions); with address randomisation
# off it runs anywhere. Containers may forbid turning it off: then the tests run as they are.
no_aslr=()
setarch "$(uname -m)" -R true 2>/dev/null && no_aslr=(setarch "$(uname -m)" -R)
if build tsan; then
  run_ctest tsan "${no_aslr[@]}" ctest --preset tsan
else
  failures+=("tsan: build failed")
  failed=$((failed + 1))
fi

echo "== windows: build, installer, unit tests under Wine, end-to-end tests"
if build windows && cmake --build --preset windows --target installer; then
  source tools/wine-session.sh
  trap wine_session_stop EXIT
  if xvfb_start; then
    wine_prefix_ready "$root/build/wine-prefix"
    export MORVENIT_TEST_SESSION=1 MORVENIT_ARTIFACTS=$root/build/test-artifacts
    echo "(virtual display $DISPLAY, Wine prefix $WINEPREFIX, screenshots in $MORVENIT_ARTIFACTS)"
    run_ctest windows ctest --preset windows
  else
    failures+=("windows: no virtual display")
    failed=$((failed + 1))
  fi
else
  failures+=("windows: build failed")
  failed=$((failed + 1))
fi

echo
for f in "${failures[@]}"; do echo "FAILED: $f"; done
echo "test.sh: $passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
