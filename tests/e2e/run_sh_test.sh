#!/usr/bin/env bash
# run.sh's paths: each becomes the Windows path of exactly the file Linux names, or is refused by
# name before anything runs for it; a list longer than one command line runs in several runs.
source "$(dirname "$0")/lib.sh"
source "$E2E_ROOT/tools/windows-paths.sh"

# Two victims: the one Linux means by lnk/../victim, and the one a reading as text would take;
# folders a and b beside a" "b; names Windows forbids; 600 long names, two command lines' worth.
mkdir -p "$WORK"/t/{a,b,'a" "b',real/sub,'q"d',many} && cd -P "$WORK/t" && W="Z:${PWD//\//\\}"
bad=('"' '*' '?' '<' '>' '|' ':' $'\n' $'\t' $'\x01' '\' $'\xff')
for f in a/f b/f 'a" "b/f' victim real/victim report.txt 'long file name.txt' 'q"d/x' \
  "${bad[@]/#/f}" many/"a long name to fill a command line "{1000..1599}; do echo "$f" >"$f"; done
ln -s real/sub lnk && ln -s report.txt flink && ln -s nowhere dangling && ln -s 'q"d' qlnk
# Wine's own short name for the long one: Windows would take that file for it.
short=$(winepath -s "$PWD/long file name.txt" | sed 's/.*[\\/]//; s/\r//')

# From the working folder | the path given | the Windows path it becomes, or its refusal's words.
rows=(. lnk/../victim "[$W\\real\\victim]" lnk ../victim "[$W\\real\\victim]" . flink "[$W\\flink]"
  . lnk/ "[$W\\real\\sub]" . /. '[Z:\]' . REPORT.TXT 'no such file' . "$short" 'no such file'
  . 'a" "b' 'holds ", which Windows forbids' . '' 'an empty path names nothing'
  . dangling 'a link to nothing' . qlnk/x 'as Linux resolves it' . /dev/stdin "process's own open"
  . /dev/fd/0 "process's own open" /dev/fd . "process's own open" . /dev/null 'character special')
for c in "${bad[@]}"; do rows+=(. "f$c" 'so it cannot be given to a Windows program'); done
for ((i = 0; i < ${#rows[@]}; i += 3)); do
  said=$(cd "${rows[i]}" && windows_paths "${rows[i + 1]}" 2>&1 && echo "[${WINDOWS_PATHS[*]}]")
  check "${rows[i + 1]@Q}: ${rows[i + 2]} ($said)" grep -qF -- "${rows[i + 2]}" <<<"$said"
done

# The real program over the refused, lnk/../victim and the 600: only what Linux names goes.
snapshot() { find . -print0 | sort -z | xargs -0 md5sum 2>&1; }
before=$(snapshot)
windows_paths 'a" "b' '' REPORT.TXT "$short" lnk/../victim many/* 2>/dev/null
run_windows_paths wine "$MORVENIT_EXE" &
dismiss_message_boxes $! 300 "$WORK/boxes" || kill $!
wait $!
check_eq "every run ends well, with no box; only what was named is gone" "0 $(grep -av \
  -e ' \./many/.' -e 'real/victim$' <<<"$before")" "$? $(cat "$WORK/boxes" 2>/dev/null)$(snapshot)"
# The worst of the runs' exit statuses, whichever run it was: a program that exits with the next
# status of the row each time it runs, over 600 long names (two runs).
WINDOWS_PATHS=("Z:\\a folder of the test\\a long name to fill a command line "{1000..1599})
for row in "0 2=2" "2 0=2" "2 1=1" "3 2=3" "1 3=1"; do
  statuses=(${row%=*})
  next_status() {
    local status=${statuses[0]}
    statuses=("${statuses[@]:1}")
    return "$status"
  }
  run_windows_paths next_status "$WORK/program.exe"
  check_eq "runs ending ${row%=*}: the worst" "${row#*=}" $?
done
# run.sh itself, copied without its installer: past its refusals it would fail, never build.
mkdir "$WORK/r" && (cd "$E2E_ROOT" && cp --parents run.sh tools/windows-paths.sh "$WORK/r")
check_eq "run.sh runs nothing" "exit 2" "$("$WORK/r/run.sh" '' 2>/dev/null; echo "exit $?")"
finish
