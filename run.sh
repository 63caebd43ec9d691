#!/usr/bin/env bash
# Runs Morvenit under Wine on the given Linux paths, as if they had been dropped on its icon.
# Installs what is missing and builds first. With no path, it shows the information window.
set -euo pipefail
cd "$(dirname "$0")"
root=$PWD

tools/install-deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --target morvenit >/dev/null

source tools/wine-session.sh
if [ -z "${DISPLAY:-}" ]; then
  if [ $# -eq 0 ]; then
    echo "No X display is set, so nobody could see the information window: nothing to do." >&2
    exit 2
  fi
  trap wine_session_stop EXIT
  xvfb_start
  echo "No X display is set: running on a private virtual display ($DISPLAY)."
  echo "Nobody can click a message box there; press Ctrl-C to end the program."
fi
wine_prefix_ready "$root/build/wine-run-prefix"

# Each path in its Windows form; Wine quotes those that hold a space, as the shell does.
args=()
for path in "$@"; do args+=("$(winepath -w "$path" 2>/dev/null)"); done
status=0
wine "$root/build/windows/morvenit.exe" "${args[@]}" || status=$?
exit "$status"
