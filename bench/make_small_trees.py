#!/usr/bin/env python3
"""Writes folder trees of many small files, for timing what each file costs
beyond its bytes.

    python3 bench/make_small_trees.py OUT_DIR [CORPUS_DIR]

OUT_DIR gets, each in folders of 1,000 files:

  tiny60k   60,000 files of 0 to 299 bytes of one repeated letter (a fifth
            of them too short to be kept packed)
  words20k  20,000 files of 20 to 59 words, 100 to 400 bytes
  slices1k  10,000 slices of 0.7 to 1.3 KB of the benchmark corpus
  slices2k   8,000 slices of 1.4 to 2.6 KB
  slices3k   6,000 slices of 2.1 to 3.9 KB

The slices come from CORPUS_DIR (what make_corpus.py wrote; its .gz files
are left out), default build/bench/corpus. Every tree is the same on every
run and machine.
"""
import os
import random
import sys

WORDS = ("alpha beta gamma delta epsilon zeta eta theta iota kappa lambda mu "
         "archive window match literal stream block table header entry folder "
         "reader writer thread worker buffer record length distance offset").split()


def write_tree(out, name, count, make):
    for i in range(count):
        folder = os.path.join(out, name, "d%03d" % (i // 1000))
        if i % 1000 == 0:
            os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "f%06d.txt" % i), "wb") as f:
            f.write(make(i))


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    out = sys.argv[1]
    corpus = sys.argv[2] if len(sys.argv) > 2 else "build/bench/corpus"
    rng = random.Random(1)
    write_tree(out, "tiny60k", 60000, lambda i: b"x" * (i % 300))
    write_tree(out, "words20k", 20000,
               lambda i: " ".join(rng.choice(WORDS) for _ in range(20 + i % 40)).encode())
    sources = []
    for root, _, files in sorted(os.walk(corpus)):
        for f in sorted(files):
            path = os.path.join(root, f)
            if f != "MANIFEST" and not f.endswith(".gz") and os.path.getsize(path) > 8000:
                with open(path, "rb") as src:
                    sources.append(src.read())
    if not sources:
        sys.exit("no corpus files in " + corpus)
    for name, size, count in (("slices1k", 1000, 10000), ("slices2k", 2000, 8000),
                              ("slices3k", 3000, 6000)):
        def piece(_, size=size):
            data = rng.choice(sources)
            n = int(size * rng.uniform(0.7, 1.3))
            at = rng.randint(0, len(data) - n)
            return data[at:at + n]
        write_tree(out, name, count, piece)


if __name__ == "__main__":
    main()
