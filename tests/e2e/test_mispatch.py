"""The patch command: the dialogue, the table, the answers, the faults."""
import fcntl
import os
import pwd
import select
import struct
import subprocess
import unittest

from harness import (LAUNCHER, ORBSET, OrbsetTest, REAL_MISSIONS, UNDER_WINE,
                     enable, hostname, misgen, normalize, record_line, strace, tag_offsets)

PROMPT = ("\nPatching is not undoable. Information will be lost.\n"
          "Are you sure you've made backups and want to continue (y/n)? ")


def f32(value):
    return struct.pack("<f", value)


# The new moon of each mission, written out again from the table the
# program is meant to carry. Row 1's colour is given by its bits.
ROWS = {
    1: ("pmoon08.pcx", 8, 220, [bytes.fromhex(b)[::-1] for b in ("3f3a06d4", "3f11b4e8", "3e658bf2")]),
    2: ("pmoon09.pcx", 6, 240, (1, 1, 1)),
    4: ("pmoonfr.pcx", 7, 230, (0.9, 0.9, 1)),
    5: ("pmoon06.pcx", 7, 250, (0.56, 0.56, 0.35)),
    6: ("pmoon06.pcx", 6, 270, (0.63, 0.63, 0.49)),
    7: ("pmoon07.pcx", 6, 250, (1, 1, 1)),
    8: ("pmoon09.pcx", 7, 210, (1, 1, 1)),
    9: ("pmoon08.pcx", 7, 200, (0.72, 0.72, 0.8)),
    10: ("pmoon09.pcx", 7, 210, (1, 1, 1)),
    11: ("pmoon03.pcx", 6, 340, (1, 1, 1)),
    12: ("pmoon05.pcx", 7, 330, (0.65, 0.65, 0.65)),
    13: ("pmoonec.pcx", 7, 330, (0.3, 0.3, 0.3)),
    16: ("pmoon08.pcx", 7, 220, (0.63, 0.63, 0.7)),
}

# Bytes of the record the patch may change: fog, tex, a, siz, rot, col.
CHANGED = set(range(28, 32)) | set(range(36, 296)) | set(range(300, 304)) | set(range(312, 328))


def patched(rec, number):
    """The record as the patch for mission number must leave it."""
    tex, siz, rot, col = ROWS[number]
    col = [c if isinstance(c, bytes) else f32(c) for c in col]
    rec = bytearray(rec)
    rec[28:32] = struct.pack("<i", 1)
    rec[36:292] = tex.encode().ljust(256, b"\0")
    rec[292:296] = f32(1.0)
    rec[300:304] = f32(siz)
    rec[312:316] = f32(rot)
    rec[316:328] = b"".join(col)
    return bytes(rec)


def dialogue(name, old, new, answer_yes=True):
    """The dialogue for one file; with answer_yes None, up to the prompt."""
    text = "\nPatching file %s:\nOld values:\n%sNew values:\n%s%s" % (
        name, record_line(old), record_line(new), PROMPT)
    if answer_yes is None:
        return text
    return text + ("%s patched.\n" % name if answer_yes else "No changes made to %s.\n" % name)


def moon(data):
    """Offset of the first enabled record."""
    for at in tag_offsets(data):
        if struct.unpack_from("<i", data, at + 24)[0] == 1:
            return at
    return None


class PatchTest(OrbsetTest):
    def assert_patched_only_there(self, before, after, offset, number):
        """after differs from before only in the patched fields at offset."""
        self.assertEqual(len(after), len(before))
        self.assertEqual(after[:offset], before[:offset])
        self.assertEqual(after[offset + 328:], before[offset + 328:])
        old, new = before[offset:offset + 328], after[offset:offset + 328]
        self.assertEqual(new, patched(old, number))
        for i in range(328):
            if i not in CHANGED:
                self.assertEqual(new[i], old[i], "byte %d of the record" % i)

    def mission_file(self, name, data):
        (self.game / hostname(name)).write_bytes(data)
        return data


class DefaultRun(PatchTest):
    def test_all_thirteen_missions_answered_yes(self):
        self.install()
        before = {n: (self.game / n).read_bytes() for n in misgen.STOCK}
        expected = self.found()
        for name in misgen.STOCK:
            number = int(name[4:-4])
            old = before[name][moon(before[name]):][:328]
            expected += dialogue(name, old, patched(old, number))
        self.check([], expected, input=b"y\n" * 13)
        for name in misgen.STOCK:
            with self.subTest(name=name):
                after = (self.game / name).read_bytes()
                self.assert_patched_only_there(before[name], after, moon(before[name]),
                                               int(name[4:-4]))

    def test_a_second_run_shows_the_new_values_and_changes_nothing(self):
        self.install(missions=["miss1.mis", "miss16.mis"])
        self.check(["mispatch"], self.found() + "".join(
            dialogue(n, *self.records(n)) for n in ("miss1.mis", "miss16.mis")), input=b"y y")
        first = {n: (self.game / n).read_bytes() for n in ("miss1.mis", "miss16.mis")}
        again = "".join(dialogue(n, first[n][328:656], first[n][328:656])
                        for n in ("miss1.mis", "miss16.mis"))
        self.check([], self.found() + again, input=b"y\ny\n")
        for name, data in first.items():
            self.assertEqual((self.game / name).read_bytes(), data)

    def records(self, name):
        data = (self.game / name).read_bytes()
        old = data[328:656]
        return old, patched(old, int(name[4:-4]))

    def test_answers(self):
        self.install(missions=["miss1.mis", "miss2.mis", "miss4.mis", "miss5.mis",
                               "miss6.mis", "miss7.mis"])
        cases = [
            (b"n\nY\nyes\nyep\nx\n", [False, True, True, True, False, False]),
            (b"\n\n  \n y n Yes\nno\n\nyy", [True, False, True, False, True, False]),
            (b"", [False] * 6),
            (b"NO y", [False, True, False, False, False, False]),
        ]
        names = ["miss1.mis", "miss2.mis", "miss4.mis", "miss5.mis", "miss6.mis", "miss7.mis"]
        pristine = {n: (self.game / n).read_bytes() for n in names}
        for answers, yes in cases:
            with self.subTest(answers=answers):
                for n in names:
                    (self.game / n).write_bytes(pristine[n])
                expected = self.found()
                for name, y in zip(names, yes):
                    old = pristine[name][328:656]
                    expected += dialogue(name, old, patched(old, int(name[4:-4])), y)
                self.check([], expected, input=answers)
                for name, y in zip(names, yes):
                    changed = (self.game / name).read_bytes() != pristine[name]
                    self.assertEqual(changed, y, name)

    def test_verbosity_one_and_three(self):
        self.install(missions=["miss2.mis"])
        out, code = self.orbset("-v", "1", input=b"n")
        self.assertEqual(code, 0)
        old = (self.game / "miss2.mis").read_bytes()[328:656]
        notices = "".join("mispatch(#): Cannot open file %s.\n" % n if n != "miss2.mis" else
                          "mispatch(#): Mission number 2. sizeof=16\n" + dialogue(n, old, patched(old, 2), False)
                          for n in misgen.STOCK)
        self.assertEqual(out, self.found() + notices)

        out, code = self.orbset("-v", "3", input=b"n")
        self.assertEqual(code, 0)
        traces = "".join(
            "mispatch(#): name=%s\n" % n + ("mispatch(#): Cannot open file %s.\n" % n if n != "miss2.mis" else
                                           "mispatch(#): Mission number 2. sizeof=16\n"
                                           "mispatch(#): Found CELOBJVAR at 0x148\n"
                                           + dialogue(n, old, patched(old, 2), False).replace(
                                               PROMPT, "confirm(#):  \n" + PROMPT))
            for n in misgen.STOCK)
        self.assertEqual(self.without_build_line(out),
                         "chkw(#):  \nsearchdir(#):  \nfileexists(#):  \n"
                         "fileexists(#): File thief2.exe exists.\n" + self.found()
                         + "cmd_mispatch(#):  \n" + traces)

    def test_nothing_installed_prints_nothing(self):
        self.install(missions=[])
        self.check([], self.found())


class NamedFile(PatchTest):
    def setUp(self):
        super().setUp()
        self.install(missions=[])

    def test_missions_without_a_new_moon_are_refused(self):
        for number in (3, 14, 15, 0, 17, -1, 2147483647, -2147483648):
            name = "miss%d.mis" % number
            data = self.mission_file(name, misgen.mission(5))
            with self.subTest(name=name):
                self.check(["-f", name, "-v", "1"], self.found()
                           + "mispatch(#): Mission number %d. sizeof=16\n" % number
                           + "mispatch(#): Don't know how to patch mission number %d.\n" % number,
                           input=b"y")
                self.check(["-f", name], self.found(), input=b"y")
                self.assertEqual((self.game / name).read_bytes(), data)

    def test_the_mission_number_comes_from_the_base_name(self):
        (self.game / "levels").mkdir()
        (self.game / "a" / "b").mkdir(parents=True)
        for name in ("levels/miss5.mis", "levels\\miss5.mis", "miss5.mis.bak", "miss5_old.mis",
                     "a/b\\miss05x", "miss 5.mis", "miss+5.mis"):
            with self.subTest(name=name):
                before = self.mission_file(name, misgen.mission(9))
                self.check(["-f", name, "-v", "1"], self.found()
                           + "mispatch(#): Mission number 5. sizeof=16\n"
                           + dialogue(name, before[328:656], patched(before[328:656], 5)),
                           input=b"y")
                self.assert_patched_only_there(before, (self.game / hostname(name)).read_bytes(), 328, 5)

    def test_names_without_a_mission_number(self):
        (self.game / "levels").mkdir()
        # A number too large for an int is none: it must not wrap into another.
        for name in ("Miss5.mis", "MISS5.MIS", "mission.mis", "levels\\x.mis", "5.mis",
                     "miss4294967297.mis", "miss99999999999999999999.mis", "miss-.mis"):
            with self.subTest(name=name):
                data = self.mission_file(name, misgen.mission(5))
                self.check(["-f", name, "-v", "1"], self.found()
                           + "mispatch(#): Cannot get mission number for file %s.\n" % name)
                self.assertEqual((self.game / hostname(name)).read_bytes(), data)

    def test_a_missing_file_is_skipped(self):
        self.mission_file("MISS5.MIS.bak", misgen.mission(5))  # a backup is not the file
        self.check(["-f", "miss5.mis", "-v", "1"], self.found()
                   + "mispatch(#): Cannot open file miss5.mis.\n")
        (self.game / "miss6.mis").mkdir()
        self.check(["-f", "miss6.mis", "-v", "1"], self.found()
                   + "mispatch(#): Cannot open file miss6.mis.\n")

    def test_the_first_enabled_record_is_patched_and_only_it(self):
        data = enable(enable(misgen.mission(4), 984), 656)
        data = data[:328] + misgen.celobj(1, ena=0, tex="off") + data[656:]
        self.mission_file("miss4.mis", data)
        self.check(["-f", "miss4.mis"], self.found()
                   + dialogue("miss4.mis", data[656:984], patched(data[656:984], 4)), input=b"y")
        after = (self.game / "miss4.mis").read_bytes()
        self.assert_patched_only_there(data, after, 656, 4)

    def test_files_without_an_enabled_record_are_skipped(self):
        for content in (b"", misgen.misfile([misgen.celobj(1, ena=0), misgen.celobj(2, ena=2)]),
                        b"celobjvar" + struct.pack("<i", 1) * 100):
            with self.subTest(content=content[:20]):
                self.mission_file("miss7.mis", content)
                self.check(["-f", "miss7.mis", "-v", "1"], self.found()
                           + "mispatch(#): Mission number 7. sizeof=16\n"
                           + "mispatch(#): I don't know what to do with file miss7.mis.\n",
                           input=b"y")
                self.assertEqual((self.game / "miss7.mis").read_bytes(), content)

    def test_a_record_cut_off_by_the_end_of_the_file_is_not_written(self):
        for keep in (9, 100, 327):
            with self.subTest(keep=keep):
                data = bytes(1000) + misgen.celobj(1, ena=1)[:keep]
                self.mission_file("miss7.mis", data)
                self.check(["-f", "miss7.mis", "-v", "1"], self.found()
                           + "mispatch(#): Mission number 7. sizeof=16\n"
                           + "mispatch(#): I don't know what to do with file miss7.mis.\n",
                           input=b"y")
                self.assertEqual((self.game / "miss7.mis").read_bytes(), data)
        # Exactly at the end: the whole record is in the file.
        data = self.mission_file("miss7.mis", bytes(1000) + misgen.celobj(1, ena=1))
        self.check(["-f", "miss7.mis"], self.found()
                   + dialogue("miss7.mis", data[1000:], patched(data[1000:], 7)), input=b"y")

    def test_a_record_beyond_4_gib_is_written_at_its_true_offset(self):
        offset = 0x180001234  # above 4 GiB, with bit 31 set as well
        rec = misgen.celobj(1, ena=1, tex="far", siz=2.0)
        with open(self.game / "miss12.mis", "wb") as f:
            f.seek(offset)
            f.write(rec + b"tail")
        out, code = self.orbset("-f", "miss12.mis", "-v", "2", input=b"y")
        self.assertEqual(code, 0)
        self.assertIn("mispatch(#): Found CELOBJVAR at 0x180001234\n", out)
        self.assertTrue(out.endswith(dialogue("miss12.mis", rec, patched(rec, 12))), out)
        with open(self.game / "miss12.mis", "rb") as f:
            f.seek(offset - 16)
            self.assertEqual(f.read(), bytes(16) + patched(rec, 12) + b"tail")


@unittest.skipIf(UNDER_WINE, "Windows file names ignore case anyway")
class LetterCase(PatchTest):
    def test_an_installation_named_in_upper_case(self):
        self.install(missions=[], exe="THIEF2.EXE")
        names = {}
        for stock in misgen.STOCK:
            names[stock] = stock.upper() if stock != "miss7.mis" else "Miss7.Mis"
            self.mission_file(names[stock], misgen.mission(int(stock[4:-4])))
        before = {n: (self.game / n).read_bytes() for n in names.values()}
        expected = self.found()
        for stock, name in names.items():
            old = before[name][328:656]
            expected += dialogue(name, old, patched(old, int(stock[4:-4])))
        self.check([], expected, input=b"y\n" * 13)
        for stock, name in names.items():
            self.assert_patched_only_there(before[name], (self.game / name).read_bytes(), 328,
                                           int(stock[4:-4]))

    def test_the_exact_name_wins_then_the_first_in_byte_order(self):
        self.install(missions=[])
        data = misgen.mission(5)
        for name in ("Miss5.mis", "mISS5.mIS", "MISS5.MIS", "miss5.mis", "MiSS5.MIS"):
            self.mission_file(name, data)
        self.check([], self.found() + dialogue("miss5.mis", data[328:656], patched(data[328:656], 5)),
                   input=b"y")
        for name in ("MISS5.MIS", "Miss5.mis"):
            self.assertEqual((self.game / name).read_bytes(), data)
        # Even when it cannot be opened: its twins are never touched.
        self.check(["-f", "miss5.mis", "-v", "1"], self.found() + "mispatch(#): Cannot open file "
                   "miss5.mis.\n", input=b"y", wrap=strace("miss5.mis", "open,openat:error=EACCES"))
        self.assertEqual((self.game / "MISS5.MIS").read_bytes(), data)

        (self.game / "miss5.mis").unlink()
        # Whatever the order of the listing: 'I' (0x49) comes before 'i'.
        first = "MISS5.MIS"
        self.check(["-v", "1"], self.found() + "".join(
            "mispatch(#): Cannot open file %s.\n" % n for n in misgen.STOCK[:3])
            + "mispatch(#): Mission number 5. sizeof=16\n"
            + dialogue(first, data[328:656], patched(data[328:656], 5), False)
            + "".join("mispatch(#): Cannot open file %s.\n" % n for n in misgen.STOCK[4:]),
            input=b"n")

    def test_a_folder_with_the_stock_name_does_not_hide_the_file(self):
        self.install(missions=[])
        (self.game / "miss5.mis").mkdir()
        data = self.mission_file("MISS5.MIS", misgen.mission(5))
        self.check([], self.found() + dialogue("MISS5.MIS", data[328:656], patched(data[328:656], 5)),
                   input=b"y")
        self.assert_patched_only_there(data, (self.game / "MISS5.MIS").read_bytes(), 328, 5)

    def test_a_named_file_is_found_in_any_case_and_shown_as_given(self):
        # Folder by folder, as Windows finds it, in every script; the
        # mission number comes from the name as given, where "miss" is
        # matched exactly.
        self.install(missions=[])
        data = misgen.mission(5)
        rec = data[328:656]
        for given, ondisk, numbered in (("miss5.mis", "MISS5.MIS", True),
                                       ("levels/miss5.mis", "LEVELS/Miss5.MIS", True),
                                       (str(self.game).upper() + "/Levels/miss5.MIS", "LEVELS/Miss5.MIS", True),
                                       # An empty LEVELS first in byte order.
                                       ("levels/miss5.mis", "Levels/miss5.mis", True),
                                       ("MISS5.MIS", "miss5.mis", False),
                                       ("игры/вор 2/miss5.mis", "Игры/ВОР 2/MISS5.MIS", True),
                                       ("θεός/miss5.mis", "ΘΕΌΣ/miss5.mis", True),
                                       ("trò chơi điện tử/miss5.mis", "TRÒ CHƠI ĐIỆN TỬ/miss5.mis",
                                        True),
                                       # In Latin-1, no UTF-8: É is a byte of its own.
                                       ("\udcc9gypte/miss5.mis", "\udcc9GYPTE/miss5.mis", True)):
            with self.subTest(given=given):
                (self.game / ondisk).parent.mkdir(parents=True, exist_ok=True)
                self.mission_file(ondisk, data)
                printed = os.fsencode(given).decode("latin-1")  # as the output is read
                self.check(["misinfo", "-f", given],
                           self.found() + "\nmisfile=%s\n\n" % printed + record_line(rec))
                said = ("mispatch(#): Mission number 5. sizeof=16\n"
                        + dialogue(printed, rec, patched(rec, 5))
                        if numbered else "mispatch(#): Cannot get mission number for file %s.\n" % given)
                self.check(["-f", given, "-v", "1"], self.found() + said, input=b"y")
                after = (self.game / ondisk).read_bytes()
                self.assertEqual(after, data[:328] + patched(rec, 5) + data[656:] if numbered else data)
                (self.game / ondisk).unlink()


class Replaced(PatchTest):
    def setUp(self):
        super().setUp()
        self.install(missions=["miss5.mis"])
        self.before = {"miss5.mis": (self.game / "miss5.mis").read_bytes()}

    def old(self, name):
        return self.before[name][328:656]

    def test_a_file_replaced_while_the_prompt_waits(self):
        data = self.before["miss5.mis"]
        # Another record; cut short inside the record, or before it.
        for replaced in (enable(misgen.mission(6), 328), data[:500], data[:100]):
            with self.subTest(size=len(replaced)):
                (self.game / "miss5.mis").write_bytes(data)
                environ = dict(os.environ)
                environ.pop("POSIXLY_CORRECT", None)
                proc = subprocess.Popen(LAUNCHER + [ORBSET, "-f", "miss5.mis"], cwd=self.game,
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=environ)
                self.addCleanup(proc.kill)
                out = self.read_until(proc, b"(y/n)? ")
                (self.game / "miss5.mis").write_bytes(replaced)
                rest, _ = proc.communicate(b"y\n", timeout=60)
                self.assertEqual(proc.returncode, 1)
                self.assertEqual(normalize(out + rest), self.found() + dialogue(
                    "miss5.mis", self.old("miss5.mis"), patched(self.old("miss5.mis"), 5), None)
                    + "mispatch(#): ERROR: miss5.mis changed since it was read.\n")
                self.assertEqual((self.game / "miss5.mis").read_bytes(), replaced)

    def read_until(self, proc, marker):
        out = b""
        while not out.endswith(marker):
            ready, _, _ = select.select([proc.stdout], [], [], 60)
            self.assertTrue(ready, "no prompt: %r" % out)
            chunk = os.read(proc.stdout.fileno(), 4096)
            self.assertTrue(chunk, "output ended before the prompt: %r" % out)
            out += chunk
        return out


@unittest.skipIf(UNDER_WINE, "needs setpriv, on Linux")
class Faults(PatchTest):
    def setUp(self):
        super().setUp()
        self.install(missions=["miss1.mis", "miss5.mis", "miss6.mis"])
        self.before = {n: (self.game / n).read_bytes() for n in ("miss1.mis", "miss5.mis", "miss6.mis")}

    def old(self, name):
        return self.before[name][328:656]

    def test_a_file_that_cannot_be_opened_for_update(self):
        # Read-only to this user, or held by another program with flock
        # past the 5 seconds that a holder is waited for (an fcntl lock:
        # test_faults.LockedElsewhere).
        nobody = pwd.getpwnam("nobody")
        os.chmod(self.tmp, 0o755)
        os.chmod(self.game, 0o755)
        for name in self.before:
            os.chmod(self.game / name, 0o644)
        asnobody = ["setpriv", "--reuid=%d" % nobody.pw_uid, "--regid=%d" % nobody.pw_gid,
                    "--clear-groups"]
        for wrap, lock in ((asnobody, None), ([], fcntl.flock)):
            with self.subTest(lock=lock and lock.__name__):
                with open(self.game / "miss1.mis", "r+b") as held:
                    if lock:
                        lock(held, fcntl.LOCK_EX)
                    out, code = self.orbset(wrap=wrap, input=b"y y y")
                self.assertEqual(code, 1)
                self.assertEqual(out, self.found() + dialogue("miss1.mis", self.old("miss1.mis"),
                                                              patched(self.old("miss1.mis"), 1), None)
                                 + "mispatch(#): ERROR: Cannot open miss1.mis for writing.\n")
                for name, data in self.before.items():
                    self.assertEqual((self.game / name).read_bytes(), data)


@unittest.skipUnless(REAL_MISSIONS.is_dir() or os.environ.get("CI") == "true",
                     "the fan-made mission files are not here")
class RealMissions(PatchTest):
    def test_an_enabled_moon_patched_as_mission_9(self):
        self.install(missions=[])
        for source in ("newsky.mis", "hlsky.mis", "roll.mis", "miss20.mis"):
            with self.subTest(source=source):
                data = (REAL_MISSIONS / source).read_bytes()
                at = tag_offsets(data)[0]
                data = self.mission_file("miss9.mis", enable(data, at))
                self.check(["-f", "miss9.mis"], self.found()
                           + dialogue("miss9.mis", data[at:at + 328], patched(data[at:at + 328], 9)),
                           input=b"y")
                after = (self.game / "miss9.mis").read_bytes()
                self.assert_patched_only_there(data, after, at, 9)
                # The game's table of contents still names every chunk where it was.
                self.assertEqual(misgen.readtoc(after), misgen.readtoc(data))
                toc = {name: off for name, off, _ in misgen.readtoc(after)}
                self.assertEqual(toc["CELOBJVAR1"], at)
                tex, siz, rot, col = struct.unpack_from("<256s4x4x4s4x4x4s12s", after, at + 36)
                self.assertEqual(tex.split(b"\0")[0], b"pmoon08.pcx")
                self.assertEqual((siz, rot, col), (f32(7), f32(200), f32(0.72) * 2 + f32(0.8)))


if __name__ == "__main__":
    unittest.main()
