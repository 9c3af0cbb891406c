"""The write path under faults: whatever fails, the words agree with the
file. After a yes the run says "patched." only over the new record, and an
error line only over the file as it was, byte for byte."""
import fcntl
import os
import re
import signal
import subprocess
import time
import unittest

from harness import (LAUNCHER, ORBSET, UNDER_WINE, environment, normalize,
                     record_line, strace)
from test_mispatch import PatchTest, dialogue, patched

ERROR = re.compile(r"mispatch\(#\): ERROR: (.*)\n$")
DAMAGED = ("Cannot write to miss5.mis, nor put its old record back: the file may be "
           "damaged. Restore it from your backup.")

# Each call by every system call that a C library may make for it: glibc
# 2.36 makes fstat a newfstatat, 2.41 an fstat.
CALLS = {"open": "open,openat", "fstat": "fstat,newfstatat,statx,fstat64",
         "fcntl": "fcntl,fcntl64", "flock": "flock", "lseek": "lseek,_llseek", "read": "read",
         "write": "write", "fdatasync": "fdatasync", "close": "close"}
# Each call on the mission file's path, failed at each of its first few
# occurrences: the scan's open and reads come first, then the update's.
FAULTS = [(call, "%s:error=EIO:when=%d" % (CALLS[call], when))
          for call in CALLS for when in range(1, 7)]
# The sixth fcntl is the lock (after three for the scan's open and two
# for the update's own): a kernel that knows no lock of the open file
# gets the process's.
OLD_KERNEL = ("fcntl", CALLS["fcntl"] + ":error=EINVAL:when=6")
FAULTS += [("write", "write:error=EINTR:when=1"), ("write", "write:error=ENOSPC:when=1"),
           ("fdatasync", "fdatasync:error=EINTR:when=1"), OLD_KERNEL]


class Words(PatchTest):
    """What a run said of miss5.mis, held against what the file holds."""

    def setUp(self):
        super().setUp()
        self.install(missions=["miss5.mis"])
        self.path = self.game / "miss5.mis"
        self.before = self.path.read_bytes()
        old = self.before[328:656]
        self.after = self.before[:328] + patched(old, 5) + self.before[656:]
        self.shown = self.found() + dialogue("miss5.mis", old, patched(old, 5), None)
        self.notice = "mispatch(#): Mission number 5. sizeof=16\n"

    def assert_words_agree(self, out, code, damaged_allowed=False):
        """Returns what the run said: 'patched', the error, or 'skipped'."""
        now = self.path.read_bytes()
        if out.replace(self.notice, "") == self.shown + "miss5.mis patched.\n":
            self.assertEqual(code, 0)
            self.assertEqual(now, self.after)
            return "patched"
        error = ERROR.search(out)
        if error:
            self.assertEqual(code, 1, out)
            if error.group(1) == DAMAGED:
                self.assertTrue(damaged_allowed, out)
            else:
                self.assertEqual(now, self.before, out)
            return error.group(1)
        # Skipped before the dialogue: a notice at most, nothing written.
        self.assertNotIn("patched", out)
        self.assertEqual(code, 0, out)
        self.assertEqual(now, self.before, out)
        return "skipped"


@unittest.skipIf(UNDER_WINE, "faults are injected with strace, on Linux")
class InjectedFaults(Words):
    def run_with(self, *inject, log=os.devnull):
        # By the name the program opens it by, as well as its full path.
        wrap = strace(self.path, *inject, log=log) + ["-P", "miss5.mis"]
        return self.orbset("-f", "miss5.mis", "-v", "1", input=b"y\n", wrap=wrap)

    def test_every_call_of_the_write_path_failing_once(self):
        seen = {}
        for call, fault in FAULTS:
            with self.subTest(fault=fault):
                self.path.write_bytes(self.before)
                log = self.tmp / "strace.log"
                out, code = self.run_with(fault, log=log)
                said = self.assert_words_agree(out, code)
                if "INJECTED" in log.read_text():
                    seen.setdefault(call, set()).add(said)
                if (call, fault) == OLD_KERNEL:
                    self.assertRegex(log.read_text(), "F_OFD_SETLK.*INJECTED")
                    self.assertEqual(said, "patched")
        # No call of the table went untried, and the faults were felt.
        self.assertEqual(set(seen), set(CALLS))
        self.assertIn("Cannot write to miss5.mis.", seen["write"] | seen["fdatasync"])
        self.assertIn("Cannot read file miss5.mis.", seen["read"])
        self.assertIn("Cannot open miss5.mis for writing.", seen["open"])
        self.assertEqual(seen["flock"], {"Cannot open miss5.mis for writing."})

    def test_a_signal_waits_until_the_run_has_said_what_became_of_the_file(self):
        # Ctrl+C or SIGTERM comes with a write that is done, or with one
        # that fails: it ends the run as it would have, but only once the
        # file holds its new record, or its old one again, and the run has
        # said so.
        for sig, error, said in ((signal.SIGINT, "", "patched"),
                                 (signal.SIGTERM, "error=ENOSPC:", "Cannot write to miss5.mis.")):
            with self.subTest(sig=sig.name):
                self.path.write_bytes(self.before)
                out, code = self.run_with("write:%ssignal=%s:when=1" % (error, sig.name))
                self.assertEqual(code, -sig)  # ended by the signal, not by exit
                self.assertEqual(self.assert_words_agree(out, int(said != "patched")), said)

    def test_a_record_that_cannot_be_put_back_is_called_damaged(self):
        # Every sync fails; or the old bytes' write says it was done, and
        # was not.
        for faults in (["fdatasync:error=EIO:when=1+"],
                       ["fdatasync:error=EIO:when=1", "write:retval=328:when=2"]):
            with self.subTest(faults=faults):
                self.path.write_bytes(self.before)
                out, code = self.run_with(*faults)
                self.assertEqual(self.assert_words_agree(out, code, damaged_allowed=True), DAMAGED)

    def test_the_sync_comes_before_the_word_patched(self):
        log = self.tmp / "calls.log"
        out, code = self.orbset("-f", "miss5.mis", input=b"y\n",
                                wrap=["strace", "-f", "-s", "4096", "-o", str(log), "-e",
                                      "trace=fdatasync,fsync,write"])
        self.assertEqual(self.assert_words_agree(out, code), "patched")
        calls = log.read_text()
        synced = re.search(r"f(data)?sync\(\d+\)\s+= 0", calls)
        said = calls.find("patched.")
        self.assertTrue(synced and 0 <= synced.start() < said, calls)


@unittest.skipIf(UNDER_WINE, "file-size limits are a Linux matter")
class FileSizeLimit(Words):
    def test_a_limit_inside_the_record_fails_the_write_and_leaves_the_file(self):
        for limit in (328 + 100, 328 + 1, 656 - 1):
            with self.subTest(limit=limit):
                self.path.write_bytes(self.before)
                out, code = self.orbset("-f", "miss5.mis", input=b"y\n", limit=limit)
                self.assertNotEqual(code, -signal.SIGXFSZ)
                self.assertEqual(self.assert_words_agree(out, code), "Cannot write to miss5.mis.")


class LostWords(PatchTest):
    """Answers that nobody could have given to what was shown."""

    def setUp(self):
        super().setUp()
        self.names = ["miss1.mis", "miss2.mis", "miss4.mis"]
        self.install(missions=self.names)
        self.before = {n: (self.game / n).read_bytes() for n in self.names}

    def assert_untouched(self):
        for name in self.names:
            self.assertEqual((self.game / name).read_bytes(), self.before[name], name)

    def test_output_that_cannot_be_shown_patches_nothing(self):
        for output in (">/dev/full", ">&-"):  # full, and closed
            with self.subTest(output=output):
                proc = subprocess.run(["sh", "-c", 'exec "$@" ' + output, "sh"] + LAUNCHER
                                      + [ORBSET], cwd=self.game, input=b"y\n" * 13, timeout=60)
                self.assertEqual(proc.returncode, 1)
                self.assert_untouched()

    def test_a_closed_pipe_ends_the_report_with_status_1(self):
        reader, writer = os.pipe()
        os.close(reader)
        proc = subprocess.run(LAUNCHER + [ORBSET, "misinfo"], cwd=self.game, stdout=writer,
                              timeout=60)
        os.close(writer)
        self.assertEqual(proc.returncode, 1)

    @unittest.skipIf(UNDER_WINE, "faults are injected with strace, on Linux")
    def test_after_an_input_error_no_later_answer_is_read(self):
        answers = self.tmp / "answers"
        answers.write_bytes(b"y\ny\ny\n")
        log = self.tmp / "reads.log"
        wrap = strace(answers, "read:error=EIO:when=1", log=log)
        with open(answers, "rb") as stdin:
            proc = subprocess.run(wrap + LAUNCHER + [ORBSET], cwd=self.game, stdin=stdin,
                                  stdout=subprocess.PIPE, timeout=60, env=environment(traced=True))
        self.assertEqual(proc.returncode, 0)
        out = normalize(proc.stdout)
        for name in self.names:
            self.assertIn("No changes made to %s.\n" % name, out)
        self.assert_untouched()
        # The answers after the failed read are left where they are.
        reads = [l for l in log.read_text().splitlines() if re.search(r"\bread\(0,", l)]
        self.assertEqual(len(reads), 1, reads)

    @unittest.skipIf(UNDER_WINE, "needs strace, on Linux")
    def test_closed_standard_streams_are_never_a_mission_file(self):
        # The report lists the folder before it opens a file; the patch
        # opens one first. A report that cannot be shown fails.
        # Without /dev/null, as in a bare container.
        nonull = ["-P", "/dev/null", "-e", "inject=open,openat:error=ENOENT:when=1"] + [
            "-P%s" % name for name in self.names]
        for closed, command, status, trace in (("<&- >&- 2>&-", "misinfo", 1, []),
                                               ("2>&-", "mispatch", 0, []),
                                               ("2>&-", "mispatch", 0, nonull)):
            with self.subTest(closed=closed, command=command, trace=trace):
                log = self.tmp / "opens.log"
                proc = subprocess.run(["strace", "-f", "-o", str(log), "-e", "trace=open,openat"]
                                      + trace + ["sh", "-c", 'exec "$@" ' + closed, "sh"] + LAUNCHER
                                      + [ORBSET, command], cwd=self.game, input=b"y\n" * 3,
                                      stdout=subprocess.PIPE, timeout=60,
                                      env=environment(traced=True))
                self.assertEqual(proc.returncode, status)
                opened = re.findall(r'open(?:at)?\((?:AT_FDCWD, )?"([^"]+\.mis)".*= (\d+)',
                                    log.read_text())
                self.assertEqual({name for name, _ in opened}, set(self.names))
                for name, fd in opened:
                    self.assertGreater(int(fd), 2, name)
                if trace:
                    self.assertRegex(log.read_text(), r'"/dev/null".*INJECTED')


class NoFileButAFile(PatchTest):
    """A FIFO or a device where a file is expected never stops the run."""

    def setUp(self):
        super().setUp()
        self.install(missions=[])

    def refused(self, name):
        """How each command turns name away."""
        return [(["-v", "1", "-f", name], 0, "mispatch(#): Cannot open file %s.\n" % name),
                (["misinfo", "-f", name], 1,
                 "\nmisfile=%s\n\nmisinfo(#): ERROR: Cannot open file %s.\n" % (name, name))]

    @unittest.skipIf(UNDER_WINE, "FIFOs and device files are a Linux matter")
    def test_fifos_and_devices_count_as_files_that_cannot_be_opened(self):
        below = self.game / "tools"
        below.mkdir()
        os.mkfifo(self.game / "miss1.mis")
        os.mkfifo(below / "thief2.exe")
        cases = [(args, self.game, status, said) for name in ("miss1.mis", "/dev/zero")
                 for args, status, said in self.refused(name)]
        # The search passes the FIFO by and finds the game above.
        cases.append((["-f", "nothing.mis"], below, 0, ""))
        for args, cwd, status, said in cases:
            with self.subTest(args=args, cwd=cwd.name):
                self.check(args, self.found() + said, status=status, cwd=cwd, timeout=30)
        os.mkfifo(self.game / "x.mis")
        self.check(["misinfo"], self.found() + self.refused("x.mis")[1][2], status=1, timeout=30)

    @unittest.skipUnless(UNDER_WINE, "Windows device names")
    def test_windows_devices_count_as_files_that_cannot_be_opened(self):
        for name in ("NUL", "CON"):
            for args, status, said in self.refused(name):
                with self.subTest(args=args):
                    self.check(args, self.found() + said, status=status, input=b"y\n",
                               timeout=60)


@unittest.skipIf(UNDER_WINE, "needs strace, on Linux")
class TwoRunsAtOnce(PatchTest):
    def test_two_runs_on_one_file_under_two_names(self):
        self.install(missions=["miss5.mis"])
        os.link(self.game / "miss5.mis", self.game / "miss9.mis")
        pristine = (self.game / "miss5.mis").read_bytes()
        # Each write waits a while before it starts, so that the other run
        # has every chance to come between its comparison and its write.
        slow = strace(self.game / "miss5.mis", "write:delay_enter=200000") + [
            "-P", str(self.game / "miss9.mis")]
        for attempt in range(3):
            with self.subTest(attempt=attempt):
                (self.game / "miss5.mis").write_bytes(pristine)
                runs = {n: subprocess.Popen(slow + LAUNCHER + [ORBSET, "-f", "miss%d.mis" % n],
                                            cwd=self.game, stdin=subprocess.PIPE,
                                            stdout=subprocess.PIPE, env=environment(traced=True))
                        for n in (5, 9)}
                for p in runs.values():  # both answered before either reads
                    p.stdin.write(b"y\n")
                    p.stdin.close()
                said = {n: normalize(p.stdout.read()) for n, p in runs.items()}
                for p in runs.values():
                    p.stdout.close()
                    p.wait(timeout=60)
                self.assert_one_after_the_other(said, (self.game / "miss5.mis").read_bytes())

    def assert_one_after_the_other(self, said, now):
        """Either both runs patched, the later one showing the earlier's new
        record as its old one, or one found the file changed under it."""
        lines = {n: out.splitlines() for n, out in said.items()}
        new = {n: lines[n][lines[n].index("New values:") + 1] for n in said}
        old = {n: lines[n][lines[n].index("Old values:") + 1] for n in said}
        done = [n for n in said if said[n].endswith("miss%d.mis patched.\n" % n)]
        changed = [n for n in said
                   if said[n].endswith("ERROR: miss%d.mis changed since it was read.\n" % n)]
        self.assertEqual(len(done) + len(changed), 2, said)
        self.assertTrue(done, said)
        last = done[0]
        if len(done) == 2:
            first, last = (5, 9) if old[9] == new[5] else (9, 5)
            self.assertEqual(old[last], new[first], said)
        self.assertEqual(record_line(now[328:656]).rstrip("\n"), new[last])


@unittest.skipIf(UNDER_WINE, "a lock on the file is a Linux matter")
class LockedElsewhere(Words):
    def test_a_file_locked_past_the_wait_cannot_be_opened_for_writing(self):
        # A reader's shared lock keeps a writer out as well as a writer's.
        for lock, kind in ((fcntl.lockf, fcntl.LOCK_EX), (fcntl.flock, fcntl.LOCK_SH)):
            with self.subTest(lock=lock.__name__, kind=kind):
                with open(self.path, "r+b") as held:
                    lock(held, kind)
                    out, code = self.orbset("-f", "miss5.mis", input=b"y\n", timeout=60)
                self.assertEqual(self.assert_words_agree(out, code),
                                 "Cannot open miss5.mis for writing.")


@unittest.skipIf(UNDER_WINE, "a held file cannot be renamed on Windows (HeldFile)")
class SavedAnew(Words):
    """Another program saves the file anew while the patch waits for its
    lock, or after the sync: what the run says is true of the file of that
    name, and no other file keeps a byte of the patch."""

    def test_a_file_saved_anew_while_the_patch_waits_or_writes(self):
        bak, edited = self.game / "miss5.bak", self.before[:400] + b"X" + self.before[401:]
        patched, changed = "miss5.mis patched.", "ERROR: miss5.mis changed since it was read."
        # Stopped at its lock or after its sync (where the old bytes may
        # fail to go back), the old file moved to a backup name or not, a
        # copy renamed over the name or not.
        for stop, moved, saved, said, named, kept in (
                (["flock"], False, self.before, patched, self.after, None),
                (["flock"], True, self.before, patched, self.after, self.before),
                (["flock"], False, edited, changed, edited, None),
                (["flock"], True, None, "ERROR: Cannot open miss5.mis for writing.", None, self.before),
                (["fdatasync"], True, self.before, changed, self.before, self.before),
                (["fdatasync", "write:error=EIO:when=2"], True, self.before, "ERROR: " + DAMAGED,
                 self.before, self.after)):
            with self.subTest(stop=stop, moved=moved, said=said):
                log = self.tmp / ("%s.log" % len(os.listdir(self.tmp)))
                bak.unlink(missing_ok=True)
                self.path.write_bytes(self.before)
                with open(self.path, "r+b") as holder:
                    if stop[0] == "flock":
                        fcntl.flock(holder, fcntl.LOCK_EX)
                    proc = subprocess.Popen(
                        strace(self.path, stop[0] + ":signal=SIGSTOP:when=1", *stop[1:], log=log)
                        + ["-P", str(bak)] + LAUNCHER + [ORBSET, "-f", "miss5.mis"], cwd=self.game, stdin=subprocess.PIPE,
                        stdout=subprocess.PIPE, env=environment(traced=True))
                    proc.stdin.write(b"y\n")
                    proc.stdin.close()
                    pid = self.stopped(log)
                    if moved:
                        self.path.rename(bak)
                    if saved:
                        (self.game / "t").write_bytes(saved)
                        (self.game / "t").rename(self.path)
                os.kill(pid, signal.SIGCONT)
                out = normalize(proc.stdout.read())
                proc.stdout.close()
                self.assertTrue(out.endswith(said + "\n"), out)
                self.assertEqual(proc.wait(timeout=60), 0 if said == patched else 1)
                self.assertEqual(self.path.read_bytes() if named else None, named)
                self.assertEqual(bak.read_bytes() if kept else None, kept)

    def stopped(self, log):
        """The patch's process, once strace has stopped it."""
        for _ in range(6000):
            stop = log.exists() and re.search(r"^(\d+) +--- stopped by SIGSTOP", log.read_text(), re.M)
            if stop:
                return int(stop.group(1))
            time.sleep(0.01)
        self.fail("the patch never stopped")


@unittest.skipUnless(UNDER_WINE, "Wine's relay trace shows the Windows calls")
class UnderWine(Words):
    """What Wine shows of the write path: the record is flushed to the disk
    before the run says so. That no other writer gets in while the file is
    held is the unit tests' part (HeldFile); faults are injected on Linux."""

    CALLS = ("KERNEL32.CreateFileW;KERNEL32.CreateFileA;KERNEL32.WriteFile;"
             "KERNEL32.FlushFileBuffers")

    def calls(self, answer):
        """The Windows calls of the thread that read miss5.mis (the C
        runtime opens it for the scan with CreateFileW)."""
        subprocess.run(LAUNCHER + ["reg", "add", r"HKCU\Software\Wine\Debug", "/v",
                                   "RelayInclude", "/d", self.CALLS, "/f"],
                       stdout=subprocess.DEVNULL, check=True, timeout=120)
        env = dict(os.environ, WINEDEBUG="+relay")
        proc = subprocess.run(LAUNCHER + [ORBSET, "-f", "miss5.mis"], cwd=self.game, env=env,
                              input=answer, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              timeout=120)
        relay = proc.stderr.decode("latin-1").splitlines()
        read = [l for l in relay if re.search(r'CreateFileW\([0-9a-f]+ L"miss5\.mis"', l)]
        self.assertTrue(read, "no relay trace of the scan's open")
        thread = read[0].split(":")[0]
        ours = [l for l in relay if l.startswith(thread + ":Call KERNEL32.")]
        return normalize(proc.stdout), proc.returncode, ours

    def test_the_record_is_flushed_before_it_is_called_patched(self):
        out, code, calls = self.calls(b"y\n")
        self.assertEqual(self.assert_words_agree(out, code), "patched")
        writes = [i for i, l in enumerate(calls) if "WriteFile(" in l and ",00000148," in l]
        flushes = [i for i, l in enumerate(calls) if "FlushFileBuffers(" in l]
        self.assertEqual(len(writes), 1, calls)
        self.assertEqual(len(flushes), 1, calls)
        # Then, and only then, the words: output is written after the flush.
        self.assertLess(writes[0], flushes[0])
        self.assertTrue(any("WriteFile(" in l for l in calls[flushes[0] + 1:]), calls)

    def test_a_no_opens_nothing_for_update(self):
        out, code, calls = self.calls(b"n\n")
        self.assertEqual(code, 0)
        self.assertEqual([l for l in calls if "CreateFileA(" in l or "Flush" in l], [])
        self.assertEqual(self.path.read_bytes(), self.before)


if __name__ == "__main__":
    unittest.main()
