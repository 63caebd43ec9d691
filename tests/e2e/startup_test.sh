#!/usr/bin/env bash
# Start-up and the run driver end to end: a run ends by itself, an item that leads nowhere is
# named and counted, and failures outside the shredder end the program through a message box
# titled "Morvenit".
source "$(dirname "$0")/lib.sh"
PROGRESS_CLASS=MorvenitProgress

# Waits for the "Morvenit" failure box, checks its text, clicks OK and checks the program ends.
expect_failure_box() {
  local what=$1 expected=$2 box text
  if ! wait_for_window "Morvenit" 20; then
    fail "$what: no message box"
    return
  fi
  box=$(inspect "Morvenit")
  check_eq "$what: box class" "#32770" "$(field "$(grep '^window' <<<"$box")" class)"
  text=$(grep '^child' <<<"$box" | while IFS= read -r l; do field "$l" text; done | tr '\n' '|')
  check "$what: says [$expected] ($text)" grep -qF "$expected" <<<"$text"
  screenshot "$what"
  click_child "Morvenit" "OK"
  if wait_exit "$MORVENIT_PID" 10; then
    check_eq "$what: exit code after the box" 1 "$EXIT_CODE"
  else
    fail "$what: program still running after OK"
  fi
}

# An empty folder: the window shows, and the run ends by itself after its one-second pause.
mkdir -p "$WORK/empty folder"
started=$(date +%s.%N)
morvenit_start "$WORK/empty folder"
check "empty folder: progress window appears" wait_for_class "$PROGRESS_CLASS" 20
window=$(inspect --class "$PROGRESS_CLASS" | grep '^window')
check_eq "empty folder: title cleared for the closing pause" "" "$(field "$window" title)"
screenshot "empty-folder-run"
if wait_exit "$MORVENIT_PID" 20; then
  check_eq "empty folder: exit code" 0 "$EXIT_CODE"
  elapsed=$(awk -v a="$started" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }')
  echo "empty folder run took ${elapsed}s, Wine start-up included"
else
  fail "empty folder: program did not end by itself"
fi
check "empty folder: the folder still stands" test -d "$WORK/empty folder"

# A path that leads nowhere, and a single space (two empty items): the first is named in a box,
# each is counted in the summary, and the run goes on to its end, with exit code 2 (files left).
for what in "missing path" "single space"; do
  if [ "$what" = "missing path" ]; then morvenit_start "$WORK/no such file.txt"; else morvenit_start_raw " "; fi
  : >"$ARTIFACTS/boxes-$what.txt"
  dismiss_message_boxes "$MORVENIT_PID" 30 "$ARTIFACTS/boxes-$what.txt" || fail "$what: the run did not end"
  wait_exit "$MORVENIT_PID" 10
  check_eq "$what: the boxes, then the summary, and the run ends" \
    "$([ "$what" = "missing path" ] && echo "53 Morvenit 1 file" || echo "53 Morvenit 2 files") 2" \
    "$(cut -d: -f1 "$ARTIFACTS/boxes-$what.txt" | tr '\n' ' ')$(grep -o '[0-9] files*' "$ARTIFACTS/boxes-$what.txt" | head -n 1) $EXIT_CODE"
done
check "missing path: its box names it" grep -qF "no such file.txt" "$ARTIFACTS/boxes-missing path.txt"

# An unclosed quote at the start swallows everything: no item at all.
morvenit_start_raw "\"$(winpath "$WORK/empty folder")"
expect_failure_box "unclosed quote" "Error 9: Subscript out of range"

finish
