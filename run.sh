#!/usr/bin/env bash
# Runs Morvenit under Wine on the given Linux paths, as if they had been dropped on its icon.
# Installs what is missing and builds first. With no path, it shows the information window.
set -euo pipefail

# Each path in the Windows form that names exactly the file Linux names, on the drive Z: that a
# new prefix maps to "/" (winepath would cut a long one at 260 characters). A path that cannot be
# given so (empty, missing, or a name Windows cannot hold) is refused by name, and nothing runs
# for it; the others run. The exit status is the worst of the runs' (0 every file named gone, 2
# files left and reported, 3 cancelled, 1 a failure), and 2 at least when a path was refused.
source "$(dirname "$0")/tools/windows-paths.sh"
windows_paths "$@"
if [ $# -gt 0 ] && [ ${#WINDOWS_PATHS[@]} -eq 0 ]; then exit 2; fi

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

# More paths than one command line holds run as several runs, one after another, in order.
status=0
run_windows_paths wine "$root/build/windows/morvenit.exe" || status=$?
[ "$REFUSED" -gt 0 ] && status=$(worse_status "$status" 2)
exit "$status"
