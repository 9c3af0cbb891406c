"""The report command, on one named file and on the game directory."""
import os
import shutil
import unittest

from harness import (OrbsetTest, REAL_MISSIONS, UNDER_WINE, enable, misgen,
                     record_line, strace, tag_offsets)

MOON, STAR3 = 328, 984  # record offsets in a generated mission


def founds(worker, *offsets):
    return "".join("%s(#): Found CELOBJVAR at 0x%x\n" % (worker, o) for o in offsets)


class NamedFile(OrbsetTest):
    def setUp(self):
        super().setUp()
        self.install(missions=[])

    def test_the_enabled_records_of_a_mission(self):
        data = misgen.mission(5)
        (self.game / "m.mis").write_bytes(data)
        self.check(["misinfo", "-f", "m.mis"],
                   self.found() + "\nmisfile=m.mis\n\n" + record_line(data[MOON:MOON + 328]))

    def test_verbosity_two_shows_every_tag_found(self):
        data = misgen.mission(5)
        (self.game / "m.mis").write_bytes(data)
        out, code = self.orbset("misinfo", "-f", "m.mis", "-v", "2")
        self.assertEqual(code, 0)
        self.assertEqual(self.without_build_line(out),
                         "fileexists(#): File thief2.exe exists.\n" + self.found()
                         + "\nmisfile=m.mis\n\n" + founds("misinfo", MOON)
                         + record_line(data[MOON:MOON + 328])
                         + founds("misinfo", *tag_offsets(data)[1:]))

    def test_any_file_name_and_a_path_relative_to_the_game(self):
        (self.game / "levels").mkdir()
        data = enable(misgen.mission(2), STAR3)
        (self.game / "levels" / "notes.txt").write_bytes(data)
        below = self.game / "tools"
        below.mkdir()
        self.check(["misinfo", "-f", "levels/notes.txt"],
                   self.found() + "\nmisfile=levels/notes.txt\n\n"
                   + record_line(data[MOON:MOON + 328]) + record_line(data[STAR3:STAR3 + 328]),
                   cwd=below)

    def test_files_without_enabled_records_show_only_their_header(self):
        (self.game / "empty.mis").write_bytes(b"")
        (self.game / "text.mis").write_bytes(b"celobjvar1" + bytes(400) + b"CELOBJVA")
        rec = misgen.celobj(1, ena=2, tex="x")
        (self.game / "two.mis").write_bytes(rec + misgen.celobj(2, ena=0))
        for name in ("empty.mis", "text.mis", "two.mis"):
            self.check(["misinfo", "-f", name], self.found() + "\nmisfile=%s\n\n" % name)

    def test_a_record_cut_off_by_the_end_of_the_file(self):
        rec = misgen.celobj(7, ena=1, fog=1, tex="cut", siz=3.5)
        (self.game / "cut.mis").write_bytes(bytes(5000) + rec[:40])
        self.check(["misinfo", "-f", "cut.mis"], self.found() + "\nmisfile=cut.mis\n\n"
                   + record_line(rec[:40] + bytes(288)))

    def test_a_file_that_cannot_be_opened_ends_the_run(self):
        self.check(["misinfo", "-f", "nope.mis"], self.found() + "\nmisfile=nope.mis\n\n"
                   "misinfo(#): ERROR: Cannot open file nope.mis.\n", status=1)
        (self.game / "dir.mis").mkdir()
        self.check(["misinfo", "-f", "dir.mis"], self.found() + "\nmisfile=dir.mis\n\n"
                   "misinfo(#): ERROR: Cannot open file dir.mis.\n", status=1)

    @unittest.skipIf(UNDER_WINE, "needs strace on Linux")
    def test_a_read_error_in_the_middle_of_the_scan_ends_the_run(self):
        data = enable(misgen.mission(5), MOON) * 40
        (self.game / "m.mis").write_bytes(data)
        # The second read of the file fails; the first is a whole window.
        out, code = self.orbset(
            "misinfo", "-f", "m.mis",
            wrap=strace(self.game / "m.mis", "read:error=EIO:when=2"))
        self.assertEqual(code, 1)
        self.assertTrue(out.startswith(self.found() + "\nmisfile=m.mis\n\n"), out)
        self.assertTrue(out.endswith("misinfo(#): ERROR: Cannot read file m.mis.\n"), out)

    def test_wildcards_among_the_arguments(self):
        data = misgen.mission(5)
        (self.game / "miss5.mis").write_bytes(data)
        out, code = self.orbset("misinfo", "-f", "m*5.mis")
        if UNDER_WINE:
            # The Windows program expands them itself, as a shell would.
            self.assertEqual((out, code), (self.found() + "\nmisfile=miss5.mis\n\n"
                                           + record_line(data[MOON:MOON + 328]), 0))
        else:
            self.assertEqual((out, code), (self.found() + "\nmisfile=m*5.mis\n\n"
                                           "misinfo(#): ERROR: Cannot open file m*5.mis.\n", 1))

    def test_a_record_beyond_2_gib(self):
        offset = 0x80001234
        rec = misgen.celobj(1, ena=1, tex="far", siz=2.0)
        with open(self.game / "big.mis", "wb") as f:
            f.seek(offset)
            f.write(rec)
        out, code = self.orbset("misinfo", "-f", "big.mis", "-v", "2")
        self.assertEqual(code, 0)
        self.assertTrue(out.endswith("\nmisfile=big.mis\n\n" + founds("misinfo", offset)
                                     + record_line(rec)), out)


class Listing(OrbsetTest):
    def listed(self, *names):
        """The names as the directory listing delivers them."""
        order = os.listdir(self.game)
        return sorted(names, key=order.index)

    def test_every_mis_file_in_any_case_and_nothing_else(self):
        self.install(missions=[])
        files = {"miss1.mis": 1, "MISS2.MIS": 2, "miss4.Mis": 4, "a.mis": 5, ".mis": 8}
        for name, number in files.items():
            (self.game / name).write_bytes(misgen.mission(number))
        for name in ("miss1.mis.bak", "mis", "miss6.mi", "mis.txt"):
            (self.game / name).write_bytes(misgen.mission(6))
        (self.game / "sub").mkdir()
        (self.game / "sub" / "miss7.mis").write_bytes(misgen.mission(7))
        reports = {name: "\nmisfile=%s\n\n" % name
                   + record_line(misgen.mission(number)[MOON:MOON + 328])
                   for name, number in files.items()}
        out, code = self.orbset("misinfo")
        self.assertEqual(code, 0)
        if UNDER_WINE:
            # Wine lists a folder in an order of its own.
            order = [line[len("misfile="):] for line in out.splitlines()
                     if line.startswith("misfile=")]
            self.assertEqual(sorted(order), sorted(files))
        else:
            order = self.listed(*files)
        self.assertEqual(out, self.found() + "".join(reports[name] for name in order))

    def test_a_game_directory_without_missions(self):
        self.install(missions=[])
        self.check(["misinfo"], self.found())
        out, code = self.orbset("misinfo", "-v", "2")
        self.assertEqual(self.without_build_line(out),
                         "fileexists(#): File thief2.exe exists.\n" + self.found())

    def test_verbosity_four_names_every_entry(self):
        self.install(missions=["miss1.mis"])
        (self.game / "sub").mkdir()
        out, code = self.orbset("misinfo", "-v", "4")
        self.assertEqual(code, 0)
        body = out[out.index("cmd_misinfo(#):  \n") + len("cmd_misinfo(#):  \n"):]
        lines = [l for l in body.splitlines() if l.startswith("cmd_misinfo(#): dirent=")]
        self.assertEqual(sorted(l.split("=", 1)[1] for l in lines),
                         sorted([".", "..", "sub", "thief2.exe", "miss1.mis"]))
        self.assertIn("cmd_misinfo(#): dirent=miss1.mis\n\nmisfile=miss1.mis\n\n"
                      + founds("misinfo", MOON), body)

    @unittest.skipIf(UNDER_WINE, "needs strace on Linux")
    def test_a_listing_that_fails_part_way_ends_the_run(self):
        # Many entries, so that the listing takes more than one read.
        self.install(missions=["miss1.mis"])
        for i in range(2000):
            (self.game / ("note%04d.txt" % i)).write_bytes(b"")
        out, code = self.orbset("misinfo",
                                wrap=strace(self.game, "getdents,getdents64:error=EIO:when=2"))
        self.assertEqual(code, 1)
        self.assertTrue(out.endswith("cmd_misinfo(#): ERROR: Cannot read current directory.\n"),
                        out)

    def test_a_directory_named_like_a_mission_ends_the_run(self):
        self.install(missions=[])
        (self.game / "old.mis").mkdir()
        self.check(["misinfo"], self.found() + "\nmisfile=old.mis\n\n"
                   "misinfo(#): ERROR: Cannot open file old.mis.\n", status=1)


# In CI the files must be there; elsewhere they may be missing.
@unittest.skipUnless(REAL_MISSIONS.is_dir() or os.environ.get("CI") == "true",
                     "the fan-made mission files are not here")
class RealMissions(OrbsetTest):
    FILES = ("newsky.mis", "hlsky.mis", "roll.mis", "miss20.mis")

    def test_every_tag_is_found_and_none_is_enabled(self):
        self.install(missions=[])
        for name in self.FILES:
            with self.subTest(name=name):
                data = (REAL_MISSIONS / name).read_bytes()
                offsets = tag_offsets(data)
                self.assertEqual(len(offsets), 6)
                shutil.copy(REAL_MISSIONS / name, self.game / name)
                out, code = self.orbset("misinfo", "-v", "2", "-f", name)
                self.assertEqual(code, 0)
                self.assertTrue(out.endswith("\nmisfile=%s\n\n" % name
                                             + founds("misinfo", *offsets)), out)

    def test_an_enabled_moon_is_reported_with_its_values(self):
        self.install(missions=[])
        for name in self.FILES:
            with self.subTest(name=name):
                data = (REAL_MISSIONS / name).read_bytes()
                moon = tag_offsets(data)[0]
                data = enable(data, moon)
                (self.game / name).write_bytes(data)
                self.check(["misinfo", "-f", name], self.found() + "\nmisfile=%s\n\n" % name
                           + record_line(data[moon:moon + 328]))


if __name__ == "__main__":
    unittest.main()
