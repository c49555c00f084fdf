#!/usr/bin/env python3
"""Times "Convert to HDB" on a large selection against one foliant run.

    bench/convert_beside.py [--build build/default] [--texts 2000] [--runs 7]

Installs the build into a scratch prefix, makes TEXTS texts of 3 KiB in one
folder, and times, side by side and alternating so that both see the same
machine state: the launcher (libexec/foliant/convert-beside) given every
text's full path, as a file manager hands them over, started from another
folder; and one `foliant` run naming them all in their folder. Every output
is removed before each run, so both write new files. Prints each median and
their ratio; the launcher's target is at most 1.5 times foliant's. Not a
test: the numbers depend on the machine and its disk.
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time


def timed(command, cwd):
    start = time.perf_counter()
    ran = subprocess.run(command, cwd=cwd, stdin=subprocess.DEVNULL, capture_output=True,
                         env=dict(os.environ, DISPLAY=""))
    took = time.perf_counter() - start
    if ran.returncode:
        sys.exit(f"{command[0]}: status {ran.returncode}: {(ran.stdout + ran.stderr)[-400:]!r}")
    return took


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default="build/default")
    parser.add_argument("--texts", type=int, default=2000)
    parser.add_argument("--runs", type=int, default=7)
    options = parser.parse_args()
    work = tempfile.mkdtemp(prefix="foliant-bench-launcher-", dir="/var/tmp")
    try:
        prefix = os.path.join(work, "prefix")
        subprocess.run(["cmake", "--install", options.build, "--prefix", prefix], check=True,
                       stdout=subprocess.DEVNULL)
        folder = os.path.join(work, "texts")
        os.mkdir(folder)
        names = [f"text {i:05}.txt" for i in range(options.texts)]
        for name in names:
            with open(os.path.join(folder, name), "wb") as f:
                f.write(name.encode() * (3072 // len(name)))
        launcher = [os.path.join(prefix, "libexec/foliant/convert-beside")] + [os.path.join(folder, n) for n in names]
        foliant = [os.path.join(prefix, "bin/foliant")] + names
        times = {"launcher": [], "foliant": []}
        for _ in range(options.runs):
            for what, command, cwd in (("launcher", launcher, work), ("foliant", foliant, folder)):
                for name in os.listdir(folder):
                    if name.endswith(".hdb"):
                        os.remove(os.path.join(folder, name))
                times[what].append(timed(command, cwd))
        launcher_median, foliant_median = (statistics.median(times[w]) for w in ("launcher", "foliant"))
        print(f"{options.texts} texts in one folder, median of {options.runs} runs each:")
        print(f"  convert-beside, full paths: {launcher_median * 1000:.1f} ms")
        print(f"  one foliant run:            {foliant_median * 1000:.1f} ms")
        print(f"  ratio {launcher_median / foliant_median:.2f} (target at most 1.5)")
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
