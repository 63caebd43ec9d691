#!/usr/bin/env bash
# Run as an ordinary Linux user, as most people run run.sh: the user's own read-only files, named
# and walked, are made writable and shredded, as on Windows; another user's files in the user's
# folder, which the user may delete but not write, stay whole and are reported. The user is made
# here (only root can), and runs Wine in a prefix of its own, kept in its home between runs.
USER_NAME=morvenit-tester
if [ "$(id -u)" -ne 0 ]; then
  echo "SKIPPED: only root can make the user this test runs as"
  exit 77
fi
if ! id "$USER_NAME" >/dev/null 2>&1 &&
  ! useradd --create-home --shell /bin/sh "$USER_NAME" 2>/dev/null; then
  echo "SKIPPED: no user can be made here"
  exit 77
fi
source "$(dirname "$0")/lib.sh"
USER_HOME=$(getent passwd "$USER_NAME" | cut -d: -f6)

# What the user runs must be readable by it: the clone may lie in root's own home.
chmod 755 "$WORK"
mkdir "$WORK/bin" && cp "$MORVENIT_EXE" "$WINTOOL" "$E2E_ROOT/tools/wine-session.sh" "$WORK/bin/"
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
mkdir -p "$U/walked"
printf 'mine' >"$U/walked/mine read-only.txt"
printf 'named' >"$U/named read-only.txt"
printf 'theirs' >"$U/walked/theirs.txt"
printf 'theirs read-only' >"$U/walked/theirs read-only.txt"
chown -R "$USER_NAME" "$U"
chown root "$U/walked/theirs.txt" "$U/walked/theirs read-only.txt"
chmod 444 "$U/walked/mine read-only.txt" "$U/named read-only.txt" "$U/walked/theirs read-only.txt"

morvenit_start "$U/walked" "$U/named read-only.txt"
SUMMARY=
dismiss_message_boxes "$MORVENIT_PID" 60 "$WORK/boxes" || fail "the run did not end"
check "the user's own read-only files are gone" \
  test ! -e "$U/walked/mine read-only.txt" -a ! -e "$U/named read-only.txt"
check_eq "another user's files stay whole, and as they were" "theirs 644|theirs read-only 444" \
  "$(cat "$U/walked/theirs.txt") $(stat -c %a "$U/walked/theirs.txt")|$(cat \
    "$U/walked/theirs read-only.txt") $(stat -c %a "$U/walked/theirs read-only.txt")"
check_eq "each of them is reported, and nothing else" \
  "In use by another program, or access refused:|theirs read-only.txt|theirs.txt" \
  "$(summary_list | sed 's/^ *.*\\//' | tr '\n' '|' | sed 's/|$//')"
finish
