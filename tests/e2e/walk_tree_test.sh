#!/usr/bin/env bash
# Folders dropped on the real morvenit.exe: every file at every depth goes, every folder stays,
# and nothing a link points at outside the dropped folders is touched.
# Names outside ASCII inside the tree reach Wine intact only from a UTF-8 locale.
export LC_ALL=C.UTF-8
source "$(dirname "$0")/lib.sh"

TREE="$WORK/tree one"
OTHER="$WORK/tree two"
OUTSIDE="$WORK/outside"

# A nested tree: files at several depths, a hidden (dot) file, read-only ones, an empty folder,
# names with spaces and characters outside ASCII, and a path far beyond 260 characters.
mkdir -p "$TREE/empty" "$TREE/a b/c d/e f" "$TREE/Ωμέγα/日本" "$OTHER/sub" "$OUTSIDE/far"
printf 'top' >"$TREE/top.txt"
: >"$TREE/zero.txt"
printf 'hidden' >"$TREE/a b/.hidden"
printf 'read only' >"$TREE/a b/c d/read only.txt"
chmod a-w "$TREE/a b/c d/read only.txt"
head -c 100000 /dev/urandom >"$TREE/a b/c d/e f/deep.bin"
printf 'é' >"$TREE/Ωμέγα/日本/résumé.txt"
deep="$TREE/deep"
for i in $(seq 10 25); do deep="$deep/level $i of a tree deeper than the limit"; done
mkdir -p "$deep"
printf 'deepest' >"$deep/deepest.txt"
printf 'other' >"$OTHER/sub/other.txt"
printf 'loose' >"$WORK/loose.txt"
# Links inside the tree to things outside it.
printf 'far away' >"$OUTSIDE/far/secret.txt"
ln -s "$OUTSIDE/far" "$TREE/a b/link to far"
ln -s "$OUTSIDE/nowhere" "$TREE/dangling link"

(cd "$WORK" && find . -type d | sort) >"$WORK/folders-before"
# (winepath cuts its answer at 260 characters, so the length is counted from the Linux path.)
work=$(winpath "$WORK")
echo "the deepest file's Windows path: $((${#work} + ${#deep} - ${#WORK} + 12)) characters"

morvenit_start "$TREE" "$WORK/loose.txt" "$OTHER"
if wait_exit "$MORVENIT_PID" 60; then
  check_eq "the run ends by itself" 0 "$EXIT_CODE"
else
  fail "the run did not end (a failure box?)"
  screenshot "walk-did-not-end"
fi

left=$(cd "$WORK" && find "tree one" "tree two" loose.txt \( -type f -o -type l \) 2>/dev/null |
  grep -v -e '/link to far$' -e '/dangling link$')
check_eq "every file at every depth is gone" "" "$left"
check_eq "every folder stands" "$(cat "$WORK/folders-before")" "$(cd "$WORK" && find . -type d | sort)"
check "the link to a folder outside stays a link" test -L "$TREE/a b/link to far"
check "the dangling link stays" test -L "$TREE/dangling link"
check_eq "the folder the link points at is intact" "far away" "$(cat "$OUTSIDE/far/secret.txt")"

finish
