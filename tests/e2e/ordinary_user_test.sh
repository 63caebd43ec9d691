#!/usr/bin/env bash
# Run as an ordinary Linux user, as most people run run.sh: the user's own read-only files, named
# and walked, are made writable and shredded, as on Windows; another user's files in the user's
# folder, which the user may delete but not write, stay whole and are reported. The user is made
# here, and runs Wine in a prefix of its own, kept in its home between runs.
USER_NAME=morvenit-tester
[ "$(id -u)" -eq 0 ] && { id "$USER_NAME" || useradd -m -s /bin/sh "$USER_NAME"; } >/dev/null 2>&1 ||
  { echo "SKIPPED: no user can be made here (only root can)"; exit 77; }
source "$(dirname "$0")/lib.sh"
USER_HOME=$(getent passwd "$USER_NAME" | cut -d: -f6)

# What the user runs must be readable by it: the clone may lie in root's own home.
chmod 755 "$WORK" && mkdir "$WORK/bin" &&
  cp "$MORVENIT_EXE" "$WINTOOL" "$E2E_ROOT/tools/wine-session.sh" "$WORK/bin/"
MORVENIT_EXE=$WORK/bin/$(basename "$MORVENIT_EXE") WINTOOL=$WORK/bin/$(basename "$WINTOOL")
# Every Wine call below runs as the user, in the user's prefix.
as_user() {
  runuser -u "$USER_NAME" -- env HOME="$USER_HOME" DISPLAY="$DISPLAY" WINEDEBUG=-all \
    WINEDLLOVERRIDES="$WINEDLLOVERRIDES" WINEPREFIX="$USER_HOME/prefix" "$@"
}
wine() { as_user wine "$@"; }
trap 'as_user wineserver -k 2>/dev/null; e2e_cleanup' EXIT
as_user bash -c "source '$WORK/bin/wine-session.sh' && wine_prefix_ready \"\$WINEPREFIX\"" ||
  fail "the user's Wine prefix could not be made"

U=$WORK/user
mkdir -p "$U/walked" && cd "$U" && printf mine >"walked/mine.txt" && printf named >named.txt &&
  printf theirs >walked/theirs.txt && printf 'theirs read-only' >walked/theirs-ro.txt
chown -R "$USER_NAME" "$U" && chown root walked/theirs.txt walked/theirs-ro.txt
chmod 444 walked/mine.txt named.txt walked/theirs-ro.txt
morvenit_start "$U/walked" "$U/named.txt"
SUMMARY=
dismiss_message_boxes "$MORVENIT_PID" 60 "$WORK/boxes" || fail "the run did not end"
check "the user's own read-only files are gone" test ! -e walked/mine.txt -a ! -e named.txt
check_eq "another user's files stay whole, and as they were" "theirs 644|theirs read-only 444" \
  "$(cat walked/theirs.txt) $(stat -c %a walked/theirs.txt)|$(cat walked/theirs-ro.txt) $(stat \
    -c %a walked/theirs-ro.txt)"
check_eq "each of them is reported, and nothing else" \
  "In use by another program, or access refused:|theirs-ro.txt|theirs.txt" \
  "$(summary_list | sed 's/^ *.*\\//' | tr '\n' '|' | sed 's/|$//')"
finish
