#!/usr/bin/env bash
# On demand, not a test: the time to shred one large file with morvenit.exe under Wine, against
# the disk's own limit measured in the same run (dd writing zeros over an existing file of the
# same size, with fsync) and against GNU shred (one pass, then unlink). Deleting the file is timed
# on its own too: a shredder must delete, dd does not, and on a file system mounted with discard
# freeing a large file is far from free. The contenders alternate,
# each on a fresh file already on the disk; medians and ratios are printed.
#
#   bench/shred_bench.sh [ROUNDS] [MIB]     ROUNDS defaults to 3, MIB to 512
#   MORVENIT_EXE (default build/windows/morvenit.exe), BENCH_PREFIX (default build/wine-prefix),
#   BENCH_DIR (default /tmp): the file system measured
#
# Morvenit's raw time includes Wine starting it and its closing pause of one second. Both are
# measured on their own in every round, as a run on an empty file, and taken out of that round's
# run for the net figure. Wine's start-up varies by a tenth of a second or so: on a fast disk,
# give it a file of a few GiB.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
rounds=${1:-3}
mib=${2:-512}
source "$root/bench/lib.sh"
bench_start shred-bench
echo "file system: $(df -T "$work" | awk 'NR == 2 { print $2 " on " $1 }'), file: $mib MiB"

# A file of MIB MiB of data on the disk (real blocks, not a hole), with nothing left to write back.
make_file() {
  dd if=/dev/urandom of="$1" bs=1M count="$2" status=none
  sync
}

run_morvenit() { wine "$exe" "$(winepath -w "$1")" >/dev/null 2>&1; }
run_startup() { run_morvenit "$1"; }  # the same program on an empty file
run_dd() { dd if=/dev/zero of="$1" bs=1M count="$mib" conv=notrunc,fsync status=none; }
run_rm() { rm "$1"; }
run_shred() { shred -n 1 -u "$1"; }

# Wine's first start in a session loads far more than any later one; keep it off the clock.
make_file "$work/warm-up" 0
run_morvenit "$work/warm-up"

declare -A times
contenders=(morvenit startup dd rm shred)
for round in $(seq "$rounds"); do
  for who in "${contenders[@]}"; do
    file="$work/$who-$round.bin"
    make_file "$file" "$([ "$who" = startup ] && echo 0 || echo "$mib")"
    start=$(date +%s.%N)
    "run_$who" "$file"
    seconds=$(seconds_since "$start")
    if [ "$who" != dd ] && [ -e "$file" ]; then echo "warning: $who left $file" >&2; fi
    rm -f "$file"
    echo "round $round: $who ${seconds}s"
    times[$who]="${times[$who]:-} $seconds"
    # The empty run comes right after Morvenit's own and is taken out of it.
    if [ "$who" = morvenit ]; then raw=$seconds; fi
    if [ "$who" = startup ]; then
      times[net]="${times[net]:-} $(awk -v a="$raw" -v b="$seconds" 'BEGIN { printf "%.3f", a - b }')"
    fi
  done
done

m=$(median "${times[morvenit]}")
s=$(median "${times[startup]}")
n=$(median "${times[net]}")
d=$(median "${times[dd]}")
g=$(median "${times[shred]}")
u=$(median "${times[rm]}")
awk -v m="$m" -v s="$s" -v net="$n" -v d="$d" -v u="$u" -v g="$g" -v mib="$mib" -v r="$rounds" '
BEGIN {
  printf "\nmedians of %d rounds, %d MiB:\n", r, mib
  printf "  morvenit.exe under Wine   %7.3f s  (raw)\n", m
  printf "  Wine start-up + 1 s pause %7.3f s  (a run on an empty file)\n", s
  printf "  morvenit.exe, net         %7.3f s  %7.1f MiB/s  (each round less its empty run)\n", net, mib / net
  printf "  dd conv=fsync             %7.3f s  %7.1f MiB/s\n", d, mib / d
  printf "  rm (deleting the file)    %7.3f s\n", u
  printf "  shred -n 1 -u             %7.3f s  %7.1f MiB/s\n", g, mib / g
  printf "\nratios: morvenit net / dd %.2f (target <= 1.10), morvenit net / (dd + rm) %.2f,\n",
    net / d, net / (d + u)
  printf "        morvenit raw / dd %.2f, shred / dd %.2f, morvenit net / shred %.2f\n",
    m / d, g / d, net / g
}'
