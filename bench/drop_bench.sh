#!/usr/bin/env bash
# On demand, not a test: a selection of many items handed to morvenit.exe through its verb under
# Wine, as Explorer hands it over (`wintool drop`), for 20,000, 50,000 and 100,000 paths (or the
# counts given). For each it prints how long Drop kept the caller waiting (Explorer, for the
# verb), how long from the start of the drop until the progress window showed (COM starting the
# program included), and, as the paths name nothing, the run's summary of them all: the longest
# time the window's thread went without its messages meanwhile (`wintool silence`: the summary
# being made, mostly), and how many lines "Copy" put on the clipboard.
#
#   bench/drop_bench.sh [COUNT...]
#   MORVENIT_EXE (default build/windows/morvenit.exe), WINTOOL (default: beside it),
#   BENCH_PREFIX (default build/wine-prefix), BENCH_DIR (default /var/tmp)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/bench/lib.sh"
counts=("$@")
[ ${#counts[@]} -gt 0 ] || counts=(20000 50000 100000)
CLASS='{E99C3767-6932-4418-9A7B-C764807BB7CA}' # the verb's (windows/verb_server.h)
# Wine alone: Wine's COM finds classes under HKLM only.
CLASS_KEY="HKLM\\Software\\Classes\\CLSID\\$CLASS"

bench_start drop-bench
trap 'wine reg delete "$CLASS_KEY" /f >/dev/null 2>&1; bench_stop' EXIT
wine reg add "$CLASS_KEY\\LocalServer32" /ve /d "\"$(winepath -w "$exe")\" <shell-verb>" /f \
  >/dev/null 2>&1
win_work=$(winepath -w "$work" 2>/dev/null)

inspect() { wine "$wintool" inspect "$@" 2>/dev/null | tr -d '\r'; }
visible() { inspect "$@" | grep '^window .* visible=1' >/dev/null; }
# The summary, without reading its list's every line as inspect would.
summary_shown() { wine "$wintool" list 2>/dev/null | grep 'visible=1 class="MorvenitSummary"' >/dev/null; }
# until SECONDS COMMAND...: runs COMMAND every tenth of a second until it succeeds, or fails.
until_true() {
  local seconds=$1 i
  shift
  for ((i = 0; i < seconds * 10; i++)); do "$@" && return 0 || sleep 0.1; done
  return 1
}
# Clicks the middle of the child of window TITLE whose text is TEXT.
click_child() {
  local line l t w h
  line=$(inspect "$1" | grep "^child .* text=\"$2\"" | awk 'NR == 1')
  IFS=, read -r l t w h <<<"$(sed -n 's/.* rect=\([^ ]*\).*/\1/p' <<<"$line")"
  xdotool mousemove $((l + w / 2)) $((t + h / 2)) click 1
}

printf '%8s %8s %10s %8s %15s %8s\n' items "drop s" "window s" "run s" "longest gap s" copied
for n in "${counts[@]}"; do
  seq -f "$win_work\\missing\\file %06g.txt" "$n" | iconv -t UTF-16LE >"$work/list.txt"
  start=$(date +%s.%N)
  drop=$(wine "$wintool" drop --time "$CLASS" "$(winepath -w "$work/list.txt")" 2>/dev/null |
    tr -d '\r')
  until_true 60 visible --class MorvenitProgress
  shown=$(seconds_since "$start")
  wine "$wintool" silence --class MorvenitProgress 900 >"$work/silence.txt" 2>/dev/null &
  probe=$!
  # The first path not found has its box; the others are counted in the summary.
  until_true 120 visible 53 && click_child 53 OK
  clicked=$(date +%s.%N)
  until_true 900 summary_shown
  run=$(seconds_since "$clicked")
  sleep 1
  xdotool key Tab space # "Copy", from the list
  sleep 1
  copied=$(wine "$wintool" clipboard 2>/dev/null | grep -c 'missing\\file ' || true)
  xdotool key Escape
  wait "$probe" || true
  gap=$(sed -n 's/.*longest_ms=\([0-9.]*\).*/\1/p' "$work/silence.txt" | tr -d '\r')
  printf '%8s %8s %10s %8s %15s %8s\n' "$n" "$(sed -n 's/.*drop_seconds=\([0-9.]*\).*/\1/p' \
    <<<"$drop")" "$shown" "$run" "$(awk -v g="${gap:-0}" 'BEGIN { printf "%.3f", g / 1000 }')" \
    "$copied"
done
