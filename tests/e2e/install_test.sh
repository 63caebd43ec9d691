#!/usr/bin/env bash
# The installer end to end, in a Wine prefix of the test's own whose desktop and other user
# folders are real folders: a silent install and what it leaves (the program, three shortcuts,
# the uninstall entry, the right-click verb, version resources and icons), the verb invoked as the
# shell does, a file sent through the Send To entry, the Start-menu entry, upgrades in place, and
# silent uninstalls that remove everything of ours and nothing of the user's.
source "$(dirname "$0")/lib.sh"
: "${MORVENIT_SETUP:?MORVENIT_SETUP must name the built morvenit-setup.exe}"
if [ ! -f "$MORVENIT_SETUP" ]; then
  fail "no installer at $MORVENIT_SETUP (cmake --build --preset windows --target installer)"
  finish
fi

# A new prefix takes a while to make, so it is kept between runs; the test clears out whatever
# an earlier, interrupted run left in it before it starts.
SESSION_PREFIX=$WINEPREFIX
# Wine's menu builder would copy the shortcuts into the real home folder's menus and icons.
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winemenubuilder.exe=d"
wine_prefix_ready "$E2E_ROOT/build/wine-prefix-install"
stop_own_prefix() {
  wineserver -k >/dev/null 2>&1
  export WINEPREFIX=$SESSION_PREFIX
  e2e_cleanup
}
trap stop_own_prefix EXIT

USERPROFILE_W=$(wine cmd /c 'echo %USERPROFILE%' 2>/dev/null | tr -d '\r')
PROFILE=$(winepath -u "$USERPROFILE_W" 2>/dev/null)
PROFILE=${PROFILE%/}
if [ -z "$USERPROFILE_W" ] || [ ! -d "$PROFILE" ]; then
  fail "cannot find the prefix's user folder"
  finish
fi
# The installer must never write into the real home folder these links point at.
for d in Desktop Documents Downloads Music Pictures Videos; do
  [ -L "$PROFILE/$d" ] && rm "$PROFILE/$d"
  mkdir -p "$PROFILE/$d"
done

DEFAULT_DIR=$PROFILE/AppData/Local/Programs/Morvenit
DEFAULT_DIR_W='%LOCALAPPDATA%\Programs\Morvenit'
CUSTOM_DIR="$PROFILE/My Tools/Morvenit"
DESKTOP_LNK=$PROFILE/Desktop/Morvenit.lnk
SENDTO_LNK=$PROFILE/AppData/Roaming/Microsoft/Windows/SendTo/Morvenit.lnk
START_LNK="$PROFILE/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Morvenit.lnk"
KEY='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Morvenit'
CLASS='{E99C3767-6932-4418-9A7B-C764807BB7CA}' # the verb's; it never changes
VERB_KEYS=("HKEY_CURRENT_USER\\Software\\Classes\\CLSID\\$CLASS"
  'HKEY_CURRENT_USER\Software\Classes\AllFilesystemObjects\shell\Morvenit'
  'HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\App Paths\morvenit.exe')
# Wine alone: Wine's COM finds no class under HKCU (Windows merges it into HKCR), so the test
# copies the class the setup wrote to HKLM while it drops through the verb.
WINE_CLASS="HKLM\\Software\\Classes\\CLSID\\$CLASS"
NOTICE='Copyright © 2026 Morvenit' # what the windows show; the window tests check that

clear_ours() {
  rm -rf "$DEFAULT_DIR" "$PROFILE/My Tools" "$DESKTOP_LNK" "$SENDTO_LNK" "$START_LNK"
  rmdir "$PROFILE/AppData/Local/Programs" 2>/dev/null # as in a new profile
  for k in "$KEY" "${VERB_KEYS[@]}" "$WINE_CLASS"; do wine reg delete "$k" /f >/dev/null 2>&1; done
}
clear_ours
wineserver -w

# Every file of the user's profile (with checksums), and every line of the user's registry that
# names us: what must look the same after an uninstall as before. Left out: the copy of itself
# that an NSIS uninstaller runs from the temporary folder and cannot delete while it runs.
profile_state() {
  local entry
  (cd "$PROFILE" && find . -path './Temp/~nsu*.tmp' -prune -o -print | sort |
    while IFS= read -r entry; do
      if [ -f "$entry" ]; then echo "$entry $(md5sum <"$entry")"; else echo "$entry"; fi
    done)
  wine regedit /E "$WORK/hkcu.reg" HKEY_CURRENT_USER >/dev/null 2>&1
  iconv -f UTF-16 -t UTF-8 "$WORK/hkcu.reg" 2>/dev/null | grep -i morvenit
}
reg_value() { # reg_value NAME: the data of one value of the uninstall key
  wine reg query "$KEY" /v "$1" 2>/dev/null | tr -d '\r' |
    sed -n "s/^ *$1 \{4\}REG_[A-Z_]* \{4\}\(.*\)$/\1/p"
}
shortcut() { # the shortcut's fields, backslashes unescaped
  wine "$WINTOOL" shortcut "$(winpath "$1")" 2>/dev/null | tr -d '\r' | sed 's/\\\\/\\/g'
}
version() { wine "$WINTOOL" version "$(winpath "$1")" 2>/dev/null | tr -d '\r'; }
icon() { wine "$WINTOOL" icon "$(winpath "$1")" 2>/dev/null | tr -d '\r'; }
# NSIS wants /D= last and unquoted, spaces and all, so the command line is passed as it is.
install() { wine "$WINTOOL" launch "$(winpath "$MORVENIT_SETUP")" "/S${1:-}" >/dev/null 2>&1; }
# The uninstaller runs on from a copy of itself and returns at once: wait for the prefix to idle.
uninstall() {
  wine "$1/uninstall.exe" /S >/dev/null 2>&1
  wineserver -w
}
ls_programs() { ls -A "$PROFILE/AppData/Local/Programs" 2>/dev/null | xargs; }

before=$(profile_state)

# --- A silent install into the default folder -------------------------------------------------
install
check_eq "install: exit code" 0 $?
check "install: the program, byte for byte, in $DEFAULT_DIR_W" \
  cmp -s "$MORVENIT_EXE" "$DEFAULT_DIR/morvenit.exe"
check_eq "install: the folder holds the program and its uninstaller" "morvenit.exe uninstall.exe" \
  "$(ls -A "$DEFAULT_DIR" | xargs)"
exe_w=$(winpath "$DEFAULT_DIR/morvenit.exe")
for lnk in "$DESKTOP_LNK" "$SENDTO_LNK" "$START_LNK"; do
  name=${lnk#"$PROFILE"/}
  check_eq "shortcut $name: target, arguments, icon" \
    "target=\"$exe_w\"|arguments=\"\"|icon=\"$exe_w\",0" \
    "$(shortcut "$lnk" | grep -E '^(target|arguments|icon)=' | paste -sd'|')"
done

dir_w=$(winpath "$DEFAULT_DIR")
exe_kib=$((($(stat -c %s "$DEFAULT_DIR/morvenit.exe") + 1023) / 1024))
all_kib=$((exe_kib + ($(stat -c %s "$DEFAULT_DIR/uninstall.exe") + 1023) / 1024))
check_eq "uninstall entry: name|version|publisher|icon|uninstall|quiet uninstall|folder" \
  "Morvenit|2.0b|Morvenit|$exe_w,0|\"$dir_w\\uninstall.exe\"|\"$dir_w\\uninstall.exe\" /S|$dir_w" \
  "$(for v in DisplayName DisplayVersion Publisher DisplayIcon UninstallString \
    QuietUninstallString InstallLocation; do reg_value $v; done | paste -sd'|')"
size=$(($(reg_value EstimatedSize)))
check "uninstall entry: estimated size $size KiB covers the two files ($exe_kib..$all_kib KiB)" \
  test "$size" -ge "$exe_kib" -a "$size" -le "$((all_kib + 1))"

# --- The verb as the shell invokes it: one run for everything ---------------------------------
# 10,000 files in 100 folders and 3 folders, then another selection during the run, as the shell's
# ID list alone (as Explorer offers paths past 260 characters), with an item that is no file (the
# Control Panel), then one of that item alone; a file of each of the first two is held open
# elsewhere, so the one summary counts two, and a box says what of the others was left alone.
SEL=$WORK/selection
mkdir -p "$SEL"/d{00..99} "$SEL"/n{1,2,3}/sub "$SEL"/second/sub
for d in "$SEL"/d*; do echo secret | tee "$d"/f{00..99} >/dev/null; done
echo secret | tee "$SEL"/{n{1,2,3}/{a,sub/b},-Embedding,held,second/{held,sub/c},s.txt} >/dev/null
sel_w=$(winpath "$SEL")
(cd "$SEL" && find d?? -type f && printf '%s\n' -Embedding held n1 n2 n3) | sort | tr / '\\' |
  while read -r item; do echo "$sel_w\\$item"; done | iconv -t UTF-16LE >"$WORK/first.txt"
PANEL='::{21EC2020-3AEA-1069-A2DD-08002B30309D}'
printf '%s\n' "$sel_w\\second" "$PANEL" "$sel_w\\s.txt" | iconv -t UTF-16LE >"$WORK/second.txt"
echo "$PANEL" | iconv -t UTF-16LE >"$WORK/third.txt"
# Wine alone: the class under HKLM too (see WINE_CLASS).
wine regedit /E "$WORK/class.reg" "${VERB_KEYS[0]}"
iconv -f UTF-16 -t UTF-8 "$WORK/class.reg" | sed 's/^\[HKEY_CURRENT_USER/[HKEY_LOCAL_MACHINE/' \
  >"$WORK/wine.reg" && wine regedit /S "$WORK/wine.reg"
for f in held second/held; do
  wine "$WINTOOL" hold "$(winpath "$SEL/$f")" 300 >>"$WORK/held.txt" 2>&1 & holds+=($!)
done
for _ in $(seq 100); do [ "$(grep -sc holding "$WORK/held.txt")" = 2 ] && break || sleep 0.1; done
# To a file: the server COM starts inherits the client's output, and would hold a pipe open.
wine "$WINTOOL" drop "$CLASS" "$(winpath "$WORK/first.txt")" >"$WORK/drops.txt" 2>&1
wait_for_class MorvenitProgress 60 || fail "verb: no progress window"
for list in second third; do
  wine "$WINTOOL" drop --idlist "$CLASS" "$(winpath "$WORK/$list.txt")" >>"$WORK/drops.txt" 2>&1
done
# The programs COM started in this prefix with the verb's switch: the one run's.
verb_servers() {
  local p
  for p in $(pgrep -f 'morvenit\.exe <shell-verb>'); do
    grep -qz "^WINEPREFIX=$WINEPREFIX\$" "/proc/$p/environ" && echo "$p"
  done
}
servers=$(verb_servers)
dismiss_message_boxes "${servers%%$'\n'*}" 300 "$WORK/boxes.txt"
ended=$(date +%s%N)
# Its closing pause is a second; it must not wait for the shell's 30 s on top.
check "verb: the server ends as soon as nothing holds it after its run" \
  test -n "$LAST_BOX_AT" -a $(((ended - ${LAST_BOX_AT:-0}) / 1000000)) -lt 5000
check_eq "verb: all selections taken by one program; one summary, counting both held files" \
  "result=0x00000000 result=0x00000000 result=0x00000000|1|1" "$(tr -d '\r' <"$WORK/drops.txt" |
    xargs)|$(grep -c . <<<"$servers")|$(grep -c ' 2 files were' "$WORK/boxes.txt")"
check_eq "verb: what is no file is told in a box, never lost in silence" \
  "Morvenit:  1 item handed over to Morvenit is not a file or folder on a disk, and was left alone. \
|Morvenit:  No file or folder could be read from a selection handed over to Morvenit. Nothing in \
it was shredded. " "$(grep 'handed over' "$WORK/boxes.txt" | sort | paste -sd'|')"
check_eq "verb: every file gone but the held ones (-Embedding too), every folder kept" \
  "held second/held|109" \
  "$(cd "$SEL" && find . -type f | cut -c3- | sort | xargs)|$(find "$SEL" -type d | wc -l)"
kill "${holds[@]}"

# --- A run from a command line serves the verb as well: a selection made meanwhile joins it ----
# First a server killed during its run. Wine alone: Wine's COM keeps its dead class, and the verb
# fails with 0x800706BA, whatever registers the class afresh, until Wine's server for the prefix
# ends (`wineserver -k`, as the README says).
mkdir -p "$SEL"/k/d{0..9} "$SEL/c" "$SEL/joined"
for d in "$SEL"/k/d*; do echo secret | tee "$d"/f{000..199} >/dev/null; done
echo secret | tee "$SEL"/{c/a,c/b,joined/j.txt,c-held} >/dev/null
echo "$sel_w\\k" | iconv -t UTF-16LE >"$WORK/k.txt"
echo "$sel_w\\joined" | iconv -t UTF-16LE >"$WORK/joined.txt"
wine "$WINTOOL" drop "$CLASS" "$(winpath "$WORK/k.txt")" >"$WORK/drops.txt" 2>&1
wait_for_class MorvenitProgress 60 || fail "killed server: no progress window"
kill -9 $(verb_servers)
wine "$WINTOOL" drop "$CLASS" "$(winpath "$WORK/joined.txt")" >>"$WORK/drops.txt" 2>&1
wineserver -k
# The run lasts while a named file held elsewhere is tried, and reported.
wine "$WINTOOL" hold "$(winpath "$SEL/c-held")" 300 >"$WORK/held.txt" 2>&1 &
holds=($!)
for _ in $(seq 100); do grep -qs holding "$WORK/held.txt" && break || sleep 0.1; done
wine "$DEFAULT_DIR/morvenit.exe" "$(winpath "$SEL/c-held")" "$(winpath "$SEL/c")" >/dev/null 2>&1 &
MORVENIT_PID=$!
BACKGROUND_PIDS+=("$MORVENIT_PID")
wait_for_class MorvenitProgress 60 || fail "command line: no progress window"
wine "$WINTOOL" drop "$CLASS" "$(winpath "$WORK/joined.txt")" >>"$WORK/drops.txt" 2>&1
started=$(verb_servers) # a program started for the drop would be there for its run at least
dismiss_message_boxes "$MORVENIT_PID" 60 "$WORK/boxes-c.txt"
kill "${holds[@]}"
check_eq "command line: after a killed server (0x800706BA, then wineserver -k), a selection joins \
the run; no server started" "result=0x00000000 result=0x800706ba result=0x00000000||c-held|1 file was" \
  "$(tr -d '\r' <"$WORK/drops.txt" | xargs)|$started|$(cd "$SEL" && find c joined c-held \
    -type f | xargs)|$(grep -o '1 file was' "$WORK/boxes-c.txt")"

# --- Version resources and icons of the program, the installer and the uninstaller -----------
expected_strings="CompanyName=\"Morvenit\"|LegalCopyright=\"$NOTICE\"|ProductName=\"Morvenit\""
expected_strings+="|ProductVersion=\"2.0b\"|FileVersion=\"2.0b\""
for f in "$DEFAULT_DIR/morvenit.exe" "$MORVENIT_SETUP" "$DEFAULT_DIR/uninstall.exe"; do
  info=$(version "$f")
  check_eq "version of $(basename "$f"): fixed file and product versions" \
    "FixedFileVersion=2.0.0.0|FixedProductVersion=2.0.0.0" \
    "$(grep '^Fixed' <<<"$info" | paste -sd'|')"
  check_eq "version of $(basename "$f"): strings" "$expected_strings" "$(
    for k in CompanyName LegalCopyright ProductName ProductVersion FileVersion; do
      grep "^$k=" <<<"$info"
    done | paste -sd'|')"
done
check_eq "morvenit.exe: description and file name" \
  'FileDescription="Morvenit: destroys the contents of files"|OriginalFilename="morvenit.exe"' \
  "$(version "$DEFAULT_DIR/morvenit.exe" | grep -E '^(FileDescription|OriginalFilename)=' |
    paste -sd'|')"
# Wine lays out every program at its density, aware or not, so only the declaration can be seen.
check "the installed program declares itself per-monitor DPI aware" \
  grep -aq '<dpiAwareness[^>]*>PerMonitorV2' "$DEFAULT_DIR/morvenit.exe"
program_icon=$(icon "$MORVENIT_EXE")
check "the program has its 48 x 48 icon" grep -q '^48x48 ' <<<"$program_icon"
check_eq "the installer carries the program's icon" "$program_icon" "$(icon "$MORVENIT_SETUP")"
check_eq "the uninstaller carries the program's icon" "$program_icon" \
  "$(icon "$DEFAULT_DIR/uninstall.exe")"

# --- Send To: Explorer starts the entry's target with every selected file, quoted -------------
mkdir -p "$WORK/sent" && cd "$WORK/sent" || exit 1
head -c 70000 /dev/urandom >"a report.doc"
head -c 300 /dev/urandom >b.bin
echo "named like COM's switch" >-Embedding
echo "not selected" >c.txt
sendto_target=$(shortcut "$SENDTO_LNK" | sed -n 's/^target="\(.*\)"$/\1/p')
wine "$WINTOOL" launch "$sendto_target" "$(winpath "$WORK/sent/-Embedding") \"$(winpath \
  "$WORK/sent/a report.doc")\" \"$(winpath "$WORK/sent/b.bin")\"" >/dev/null 2>&1
check_eq "Send To: the run ends well" 0 $?
check_eq "Send To: the selected files (-Embedding first) are gone, the other stays" "c.txt" "$(ls)"
cd "$WORK" || exit 1

# --- The Start-menu entry shows the information window -----------------------------------------
start_target=$(shortcut "$START_LNK" | sed -n 's/^target="\(.*\)"$/\1/p')
wine "$WINTOOL" launch "$start_target" "" >/dev/null 2>&1 &
MORVENIT_PID=$!
BACKGROUND_PIDS+=("$MORVENIT_PID")
if wait_for_class MorvenitSplash 20; then
  pass "Start menu: the information window shows"
  click_rect "$(field "$(inspect --class MorvenitSplash | grep '^child .* id=111 ')" rect)"
  wait_exit "$MORVENIT_PID" 10 || fail "Start menu: \"X\" did not end the program"
else
  fail "Start menu: no information window"
fi

# --- Upgrade in place over an older installation whose desktop icon the user deleted ---------
echo "older version" >"$DEFAULT_DIR/morvenit.exe"
wine reg add "$KEY" /v DisplayVersion /d 1.0 /f >/dev/null 2>&1
# What an older setup may have left in the verb's keys.
wine reg add "${VERB_KEYS[1]}" /v Extended /d "" /f >/dev/null 2>&1
rm "$DESKTOP_LNK"
install
check_eq "upgrade: exit code" 0 $?
check "upgrade: the program replaced in place" cmp -s "$MORVENIT_EXE" "$DEFAULT_DIR/morvenit.exe"
check_eq "upgrade: one program folder, version 2.0b, the desktop icon back" "Morvenit|2.0b|1" \
  "$(ls_programs)|$(reg_value DisplayVersion)|$(test -f "$DESKTOP_LNK" && echo 1)"
c=${VERB_KEYS[0]} v=${VERB_KEYS[1]} a=${VERB_KEYS[2]}
check_eq "upgrade: one set of the verb's entries, for the installed program, and no older one" \
  "$(printf '%s\n' "$c" '(Default)|REG_SZ|Morvenit' "$c\\LocalServer32" \
    "(Default)|REG_SZ|\"$exe_w\" <shell-verb>" "$v" '(Default)|REG_SZ|Shred with Morvenit' \
    "Icon|REG_SZ|$exe_w,0" 'MultiSelectModel|REG_SZ|Player' 'NeverDefault|REG_SZ|' \
    "$v\\DropTarget" "CLSID|REG_SZ|$CLASS" "$a" "(Default)|REG_SZ|$exe_w" \
    "DropTarget|REG_SZ|$CLASS")" "$(for k in "${VERB_KEYS[@]}"; do wine reg query "$k" /s; done |
    tr -d '\r' | sed -E 's/^ +//; s/ {4}/|/g; /^$/d')"

# --- Silent uninstall: nothing of ours left ---------------------------------------------------
uninstall "$DEFAULT_DIR"
after=$(profile_state)
check "uninstall: no file, shortcut or registry value of ours is left" \
  test "$before" = "$after"
[ "$before" = "$after" ] || diff <(echo "$before") <(echo "$after") | head -20

# --- A chosen folder: the upgrade finds it again; the user's files survive the uninstall -------
install " /D=$(winpath "$CUSTOM_DIR")"
check "chosen folder: installed there" cmp -s "$MORVENIT_EXE" "$CUSTOM_DIR/morvenit.exe"
echo "older version" >"$CUSTOM_DIR/morvenit.exe"
# This time with its pages, as a user sees them: the folder (offering the one chosen before),
# then the copying. Nothing else: no welcome, no licence.
SETUP_TITLE="Morvenit 2.0b Setup"
wine "$MORVENIT_SETUP" >/dev/null 2>&1 &
SETUP_PID=$!
BACKGROUND_PIDS+=("$SETUP_PID")
if wait_for_window "$SETUP_TITLE" 20; then
  page=$(inspect "$SETUP_TITLE")
  folder=$(field "$(grep -m1 '^child .* class="Edit"' <<<"$page")" text | sed 's/\\\\/\\/g; s/\\$//')
  check_eq "pages: the first asks for the folder, offering the one chosen before" \
    "$SETUP_TITLE: Installation Folder|$(winpath "$CUSTOM_DIR")" \
    "$(field "$(grep '^window' <<<"$page")" title)|$folder"
  screenshot "setup-folder-page"
  click_child "$SETUP_TITLE" "&Install"
  # The page's "Close" button is there from the start, but enabled only once it is done.
  for _ in $(seq 80); do
    title=$(field "$(inspect "$SETUP_TITLE" | grep '^window')" title)
    [ "$title" = "$SETUP_TITLE: Completed" ] && break
    sleep 0.25
  done
  check_eq "pages: the second copies and completes" "$SETUP_TITLE: Completed" "$title"
  screenshot "setup-completed-page"
  click_child "$SETUP_TITLE" "&Close"
  wait_exit "$SETUP_PID" 20 || fail "pages: the installer did not close"
else
  fail "pages: no installer window"
fi
check "chosen folder: a second install without /D upgrades it there" \
  cmp -s "$MORVENIT_EXE" "$CUSTOM_DIR/morvenit.exe"
check_eq "chosen folder: nothing went to the default folder" "" "$(ls_programs)"
echo "kept here by the user" >"$CUSTOM_DIR/mine.txt"
echo "the user's own notes" >"$CUSTOM_DIR/../notes.txt"
uninstall "$CUSTOM_DIR"
check_eq "chosen folder: uninstall leaves the user's file in it, and so the folder" "mine.txt" \
  "$(ls -A "$CUSTOM_DIR" 2>/dev/null | xargs)"
check_eq "chosen folder: the user's file beside the program folder is intact" \
  "the user's own notes" "$(cat "$CUSTOM_DIR/../notes.txt" 2>/dev/null)"
check_eq "chosen folder: shortcuts and uninstall entry gone" "||" \
  "$(ls "$DESKTOP_LNK" "$SENDTO_LNK" "$START_LNK" 2>/dev/null)|$(reg_value DisplayName)|"
clear_ours

finish
