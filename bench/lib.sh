# Sourced by the benchmarks: timing, medians, a private Wine session and a scratch ext4 image.

# seconds_since START: seconds from START (a `date +%s.%N` reading) to now, to the millisecond.
seconds_since() { awk -v a="$1" -v b="$(date +%s.%N)" 'BEGIN { printf "%.3f", b - a }'; }

# median "T1 T2 ...": the median of a list of numbers.
median() { tr ' ' '\n' <<<"$1" | grep . | sort -g | awk '{ v[NR] = $1 } END {
  print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# largest "T1 T2 ...": the largest of a list of numbers.
largest() { tr ' ' '\n' <<<"$1" | grep . | sort -g | tail -n 1; }

# bench_start NAME: checks the built program ($exe) and the window probe ($wintool), makes the
# scratch folder $work (under BENCH_DIR, default /var/tmp), and starts a private display and a
# Wine server that serves every run, so that no run pays for starting one. Everything is stopped
# and removed on exit.
bench_start() {
  local root
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  exe=${MORVENIT_EXE:-$root/build/windows/morvenit.exe}
  wintool=${WINTOOL:-$(dirname "$exe")/wintool.exe}
  [ -f "$exe" ] && [ -f "$wintool" ] || {
    echo "no $exe or $wintool: build the windows preset first" >&2
    exit 1
  }
  source "$root/tools/wine-session.sh"
  work=$(mktemp -d "${BENCH_DIR:-/var/tmp}/morvenit-$1.XXXXXX")
  trap bench_stop EXIT
  xvfb_start
  wine_prefix_ready "${BENCH_PREFIX:-$root/build/wine-prefix}"
  wineserver -p
}

bench_stop() {
  wine_session_stop
  if [ -n "${disk:-}" ] && mountpoint -q "$disk"; then umount "$disk"; fi
  rm -rf "$work"
}

# bench_ext4 MIB: a fresh ext4 file system of MIB MiB in an image under $work, loop-mounted on
# $disk, so that the figures do not depend on the file system the machine happens to have.
bench_ext4() {
  [ "$(id -u)" -eq 0 ] || {
    echo "mounting an ext4 image needs root" >&2
    exit 1
  }
  truncate -s "${1}M" "$work/ext4.img"
  mkfs.ext4 -q -F -i 4096 "$work/ext4.img"  # an inode for every 4 KiB: room for many small files
  disk=$work/ext4
  mkdir "$disk"
  mount -o loop "$work/ext4.img" "$disk"
}
