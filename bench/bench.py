#!/usr/bin/env python3
"""Times foliant against copies of the same files, side by side, and "all"
run again over folders that hold its outputs.

    bench/bench.py [--tool build/default/foliant] [--runs 11]
                   [--only copies|reruns] [--texts 10000,100000]

Three workloads against copies: the largest text (64 MiB less 1 KiB: 65,535
blocks) as a new output and replacing an earlier one, and "all" over 3,000
texts of 3 KiB. foliant makes every output durable before it takes its name, so each
workload has a durable copy as its baseline: for one text cp, then `sync -d`
of the copy and `sync .`; for many, cp of them all and one `sync -f` of the
file system (what batching can reach), with `rsync -a --fsync` (a flush per
file) and plain cp beside it for scale, and the least the calls foliant must
make for each text cost by themselves (bench/floor.cpp, built here with c++;
once more with the text opened once). Runs alternate between the tool and
the baselines so that all see the same machine state; the medians are
compared. Peak memory is the tool's largest resident size.

As root, the work happens on an ext4 of its own on a loop device, and each
line also gives the cache flushes that reached that device in a run (the
flush count of /sys/block/loopN/stat); elsewhere in /var/tmp, without the
counts. Not a test: the numbers depend on the machine and its disk. Needs GNU
time (package time), rsync and, for the counts, e2fsprogs.

Then the runs again, on a tmpfs (mounted as root, else /dev/shm) so that
they measure the tool's own work: over --texts texts of 1 KiB, and over as
many in pairs whose names differ in case alone, "all" once without outputs
and once more with every output there; each gives its CPU time a text, the
second run's against the first's, and how much the peak memory grows a
text from the smallest folder to the largest.
"""

import argparse
import contextlib
import os
import random
import shutil
import statistics
import subprocess
import tempfile
import time


FLUSHES = None  # the loop device's stat file, when the work is on one


def flushes():
    """Cache flushes the loop device has completed so far (its 16th field)."""
    if FLUSHES is None:
        return 0
    with open(FLUSHES) as f:
        return int(f.read().split()[15])


def run(argv, cwd):
    """Runs argv; returns (seconds, peak resident KiB, flushes, CPU seconds).
    GNU time measures the peak and the CPU time: a child forked from this
    interpreter would report its size too."""
    report = os.path.join(cwd, "..", "peak")
    before = flushes()
    start = time.perf_counter()
    subprocess.run(["/usr/bin/time", "-f", "%M %U %S", "-o", report, *argv], cwd=cwd, check=True,
                   stdout=subprocess.DEVNULL)
    elapsed = time.perf_counter() - start
    flushed = flushes() - before
    with open(report) as f:
        peak, user, system = f.read().split()[-3:]
    return elapsed, int(peak), flushed, float(user) + float(system)


@contextlib.contextmanager
def own_ext4(work):
    """An ext4 on a loop device, mounted in `work`, when this runs as root;
    else `work` itself."""
    global FLUSHES
    if os.geteuid() != 0 or not shutil.which("mkfs.ext4"):
        yield work
        return
    image, mount = os.path.join(work, "ext4.img"), os.path.join(work, "ext4")
    os.mkdir(mount)
    with open(image, "wb") as f:
        f.truncate(2 << 30)
    subprocess.run(["mkfs.ext4", "-q", "-F", image], check=True)
    device = subprocess.run(["losetup", "--find", "--show", image], check=True, capture_output=True,
                            text=True).stdout.strip()
    try:
        subprocess.run(["mount", device, mount], check=True)
        FLUSHES = f"/sys/block/{os.path.basename(device)}/stat"
        try:
            yield mount
        finally:
            FLUSHES = None
            subprocess.run(["umount", mount], check=True)
    finally:
        subprocess.run(["losetup", "-d", device], check=True)


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
    """Each run starts from the same files: `clean` puts back what the run
    before changed, and everything is written back before the next run.
    `baselines`: {name: run}."""
    tool_runs = []
    baseline_runs = {baseline: [] for baseline in baselines}
    for _ in range(runs):
        clean()
        os.sync()
        tool_runs.append(tool_run())
        for baseline, baseline_run in baselines.items():
            clean()
            os.sync()
            baseline_runs[baseline].append(baseline_run())
    tool = statistics.median(seconds for seconds, *_ in tool_runs)
    counted = f", {statistics.median(f for _, _, f, _ in tool_runs):.0f} flushes" if FLUSHES else ""
    peak = max(p for _, p, *_ in tool_runs) / 1024
    print(f"{name}: foliant {tool * 1000:.1f} ms{counted}, peak memory {peak:.1f} MiB")
    for baseline, measured in baseline_runs.items():
        median = statistics.median(seconds for seconds, *_ in measured)
        counted = f", {statistics.median(f for _, _, f, _ in measured):.0f} flushes" if FLUSHES else ""
        print(f"    {baseline}: {median * 1000:.1f} ms{counted}, foliant/{baseline} {tool / median:.2f}")


def put(folder, files):
    """`files` ({name: bytes}) in `folder`, replacing what is there."""
    for name, data in files.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


@contextlib.contextmanager
def own_tmpfs(work):
    """A tmpfs mounted in `work` when this runs as root; else /dev/shm (a
    tmpfs on most Linux systems), or `work` itself without it."""
    if os.geteuid() != 0:
        shared = "/dev/shm" if os.path.isdir("/dev/shm") else work
        place = tempfile.mkdtemp(prefix="foliant-bench-", dir=shared)
        try:
            yield place
        finally:
            shutil.rmtree(place)
        return
    mount = os.path.join(work, "tmpfs")
    os.mkdir(mount)
    subprocess.run(["mount", "-t", "tmpfs", "-o", "size=8g", "foliant-bench", mount], check=True)
    try:
        yield mount
    finally:
        subprocess.run(["umount", mount], check=True)


def reruns(tool, work, runs, counts, rng):
    """"all" again over a folder that holds every output already, and over
    pairs of texts whose names differ in case alone (a00001.txt, A00001.TXT),
    each against the first run over the same texts: the CPU time a text
    (user and system), on tmpfs so that the tool's own work is measured."""
    text = text_bytes(1 << 10, rng)
    peaks = {}
    for count in counts:
        for kind, names in (("texts", [f"t{i:06}.txt" for i in range(count)]),
                            ("texts in pairs alike but for case",
                             [name for i in range(count // 2) for name in (f"a{i:06}.txt", f"A{i:06}.TXT")])):
            folder = os.path.join(work, "reruns")
            os.mkdir(folder)
            put(folder, {name: text for name in names})
            outputs = [name[:-4] + ".hdb" for name in names]
            first, second = [], []
            for _ in range(runs):
                remove(folder, outputs)
                first.append(run([tool, "all"], folder))
                second.append(run([tool, "all"], folder))  # every output there
            shutil.rmtree(folder)
            cost = {}
            for which, measured in (("first run", first), ("second run", second)):
                cpu = statistics.median(c for *_, c in measured)
                cost[which] = cpu / len(names) * 1e6
                peak = peaks[kind, which, len(names)] = max(p for _, p, *_ in measured)
                print(f"all over {len(names):,} {kind}, {which}: {statistics.median(s for s, *_ in measured):.2f} s, "
                      f"{cpu:.2f} s CPU, {cost[which]:.1f} µs CPU a text, peak memory {peak / 1024:.1f} MiB")
            print(f"    second run/first run {cost['second run'] / cost['first run']:.2f}")
    # What the folder's listing and the record of outputs take a text: the
    # growth of the peak between the smallest folder and the largest.
    small, large = min(counts), max(counts)
    for (kind, which, texts), peak in peaks.items():
        if large > small and texts == large:
            grown = (peak - peaks[kind, which, small]) * 1024 / (large - small)
            print(f"{kind}, {which}: peak memory grows {grown:.0f} bytes a text from {small:,} to {large:,}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", default="build/default/foliant")
    parser.add_argument("--runs", type=int, default=11)
    parser.add_argument("--only", choices=("copies", "reruns"),
                        help="only the workloads against copies, or only the runs again over full folders")
    parser.add_argument("--texts", default="10000,100000", help="the folder sizes of the runs again (texts)")
    options = parser.parse_args()
    tool = os.path.abspath(options.tool)
    rng = random.Random(7)
    work = tempfile.mkdtemp(prefix="foliant-bench-", dir="/var/tmp")
    try:
        if options.only != "reruns":
            with own_ext4(work) as place:
                workloads(tool, place, options.runs, rng)
        if options.only != "copies":
            with own_tmpfs(work) as place:
                reruns(tool, place, options.runs, [int(n) for n in options.texts.split(",")], rng)
    finally:
        shutil.rmtree(work)


def workloads(tool, work, runs, rng):
    big = os.path.join(work, "big")
    os.mkdir(big)
    with open(os.path.join(big, "big.txt"), "wb") as f:
        f.write(text_bytes(65535 * 1024, rng))
    durable_cp = {"durable cp": lambda: run(["sh", "-c", "cp big.txt copy.txt && sync -d copy.txt && sync ."], big),
                  "cp": lambda: run(["cp", "big.txt", "copy.txt"], big)}
    compare("the largest text (64 MiB - 1 KiB), new", lambda: run([tool, "big.txt"], big), durable_cp, runs,
            lambda: remove(big, ["big.hdb", "copy.txt"]))
    earlier = {"big.hdb": b"an earlier output", "copy.txt": b"an earlier copy"}
    compare("the largest text, replacing", lambda: run([tool, "big.txt"], big), durable_cp, runs,
            lambda: put(big, earlier))
    remove(big, ["big.txt", *earlier])

    many = os.path.join(work, "many")
    texts = os.path.join(many, "texts")
    os.makedirs(texts)
    os.makedirs(os.path.join(many, "copy"))
    for i in range(3000):
        with open(os.path.join(texts, f"t{i:04}.txt"), "wb") as f:
            f.write(text_bytes(3 << 10, rng))
    names = sorted(os.listdir(texts))
    baselines = {"cp, one sync -f": lambda: run(["sh", "-c", 'cp -- "$@" ../copy/ && sync -f ../copy', "sh", *names],
                                                texts),
                 "rsync --fsync": lambda: run(["rsync", "-a", "--fsync", "--", *names, "../copy/"], texts),
                 "cp": lambda: run(["cp", "--", *names, "../copy/"], texts)}
    floor = os.path.join(work, "floor")
    source = os.path.join(os.path.dirname(os.path.abspath(__file__)), "floor.cpp")
    if shutil.which("c++") and subprocess.run(["c++", "-std=c++20", "-O2", "-o", floor, source]).returncode == 0:
        baselines["the calls alone"] = lambda: run([floor], texts)
        baselines["the calls alone, text opened once"] = lambda: run([floor, "once"], texts)
    compare("all over 3,000 texts of 3 KiB, new", lambda: run([tool, "all"], texts), baselines, runs,
            lambda: (remove(texts, [n[:-4] + ".hdb" for n in names]), remove(os.path.join(many, "copy"), names)))


if __name__ == "__main__":
    main()
