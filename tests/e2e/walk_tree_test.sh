#!/usr/bin/env bash
# Folders dropped on the real morvenit.exe: every file at every depth goes, every folder stays,
# and nothing a link points at outside the dropped folders is touched. Then the same as a hostile
# or unlucky user would try it: links and hard links inside, folders swapped for links during the
# walk, names Windows forbids, a file held open, odd relative paths: nothing that was not named
# is touched, and nothing named is left without a word.
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

# ---- Never what was not named, never a named file left in silence ---------------------------

PATTERN="................ ................ ................ ................ "

# hostile_run FOLDER SIZE: the run in FOLDER (its file system named by $FS), the large file SIZE.
hostile_run() {
  SAFE="$1/dropped"
  NOT_NAMED="$1/not named"
  mkdir -p "$SAFE/sub" "$NOT_NAMED"
  # Links to files outside, absolute and relative: Wine shows them as ordinary files.
  printf 'target' >"$NOT_NAMED/target.txt"
  ln -s "$NOT_NAMED/target.txt" "$SAFE/absolute link"
  ln -s "../not named/target.txt" "$SAFE/sub/relative link"
  # A file with a second name outside: its data belongs to that name too.
  printf 'both names' >"$NOT_NAMED/other name.txt"
  ln "$NOT_NAMED/other name.txt" "$SAFE/sub/hard link.txt"
  # Names Windows forbids: one reached by its short name, two that nothing reaches.
  printf 'star' >"$SAFE/sub/star*quest?.txt"
  printf 'tab' >"$SAFE/sub/tab	name"
  printf 'newline' >"$SAFE/sub/"$'new\nline'
  # A read-only file another program holds open for the whole run: reported, kept as it was.
  printf 'held' >"$SAFE/sub/held.txt"
  chmod 444 "$SAFE/sub/held.txt"
  local held_mode
  held_mode=$(stat -c %a "$SAFE/sub/held.txt")  # ntfs-3g keeps no modes: 777 whatever is set
  # Twelve folders that a hostile program swaps for links to folders outside, while the first,
  # large file is overwritten (the names sort it first, as Wine lists them).
  for i in $(seq 10 21); do
    mkdir -p "$SAFE/s$i" "$NOT_NAMED/o$i"
    printf "precious $i" >"$NOT_NAMED/o$i/precious.txt"
    printf 'mine' >"$SAFE/s$i/mine.txt"
  done
  head -c "$2" /dev/zero | tr '\0' 'x' >"$SAFE/0 large first.bin"
  not_named() { (cd "$NOT_NAMED" && find . -type f -print0 | sort -z | xargs -0 md5sum); }
  not_named >"$1/not-named-before"

  wine "$WINTOOL" hold "$(winpath "$SAFE/sub/held.txt")" 120 >"$ARTIFACTS/hold-$FS.txt" 2>&1 &
  local holder=$!
  BACKGROUND_PIDS+=("$holder")
  for _ in $(seq 100); do grep -qs holding "$ARTIFACTS/hold-$FS.txt" && break; sleep 0.1; done
  morvenit_start "$SAFE"
  swapped=0
  for _ in $(seq 600); do
    # Once the large file is being overwritten, its folder has been listed.
    if [ "$(head -c 68 "$SAFE/0 large first.bin" 2>/dev/null)" = "$PATTERN" ]; then
      for i in $(seq 10 21); do
        mv "$SAFE/s$i" "$SAFE/moved away $i" && ln -s "$NOT_NAMED/o$i" "$SAFE/s$i" &&
          swapped=$((swapped + 1))
      done
      break
    fi
    sleep 0.05
  done
  check "$FS: the folders were swapped while the large file was overwritten" \
    test "$swapped" -eq 12 -a -e "$SAFE/0 large first.bin"
  : >"$ARTIFACTS/boxes-$FS.txt"
  dismiss_message_boxes "$MORVENIT_PID" 120 "$ARTIFACTS/boxes-$FS.txt" || fail "$FS: the hostile run did not end"
  wait_exit "$MORVENIT_PID" 10
  kill "$holder" 2>/dev/null
  wait "$holder" 2>/dev/null
  cat "$ARTIFACTS/boxes-$FS.txt"

  check_eq "$FS: nothing outside the dropped folder changed" "$(cat "$1/not-named-before")" "$(not_named)"
  check "$FS: the links stay links" test -L "$SAFE/absolute link" -a -L "$SAFE/sub/relative link" \
    -a -L "$SAFE/s15"
  check_eq "$FS: the hard-linked file keeps both names and its data" "both names" \
    "$(cat "$SAFE/sub/hard link.txt")"
  check "$FS: the file reached by its short name is gone" test ! -e "$SAFE/sub/star*quest?.txt"
  check "$FS: the large file is gone" test ! -e "$SAFE/0 large first.bin"
  check_eq "$FS: the held read-only file is kept whole and read-only" "held $held_mode" \
    "$(cat "$SAFE/sub/held.txt") $(stat -c %a "$SAFE/sub/held.txt")"
  check_eq "$FS: the files nothing reaches are kept" "tab newline" \
    "$(cat "$SAFE/sub/tab	name") $(cat "$SAFE/sub/"$'new\nline')"
  check_eq "$FS: each reason was explained in a box once, then the summary" \
    "1001 1003 1004 Morvenit" \
    "$(cut -d: -f1 "$ARTIFACTS/boxes-$FS.txt" | sort | tr '\n' ' ' | sed 's/ $//')"
}

FS=ext4
hostile_run "$WORK" 1G
# NTFS keeps links and hard links its own way; ntfs-3g shows them to Wine as ext4 does.
trap 'umount "$WORK/ntfs" 2>/dev/null; e2e_cleanup' EXIT
if [ "$(id -u)" -eq 0 ] && [ -e /dev/fuse ] && command -v mkfs.ntfs >/dev/null &&
  truncate -s 700M "$WORK/ntfs.img" && mkfs.ntfs -q -F -f "$WORK/ntfs.img" >/dev/null 2>&1 &&
  mkdir -p "$WORK/ntfs" && ntfs-3g "$WORK/ntfs.img" "$WORK/ntfs"; then
  FS=ntfs
  hostile_run "$WORK/ntfs" 300M
  for _ in $(seq 50); do umount "$WORK/ntfs" 2>/dev/null && break; sleep 0.2; done
else
  echo "NTFS part skipped: it needs root, /dev/fuse and ntfs-3g"
fi

# summary_count FILE: how many files the run's closing summary box (titled "Morvenit") says were
# left, or nothing when there was none.
summary_count() { sed -n 's/^Morvenit: *\([0-9][0-9]*\) .*/\1/p' "$1" | tail -n 1; }

# A folder whose files are in flight (written, waiting for their flush and delete) swapped for a
# link to a folder outside that holds files of the same names, and put back a moment later, over
# and over until the run ends: no file outside may change, and every file of ours left is counted
# in the closing summary.
FLIGHT="$WORK/flight"
mkdir -p "$FLIGHT/drop/sub" "$FLIGHT/outside"
for i in $(seq 1000); do
  printf "ours $i" >"$FLIGHT/drop/sub/f$i.txt"
  printf "outside $i" >"$FLIGHT/outside/f$i.txt"
done
outside_sums() { (cd "$FLIGHT/outside" && md5sum -- * | sort); }
outside_sums >"$FLIGHT/outside-before"
morvenit_start "$FLIGHT/drop"
for _ in $(seq 3000); do
  [ "$(head -c 68 "$FLIGHT/drop/sub/f1.txt" 2>/dev/null)" = "$PATTERN" ] && break
  [ -e "$FLIGHT/drop/sub/f1.txt" ] || break
  sleep 0.01
done
(
  flips=0
  while kill -0 "$MORVENIT_PID" 2>/dev/null && [ "$flips" -lt 3000 ]; do
    mv "$FLIGHT/drop/sub" "$FLIGHT/drop/away" && ln -s "$FLIGHT/outside" "$FLIGHT/drop/sub"
    sleep 0.002
    rm "$FLIGHT/drop/sub" && mv "$FLIGHT/drop/away" "$FLIGHT/drop/sub"
    flips=$((flips + 1))
  done
  echo "$flips" >"$FLIGHT/flips"
) &
flipper=$!
: >"$ARTIFACTS/boxes-flight.txt"
dismiss_message_boxes "$MORVENIT_PID" 120 "$ARTIFACTS/boxes-flight.txt" || fail "the in-flight run did not end"
wait "$flipper"
flips=$(cat "$FLIGHT/flips")
echo "the folder in flight was swapped $flips times"
check "the folder was swapped while its files were in flight" test "$flips" -gt 10
check_eq "nothing outside changed" "$(cat "$FLIGHT/outside-before")" "$(outside_sums)"
left=$(find "$FLIGHT/drop" -type f | wc -l)
echo "$left of our files left"
check_eq "every file of ours left is counted in the summary" "$left" "$(summary_count "$ARTIFACTS/boxes-flight.txt" || echo 0)"

# A folder that cannot be changed (marked immutable): Wine reports a delete there done, so only a
# look afterwards tells. Every file, named or walked, is reported and left with its attributes,
# and the closing pause comes only after the summary.
IMM="$WORK/immutable"
mkdir -p "$IMM/walked"
for n in 1 2 3; do printf "named $n" >"$IMM/named $n.txt"; done
printf 'walked' >"$IMM/walked/w.txt"
chmod 444 "$IMM/named 2.txt"
if chattr +i "$IMM" "$IMM/walked" 2>/dev/null; then
  morvenit_start "$IMM/named 1.txt" "$IMM/named 2.txt" "$IMM/named 3.txt" "$IMM/walked"
  : >"$ARTIFACTS/boxes-immutable.txt"
  dismiss_message_boxes "$MORVENIT_PID" 60 "$ARTIFACTS/boxes-immutable.txt" || fail "the immutable run did not end"
  ended=$(date +%s%N)
  chattr -i "$IMM" "$IMM/walked"
  cat "$ARTIFACTS/boxes-immutable.txt"
  check_eq "every file in the immutable folders stays, overwritten" "$PATTERN$PATTERN$PATTERN$PATTERN" \
    "$(for f in "$IMM/named 1.txt" "$IMM/named 2.txt" "$IMM/named 3.txt" "$IMM/walked/w.txt"; do
      head -c 68 "$f"; done)"
  check_eq "the read-only one is read-only again" 444 "$(stat -c %a "$IMM/named 2.txt")"
  check_eq "the first is reported in a box, the summary counts all four" "1005 Morvenit 4" \
    "$(cut -d: -f1 "$ARTIFACTS/boxes-immutable.txt" | tr '\n' ' ')$(summary_count "$ARTIFACTS/boxes-immutable.txt")"
  check "the closing pause comes after the summary" \
    test -n "$LAST_BOX_AT" -a $(((ended - ${LAST_BOX_AT:-ended}) / 1000000)) -ge 900
else
  echo "immutable part skipped: chattr +i is refused here"
fi

# What Linux allows and Windows never sees. A name that is not UTF-8 beside its U+FFFD twin:
# run.sh refuses it by name, and inside a dropped folder it is reported, its twin shredded. A
# chain of folders past Linux's 4,096 bytes a path: every file Wine cannot reach by a path is
# reported, none in silence. A FIFO, a socket, a character device and a block device (a loop
# device over an image of our own): refused, and the device's image never written.
LINUX="$WORK/linux"
mkdir -p "$LINUX/names"
bad=$(printf 'bad\xff\xfe.txt')
printf 'bad bytes' >"$LINUX/names/$bad"
twin="bad$(printf '\xef\xbf\xbd\xef\xbf\xbd').txt"
printf 'twin' >"$LINUX/names/$twin"
refusal=$("$E2E_ROOT/run.sh" "$LINUX/names/$bad" 2>&1 >/dev/null)
check "run.sh refuses a name that is not UTF-8, and names it" \
  test $? -eq 2 -a -n "$(grep -F 'not valid UTF-8' <<<"$refusal" | grep -F 'bad\377\376')"
# (Made a folder at a time from the one before: Linux refuses the whole path past 4,096 bytes.)
python3 - "$LINUX/deep" <<'CHAIN'
import os, sys
os.makedirs(sys.argv[1])
folder = os.open(sys.argv[1], os.O_RDONLY)
for _ in range(220):
    os.mkdir("folder-of-twenty-ch", dir_fd=folder)
    inner = os.open("folder-of-twenty-ch", os.O_RDONLY, dir_fd=folder)
    os.close(folder)
    folder = inner
    os.close(os.open("f.txt", os.O_WRONLY | os.O_CREAT, dir_fd=folder))
CHAIN
mkfifo "$LINUX/names/fifo"
python3 -c 'import socket, sys; socket.socket(socket.AF_UNIX).bind(sys.argv[1])' "$LINUX/names/socket"
mknod "$LINUX/names/null" c 1 3 2>/dev/null
head -c 1M /dev/zero | tr '\0' 'd' >"$WORK/device.img"
loop=$(losetup -f --show "$WORK/device.img" 2>/dev/null) &&
  mknod "$LINUX/names/disk" b $((16#$(stat -c %t "$loop"))) $((16#$(stat -c %T "$loop")))
# The block device named on its own too: refused as a device, before a byte is written.
named_disk=()
[ -b "$LINUX/names/disk" ] && named_disk=("$LINUX/names/disk")
morvenit_start "$LINUX/names" "$LINUX/deep" "${named_disk[@]}"
: >"$ARTIFACTS/boxes-linux.txt"
dismiss_message_boxes "$MORVENIT_PID" 120 "$ARTIFACTS/boxes-linux.txt" || fail "the Linux run did not end"
[ -n "$loop" ] && losetup -d "$loop"
cat "$ARTIFACTS/boxes-linux.txt"
check_eq "the name that is not UTF-8 stays, its twin is gone" "bad bytes" "$(cat "$LINUX/names/$bad")"
check "the twin is gone" test ! -e "$LINUX/names/$twin"
check "the special files stay" test -p "$LINUX/names/fifo" -a -S "$LINUX/names/socket"
check_eq "the block device's image was never written" "$(head -c 1M /dev/zero | tr '\0' 'd' | md5sum)" \
  "$(md5sum <"$WORK/device.img")"
deep_left=$(find "$LINUX/deep" -type f | wc -l)
names_left=$(find "$LINUX/names" ! -type d | wc -l)
echo "files left past the path limit: $deep_left of 220; in names: $names_left"
check "files past the path limit are left, the others gone" test "$deep_left" -gt 0 -a "$deep_left" -lt 220
check_eq "each reason explained once, then a summary that counts every file left" \
  "1003 1006 1007 ${named_disk:+1010 }Morvenit $((deep_left + names_left + ${#named_disk[@]}))" \
  "$(cut -d: -f1 "$ARTIFACTS/boxes-linux.txt" | sort | tr '\n' ' ')$(summary_count "$ARTIFACTS/boxes-linux.txt")"

# Relative and unusual paths name exactly the file given, never a neighbour without the trailing
# dot or space that the classic resolution would drop.
REL="$WORK/relative"
mkdir -p "$REL/inner" "$REL/dir" "$REL/dir."
for name in notes notes. up up. fwd fwd. trail "trail "; do printf "$name" >"$REL/$name"; done
printf 'in dir' >"$REL/dir/f.txt"
printf 'in dir.' >"$REL/dir./f.txt"
fwd=$(winpath "$REL" | tr '\\' /)
(cd "$REL/inner" && exec wine "$MORVENIT_EXE" ../notes. ../dir. "..\\up." "$fwd/fwd." "$REL/trail ") \
  >"$ARTIFACTS/relative.txt" 2>&1 &
MORVENIT_PID=$!
BACKGROUND_PIDS+=("$MORVENIT_PID")
if wait_exit "$MORVENIT_PID" 60; then
  check_eq "the relative run ends by itself" 0 "$EXIT_CODE"
else
  fail "the relative run did not end"
  screenshot relative-did-not-end
fi
check_eq "only the names given are gone" "notes up fwd trail" \
  "$(cd "$REL" && for n in notes notes. up up. fwd fwd. trail "trail "; do
    [ -e "$n" ] && printf '%s ' "$n"; done | sed 's/ $//')"
check_eq "\"dir.\" is emptied, \"dir\" is not" "in dir|" \
  "$(cat "$REL/dir/f.txt")|$(cat "$REL/dir./f.txt" 2>/dev/null)"

finish
