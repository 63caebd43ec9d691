#!/usr/bin/env bash
# Start-up and the run driver end to end: a run ends by itself, and failures outside the
# shredder end the program through a message box titled "Morvenit".
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

morvenit_start "$WORK/no such file.txt"
expect_failure_box "missing path" "Error 53: File not found"

# A single space splits into two empty items; the first one fails.
morvenit_start_raw " "
expect_failure_box "single space" "Error 53: File not found"

# An unclosed quote at the start swallows everything: no item at all.
morvenit_start_raw "\"$(winpath "$WORK/empty folder")"
expect_failure_box "unclosed quote" "Error 9: Subscript out of range"

finish
