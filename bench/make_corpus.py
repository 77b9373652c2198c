#!/usr/bin/env python3
"""Builds the benchmark corpus from files every Debian 12 machine with a C++
toolchain already has, so that anyone can rebuild the same bytes without
downloading anything.

Each category has a fixed byte budget. Candidates are listed, sorted by path
(byte order, independent of the locale) and sampled with a fixed stride so
that one package or one directory cannot fill a whole budget; the stride is
the category's total size divided by its budget, and a second pass with a
shifted start tops the budget up when the first one falls short. The same
machine image therefore always yields the same corpus, and MANIFEST lists
every file with its origin, size and SHA-256 so two runs can be compared.

Usage: make_corpus.py OUTPUT_DIR [--scale FACTOR]
"""

import argparse
import gzip
import hashlib
import os
import shutil
import stat
import sys

MIB = 1024 * 1024

# A file larger than this share of its budget is left out, so that one large
# library or document cannot stand for a whole category.
MAX_SHARE = 0.25


def regular_files(roots, accept):
    """Sorted (path, size) of regular, non-symlinked files under roots."""
    found = []
    for root in roots:
        if not os.path.isdir(root):
            continue
        for dirpath, dirnames, filenames in os.walk(root):
            dirnames.sort()
            for name in filenames:
                path = os.path.join(dirpath, name)
                try:
                    st = os.lstat(path)
                except OSError:
                    continue
                if not stat.S_ISREG(st.st_mode) or st.st_size == 0:
                    continue
                if accept(path):
                    found.append((path, st.st_size))
    found.sort(key=lambda item: item[0].encode())
    return found


def is_elf(path):
    try:
        with open(path, "rb") as f:
            return f.read(4) == b"\x7fELF"
    except OSError:
        return False


def sample(files, budget, size_of=None):
    """Stride sample of `files` that fills `budget` bytes without passing it."""
    size_of = size_of or (lambda item: item[1])
    cap = int(budget * MAX_SHARE)
    files = [f for f in files if size_of(f) <= cap]
    total = sum(size_of(f) for f in files)
    if total <= budget:
        return files
    stride = max(1, total // budget)
    chosen, used, taken = [], 0, set()
    for start in range(stride):
        for i in range(start, len(files), stride):
            if i in taken:
                continue
            size = size_of(files[i])
            if used + size > budget:
                continue
            chosen.append(i)
            taken.add(i)
            used += size
        if used >= budget * 0.98:
            break
    return [files[i] for i in sorted(chosen)]


def flat_name(directory, path, suffix=""):
    """A unique file name in `directory` that still shows where the data came from."""
    base = path.strip("/").replace("/", "_")
    if suffix and base.endswith(suffix):
        base = base[: -len(suffix)]
    name, n = base, 1
    while os.path.exists(os.path.join(directory, name)):
        n += 1
        name = f"{base}.{n}"
    return os.path.join(directory, name)


def copy_file(src, dst, limit=None):
    with open(src, "rb") as f:
        data = f.read() if limit is None else f.read(limit)
    with open(dst, "wb") as f:
        f.write(data)
    return data


def gunzip_size(path):
    """Uncompressed size from the gzip trailer (modulo 4 GiB, ample here)."""
    try:
        with open(path, "rb") as f:
            f.seek(-4, os.SEEK_END)
            return int.from_bytes(f.read(4), "little")
    except OSError:
        return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("output")
    parser.add_argument("--scale", type=float, default=1.0,
                        help="multiply every budget (0.05 gives a 1 MB smoke corpus)")
    args = parser.parse_args()

    def budget(mib):
        return int(mib * MIB * args.scale)

    out = os.path.abspath(args.output)
    if os.path.exists(out):
        shutil.rmtree(out)
    os.makedirs(out)
    manifest = []

    def emit(category, origin, data_path, data):
        manifest.append((category, origin, len(data), hashlib.sha256(data).hexdigest(),
                         os.path.relpath(data_path, out)))

    def category_dir(name):
        d = os.path.join(out, name)
        os.makedirs(d, exist_ok=True)
        return d

    # Structured text: the package database, cut at its budget if it is larger.
    d = category_dir("dpkg")
    status = "/var/lib/dpkg/status"
    if os.path.isfile(status):
        dst = os.path.join(d, "status")
        emit("dpkg", status, dst, copy_file(status, dst, budget(1)))

    # Manual pages, stored compressed and benchmarked as the troff they hold.
    # Only the untranslated sections, so the text is one language throughout.
    d = category_dir("man")
    roots = sorted(os.path.join("/usr/share/man", s) for s in os.listdir("/usr/share/man")
                   if s.startswith("man")) if os.path.isdir("/usr/share/man") else []
    pages = regular_files(roots, lambda p: p.endswith(".gz"))
    pages = [(p, gunzip_size(p)) for p, _ in pages]
    pages = [item for item in pages if item[1] > 0]
    for path, _ in sample(pages, budget(4)):
        with gzip.open(path, "rb") as f:
            data = f.read()
        dst = flat_name(d, path, ".gz")
        with open(dst, "wb") as f:
            f.write(data)
        emit("man", path, dst, data)

    # C++ standard library headers.
    d = category_dir("headers")
    for path, _ in sample(regular_files(["/usr/include/c++"], lambda p: True), budget(4)):
        dst = flat_name(d, path)
        emit("headers", path, dst, copy_file(path, dst))

    # x86-64 programs and shared libraries.
    d = category_dir("binaries")
    libdir = "/usr/lib/x86_64-linux-gnu"
    programs = regular_files(["/usr/bin"], is_elf)
    # Only the libraries directly in the directory: its subdirectories hold
    # plug-ins and object files of whatever toolchains happen to be installed.
    libraries = [(p, s) for p, s in regular_files([libdir], is_elf)
                 if os.path.dirname(p) == libdir and ".so" in os.path.basename(p)]
    for found, mib in ((programs, 2), (libraries, 3)):
        for path, _ in sample(found, budget(mib)):
            dst = flat_name(d, path)
            emit("binaries", path, dst, copy_file(path, dst))

    # HTML documentation; the packages installed decide how much there is, so
    # the search widens to other documentation trees when the first is thin.
    d = category_dir("html")
    html = lambda p: p.endswith((".html", ".htm"))
    found = regular_files(["/usr/share/doc"], html)
    if sum(s for _, s in found) < budget(3):
        found = regular_files(["/usr/share/doc", "/usr/share/gtk-doc", "/usr/share/gettext",
                               "/usr/share/javascript", "/usr/lib/python3"], html)
    for path, _ in sample(found, budget(3)):
        dst = flat_name(d, path)
        emit("html", path, dst, copy_file(path, dst))

    # Already-compressed data, kept as it is.
    d = category_dir("gz")
    for path, _ in sample(regular_files(["/usr/share/doc"], lambda p: p.endswith(".gz")),
                          budget(3)):
        dst = flat_name(d, path)
        emit("gz", path, dst, copy_file(path, dst))

    with open(os.path.join(out, "MANIFEST"), "w") as f:
        f.write("# category\tbytes\tsha256\tfile\torigin\n")
        for category, origin, size, digest, rel in manifest:
            f.write(f"{category}\t{size}\t{digest}\t{rel}\t{origin}\n")

    totals = {}
    for category, _, size, _, _ in manifest:
        count, nbytes = totals.get(category, (0, 0))
        totals[category] = (count + 1, nbytes + size)
    for category, (count, nbytes) in totals.items():
        print(f"{category:9} {count:5} files {nbytes / MIB:7.2f} MiB")
    all_bytes = sum(n for _, n in totals.values())
    print(f"{'total':9} {len(manifest):5} files {all_bytes / MIB:7.2f} MiB in {out}")
    return 0 if manifest else 1


if __name__ == "__main__":
    sys.exit(main())
