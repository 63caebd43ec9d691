#!/usr/bin/env bash
# The product's promise, checked the way an undelete tool would look: files full of unique
# markers on small ext4 and NTFS disk images are shredded by the real morvenit.exe, and then
# neither a scan of the raw image nor The Sleuth Kit finds any marker. A build that skips the
# flush to the device must be caught on ext4, or this test would prove nothing.

skip() {
  echo "SKIPPED: $1"
  exit 77
}
[ "$(id -u)" -eq 0 ] || skip "the forensic test mounts disk images and needs root"
[ -e /dev/loop-control ] && losetup -f >/dev/null 2>&1 || skip "no free loop device"
[ -e /dev/fuse ] || skip "no /dev/fuse for ntfs-3g"
for tool in mkfs.ext4 mkfs.ntfs ntfs-3g fls icat; do
  command -v "$tool" >/dev/null || skip "$tool is not installed (e2fsprogs, ntfs-3g, sleuthkit)"
done
# Names outside ASCII reach Wine's command line only from a UTF-8 locale.
export LC_ALL=C.UTF-8

source "$(dirname "$0")/lib.sh"
WITHOUT_FLUSH_EXE=${MORVENIT_WITHOUT_FLUSH_EXE:-$(dirname "$MORVENIT_EXE")/morvenit_without_flush.exe}
TOKEN=MVF$(od -An -N6 -tx1 /dev/urandom | tr -d ' \n')
MOUNTS=()

forensic_cleanup() {
  local m
  for m in "${MOUNTS[@]}"; do umount "$m" 2>/dev/null || umount -l "$m" 2>/dev/null; done
  e2e_cleanup
}
trap forensic_cleanup EXIT

# Unmounts DIR, waiting out a file system still busy with the program that just ended.
unmount() {
  local i
  for i in $(seq 50); do
    umount "$1" 2>/dev/null && return 0
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
  esac || return 1
  MOUNTS+=("$3")
}

# make_image KIND IMAGE: a fresh 32 MiB file system in a plain file.
make_image() {
  rm -f "$2"
  truncate -s 32M "$2"
  case $1 in
    ext4) mkfs.ext4 -q -F "$2" ;;
    ntfs) mkfs.ntfs -q -F -f "$2" >/dev/null 2>&1 ;;
  esac
}

# fill FILE SIZE MARKER: SIZE bytes of the marker repeated, so every fragment of the file that
# survives anywhere still carries the token.
fill() {
  yes "$3|" 2>/dev/null | tr -d '\n' | head -c "$2" >"$1"
}

# The files each image gets: sizes from nothing to a few MiB, whole and partial 4 KiB pages and
# 68-byte patterns, small ones that NTFS keeps inside its file record (t2.txt outgrows it when
# rounded up to whole patterns), names with spaces and characters outside ASCII, read-only ones.
NAMES=("empty.txt" "tiny.txt" "t1.txt" "t2.txt" "one line.txt" "résumé ñandú.txt" "Ωμέγα 日本.bin"
  "page.bin" "page plus one.bin" "odd.dat" "medium.doc" "megabyte.img" "three MiB.iso")
SIZES=(0 40 600 630 680 700 1000 4096 4097 65541 200003 1048593 3145728)
READ_ONLY=("one line.txt" "Ωμέγα 日本.bin" "megabyte.img")

# populate DIR KIND: writes the files; prints their paths, one a line.
populate() {
  local i name
  for i in "${!NAMES[@]}"; do
    name=${NAMES[$i]}
    fill "$1/$name" "${SIZES[$i]}" "$TOKEN-$2-$i"
  done
  for name in "${READ_ONLY[@]}"; do chmod a-w "$1/$name"; done
}

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
# nested subfolders of one folder; a cold cache; one run of EXE on every file, or on that folder
# alone; then unmounted, so that only the image remains to be examined.
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
    for name in "${NAMES[@]}"; do paths+=("$dir/$name"); done
  fi
  sync
  unmount "$dir" || return 1
  # Before the run the markers are there to be found.
  check "$label: markers are on the image before the run" test "$(markers_in "$image")" -gt 0
  mount_image "$kind" "$image" "$dir" || return 1

  MORVENIT_EXE=$exe morvenit_start "${paths[@]}"
  if wait_exit "$MORVENIT_PID" 90; then
    check_eq "$label: exit code" 0 "$EXIT_CODE"
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

# The real program on ext4 (a missing flush shows here) and on NTFS through ntfs-3g, on files
# named one by one and on one dropped folder of nested subfolders.
for kind in ext4 ntfs; do
  for layout in files folder; do
    label=$kind
    [ "$layout" = folder ] && label=$kind-folder
    shred_image "$kind" "$MORVENIT_EXE" "$label" "$layout" || continue
    image="$WORK/$label.img"
    check_eq "$label: no marker left on the raw image" 0 "$(markers_in "$image")"
    entries=$(deleted_entries "$image" | wc -l)
    echo "$label: The Sleuth Kit lists $entries deleted entries"
    check_eq "$label: no marker recovered from any deleted entry" 0 "$(recovered_markers "$image")"
  done
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

finish
