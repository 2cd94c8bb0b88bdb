#!/usr/bin/env python3
"""Packs a release build into its archive, the same bytes from any clone, at
any time, as any user: vlxinstall-<version>-<system>.zip (Windows) or .tar.gz.

The build is installed (stripped) into a staging directory and archived with
its entries sorted, every time set to SOURCE_DATE_EPOCH (by default the time
of the last commit), owner and group 0, and modes 0755 for directories and
programs and 0644 for the rest; the gzip header carries no time and no name.

usage: pack-release.py BUILD_DIR OUT_DIR"""

import gzip
import io
import os
import shutil
import subprocess
import sys
import tarfile
import tempfile
import time
import zipfile

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
EARLIEST_ZIP_TIME = 315532800  # 1980-01-01, where zip times begin


def release_time():
    if "SOURCE_DATE_EPOCH" in os.environ:
        return int(os.environ["SOURCE_DATE_EPOCH"])
    try:
        out = subprocess.run(["git", "-C", SOURCE, "log", "-1", "--format=%ct"], check=True,
                             capture_output=True, text=True).stdout
        return int(out)
    except (OSError, subprocess.CalledProcessError, ValueError):
        return EARLIEST_ZIP_TIME


def staged_entries(staging, top):
    """(archive name, path, is directory, mode) of every entry, sorted."""
    entries = [(top, staging, True, 0o755)]
    for directory, dirs, files in os.walk(staging):
        dirs.sort()
        for name in sorted(dirs + files):
            path = os.path.join(directory, name)
            is_dir = os.path.isdir(path)
            executable = is_dir or os.stat(path).st_mode & 0o111
            entries.append((top + "/" + os.path.relpath(path, staging).replace(os.sep, "/"), path,
                            is_dir, 0o755 if executable else 0o644))
    return sorted(entries)


def write_tar_gz(archive, entries, mtime):
    with open(archive, "wb") as raw, \
            gzip.GzipFile(filename="", fileobj=raw, mode="wb", compresslevel=9, mtime=0) as packed, \
            tarfile.open(fileobj=packed, mode="w", format=tarfile.PAX_FORMAT) as tar:
        for name, path, is_dir, mode in entries:
            info = tarfile.TarInfo(name)
            info.mtime, info.mode, info.uid, info.gid, info.uname, info.gname = mtime, mode, 0, 0, "", ""
            if is_dir:
                info.type = tarfile.DIRTYPE
                tar.addfile(info)
            else:
                with open(path, "rb") as data:
                    content = data.read()
                info.size = len(content)
                tar.addfile(info, io.BytesIO(content))


def write_zip(archive, entries, mtime):
    stamp = time.gmtime(max(mtime, EARLIEST_ZIP_TIME))[:6]
    with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as out:
        for name, path, is_dir, mode in entries:
            info = zipfile.ZipInfo(name + ("/" if is_dir else ""), date_time=stamp)
            info.create_system = 3  # the modes below are Unix modes
            info.external_attr = ((0o040000 if is_dir else 0o100000) | mode) << 16 | (0x10 if is_dir else 0)
            if is_dir:
                out.writestr(info, b"")
            else:
                info.compress_type = zipfile.ZIP_DEFLATED
                with open(path, "rb") as data:
                    out.writestr(info, data.read())


def main():
    build, out = sys.argv[1], sys.argv[2]
    with open(os.path.join(build, "release-name.txt")) as f:
        archive_name = f.read().strip()
    top = archive_name.rsplit(".zip", 1)[0].rsplit(".tar.gz", 1)[0]
    os.makedirs(out, exist_ok=True)
    staging = tempfile.mkdtemp(prefix="vlx-release-")
    try:
        subprocess.run(["cmake", "--install", build, "--prefix", staging, "--strip", "--component", "vlxinstall"],
                       check=True, stdout=subprocess.DEVNULL)
        entries = staged_entries(staging, top)
        archive = os.path.join(out, archive_name)
        (write_zip if archive_name.endswith(".zip") else write_tar_gz)(archive, entries, release_time())
        print(archive)
    finally:
        shutil.rmtree(staging, ignore_errors=True)


if __name__ == "__main__":
    main()
