"""Shared pieces of the end-to-end tests of the acekit program: a generated
input tree, a runner, and checks of extracted trees."""

import json
import os
import random
import subprocess
import tempfile
import unittest

ACEKIT = os.environ.get("ACEKIT_BIN", "acekit")

# Odd seconds on purpose: the archive keeps times to two seconds.
OLD_TIME = 981173107  # 2001-02-03 04:05:07 UTC
NEWER_TIME = 1262401445  # 2010-01-02 03:04:05 UTC

ACCENTED = "é ü ß.txt"  # characters the archive's code page holds


def run(*args, cwd=None, env=None, input=None):
    """Runs acekit with the arguments and `input` (bytes) as its standard
    input, or none; returns (exit status, stdout, stderr)."""
    full_env = dict(os.environ, TZ="UTC")
    if env:
        full_env.update(env)
    p = subprocess.run([ACEKIT, *args], cwd=cwd, input=input, capture_output=True,
                       stdin=None if input is not None else subprocess.DEVNULL,
                       env=full_env, timeout=600)
    err = p.stderr.decode("utf-8", "replace")
    check_sanitizers(err)
    return p.returncode, p.stdout.decode("utf-8", "replace"), err


def check_sanitizers(output):
    """A sanitizer report fails the test whatever the exit status was."""
    for marker in ("Sanitizer", "runtime error:"):
        if marker in output:
            raise AssertionError("sanitizer report:\n" + output)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data):
    """Writes bytes, or text as UTF-8, making the directory first."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode())


def patch(path, marker, offset, new=None):
    """Inverts the byte `offset` bytes after the first occurrence of marker,
    or writes `new` there."""
    data = bytearray(read(path))
    i = data.index(marker) + offset
    if new is None:
        data[i] ^= 0xFF
    else:
        data[i:i + len(new)] = new
    write(path, bytes(data))


def text_block(rng, size):
    words = [b"archive", b"entry", b"window", b"solid", b"header", b"stream", b"\n"]
    out = bytearray()
    while len(out) < size:
        out += rng.choice(words) + b" "
    return bytes(out[:size])


def make_tree(root):
    """The input tree of the tests. Returns {relative path: bytes} of its files."""
    rng = random.Random(7)
    files = {
        "docs/readme.txt": text_block(rng, 5000),
        "docs/" + ACCENTED: "Grüße aus Köln\n".encode(),
        "docs/sub/deep/nested.c": b"int main(void) { return 0; }\n" * 40,
        "empty.bin": b"",
        # Larger than the biggest window, half of it incompressible.
        "big.bin": text_block(rng, 700_000) + rng.randbytes(700_000),
        "readonly.txt": b"do not change\n",
    }
    for rel, data in files.items():
        write(os.path.join(root, rel), data)
    os.makedirs(os.path.join(root, "empty_dir"))
    for rel in files:
        os.utime(os.path.join(root, rel), (OLD_TIME, OLD_TIME))
    os.chmod(os.path.join(root, "readonly.txt"), 0o444)
    return files


TREE_DIRS = {"docs/", "docs/sub/", "docs/sub/deep/", "empty_dir/"}


def list_json(archive, *masks):
    code, out, err = run("l", "--json", archive, *masks)
    if code != 0:
        raise AssertionError(f"l --json {archive} failed ({code}): {err}")
    return json.loads(out)


class TreeCase(unittest.TestCase):
    """A temporary directory holding the input tree under tree/."""

    def setUp(self):
        self._tmp = tempfile.TemporaryDirectory(prefix="acekit-cli-")
        self.tmp = self._tmp.name
        self.tree = os.path.join(self.tmp, "tree")
        self.files = make_tree(self.tree)

    def tearDown(self):
        for base, dirs, files in os.walk(self.tmp):
            for name in dirs + files:
                path = os.path.join(base, name)
                if not os.path.islink(path):
                    os.chmod(path, 0o755)
        self._tmp.cleanup()

    def path(self, *parts):
        return os.path.join(self.tmp, *parts)

    def assertRuns(self, *args, code=0, cwd=None, input=None):
        got, out, err = run(*args, cwd=cwd, input=input)
        self.assertEqual(got, code, f"acekit {' '.join(args)}\nstdout: {out}\nstderr: {err}")
        return out, err

    def assertSameTree(self, extracted, files=None, dirs=None):
        """Bytes, modification times to two seconds and the read-only bit."""
        files = self.files if files is None else files
        dirs = TREE_DIRS if dirs is None else dirs
        for rel, data in files.items():
            path = os.path.join(extracted, rel)
            self.assertEqual(read(path), data, rel)
            original = os.path.join(self.tree, rel)
            self.assertLessEqual(abs(os.stat(path).st_mtime - os.stat(original).st_mtime), 2, rel)
            self.assertEqual(os.stat(path).st_mode & 0o200, os.stat(original).st_mode & 0o200, rel)
        for rel in dirs:
            self.assertTrue(os.path.isdir(os.path.join(extracted, rel)), rel)
        found = set()
        for base, ds, fs in os.walk(extracted):
            for name in fs:
                found.add(os.path.relpath(os.path.join(base, name), extracted))
        self.assertEqual(found, set(files))

    def archive_tree(self, *options, name="a.ace", inputs=(".",)):
        """Archives `inputs` below the tree with the options; returns the path."""
        archive = self.path(name)
        self.assertRuns("a", *options, "-C", self.tree, archive, *inputs)
        return archive

    def extract_and_change(self, rels, content):
        """Archives the tree as a.ace, extracts it to out/, then gives the
        extracted `rels` new content (and write permission)."""
        self.archive = self.archive_tree()
        self.out = self.path("out")
        self.assertRuns("x", "-o", self.out, self.archive)
        self.change(rels, content)

    def change(self, rels, content):
        for rel in rels:
            path = os.path.join(self.out, rel)
            os.chmod(path, 0o644)
            write(path, content)
