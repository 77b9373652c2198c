"""The Python package over the handle-based interface: archives it writes
read back, match what the command-line program writes, lists and extracts,
and extraction stays inside its folder.

Run with ACEKIT_LIBRARY pointing at the built library, the package on
PYTHONPATH and ACEKIT_BIN naming the command-line program."""

import json
import os
import shutil
import subprocess
import sys
import zlib
from datetime import datetime, timezone

import pytest

import acekit

CLI = os.environ.get("ACEKIT_BIN")
T = 1262401444  # 2010-01-02 03:04:04 UTC, an even second
HERE = os.path.dirname(os.path.abspath(__file__))
PACKAGE = os.path.join(HERE, "..", "..", "python")


def cli(*args, cwd=None):
    p = subprocess.run([CLI, args[0], *(["-q"] if args[0] != "l" else []), *args[1:]], cwd=cwd,
                       capture_output=True, env=dict(os.environ, TZ="UTC"), timeout=300)
    assert p.returncode == 0, p.stderr.decode()
    return p.stdout.decode()


def make_tree(root):
    files = {
        "in/notes.txt": b"plain text " * 3000,
        "in/noise.bin": os.urandom(5000),
        "in/empty": b"",
        "in/sub/deeper/code.c": b"int main(void) { return 0; }\n" * 50,
        "in/sub/ümlaut.txt": b"in the OEM page",
        "in/sub/中文.txt": b"not in the OEM page",
    }
    for name, data in files.items():
        path = os.path.join(root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        os.utime(path, (T, T))
    os.makedirs(os.path.join(root, "in", "void"))
    return files


def tree(root):
    out = {}
    for dirpath, dirs, names in os.walk(root):
        for d in dirs:
            out[os.path.relpath(os.path.join(dirpath, d), root)] = None
        for n in names:
            with open(os.path.join(dirpath, n), "rb") as f:
                out[os.path.relpath(os.path.join(dirpath, n), root)] = f.read()
    return out


def timeless(data):
    """The archive bytes without the main header's checksum and time."""
    return data[:0] + b"\0\0" + data[2:18] + b"\0\0\0\0" + data[22:]


@pytest.mark.parametrize("solid", [False, True])
def test_round_trip(tmp_path, solid):
    path = tmp_path / "a.ace"
    with acekit.create(path, solid=solid, dictionary=256, level=2) as out:
        out.writestr("hello.txt", "hello " * 1000, mtime=T)
        out.writestr("data/raw.bin", bytes(range(256)) * 10, mtime=T)
        out.mkdir("data/empty", mtime=T)
        out.comment = "main comment ✓"
    with acekit.open(path) as archive:
        assert archive.comment == "main comment ✓"
        entries = {e.name: e for e in archive}
        assert sorted(entries) == ["data/empty", "data/raw.bin", "hello.txt"]
        hello = entries["hello.txt"]
        assert hello.size == 6000 and 0 < hello.packed_size < 6000
        assert hello.mtime == datetime.fromtimestamp(T, timezone.utc)
        assert hello.crc32 == zlib.crc32(b"hello " * 1000)
        assert not hello.is_dir and entries["data/empty"].is_dir
        assert hello.comment is None
        assert archive.read("data/raw.bin") == bytes(range(256)) * 10
        with archive.open("hello.txt") as stream:
            assert stream.read(6) == b"hello "
        target = archive.extract("data/raw.bin", tmp_path / "one")
        assert open(target, "rb").read() == bytes(range(256)) * 10
        assert archive.extractall(tmp_path / "all") == 3
        assert tree(tmp_path / "all") == {
            "hello.txt": b"hello " * 1000, "data": None, "data/empty": None,
            "data/raw.bin": bytes(range(256)) * 10}
        with pytest.raises(acekit.NotFoundError):
            archive.read("missing")


def test_a_failed_block_leaves_nothing(tmp_path):
    (tmp_path / "a.ace").write_bytes(b"before")
    with pytest.raises(RuntimeError):
        with acekit.create(tmp_path / "a.ace") as out:
            out.writestr("x", b"data", mtime=T)
            raise RuntimeError("stop")
    assert os.listdir(tmp_path) == ["a.ace"]
    assert (tmp_path / "a.ace").read_bytes() == b"before"

    def stop(percent):
        return False
    with pytest.raises(acekit.CancelledError):
        with acekit.create(tmp_path / "b.ace", progress=stop) as out:
            out.writestr("big", os.urandom(1 << 20), mtime=T)
    assert os.listdir(tmp_path) == ["a.ace"]


def writing(d, action):
    with acekit.create(d / "x.ace") as out:
        action(out)


@pytest.mark.parametrize("call, error, words", [
    (lambda d: acekit.open(d / "none.ace"), acekit.NotFoundError, "none.ace"),
    (lambda d: acekit.open(d / "text.ace"), acekit.NotAnArchiveError, "text.ace"),
    (lambda d: acekit.create(d / "x.ace", dictionary=100), acekit.InvalidError, "dictionary"),
    (lambda d: writing(d, lambda w: w.writestr("../up", b"")), acekit.InvalidError, ".."),
    (lambda d: writing(d, lambda w: w.writestr("n" * 300, b"")), acekit.TooLargeError, "255"),
    (lambda d: writing(d, lambda w: w.add(d / "gone")), FileNotFoundError, "gone"),
])
def test_errors_carry_the_library_message(tmp_path, call, error, words):
    (tmp_path / "text.ace").write_text("no archive here")
    with pytest.raises(error) as info:
        call(tmp_path)
    assert words in str(info.value)
    assert sorted(os.listdir(tmp_path)) == ["text.ace"]


def patched(data, old, new):
    """The archive with the first entry's name bytes replaced and its header
    checksum made right again."""
    assert len(old) == len(new)
    data = bytearray(data.replace(old, new, 1))
    head = int.from_bytes(data[2:4], "little") + 4
    size = int.from_bytes(data[head + 2:head + 4], "little")
    crc = (zlib.crc32(bytes(data[head + 4:head + 4 + size])) ^ 0xFFFFFFFF) & 0xFFFF
    data[head:head + 2] = crc.to_bytes(2, "little")
    return bytes(data)


@pytest.mark.parametrize("stored", [b"..\\evilx.txt", b"\\tmp\\evil.tx", b"ln\\evilx.txt"])
def test_extraction_stays_inside(tmp_path, stored):
    with acekit.create(tmp_path / "ok.ace") as out:
        out.writestr("abc/evil.txt", b"bad", mtime=T)
    bad = tmp_path / "bad.ace"
    bad.write_bytes(patched((tmp_path / "ok.ace").read_bytes(), b"abc\\evil.txt", stored))
    (tmp_path / "out").mkdir()
    (tmp_path / "outside").mkdir()
    os.symlink(tmp_path / "outside", tmp_path / "out" / "ln")
    with acekit.open(bad) as archive:
        with pytest.raises(acekit.UnsafePathError):
            archive.extractall(tmp_path / "out")
    assert os.listdir(tmp_path / "outside") == []
    assert sorted(os.listdir(tmp_path / "out")) == ["ln"]


@pytest.mark.skipif(not CLI, reason="ACEKIT_BIN not set")
@pytest.mark.parametrize("options", [[], ["-s"], ["-d", "512", "-m", "3"]])
def test_same_archive_listing_and_files_as_the_program(tmp_path, options):
    files = make_tree(tmp_path)
    cli("a", *options, "by_cli.ace", "in", cwd=tmp_path)
    solid = "-s" in options
    dictionary = int(options[options.index("-d") + 1]) if "-d" in options else 64
    level = int(options[options.index("-m") + 1]) if "-m" in options else 1
    cwd = os.getcwd()
    os.chdir(tmp_path)
    try:
        with acekit.create("by_py.ace", solid=solid, dictionary=dictionary, level=level) as out:
            out.add("in")
    finally:
        os.chdir(cwd)
    by_cli = (tmp_path / "by_cli.ace").read_bytes()
    assert timeless((tmp_path / "by_py.ace").read_bytes()) == timeless(by_cli)

    listing = json.loads(cli("l", "--json", "by_cli.ace", cwd=tmp_path))["entries"]
    with acekit.open(tmp_path / "by_cli.ace") as archive:
        ours = [(e.name, e.is_dir, e.size, e.packed_size, e.attributes,
                 e.crc32 ^ 0xFFFFFFFF if not e.is_dir else None) for e in archive]
    theirs = [(e["name"].rstrip("/"), e["directory"], e["size"], e["packed"], e["attr"],
               int(e["crc32"], 16) if not e["directory"] else None) for e in listing]
    assert ours == theirs
    assert {n for n, *_ in ours} >= {name for name in files}

    cli("x", "-o", "x_cli", "by_cli.ace", cwd=tmp_path)
    with acekit.open(tmp_path / "by_cli.ace") as archive:
        archive.extractall(tmp_path / "x_py")
    assert tree(tmp_path / "x_py") == tree(tmp_path / "x_cli")
    assert tree(tmp_path / "x_py")[os.path.join("in", "sub", "中文.txt")] == b"not in the OEM page"


def test_pip_installs_offline_and_finds_the_library_beside_itself(tmp_path):
    source = tmp_path / "src"
    shutil.copytree(PACKAGE, source, ignore=shutil.ignore_patterns("build", "*.egg-info"))
    venv = tmp_path / "venv"
    subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", "--without-pip",
                    str(venv)], check=True)
    python = str(venv / "bin" / "python")
    p = subprocess.run([python, "-m", "pip", "install", "--no-build-isolation", "--no-deps",
                        "--no-index", "--no-cache-dir", str(source)],
                       capture_output=True, timeout=300)
    assert p.returncode == 0, p.stdout.decode() + p.stderr.decode()
    site = subprocess.run([python, "-c", "import acekit, os; print(os.path.dirname(acekit.__file__))"],
                          capture_output=True, check=True, cwd=tmp_path,
                          env={"PATH": os.environ["PATH"]}).stdout.decode().strip()
    library = os.environ["ACEKIT_LIBRARY"]
    shutil.copy(library, os.path.join(site, "libacekit.so.0"))
    env = {k: v for k, v in os.environ.items() if k not in ("ACEKIT_LIBRARY", "PYTHONPATH")}
    p = subprocess.run([python, "-c", "import acekit; print(acekit.library_version())"],
                       capture_output=True, cwd=tmp_path, env=env)
    assert p.returncode == 0, p.stderr.decode()
    assert p.stdout.decode().strip() == acekit.library_version()
