#!/usr/bin/env bash
# On demand, not a test: the time to empty a tree of 10,000 files of 4 KiB in 100 folders with
# morvenit.exe under Wine, with GNU shred (one pass, then unlink, as `find -exec shred -n 1 -u`)
# and with rm -rf, the floor that overwrites nothing. Each contender runs ROUNDS times on a fresh
# tree, interleaved so that they share the machine's moods; medians and ratios are printed.
#
#   bench/walk_bench.sh [ROUNDS]      ROUNDS defaults to 3
#   MORVENIT_EXE (default build/windows/morvenit.exe), BENCH_PREFIX (default build/wine-prefix)
#
# Morvenit's time is the whole program as a user meets it: Wine starting it, the walk, and its
# closing pause of one second.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
rounds=${1:-3}
source "$root/bench/lib.sh"
bench_start walk-bench

# 100 folders of 100 files of 4 KiB of random bytes, on the disk before the clock starts.
make_tree() {
  local n
  for n in $(seq -w 0 99); do
    mkdir -p "$1/folder $n"
    head -c $((100 * 4096)) /dev/urandom | split -b 4096 -d -a 2 - "$1/folder $n/file "
  done
  sync
}

files_left() { find "$1" -type f | wc -l; }

run_morvenit() { wine "$exe" "$(winepath -w "$1")" >/dev/null 2>&1; }
run_shred() { find "$1" -type f -exec shred -n 1 -u {} +; }
run_rm() { rm -rf "$1"; }

# Wine's first start in a session loads far more than any later one; keep it off the clock.
mkdir -p "$work/warm-up"
run_morvenit "$work/warm-up"

declare -A times
contenders=(morvenit shred rm)
for round in $(seq "$rounds"); do
  for who in "${contenders[@]}"; do
    tree="$work/$who-$round"
    make_tree "$tree"
    start=$(date +%s.%N)
    "run_$who" "$tree"
    seconds=$(seconds_since "$start")
    left=$([ -d "$tree" ] && files_left "$tree" || echo 0)
    [ "$left" -eq 0 ] || echo "warning: $who left $left files in round $round" >&2
    echo "round $round: $who ${seconds}s"
    times[$who]="${times[$who]:-} $seconds"
    rm -rf "$tree"
  done
done

m=$(median "${times[morvenit]}")
s=$(median "${times[shred]}")
r=$(median "${times[rm]}")
echo
echo "10,000 files of 4 KiB in 100 folders, median of $rounds rounds:"
printf '  %-46s %8.3f s\n' "morvenit.exe under Wine" "$m" \
  "find -type f -exec shred -n 1 -u {} +" "$s" "rm -rf (no overwrite)" "$r"
awk -v m="$m" -v s="$s" -v r="$r" 'BEGIN {
  printf "  morvenit / shred = %.2f   morvenit / rm = %.1f   shred / rm = %.1f\n", m / s, m / r, s / r }'
