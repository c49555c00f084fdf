#!/usr/bin/env python3
"""What every end-to-end harness shares: the arguments (the emulator's
among them, parsed here alone), runs of the tool with or without Wine, the
Wine prefixes, scratch folders, the stand-in opener, waiting against a
deadline and the report. Standard library only, so that the package checks
can import it under /usr/bin/python3.

Run alone with --prepare-wine, it prepares Wine's default prefix, which the
Windows tests share, before they run side by side."""

import argparse
import contextlib
import os
import shutil
import subprocess
import tempfile
import threading
import time

# Not below /tmp, which the small-disk cases lay a tmpfs over.
WORK_ROOT = "/var/tmp" if os.path.isdir("/var/tmp") else None


def parser(tool=True, platform=True):
    """The arguments the harnesses share; each adds its own."""
    arguments = argparse.ArgumentParser()
    arguments.add_argument("--emulator", default="", type=lambda text: [word for word in text.split(";") if word],
                           help="exec prefix (Wine), a ;-separated list as CMake gives it")
    if tool:
        arguments.add_argument("--tool", required=True, type=os.path.abspath)
    if platform:
        arguments.add_argument("--platform", choices=("posix", "windows"), required=True)
    return arguments


def run(command, timeout=300, **kwargs):
    """A finished run, its output captured; standard input is empty unless given."""
    if "input" not in kwargs:
        kwargs.setdefault("stdin", subprocess.DEVNULL)
    return subprocess.run(command, capture_output=True, timeout=timeout, **kwargs)


def traced_run(command, cwd, environment, calls, options=(), timeout=300):
    """Runs `command` with `calls` (comma-separated) traced by strace across
    its processes; returns the finished run and the trace's lines."""
    log = cwd + ".strace"
    try:
        ran = run(["strace", "-f", *options, "-o", log, "-e", "trace=" + calls] + command, cwd=cwd,
                  env=environment, timeout=timeout)
        with open(log) as f:
            return ran, f.read().splitlines()
    finally:
        if os.path.exists(log):
            os.remove(log)


def traceable(environment=None):
    """`environment` (this process's by default) for a run under strace:
    the sanitizers' leak check cannot work under ptrace; their other checks
    can."""
    environment = dict(os.environ if environment is None else environment)
    environment["ASAN_OPTIONS"] = ":".join(filter(None, [environment.get("ASAN_OPTIONS"), "detect_leaks=0"]))
    return environment


def windows_path(path):
    """A Unix path as Wine's drive Z: shows it."""
    return "Z:" + path.replace("/", "\\")


_wine_lock = threading.Lock()


def wine_environment(emulator, prefix=None, user=None, base=None):
    """The environment for Wine in `prefix` (None: Wine's default one), made
    first if it is not there yet: wineboot builds it, and the Wine server's
    end means it is all written. It is kept: building it takes seconds.
    `user`: the uid that owns the prefix and so must build it."""
    environment = dict(os.environ if base is None else base, WINEDEBUG="-all")
    if prefix:
        environment["WINEPREFIX"] = prefix
    folder = environment.get("WINEPREFIX") or os.path.join(environment.get("HOME", "/"), ".wine")
    as_user = {} if user is None else {"user": user, "group": user, "extra_groups": []}
    with _wine_lock:
        if not os.path.isfile(os.path.join(folder, "system.reg")):
            # Wine's own programs run with the emulator's words before `wine`.
            made = run(emulator[:-1] + ["sh", "-c", "wineboot --init && wineserver -w"], env=environment, **as_user)
            if made.returncode:
                raise RuntimeError(f"no Wine prefix in {folder}: {made.stderr.decode(errors='replace')[-2000:]}")
    return environment


def write_files(folder, files):
    """`files` ({name: bytes, or a size for a sparse file}) in `folder`,
    with the folders they need."""
    for name, data in files.items():
        path = os.path.join(folder, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            if isinstance(data, int):
                f.truncate(data)
            else:
                f.write(data)


@contextlib.contextmanager
def scratch(prefix, within=WORK_ROOT, files=None):
    """A new folder that anyone may enter, holding `files`; removed
    afterwards, whatever modes a case left in it."""
    folder = tempfile.mkdtemp(prefix=prefix, dir=within)
    os.chmod(folder, 0o755)
    try:
        write_files(folder, files or {})
        yield folder
    finally:
        for root, dirs, _ in os.walk(folder):
            for name in dirs:
                os.chmod(os.path.join(root, name), 0o755)
        shutil.rmtree(folder, ignore_errors=True)


# Records the paths it is given, then lingers if asked. Sleep by its full
# path: a case may leave nothing else on PATH.
STAND_IN_OPENER = """#!/bin/sh
printf '%s\\n' "$@" >> "$FOLIANT_OPENER_LOG"
exec {sleep} "${{FOLIANT_OPENER_SLEEP:-0}}"
"""


def stand_in_opener(folder):
    """An xdg-open in `folder` (made if missing) that appends each path it is
    given to $FOLIANT_OPENER_LOG and then sleeps $FOLIANT_OPENER_SLEEP
    seconds. Returns the folder, to put first on PATH."""
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, "xdg-open")
    with open(path, "w") as f:
        f.write(STAND_IN_OPENER.format(sleep=shutil.which("sleep")))
    os.chmod(path, 0o755)
    return folder


def poll(condition, seconds, what=None, interval=0.05):
    """condition()'s first true value, or its last one once `seconds` have
    passed; then, with `what`, TimeoutError instead."""
    deadline = time.monotonic() + seconds
    while not (found := condition()) and time.monotonic() < deadline:
        time.sleep(interval)
    if not found and what:
        raise TimeoutError(f"gave up waiting for {what}")
    return found


class Report:
    """A line for each case as it ends, its problems below it, and the
    closing count."""

    def __init__(self):
        self.passed = self.failed = 0

    def case(self, name, problems, runs=1):
        """`runs` over 1: the line stands for that many runs, and each problem
        for one that failed."""
        failed = len(problems) if runs > 1 else min(len(problems), 1)
        self.passed, self.failed = self.passed + runs - failed, self.failed + failed
        print(("FAIL " if problems else "ok   ") + name, flush=True)
        for problem in problems:
            print("     " + problem, flush=True)

    def close(self):
        """Prints the closing count; returns the exit status."""
        print(f"{self.passed} passed, {self.failed} failed")
        return 1 if self.failed else 0


if __name__ == "__main__":
    arguments = parser(tool=False, platform=False)
    arguments.add_argument("--prepare-wine", action="store_true", required=True)
    wine_environment(arguments.parse_args().emulator)
