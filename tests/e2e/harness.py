"""Runs the built orbset in fresh temporary directories.

ORBSET names the program; ORBSET_LAUNCHER, when set, is the emulator
(semicolon-separated, as CMake gives it) that runs it, for example wine.
Standard output is compared whole, with CR LF read as LF and the line
numbers of trace lines ("func(123): ") replaced by '#'.
"""
import os
import re
import resource
import shutil
import stat
import struct
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

ORBSET = os.environ.get("ORBSET", "")
LAUNCHER = [p for p in os.environ.get("ORBSET_LAUNCHER", "").split(";") if p]
UNDER_WINE = any("wine" in Path(p).name for p in LAUNCHER)
REAL_MISSIONS = Path(os.environ.get("ORBSET_REAL_MISSIONS", "/nonexistent"))

sys.path.insert(0, os.environ.get("ORBSET_MISGEN", str(Path(__file__).parents[2] / "tools")))
import misgen  # noqa: E402

# Trace lines start a line, or follow a prompt that the answer did not end.
TRACE = re.compile(r"\b(main|chkw|searchdir|fileexists|cmd_misinfo|misinfo|cmd_mispatch|"
                   r"mispatch|confirm)\(\d+\): ")
BUILD_LINE = re.compile(r"main\(#\): src/main\.cpp [A-Z][a-z]{2} [ 1-3][0-9] [0-9]{4}\n")


def normalize(out):
    text = out.decode("latin-1").replace("\r\n", "\n")
    return TRACE.sub(r"\1(#): ", text)


def record_line(rec):
    """The record line of a 328-byte record, formatted independently."""
    head = rec[:24]
    ena, fog, iat = struct.unpack_from("<iii", rec, 24)
    tex = rec[36:292].split(b"\0")[0].decode("latin-1")
    floats = struct.unpack_from("<9f", rec, 292)
    index = struct.unpack_from("<b", head, 9)[0] - 48
    return ("CELOBJVAR%d: ena=%d fog=%d iat=%d tex=%s a=%g off=%g siz=%g lat=%g "
            "lon=%g rot=%g col=(%g %g %g)\n" % ((index, ena, fog, iat, tex) + floats))


def tag_offsets(data):
    """Every offset at which the tag begins, by the plainest search."""
    found, at = [], data.find(b"CELOBJVAR")
    while at >= 0:
        found.append(at)
        at = data.find(b"CELOBJVAR", at + 1)
    return found


def enable(data, offset):
    """data with the record at offset enabled (ena set to 1)."""
    return data[:offset + 24] + struct.pack("<i", 1) + data[offset + 28:]


def strace(path, *inject, log=os.devnull):
    """A wrapper that makes the given calls on path fail, for example
    "read:error=EIO:when=2", and writes the calls on path to log. Faults
    are injected on Linux only, and there strace is part of the tests'
    kit: where it is missing, the tests that need it fail."""
    args = ["strace", "-f", "-o", str(log), "-P", str(path)]
    for call in inject:
        args += ["-e", "inject=%s" % call]
    return args


def shown(path):
    """A directory as the program prints it."""
    path = str(path)
    if UNDER_WINE:
        return "Z:" + path.replace("/", "\\")
    return path


def hostname(name):
    """Where a name given to the program lies on this machine: Windows
    reads a backslash as a separator, Linux as part of the name."""
    return name.replace("\\", "/") if UNDER_WINE else name


def environment(traced=False):
    """The program's environment: no POSIXLY_CORRECT from outside, and
    when traced, no leak check (LeakSanitizer cannot run under ptrace, as
    strace runs it)."""
    environ = dict(os.environ)
    environ.pop("POSIXLY_CORRECT", None)
    if traced:
        environ["ASAN_OPTIONS"] = environ.get("ASAN_OPTIONS", "") + ":detect_leaks=0"
    return environ


class OrbsetTest(unittest.TestCase):
    maxDiff = None

    def setUp(self):
        if not ORBSET:
            self.fail("ORBSET is not set; run the tests through ctest")
        self.tmp = Path(tempfile.mkdtemp(prefix="orbset-e2e-")).resolve()
        self.game = self.tmp / "game"
        self.game.mkdir()

    def tearDown(self):
        # Tests may leave read-only files and folders behind.
        for root, dirs, files in os.walk(self.tmp):
            for name in dirs + files:
                p = os.path.join(root, name)
                if not os.path.islink(p):
                    os.chmod(p, stat.S_IRWXU)
        shutil.rmtree(self.tmp)

    def install(self, missions=misgen.STOCK, exe="thief2.exe"):
        """A game directory with thief2.exe and the given stock missions."""
        (self.game / exe).write_bytes(b"")
        for name in missions:
            (self.game / name).write_bytes(misgen.mission(int(name[4:-4])))

    def orbset(self, *args, cwd=None, input=b"", env=None, wrap=(), timeout=600, limit=None):
        """Runs orbset; returns (normalized standard output, exit status).
        limit, when given, is a file-size limit in bytes."""
        environ = environment(traced=bool(wrap))
        environ.update(env or {})
        start = None
        if limit is not None:
            # A coverage build writes its counts at exit, under the same
            # limit: they go to a folder of their own, not over the build's.
            environ["GCOV_PREFIX"] = str(self.tmp / "gcov")
            start = lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
        proc = subprocess.run(list(wrap) + LAUNCHER + [ORBSET] + list(args),
                              cwd=cwd or self.game, input=input, env=environ,
                              stdout=subprocess.PIPE, timeout=timeout, preexec_fn=start)
        return normalize(proc.stdout), proc.returncode

    def check(self, args, expected, status=0, **kw):
        out, code = self.orbset(*args, **kw)
        self.assertEqual(out, expected)
        self.assertEqual(code, status)

    def without_build_line(self, out):
        """The output after the build line, which must come first."""
        match = BUILD_LINE.match(out)
        self.assertIsNotNone(match, out)
        return out[match.end():]

    def found(self):
        return "Thief2 directory is %s.\n" % shown(self.game)
