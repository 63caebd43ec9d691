#!/usr/bin/env bash
# The progress window during real runs: its place, frame, title and elements; the animation as
# it reaches the screen; the status line while another process holds a file open; "Cancel"; the
# close box; and, in Wine's managed mode, no taskbar entry.
source "$(dirname "$0")/lib.sh"
CLASS=MorvenitProgress
PIC=100 TEXT1=101 CHECK1=102 LABEL2=103 # control ids

random_file() { head -c 5000 /dev/urandom >"$1"; }
sums() { cat "$@" | md5sum; }

# Holds FILE open without sharing, from another Wine process, until `release`.
hold() {
  rm -f "$ARTIFACTS/hold.txt"
  wine "$WINTOOL" hold "$(winpath "$1")" 120 >"$ARTIFACTS/hold.txt" 2>&1 &
  HOLD_PID=$!
  BACKGROUND_PIDS+=("$HOLD_PID")
  for _ in $(seq 100); do
    grep -qs holding "$ARTIFACTS/hold.txt" && return 0
    sleep 0.1
  done
  return 1
}
release() { kill "$HOLD_PID" 2>/dev/null && wait "$HOLD_PID" 2>/dev/null; }

# Polls until the progress window is on screen; its first inspection is left in $SEEN.
wait_shown() {
  for _ in $(seq 80); do
    SEEN=$(inspect --class "$CLASS")
    grep -q '^window .* visible=1' <<<"$SEEN" && return 0
    sleep 0.25
  done
  return 1
}
window_line() { grep '^window ' <<<"$1"; }
child() { field "$(grep "^child .* id=$2 " <<<"$1")" "$3"; } # child INSPECTION ID KEY
label2_visible() { [ "$(child "$(inspect --class "$CLASS")" $LABEL2 visible)" = 1 ]; }
label2_hidden() { ! label2_visible; }

# The frame (1-8) that `pic` shows on screen, or "?": the 376 x 80 pixels of the image inside
# the client area, the places of the three controls blacked out, against each frame's file.
MASK=(-fill black -draw 'rectangle 71,56 320,74' -draw 'rectangle 327,56 368,72'
  -draw 'rectangle 103,40 360,56')
declare -A FRAME_OF
for n in 1 2 3 4 5 6 7 8; do
  FRAME_OF[$(convert "$E2E_ROOT/assets/frame$n.bmp" -crop 376x80+1+0 +repage "${MASK[@]}" \
    rgb:- | md5sum)]=$n
done
frame_on_screen() {
  local sum
  sum=$(import -window root -crop 376x80+448+625 +repage png:- 2>/dev/null |
    convert png:- "${MASK[@]}" rgb:- | md5sum)
  echo "${FRAME_OF[$sum]:-?}"
}

# --- A run over a long file, a file held open elsewhere and a small one ----------------------
truncate -s 1G "$WORK/long.bin" # costs nothing to make; the shredder still writes every byte
random_file "$WORK/held.bin"
random_file "$WORK/after.bin"
held_sum=$(sums "$WORK/held.bin")
hold "$WORK/held.bin" || fail "wintool could not hold a file"
morvenit_start "$WORK/long.bin" "$WORK/held.bin" "$WORK/after.bin"
wait_shown || {
  fail "the progress window never appeared"
  finish
}
window=$(window_line "$SEEN")
style=$(field "$window" style)
exstyle=$(field "$window" exstyle)
# At 96 dpi, 15 twips to the pixel.
check_eq "client area" "448,623,376,83" "$(field "$window" client)"
check_eq "title" "Morvenit                   Copyright © 2026 Morvenit" "$(field "$window" title)"
check "caption and close box; no minimize or maximize box; dialog frame, not resizable" test \
  $((style & 0xCF0000)) -eq $((0xC80000)) -a $((exstyle & 0x81)) -eq 1
check "owned by a hidden window" test "$(field "$window" owner)" != 0x0 -a \
  "$(field "$window" owner_visible)" = 0
# `pic` starts 50 twips left of the client area and sizes itself to its image plus a 2-px border.
check_eq "rectangles of pic, Text1, Check1, Label2" \
  "445,623,394,84 519,681,249,19 775,681,41,17 551,665,257,17" \
  "$(for id in $PIC $TEXT1 $CHECK1 $LABEL2; do child "$SEEN" $id rect; done | xargs)"
pic_hwnd=$(child "$SEEN" $PIC hwnd)
check_eq "pic, sunken, holds the three others" "512 $pic_hwnd $pic_hwnd $pic_hwnd" \
  "$(($(child "$SEEN" $PIC exstyle) & 0x200)) $(child "$SEEN" $TEXT1 parent)\
 $(child "$SEEN" $CHECK1 parent) $(child "$SEEN" $LABEL2 parent)"
check_eq "Check1: a push-like auto check box \"Cancel\", unchecked" "Cancel $((0x1003)) 0" \
  "$(child "$SEEN" $CHECK1 text) $(($(child "$SEEN" $CHECK1 style) & 0x100f))\
 $(child "$SEEN" $CHECK1 check)"
check_eq "Label2 hidden and empty at creation" "0 ''" \
  "$(child "$SEEN" $LABEL2 visible) '$(child "$SEEN" $LABEL2 text)'"
check "the focus is not on Check1" test "$(field "$window" focus)" != "$(child "$SEEN" $CHECK1 hwnd)"
screenshot "run-long-file"
# The benchmark's probe of the window's silences, from another process: it must find the live
# window and get its replies (a window gone quiet for 5 s would count as a time-out).
wine "$WINTOOL" silence --class "$CLASS" 2 >"$ARTIFACTS/silence.txt" 2>&1 &
SILENCE_PID=$!
BACKGROUND_PIDS+=("$SILENCE_PID")

# The animation as the screen shows it, until the loop has wrapped round and five different
# frames have been seen.
frames=()
distinct=""
wrapped=0
opening_again=0
previous=0
for _ in $(seq 120); do
  f=$(frame_on_screen)
  frames+=("$f")
  if [ "$f" != "?" ]; then
    [[ $distinct != *$f* ]] && distinct+=$f
    [ "$f" -lt "$previous" ] && wrapped=1
    [ "$f" -le 3 ] && [ "$previous" -ge 4 ] && opening_again=1
    previous=$f
  fi
  [ ${#distinct} -ge 5 ] && [ $wrapped = 1 ] && break
  kill -0 "$MORVENIT_PID" 2>/dev/null || break
done
echo "frames seen on screen: ${frames[*]}"
check "pic always shows one of the eight frames, unaltered" test "${frames[*]}" = "${frames[*]//\?/}"
check "the animation advances: frames $distinct" test ${#distinct} -ge 5
check "the loop wraps round to frame 4, never back to the opening" \
  test $wrapped -eq 1 -a $opening_again -eq 0

# The held file cannot be opened: the status line says so, then goes after its pause.
for _ in $(seq 80); do label2_visible && break || sleep 0.1; done
if label2_visible; then
  check_eq "status line" "Processing folder" "$(child "$(inspect --class "$CLASS")" $LABEL2 text)"
  screenshot "status-line"
  # Hidden in two reads running: one look at a window being repainted can come back empty.
  hidden=0
  for _ in $(seq 100); do
    if label2_hidden; then ((++hidden >= 2)) && break; else hidden=0; fi
    sleep 0.1
  done
  check "status line hidden again (last seen: '$(child "$(inspect --class "$CLASS")" $LABEL2 text)')" \
    test $hidden -ge 2
else
  fail "the status line never showed"
fi
# The held file is left: the run's closing summary says so, and it is clicked away.
: >"$ARTIFACTS/boxes-run.txt"
dismiss_message_boxes "$MORVENIT_PID" 60 "$ARTIFACTS/boxes-run.txt" || fail "the run did not end"
wait_exit "$MORVENIT_PID" 10
check "the closing summary counts the held file" grep -q '^Morvenit: *1 file was not removed' \
  "$ARTIFACTS/boxes-run.txt"
counts96=$(summary_child 100 rect)
release
wait "$SILENCE_PID"
silence=$(tr -d '\r' <"$ARTIFACTS/silence.txt")
echo "$silence"
check "silence probe: replies from the live window, no time-out" \
  test "$(field " $silence" probes)" -gt 0 -a "$(field " $silence" timeouts)" = 0
wine "$WINTOOL" silence --class "$CLASS" 1 >/dev/null 2>&1
check_eq "silence probe: no window, no figures (exit code 3)" 3 $?
check_eq "run: exit code (a file left)" 2 "${EXIT_CODE:-}"
check "run: the long file and the one after the held file are gone" \
  test ! -e "$WORK/long.bin" -a ! -e "$WORK/after.bin"
check_eq "run: the held file is untouched" "$held_sum" "$(sums "$WORK/held.bin")"

# --- The summary window: every file left, by its path under its reason, as the disk has them ---
# Two of them named with a line break and a right-to-left override: shown with those written out,
# copied as they are.
mkdir "$WORK/linked" "$WORK/names"
odd=($'line\nbreak' "$(printf 'rlo-\xe2\x80\xaetxt.exe')")
for f in $(seq -w 30) "${odd[@]}"; do random_file "$WORK/names/$f" && ln "$WORK/names/$f" "$WORK/linked/$f"; done
hold "$WORK/held.bin"
morvenit_start "$WORK/held.bin" "$WORK/linked"
dismiss_message_boxes "$MORVENIT_PID" 60 /dev/null keep
screenshot summary-96dpi
win=$(winpath "$WORK")
lines=("In use by another program, or access refused:" "    $win\\held.bin"
  "More than one name (hard links):")
shown=("${lines[@]}")
for f in $(seq -w 30); do lines+=("    $win\\linked\\$f") && shown+=("${lines[-1]}"); done
lines+=("    $win\\linked\\${odd[0]}" "    $win\\linked\\${odd[1]}")
shown+=("    $win\\linked\\line<U+000A>break" "    $win\\linked\\rlo-<U+202E>txt.exe")
check_eq "summary: every file left on the disk, by its path under its reason, the unseen shown" \
  "$(printf '%s\n' "${shown[@]}")" "$(summary_list)"
text1=$(child "$(inspect --class "$CLASS")" $TEXT1 text)
check_eq "the file display shows the unseen too ($text1)" 'rlo-<U+202E>txt.exe' "${text1: -19}"
check_eq "summary: a screen reader reads the list as a list (role 33), by its name" \
  'role=33 name="Files and folders left, under their reasons"' \
  "$(wine "$WINTOOL" accessible --class MorvenitSummary 101 2>/dev/null | tr -d '\r')"
click_rect "$(summary_child 101 rect)"
xdotool key ctrl+a ctrl+c
check_eq "summary: Ctrl+A, Ctrl+C copy every line as the disk has it, each ending in CR LF" \
  "$(printf '%s\r\n' "${lines[@]}")" "$(clipboard_exact)"
# By keyboard alone: Tab to "Copy", the space bar presses it, Shift+Tab goes back to the list.
focused() { inspect --class MorvenitSummary | grep '^child .* focused=1' | sed 's/.* id=\([0-9]*\) .*/\1/'; }
xdotool key Tab
tabbed=$(focused)
xdotool key space
xdotool key shift+Tab
check_eq "summary: Tab from the list to \"Copy\", Shift+Tab back" "102 101" "$tabbed $(focused)"
check_eq "summary: \"Copy\" copies the counts and every line, each ending in CR LF" \
  "$(printf '%b' "$(summary_child 100 text)")"$'\r\n\r\n'"$(printf '%s\r\n' "${lines[@]}")" \
  "$(clipboard_exact)"
xdotool key Escape
check "summary: Escape closes it, and the run ends" wait_exit "$MORVENIT_PID" 10
release

# --- "Cancel" during a run: the program ends, the files after it stay ------------------------
truncate -s 300M "$WORK/long.bin"
for f in held c d; do random_file "$WORK/$f.bin"; done
before=$(sums "$WORK"/{held,c,d}.bin)
hold "$WORK/held.bin" # the run lasts three seconds at least
morvenit_start "$WORK/long.bin" "$WORK"/{held,c,d}.bin
if wait_shown; then
  click_rect "$(child "$SEEN" $CHECK1 rect)"
  EXIT_CODE=
  wait_exit "$MORVENIT_PID" 30
  check_eq "Cancel: the program ends, with exit code 3" 3 "$EXIT_CODE"
  check_eq "Cancel: the files after it are untouched" "$before" "$(sums "$WORK"/{held,c,d}.bin)"
else
  fail "Cancel: the progress window never appeared"
fi
release
rm -f "$WORK"/*.bin

# --- The close box during a run: no window from then on, and the run finishes ---------------
mkdir "$WORK/many" # many small files: a run of some seconds at little cost to the disk
head -c 10000000 /dev/urandom | split -b 1000 -a 5 - "$WORK/many/f"
morvenit_start "$WORK/many"
if wait_shown; then
  IFS=, read -r l t w _ <<<"$(field "$(window_line "$SEEN")" rect)"
  # Wine draws the close box at the right end of the 19-px caption, inside the 3-px frame.
  xdotool mousemove $((l + w - 14)) $((t + 12)) click 1
  sleep 0.5
  screenshot "after-close-box"
  check "close box: the run was still going" test -n "$(ls "$WORK/many")"
  # The engine's next access makes a new window, which nothing shows again.
  ever_shown=0
  recreated=""
  for _ in $(seq 300); do
    kill -0 "$MORVENIT_PID" 2>/dev/null || break
    seen=$(inspect --class "$CLASS")
    grep -q '^window .* visible=1' <<<"$seen" && ever_shown=1
    # Only whole inspections: one taken while the program ends may catch it half torn down.
    grep -q "^child .* id=$CHECK1 " <<<"$seen" && recreated=$seen
    sleep 0.2
  done
  check_eq "close box: no window on screen for the rest of the run" 0 $ever_shown
  check_eq "close box: the new window is hidden, Check1 unchecked, Label2 hidden" "0 0 0" \
    "$(field "$(window_line "$recreated")" visible) $(child "$recreated" $CHECK1 check)\
 $(child "$recreated" $LABEL2 visible)"
  EXIT_CODE=
  wait_exit "$MORVENIT_PID" 60
  check_eq "close box: the run ends as usual" 0 "$EXIT_CODE"
  check_eq "close box: every file in the folder is gone" "" "$(ls "$WORK/many")"
else
  fail "close box: the progress window never appeared"
fi

# --- At 120, 144 and 192 dpi: the 96-dpi window, larger; the frames enlarged to fill `pic` ----
# The image as the client area shows it (controls blacked out) against every frame enlarged by
# ImageMagick, bilinearly (Triangle) and by repeating pixels (Point): the best match of each.
best_rmse() { # best_rmse SHOT FILTER W H CROP MASK...
  local shot=$1 filter=$2 w=$3 h=$4 crop=$5 n best=1 r
  shift 5
  for n in 1 2 3 4 5 6 7 8; do
    convert "$E2E_ROOT/assets/frame$n.bmp" -filter "$filter" -resize "${w}x$h!" -crop "$crop" \
      +repage "$@" "$WORK/expected.png"
    r=$(rmse "$shot" "$WORK/expected.png")
    if awk -v r="$r" -v b="$best" 'BEGIN { exit !(r < b) }'; then best=$r; fi
  done
  echo "$best"
}
for dpi in 120 144 192; do
  set_dpi $dpi
  twips() { mul_div "$1" $dpi 1440; }
  random_file "$WORK/held.bin"
  hold "$WORK/held.bin" # keeps the window up for three seconds at least
  morvenit_start "$WORK/held.bin"
  if ! wait_shown; then
    fail "$dpi dpi: the progress window never appeared"
    release
    continue
  fi
  cl=$(twips 6720) ct=$(twips 9345)
  fw=$(mul_div 390 $dpi 96) fh=$(mul_div 80 $dpi 96) # the frames, drawn 390 x 80 for 96 dpi
  pl=$((cl + $(twips -50)))
  ix=$((pl + 2)) iy=$((ct + 2)) # inside pic's 2-pixel sunken border
  in_pic() { echo "$((ix + $(twips $1))),$((iy + $(twips $2))),$(twips $3),$(twips $4)"; }
  check_eq "$dpi dpi: client area" "$cl,$ct,$(twips 5640),$(twips 1245)" \
    "$(field "$(window_line "$SEEN")" client)"
  check_eq "$dpi dpi: pic holds the enlarged frame; Text1, Check1, Label2 in proportion" \
    "$pl,$ct,$((fw + 4)),$((fh + 4)) $(in_pic 1080 840 3735 285) $(in_pic 4920 840 615 255)\
 $(in_pic 1560 600 3855 255)" \
    "$(for id in $PIC $TEXT1 $CHECK1 $LABEL2; do child "$SEEN" $id rect; done | xargs)"
  spill=""
  for id in $TEXT1 $CHECK1 $LABEL2; do
    IFS=, read -r l t w h <<<"$(child "$SEEN" $id rect)"
    [ "$l" -ge $ix ] && [ "$t" -ge $iy ] && [ $((l + w)) -le $((ix + fw)) ] &&
      [ $((t + h)) -le $((iy + fh)) ] || spill+=" $id"
  done
  check_eq "$dpi dpi: no control spills past the image in pic" "" "$spill"
  screenshot "run-${dpi}dpi"
  IFS=, read -r l t w h <<<"$(field "$(window_line "$SEEN")" rect)"
  convert "$ARTIFACTS/run-${dpi}dpi.png" -crop "${w}x$h+$l+$t" +repage \
    "$ARTIFACTS/progress-window-${dpi}dpi.png"
  # pic reaches past the client area on the left and right, as at 96 dpi: only what shows.
  crop="$(twips 5640)x$((ct + $(twips 1245) - iy))+$((cl - ix))+0"
  mask=()
  for id in $TEXT1 $CHECK1 $LABEL2; do
    IFS=, read -r l t w h <<<"$(child "$SEEN" $id rect)"
    mask+=(-draw "rectangle $((l - cl)),$((t - iy)) $((l - cl + w)),$((t - iy + h))")
  done
  convert "$ARTIFACTS/run-${dpi}dpi.png" -crop "${fw}x$fh+$ix+$iy" +repage -crop "$crop" +repage \
    -fill black "${mask[@]}" "$WORK/shown.png"
  smooth=$(best_rmse "$WORK/shown.png" Triangle $fw $fh "$crop" -fill black "${mask[@]}")
  blocky=$(best_rmse "$WORK/shown.png" Point $fw $fh "$crop" -fill black "${mask[@]}")
  echo "$dpi dpi: difference from the frames enlarged bilinearly $smooth, repeating $blocky"
  check "$dpi dpi: pic shows a frame enlarged to fill it ($smooth)" \
    awk -v r="$smooth" 'BEGIN { exit !(r < 0.02) }'
  check "$dpi dpi: enlarged smoothly, not by repeating pixels" \
    awk -v s="$smooth" -v b="$blocky" 'BEGIN { exit !(s < b) }'
  if [ $dpi = 144 ] && dismiss_message_boxes "$MORVENIT_PID" 60 /dev/null keep; then
    screenshot summary-144dpi
    check "144 dpi: the summary laid out and its text measured larger ($counts96 -> \
$(summary_child 100 rect))" awk -F, -v a="$counts96" -v b="$(summary_child 100 rect)" \
      'BEGIN { split(a, x); split(b, y); exit !(y[3] / x[3] > 1.45 && y[4] / x[4] > 1.35) }'
    xdotool key Return
    check "144 dpi: Enter closes the summary" wait_exit "$MORVENIT_PID" 10
  fi
  dismiss_message_boxes "$MORVENIT_PID" 60 /dev/null || fail "$dpi dpi: the run did not end"
  release
done
restore_dpi

# --- No taskbar entry, in Wine's default (managed) mode, where the X window carries the hint --
MANAGED_KEY='HKCU\Software\Wine\AppDefaults\morvenit.exe'
trap 'wine reg delete "$MANAGED_KEY" /f >/dev/null 2>&1; e2e_cleanup' EXIT
wine reg add "$MANAGED_KEY\\X11 Driver" /v Managed /d Y /f >/dev/null 2>&1
random_file "$WORK/held.bin"
hold "$WORK/held.bin"
morvenit_start "$WORK/held.bin"
for _ in $(seq 80); do
  xwindow=$(xdotool search --name "^Morvenit {19}Copyright" 2>/dev/null | head -1)
  [ -n "$xwindow" ] && break
  sleep 0.25
done
xprop -id "${xwindow:-0}" >"$ARTIFACTS/managed-xprop.txt" 2>&1
check "managed mode: no taskbar entry" \
  grep -q '^_NET_WM_STATE(ATOM) = .*_NET_WM_STATE_SKIP_TASKBAR' "$ARTIFACTS/managed-xprop.txt"
check "managed mode: the icon is 48 x 48" grep -q 'Icon (48 x 48)' "$ARTIFACTS/managed-xprop.txt"
dismiss_message_boxes "$MORVENIT_PID" 60 /dev/null || fail "managed mode: the program did not end"
release
wine reg delete "$MANAGED_KEY" /f >/dev/null 2>&1

finish
