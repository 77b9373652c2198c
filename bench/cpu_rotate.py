#!/usr/bin/env python3
"""CPU time (user + system) of commands run in rotation.

    python3 bench/cpu_rotate.py ROUNDS NAME=COMMAND [NAME=COMMAND ...]

For one-thread figures on a shared host: time taken from the process by
others does not count, where wall time would. Commands run through the
shell with ACEKIT_THREADS=1 unless the environment sets it. Prints the
fastest and the median run of each.
"""
import os
import statistics
import subprocess
import sys


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    rounds = int(sys.argv[1])
    commands = [arg.split("=", 1) for arg in sys.argv[2:]]
    env = dict(os.environ)
    env.setdefault("ACEKIT_THREADS", "1")
    times = {name: [] for name, _ in commands}
    for r in range(rounds):
        shift = r % len(commands)
        for name, command in commands[shift:] + commands[:shift]:
            proc = subprocess.Popen(command, shell=True, stdout=subprocess.DEVNULL, env=env)
            _, _, usage = os.wait4(proc.pid, 0)
            times[name].append(usage.ru_utime + usage.ru_stime)
    for name, _ in commands:
        t = times[name]
        print(f"{name:14s} min {min(t) * 1000:7.1f} ms  median {statistics.median(t) * 1000:7.1f} ms")


if __name__ == "__main__":
    main()
