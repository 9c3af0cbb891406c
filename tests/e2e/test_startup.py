"""Start-up: help, options, command words and the search for the game."""
import os
import subprocess
import unittest

from harness import LAUNCHER, ORBSET, UNDER_WINE, OrbsetTest, normalize, shown

HELP = """
Usage: orbset [command] [options]

Commands:

    misinfo   Show the current values.
              Nothing to do with misinformation.

    mispatch  Patch the values in *.mis file(s).


Options:
    -f <file>   operate on specified file
    -h          help
    -v <level>  verbosity level

This program replaces the stock moon in Thief 2: The Metal Age with a
more realistic one.  This is a texture replacement, but also the
color, alpha, rotation and phase are modified.

Requires ddfix (http://timeslip.chorrol.com/) with
Thief2Extensions on.

The easiest way to use this program is to place it anywhere under your
Thief2 installation directory and then just double-click on
orbset.exe. You'll be prompted on each file that is patched.

Only a single command may be specified. If no command is given, the
default is to execute mispatch. Options may appear in any order, the
last of conflicting options takes effect.

Thief2 installation directory is searched by starting at the current
working directory and going up the directory tree level by level until
thief2.exe is found. Any relative paths used with the -f option are
relative to this directory.

"""


def invalid_option(letter):
    return "main(#): ERROR: Invalid option '%s' or missing value. (Try orbset -h)\n" % letter


class Help(OrbsetTest):
    def test_every_trigger_shows_the_help_and_nothing_else(self):
        # Outside any installation, so a search would show in the output.
        for args in (["-h"], ["-H"], ["-help"], ["-hx"], ["misinfo", "-h"],
                     ["-f", "-hello"], ["-v", "-H"], ["-x", "-h"], ["bogus", "-Help"]):
            with self.subTest(args=args):
                self.check(args, HELP, status=1, cwd=self.tmp)

    def test_help_wins_over_verbosity_and_is_not_an_option_after_double_dash(self):
        self.check(["-v", "4", "-h"], HELP, status=1, cwd=self.tmp)
        self.check(["--", "-h"], HELP, status=1, cwd=self.tmp)


class Options(OrbsetTest):
    def test_invalid_options_and_missing_values(self):
        for args, letter in ((["-x"], "x"), (["-V", "2"], "V"), (["-v"], "v"),
                             (["misinfo", "-f"], "f"), (["-fa.mis", "-q"], "q"),
                             (["--help"], "-")):
            with self.subTest(args=args):
                # Reported before the search, so even outside an installation.
                self.check(args, invalid_option(letter), status=1, cwd=self.tmp)

    def test_options_before_or_after_the_command_word(self):
        self.install(missions=[])
        (self.game / "x.mis").write_bytes(b"")
        report = ("fileexists(#): File thief2.exe exists.\n" + self.found()
                  + "\nmisfile=x.mis\n\n")
        for args in (["-v", "2", "misinfo"], ["misinfo", "-v", "2"], ["misinfo", "-v2"],
                     ["-v2", "misinfo", "--"], ["-f", "x.mis", "-v", "2", "misinfo"]):
            with self.subTest(args=args):
                out, code = self.orbset(*args)
                self.assertEqual(code, 0)
                self.assertEqual(self.without_build_line(out), report)

    def test_posixly_correct_stops_at_the_first_non_option(self):
        self.install(missions=[])
        env = {"POSIXLY_CORRECT": "1"}
        self.check(["misinfo", "-x"], self.found(), env=env)
        self.check(["misinfo", "-v", "3"], self.found(), env=env)
        self.check(["-x", "misinfo"], invalid_option("x"), status=1, env=env)

    def test_verbosity_is_read_as_atoi_does(self):
        self.install(missions=[])
        entry = "chkw(#):  \n"
        cases = {"3": True, " 3": True, "+3": True, "3x": True, "03": True,
                 "abc": False, "-5": False, "2": False, "": False, "99999": True}
        for value, traced in cases.items():
            with self.subTest(value=value):
                out, code = self.orbset("-v", value, "misinfo")
                self.assertEqual(code, 0)
                self.assertEqual(entry in out, traced, out)

    def test_the_last_of_conflicting_options_wins(self):
        self.install(missions=[])
        self.check(["-v", "3", "-v", "0", "misinfo"], self.found())
        (self.game / "b.mis").write_bytes(b"")
        self.check(["misinfo", "-f", "a.mis", "-f", "b.mis"], self.found() + "\nmisfile=b.mis\n\n")


class Commands(OrbsetTest):
    def setUp(self):
        super().setUp()
        self.install(missions=[])

    patch_entry = "cmd_mispatch(#):  \nmispatch(#): name=miss1.mis\n"

    def start(self):
        return ("chkw(#):  \nsearchdir(#):  \nfileexists(#):  \n"
                "fileexists(#): File thief2.exe exists.\n" + self.found())

    def run_v3(self, *args):
        out, code = self.orbset("-v", "3", *args)
        self.assertEqual(code, 0)
        return self.without_build_line(out)

    def test_command_words_in_any_case(self):
        for word in ("misinfo", "MISINFO", "MisInfo"):
            self.assertEqual(self.run_v3(word), self.start() + "cmd_misinfo(#):  \n")
        for args in ([], ["mispatch"], ["MisPatch"], ["MISPATCH"]):
            self.assertTrue(self.run_v3(*args).startswith(self.start() + self.patch_entry))

    def test_a_level_is_never_a_command_word(self):
        # "misinfo" is taken as the level (0), so the patch command runs.
        self.check(["-v", "misinfo"], self.found())
        out, code = self.orbset("-v", "misinfo", "-v", "3")
        self.assertIn("cmd_mispatch(#):  \n", out)

    def test_further_words_are_ignored(self):
        self.assertEqual(self.run_v3("misinfo", "mispatch"), self.start() + "cmd_misinfo(#):  \n")
        self.assertTrue(self.run_v3("mispatch", "bogus").startswith(self.start() + self.patch_entry))

    def test_invalid_command_words_after_the_search(self):
        for word in ("misinf", "-", "info", "mispatchx"):
            with self.subTest(word=word):
                self.check([word], self.found()
                           + "main(#): ERROR: Invalid command %s. (Try orbset -h)\n" % word,
                           status=1)
        self.check(["--", "-v"], self.found()
                   + "main(#): ERROR: Invalid command -v. (Try orbset -h)\n", status=1)


class Output(OrbsetTest):
    @unittest.skipUnless(os.path.exists("/dev/full") and not UNDER_WINE, "needs /dev/full")
    def test_output_that_cannot_be_written_is_a_failure(self):
        self.install()
        with open("/dev/full", "wb") as full:
            status = subprocess.run(LAUNCHER + [ORBSET, "misinfo"], cwd=self.game,
                                    stdout=full, stdin=subprocess.DEVNULL, timeout=60).returncode
        self.assertEqual(status, 1)


class Search(OrbsetTest):
    def test_found_at_once_and_from_below(self):
        self.install(missions=[])
        self.check(["misinfo"], self.found())
        below = self.game / "a" / "b" / "c"
        below.mkdir(parents=True)
        self.check(["misinfo"], self.found(), cwd=below)

    def test_verbosity_shows_each_step(self):
        self.install(missions=[])
        below = self.game / "tools"
        below.mkdir()
        expected = ("chkw(#):  \nsearchdir(#):  \nsearchdir(#): %s\nfileexists(#):  \n"
                    "fileexists(#): File thief2.exe doesn't exist.\n"
                    "searchdir(#): %s\nfileexists(#):  \n"
                    "fileexists(#): File thief2.exe exists.\n"
                    % (shown(below), shown(self.game)))
        out, code = self.orbset("-v", "4", "misinfo", cwd=below)
        self.assertEqual(code, 0)
        head = expected + self.found() + "cmd_misinfo(#):  \n"
        body = self.without_build_line(out)
        self.assertEqual(body[:len(head)], head)
        # Then the report names each entry of the game folder, in its own order.
        entries = sorted(line[len("cmd_misinfo(#): dirent="):]
                         for line in body[len(head):].splitlines())
        self.assertEqual(entries, sorted([".", "..", "thief2.exe", "tools"]))

    @unittest.skipIf(UNDER_WINE, "Windows cannot remove a folder that is in use")
    def test_a_current_directory_that_was_removed(self):
        self.install(missions=[])
        gone = self.game / "gone"
        gone.mkdir()
        out = subprocess.run(["sh", "-c", 'cd "$1" && rmdir "$1" && exec "$2" misinfo', "sh",
                              str(gone), ORBSET], stdout=subprocess.PIPE, timeout=60)
        self.assertEqual((normalize(out.stdout), out.returncode),
                         ("searchdir(#): ERROR: getcwd()\n", 1))

    def test_outside_any_installation_the_search_fails_before_the_command(self):
        lost = self.tmp / "elsewhere"
        lost.mkdir()
        error = "searchdir(#): ERROR: Cannot find Thief2 installation directory.\n"
        self.check([], error, status=1, cwd=lost)
        self.check(["nonsense"], error, status=1, cwd=lost)

    @unittest.skipIf(UNDER_WINE, "Windows file names ignore case anyway")
    def test_thief2_exe_in_any_letter_case(self):
        below = self.game / "tools"
        below.mkdir()
        for exe in ("Thief2.exe", "THIEF2.EXE", "thief2.EXE"):
            with self.subTest(exe=exe):
                for old in self.game.glob("*.*"):
                    old.unlink()
                (self.game / exe).write_bytes(b"")
                out, code = self.orbset("misinfo", "-v", "2", cwd=below)
                self.assertEqual(code, 0)
                self.assertEqual(self.without_build_line(out),
                                 "fileexists(#): File thief2.exe doesn't exist.\n"
                                 "fileexists(#): File %s exists.\n" % exe + self.found())

    @unittest.skipIf(UNDER_WINE, "Windows file names ignore case anyway")
    def test_a_directory_named_thief2_exe_does_not_hide_the_game(self):
        (self.game / "thief2.exe").mkdir()
        (self.game / "Thief2.EXE").write_bytes(b"")
        self.check(["misinfo"], self.found(), cwd=self.game)

    def test_a_directory_named_thief2_exe_is_not_the_game(self):
        (self.game / "thief2.exe").mkdir()
        self.check(["misinfo"], "searchdir(#): ERROR: Cannot find Thief2 installation directory.\n",
                   status=1)

    @unittest.skipIf(UNDER_WINE, "Windows paths end at 260 characters, well before 128 levels")
    def test_at_most_128_directories_are_examined(self):
        self.install(missions=[])
        deep = self.game
        for _ in range(127):
            deep = deep / "d"
        deep.mkdir(parents=True)
        self.check(["misinfo"], self.found(), cwd=deep)
        (deep / "d").mkdir()
        self.check(["misinfo"], "searchdir(#): ERROR: Cannot find Thief2 installation directory.\n",
                   status=1, cwd=deep / "d")


if __name__ == "__main__":
    unittest.main()
