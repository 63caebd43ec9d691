#!/usr/bin/env bash
# The release end to end: built twice from one source, in the project's build folder and in a
# copy whose path has another length, on another clock, in another time zone, with another umask
# and locale, and every byte the same; SHA256SUMS holds; the zip's program is the one the normal
# build makes and the setup installs, and it shreds a file where it was unzipped.
source "$(dirname "$0")/lib.sh"
SOURCE=${MORVENIT_SOURCE_DIR:?MORVENIT_SOURCE_DIR must name the source folder}
BUILD=$(dirname "$MORVENIT_EXE")
VERSION=$(sed -n 's/^#define MORVENIT_VERSION "\(.*\)"$/\1/p' "$SOURCE/windows/version.h")
ZIP=morvenit-$VERSION-portable.zip
SETUP=morvenit-$VERSION-setup.exe

# --- Two builds that share nothing but the source --------------------------------------------
started=$SECONDS
(umask 022 && env -u SOURCE_DATE_EPOCH TZ=America/Los_Angeles LC_ALL=C.UTF-8 \
  cmake --build "$BUILD" --target release) >"$ARTIFACTS/build-here.log" 2>&1
check_eq "here: the release builds" 0 $?
# The copy: the files git knows (committed or not), and the history by reference.
COPY=$WORK/copy/of-the-source-in-a-folder-whose-path-is-much-longer-than-the-first
mkdir -p "$COPY"
(cd "$SOURCE" && git ls-files -z --cached --others --exclude-standard |
  tar --null -T - --ignore-failed-read -cf - 2>/dev/null) | tar -xf - -C "$COPY"
echo "gitdir: $(git -C "$SOURCE" rev-parse --absolute-git-dir)" >"$COPY/.git"
# Only what the release holds, as the README says, 1,000 days from now and 14 hours east. Only
# the clock: libfaketime would shift the files' times that stat() reports too, as no clock does.
(cd "$COPY" && umask 077 && env -u SOURCE_DATE_EPOCH TZ=Pacific/Kiritimati LC_ALL=C \
  NO_FAKE_STAT=1 faketime -f +1000d bash -c \
  'cmake --preset windows && cmake --build --preset windows --target release') \
  >"$ARTIFACTS/build-copy.log" 2>&1
check_eq "copy: the release builds" 0 $?
echo "the copy's release took $((SECONDS - started)) s, the release here included"

# Where they differ, the offsets tell what leaked: 137-140 of a program, say, its time stamp.
for f in morvenit.exe "release/$ZIP" "release/$SETUP" release/SHA256SUMS; do
  check_eq "both builds: $f byte for byte (the offsets that differ)" "" \
    "$(cmp -l "$BUILD/$f" "$COPY/build/windows/$f" 2>&1 | head -4 | awk '{print $1}' | xargs)"
done
HERE=$BUILD/release
check_eq "SHA256SUMS covers the zip and the setup, and nothing else is there" \
  "$ZIP $SETUP|SHA256SUMS $ZIP $SETUP" \
  "$(cut -d' ' -f3 "$HERE/SHA256SUMS" | xargs)|$(LC_ALL=C ls "$HERE" | xargs)"
check "sha256sum -c SHA256SUMS passes" bash -c "cd '$HERE' && sha256sum -c --quiet SHA256SUMS"

# --- The zip: its entries in order, dated by the commit; its program is the normal build's ----
EPOCH=$(($(git -C "$SOURCE" log -1 --format=%ct) / 2 * 2)) # zip and NSIS count in 2 seconds
when=$(TZ=UTC date -d "@$EPOCH" '+%Y-%m-%d %H:%M:%S')
check_eq "zip: entries, dates and modes" "morvenit.exe $when 100755|README.txt $when 100644" \
  "$(python3 -c 'import sys, zipfile
print("|".join("%s %04d-%02d-%02d %02d:%02d:%02d %o" % (i.filename, *i.date_time,
      i.external_attr >> 16) for i in zipfile.ZipFile(sys.argv[1]).infolist()))' "$HERE/$ZIP")"
PORTABLE="$WORK/any folder/Morvenit $VERSION"
python3 -m zipfile -e "$HERE/$ZIP" "$PORTABLE"
check "zip: its morvenit.exe is the normal build's" cmp -s "$MORVENIT_EXE" "$PORTABLE/morvenit.exe"

# --- Portable: run from where it was unzipped, it shreds a file and leaves nothing beside it --
mkdir -p "$WORK/data" && head -c 100000 /dev/urandom >"$WORK/data/secret.bin"
echo "stays" >"$WORK/data/other.txt"
MORVENIT_EXE=$PORTABLE/morvenit.exe morvenit_start "$WORK/data/secret.bin"
wait_exit "$MORVENIT_PID" 30 || EXIT_CODE="still running"
check_eq "portable: exit code" 0 "$EXIT_CODE"
check_eq "portable: the file named is gone, the other stays; its folder holds the zip's files" \
  "other.txt|README.txt morvenit.exe" "$(ls "$WORK/data")|$(LC_ALL=C ls -A "$PORTABLE" | xargs)"

# --- The setup, silently into a prefix of the test's own, installs the zip's program --------
SESSION_PREFIX=$WINEPREFIX
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winemenubuilder.exe=d"
wine_prefix_ready "$E2E_ROOT/build/wine-prefix-release"
stop_own_prefix() {
  wineserver -k >/dev/null 2>&1
  export WINEPREFIX=$SESSION_PREFIX
  e2e_cleanup
}
trap stop_own_prefix EXIT
# The shortcut the setup puts on the desktop must not land in the real home folder.
profile=$(winepath -u "$(wine cmd /c 'echo %USERPROFILE%' 2>/dev/null | tr -d '\r')" 2>/dev/null)
for d in Desktop Documents Downloads Music Pictures Videos; do
  [ -L "$profile/$d" ] && rm "$profile/$d"
  mkdir -p "$profile/$d"
done
wine "$WINTOOL" launch "$(winpath "$HERE/$SETUP")" "/S /D=$(winpath "$WORK/installed")" \
  >/dev/null 2>&1
check_eq "setup: silent install, exit code" 0 $?
check "setup: installs the zip's morvenit.exe" \
  cmp -s "$PORTABLE/morvenit.exe" "$WORK/installed/morvenit.exe"
check_eq "setup: the installed program is dated by the commit" "$EPOCH" \
  "$(stat -c %Y "$WORK/installed/morvenit.exe" 2>/dev/null)"
wine "$WORK/installed/uninstall.exe" /S >/dev/null 2>&1
wineserver -w

finish
