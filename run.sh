#!/usr/bin/env bash
# Runs Morvenit under Wine on the given Linux paths, as if they had been dropped on its icon.
# Installs what is missing and builds first. With no path, it shows the information window.
set -euo pipefail

# Each path in its Windows form (a relative one from where this was run), on the drive Z: that a
# new prefix maps to "/" (winepath would cut a long one at 260 characters); Wine quotes those that
# hold a space, as the shell does, and reads the names as UTF-8. A path that is not valid UTF-8
# cannot be given exactly: Wine would read each bad byte as U+FFFD and name another file, or none;
# nor can one holding a backslash, which Windows reads as a folder's end. Such a path is refused,
# and nothing runs for it.
export LC_ALL=C.UTF-8
args=()
refused=0
for path in "$@"; do
  why=
  printf '%s' "$path" | iconv -f UTF-8 -t UTF-8 >/dev/null 2>&1 || why="it is not valid UTF-8"
  [[ "$path" == *\\* ]] && why="it holds a backslash"
  if [ -n "$why" ]; then
    printf 'run.sh: %q is left alone: %s, so it cannot be given to a Windows program exactly. Rename it first.\n' "$path" "$why" >&2
    refused=$((refused + 1))
    continue
  fi
  [ "${path#/}" = "$path" ] && path=$PWD/$path
  args+=("Z:${path//\//\\}")
done
if [ $# -gt 0 ] && [ ${#args[@]} -eq 0 ]; then exit 2; fi

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

status=0
wine "$root/build/windows/morvenit.exe" "${args[@]}" || status=$?
[ "$status" -eq 0 ] && [ "$refused" -gt 0 ] && status=2
exit "$status"
