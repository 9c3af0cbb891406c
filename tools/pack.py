#!/usr/bin/env python3
"""Writes the release archives so that two builds of one commit give the
same bytes, wherever they were built and by whom.

An archive depends on nothing but the files named and the time given:
its entries stand in name order, each carries that time, the mode it is
given and the owner root, and the compressed stream carries no time of
its own. Zip entries carry no extra fields (no access or change times).

  pack.py tar  OUT.tar.gz EPOCH NAME=SOURCE:MODE ...
  pack.py zip  OUT.zip    EPOCH NAME=SOURCE:MODE ...
  pack.py sums OUT FILE ...     (sha256sum's format, by base name)

MODE is octal (755 for a program, 644 for a text).
"""
import gzip
import hashlib
import io
import sys
import tarfile
import time
import zipfile
from pathlib import Path


def entries(members):
    """(name, source, mode) for each NAME=SOURCE:MODE, sorted by name."""
    result = []
    for member in members:
        name, rest = member.split("=", 1)
        source, mode = rest.rsplit(":", 1)
        result.append((name, Path(source), int(mode, 8)))
    return sorted(result)


def writetar(out, epoch, members):
    buf = io.BytesIO()
    with tarfile.open(fileobj=buf, mode="w", format=tarfile.GNU_FORMAT) as tar:
        for name, source, mode in entries(members):
            data = source.read_bytes()
            info = tarfile.TarInfo(name)
            info.size = len(data)
            info.mode = mode
            info.mtime = epoch
            info.uid = info.gid = 0
            info.uname = info.gname = "root"
            tar.addfile(info, io.BytesIO(data))
    # The gzip header's own time is the archive's time, and no file name.
    with open(out, "wb") as f:
        with gzip.GzipFile(filename="", mode="wb", fileobj=f, compresslevel=9,
                           mtime=epoch) as z:
            z.write(buf.getvalue())


def writezip(out, epoch, members):
    # Zip keeps local time without a zone; the players' tools show it as is.
    stamp = time.gmtime(epoch)[:6]
    with zipfile.ZipFile(out, "w") as z:
        for name, source, mode in entries(members):
            info = zipfile.ZipInfo(name, date_time=stamp)
            info.create_system = 3  # Unix, so that the mode below is read
            info.external_attr = (0o100000 | mode) << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            z.writestr(info, source.read_bytes(), compresslevel=9)


def writesums(out, files):
    lines = []
    for path in sorted(map(Path, files), key=lambda p: p.name):
        digest = hashlib.sha256(path.read_bytes()).hexdigest()
        lines.append(f"{digest}  {path.name}\n")
    Path(out).write_bytes("".join(lines).encode())


def main(argv):
    if len(argv) >= 3 and argv[0] == "sums":
        writesums(argv[1], argv[2:])
    elif len(argv) >= 4 and argv[0] in ("tar", "zip"):
        write = writetar if argv[0] == "tar" else writezip
        write(argv[1], int(argv[2]), argv[3:])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv[1:])
