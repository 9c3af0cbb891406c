#!/usr/bin/env python3
"""Writes mission files in the game's own layout, and sample installations.

A mission file is a 272-byte header (u32 offset of the table of contents,
version 0.1, 256 zero bytes, DE AD BE EF), chunks back to back (each a
24-byte header: name[12], u32 major, u32 minor, u32 zero, then its data),
and the table of contents at the end (u32 count, then per chunk name[12],
u32 offset of the chunk header, u32 size of the data).

The celestial-object chunks CELOBJVAR1..3 are the records orbset reads: the
chunk header is the record's header, its 304 bytes of data the rest.
"""
import random
import struct
import sys
from pathlib import Path

TAG = b"CELOBJVAR"
RECLEN = 328
HEADERLEN = 272

STOCK = ["miss1.mis", "miss2.mis", "miss4.mis", "miss5.mis", "miss6.mis",
         "miss7.mis", "miss8.mis", "miss9.mis", "miss10.mis", "miss11.mis",
         "miss12.mis", "miss13.mis", "miss16.mis"]


def f32(x):
    return struct.pack("<f", x)


def celobj(index=1, ena=0, fog=0, iat=0, tex=b"", a=0.0, off=0.0, siz=0.0,
           lat=0.0, lon=0.0, rot=0.0, col=(0.0, 0.0, 0.0), major=2, minor=1):
    """One 328-byte record; index is the chunk name's last character."""
    if isinstance(index, int):
        index = bytes([0x30 + index])
    name = (TAG + index).ljust(12, b"\0")[:12]
    head = name + struct.pack("<III", major, minor, 0)
    if isinstance(tex, str):
        tex = tex.encode("latin-1")
    body = struct.pack("<iii", ena, fog, iat) + tex.ljust(256, b"\0")[:256]
    body += b"".join(f32(v) for v in (a, off, siz, lat, lon, rot) + tuple(col))
    assert len(head + body) == RECLEN
    return head + body


def chunk(name, data, major=1, minor=0):
    return name.encode().ljust(12, b"\0") + struct.pack("<III", major, minor, 0) + data


def filler(name, size, seed):
    """A chunk of binary data that holds no tag."""
    rnd = random.Random(seed)
    data = bytes(rnd.randrange(256) for _ in range(size)).replace(b"C", b"c")
    return chunk(name, data)


def misfile(chunks):
    """A whole mission file around the given chunks (each with its header)."""
    body = b""
    toc = []
    for c in chunks:
        toc.append((c[:12], HEADERLEN + len(body), len(c) - 24))
        body += c
    tocoff = HEADERLEN + len(body)
    head = struct.pack("<III", tocoff, 0, 1) + bytes(256) + b"\xde\xad\xbe\xef"
    table = struct.pack("<I", len(toc))
    for name, off, size in toc:
        table += name + struct.pack("<II", off, size)
    return head + body + table


def readtoc(data):
    """The table of contents of a mission file: [(name, offset, size)]."""
    tocoff = struct.unpack_from("<I", data, 0)[0]
    count = struct.unpack_from("<I", data, tocoff)[0]
    out = []
    for i in range(count):
        name, off, size = struct.unpack_from("<12sII", data, tocoff + 4 + 20 * i)
        out.append((name.split(b"\0")[0].decode("latin-1"), off, size))
    return out


def mission(number, moon=None):
    """A mission file like the game's: the moon (CELOBJVAR1) enabled, the
    other two celestial objects disabled, among other chunks."""
    if moon is None:
        moon = dict(ena=1, fog=0, iat=2, tex="moon", a=0.8, off=0.0,
                    siz=4.0 + number % 3, lat=30.0 + number, lon=15.0 * number,
                    rot=180.0, col=(1.0, 0.9, 0.75))
    star = dict(ena=0, tex="star", siz=1.0, col=(1.0, 1.0, 1.0))
    return misfile([
        filler("FILE_TYPE", 4, number),
        filler("SKYMODE", 4, number + 100),
        celobj(1, **moon)[:RECLEN],
        celobj(2, **star),
        celobj(3, **star),
        filler("BRLIST", 3000 + 97 * number, number + 200),
        filler("TXLIST", 1500, number + 300),
        filler("MAPPARAM", 60, number + 400),
    ])


def install(top):
    """A sample installation: an empty thief2.exe, the 13 stock missions,
    and an empty tools folder to start the program from."""
    top = Path(top)
    (top / "tools").mkdir(parents=True, exist_ok=True)
    (top / "thief2.exe").write_bytes(b"")
    for name in STOCK:
        number = int(name[4:-4])
        (top / name).write_bytes(mission(number))


def main(argv):
    if len(argv) == 3 and argv[1] == "install":
        install(argv[2])
    elif len(argv) == 4 and argv[1] == "mission":
        Path(argv[3]).write_bytes(mission(int(argv[2])))
    else:
        sys.stderr.write("usage: misgen.py install DIR | mission NUMBER FILE\n")
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
