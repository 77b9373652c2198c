#!/usr/bin/env python3
"""Times commands in rotation, for a host whose speed drifts.

    python3 bench/rotate.py ROUNDS PREPARE NAME=COMMAND [NAME=COMMAND ...]

Each round runs every command once, in turn (the starting command moves by
one each round), with PREPARE (a shell command, e.g. removing an output
folder) run before each and not timed. A block of runs of one program, as
hyperfine makes them, meets the host at one speed and the next program at
another; in rotation every command sees the same drift, so the ratio of
two medians means something. Prints the median wall time of each command
with its quartiles and fastest run.
"""
import statistics
import subprocess
import sys
import time


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    rounds = int(sys.argv[1])
    prepare = sys.argv[2]
    commands = [arg.split("=", 1) for arg in sys.argv[3:]]
    times = {name: [] for name, _ in commands}
    for r in range(rounds):
        shift = r % len(commands)
        for name, command in commands[shift:] + commands[:shift]:
            subprocess.run(prepare, shell=True, check=False)
            start = time.perf_counter()
            subprocess.run(command, shell=True, check=False, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
            times[name].append((time.perf_counter() - start) * 1000)
    for name, _ in commands:
        v = sorted(times[name])
        print(f"{name:14s} median {statistics.median(v):7.1f} ms "
              f"(quartiles {v[len(v) // 4]:.1f}-{v[(3 * len(v)) // 4]:.1f}, min {v[0]:.1f})")


if __name__ == "__main__":
    main()
