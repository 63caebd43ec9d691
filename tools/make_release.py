#!/usr/bin/env python3
"""Packs a Morvenit release: the setup, a portable zip and SHA256SUMS over both.

Run by the CMake target `release`:

  make_release.py --source DIR --program morvenit.exe --makensis makensis --out DIR

Every byte of the output follows from the sources and the tools alone, so that two builds of one
commit, wherever and whenever they run, give identical files. The one time the files carry is the
commit's: SOURCE_DATE_EPOCH when set, else the time of the source folder's last git commit, else
(a source tree without git history) 1980-01-01 00:00:00 UTC, the earliest time a zip entry holds;
rounded down to an even second, as zip and NSIS both keep file times in steps of 2 seconds.
"""

import argparse
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile

# The earliest time a zip entry can hold (MS-DOS dates begin in 1980).
ZIP_EPOCH = 315532800


def read_version(source):
    """The version string of windows/version.h, as the resources and the installer read it."""
    with open(os.path.join(source, "windows", "version.h"), encoding="utf-8") as header:
        match = re.search(r'^#define MORVENIT_VERSION "([^"]*)"', header.read(), re.MULTILINE)
    if not match or not re.fullmatch(r"[A-Za-z0-9._-]+", match.group(1)):
        sys.exit("make_release: no usable MORVENIT_VERSION in windows/version.h")
    return match.group(1)


def git(source, *args):
    return subprocess.run(["git", "-C", source, *args], capture_output=True, text=True,
                          check=True).stdout.strip()


def source_date_epoch(source):
    """The commit's time, in seconds since 1970 (see the module's description)."""
    if os.environ.get("SOURCE_DATE_EPOCH"):
        return int(os.environ["SOURCE_DATE_EPOCH"])
    try:
        # Only the source folder's own history: not that of a repository it happens to lie in.
        top = git(source, "rev-parse", "--show-toplevel")
        if os.path.realpath(top) == os.path.realpath(source):
            return int(git(source, "log", "-1", "--format=%ct"))
    except (OSError, subprocess.CalledProcessError, ValueError):
        pass
    print("make_release: no git history and no SOURCE_DATE_EPOCH: "
          "the release's files are dated 1980-01-01 00:00:00 UTC")
    return ZIP_EPOCH


def build_setup(makensis, source, program, epoch, setup):
    """Compiles the installer around a copy of the program dated EPOCH: NSIS keeps the file's
    modification time with its contents, and gives it to the installed file."""
    with tempfile.TemporaryDirectory() as stage:
        staged = os.path.join(stage, "morvenit.exe")
        shutil.copyfile(program, staged)
        os.utime(staged, (epoch, epoch))
        subprocess.run([makensis, "-V2", "-INPUTCHARSET", "UTF8", f"-DSOURCE_DIR={source}",
                        f"-DPROGRAM={staged}", f"-DOUTFILE={setup}",
                        os.path.join(source, "installer", "morvenit.nsi")],
                       # NSIS 3.08 embeds no time of its own; one that did would take this.
                       env=dict(os.environ, SOURCE_DATE_EPOCH=str(epoch)), check=True)


def build_zip(path, entries, epoch):
    """Writes ENTRIES (name, bytes, Unix mode) in their order, each dated EPOCH (UTC), with
    fixed attributes and nothing else: no extra fields, no owner, no comment."""
    date_time = time.gmtime(epoch)[:6]
    with zipfile.ZipFile(path, "w") as archive:
        for name, data, mode in entries:
            info = zipfile.ZipInfo(name, date_time)
            info.create_system = 3  # Unix, so that unzip there restores the modes below
            info.external_attr = (0o100000 | mode) << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(info, data, compresslevel=9)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--source", required=True, help="the source folder")
    parser.add_argument("--program", required=True, help="the built morvenit.exe")
    parser.add_argument("--makensis", required=True, help="the NSIS compiler")
    parser.add_argument("--out", required=True, help="the release folder, made afresh")
    args = parser.parse_args()
    source = os.path.abspath(args.source)

    version = read_version(source)
    epoch = max(source_date_epoch(source), ZIP_EPOCH) // 2 * 2
    # Nothing of an earlier release (another version's files, say) may stay beside this one.
    shutil.rmtree(args.out, ignore_errors=True)
    os.makedirs(args.out)

    setup = f"morvenit-{version}-setup.exe"
    build_setup(args.makensis, source, os.path.abspath(args.program), epoch,
                os.path.join(args.out, setup))

    with open(args.program, "rb") as program:
        program_bytes = program.read()
    with open(os.path.join(source, "installer", "portable-readme.txt"), encoding="utf-8") as text:
        readme = text.read().replace("@VERSION@", version)
    # Notepad on older Windows shows nothing but CR LF as a line break.
    readme_bytes = readme.replace("\r\n", "\n").replace("\n", "\r\n").encode("utf-8")
    portable = f"morvenit-{version}-portable.zip"
    build_zip(os.path.join(args.out, portable),
              [("morvenit.exe", program_bytes, 0o755), ("README.txt", readme_bytes, 0o644)], epoch)

    # The format `sha256sum -c` reads: the digest, two spaces, the name.
    with open(os.path.join(args.out, "SHA256SUMS"), "w", encoding="ascii", newline="\n") as sums:
        for name in sorted([setup, portable]):
            with open(os.path.join(args.out, name), "rb") as f:
                sums.write(f"{hashlib.sha256(f.read()).hexdigest()}  {name}\n")
    print(f"make_release: {args.out}: {portable}, {setup}, SHA256SUMS "
          f"(dated {time.strftime('%Y-%m-%d %H:%M:%S', time.gmtime(epoch))} UTC)")


if __name__ == "__main__":
    main()
