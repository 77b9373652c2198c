"""The C interface of libacekit (acekit/acekit.h) through ctypes."""

from __future__ import annotations

import ctypes
import os
import sys
from typing import Optional

SONAME = "libacekit.so.0"


class Options(ctypes.Structure):
    _fields_ = [
        ("dictionary_kb", ctypes.c_uint32),
        ("level", ctypes.c_int),
        ("solid", ctypes.c_int),
        ("threads", ctypes.c_int),
    ]


class Entry(ctypes.Structure):
    _fields_ = [
        ("name", ctypes.c_char_p),
        ("size", ctypes.c_uint64),
        ("packed_size", ctypes.c_uint64),
        ("mtime", ctypes.c_int64),
        ("crc32", ctypes.c_uint32),
        ("attributes", ctypes.c_uint32),
        ("is_dir", ctypes.c_int),
        ("is_encrypted", ctypes.c_int),
        ("comment", ctypes.c_char_p),
    ]


SINK = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_size_t)
PROGRESS = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_int)

_lib: Optional[ctypes.CDLL] = None


def _candidates() -> list:
    env = os.environ.get("ACEKIT_LIBRARY")
    if env:
        return [env]
    here = os.path.dirname(os.path.abspath(__file__))
    names = []
    if os.path.isdir(here):
        for name in sorted(os.listdir(here)):
            if name.startswith("libacekit.so") or name in ("acekit.dylib", "libacekit.dylib"):
                names.append(os.path.join(here, name))
    names.append(SONAME)
    return names


def _declare(lib: ctypes.CDLL) -> None:
    vp, cp, ci = ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int
    pp = ctypes.POINTER(ctypes.c_void_p)
    sigs = {
        "acekit_version": (cp, []),
        "acekit_strerror": (cp, [ci]),
        "acekit_last_error": (cp, [vp]),
        "acekit_reader_open": (ci, [pp, cp]),
        "acekit_reader_next": (ci, [vp, ctypes.POINTER(Entry)]),
        "acekit_reader_read": (ci, [vp, SINK, vp]),
        "acekit_reader_extract": (ci, [vp, cp, ctypes.c_uint]),
        "acekit_reader_extract_all": (ci, [vp, cp, ctypes.c_uint]),
        "acekit_reader_comment": (cp, [vp]),
        "acekit_reader_is_solid": (ci, [vp]),
        "acekit_reader_set_progress": (ci, [vp, PROGRESS, vp]),
        "acekit_reader_close": (None, [vp]),
        "acekit_writer_create": (ci, [pp, cp, ctypes.POINTER(Options)]),
        "acekit_writer_add_file": (ci, [vp, cp, cp]),
        "acekit_writer_add_memory": (ci, [vp, cp, ctypes.c_char_p, ctypes.c_size_t,
                                          ctypes.c_int64, ctypes.c_uint32]),
        "acekit_writer_add_directory": (ci, [vp, cp, ctypes.c_int64]),
        "acekit_writer_set_comment": (ci, [vp, cp]),
        "acekit_writer_set_progress": (ci, [vp, PROGRESS, vp]),
        "acekit_writer_finish": (ci, [vp]),
        "acekit_writer_abort": (None, [vp]),
    }
    for name, (res, args) in sigs.items():
        fn = getattr(lib, name)
        fn.restype = res
        fn.argtypes = args


def lib() -> ctypes.CDLL:
    """The loaded library, declared; loaded on first use."""
    global _lib
    if _lib is None:
        errors = []
        for candidate in _candidates():
            try:
                loaded = ctypes.CDLL(candidate)
                _declare(loaded)
            except (OSError, AttributeError) as e:
                errors.append(f"{candidate}: {e}")
                continue
            _lib = loaded
            break
        else:
            raise OSError("cannot load the acekit library (set ACEKIT_LIBRARY): "
                          + "; ".join(errors))
    return _lib


def fs(path: "os.PathLike[str] | str") -> bytes:
    """A path as the library takes it."""
    return os.fsencode(os.fspath(path))


def text(value: Optional[bytes]) -> Optional[str]:
    if value is None:
        return None
    return value.decode("utf-8", "surrogateescape")


def encoding_ok() -> bool:
    return sys.getfilesystemencoding().lower() in ("utf-8", "utf8")
