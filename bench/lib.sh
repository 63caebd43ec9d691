# Sourced by the benchmarks: timing and medians.

# seconds_since START: seconds from START (a `date +%s.%N` reading) to now, to the millisecond.
seconds_since() { awk -v a="$1" -v b="$(date +%s.%N)" 'BEGIN { printf "%.3f", b - a }'; }

# median "T1 T2 ...": the median of a list of numbers.
median() { tr ' ' '\n' <<<"$1" | grep . | sort -g | awk '{ v[NR] = $1 } END {
  print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# bench_start NAME: checks the built program ($exe), makes the scratch folder $work (under
# BENCH_DIR, default /tmp), and starts a private display and a Wine server that serves every run,
# so that no run pays for starting one. Everything is stopped and removed on exit.
bench_start() {
  local root
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  exe=${MORVENIT_EXE:-$root/build/windows/morvenit.exe}
  [ -f "$exe" ] || { echo "no $exe: build the windows preset first" >&2; exit 1; }
  source "$root/tools/wine-session.sh"
  work=$(mktemp -d "${BENCH_DIR:-/tmp}/morvenit-$1.XXXXXX")
  trap 'rm -rf "$work"; wine_session_stop' EXIT
  xvfb_start
  wine_prefix_ready "${BENCH_PREFIX:-$root/build/wine-prefix}"
  wineserver -p
}
