"""Folders and files named in any script: found, listed, opened, patched
and printed as named. On Windows the program's text is UTF-8; on Linux a
name is the bytes the file system holds."""
import fcntl
import os
import pty
import re
import select
import struct
import subprocess
import termios
import unittest

from harness import (LAUNCHER, ORBSET, UNDER_WINE, OrbsetTest, environment, misgen,
                     normalize, record_line, shown, strace)
from test_mispatch import PatchTest, dialogue, patched

FOLDERS = ["Игры/Вор 2", "ゲーム/シーフ", "Jeux/Thïef Gold édition", "🎮 games/thief"]
# name -> mission number it patches as, or None for no mission
FILES = {
    "miss5 — копия.mis": 5,
    "miss6-копия.mis": 6,
    "miss7_表.mis": 7,  # 表 ends in the byte 0x5C in code page 932
    "miss9 🌙.mis": 9,
    "miss12-Ünïcødé.mis": 12,
    "луна.mis": None,
}
# Textures with control characters, as a terminal shows them: a '?' each.
TEXTURES = {
    "miss1.mis": (b"\x1b[2J\x1b[H\x1b]0;owned\x07", "?[2J?[H?]0;owned?"),
    "miss2.mis": (b"del\x7f c1\xc2\x9b bare\x9b", "del? c1? bare?"),
    "луна.mis": ("Луна".encode(), "Луна"),
}
if not UNDER_WINE:  # a Windows name holds no control character
    TEXTURES["a\x1b[31mred.mis"] = (b"moon", "moon")
ESCAPED = "x\x1b]0;owned\x07.mis"  # a name given with -f; no such file
TITLE = "\x1b]0;owned\x07"  # retitles a terminal's window


def utf8(out):
    """The program's output, read as UTF-8 (the harness reads it byte for byte)."""
    return out.encode("latin-1").decode("utf-8")


class Names(PatchTest):
    def place(self, folder):
        """A game folder and a start folder below it, both with the name."""
        self.game = self.tmp.joinpath(*folder.split("/"))
        self.start = self.game / folder.split("/")[0]
        self.start.mkdir(parents=True)
        self.install(missions=[])
        data = {}
        for name, number in FILES.items():
            data[name] = misgen.mission(number or 1)
            (self.game / name).write_bytes(data[name])
        return data

    def test_the_report_lists_every_file_as_named(self):
        for folder in FOLDERS:
            with self.subTest(folder=folder):
                data = self.place(folder)
                out, code = self.orbset("misinfo", cwd=self.start)
                self.assertEqual(code, 0)
                out = utf8(out)
                self.assertTrue(out.startswith("Thief2 directory is %s.\n" % shown(self.game)), out)
                # In the listing's order, which is the file system's own.
                reports = out.split("\nmisfile=")[1:]
                self.assertEqual(sorted(r.split("\n")[0] for r in reports), sorted(FILES))
                for report in reports:
                    name = report.split("\n")[0]
                    rec = data[name][328:656]
                    self.assertEqual(report, "%s\n\n%s" % (name, record_line(rec)))

    def test_a_named_file_is_patched_with_the_row_of_its_number(self):
        data = self.place(FOLDERS[0])
        for name, number in FILES.items():
            with self.subTest(name=name):
                out, code = self.orbset("-v", "1", "-f", name, input=b"y\n", cwd=self.start)
                out = utf8(out)
                after = (self.game / name).read_bytes()
                if number is None:
                    self.assertEqual(out, self.found()
                                     + "mispatch(#): Cannot get mission number for file %s.\n" % name)
                    self.assertEqual(after, data[name])
                    continue
                old = data[name][328:656]
                self.assertEqual(code, 0)
                self.assertEqual(out, self.found()
                                 + "mispatch(#): Mission number %d. sizeof=16\n" % number
                                 + dialogue(name, old, patched(old, number)))
                self.assert_patched_only_there(data[name], after, 328, number)


@unittest.skipIf(UNDER_WINE, "Linux file names")
class BytesOnLinux(OrbsetTest):
    def test_a_name_that_is_no_utf8_is_used_byte_for_byte(self):
        self.install(missions=[])
        name = b"miss5-\xe9t\xe9.mis"  # Latin-1, not UTF-8
        data = misgen.mission(5)
        with open(os.path.join(bytes(self.game), name), "wb") as f:
            f.write(data)
        proc = subprocess.run([ORBSET, "misinfo"], cwd=self.game, stdout=subprocess.PIPE,
                              env=environment(), timeout=60)
        self.assertEqual(proc.returncode, 0)
        self.assertIn(b"\nmisfile=" + name + b"\n\n", proc.stdout)


class Console(OrbsetTest):
    """In a terminal (under Wine, a console in one) names show right, no
    control character from outside reaches it, and the console's code page
    is the one it found once the program has ended."""

    def test_control_characters_from_outside_show_as_question_marks(self):
        self.install(missions=[])
        data = {name: misgen.mission(1, dict(ena=1, tex=tex)) for name, (tex, _) in TEXTURES.items()}
        for name in data:
            (self.game / name).write_bytes(data[name])
        run = ["cmd", "/c", shown(ORBSET), "misinfo"] if UNDER_WINE else [ORBSET, "misinfo"]
        listed, failed = self.in_terminal(run), self.in_terminal(run + ["-f", ESCAPED])
        for raw in (listed, failed) if not UNDER_WINE else ():  # Wine's console has its own
            self.assertNotRegex(raw.decode("utf-8"), "[\x00-\x09\x0b\x0c\x0e-\x1f\x7f-\x9f]")
        for name, (_, seen) in TEXTURES.items():
            self.assertIn("misfile=%s\n\nCELOBJVAR1: ena=1 fog=0 iat=0 tex=%s a=0 "
                          % (name.replace("\x1b", "?"), seen),
                          on_screen(listed))
        self.assertRegex(on_screen(failed), r"misfile=(x\?]0;owned\?\.mis)\n\nmisinfo\(\d+\): ERROR: "
                         r"Cannot open file \1\.\n")
        # Through a pipe every byte is as the name or the record holds it.
        out, _ = self.orbset("misinfo")
        self.assertEqual(sorted(out.split("\nmisfile=")[1:]), sorted(
            "%s\n\n%s" % (n.encode().decode("latin-1"), record_line(d[328:656])) for n, d in data.items()))
        self.check(["misinfo", "-f", ESCAPED], self.found() + "\nmisfile=%s\n\n"
                   "misinfo(#): ERROR: Cannot open file %s.\n" % (ESCAPED, ESCAPED), status=1)

    @unittest.skipIf(UNDER_WINE, "a Windows name holds no control character")
    def test_every_message_masks_on_a_terminal_what_a_pipe_gets_as_it_is(self):
        # Standard input a pipe, as when answers come from a script; a game
        # folder, a start folder, files and words that retitle the window.
        self.game = self.tmp / ("game" + TITLE)
        start = self.game / ("start" + TITLE)
        start.mkdir(parents=True)
        self.install(missions=[])
        moon, game = "miss1%s.mis" % TITLE, shown(self.game)
        files = {moon: misgen.mission(1, dict(ena=1, tex=TITLE)),
                 "miss2%s.mis" % TITLE: misgen.mission(2, dict(ena=0)),
                 "x%s.mis" % TITLE: misgen.mission(3)}

        def lay():  # the files as they were, before each run
            for name, data in files.items():
                (self.game / name).write_bytes(data)

        runs = [  # arguments, answer, a call that fails, what a pipe gets of the outside text
            (["-v", "4", "-f", moon], b"y\n", None,
             ["searchdir(#): %s/start%s\n" % (game, TITLE), "searchdir(#): %s\n" % game,
              "Thief2 directory is %s.\n" % game, "mispatch(#): name=%s\n" % moon,
              "\nPatching file %s:\n" % moon, " tex=%s a=" % TITLE, "? %s patched.\n" % moon]),
            (["-f", moon], b"n\n", None, ["? No changes made to %s.\n" % moon]),
            (["-v", "1", "-f", "miss2%s.mis" % TITLE], b"", None,
             ["mispatch(#): I don't know what to do with file miss2%s.mis.\n" % TITLE]),
            (["-v", "1", "-f", "x%s.mis" % TITLE], b"", None,
             ["mispatch(#): Cannot get mission number for file x%s.mis.\n" % TITLE]),
            (["-v", "1", "-f", "no" + TITLE], b"", None, ["mispatch(#): Cannot open file no%s.\n" % TITLE]),
            (["-v", "1", "-f", moon], b"", "read:error=EIO", ["mispatch(#): Cannot read file %s.\n" % moon]),
            (["-f", moon], b"y\n", "flock:error=EIO", ["ERROR: Cannot open %s for writing.\n" % moon]),
            # The scan reads twice; the third read is the one before the write,
            # which finds the file cut short (changed) or fails.
            (["-f", moon], b"y\n", "read:error=EIO:when=3", ["ERROR: Cannot read file %s.\n" % moon]),
            (["-f", moon], b"y\n", "read:retval=0:when=3", ["ERROR: %s changed since it was read.\n" % moon]),
            (["-f", moon], b"y\n", "lseek:error=EIO", ["ERROR: Cannot seek to 0x148 in %s.\n" % moon]),
            (["-f", moon], b"y\n", "write:error=EIO", ["ERROR: Cannot write to %s.\n" % moon]),
            (["-f", moon], b"y\n", "fdatasync:error=EIO",
             ["ERROR: Cannot write to %s, nor put its old record back" % moon]),
            (["misinfo", "-v", "4"], b"", None,
             ["misinfo(#): dirent=%s\n" % moon, "\nmisfile=%s\n" % moon]),
            (["misinfo", "-f", "no" + TITLE], b"", None, ["ERROR: Cannot open file no%s.\n" % TITLE]),
            (["misinfo", "-f", moon], b"", "read:error=EIO", ["ERROR: Cannot read file %s.\n" % moon]),
            (["-\x1b"], b"", None, ["main(#): ERROR: Invalid option '\x1b' or missing value."]),
            (["w" + TITLE], b"", None, ["main(#): ERROR: Invalid command w%s. " % TITLE]),
        ]
        for args, answer, fault, said in runs:
            with self.subTest(args=args, fault=fault):
                wrap = strace(self.game / moon, fault) if fault else []
                lay()
                seen = normalize(self.in_terminal([ORBSET] + args, answer, start, wrap))
                lay()
                out, _ = self.orbset(*args, input=answer, cwd=start, wrap=wrap)
                for text in said:
                    self.assertIn(text, out)
                # The terminal shows the same, each control character a '?'.
                self.assertEqual(seen, out.replace("\x1b", "?").replace("\x07", "?"))

    @unittest.skipUnless(UNDER_WINE, "a Windows console's code page")
    def test_names_show_right_and_the_code_page_comes_back(self):
        self.game = self.tmp / "Игры" / "Вор 2"
        self.game.mkdir(parents=True)
        self.install(missions=[])
        (self.game / "miss5 — копия.mis").write_bytes(misgen.mission(5))
        seen = on_screen(self.in_terminal(["cmd", "/c", "chcp & %s misinfo & chcp" % shown(ORBSET)]))
        self.assertIn("Thief2 directory is %s." % shown(self.game), seen)
        self.assertIn("misfile=miss5 — копия.mis", seen)
        pages = [line for line in seen.splitlines() if line.startswith("Active code page")]
        self.assertEqual(len(pages), 2, seen)
        self.assertEqual(pages[0], pages[1])

    def in_terminal(self, args, input=None, cwd=None, wrap=()):
        """What a terminal receives from the command, run on a pseudo-terminal;
        with input, standard input is a pipe that holds it."""
        leader, follower = pty.openpty()
        # Wide enough that no line wraps.
        fcntl.ioctl(follower, termios.TIOCSWINSZ, struct.pack("HHHH", 50, 400, 0, 0))
        proc = subprocess.Popen(list(wrap) + LAUNCHER + args, stdout=follower, stderr=follower,
                                stdin=follower if input is None else subprocess.PIPE,
                                cwd=cwd or self.game, env=environment(traced=bool(wrap)))
        os.close(follower)
        if input is not None:
            proc.stdin.write(input)
            proc.stdin.close()
        shown_text = b""
        while select.select([leader], [], [], 60)[0]:
            try:
                chunk = os.read(leader, 4096)
            except OSError:  # the terminal closed with the last process
                break
            if not chunk:
                break
            shown_text += chunk
        os.close(leader)
        proc.wait(timeout=60)
        return shown_text


def on_screen(received):
    """What a terminal shows: its own control sequences are no part of the text."""
    return re.sub(r"\x1b\[[0-9;?]*[A-Za-z]", "", received.decode("utf-8", "replace").replace("\r", ""))


if __name__ == "__main__":
    unittest.main()
