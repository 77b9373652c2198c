#!/usr/bin/env python3
"""Whole-process timings of acekit beside libdeflate, pigz and zstd.

Every row is one hyperfine run; the tools compress the same bytes, which the
others see as one tar of the corpus. The table gives the mean wall time, the
CPU time and the ratio to `libdeflate-gzip` doing the same job (-6 to create,
-d to test or extract), all from one invocation of this script, so that every
figure in it shares the machine's state.

    python3 bench/compare.py --acekit build/default/tools/acekit \
        --corpus big=/tmp/big --corpus small=build/bench/corpus \
        --extract-to /dev/shm > table.md

On a disk, creating the small corpus's 1,481 files after many were deleted
spends most of its time in the file system's search for a free inode, for
`tar xf` as for acekit; `--extract-to` on a tmpfs leaves that out.

Needs hyperfine, libdeflate-gzip (libdeflate-tools), pigz and zstd on PATH.
"""

import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile


def hyperfine(commands, runs, warmup, prepare=None):
    with tempfile.NamedTemporaryFile(suffix=".json", delete=False) as f:
        out = f.name
    args = ["hyperfine", "-N", "-w", str(warmup), "-r", str(runs), "--export-json", out,
            "--style", "none"]
    if prepare:
        args += ["-p", prepare]
    # -N runs without a shell; rows that redirect go through sh explicitly.
    args += commands
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL)
    with open(out) as f:
        data = json.load(f)["results"]
    os.unlink(out)
    return [(r["mean"], r["stddev"] or 0.0, r["user"] + r["system"]) for r in data]


def sh(cmd):
    return "sh -c '" + cmd + "'"


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--acekit", required=True, help="the acekit program")
    p.add_argument("--corpus", action="append", required=True, metavar="NAME=DIR")
    p.add_argument("--baseline", help="an older acekit whose single-thread times go beside")
    p.add_argument("--runs", type=int, default=10)
    p.add_argument("--warmup", type=int, default=2)
    p.add_argument("--work", default=None, help="scratch folder (default: a new temporary one)")
    p.add_argument("--extract-to", default=None, metavar="DIR",
                   help="where the extraction rows write (default: in the scratch folder); "
                        "a tmpfs keeps the disk's inode allocator out of the figures")
    a = p.parse_args()
    for tool in ("hyperfine", "libdeflate-gzip", "pigz", "zstd"):
        if shutil.which(tool) is None:
            sys.exit(f"compare.py: {tool} is not on PATH")
    ace = os.path.abspath(a.acekit)
    work = a.work or tempfile.mkdtemp(prefix="acekit-compare-")
    os.makedirs(work, exist_ok=True)
    cores = os.cpu_count()
    print(f"Machine: {cores} CPUs; default thread count; {a.runs} runs after {a.warmup} warm-up.\n")

    for entry in a.corpus:
        name, folder = entry.split("=", 1)
        folder = os.path.abspath(folder)
        tar = os.path.join(work, name + ".tar")
        subprocess.run(["tar", "cf", tar, "-C", os.path.dirname(folder),
                        os.path.basename(folder)], check=True)
        size = os.path.getsize(tar)
        files = sum(len(fs) for _, _, fs in os.walk(folder))
        s_ace, n_ace = os.path.join(work, name + "-s.ace"), os.path.join(work, name + "-n.ace")
        out = os.path.join(a.extract_to or work, "out")
        one = "env ACEKIT_THREADS=1 "
        old = os.path.abspath(a.baseline) if a.baseline else None

        def with_old(rows):
            # The older program's row goes under each single-thread row.
            if old is None:
                return rows
            out = []
            for label, cmd in rows:
                out.append((label, cmd))
                if cmd.startswith(one):
                    out.append(("  same, older acekit", cmd[len(one):].replace(ace, old, 1)))
            return out

        create = [
            ("acekit a -s -d 64 -m 1", f"{ace} a -q -s -d 64 -m 1 {s_ace} {folder}"),
            ("  same, 1 thread", f"{one}{ace} a -q -s -d 64 -m 1 {s_ace} {folder}"),
            ("acekit a -d 64 -m 1", f"{ace} a -q -d 64 -m 1 {n_ace} {folder}"),
            ("  same, 1 thread", f"{one}{ace} a -q -d 64 -m 1 {n_ace} {folder}"),
            ("libdeflate-gzip -6", sh(f"libdeflate-gzip -6 -c {tar} > {tar}.gz")),
            ("pigz -6 -p 2", sh(f"pigz -6 -p 2 -c {tar} > {tar}.pz")),
            ("zstd -3 -T0", f"zstd -q -f -3 -T0 {tar} -o {tar}.zst"),
        ]
        create = with_old(create)
        # Each run starts with the disk settled, so that writing back what
        # the run before deleted is not timed with the next one.
        rm = sh(f"rm -f {s_ace} {n_ace} && sync")
        res = hyperfine([c for _, c in create], a.runs, a.warmup, prepare=rm)
        # The archives of the last run stay for the reading side.
        subprocess.run(create[0][1].split(), check=True)
        subprocess.run(next(c for label, c in create if label == "acekit a -d 64 -m 1").split(),
                       check=True)
        read = [
            ("acekit t (solid)", f"{ace} t -q {s_ace}"),
            ("  same, 1 thread", f"{one}{ace} t -q {s_ace}"),
            ("acekit t (normal)", f"{ace} t -q {n_ace}"),
            ("  same, 1 thread", f"{one}{ace} t -q {n_ace}"),
            ("libdeflate-gzip -d", f"libdeflate-gzip -d -c {tar}.gz"),
            ("pigz -d", f"pigz -d -c {tar}.pz"),
            ("zstd -d", f"zstd -q -d -c {tar}.zst"),
        ]
        read = with_old(read)
        res_t = hyperfine([c for _, c in read], a.runs, a.warmup)
        extract = [
            ("acekit x (solid)", f"{ace} x -q -y -o {out} {s_ace}"),
            ("acekit x (normal)", f"{ace} x -q -y -o {out} {n_ace}"),
            ("  same, 1 thread", f"{one}{ace} x -q -y -o {out} {n_ace}"),
            ("libdeflate-gzip -d > file", sh(f"libdeflate-gzip -d -c {tar}.gz > {out}/c.tar")),
            ("tar xf (from the tar)", f"tar xf {tar} -C {out}"),
        ]
        extract = with_old(extract)
        res_x = hyperfine([c for _, c in extract], a.runs, a.warmup,
                          prepare=sh(f"rm -rf {out} && mkdir {out} && sync"))

        sizes = {
            "acekit a -s -d 64 -m 1": os.path.getsize(s_ace),
            "acekit a -d 64 -m 1": os.path.getsize(n_ace),
            "libdeflate-gzip -6": os.path.getsize(tar + ".gz"),
            "pigz -6 -p 2": os.path.getsize(tar + ".pz"),
            "zstd -3 -T0": os.path.getsize(tar + ".zst"),
        }
        print(f"### {name}: {files} files, {size / 1e6:.1f} MB as one tar\n")
        print("| job | wall ms | ± | CPU ms | × libdeflate | output MB |")
        print("|---|---:|---:|---:|---:|---:|")
        for rows, results, base in ((create, res, "libdeflate-gzip -6"),
                                    (read, res_t, "libdeflate-gzip -d"),
                                    (extract, res_x, "libdeflate-gzip -d > file")):
            ref = results[[label for label, _ in rows].index(base)][0]
            for (label, _), (mean, sd, cpu) in zip(rows, results):
                mb = f"{sizes[label] / 1e6:.2f}" if label in sizes else ""
                print(f"| {label} | {mean * 1e3:.0f} | {sd * 1e3:.0f} | {cpu * 1e3:.0f} "
                      f"| {mean / ref:.2f} | {mb} |")
        print()
    if a.work is None:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
