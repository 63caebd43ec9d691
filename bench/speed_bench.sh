#!/usr/bin/env bash
# On demand, not a test: morvenit.exe under Wine against the device's limit and against other
# shredders, side by side on one fresh ext4 file system (a loop-mounted image), in alternating
# rounds, each contender on fresh files already on the disk:
#
#  - one large file: morvenit; `dd if=/dev/zero conv=notrunc,fsync` over it, then `rm` (the
#    overwrite made durable, then the delete: the limit for a shredder); `shred -n 1 -u`;
#  - many small files of 4 KiB, 100 to a folder: morvenit on the top folder; `find -type f -exec
#    shred -n 1 -u {} +`; `srm -r -l -l -z` on the folders (secure-delete's cheapest single pass
#    that still syncs); `rm -rf`, which overwrites nothing, for scale; and the least any Windows
#    program needs on them under Wine, even leaving out the flush (`wintool tree`: open each file
#    relative to its folder, write 4 KiB, delete it; net of its run on an empty folder);
#  - many small files of 4 KiB in one folder (100,000 unless ONE_FOLDER_FILES says otherwise; 0
#    leaves them out): morvenit alone, for its files per second beside those of the folders of
#    100, which must not fall as a folder grows;
#  - a chain of nested one-letter folders, a file of 4 KiB in each (2,000 deep unless CHAIN_DEPTH
#    says otherwise; 0 leaves it out): morvenit, for its files per second at depth, beside the
#    least any Windows program must do there under Wine (`wintool chain`: per level, open the
#    folder and its file relative to the folder above, write 4 KiB, flush, delete; net of its
#    run on an empty folder), and beside what Wine's server alone spends resolving the paths of
#    the files and folders opened (glibc's realpath, timed apart); in the first round only, unless
#    CHAIN_ROUNDS says more: a round takes ten minutes at 2,000 deep, and varies by a few per cent;
#  - in two more morvenit runs per round, on two large files and 300 small ones, the longest time
#    its window went without its messages from the moment it was shown, probed from another
#    process (`wintool silence`): once on a quiet machine, once while a `dd` writes another file
#    outside the image all along. Those runs are not timed: the probe's own traffic would weigh
#    on them.
#
# Every timing lasts until the writes are durable: a sync of the image follows each contender on
# the clock. Morvenit's raw time includes Wine starting it and its closing pause of one second;
# both are measured in every round, as a run on an empty file (or an empty folder) right after
# it, and taken out of that round's run for the net figure.
#
#   bench/speed_bench.sh [ROUNDS] [MIB] [FILES]     defaults: 3 rounds, 2048 MiB, 5000 files
#   MORVENIT_EXE (default build/windows/morvenit.exe), WINTOOL (default: beside it),
#   COMPARE_EXE (another build, timed beside it on the small files, the two taking turns first),
#   BENCH_PREFIX (default build/wine-prefix), BENCH_DIR (default /var/tmp; holds the image)
#
# Needs root for the loop mount; installs secure-delete when srm is missing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
rounds=${1:-3}
mib=${2:-2048}
files=${3:-5000}
folders=$(((files + 99) / 100))
one=${ONE_FOLDER_FILES:-100000}
depth=${CHAIN_DEPTH:-2000}
chain_rounds=${CHAIN_ROUNDS:-1}
source "$root/bench/lib.sh"

if ! command -v srm >/dev/null; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get install -y -q secure-delete >/dev/null 2>&1 ||
    { apt-get update -q >/dev/null && apt-get install -y -q secure-delete >/dev/null; }
fi
bench_start speed-bench
bench_ext4 $((mib * 2 + 1536))  # room for the two large files of the probed runs
echo "file system: ext4 image on $(df -T "$work" | awk 'NR == 2 { print $2 " " $1 }');" \
  "$mib MiB file; $((folders * 100)) files of 4 KiB in $folders folders; $rounds rounds"

# Everything the clock sees lives on $disk; its Windows form is worked out once, off the clock.
big=$disk/big.bin
tree=$disk/tree
empty=$disk/empty
win_disk=$(winepath -w "$disk" 2>/dev/null)
head -c "${mib}M" /dev/urandom >"$work/big-template.bin" # outside the image

make_big() {
  cp "$work/big-template.bin" "$big"
  sync
}
make_tree() {
  local n
  for n in $(seq -w 0 $((folders - 1))); do
    mkdir -p "$tree/folder $n"
    head -c $((100 * 4096)) /dev/urandom | split -b 4096 -d -a 2 - "$tree/folder $n/file "
  done
  sync
}
make_chain() { # one-letter folders, each opened relative to the last: no path grows past its limit
  python3 - "$disk/chain" "$depth" <<'PY'
import os, sys
os.makedirs(sys.argv[1])
fd = os.open(sys.argv[1], os.O_RDONLY)
for _ in range(int(sys.argv[2])):
    os.mkdir("a", dir_fd=fd)
    inner = os.open("a", os.O_RDONLY, dir_fd=fd)
    os.close(fd)
    fd = inner
    file = os.open("f", os.O_WRONLY | os.O_CREAT, 0o644, dir_fd=fd)
    os.write(file, os.urandom(4096))
    os.close(file)
os.close(fd)
PY
  sync
}
# chain_floor: the seconds Wine's server alone spends on the chain's paths, off the clock. At each
# open of a file or folder it resolves the opened one's whole Linux path (glibc's realpath, one
# look at every name along it, each from the root), and every level of the chain takes two opens,
# its folder and its file: a cost that grows with the square of the depth, whatever the program.
chain_floor() {
  python3 - "$disk/chain" "$depth" <<'PY'
import ctypes, os, sys, time
libc = ctypes.CDLL(None)
libc.realpath.restype = ctypes.c_void_p
libc.realpath.argtypes = [ctypes.c_char_p, ctypes.c_void_p]
libc.free.argtypes = [ctypes.c_void_p]
path, total = os.fsencode(sys.argv[1]), 0.0
for _ in range(int(sys.argv[2])):
    path += b"/a"
    for opened in (path, path + b"/f"):
        start = time.perf_counter()
        libc.free(libc.realpath(opened, None))
        total += time.perf_counter() - start
print(f"{total:.3f}")
PY
}
make_probed() { # the probed runs' tree: two large files and 300 small ones
  mkdir -p "$disk/probed/small"
  cp "$work/big-template.bin" "$disk/probed/big 1.bin"
  cp "$work/big-template.bin" "$disk/probed/big 2.bin"
  head -c $((300 * 4096)) /dev/urandom | split -b 4096 -d -a 3 - "$disk/probed/small/file "
  sync
}
make_one() {
  mkdir -p "$disk/one"
  head -c $((one * 4096)) /dev/urandom | (cd "$disk/one" && split -b 4096 -d -a 6 - "file ")
  sync
}
files_left() { if [ -e "$1" ]; then find "$1" -type f | wc -l; else echo 0; fi; }

# Exit code 2 (files left) is no reason to stop: check_gone names what was left.
morvenit() { wine "${run_exe:-$exe}" "$win_disk\\$1" >/dev/null 2>&1 || [ $? -eq 2 ]; }

# timed NAME COMMAND...: runs COMMAND, then syncs the image; the seconds both took go into
# times[NAME] and are printed.
declare -A times
timed() {
  local name=$1 start seconds
  shift
  start=$(date +%s.%N)
  "$@"
  sync -f "$disk"
  seconds=$(seconds_since "$start")
  times[$name]="${times[$name]:-} $seconds"
  echo "round $round: $name ${seconds}s"
}
# net NAME [RAW]: the last RAW run (default NAME-morvenit) less the last NAME-startup run (the same
# on an empty file or folder), into times[NAME-net].
net() {
  local raw=${times[${2:-$1-morvenit}]##* } empty=${times[$1-startup]##* }
  times[$1-net]="${times[$1-net]:-} $(awk -v a="$raw" -v b="$empty" 'BEGIN { printf "%.3f", a - b }')"
}
# least NAME MAKE PATH VERB [ARGS...]: the least any program needs on PATH, made afresh by MAKE
# (`wintool VERB FOLDER ARGS...`), and on an empty folder; net into times[NAME-least-net].
least() {
  local name=$1 make=$2 path=$3 verb=$4
  shift 4
  "$make"
  timed "$name-least" wine "$wintool" "$verb" "$win_disk\\${path#"$disk"/}" "$@"
  check_gone "wintool $verb" "$path"
  mkdir -p "$empty-folder/one"
  sync
  timed "$name-least-startup" wine "$wintool" "$verb" "$win_disk\\empty-folder" "$@"
  rm -rf "$empty-folder"
  net "$name-least" "$name-least"
}
# probed NAME: morvenit on the probed tree with wintool timing its window's replies; the longest
# and the 99th percentile go into times[NAME] and times[NAME-p99], in ms. With `busy`, a dd writes
# another file outside the image all along, stopped when the run ends.
probed() {
  local probe line busy=
  if [ "$1" = busy ]; then
    dd if=/dev/zero of="$work/busy.bin" bs=1M count=$((mib * 4)) status=none &
    busy=$!
    sleep 0.5
  fi
  wine "$wintool" silence --class MorvenitProgress 3600 >"$work/silence.txt" 2>&1 &
  probe=$!
  morvenit probed
  # The probe ends with the window; it never saw one if the program failed early.
  for _ in $(seq 50); do
    kill -0 "$probe" 2>/dev/null || break
    sleep 0.1
  done
  kill "$probe" 2>/dev/null || true
  wait "$probe" || true
  if [ -n "$busy" ]; then
    kill "$busy" 2>/dev/null || true
    wait "$busy" || true
    rm -f "$work/busy.bin"
  fi
  line=$(tr -d '\r' <"$work/silence.txt")
  echo "round $round: window silence, $1 machine: ${line:-no window seen}"
  times[$1]="${times[$1]:-} $(sed -n 's/.* longest_ms=\([0-9.]*\).*/\1/p' <<<"$line")"
  times[$1-p99]="${times[$1-p99]:-} $(sed -n 's/.* p99_ms=\([0-9.]*\).*/\1/p' <<<"$line")"
}
check_gone() { # check_gone WHO PATH
  local left
  left=$(files_left "$2")
  [ "$left" -eq 0 ] || echo "warning: $1 left $left files in round $round" >&2
  rm -rf "$2"
  sync
}

# Wine's first start in a session loads far more than any later one; keep it off the clock.
round=0
: >"$empty"
morvenit empty

for round in $(seq "$rounds"); do
  # One large file.
  make_big
  timed big-morvenit morvenit big.bin
  check_gone morvenit "$big"
  : >"$empty"
  sync
  timed big-startup morvenit empty
  net big
  make_big
  timed big-dd dd if=/dev/zero of="$big" bs=1M count="$mib" conv=notrunc,fsync status=none
  timed big-rm rm "$big"
  make_big
  timed big-shred shred -n 1 -u "$big"
  check_gone shred "$big"
  for load in quiet busy; do
    make_probed
    probed $load
    check_gone "morvenit (probed, $load)" "$disk/probed"
  done

  # Many small files; with COMPARE_EXE, that build too, first in every other round.
  for p in $([ -n "${COMPARE_EXE:-}" ] && ((round % 2)) && echo small-compare) small \
    $([ -n "${COMPARE_EXE:-}" ] && ! ((round % 2)) && echo small-compare); do
    run_exe=$exe
    [ "$p" = small ] || run_exe=$COMPARE_EXE
    make_tree
    timed "$p-morvenit" morvenit tree
    check_gone "$p" "$tree"
    mkdir "$empty-folder"
    sync
    timed "$p-startup" morvenit empty-folder
    rm -rf "$empty-folder"
    net "$p"
  done
  run_exe=
  # The least any program needs on them under Wine, even without a flush.
  least small make_tree "$tree" tree
  make_tree
  timed small-shred find "$tree" -type f -exec shred -n 1 -u {} +
  check_gone shred "$tree"
  make_tree
  timed small-srm srm -r -l -l -z "$tree"/*
  check_gone srm "$tree"
  make_tree
  timed small-rm rm -rf "$tree"

  # Many small files in one folder.
  if [ "$one" -gt 0 ]; then
    make_one
    timed one-morvenit morvenit one
    check_gone morvenit "$disk/one"
  fi

  # A deep chain of folders.
  if [ "$depth" -gt 0 ] && [ "$round" -le "$chain_rounds" ]; then
    make_chain
    floor=$(chain_floor)
    times[chain-floor]="${times[chain-floor]:-} $floor"
    echo "round $round: chain-floor ${floor}s (Wine's server resolving the paths it opens)"
    timed chain-morvenit morvenit chain
    check_gone morvenit "$disk/chain"
    least chain make_chain "$disk/chain" chain a f
  fi
done

declare -A m
for name in "${!times[@]}"; do m[$name]=$(median "${times[$name]}"); done
limit=$(awk -v d="${m[big-dd]}" -v r="${m[big-rm]}" 'BEGIN { printf "%.3f", d + r }')
declare -A worst=([quiet]=$(largest "${times[quiet]}") [busy]=$(largest "${times[busy]}"))

echo
echo "medians of $rounds rounds, the chain's of $((chain_rounds < rounds ? chain_rounds : rounds))" \
  "(seconds; each until the writes are durable):"
printf '  %-52s %8s\n' \
  "$mib MiB: morvenit.exe under Wine, raw" "${m[big-morvenit]}" \
  "  Wine start-up + closing pause (an empty file)" "${m[big-startup]}" \
  "  morvenit.exe, net (each round less its empty run)" "${m[big-net]}" \
  "  dd conv=notrunc,fsync" "${m[big-dd]}" \
  "  rm" "${m[big-rm]}" \
  "  dd + rm (the limit)" "$limit" \
  "  shred -n 1 -u" "${m[big-shred]}" \
  "$((folders * 100)) x 4 KiB: morvenit.exe under Wine, raw" "${m[small-morvenit]}" \
  "  Wine start-up + closing pause (an empty folder)" "${m[small-startup]}" \
  "  morvenit.exe, net" "${m[small-net]}" \
  "  least any program needs, no flush (wintool, net)" "${m[small-least-net]}" \
  "  find -type f -exec shred -n 1 -u {} +" "${m[small-shred]}" \
  "  srm -r -l -l -z" "${m[small-srm]}" \
  "  rm -rf (no overwrite)" "${m[small-rm]}"
if [ -n "${COMPARE_EXE:-}" ]; then
  printf '  %-52s %8s\n' "$(basename "$COMPARE_EXE") under Wine, raw" "${m[small-compare-morvenit]}" \
    "  Wine start-up + closing pause (an empty folder)" "${m[small-compare-startup]}" \
    "  $(basename "$COMPARE_EXE"), net" "${m[small-compare-net]}"
  echo "small files, net: $(basename "$exe") / $(basename "$COMPARE_EXE")" \
    "$(awk -v a="${m[small-net]}" -v b="${m[small-compare-net]}" 'BEGIN { printf "%.3f", a / b }')"
fi
if [ "$one" -gt 0 ]; then
  one_net=$(awk -v a="${m[one-morvenit]}" -v b="${m[small-startup]}" 'BEGIN { printf "%.3f", a - b }')
  printf '  %-52s %8s\n' "$one x 4 KiB in one folder: morvenit.exe, raw" "${m[one-morvenit]}" \
    "  morvenit.exe, net (less the empty folder's run)" "$one_net"
  echo "files per second, morvenit net: $((folders * 100)) in $folders folders:" \
    "$(awk -v n=$((folders * 100)) -v t="${m[small-net]}" 'BEGIN { printf "%.0f", n / t }');" \
    "$one in one folder: $(awk -v n="$one" -v t="$one_net" 'BEGIN { printf "%.0f", n / t }')"
fi
if [ "$depth" -gt 0 ]; then
  chain_net=$(awk -v a="${m[chain-morvenit]}" -v b="${m[small-startup]}" \
    'BEGIN { printf "%.3f", a - b }')
  chain_ours=$(awk -v a="$chain_net" -v b="${m[chain-least-net]}" 'BEGIN { printf "%.3f", a - b }')
  printf '  %-52s %8s\n' "a chain $depth folders deep, a file in each: raw" "${m[chain-morvenit]}" \
    "  morvenit.exe, net (less the empty folder's run)" "$chain_net" \
    "  the least any program needs (wintool chain, net)" "${m[chain-least-net]}" \
    "  morvenit's own: net less that least" "$chain_ours" \
    "  Wine's server resolving the opened paths (realpath)" "${m[chain-floor]}"
  echo "files per second at depth, morvenit net:" \
    "$(awk -v n="$depth" -v t="$chain_net" 'BEGIN { printf "%.0f", n / t }');" \
    "morvenit's own per file: $(awk -v n="$depth" -v t="$chain_ours" \
      'BEGIN { printf "%.2f", t / n * 1000 }') ms"
fi
for load in quiet busy; do
  echo "window silence, $load machine (ms): longest: median ${m[$load]}," \
    "worst ${worst[$load]}; 99th percentile: median ${m[$load-p99]}"
done

# ratio LABEL VALUE TARGET: VALUE against its target (met when VALUE <= TARGET).
ratio() {
  awk -v l="$1" -v v="$2" -v t="$3" 'BEGIN {
    printf "  %-40s %7.2f   target <= %-5s %s\n", l, v, t, (v <= t) ? "met" : "missed" }'
}
q() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.4f", a / b }'; }
echo
echo "against the targets:"
ratio "large file: morvenit net / (dd + rm)" "$(q "${m[big-net]}" "$limit")" 1.00
ratio "small files: morvenit net / shred" "$(q "${m[small-net]}" "${m[small-shred]}")" 0.06
ratio "small files: morvenit net / srm" "$(q "${m[small-net]}" "${m[small-srm]}")" 0.20
ratio "  least any program, no flush / shred" \
  "$(q "${m[small-least-net]}" "${m[small-shred]}")" 0.06
ratio "  least any program, no flush / srm" \
  "$(q "${m[small-least-net]}" "${m[small-srm]}")" 0.20
for load in quiet busy; do
  if [ -n "${worst[$load]}" ]; then
    ratio "window silence, $load, worst of $rounds (ms)" "${worst[$load]}" 50
  else
    echo "  window silence, $load: no figure (the probe never saw the window)"
  fi
done
# The target is set for a chain 2,000 deep.
if [ "$depth" -eq 2000 ]; then
  ratio "chain 2,000 deep: morvenit net (s)" "$chain_net" 20
  ratio "  the least any program needs there (s)" "${m[chain-least-net]}" 20
fi
echo "for scale: large file, morvenit net / shred $(q "${m[big-net]}" "${m[big-shred]}");" \
  "small files, morvenit raw / shred $(q "${m[small-morvenit]}" "${m[small-shred]}")"
