#!/usr/bin/env python3
"""Times foliant against copies of the same files, side by side.

    bench/bench.py [--tool build/default/foliant] [--runs 11]

Two workloads: the largest text (64 MiB less 1 KiB: 65,535 blocks), and
"all" over 3,000 texts of 3 KiB. foliant makes every output durable before
it takes its name, so each workload has a durable copy as its baseline (cp,
then `sync -d` of the copy and `sync .`; `rsync -a --fsync`), and plain cp
beside it for scale. Runs alternate between the tool and the baselines so
that all see the same machine state; the medians are compared. Peak memory
is the tool's largest resident size. Not a test: the numbers depend on the
machine and its disk. Needs GNU time (package time) and rsync.
"""

import argparse
import os
import random
import shutil
import statistics
import subprocess
import tempfile
import time


def run(argv, cwd):
    """Runs argv; returns (seconds, peak resident KiB). GNU time measures the
    peak: a child forked from this interpreter would report its size too."""
    report = os.path.join(cwd, "..", "peak")
    start = time.perf_counter()
    subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report, *argv], cwd=cwd, check=True,
                   stdout=subprocess.DEVNULL)
    elapsed = time.perf_counter() - start
    with open(report) as f:
        return elapsed, int(f.read().split()[-1])


def remove(folder, names):
    for name in names:
        try:
            os.remove(os.path.join(folder, name))
        except FileNotFoundError:
            pass


def text_bytes(size, rng):
    words = [b"lorem", b"ipsum", b"dolor", b"sit", b"amet", b"\r\n", b"foliant", b"\xc3\xa9t\xc3\xa9"]
    chunk = b" ".join(rng.choice(words) for _ in range(4096))
    return (chunk * (size // len(chunk) + 1))[:size]


def compare(name, tool_run, baselines, runs, clean):
    """Each run makes new files, as a first conversion does: `clean` removes
    the outputs of the run before. `baselines`: {name: run}."""
    tool_times, peaks = [], []
    baseline_times = {baseline: [] for baseline in baselines}
    for _ in range(runs):
        clean()
        seconds, peak = tool_run()
        tool_times.append(seconds)
        peaks.append(peak)
        for baseline, baseline_run in baselines.items():
            clean()
            baseline_times[baseline].append(baseline_run()[0])
    tool = statistics.median(tool_times)
    print(f"{name}: foliant {tool * 1000:.1f} ms, peak memory {max(peaks) / 1024:.1f} MiB")
    for baseline, times in baseline_times.items():
        median = statistics.median(times)
        print(f"    {baseline}: {median * 1000:.1f} ms, foliant/{baseline} {tool / median:.2f}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", default="build/default/foliant")
    parser.add_argument("--runs", type=int, default=11)
    options = parser.parse_args()
    tool = os.path.abspath(options.tool)
    rng = random.Random(7)
    work = tempfile.mkdtemp(prefix="foliant-bench-", dir="/var/tmp")
    try:
        big = os.path.join(work, "big")
        os.mkdir(big)
        with open(os.path.join(big, "big.txt"), "wb") as f:
            f.write(text_bytes(65535 * 1024, rng))
        compare("the largest text (64 MiB - 1 KiB)",
                lambda: run([tool, "big.txt"], big),
                {"durable cp": lambda: run(["sh", "-c", "cp big.txt copy.txt && sync -d copy.txt && sync ."], big),
                 "cp": lambda: run(["cp", "big.txt", "copy.txt"], big)}, options.runs,
                lambda: remove(big, ["big.hdb", "copy.txt"]))

        many = os.path.join(work, "many")
        os.makedirs(os.path.join(many, "texts"))
        os.makedirs(os.path.join(many, "copy"))
        for i in range(3000):
            with open(os.path.join(many, "texts", f"t{i:04}.txt"), "wb") as f:
                f.write(text_bytes(3 << 10, rng))
        names = sorted(os.listdir(os.path.join(many, "texts")))
        compare("all over 3,000 texts of 3 KiB",
                lambda: run([tool, "all"], os.path.join(many, "texts")),
                {"rsync --fsync": lambda: run(["rsync", "-a", "--fsync", "--", *names, "../copy/"],
                                              os.path.join(many, "texts")),
                 "cp": lambda: run(["cp", "--", *names, "../copy/"], os.path.join(many, "texts"))}, options.runs,
                lambda: (remove(os.path.join(many, "texts"), [n[:-4] + ".hdb" for n in names]),
                         remove(os.path.join(many, "copy"), names)))
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
