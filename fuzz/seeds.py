#!/usr/bin/env python3
"""Writes the fuzz seed corpus: seeds.py OUTDIR [REAL_MISSIONS_DIR]

The generator's missions 1 to 16 (moon enabled), and each fan-made mission
file as it is and with its first celestial object enabled. A missing
folder of fan-made files is skipped.
"""
import struct
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tools"))
import misgen  # noqa: E402


def main(argv):
    out = Path(argv[1])
    out.mkdir(parents=True, exist_ok=True)
    for number in range(1, 17):
        (out / ("gen%02d.mis" % number)).write_bytes(misgen.mission(number))
    real = Path(argv[2]) if len(argv) > 2 else None
    if real and real.is_dir():
        for path in sorted(real.glob("*.mis")):
            data = path.read_bytes()
            (out / ("real-" + path.name)).write_bytes(data)
            at = data.find(misgen.TAG)
            if at >= 0:
                data = data[:at + 24] + struct.pack("<i", 1) + data[at + 28:]
                (out / ("real-enabled-" + path.name)).write_bytes(data)
    else:
        print("seeds.py: no fan-made mission files in %s" % real)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
