# Sourced by run.sh, test.sh and the tests: a private Wine prefix and, where asked, a private
# virtual X display. Only what was started here is stopped here, by process id.
#
#   wine_prefix_ready DIR   make DIR a ready Wine prefix (Wine's fonts, no window-manager
#                           stalls) unless it already is one; exports WINEPREFIX
#   xvfb_start              start Xvfb on a free display; exports DISPLAY, sets XVFB_PID
#   wine_session_stop       end this prefix's wineserver and the Xvfb started here

export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}  # no Mono/Gecko install prompts

wine_prefix_ready() {
  export WINEPREFIX=$1
  [ -f "$WINEPREFIX/.morvenit-ready" ] && return 0
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1
  wineserver -w
  # A new prefix has no fonts of Wine's own; "MS Sans Serif" must be Wine's bitmap face.
  mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
  cp /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/"
  # Without a window manager, hiding a managed window stalls for seconds and loses clicks.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  wineserver -w
  touch "$WINEPREFIX/.morvenit-ready"
}

xvfb_start() {
  local n=90
  while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
  # Room for the windows at up to 192 dpi, where they sit further right and down than at 96.
  Xvfb ":$n" -screen 0 1920x1440x24 -nolisten tcp >/dev/null 2>&1 &
  XVFB_PID=$!
  export DISPLAY=":$n"
  for _ in $(seq 50); do
    xdpyinfo >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  echo "Xvfb did not start on $DISPLAY" >&2
  return 1
}

wine_session_stop() {
  [ -n "${WINEPREFIX:-}" ] && wineserver -k >/dev/null 2>&1 || true
  if [ -n "${XVFB_PID:-}" ]; then
    kill "$XVFB_PID" 2>/dev/null || true
    wait "$XVFB_PID" 2>/dev/null || true
    XVFB_PID=
  fi
}
