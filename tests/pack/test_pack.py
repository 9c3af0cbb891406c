"""The release archives depend on their inputs' contents alone: not on the
order they are named in, nor on the files' own times and modes."""
import io
import os
import shutil
import struct
import subprocess
import sys
import tarfile
import tempfile
import time
import unittest
import zipfile
from pathlib import Path

TOOLS = Path(__file__).resolve().parents[2] / "tools"
sys.path.insert(0, str(TOOLS))
import pack  # noqa: E402

EPOCH = 1796757073  # an odd second: the zip's two-second clock rounds it
PROGRAM = os.environ.get("ORBSET_DEBPROGRAM")  # an ELF program for the .deb


class Inputs:
    """The same three files in a fresh folder, with its own times and modes."""

    def __init__(self, top, stamp, mode):
        self.dir = Path(top)
        self.dir.mkdir()
        for name, data in (("b.txt", b"guide\r\n"), ("a.exe", b"MZ program"),
                           ("c", b"licence\n")):
            path = self.dir / name
            path.write_bytes(data)
            path.chmod(mode)
            os.utime(path, (stamp, stamp))

    def members(self, order):
        modes = {"a.exe": "755", "b.txt": "644", "c": "644"}
        return [f"top/{n}={self.dir / n}:{modes[n]}" for n in order]


class ArchiveTest(unittest.TestCase):
    def setUp(self):
        self.tmp = Path(tempfile.mkdtemp())
        self.addCleanup(shutil.rmtree, self.tmp)
        one = Inputs(self.tmp / "one", 1000000000, 0o600)
        two = Inputs(self.tmp / "two", 1700000000, 0o777)
        self.builds = [one.members(["a.exe", "b.txt", "c"]), two.members(["c", "a.exe", "b.txt"])]

    def build(self, kind):
        outs = []
        for i, members in enumerate(self.builds):
            out = self.tmp / f"{i}.{kind}"
            pack.main([kind, str(out), str(EPOCH)] + members)
            outs.append(out.read_bytes())
        self.assertEqual(outs[0], outs[1])
        return outs[0]

    def test_tarball(self):
        data = self.build("tar")
        # The gzip header: flags at 3 (0x08: a file name follows), time at 4.
        self.assertEqual(data[3] & 0x08, 0, "the gzip header names a file")
        self.assertEqual(struct.unpack("<I", data[4:8])[0], EPOCH)
        with tarfile.open(fileobj=io.BytesIO(data)) as tar:
            got = [(m.name, m.mode, m.mtime, m.uid, m.gid, m.uname, m.gname, m.isfile())
                   for m in tar]
        self.assertEqual(got, [
            ("top/a.exe", 0o755, EPOCH, 0, 0, "root", "root", True),
            ("top/b.txt", 0o644, EPOCH, 0, 0, "root", "root", True),
            ("top/c", 0o644, EPOCH, 0, 0, "root", "root", True)])

    def test_zip(self):
        data = self.build("zip")
        stamp = time.gmtime(EPOCH - 1)[:6]
        with zipfile.ZipFile(io.BytesIO(data)) as z:
            # Made on Unix (3): unzip takes the mode from the upper half.
            got = [(i.filename, i.date_time, i.create_system, i.external_attr >> 16,
                    i.extra, z.read(i)) for i in z.infolist()]
        self.assertEqual(got, [
            ("top/a.exe", stamp, 3, 0o100755, b"", b"MZ program"),
            ("top/b.txt", stamp, 3, 0o100644, b"", b"guide\r\n"),
            ("top/c", stamp, 3, 0o100644, b"", b"licence\n")])

    def test_sums_hold_for_sha256sum(self):
        for name in ("z.zip", "a.tar.gz"):
            (self.tmp / name).write_bytes(name.encode())
        sums = self.tmp / "SHA256SUMS"
        pack.main(["sums", str(sums), str(self.tmp / "z.zip"), str(self.tmp / "a.tar.gz")])
        self.assertEqual([line.split("  ")[1] for line in sums.read_text().splitlines()],
                         ["a.tar.gz", "z.zip"])
        subprocess.run(["sha256sum", "--quiet", "-c", "SHA256SUMS"], cwd=self.tmp, check=True)


# Debian's dpkg-dev is part of the Linux build's test kit: where it is
# missing, this test fails.
@unittest.skipUnless(PROGRAM, "needs an ELF program: the Linux build")
class DebTest(unittest.TestCase):
    def test_two_builds_are_one_package(self):
        self.assertTrue(shutil.which("dpkg-shlibdeps"), "dpkg-shlibdeps is missing: install dpkg-dev")
        tmp = Path(tempfile.mkdtemp())
        self.addCleanup(shutil.rmtree, tmp)
        control = tmp / "control"
        control.write_text("Package: orbset\nVersion: 1.0.0\nArchitecture: amd64\n"
                           "Maintainer: A B <a@b.example>\nDescription: test\n text\n")
        debs = []
        # The second build under a stricter umask, as another user's might be.
        builds = ((1000000000, 0o600, 0o022), (1700000000, 0o777, 0o077))
        for i, (stamp, mode, umask) in enumerate(builds):
            page = tmp / f"page{i}"
            page.write_bytes(b".TH ORBSET 1\n")
            program = tmp / f"program{i}"
            shutil.copyfile(PROGRAM, program)
            for path in (page, program):
                path.chmod(mode)
                os.utime(path, (stamp, stamp))
            deb = tmp / f"{i}.deb"
            self.addCleanup(os.umask, os.umask(umask))
            subprocess.run([sys.executable, TOOLS / "debpack.py", deb, str(EPOCH), control,
                            tmp / f"stage{i}", f"usr/bin/orbset={program}:755",
                            f"usr/share/man/man1/orbset.1.gz={page}:644"],
                           check=True, capture_output=True)
            debs.append(deb)
        self.assertEqual(debs[0].read_bytes(), debs[1].read_bytes())

        listing = subprocess.run(["dpkg-deb", "-c", debs[0]], check=True,
                                 capture_output=True, text=True).stdout
        files = [(f[0], f[1], f[5]) for f in map(str.split, listing.splitlines())
                 if not f[5].endswith("/")]
        self.assertEqual(files, [
            ("-rwxr-xr-x", "root/root", "./usr/bin/orbset"),
            ("-rw-r--r--", "root/root", "./usr/share/doc/orbset/changelog.gz"),
            ("-rw-r--r--", "root/root", "./usr/share/man/man1/orbset.1.gz")])
        depends = subprocess.run(["dpkg-deb", "-f", debs[0], "Depends"], check=True,
                                 capture_output=True, text=True).stdout
        # A sanitizer build's program needs more libraries than libc6.
        self.assertRegex(depends, r"(^|, )libc6 \(>= [0-9.]+\)(,|$)")


if __name__ == "__main__":
    unittest.main()
