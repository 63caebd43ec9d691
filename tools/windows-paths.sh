# Sourced by run.sh and its test: Linux paths turned into the Windows paths that name exactly the
# same files, and runs of a Windows program over them that each fit its command line.
#
#   windows_paths PATH...     WINDOWS_PATHS: the Windows form of each path that can be given
#                             exactly, in order; each other one is named on stderr with the reason,
#                             and counted in REFUSED
#   run_windows_paths CMD...  runs CMD (its last word the program's absolute path) over
#                             WINDOWS_PATHS, in as many runs as its command line needs, or once
#                             over none when there is none; returns the worst run's status
#   worse_status A B          the worse of two of the program's exit statuses (0 every file named
#                             gone, 2 files left and reported, 3 cancelled, 1 a failure; any other
#                             status, Wine's own, worse still)
#
# Wine reads names as UTF-8, and a prefix maps "/" to the drive Z:. It quotes each argument that
# holds a space, as the shell would, but writes a double quote as \", which a command line split
# as Windows splits a drop (no escapes) takes for two arguments.

export LC_ALL=C.UTF-8

# Past 32,767 characters of command line, its closing NUL included, Wine starts nothing and says
# nothing (exit status 1). The margin leaves room for the program's own path as Wine writes it.
WINDOWS_COMMAND_LINE=$((32767 - 1 - 512))

# Why PATH cannot be given to a Windows program exactly; nothing when it can.
unwindowsable() {
  local path=$1 bad
  # Wine would read each bad byte as U+FFFD, and name another file, or none.
  if ! printf '%s' "$path" | iconv -f UTF-8 -t UTF-8 >/dev/null 2>&1; then
    echo "it is not valid UTF-8"
    return
  fi
  # The first character that Windows will not take in a name: a program would open another
  # file, or none. A backslash ends a folder's name there; a double quote ends an argument.
  bad=${path//[^\\\"*?<>|:$'\x01'-$'\x1f']/}
  case ${bad:0:1} in
    '') ;;
    \\) echo "it holds a backslash, which Windows reads as a folder's end" ;;
    [[:cntrl:]])
      printf 'it holds %q, a control character, which Windows forbids in names' "${bad:0:1}"
      ;;
    *) echo "it holds ${bad:0:1}, which Windows forbids in names" ;;
  esac
}

# Whether PATH leads into a process's own open files (/dev/stdin, /dev/fd/N, /proc/PID/fd/N):
# there the program started would find its own descriptors, another file or none.
process_file() {
  local path=$1 target hops=0
  [[ $path == /* ]] || path=$PWD/$path
  while :; do
    case $path in /proc/*/fd | /proc/*/fd/* | /dev/fd | /dev/fd/* | /dev/std*) return 0 ;; esac
    [ -L "$path" ] && [ $((hops += 1)) -le 40 ] || return 1
    target=$(readlink -- "$path")
    [[ $target == /* ]] || target=${path%/*}/$target
    path=$target
  done
}

# PATH resolved as Linux resolves it, from the working folder as it is (not as it was reached):
# each link on the way followed where it stands, so `lnk/..` is the folder above the link's
# target. The last name stays as given: a link the user named is the program's to follow, as a
# dropped one is. Ending in `/`, `.` or `..`, PATH names a folder, resolved whole. Fails (and
# prints nothing) when no such file exists there.
physical_path() {
  local path=$1 folder name=
  [[ $path == /* ]] || path=./$path
  folder=$path
  if [[ $path != */ && ! $path =~ (^|/)\.\.?$ ]]; then
    folder=${path%/*}/ name=${path##*/}
  fi
  # The kernel walks the folders; a name ending in a newline survives the command substitution.
  folder=$(cd -P -- "$folder" 2>/dev/null && pwd -P && echo .) || return 1
  folder=${folder%$'\n.'}
  path=${folder%/}/$name
  [ -n "$name" ] || path=$folder
  [ -e "$path" ] && printf '%s' "$path"
}

windows_paths() {
  WINDOWS_PATHS=()
  REFUSED=0
  local path full why
  for path in "$@"; do
    full=
    if [ -z "$path" ]; then
      # Windows would take an empty item for the program's working folder.
      why="an empty path names nothing"
    elif why=$(unwindowsable "$path"); [ -n "$why" ]; then
      why="$why, so it cannot be given to a Windows program exactly. Rename it first"
    elif process_file "$path"; then
      why="it is one of a process's own open files (/dev/stdin, /dev/fd/N, /proc/PID/fd/N), which"
      why="$why the program started would take for its own, another file or none. Name the file"
      why="$why itself"
    elif ! full=$(physical_path "$path"); then
      # Windows would take another file for it: `REPORT.TXT` for report.txt, a short name.
      why="no such file or folder (Linux tells capitals apart, and knows no short names)"
      [ -L "$path" ] && why="it is a link to nothing"
    elif why=$(unwindowsable "$full"); [ -n "$why" ]; then
      why="as Linux resolves it, it is $(printf %q "$full"), and $why. Rename it first"
    elif [ ! -f "$full" ] && [ ! -d "$full" ]; then
      why="it is a $(stat -L -c %F -- "$full"), not a file that holds data"
    else
      WINDOWS_PATHS+=("Z:${full//\//\\}")
      continue
    fi
    printf 'run.sh: %q is left alone: %s.\n' "$path" "$why" >&2
    REFUSED=$((REFUSED + 1))
  done
}

# WINDOWS_LENGTHS: what each of WINDOWS_PATHS adds to a command line, counted in bytes of UTF-8,
# never fewer than Windows' UTF-16 units: a space before it, and quotes around it if it holds one.
windows_lengths() {
  local LC_ALL=C path quotes
  WINDOWS_LENGTHS=()
  for path in "${WINDOWS_PATHS[@]}"; do
    quotes=0
    [[ $path == *' '* ]] && quotes=2
    WINDOWS_LENGTHS+=($((${#path} + 1 + quotes)))
  done
}

worse_status() {
  local rank=(0 3 1 2) a=$1 b=$2
  [ "$a" -le 3 ] && a=${rank[a]} || a=$((a + 4))
  [ "$b" -le 3 ] && b=${rank[b]} || b=$((b + 4))
  if [ "$a" -ge "$b" ]; then echo "$1"; else echo "$2"; fi
}

run_windows_paths() {
  local exe=${!#} status=0 code first=0 used i
  windows_lengths
  while :; do
    # As many paths as fit, and one at least: a path too long for a command line alone is longer
    # than Linux's own limit, and was refused as not found.
    used=$((${#exe} + 4))
    for ((i = first; i < ${#WINDOWS_PATHS[@]}; i++)); do
      [ "$i" -gt "$first" ] && [ $((used + WINDOWS_LENGTHS[i])) -gt $WINDOWS_COMMAND_LINE ] && break
      used=$((used + WINDOWS_LENGTHS[i]))
    done
    code=0
    "$@" "${WINDOWS_PATHS[@]:first:i-first}" || code=$?
    status=$(worse_status "$status" "$code")
    first=$i
    [ "$first" -lt ${#WINDOWS_PATHS[@]} ] || return "$status"
  done
}
