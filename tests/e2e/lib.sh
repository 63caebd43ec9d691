# Sourced by every end-to-end test: the real morvenit.exe under Wine in a real window.
#
# Joins the Wine session that test.sh started (MORVENIT_TEST_SESSION=1 with DISPLAY and WINEPREFIX
# set), or starts a private one and stops it on exit. Gives each test a fresh folder $WORK and a
# folder $ARTIFACTS for screenshots, and a few checks that count towards a closing
# "N passed, M failed" line.
set -u

E2E_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
source "$E2E_ROOT/tools/wine-session.sh"

: "${MORVENIT_EXE:?MORVENIT_EXE must name the built morvenit.exe}"
: "${WINTOOL:?WINTOOL must name the built wintool.exe}"
TEST_NAME=$(basename "$0" .sh)
ARTIFACTS=${MORVENIT_ARTIFACTS:-$E2E_ROOT/build/test-artifacts}/$TEST_NAME
mkdir -p "$ARTIFACTS"
WORK=$(mktemp -d "/tmp/morvenit-$TEST_NAME.XXXXXX")
PASSED=0
FAILED=0
BACKGROUND_PIDS=()

e2e_cleanup() {
  restore_dpi
  local pid
  for pid in "${BACKGROUND_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  chmod -R u+w "$WORK" 2>/dev/null
  rm -rf "$WORK"
  [ "${E2E_OWN_SESSION:-0}" = 1 ] && wine_session_stop
}
trap e2e_cleanup EXIT

if [ "${MORVENIT_TEST_SESSION:-0}" != 1 ]; then
  E2E_OWN_SESSION=1
  xvfb_start || exit 1
  wine_prefix_ready "${MORVENIT_TEST_PREFIX:-$E2E_ROOT/build/wine-prefix}"
fi

# The screen density Wine reports to every program started from now on (HKCU\Control Panel\Desktop
# LogPixels). The tests share one prefix, so the prefix's own value comes back when the test
# ends, however it ends.
DPI_KEY='HKCU\Control Panel\Desktop'
DPI_SAVED=
set_dpi() {
  if [ -z "$DPI_SAVED" ]; then
    DPI_SAVED=$(wine reg query "$DPI_KEY" /v LogPixels 2>/dev/null | tr -d '\r' |
      sed -n 's/.*REG_DWORD *0x\([0-9a-fA-F]*\).*/\1/p')
    DPI_SAVED=${DPI_SAVED:-none}
  fi
  wine reg add "$DPI_KEY" /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
}
restore_dpi() {
  case "$DPI_SAVED" in
    "") return 0 ;;
    none) wine reg delete "$DPI_KEY" /v LogPixels /f >/dev/null 2>&1 ;;
    *) wine reg add "$DPI_KEY" /v LogPixels /t REG_DWORD /d $((16#$DPI_SAVED)) /f >/dev/null 2>&1 ;;
  esac
  DPI_SAVED=
}

# MulDiv: A * B / C rounded to the nearest, halves away from zero (twips to pixels, for one).
mul_div() {
  local n=$(($1 * $2)) c=$3
  if [ "$n" -ge 0 ]; then echo $(((2 * n + c) / (2 * c))); else echo $(((2 * n - c) / (2 * c))); fi
}

# The normalised root-mean-square difference of two images of one size (0 equal, 1 opposite).
rmse() { compare -metric RMSE "$1" "$2" null: 2>&1 | sed -n 's/.*(\([0-9.e-]*\)).*/\1/p'; }

# The Windows form of a Linux path.
winpath() { winepath -w "$1" 2>/dev/null; }

# Starts morvenit.exe on Linux paths, converted and quoted as the shell would; MORVENIT_PID is
# the process to wait for.
morvenit_start() {
  local args=() p
  for p in "$@"; do args+=("$(winpath "$p")"); done
  wine "$MORVENIT_EXE" "${args[@]}" >"$ARTIFACTS/stdout.txt" 2>&1 &
  MORVENIT_PID=$!
  BACKGROUND_PIDS+=("$MORVENIT_PID")
}

# Starts morvenit.exe with an exact argument part of its command line (quotes and spaces kept).
morvenit_start_raw() {
  wine "$WINTOOL" launch "$(winpath "$MORVENIT_EXE")" "$1" >"$ARTIFACTS/stdout.txt" 2>&1 &
  MORVENIT_PID=$!
  BACKGROUND_PIDS+=("$MORVENIT_PID")
}

# Waits up to SECONDS for PID to end; its exit code goes to EXIT_CODE. Returns 1 on time-out.
wait_exit() {
  local pid=$1 seconds=${2:-30} i
  for ((i = 0; i < seconds * 10; i++)); do
    if ! kill -0 "$pid" 2>/dev/null; then
      wait "$pid"
      EXIT_CODE=$?
      return 0
    fi
    sleep 0.1
  done
  return 1
}

# Prints what wintool sees of the window whose title starts with TITLE (or --class NAME).
inspect() { wine "$WINTOOL" inspect "$@" 2>/dev/null | tr -d '\r'; }

# Waits up to SECONDS for a visible window whose title starts with TITLE.
wait_for_window() {
  local title=$1 seconds=${2:-20} i
  for ((i = 0; i < seconds * 4; i++)); do
    inspect "$title" | grep -q '^window .* visible=1' && return 0
    sleep 0.25
  done
  return 1
}

# Waits up to SECONDS for a visible window of class CLASS (the progress window's title is
# cleared at the end of a run, so tests find it by class).
wait_for_class() {
  local class=$1 seconds=${2:-20} i
  for ((i = 0; i < seconds * 4; i++)); do
    inspect --class "$class" | grep -q '^window .* visible=1' && return 0
    sleep 0.25
  done
  return 1
}

# Waits up to SECONDS until no visible window's title starts with TITLE.
wait_for_no_window() {
  local title=$1 seconds=${2:-20} i
  for ((i = 0; i < seconds * 4; i++)); do
    inspect "$title" | grep -q '^window .* visible=1' || return 0
    sleep 0.25
  done
  return 1
}

# field LINE KEY: the value of KEY=... in one line of inspect's output (quotes stripped).
field() {
  sed -n "s/.* $2=\(\"\([^\"\\\\]\|\\\\.\)*\"\|[^ ]*\).*/\1/p" <<<"$1" | sed 's/^"\(.*\)"$/\1/'
}

# The inspect line of TITLE's child whose text is TEXT.
child_with_text() {
  inspect "$1" | grep '^child ' | while IFS= read -r line; do
    [ "$(field "$line" text)" = "$2" ] && { echo "$line"; break; }
  done
}

# Clicks the middle of a rectangle "left,top,width,height" with the real mouse.
click_rect() {
  local l t w h
  IFS=, read -r l t w h <<<"$1"
  xdotool mousemove $((l + w / 2)) $((t + h / 2)) click 1
}

# Clicks TITLE's child whose text is TEXT.
click_child() {
  local line
  line=$(child_with_text "$1" "$2")
  [ -n "$line" ] || return 1
  click_rect "$(field "$line" rect)"
}

# The texts of the message box titled TITLE, on one line.
box_text() {
  inspect "$1" | grep '^child .*class="Static"' | while IFS= read -r c; do field "$c" text; done |
    tr '\n' ' '
}

# Clicks "OK" on every message box, and on the summary window, until PID ends or SECONDS pass,
# appending each one's title and text to FILE; LAST_BOX_AT is when the last one was clicked
# (nanoseconds), empty when none came. SUMMARY keeps what the summary window showed; with KEEP it
# is left open, and this returns. Returns 1 when PID is still running at the end.
dismiss_message_boxes() {
  local pid=$1 seconds=$2 file=$3 keep=${4:-} i line title hwnd last= text
  LAST_BOX_AT=
  for ((i = 0; i < seconds * 10; i++)); do
    kill -0 "$pid" 2>/dev/null || return 0
    line=$(wine "$WINTOOL" list 2>/dev/null | grep -m1 'visible=1 class="\(#32770\|MorvenitSummary\)"')
    hwnd=${line%% *}
    [[ $line == *MorvenitSummary* ]] && SUMMARY=$(inspect --class MorvenitSummary) &&
      [ -n "$keep" ] && return 0
    if [ -n "$line" ]; then
      title=$(field "$line" title)
      # A box still closing is not counted twice; one still opening shows its text a moment later.
      if [ "$hwnd" != "$last" ]; then
        text=$(box_text "$title")
        [ -z "${text// /}" ] && sleep 0.3 && text=$(box_text "$title")
        echo "$title: $text" >>"$file"
      fi
      last=$hwnd
      LAST_BOX_AT=$(date +%s%N)
      click_child "$title" OK
      sleep 0.5
    fi
    sleep 0.1
  done
  ! kill -0 "$pid" 2>/dev/null
}

# summary_child ID KEY: KEY of the summary window's element ID (100 the counts, 101 the list, 102
# "Copy"), as last seen; summary_list: the list's lines as it shows them, one a line.
summary_child() { field "$(grep "^child .* id=$1 " <<<"$SUMMARY")" "$2"; }
summary_list() { printf '%b' "$(summary_child 101 items)"; }
# The clipboard's text exactly, carriage returns and all (its last line break left off, as by any
# command substitution).
clipboard_exact() {
  printf '%b' "$(wine "$WINTOOL" clipboard --quoted 2>/dev/null | tr -d '\r' | sed 's/^"\(.*\)"$/\1/')"
}

# Saves a screenshot of the whole virtual screen as $ARTIFACTS/NAME.png.
screenshot() { import -window root "$ARTIFACTS/$1.png" 2>/dev/null; }

pass() {
  PASSED=$((PASSED + 1))
  echo "PASS: $1"
}
fail() {
  FAILED=$((FAILED + 1))
  echo "FAIL: $1"
}
# check DESCRIPTION COMMAND...: passes when COMMAND succeeds.
check() {
  local what=$1
  shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}
# check_eq DESCRIPTION EXPECTED ACTUAL
check_eq() {
  if [ "$2" = "$3" ]; then pass "$1"; else fail "$1: expected [$2], got [$3]"; fi
}

# Ends the test: the closing count, and a non-zero exit when anything failed or nothing ran.
finish() {
  echo "$TEST_NAME: $PASSED passed, $FAILED failed"
  [ "$FAILED" -eq 0 ] && [ "$PASSED" -gt 0 ]
  exit $?
}
