"""The record scan as both commands run it on files many reads long, and
on files whose reading fails part way."""
import os
import re
import struct
import tempfile
import unittest

from harness import UNDER_WINE, OrbsetTest, misgen, record_line, strace, tag_offsets
from test_mispatch import PatchTest, dialogue, patched

MIB = 1 << 20


def big_file():
    """Four MiB and a bit, with records where MiBs meet: a tag on the last
    byte of one, a tag across the boundary, a record across it, one on the
    first byte of one, and one cut off by the end of the file. Every other
    one is enabled."""
    data = bytearray(4 * MIB + 200)
    places = [MIB - 1, 2 * MIB - 4, 3 * MIB - 323, 4 * MIB, len(data) - 100]
    for i, at in enumerate(places):
        rec = misgen.celobj(i + 1, ena=1 - i % 2, fog=i, tex="moon%d" % i, siz=1.5 + i)
        data[at:at + 328] = rec[:len(data) - at]
    return bytes(data), places


def report(data, worker="misinfo"):
    """The -v 2 report of data after its header: every tag found, and the
    record line of each enabled record."""
    out = ""
    for at in tag_offsets(data):
        rec = data[at:at + 328].ljust(328, b"\0")
        out += "%s(#): Found CELOBJVAR at 0x%x\n" % (worker, at)
        if struct.unpack_from("<i", rec, 24)[0] == 1:
            out += record_line(rec)
    return out


def reads(test, path, *args):
    """How many reads of path the run of orbset with args makes, so that a
    fault can be injected at one of them whatever the size of the blocks."""
    with tempfile.TemporaryDirectory() as tmp:
        log = os.path.join(tmp, "strace")
        test.orbset(*args, wrap=["strace", "-f", "-o", log, "-e", "trace=read", "-P", str(path)])
        with open(log) as f:
            return len(re.findall(r"\bread\(", f.read()))


class Report(OrbsetTest):
    def setUp(self):
        super().setUp()
        self.install(missions=[])
        self.data, self.places = big_file()
        (self.game / "big.mis").write_bytes(self.data)

    def test_records_where_the_mibs_meet(self):
        self.assertEqual(tag_offsets(self.data), self.places)
        out, code = self.orbset("misinfo", "-v", "2", "-f", "big.mis")
        self.assertEqual(code, 0)
        self.assertTrue(out.endswith(self.found() + "\nmisfile=big.mis\n\n" + report(self.data)),
                        out)

    @unittest.skipIf(UNDER_WINE, "needs strace on Linux")
    def test_a_read_that_fails_far_into_the_file_ends_the_run(self):
        # Half-way: what the reads before found is reported, nothing after
        # it, and the failure is not hidden.
        args = ("misinfo", "-v", "2", "-f", "big.mis")
        when = reads(self, self.game / "big.mis", *args) // 2 + 1
        out, code = self.orbset(*args, wrap=strace(self.game / "big.mis",
                                                   "read:error=EIO:when=%d" % when))
        self.assertEqual(code, 1)
        # The lines of -v 2 that come before the file's are not the point here.
        head = self.found() + "\nmisfile=big.mis\n\n"
        tail = "misinfo(#): ERROR: Cannot read file big.mis.\n"
        self.assertIn(head, out)
        self.assertTrue(out.endswith(tail), out)
        lines = report(self.data).splitlines(keepends=True)
        shown = out[out.index(head) + len(head):-len(tail)].splitlines(keepends=True)
        # At least the record at the first MiB, not the ones of the end.
        self.assertEqual(shown, lines[:len(shown)])
        self.assertGreaterEqual(len(shown), 2)
        self.assertLess(len(shown), len(lines) - 2)

    @unittest.skipIf(UNDER_WINE, "needs strace on Linux")
    def test_reads_interrupted_by_a_signal_are_asked_again(self):
        # From the given read on, every third one.
        for when in (1, 3, 10):
            with self.subTest(when=when):
                out, code = self.orbset("misinfo", "-v", "2", "-f", "big.mis",
                                        wrap=strace(self.game / "big.mis",
                                                    "read:error=EINTR:when=%d+3" % when))
                self.assertEqual(code, 0)
                self.assertTrue(out.endswith(self.found() + "\nmisfile=big.mis\n\n"
                                             + report(self.data)), out)


class Patch(PatchTest):
    def setUp(self):
        super().setUp()
        self.install(missions=[])
        data, places = big_file()
        # The first enabled record lies across the boundary at 3 MiB.
        self.first = places[2]
        self.before = data[:places[0] + 24] + struct.pack("<i", 0) + data[places[0] + 28:]
        self.path = self.game / "miss9.mis"
        self.path.write_bytes(self.before)
        old = self.before[self.first:self.first + 328]
        self.expected = self.found() + dialogue("miss9.mis", old, patched(old, 9))

    def test_the_first_enabled_record_of_a_large_file(self):
        self.check(["-f", "miss9.mis"], self.expected, input=b"y\n")
        self.assert_patched_only_there(self.before, self.path.read_bytes(), self.first, 9)

    @unittest.skipIf(UNDER_WINE, "needs strace on Linux")
    def test_a_file_that_cannot_be_read_is_skipped(self):
        # At the first read, and half-way, before the first enabled record.
        for when in (1, reads(self, self.path, "misinfo", "-f", "miss9.mis") // 2 + 1):
            with self.subTest(when=when):
                out, code = self.orbset("-v", "1", "-f", "miss9.mis", input=b"y\n",
                                        wrap=strace(self.path, "read:error=EIO:when=%d" % when))
                self.assertEqual(code, 0)
                self.assertEqual(out, self.found() + "mispatch(#): Mission number 9. sizeof=16\n"
                                 "mispatch(#): Cannot read file miss9.mis.\n")
                self.assertEqual(self.path.read_bytes(), self.before)


if __name__ == "__main__":
    unittest.main()
