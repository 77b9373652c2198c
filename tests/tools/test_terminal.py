"""acekit in a real terminal (a pseudo-terminal): the progress line, the
overwrite question with each answer, and Ctrl-C."""

import os
import pty
import re
import select
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import cli_harness as h  # noqa: E402

PROMPT = b"[q]uit: "


class Terminal:
    """acekit running with a pseudo-terminal as its stdin, stdout and stderr."""

    def __init__(self, *args, cwd=None, env=None):
        self.output = b""
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            try:
                if cwd:
                    os.chdir(cwd)
                os.environ["TZ"] = "UTC"
                os.environ.update(env or {})
                os.execv(h.ACEKIT, [h.ACEKIT, *args])
            finally:
                os._exit(127)  # never back into the test runner

    def pump(self, deadline, what):
        """Reads what is there; False once the program has closed its end."""
        if time.monotonic() > deadline:
            raise AssertionError(f"{what}; got {self.output!r}")
        ready, _, _ = select.select([self.fd], [], [], 0.1)
        if not ready:
            return True
        try:
            chunk = os.read(self.fd, 65536)
        except OSError:
            chunk = b""
        self.output += chunk
        return bool(chunk)

    def read_until(self, pattern, count=1, timeout=300):
        deadline = time.monotonic() + timeout
        while self.output.count(pattern) < count:
            if not self.pump(deadline, f"waited for {pattern!r}"):
                raise AssertionError(f"ended before {pattern!r}; got {self.output!r}")

    def send(self, data):
        os.write(self.fd, data)

    def finish(self, timeout=300):
        deadline = time.monotonic() + timeout
        while self.pump(deadline, "still running"):
            pass
        _, status = os.waitpid(self.pid, 0)
        os.close(self.fd)
        h.check_sanitizers(self.output.decode("utf-8", "replace"))
        return os.waitstatus_to_exitcode(status)


class ProgressAndCancel(unittest.TestCase):
    def setUp(self):
        self._tmp = tempfile.TemporaryDirectory(prefix="acekit-tty-")
        self.tmp = self._tmp.name
        self.scratch = os.path.join(self.tmp, "scratch")  # the library's temporary directory
        os.mkdir(self.scratch)
        self.src = os.path.join(self.tmp, "src")
        os.mkdir(self.src)
        h.write(os.path.join(self.src, "small.txt"), b"small file\n" * 100)
        # Large enough that the compression is still running when Ctrl-C comes.
        h.write(os.path.join(self.src, "huge.bin"), os.urandom(32 << 20))

    def tearDown(self):
        self._tmp.cleanup()

    def run_in_terminal(self, *args):
        return Terminal(*args, cwd=self.src, env={"TMPDIR": self.scratch})

    def test_progress_line_of_the_whole_job_names_file_bytes_and_rate_unless_quiet(self):
        # A small file first: a percentage of the current file would start
        # again at 0 for the large one.
        t = self.run_in_terminal("a", os.path.join(self.tmp, "w.ace"), "small.txt", "huge.bin")
        self.assertEqual(t.finish(), 0, t.output)
        self.assertIn(b"\r\x1b[K", t.output)
        self.assertRegex(t.output, rb"\d+% huge\.bin +[\d.]+ [KM]iB / 32 MiB +[\d.]+ [KM]?i?B/s")
        self.assertRegex(t.output, rb"B/s  ETA \d+:\d\d")
        percents = [int(p) for p in re.findall(rb"\] +(\d+)% ", t.output)]
        self.assertGreater(len(percents), 1, t.output)
        self.assertEqual(percents, sorted(percents), t.output)
        bars = [b.count(b"#") for b in re.findall(rb"\[([#.]{20})\]", t.output)]
        self.assertEqual(bars, sorted(bars))
        t = self.run_in_terminal("a", "-q", os.path.join(self.tmp, "q.ace"), "small.txt")
        self.assertEqual(t.finish(), 0, t.output)
        self.assertEqual(t.output, b"")

    def test_time_at_a_question_does_not_count_in_the_throughput(self):
        archive = os.path.join(self.tmp, "q.ace")
        code, _, err = h.run("a", archive, "huge.bin", "small.txt", cwd=self.src)
        self.assertEqual(code, 0, err)
        out_dir = os.path.join(self.tmp, "out")
        h.write(os.path.join(out_dir, "small.txt"), b"local\n")
        t = self.run_in_terminal("x", "-o", out_dir, archive)
        t.read_until(PROMPT)
        waited = 4.0
        time.sleep(waited)
        before = len(t.output)
        t.send(b"y\n")
        self.assertEqual(t.finish(), 0, t.output)
        rates = re.findall(rb"([\d.]+) (B|KiB|MiB|GiB)/s", t.output[before:])
        self.assertTrue(rates, t.output)
        value, unit = rates[-1]
        rate = float(value) * {b"B": 1, b"KiB": 1 << 10, b"MiB": 1 << 20, b"GiB": 1 << 30}[unit]
        # Counting the wait would make it at most 32 MiB / 4 s.
        self.assertGreater(rate, 2 * (32 << 20) / waited, t.output[before:])

    def cancel(self, *args):
        t = self.run_in_terminal(*args)
        t.read_until(b"% huge.bin")
        t.send(b"\x03")
        code = t.finish()
        self.assertEqual(code, 130, t.output)
        self.assertIn(b"cancelled", t.output)
        self.assertEqual(os.listdir(self.scratch), [], "no working directory left")

    def test_ctrl_c_leaves_no_new_archive_and_an_updated_one_unchanged(self):
        self.cancel("a", os.path.join(self.tmp, "new.ace"), "small.txt", "huge.bin")
        self.assertEqual(sorted(os.listdir(self.tmp)), ["scratch", "src"])
        for solid in ([], ["-s"]):
            with self.subTest(solid=bool(solid)):
                archive = os.path.join(self.tmp, "old%d.ace" % len(solid))
                code, _, err = h.run("a", *solid, archive, "small.txt", cwd=self.src)
                self.assertEqual(code, 0, err)
                before = h.read(archive)
                self.cancel("a", archive, "huge.bin")
                self.assertEqual(h.read(archive), before)
                left = [n for n in os.listdir(self.tmp) if n.endswith(".$SC")]
                self.assertEqual(left, [], "no temporary archive left")

    def test_deleting_many_names_is_one_rebuild_and_ctrl_c_leaves_the_archive(self):
        for i in range(8):
            h.write(os.path.join(self.src, "f%d.txt" % i), b"text %d\n" % i * 500)
        archive = os.path.join(self.tmp, "s.ace")
        code, _, err = h.run("a", "-s", archive, ".", cwd=self.src)
        self.assertEqual(code, 0, err)
        before = h.read(archive)
        self.cancel("d", archive, "f*.txt")
        self.assertEqual(h.read(archive), before)
        t = self.run_in_terminal("d", archive, "f*.txt")
        self.assertEqual(t.finish(), 0, t.output)
        # Each pass of a second rebuild would start its percentage again.
        for label in (rb"unpacking", rb"compressing"):
            percents = [int(p) for p in re.findall(label + rb" +(\d+)%", t.output)]
            self.assertTrue(percents, t.output)
            self.assertEqual(percents, sorted(percents), t.output)
        code, out, err = h.run("l", "--json", archive)
        self.assertEqual(code, 0, err)
        self.assertNotIn("f0.txt", out)
        self.assertIn("huge.bin", out)


class OverwriteQuestion(h.TreeCase):
    # Files of the archive in its order; directories are never asked about.
    ORDER = ["big.bin", "docs/readme.txt", "docs/sub/deep/nested.c", "docs/" + h.ACCENTED,
             "empty.bin", "readonly.txt"]

    def setUp(self):
        super().setUp()
        self.extract_and_change(self.ORDER, b"local\n")

    def answer(self, *answers, code=0):
        t = Terminal("x", "-o", self.out, self.archive)
        for i, a in enumerate(answers, start=1):
            t.read_until(PROMPT, count=i)
            t.send(a + b"\n")
        self.assertEqual(t.finish(), code, t.output)
        self.assertEqual(t.output.count(PROMPT), len(answers), t.output)
        return t.output

    def kept(self):
        return [rel for rel in self.ORDER if h.read(os.path.join(self.out, rel)) == b"local\n"]

    def test_each_answer(self):
        cases = [
            # answers, files that keep their local content, exit status
            ((b"y", b"n", b"A"), ["docs/readme.txt"], 0),
            ((b"maybe", b"n", b"N"), self.ORDER, 0),
            ((b"n", b"y", b"q"), ["big.bin", "docs/sub/deep/nested.c", "docs/" + h.ACCENTED,
                                 "empty.bin", "readonly.txt"], 130),
        ]
        for answers, kept, code in cases:
            with self.subTest(answers=answers):
                self.change(self.ORDER, b"local\n")
                out = self.answer(*answers, code=code)
                self.assertIn(b"exists", out)
                self.assertEqual(self.kept(), kept)


if __name__ == "__main__":
    if len(sys.argv) > 1 and not sys.argv[1].startswith("-"):
        h.ACEKIT = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
