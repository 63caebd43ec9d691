#!/usr/bin/env bash
# The information window end to end: morvenit.exe started with no arguments, driven with the real
# mouse and keyboard. Geometry is written in twips and checked in pixels at Wine's 96 dpi, then
# at 120, 144 and 192 dpi, where the logo and the pointing hand are enlarged smoothly.
source "$(dirname "$0")/lib.sh"
CLASS=MorvenitSplash
FRAME=3 # Wine keeps the dialog frame at 3 pixels at every density
DPI=96
px() { mul_div "$1" $DPI 1440; }
at_dpi() { # the density for the next windows, and where they go
  DPI=$1
  X0=$(px 7050) Y0=$(px 6615) # the client area's top-left corner on the screen
  OUTER_W=$(($(px 5460) + 2 * FRAME))
}
at_dpi 96
# Screen rectangle of an element from its client position and size in twips.
at() { echo "$((X0 + $(px $1))),$((Y0 + $(px $2))),$(px $3),$(px $4)"; }

# Ids: Picture1 100, Label1..Label5 101..105, Command1 111, Command3 113, Command4 114.
snapshot() { inspect --class "$CLASS"; }
child() { snapshot | grep "^child .* id=$1 "; }
rect_of() { field "$(child "$1")" rect; }
client_of() { field "$(snapshot | grep '^window')" client; }
outer_height() { field "$(snapshot | grep '^window')" rect | cut -d, -f4; }
focused_id() { field "$(snapshot | grep '^child .* focused=1')" id; }
# The outer height once it has become $1, or whatever it is after two seconds.
height_after() {
  for ((i = 0; i < 20; i++)); do [ "$(outer_height)" = "$1" ] && break || sleep 0.1; done
  outer_height
}
# The outer height half a second after keys that must change nothing.
height_after_keys() { xdotool key "$@" && sleep 0.5 && outer_height; }
rgb_at() {
  local p="p{$2,$3}"
  convert "$1" -format "%[fx:int(255*$p.r+.5)],%[fx:int(255*$p.g+.5)],%[fx:int(255*$p.b+.5)]" info:
}
# "x y RRGGBB" for every pixel of an image.
pixels() {
  convert "$@" -alpha off -depth 8 txt:- |
    sed -nE 's/^([0-9]+),([0-9]+):.*#([0-9A-F]{6}).*/\1 \2 \3/p'
}
# The X server's current cursor as WIDTHxHEIGHT@HOTX,HOTY.
cursor() {
  python3 -c 'import ctypes as c
class I(c.Structure):
    _fields_ = list(zip(("x", "y", "w", "h", "hx", "hy"), [c.c_short] * 2 + [c.c_ushort] * 4))
x, f = c.CDLL("libX11.so.6"), c.CDLL("libXfixes.so.3")
x.XOpenDisplay.restype = c.c_void_p
f.XFixesGetCursorImage.argtypes, f.XFixesGetCursorImage.restype = [c.c_void_p], c.POINTER(I)
i = f.XFixesGetCursorImage(x.XOpenDisplay(None)).contents
print(f"{i.w}x{i.h}@{i.hx},{i.hy}")'
}
move_to() {
  IFS=, read -r l t w h <<<"$(rect_of "$1")"
  xdotool mousemove $((l + w / 2)) $((t + h / 2)) && sleep 0.3
}
start() { morvenit_start && wait_for_class "$CLASS" 20 || { fail "no information window" && finish; }; }
close_with_x() {
  click_rect "$(rect_of 111)"
  if wait_exit "$MORVENIT_PID" 10; then
    check_eq "$1: exit code" 0 "$EXIT_CODE"
    check "$1: no window left" test -z "$(snapshot)"
  else
    fail "$1: the program is still running"
  fi
}

# --- The mouse. ---
start
snap=$(snapshot)
win=$(grep '^window' <<<"$snap")
check_eq "load: outer rectangle|client rectangle|title" \
  "$((X0 - FRAME)),$((Y0 - FRAME)),$OUTER_W,$(px 1830)|$X0,$Y0,$(px 5460),$(($(px 1830) - 2 * FRAME))|" \
  "$(field "$win" rect)|$(field "$win" client)|$(field "$win" title)"
# WS_POPUP | WS_DLGFRAME, without WS_BORDER (a caption), WS_SYSMENU, WS_THICKFRAME, min/max boxes.
check_eq "load: styles" 0x80400000 "$(printf '0x%x' $(($(field "$win" style) & 0x80CF0000)))"
check "load: off the taskbar (hidden owner, no WS_EX_APPWINDOW)" \
  test "$(field "$win" owner)" != 0x0 -a "$(field "$win" owner_visible)" = 0 \
  -a $(($(field "$win" exstyle) & 0x40000)) = 0
check_eq "load: focus on Picture1" 100 "$(focused_id)"
check "no control has id 1 or 2 (Enter, Escape)" test -z "$(grep -E ' id=(1|2) ' <<<"$snap")"
# id class text(_ for a space, - for none) left top width height style-mask style. Label3 sits in
# Picture1 at 120,120. Buttons: 11 owner-drawn, 0 plain; labels: 2 right-aligned, 0 left.
# Picture1's 2250 x 1500 twips are the logo's 150 x 100 pixels at any density.
check_elements() { # check_elements INSPECTION
  local id class text l t w h mask bits line
  while read -r id class text l t w h mask bits; do
    line=$(grep "^child .* id=$id " <<<"$1")
    [ "$text" = - ] && text=
    check_eq "$DPI dpi: element $id: class|text|rectangle|visible|style" \
      "$class|$text|$(at $l $t $w $h)|1|$bits" \
      "$(field "$line" class)|$(field "$line" text | tr ' ' _)|$(field "$line" rect)|$(
        field "$line" visible)|$(($(field "$line" style) & mask))"
  done <<'EOF'
100 MorvenitSplashPicture - 120 120 2250 1500 0 0
103 Static Ver_2.0b 120 120 735 255 31 0
101 Static Copyright_©_2026_Morvenit 3240 480 1935 255 31 2
102 Static www.example.com 3600 720 1575 255 31 2
104 Static support@example.com 3480 960 1695 255 31 2
113 Button ? 4680 0 375 255 15 11
111 Button X 5160 0 255 255 15 11
105 Static Label5 240 1800 4935 3615 31 0
114 Button OK 4440 5520 735 255 15 0
EOF
}
check_elements "$snap"
check_eq "Label3 lies inside Picture1" "$(field "$(child 100)" hwnd)" "$(field "$(child 103)" parent)"

screenshot folded
shot=$ARTIFACTS/folded.png
convert "$shot" -crop "${OUTER_W}x$(px 1830)+$((X0 - FRAME))+$((Y0 - FRAME))" +repage \
  "$ARTIFACTS/information-window-folded.png"
IFS=, read -r hl ht _ <<<"$(rect_of 113)"
IFS=, read -r xl xt _ <<<"$(rect_of 111)"
check_eq "colours: background|\"?\" face|\"X\" face" "255,255,255|255,224,192|255,128,128" \
  "$(rgb_at "$shot" $((X0 + 200)) $((Y0 + 20)))|$(rgb_at "$shot" $((hl + 3)) $((ht + 3)))|$(
    rgb_at "$shot" $((xl + 3)) $((xt + 3)))"
# The logo on screen pixel for pixel, but for the black letters of Label3 drawn over it.
IFS=, read -r l t w h <<<"$(rect_of 100)"
IFS=, read -r _ _ lw lh <<<"$(rect_of 103)"
read -r outside inside letters logo < <(paste -d' ' \
  <(pixels "$shot" -crop "${w}x$h+$l+$t" +repage) <(pixels "$MORVENIT_SOURCE_DIR/assets/logo.gif") |
  awk -v lw="$lw" -v lh="$lh" '
  { in_label = $1 < lw && $2 < lh
    if ($3 == $6) { if (in_label) logo++ } else if (!in_label) outside++
    else if ($3 == "000000") letters++; else inside++ }
  END { print outside + 0, inside + 0, letters + 0, logo + 0 }')
check_eq "Picture1 shows the whole logo" 0 "$outside"
check_eq "Label3: nothing but black letters over the logo" 0 "$inside"
check "Label3: letters, and mostly logo ($letters letter, $logo logo pixels)" \
  test "$letters" -ge 20 -a "$logo" -ge $((lw * lh / 2))

move_to 111
over_x=$(cursor 2>/dev/null)
move_to 113
if cursor >/dev/null 2>&1; then
  check_eq "pointing hand over \"?\"" 32x32@12,1 "$(cursor)"
  check "no pointing hand over \"X\" ($over_x)" test "$over_x" != 32x32@12,1
else
  fail "cannot read the X cursor (python3, libX11 and libXfixes, which install-deps.sh installs)"
fi
xdotool click 1
check_eq "\"?\": outer height" "$(px 6000)" "$(height_after "$(px 6000)")"
check_eq "\"?\": the window has not moved" "$X0,$Y0" "$(client_of | cut -d, -f1,2)"
text=$(field "$(child 105)" text)
check_eq "\"?\": Label5 holds 527 characters" 527 "$(printf '%b' "$text" | wc -c)"
check_eq "\"?\": eleven CRLF pairs" 11 "$(grep -o '\\r\\n' <<<"$text" | wc -l)"
check "\"?\": first and last lines" \
  grep -q '^Morvenit is very easy to use\\r\\n.*\\r\\nrecover data processed by morvenit$' <<<"$text"
IFS=, read -r _ t _ h <<<"$(rect_of 114)"
check "\"?\": \"OK\" comes into view" test $((t + h)) -le $((Y0 + $(px 6000) - 2 * FRAME))
screenshot unfolded
convert "$ARTIFACTS/unfolded.png" -crop "${OUTER_W}x$(px 6000)+$((X0 - FRAME))+$((Y0 - FRAME))" \
  +repage "$ARTIFACTS/information-window-unfolded.png"
click_rect "$(rect_of 113)"
check_eq "second \"?\": outer height and text" "$(px 6000)|$text" \
  "$(height_after "$(px 6000)")|$(field "$(child 105)" text)"
click_rect "$(rect_of 114)"
check_eq "\"OK\": outer height" "$(px 1815)" "$(height_after "$(px 1815)")"
close_with_x "\"X\" folded"

# --- The keyboard. ---
start
check_eq "Escape and Enter on Picture1: height and focus" "$(px 1830)|100" \
  "$(height_after_keys Escape Return)|$(focused_id)"
xdotool key Tab
check_eq "Tab 1: \"X\"" 111 "$(focused_id)"
xdotool key Tab
check_eq "Tab 2: \"OK\", and still no default button" 114/0 \
  "$(focused_id)/$(($(field "$(child 114)" style) & 15))"
check_eq "Enter on \"OK\": height" "$(px 1830)" "$(height_after_keys Return)"
xdotool key space
check_eq "space on \"OK\" while folded: outer height" "$(px 1815)" "$(height_after "$(px 1815)")"
xdotool key Tab
check_eq "Tab 3: \"?\"" 113 "$(focused_id)"
check_eq "Enter and Escape on \"?\": height and text" "$(px 1815)|Label5" \
  "$(height_after_keys Return Escape)|$(field "$(child 105)" text)"
xdotool key Tab
check_eq "Tab 4: back to Picture1" 100 "$(focused_id)"
xdotool key shift+Tab space
check_eq "Shift+Tab and space: \"?\" unfolds" "$(px 6000)" "$(height_after "$(px 6000)")"
close_with_x "\"X\" unfolded"

# --- At 120, 144 and 192 dpi: the same window, larger; logo and hand enlarged smoothly. ---
for dpi in 120 144 192; do
  set_dpi $dpi
  at_dpi $dpi
  start
  snap=$(snapshot)
  win=$(grep '^window' <<<"$snap")
  outer="$((X0 - FRAME)),$((Y0 - FRAME)),$OUTER_W,$(px 1830)"
  check_eq "$dpi dpi: outer rectangle|client rectangle" \
    "$outer|$X0,$Y0,$(px 5460),$(($(px 1830) - 2 * FRAME))" \
    "$(field "$win" rect)|$(field "$win" client)"
  check_elements "$snap"
  screenshot "folded-${dpi}dpi"
  convert "$ARTIFACTS/folded-${dpi}dpi.png" \
    -crop "${OUTER_W}x$(px 1830)+$((X0 - FRAME))+$((Y0 - FRAME))" +repage \
    "$ARTIFACTS/information-window-folded-${dpi}dpi.png"
  # The logo on screen, Label3's corner blacked out, against the logo enlarged by ImageMagick
  # bilinearly (Triangle) and by repeating pixels (Point).
  IFS=, read -r l t w h <<<"$(rect_of 100)"
  IFS=, read -r _ _ lw lh <<<"$(rect_of 103)"
  mask=(-fill black -draw "rectangle 0,0 $((lw - 1)),$((lh - 1))")
  convert "$ARTIFACTS/folded-${dpi}dpi.png" -crop "${w}x$h+$l+$t" +repage -alpha off "${mask[@]}" \
    "$WORK/logo-shown.png"
  for filter in Triangle Point; do
    convert "$MORVENIT_SOURCE_DIR/assets/logo.gif" -alpha off -filter $filter -resize "${w}x$h!" \
      "${mask[@]}" "$WORK/logo-$filter.png"
  done
  smooth=$(rmse "$WORK/logo-shown.png" "$WORK/logo-Triangle.png")
  blocky=$(rmse "$WORK/logo-shown.png" "$WORK/logo-Point.png")
  echo "$dpi dpi: difference from the logo enlarged bilinearly $smooth, by repeating pixels $blocky"
  check "$dpi dpi: Picture1 shows the whole logo, enlarged to fill it ($smooth)" \
    awk -v r="$smooth" 'BEGIN { exit !(r < 0.02) }'
  check "$dpi dpi: the logo is enlarged smoothly, not by repeating pixels" \
    awk -v s="$smooth" -v b="$blocky" 'BEGIN { exit !(s < b) }'
  move_to 113
  check_eq "$dpi dpi: the pointing hand, enlarged, its hot spot with it" \
    "$(mul_div 32 $dpi 96)x$(mul_div 32 $dpi 96)@$(mul_div 12 $dpi 96),$(mul_div 1 $dpi 96)" \
    "$(cursor 2>/dev/null)"
  xdotool click 1
  check_eq "$dpi dpi: \"?\": outer height" "$(px 6000)" "$(height_after "$(px 6000)")"
  IFS=, read -r _ t _ h <<<"$(rect_of 114)"
  check "$dpi dpi: \"?\": \"OK\" comes into view" \
    test $((t + h)) -le $((Y0 + $(px 6000) - 2 * FRAME))
  screenshot "unfolded-${dpi}dpi"
  convert "$ARTIFACTS/unfolded-${dpi}dpi.png" \
    -crop "${OUTER_W}x$(px 6000)+$((X0 - FRAME))+$((Y0 - FRAME))" +repage \
    "$ARTIFACTS/information-window-unfolded-${dpi}dpi.png"
  close_with_x "$dpi dpi: \"X\""
done
restore_dpi

finish
