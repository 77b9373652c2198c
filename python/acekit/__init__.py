"""Reading, writing and extracting ACE archives.

The interface follows ``zipfile`` and ``tarfile``::

    with acekit.create("out.ace", solid=True) as out:
        out.add("docs")
        out.writestr("hello.txt", "hello")
        out.comment = "made with acekit"

    with acekit.open("out.ace") as archive:
        for entry in archive:
            print(entry.name, entry.size, entry.mtime)
        archive.extractall("unpacked")

Names inside archives are text with ``/`` between parts. Errors raise
subclasses of :class:`Error` carrying the library's message.
"""

from __future__ import annotations

import ctypes
import datetime as _dt
import io
import os
import stat as _stat
import time as _time
from dataclasses import dataclass
from typing import BinaryIO, Callable, Dict, Iterator, List, Optional, Union

from . import _native

__all__ = [
    "open", "create", "Reader", "Writer", "Entry", "Error", "InvalidError", "NoMemoryError",
    "OpenError", "ReadError", "WriteError", "NotAnArchiveError", "CorruptError", "CrcError",
    "EncryptedError", "UnsupportedError", "CancelledError", "ExistsError", "NotFoundError",
    "UnsafePathError", "TooLargeError", "ReadOnlyError", "library_version",
]

PathLike = Union[str, "os.PathLike[str]"]


class Error(Exception):
    """A failure reported by the acekit library.

    ``code`` is the library's negative error code, ``message`` its text with
    the path involved and the system's reason where there is one."""

    def __init__(self, code: int, message: str) -> None:
        super().__init__(message)
        self.code = code
        self.message = message


class InvalidError(Error, ValueError):
    """An argument the library refuses (a bad name, option or call order)."""


class NoMemoryError(Error, MemoryError):
    """The library ran out of memory."""


class OpenError(Error, OSError):
    """A file or folder could not be opened or created."""


class ReadError(Error, OSError):
    """A read failed."""


class WriteError(Error, OSError):
    """A write failed (the disk may be full)."""


class NotAnArchiveError(Error):
    """The file holds no archive."""


class CorruptError(Error):
    """The archive is damaged."""


class CrcError(CorruptError):
    """An entry's data does not match its checksum."""


class EncryptedError(Error):
    """Encrypted entries cannot be read."""


class UnsupportedError(Error):
    """A method or archive kind the library does not handle."""


class CancelledError(Error):
    """A progress callback asked to stop."""


class ExistsError(Error):
    """The entry exists already."""


class NotFoundError(Error, FileNotFoundError):
    """No such file or entry."""


class UnsafePathError(Error):
    """Extraction would have left its target folder."""


class TooLargeError(Error):
    """A size, name or comment beyond what the archive format holds."""


class ReadOnlyError(Error):
    """The archive is locked against changes."""


_ERRORS = {
    -1: InvalidError, -2: NoMemoryError, -3: OpenError, -4: ReadError, -5: WriteError,
    -6: NotAnArchiveError, -7: CorruptError, -8: CrcError, -9: EncryptedError,
    -10: UnsupportedError, -11: CancelledError, -12: ExistsError, -13: NotFoundError,
    -14: UnsafePathError, -15: TooLargeError, -16: ReadOnlyError,
}


def _raise(code: int, handle: Optional[int]) -> None:
    lib = _native.lib()
    message = _native.text(lib.acekit_last_error(handle)) or ""
    if not message:
        message = _native.text(lib.acekit_strerror(code)) or "error"
    raise _ERRORS.get(code, Error)(code, message)


def _check(code: int, handle: Optional[int]) -> int:
    if code < 0:
        _raise(code, handle)
    return code


def library_version() -> str:
    """The version of the loaded library."""
    return _native.text(_native.lib().acekit_version()) or ""


@dataclass(frozen=True)
class Entry:
    """One entry of an archive, as iteration yields it."""

    name: str
    """Its name, parts separated by ``/`` (a directory without a trailing one)."""
    size: int
    packed_size: int
    mtime: _dt.datetime
    """Last modification, timezone-aware (UTC); the format keeps two-second steps."""
    is_dir: bool
    crc32: int
    """The CRC-32 of the data, as ``zlib.crc32`` computes it."""
    comment: Optional[str]
    attributes: int
    """The DOS attribute bits as stored."""
    is_encrypted: bool


class _CReader:
    """One pass over an archive with a library reader handle."""

    def __init__(self, path: bytes) -> None:
        self._lib = _native.lib()
        handle = ctypes.c_void_p()
        _check(self._lib.acekit_reader_open(ctypes.byref(handle), path), None)
        self.handle = handle.value

    def close(self) -> None:
        if self.handle:
            self._lib.acekit_reader_close(self.handle)
            self.handle = None

    def __enter__(self) -> "_CReader":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def comment(self) -> Optional[str]:
        return _native.text(self._lib.acekit_reader_comment(self.handle))

    def entries(self) -> Iterator[Entry]:
        raw = _native.Entry()
        while _check(self._lib.acekit_reader_next(self.handle, ctypes.byref(raw)), self.handle):
            yield Entry(
                name=_native.text(raw.name) or "",
                size=raw.size,
                packed_size=raw.packed_size,
                mtime=_dt.datetime.fromtimestamp(raw.mtime, _dt.timezone.utc),
                is_dir=bool(raw.is_dir),
                crc32=raw.crc32,
                comment=_native.text(raw.comment),
                attributes=raw.attributes,
                is_encrypted=bool(raw.is_encrypted),
            )

    def read(self) -> bytes:
        chunks: List[bytes] = []

        def take(_ctx: object, data: int, n: int) -> int:
            chunks.append(ctypes.string_at(data, n))
            return 0

        sink = _native.SINK(take)
        _check(self._lib.acekit_reader_read(self.handle, sink, None), self.handle)
        return b"".join(chunks)

    def extract(self, folder: bytes) -> None:
        _check(self._lib.acekit_reader_extract(self.handle, folder, 0), self.handle)

    def extract_all(self, folder: bytes) -> int:
        return _check(self._lib.acekit_reader_extract_all(self.handle, folder, 0), self.handle)


class Reader:
    """An archive opened for reading; see :func:`open`.

    The entries are listed once when the archive is opened. Iterating yields
    :class:`Entry` objects in archive order."""

    def __init__(self, path: PathLike) -> None:
        self._path = _native.fs(path)
        self.name = os.fspath(path)
        with _CReader(self._path) as r:
            self._comment = r.comment()
            self._entries = list(r.entries())
        self._by_name: Dict[str, Entry] = {}
        for e in self._entries:
            self._by_name.setdefault(e.name, e)

    def __enter__(self) -> "Reader":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def close(self) -> None:
        """Nothing stays open between calls; kept for symmetry with zipfile."""

    def __iter__(self) -> Iterator[Entry]:
        return iter(self._entries)

    def __len__(self) -> int:
        return len(self._entries)

    @property
    def comment(self) -> Optional[str]:
        """The archive's main comment, or None."""
        return self._comment

    def infolist(self) -> List[Entry]:
        """Every entry, in archive order."""
        return list(self._entries)

    def namelist(self) -> List[str]:
        """The names of every entry, in archive order."""
        return [e.name for e in self._entries]

    def getinfo(self, name: str) -> Entry:
        """The entry called `name`; NotFoundError when there is none."""
        try:
            return self._by_name[name.rstrip("/")]
        except KeyError:
            raise NotFoundError(-13, f"no entry '{name}' in '{self.name}'") from None

    def _seek(self, r: _CReader, name: str) -> Entry:
        wanted = self.getinfo(name).name
        for e in r.entries():
            if e.name == wanted:
                return e
        raise NotFoundError(-13, f"no entry '{name}' in '{self.name}'")

    def read(self, name: str) -> bytes:
        """The data of entry `name`, checked against its CRC."""
        with _CReader(self._path) as r:
            self._seek(r, name)
            return r.read()

    def open(self, name: str) -> BinaryIO:
        """A readable binary stream of entry `name` (decoded into memory)."""
        return io.BytesIO(self.read(name))

    def extract(self, member: Union[str, Entry], path: PathLike = ".") -> str:
        """Extracts one entry below folder `path` under its name and returns
        where it went. The rules of :meth:`extractall` apply."""
        name = member.name if isinstance(member, Entry) else member
        with _CReader(self._path) as r:
            e = self._seek(r, name)
            r.extract(_native.fs(path))
        return os.path.join(os.fspath(path), *e.name.split("/"))

    def extractall(self, path: PathLike = ".") -> int:
        """Extracts every entry below folder `path` and returns how many
        files and directories were written.

        An entry whose name is absolute or climbs out with ``..``, or whose
        path would pass through a symbolic link inside `path`, raises
        UnsafePathError. Each file is written to a temporary file and renamed
        into place only once its checksum matched."""
        with _CReader(self._path) as r:
            return r.extract_all(_native.fs(path))

    def testall(self) -> None:
        """Decodes every entry and checks its CRC; raises on the first failure."""
        with _CReader(self._path) as r:
            for e in r.entries():
                if not e.is_dir:
                    r.read()


def open(path: PathLike) -> Reader:  # noqa: A001 - named like tarfile.open
    """Opens an archive for reading, as a context manager."""
    return Reader(path)


def _arcname(path: str) -> str:
    name = os.path.normpath(os.path.splitdrive(path)[1]).replace(os.sep, "/")
    parts = [p for p in name.split("/") if p not in ("", ".", "..")]
    return "/".join(parts)


class Writer:
    """A new archive being written; see :func:`create`.

    The archive is built in a temporary file beside its name and published on
    :meth:`close` (or a clean exit from ``with``); an exception inside the
    ``with`` block, :meth:`abort`, or a writer dropped without being closed
    leaves nothing behind."""

    def __init__(self, path: PathLike, solid: bool = False, dictionary: int = 64,
                 level: int = 1, threads: Optional[int] = None,
                 progress: Optional[Callable[[int], object]] = None) -> None:
        self._lib = _native.lib()
        self.name = os.fspath(path)
        options = _native.Options(dictionary, level, 1 if solid else 0, threads or 0)
        handle = ctypes.c_void_p()
        _check(self._lib.acekit_writer_create(ctypes.byref(handle), _native.fs(path),
                                              ctypes.byref(options)), None)
        self._handle: Optional[int] = handle.value
        self._comment: Optional[str] = None
        self._progress = None
        if progress is not None:
            def report(_ctx: object, percent: int) -> int:
                return 1 if progress(percent) is False else 0
            self._progress = _native.PROGRESS(report)
            self._lib.acekit_writer_set_progress(self._handle, self._progress, None)

    def __enter__(self) -> "Writer":
        return self

    def __exit__(self, exc_type: object, exc: object, tb: object) -> None:
        if exc_type is None:
            self.close()
        else:
            self.abort()

    def _live(self) -> int:
        if not self._handle:
            raise InvalidError(-1, f"'{self.name}' is closed")
        return self._handle

    @property
    def comment(self) -> Optional[str]:
        """The main comment the archive will get (None: none)."""
        return self._comment

    @comment.setter
    def comment(self, value: Optional[str]) -> None:
        h = self._live()
        _check(self._lib.acekit_writer_set_comment(h, (value or "").encode()), h)
        self._comment = value

    def add(self, path: PathLike, arcname: Optional[str] = None) -> None:
        """Adds a file, or a directory with everything in it (names sorted,
        each directory before what it holds). `arcname` defaults to `path`
        without a drive, a leading separator or ``..`` parts."""
        h = self._live()
        disk = os.fspath(path)
        name = _arcname(disk) if arcname is None else arcname
        st = os.stat(disk)
        if name:
            _check(self._lib.acekit_writer_add_file(h, _native.fs(disk), name.encode()), h)
        if _stat.S_ISDIR(st.st_mode):
            for child in sorted(os.listdir(disk)):
                child_disk = os.path.join(disk, child)
                if os.path.islink(child_disk) and os.path.isdir(child_disk):
                    continue  # a linked folder could lead back into the tree
                self.add(child_disk, f"{name}/{child}" if name else child)

    def writestr(self, name: str, data: Union[bytes, str], mtime: Optional[float] = None,
                 attributes: int = 0x20) -> None:
        """Adds `data` (text is stored as UTF-8) under `name`, dated `mtime`
        (seconds since the epoch; default: now)."""
        h = self._live()
        raw = data.encode() if isinstance(data, str) else bytes(data)
        when = int(_time.time() if mtime is None else mtime)
        _check(self._lib.acekit_writer_add_memory(h, name.encode(), raw, len(raw), when,
                                                  attributes), h)

    def mkdir(self, name: str, mtime: Optional[float] = None) -> None:
        """Adds a directory entry `name`."""
        h = self._live()
        when = int(_time.time() if mtime is None else mtime)
        _check(self._lib.acekit_writer_add_directory(h, name.encode(), when), h)

    def close(self) -> None:
        """Completes the archive and puts it in place."""
        if not self._handle:
            return
        h, self._handle = self._handle, None
        _check(self._lib.acekit_writer_finish(h), None)

    def abort(self) -> None:
        """Drops the archive; nothing is left behind."""
        if self._handle:
            h, self._handle = self._handle, None
            self._lib.acekit_writer_abort(h)

    def __del__(self) -> None:
        try:
            self.abort()
        except Exception:  # noqa: BLE001 - nothing may escape a finalizer
            pass


def create(path: PathLike, solid: bool = False, dictionary: int = 64, level: int = 1,
           threads: Optional[int] = None,
           progress: Optional[Callable[[int], object]] = None) -> Writer:
    """Starts a new archive at `path`, as a context manager.

    `dictionary` is the window in KB (64 to 1024), `level` the search effort
    (1 fastest to 4 smallest), `solid` compresses every file as one stream.
    `threads` is passed to the library, which chooses when it is None.
    `progress`, when given, is called with the percentage of the current
    entry; returning False cancels."""
    return Writer(path, solid=solid, dictionary=dictionary, level=level, threads=threads,
                  progress=progress)
