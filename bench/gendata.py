#!/usr/bin/env python3
"""Writes the benchmark's input files.

    gendata.py real SIZE OUT [MISSION...]  the mission files repeated to SIZE bytes
    gendata.py folder COUNT SIZE DIR [MISSION...]
                                           DIR/miss1.mis ... missCOUNT.mis, each
                                           the mission files repeated to about
                                           SIZE bytes, starting with another one
    gendata.py adversarial SIZE OUT        random bytes, a 'C' every 64 bytes and
                                           a near-miss tag every 512 bytes,
                                           a tag every MiB

The adversarial file holds every kind of near miss a tag search meets: the
tag with each one of its bytes changed, in lower case, cut short, and a
real tag every MiB, so that every search has hits to confirm and to reject.
"""
import random
import sys

TAG = b"CELOBJVAR"
CHUNK = 1 << 24


def near_misses():
    out = [TAG.lower(), TAG[:8], TAG[:5], b"CCELOBJVA", b"ELOBJVAR"]
    for i in range(len(TAG)):
        out.append(TAG[:i] + bytes([TAG[i] ^ 0x20]) + TAG[i + 1:])
        if TAG[i] != ord("C"):
            out.append(TAG[:i] + b"C" + TAG[i + 1:])
    return out


def real(size, out, missions):
    data = b"".join(open(m, "rb").read() for m in missions)
    with open(out, "wb") as f:
        left = size
        while left > 0:
            f.write(data[:left])
            left -= min(left, len(data))


def folder(count, size, out, missions):
    """A game folder of count mission files of about size bytes: each
    starts with another of the fan-made files and is a few KiB shorter
    than the one before, so no two end in the same place of a block."""
    for number in range(1, count + 1):
        turn = (number - 1) % len(missions)
        real(size - (number - 1) * 4321, "%s/miss%d.mis" % (out, number),
             missions[turn:] + missions[:turn])


def adversarial(size, out):
    rnd = random.Random(20101)
    misses = near_misses()
    with open(out, "wb") as f:
        for start in range(0, size, CHUNK):
            n = min(CHUNK, size - start)
            buf = bytearray(rnd.randbytes(n))
            buf[0::64] = b"C" * len(range(0, n, 64))
            for at in range(37, n - 16, 512):
                m = misses[rnd.randrange(len(misses))]
                buf[at:at + len(m)] = m
            for at in range(4099, n - 16, 1 << 20):
                buf[at:at + 9] = TAG
            f.write(buf)


def main(argv):
    if len(argv) >= 5 and argv[1] == "real":
        real(int(argv[2]), argv[3], argv[4:])
    elif len(argv) >= 6 and argv[1] == "folder":
        folder(int(argv[2]), int(argv[3]), argv[4], argv[5:])
    elif len(argv) == 4 and argv[1] == "adversarial":
        adversarial(int(argv[2]), argv[3])
    else:
        sys.stderr.write(__doc__)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
