#!/usr/bin/env python3
"""Builds the Debian package, as reproducibly as pack.py builds the
archives: every file and folder gets a fixed mode and the commit's time,
dpkg-deb makes root their owner and takes its own times from
SOURCE_DATE_EPOCH, and xz runs on one thread (its output depends on how
many threads it uses).

  debpack.py OUT.deb EPOCH CONTROL STAGE NAME=SOURCE:MODE ...

CONTROL is the control file without Installed-Size and Depends: these
are added here, Depends by dpkg-shlibdeps from the programs in usr/bin.
A NAME ending in .gz is compressed from its SOURCE as Debian wants man
pages compressed: gzip -9, with no file name and no time in the header.
The changelog Debian asks of every package is written from CONTROL.
STAGE is a scratch folder, emptied first.
"""
import email.utils
import gzip
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

from pack import entries


def gz(data):
    return gzip.compress(data, compresslevel=9, mtime=0)


def fields(control):
    """The control file's fields (the first line of each)."""
    result = {}
    for line in control.splitlines():
        if line and not line[0].isspace() and ":" in line:
            key, value = line.split(":", 1)
            result[key] = value.strip()
    return result


def changelog(info, epoch):
    date = email.utils.formatdate(epoch, usegmt=False).replace("-0000", "+0000")
    return (f"{info['Package']} ({info['Version']}) unstable; urgency=medium\n\n"
            f"  * Release {info['Version']}.\n\n"
            f" -- {info['Maintainer']}  {date}\n").encode()


def place(stage, name, data, mode):
    path = stage / name
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(data)
    path.chmod(mode)


def shlibdeps(stage):
    programs = sorted(str(p) for p in (stage / "usr/bin").iterdir())
    # dpkg-shlibdeps wants to run inside a source package.
    with tempfile.TemporaryDirectory() as top:
        (Path(top) / "debian").mkdir()
        (Path(top) / "debian/control").write_text("")
        out = subprocess.run(["dpkg-shlibdeps", "-O"] + [f"-e{p}" for p in programs],
                             cwd=top, check=True, capture_output=True, text=True).stdout
    return out.strip().split("=", 1)[1]


def fixtimes(stage, epoch):
    # Deepest first, so that setting a folder's time is the last change
    # made inside it.
    for root, dirs, files in os.walk(stage, topdown=False):
        for name in files:
            os.utime(os.path.join(root, name), (epoch, epoch))
        os.chmod(root, 0o755)
        os.utime(root, (epoch, epoch))


def main(argv):
    if len(argv) < 5:
        sys.exit(__doc__)
    out, epoch, control, stage = argv[0], int(argv[1]), Path(argv[2]), Path(argv[3])
    shutil.rmtree(stage, ignore_errors=True)
    stage.mkdir(parents=True)

    text = control.read_text()
    info = fields(text)
    files = [(n, s.read_bytes(), m) for n, s, m in entries(argv[4:])]
    files = [(n, gz(d) if n.endswith(".gz") else d, m) for n, d, m in files]
    files.append((f"usr/share/doc/{info['Package']}/changelog.gz",
                  gz(changelog(info, epoch)), 0o644))
    for name, data, mode in files:
        place(stage, name, data, mode)

    kib = sum((len(d) + 1023) // 1024 for _, d, _ in files)
    text += f"Installed-Size: {kib}\nDepends: {shlibdeps(stage)}\n"
    place(stage, "DEBIAN/control", text.encode(), 0o644)
    sums = "".join(f"{hashlib.md5(d).hexdigest()}  {n}\n" for n, d, _ in sorted(files))
    place(stage, "DEBIAN/md5sums", sums.encode(), 0o644)
    fixtimes(stage, epoch)

    env = dict(os.environ, SOURCE_DATE_EPOCH=str(epoch))
    subprocess.run(["dpkg-deb", "--root-owner-group", "-Zxz", "--threads-max=1",
                    "--build", str(stage), out], check=True, env=env)


if __name__ == "__main__":
    main(sys.argv[1:])
