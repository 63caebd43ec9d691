#!/usr/bin/env bash
# Installs the Debian packages that building and testing Morvenit need, and only those missing.
# Silent when everything is present.
set -euo pipefail

packages=(
  cmake make g++ clang-format googletest
  g++-mingw-w64-x86-64-posix wine wine64 fonts-wine
  xvfb xdotool x11-utils imagemagick python3 libx11-6 libxfixes3
  passwd util-linux e2fsprogs ntfs-3g dosfstools fusefat exfatprogs exfat-fuse sleuthkit coreutils nsis faketime strace
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  echo "Packages are missing and installing them needs root." >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -q >/dev/null
apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null
