#!/usr/bin/env python3
"""A run stopped at any point leaves the folder as it was, or with the new
output complete, and nothing else.

POSIX: strace delivers a signal at the N-th open, read, write, close, linkat and
rename of a conversion, for every N, beside an earlier output and without
one; once for the tool itself (an unnamed file until complete) and once for
its build without unnamed files (--named-tool), whose temporary file the
signal handlers must remove. Windows: foliant.exe is killed while it writes
the largest text, and a normal run must still replace an earlier output.
"""

import argparse
import concurrent.futures
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from hdb_reader import HdbError, read_hdb  # noqa: E402
from strace_log import traced_run  # noqa: E402

MAX_TEXT = 65535 * 1024
TEXT = bytes((i * 31 + (i >> 10)) % 251 for i in range(700_000))  # three chunks of 256 KiB, three writes
EARLIER = b"an earlier output"
SYSCALLS = ("openat", "read", "write", "close", "linkat", "rename")
TEMPORARY = re.compile(r"\.foliant-[0-9a-f]{12}\.tmp")
CONVERTED = b"book.hdb converted.\n"

# Where the folder starts: the text, with or without an earlier output.
SETUPS = {
    "beside an earlier output": {"book.txt": TEXT, "book.hdb": EARLIER},
    "no earlier output": {"book.txt": TEXT},
}
# SIGKILL cannot be caught: only the unnamed file is safe from it.
SIGNALS = {
    "unnamed": (signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGPIPE, signal.SIGKILL),
    "named": (signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGPIPE),
}
# The one moment nothing covers: the complete file is linked by a temporary
# name, and SIGKILL comes before the rename over the earlier output. Then the
# temporary file must be that complete output.
LEFT_BY_SIGKILL = ("unnamed", "beside an earlier output", signal.SIGKILL, "rename")


def make_folder(work, files):
    scratch = tempfile.mkdtemp(prefix="interrupt-", dir=work)
    for name, data in files.items():
        with open(os.path.join(scratch, name), "wb") as f:
            if isinstance(data, int):
                f.truncate(data)  # sparse, of that size
            else:
                f.write(data)
    return scratch


def unchanged(path, data):
    if isinstance(data, int):
        return os.path.getsize(path) == data
    with open(path, "rb") as f:
        return f.read() == data


def complete_output_problems(path, text):
    with open(path, "rb") as f:
        data = f.read()
    try:
        header_name, text_back = read_hdb(data)
    except HdbError as error:
        return [f"{os.path.basename(path)}: neither the earlier output nor complete ({error})"]
    if text_back != (bytes(text) if isinstance(text, int) else text):  # a sparse text reads as zeros
        return [f"{os.path.basename(path)}: text blocks differ from the input"]
    if header_name != b"book.txt":
        return [f"{os.path.basename(path)}: header name {header_name!r}"]
    return []


def folder_problems(scratch, files, output, stdout, temporary_allowed=False):
    """The input unchanged; the output as it was or complete; nothing else."""
    text = files[next(name for name in files if name != output)]
    names = set(os.listdir(scratch))
    extra = names - set(files) - {output}
    problems = []
    if temporary_allowed and len(extra) == 1 and TEMPORARY.fullmatch(next(iter(extra))):
        problems += complete_output_problems(os.path.join(scratch, extra.pop()), text)
    problems += [f"{name}: left behind" for name in sorted(extra)]
    for name, data in files.items():
        if name != output and not unchanged(os.path.join(scratch, name), data):
            problems.append(f"{name}: changed")
    path = os.path.join(scratch, output)
    earlier = output in files and output in names and unchanged(path, files[output])
    if output in names and not earlier:
        problems += complete_output_problems(path, text)
    if stdout and (earlier or output not in names):
        problems.append("the success line was printed, but the output is not in place")
    return problems


def count_calls(tool, work, files, environment):
    """How often a normal run makes each system call, and whether it asks for
    an unnamed file (O_TMPFILE)."""
    scratch = make_folder(work, files)
    try:
        ran, lines = traced_run([tool, "book.txt"], scratch, environment, ",".join(SYSCALLS), timeout=120)
        ran.check_returncode()
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    counts = {call: sum(1 for line in lines if re.match(rf"\d+\s+{call}\(", line)) for call in SYSCALLS}
    return counts, any("O_TMPFILE" in line for line in lines)


def interrupted_case(tool, kind, setup, work, environment, number, call, nth):
    files = SETUPS[setup]
    scratch = make_folder(work, files)
    try:
        injection = f"inject={call}:signal={signal.Signals(number).name}:when={nth}"
        result = subprocess.run(["strace", "-f", "-o", "/dev/null", "-e", f"trace={call}", "-e", injection, tool,
                                 "book.txt"], cwd=scratch, env=environment, capture_output=True, timeout=120)
        problems = []
        # strace ends itself by the signal that ended the tool.
        if result.returncode != -number:
            problems.append(f"exit status {result.returncode}, expected the signal")
        if result.stdout not in (b"", CONVERTED):
            problems.append(f"stdout {result.stdout!r}")
        if result.stderr:
            problems.append(f"stderr {result.stderr[:300]!r}")
        left_allowed = (kind, setup, number, call) == LEFT_BY_SIGKILL
        return problems + folder_problems(scratch, files, "book.hdb", result.stdout == CONVERTED, left_allowed)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


def replaced_output_problems(result, stdout, scratch, files, printed):
    """What is wrong after a run that should have converted book.txt over
    an earlier book.hdb."""
    problems = [] if result.returncode == 0 else [f"exit status {result.returncode}"]
    if result.stdout != stdout:
        problems.append(f"stdout {result.stdout!r}")
    if unchanged(os.path.join(scratch, "book.hdb"), EARLIER):
        problems.append("book.hdb: the earlier output is still there")
    return problems + folder_problems(scratch, files, "book.hdb", printed)


def ignored_signal_case(tool, work, environment, number):
    """A signal the caller ignores (nohup) stays ignored: the handler that
    removes the temporary file is not put in its place."""
    files = SETUPS["beside an earlier output"]
    scratch = make_folder(work, files)
    try:
        injection = f"inject=rename:signal={signal.Signals(number).name}:when=1"
        result = subprocess.run(["strace", "-f", "-o", "/dev/null", "-e", "trace=rename", "-e", injection, tool,
                                 "book.txt"], cwd=scratch, env=environment, capture_output=True, timeout=120,
                                preexec_fn=lambda: signal.signal(number, signal.SIG_IGN))
        return replaced_output_problems(result, CONVERTED, scratch, files, True)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


def posix_sweep(tools, work, jobs):
    # LeakSanitizer cannot work under ptrace; these runs end by signals anyway.
    environment = dict(os.environ, ASAN_OPTIONS="detect_leaks=0")
    runs, failures = 0, 0
    for kind, tool in tools:
        for setup, files in SETUPS.items():
            counts, unnamed = count_calls(tool, work, files, environment)
            if unnamed != (kind == "unnamed"):
                print(f"FAIL {kind}, {setup}: strace saw {'an' if unnamed else 'no'} O_TMPFILE open")
                failures += 1
                continue
            plan = [(number, call, nth) for number in SIGNALS[kind] for call in SYSCALLS
                    for nth in range(1, counts[call] + 1)]
            with concurrent.futures.ThreadPoolExecutor(jobs) as pool:
                results = list(pool.map(lambda p: interrupted_case(tool, kind, setup, work, environment, *p), plan))
            failed = [(p, problems) for p, problems in zip(plan, results) if problems]
            runs += len(plan)
            failures += len(failed)
            calls = ", ".join(f"{counts[c]} {c}" for c in SYSCALLS)
            print(f"{'FAIL' if failed else 'ok  '} {kind} file, {setup}: {len(plan)} runs, {calls}")
            for (number, call, nth), problems in failed:
                print(f"     {signal.Signals(number).name} at {call} #{nth}: {'; '.join(problems)}")
        for number in (signal.SIGHUP, signal.SIGINT):
            problems = ignored_signal_case(tool, work, environment, number)
            runs += 1
            failures += bool(problems)
            print(f"{'FAIL' if problems else 'ok  '} {kind} file, {signal.Signals(number).name} ignored by the caller")
            for problem in problems:
                print(f"     {problem}")
    return runs, failures


WINE_PREFIX = "/var/tmp/foliant-wine-interrupt"


def wine_environment(emulator):
    """A prefix of the sweep's own, so that waiting for its Wine server to
    end does not wait for other tests' Wine processes. Made once, kept."""
    environment = dict(os.environ, WINEDEBUG="-all", WINEPREFIX=WINE_PREFIX)
    if not os.path.isfile(os.path.join(WINE_PREFIX, "system.reg")):
        subprocess.run(emulator[:-1] + ["sh", "-c", "wineboot --init && wineserver -w"], env=environment,
                       stdin=subprocess.DEVNULL, capture_output=True, timeout=300, check=True)
    return environment


def killed_windows_case(command, work, environment, delay):
    """Kills foliant.exe `delay` seconds after a new entry shows in the folder.
    Returns the problems, and whether it was still running when killed."""
    files = {"book.txt": MAX_TEXT, "book.hdb": EARLIER}
    scratch = make_folder(work, files)
    try:
        tool = subprocess.Popen(command + ["book.txt"], cwd=scratch, env=environment, stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 120
        while set(os.listdir(scratch)) <= set(files) and tool.poll() is None and time.monotonic() < deadline:
            time.sleep(0.001)
        time.sleep(delay)
        running = tool.poll() is None
        tool.kill()
        stdout = tool.communicate()[0]
        subprocess.run(["wineserver", "-w"], env=environment, timeout=120)
        problems = folder_problems(scratch, files, "book.hdb", CONVERTED.replace(b"\n", b"\r\n") in stdout)
        if not running and delay == 0:
            problems.append(f"it ended (status {tool.returncode}) before it could be killed")
        return problems, running
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


def replacing_windows_case(command, work, environment):
    files = {"book.txt": MAX_TEXT, "book.hdb": EARLIER}
    scratch = make_folder(work, files)
    try:
        result = subprocess.run(command + ["book.txt"], cwd=scratch, env=environment, stdin=subprocess.DEVNULL,
                                capture_output=True, timeout=300)
        return replaced_output_problems(result, CONVERTED.replace(b"\n", b"\r\n"), scratch, files, False)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


def windows_sweep(tool, emulator, work):
    environment = wine_environment(emulator)
    command = emulator + [tool]
    failures = 0
    for delay in (0, 0.01, 0.03):
        problems, running = killed_windows_case(command, work, environment, delay)
        failures += bool(problems)
        note = "" if running else " (it had finished by then)"
        print(f"{'FAIL' if problems else 'ok  '} killed {delay:.2f} s after its file appeared{note}")
        for problem in problems:
            print(f"     {problem}")
    problems = replacing_windows_case(command, work, environment)
    failures += bool(problems)
    print(f"{'FAIL' if problems else 'ok  '} a normal run replaces the earlier output")
    for problem in problems:
        print(f"     {problem}")
    return 4, failures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    parser.add_argument("--named-tool", help="POSIX: the tool built without unnamed files")
    parser.add_argument("--platform", choices=("posix", "windows"), required=True)
    parser.add_argument("--emulator", default="", help="exec prefix, a ;-separated list as CMake gives it")
    parser.add_argument("--jobs", type=int, default=2)
    options = parser.parse_args()

    work = tempfile.mkdtemp(prefix="foliant-interrupt-", dir="/var/tmp" if os.path.isdir("/var/tmp") else None)
    started = time.monotonic()
    try:
        if options.platform == "posix":
            tools = [("unnamed", os.path.abspath(options.tool))]
            if options.named_tool:
                tools.append(("named", os.path.abspath(options.named_tool)))
            runs, failures = posix_sweep(tools, work, options.jobs)
        else:
            emulator = [part for part in options.emulator.split(";") if part]
            runs, failures = windows_sweep(os.path.abspath(options.tool), emulator, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print(f"{runs - failures} passed, {failures} failed, in {time.monotonic() - started:.0f} s")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
