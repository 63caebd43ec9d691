#!/usr/bin/env bash
# The product's promise, checked the way an undelete tool would look: files full of unique
# markers on small ext4, NTFS, FAT32 and exFAT disk images are shredded by the real morvenit.exe,
# and then neither a scan of the raw image nor The Sleuth Kit finds any marker, nor more copies of
# the files' names than the bound each file system sets. A build that skips the flush to the
# device must be caught on ext4, or this test would prove nothing.

skip() {
  echo "SKIPPED: $1"
  exit 77
}
[ "$(id -u)" -eq 0 ] || skip "the forensic test mounts disk images and needs root"
[ -e /dev/loop-control ] && losetup -f >/dev/null 2>&1 || skip "no free loop device"
[ -e /dev/fuse ] || skip "no /dev/fuse for ntfs-3g, fusefat and exfat-fuse"
for tool in mkfs.ext4 mkfs.ntfs ntfs-3g mkfs.vfat fusefat mkfs.exfat mount.exfat-fuse fls icat strace; do
  command -v "$tool" >/dev/null || skip "$tool is not installed (tools/install-deps.sh installs it)"
done
# Names outside ASCII reach Wine's command line only from a UTF-8 locale.
export LC_ALL=C.UTF-8

source "$(dirname "$0")/lib.sh"
WITHOUT_FLUSH_EXE=${MORVENIT_WITHOUT_FLUSH_EXE:-$(dirname "$MORVENIT_EXE")/morvenit_without_flush.exe}
AS_WINDOWS_EXE=${MORVENIT_AS_WINDOWS_EXE:-$(dirname "$MORVENIT_EXE")/morvenit_as_windows.exe}
TOKEN=MVF$(od -An -N6 -tx1 /dev/urandom | tr -d ' \n')
MOUNTS=()
declare -A LOOPS  # the image under each mount that a loop device carries

forensic_cleanup() {
  local m
  for m in "${MOUNTS[@]}"; do umount "$m" 2>/dev/null || umount -l "$m" 2>/dev/null; done
  chattr -i "$WORK"/*.img 2>/dev/null
  for m in "${LOOPS[@]}"; do detach "$m"; done
  e2e_cleanup
}
trap forensic_cleanup EXIT

# Frees the loop devices over IMAGE, waiting until the FUSE daemon has let go of them: only then
# has every write reached the image.
detach() {
  local i
  for i in $(seq 50); do
    losetup -j "$1" | grep -q . || return 0
    losetup -d $(losetup -j "$1" | cut -d: -f1) 2>/dev/null
    sleep 0.2
  done
}

# Unmounts DIR, waiting out a file system still busy with the program that just ended.
unmount() {
  local i
  for i in $(seq 50); do
    umount "$1" 2>/dev/null && detach "${LOOPS[$1]:-/nowhere}" && unset "LOOPS[$1]" && return 0
    sleep 0.2
  done
  echo "could not unmount $1" >&2
  return 1
}

# mount_image KIND IMAGE DIR
mount_image() {
  mkdir -p "$3"
  case $1 in
    ext4) mount -o loop "$2" "$3" ;;
    ntfs) ntfs-3g "$2" "$3" ;;
    # Through FUSE (this kernel has no vfat) on a loop device, as a USB stick would be.
    fat) LOOPS[$3]=$2 && fusefat -o rw+ "$(losetup -f --show "$2")" "$3" 2>/dev/null ;;
    exfat) LOOPS[$3]=$2 && mount.exfat-fuse "$(losetup -f --show "$2")" "$3" >/dev/null 2>&1 ;;
  esac || return 1
  MOUNTS+=("$3")
}

# make_image KIND IMAGE [SIZE]: a fresh file system of SIZE (32 MiB) in a plain file.
make_image() {
  rm -f "$2"
  truncate -s "${3:-32M}" "$2"
  case $1 in
    ext4) mkfs.ext4 -q -F "$2" ;;
    ntfs) mkfs.ntfs -q -F -f "$2" >/dev/null 2>&1 ;;
    # FAT32 with 4 KiB clusters, as Windows formats a stick; it needs 65,525 clusters at least.
    fat) truncate -s 260M "$2" && mkfs.vfat -F 32 -s 8 "$2" >/dev/null ;;
    exfat) mkfs.exfat "$2" >/dev/null ;;
  esac
}

# fill FILE SIZE MARKER: SIZE bytes of the marker repeated, so every fragment of the file that
# survives anywhere still carries the token.
fill() {
  yes "$3|" 2>/dev/null | tr -d '\n' | head -c "$2" >"$1"
}

# The files each image gets: sizes from nothing to a few MiB, whole and partial 4 KiB pages and
# 68-byte patterns, small ones that NTFS keeps inside its file record (t2.txt outgrows it when
# rounded up to whole patterns), names with spaces and characters outside ASCII, read-only ones
# (FAT through FUSE keeps no Linux permissions); a dot-named one and one pattern long, give or take
# a byte: those FAT once kept whole, as every file smaller than a cluster.
NAMES=("empty.txt" "tiny.txt" "t1.txt" "t2.txt" "one line.txt" "résumé ñandú.txt" "Ωμέγα 日本.bin"
  "page.bin" "page plus one.bin" "odd.dat" "medium.doc" "megabyte.img" "three MiB.iso" ".dotted"
  "p67.txt" "p68.txt" "p69.txt")
SIZES=(0 40 600 630 680 700 1000 4096 4097 65541 200003 1048593 3145728 2000 67 68 69)
READ_ONLY=("one line.txt" "Ωμέγα 日本.bin" "megabyte.img")

# made LABEL NAME: whether LABEL's image gets the file NAME. fusefat refuses every name outside
# ASCII (it takes a byte over 0x7f for a control character).
made() { [[ $1 != fat* || $2 != *[^[:ascii:]]* ]]; }

# populate DIR LABEL: writes the files.
populate() {
  local i name
  for i in "${!NAMES[@]}"; do
    name=${NAMES[$i]}
    made "$2" "$name" || continue
    fill "$1/$name" "${SIZES[$i]}" "$TOKEN-$2-$i"
  done
  for name in "${READ_ONLY[@]}"; do chmod a-w "$1/$name" 2>/dev/null; done
}

# name_copies IMAGE KIND: how many copies of the files' names the raw image holds, as NTFS and
# exFAT store them (UTF-16LE) or as ext4 does (UTF-8). FAT cuts a long name into pieces of 13
# characters and fewer: no whole name of ours is there to count.
name_copies() {
  local encoding=utf-8
  [ "$2" = ext4 ] || encoding=utf-16-le
  python3 - "$1" "$encoding" "${NAMES[@]}" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
print(sum(data.count(name.encode(sys.argv[2])) for name in sys.argv[3:]))
PY
}

# listed_names IMAGE: the deleted entries The Sleuth Kit lists under one of the files' names.
listed_names() { fls -r -d "$1" 2>/dev/null | grep -F -f <(printf '%s\n' "${NAMES[@]}"); }

# The most UTF-16 copies of the names NTFS may keep after a run, by layout: measured with every
# file of a folder renamed to a name of the same length, then every one to the shortest free name,
# then all deleted (renamed and deleted one file at a time they leave 10 and 44). The folder
# layout's 9 are 3 names in each folder's own record, left there when the files were created.
declare -A NTFS_NAME_BOUND=([files]=0 [folder]=9)

# markers_in IMAGE: how many times the run's token occurs anywhere in the raw image.
markers_in() { grep -a -o "$TOKEN" "$1" | wc -l; }

# deleted_entries IMAGE: the addresses of every deleted entry The Sleuth Kit lists.
deleted_entries() {
  fls -r -d "$1" 2>/dev/null | sed -n 's/^[^*]*\* \([0-9][0-9-]*\)[^:]*:.*/\1/p'
}

# recovered_markers IMAGE: markers that icat brings back from deleted entries.
recovered_markers() {
  local n=0 address
  for address in $(deleted_entries "$1"); do
    n=$((n + $(icat "$1" "$address" 2>/dev/null | grep -a -o "$TOKEN" | wc -l)))
  done
  echo "$n"
}

# shred_image KIND EXE LABEL [folder]: a fresh image with the files, at its top or spread over the
# nested subfolders of one folder; a twin of the image as it was before the run (LABEL-twin.img);
# a cold cache; one run of EXE on every file, or on that folder alone; then unmounted, so that only
# the image remains to be examined.
shred_image() {
  local kind=$1 exe=$2 label=$3 layout=${4:-files} image="$WORK/$3.img" dir="$WORK/$3"
  local paths=() name sub folders=
  make_image "$kind" "$image" || { fail "$label: could not make the image"; return 1; }
  mount_image "$kind" "$image" "$dir" || { fail "$label: could not mount the image"; return 1; }
  if [ "$layout" = folder ]; then
    for sub in dropped dropped/one dropped/one/two/three; do
      mkdir -p "$dir/$sub"
      populate "$dir/$sub" "$label"
    done
    folders=$(cd "$dir" && find dropped -type d | sort)
    paths=("$dir/dropped")
  else
    populate "$dir" "$label"
    for name in "${NAMES[@]}"; do made "$label" "$name" && paths+=("$dir/$name"); done
  fi
  sync
  unmount "$dir" || return 1
  # Before the run the markers and the names are there to be found.
  check "$label: markers are on the image before the run" test "$(markers_in "$image")" -gt 0
  [ "$kind" = fat ] || check "$label: names are on the image before the run" \
    test "$(name_copies "$image" "$kind")" -gt 0
  # Its twin has the files removed by a plain delete: the names that leaves are the yardstick.
  cp --sparse=always "$image" "$WORK/$label-twin.img"
  mount_image "$kind" "$image" "$dir" || return 1

  MORVENIT_EXE=$exe morvenit_start "${paths[@]}"
  # No box is expected; one that comes all the same is clicked away, and shown here.
  : >"$ARTIFACTS/boxes-$label.txt"
  dismiss_message_boxes "$MORVENIT_PID" 90 "$ARTIFACTS/boxes-$label.txt" || screenshot "$label-did-not-end"
  cat "$ARTIFACTS/boxes-$label.txt"
  if wait_exit "$MORVENIT_PID" 1; then
    check_eq "$label: exit code, and no box" "0" "$EXIT_CODE$(cut -d: -f1 "$ARTIFACTS/boxes-$label.txt")"
  else
    fail "$label: the run did not end"
  fi
  if [ "$layout" = folder ]; then
    check_eq "$label: every file is gone" "" "$(find "$dir/dropped" -type f)"
    check_eq "$label: every folder stays" "$folders" "$(cd "$dir" && find dropped -type d | sort)"
  else
    check_eq "$label: every file is gone" "" "$(ls -A "$dir" | grep -vx 'lost+found')"
  fi
  unmount "$dir"
}

# plain_delete_twin KIND LABEL LAYOUT: removes the twin's files with rm; PLAIN_COPIES is how many
# copies of the names that leaves.
plain_delete_twin() {
  local twin="$WORK/$2-twin.img" dir="$WORK/$2-twin" name
  mount_image "$1" "$twin" "$dir" || return 1
  if [ "$3" = folder ]; then
    find "$dir/dropped" -type f -delete
  else
    for name in "${NAMES[@]}"; do rm -f "$dir/$name"; done
  fi
  unmount "$dir" || return 1
  PLAIN_COPIES=$(name_copies "$twin" "$1")
}

# check_names KIND LABEL LAYOUT [scrubbed]: what of the shredded files' names is left to find. Where
# the names were scrubbed (Windows' way, renames through the folder) on NTFS no undelete listing may
# show them and the raw image may keep no more than the bound; on ext4 each journal commit while a
# folder still holds names copies them again, and under Wine no file is renamed, so a run may keep
# no more than a plain delete of the same files does.
check_names() {
  local image="$WORK/$2.img" plain copies listed
  plain_delete_twin "$1" "$2" "$3" || { fail "$2: the plain delete of the twin failed"; return; }
  plain=$PLAIN_COPIES
  copies=$(name_copies "$image" "$1")
  echo "$2: $copies copies of the names on the raw image; a plain delete leaves $plain"
  if [ "$1" = ntfs ] && [ "${4:-}" = scrubbed ]; then
    listed=$(listed_names "$image")
    [ -n "$listed" ] && head -n 3 <<<"$listed"
    check_eq "$2: The Sleuth Kit lists none of the names" 0 "$(grep -c . <<<"$listed")"
    check "$2: at most ${NTFS_NAME_BOUND[$3]} copies of the names (UTF-16), found $copies" \
      test "$copies" -le "${NTFS_NAME_BOUND[$3]}"
    # Or the bound would let a program that leaves the names as they were pass.
    check "$2: a plain delete leaves more copies than the bound" \
      test "$plain" -gt "${NTFS_NAME_BOUND[$3]}"
  else
    check "$2: no more copies of the names than a plain delete ($plain), found $copies" \
      test "$copies" -le "$plain"
  fi
}

# The real program on ext4 (a missing flush shows here), on NTFS through ntfs-3g and on FAT32 and
# exFAT through FUSE, on files named one by one and on one dropped folder of nested subfolders;
# then, on NTFS, the build that takes Wine for Windows, which scrubs the names as the program does
# on Windows.
for run in ext4:files ext4:folder ntfs:files ntfs:folder fat:files fat:folder exfat:files \
  exfat:folder ntfs:files:scrubbed ntfs:folder:scrubbed; do
  IFS=: read -r kind layout scrubbed <<<"$run"
  exe=$MORVENIT_EXE label=$kind
  [ -n "$scrubbed" ] && exe=$AS_WINDOWS_EXE label=$kind-as-windows
  [ "$layout" = folder ] && label=$label-folder
  shred_image "$kind" "$exe" "$label" "$layout" || continue
  image="$WORK/$label.img"
  check_eq "$label: no marker left on the raw image" 0 "$(markers_in "$image")"
  entries=$(deleted_entries "$image" | wc -l)
  echo "$label: The Sleuth Kit lists $entries deleted entries"
  check_eq "$label: no marker recovered from any deleted entry" 0 "$(recovered_markers "$image")"
  [ "$kind" = fat ] || check_names "$kind" "$label" "$layout" "$scrubbed"
done
# NTFS keeps its deleted entries whole, so the recovery above really looked at the shredded files.
check "ntfs: The Sleuth Kit sees the shredded files as deleted entries" \
  test "$(deleted_entries "$WORK/ntfs.img" | wc -l)" -ge "${#NAMES[@]}"

# The same run by a build without the flush must leave markers on ext4 for this test to catch.
if [ -f "$WITHOUT_FLUSH_EXE" ]; then
  if shred_image ext4 "$WITHOUT_FLUSH_EXE" ext4-without-flush; then
    left=$(markers_in "$WORK/ext4-without-flush.img")
    echo "ext4 without the flush: $left markers left on the raw image"
    check "without the flush: the markers left on ext4 are caught" test "$left" -gt 0
  fi
else
  fail "the build without the flush is missing: $WITHOUT_FLUSH_EXE"
fi

# A Linux program (which takes no part in Windows' share modes) adds to a 20 MB file while it is
# shredded, at a step the test sets: as soon as the pattern shows at the file's start, it adds 16
# records of 1 KB and its own flush, and stops, long before the program's flush of 20 MB ends and
# it looks at the length again. The program covers what was added and deletes the file: none of
# the records, nor the old contents, is anywhere on the raw image. (A file that is longer at every
# look is left and reported: tests/unit/in_flight_test.cc.)
cat >"$WORK/append.py" <<'PY'
import os, sys, time
path, token, log = sys.argv[1:4]
fd = os.open(path, os.O_RDWR | os.O_APPEND)
deadline = time.monotonic() + 60
while os.pread(fd, 16, 0) != b"." * 16 and time.monotonic() < deadline:
    time.sleep(0.001)
with open(log, "w") as named:
    for n in range(16):
        marker = f"{token}-rec-{n:06d}|".encode()
        os.write(fd, (marker * (1024 // len(marker) + 1))[:1024])
        # Only a record its name still led to afterwards is counted.
        if os.fstat(fd).st_nlink == 0:
            break
        named.write(f"{n:06d}\n")
    os.fsync(fd)
os.close(fd)
PY
label=ext4-growing image="$WORK/ext4-growing.img" dir="$WORK/ext4-growing"
file="$dir/growing.log" named="$WORK/growing-named.txt" boxes="$ARTIFACTS/boxes-ext4-growing.txt"
token=MVG$(od -An -N6 -tx1 /dev/urandom | tr -d ' \n')
if make_image ext4 "$image" 64M && mount_image ext4 "$image" "$dir"; then
  fill "$file" 20000000 "$token-base"
  sync
  : >"$boxes"
  python3 "$WORK/append.py" "$file" "$token" "$named" &
  writer=$!
  morvenit_start "$file"
  dismiss_message_boxes "$MORVENIT_PID" 90 "$boxes" || fail "$label: the run did not end"
  wait "$writer"
  check_eq "$label: the writer added every record while the file had its name" 16 \
    "$(wc -l <"$named")"
  check "$label: the file is gone" test ! -e "$file"
  check_eq "$label: nothing was reported" "" "$(cat "$boxes")"
  unmount "$dir"
  check_eq "$label: none of the records survives" 0 "$(grep -a -c "$token-rec" "$image")"
  check_eq "$label: none of its old contents survives" 0 "$(grep -a -c "$token-base" "$image")"
else
  fail "$label: could not make the image"
fi

# A Linux program writes 16 KB of records into the middle of a file after its overwrite, and
# flushes them, at the step the test sets: the program is stopped (by strace) as its flush of the
# file returns, and goes on once every thread of it has stopped and the writer is done. The file's
# times moved, so it is overwritten again, whole, and deleted: no record is on the raw image.
label=ext4-written image="$WORK/ext4-written.img" dir="$WORK/ext4-written" file="$dir/w.db" \
  boxes="$ARTIFACTS/boxes-ext4-written.txt" token=MVW$(od -An -N6 -tx1 /dev/urandom | tr -d ' \n')
make_image ext4 "$image" && mount_image ext4 "$image" "$dir" && fill "$file" 1000000 "$token-base" &&
  sync && : >"$boxes" || fail "$label: could not make the image"
strace -f -qq --seccomp-bpf -o "$WORK/strace.txt" -P "$file" -e trace=fsync \
  -e inject=fsync:signal=STOP:when=1 wine "$MORVENIT_EXE" "$(winpath "$file")" >/dev/null 2>&1 &
MORVENIT_PID=$! && BACKGROUND_PIDS+=("$MORVENIT_PID")
for _ in $(seq 300); do
  stopped=$(sed -n '/stopped by SIGSTOP/{s/^\([0-9]*\).*/\1/p;q}' "$WORK/strace.txt" 2>/dev/null)
  [ -n "$stopped" ] && ! grep -qv '^t' <(cut -d' ' -f3 /proc/"$stopped"/task/*/stat) && break
  sleep 0.1
done
fill /dev/stdout 16384 "$token-rec" | dd of="$file" bs=1024 seek=400 conv=notrunc,fsync status=none
kill -CONT "$stopped"
dismiss_message_boxes "$MORVENIT_PID" 60 "$boxes" || fail "$label: the run did not end"
check "$label: stopped as its flush returned; the file is gone, unreported" \
  test -n "$stopped" -a ! -e "$file" -a ! -s "$boxes"
unmount "$dir"
check_eq "$label: none of the records survives" 0 "$(grep -a -c "$token-rec" "$image")"

# failing_run LABEL [cancel]: 1,500 files on a device that fails once the first are gone (its image
# made immutable while mounted fails every later write, as a stick pulled out does). Each failure
# number is explained in one box at most, and the run is over within a minute; or, Cancel clicked
# after the first box, the run ends within 2 s, with no box after it (nobody clicks one).
failing_run() {
  local label=$1 image="$WORK/$1.img" dir="$WORK/$1" boxes="$ARTIFACTS/boxes-$1.txt"
  make_image ext4 "$image" 64M && mount_image ext4 "$image" "$dir" && mkdir "$dir/files" ||
    { fail "$label: could not make the image"; return; }
  head -c $((1500 * 8192)) /dev/urandom | split -b 8192 -a 4 -d - "$dir/files/f" && sync
  morvenit_start "$dir/files"
  for _ in $(seq 1000); do [ -e "$dir/files/f0000" ] && sleep 0.01 || break; done
  chattr +i "$image"
  : >"$boxes"
  if [ -n "${2:-}" ]; then
    wait_for_class '#32770' 60 && click_child "$(field "$(inspect --class '#32770')" title)" OK
    click_rect "$(field "$(inspect --class MorvenitProgress | grep ' id=102 ')" rect)"
    check "$label: Cancel after the first box ends the run within 2 s" wait_exit "$MORVENIT_PID" 2
  else
    SUMMARY=
    dismiss_message_boxes "$MORVENIT_PID" 60 "$boxes" || fail "$label: the run took over a minute"
    check_eq "$label: the device failed part way; at most one box per failure number" failed \
      "$([ -s "$boxes" ] && [ -e "$dir/files/f1499" ] && echo failed)$(cut -d: -f1 "$boxes" |
        sort | uniq -d)"
    # Linux turns the drive read-only as its device fails, and Wine calls each refusal after that
    # "access refused": the files are left for what happened to the device.
    check_eq "$label: every file left is reported as the device's failure, none as in use" \
      "Not ready" "$(summary_child 100 text | grep -o -e 'Not ready' -e 'in use' | sort -u)"
  fi
  chattr -i "$image"
  unmount "$dir"
}
failing_run ext4-failing
failing_run ext4-failing-cancelled cancel

finish
