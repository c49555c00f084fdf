#!/usr/bin/env python3
"""A run stopped at any point leaves the folder as it was, or with the new
output complete, and nothing else.

POSIX: strace delivers a signal at the N-th open, read, write, close, linkat and
rename of a conversion, for every N, beside an earlier output and without
one; once for the tool itself (an unnamed file until complete) and once for
its build without unnamed files (--named-tool), whose temporary file the
signal handlers must remove. A stopped run has printed the line of its
output exactly when that output is in place; and "all", stopped with its
output in a file, has written whole lines for exactly the outputs there.
And on both paths the trace of a normal run shows each output's data flushed
before it takes its name, and the folder synced before the run ends with 0.
Windows: foliant.exe is killed while it writes the largest text, and a
normal run must still replace an earlier output.
"""

import concurrent.futures
import os
import re
import resource
import signal
import subprocess
import sys
import time

import harness
from hdb_reader import MAX_TEXT, HdbError, read_hdb, text_problem

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
# Every signal whose default action ends the process and that can be caught.
CATCHABLE = (signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGPIPE, signal.SIGQUIT, signal.SIGUSR1,
             signal.SIGUSR2, signal.SIGALRM, signal.SIGVTALRM, signal.SIGPROF, signal.SIGXCPU)
# SIGKILL cannot be caught: only the unnamed file is safe from it.
SIGNALS = {
    "unnamed": (signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGPIPE, signal.SIGKILL),
    "named": CATCHABLE,
}
# The one moment nothing covers: the complete file is linked by a temporary
# name, and SIGKILL comes before the rename over the earlier output. Then the
# temporary file must be that complete output.
LEFT_BY_SIGKILL = ("unnamed", "beside an earlier output", signal.SIGKILL, "rename")


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


def folder_problems(scratch, files, output, stdout, temporary_allowed=False, line_owed=False):
    """The input unchanged; the output as it was or complete; nothing else.
    `line_owed`: an output in place must have had its line printed."""
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
    if line_owed and not stdout and output in names and not earlier:
        problems.append("the output is in place, but its line was not printed")
    return problems


def count_calls(tool, work, files, environment):
    """How often a normal run makes each system call, and whether it asks for
    an unnamed file (O_TMPFILE)."""
    with harness.scratch("interrupt-", work, files) as scratch:
        ran, lines = harness.traced_run([tool, "book.txt"], scratch, environment, ",".join(SYSCALLS), timeout=120)
        ran.check_returncode()
    counts = {call: sum(1 for line in lines if re.match(rf"\d+\s+{call}\(", line)) for call in SYSCALLS}
    return counts, any("O_TMPFILE" in line for line in lines)


def interrupted_case(tool, kind, setup, work, environment, number, call, nth):
    files = SETUPS[setup]
    with harness.scratch("interrupt-", work, files) as scratch:
        injection = f"inject={call}:signal={signal.Signals(number).name}:when={nth}"
        result = harness.run(["strace", "-f", "-o", "/dev/null", "-e", f"trace={call}", "-e", injection, tool,
                              "book.txt"], cwd=scratch, env=environment, timeout=120, preexec_fn=NO_CORE_FILES)
        problems = []
        # strace ends itself by the signal that ended the tool.
        if result.returncode != -number:
            problems.append(f"exit status {result.returncode}, expected the signal")
        if result.stdout not in (b"", CONVERTED):
            problems.append(f"stdout {result.stdout!r}")
        if result.stderr:
            problems.append(f"stderr {result.stderr[:300]!r}")
        left_allowed = (kind, setup, number, call) == LEFT_BY_SIGKILL
        return problems + folder_problems(scratch, files, "book.hdb", result.stdout == CONVERTED, left_allowed,
                                          line_owed=number in CATCHABLE)


def NO_CORE_FILES():  # noqa: N802 (a preexec_fn): SIGQUIT and SIGXCPU would dump one into the folder
    resource.setrlimit(resource.RLIMIT_CORE, (0, 0))


BATCH = {f"t{i:02}.txt": bytes([i]) * (3000 + i) for i in range(12)}
# Two earlier outputs, which are replaced; batches of four (a descriptor
# limit of 40), so that a signal may come between two batches' flushes.
STOPPED_BATCH = {**BATCH, "t01.hdb": EARLIER, "t05.hdb": EARLIER}
STOPPED_BATCH_OPEN_FILES = 40


def stopped_batch_case(tool, work, environment, number, call, nth):
    """"all" with its output in a file, stopped at a call: the file holds a
    whole line for each new output in place (after SIGKILL, but for the last
    one) and nothing more; each of them is whole, and every other output is
    absent or the earlier one. A caught signal leaves no temporary file;
    after SIGKILL, the next run sweeps them."""
    with harness.scratch("interrupt-", work, STOPPED_BATCH) as scratch:
        log = scratch + ".log"
        with open(log, "wb") as out:
            injection = f"inject={call}:signal={signal.Signals(number).name}:when={nth}"
            subprocess.run(["prlimit", f"--nofile={STOPPED_BATCH_OPEN_FILES}", "--", "strace", "-f", "-o", "/dev/null",
                            "-e", f"trace={call}", "-e", injection, tool, "all"], cwd=scratch, env=environment,
                           stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.DEVNULL, timeout=120,
                           preexec_fn=NO_CORE_FILES)
        with open(log, "rb") as f:
            printed = f.read()
        os.remove(log)
        problems = []
        placed = []
        for name in sorted(os.listdir(scratch)):
            text = STOPPED_BATCH.get(name[:-4] + ".txt")
            if name in STOPPED_BATCH and (name.endswith(".txt") or unchanged(os.path.join(scratch, name), EARLIER)):
                continue
            if not name.endswith(".hdb") or text is None:
                if not (number == signal.SIGKILL and TEMPORARY.fullmatch(name)):
                    problems.append(f"{name}: left behind")
                continue
            placed.append(name)
            problems += filter(None, [text_problem(os.path.join(scratch, name), text)])
        lines = {f"{name} converted.\n".encode() for name in placed}
        printed_lines = printed.splitlines(True)
        # SIGKILL cannot be held: it may come between a name and its line.
        unprinted = len(lines - set(printed_lines))
        if len(printed_lines) != len(set(printed_lines) & lines) or unprinted > (number == signal.SIGKILL):
            problems.append(f"printed {printed!r} for the new outputs {placed}")
        if number == signal.SIGKILL:
            swept = harness.run([tool, "all"], cwd=scratch, env=environment)
            left = [name for name in os.listdir(scratch) if TEMPORARY.fullmatch(name)]
            if swept.returncode != 0 or left:
                problems.append(f"the next run ended with {swept.returncode} and left {left}")
        return problems


# Durable before named: the order of a run's system calls. Each table row is
# a folder, the arguments, the descriptor limit (0: as it is; 40 makes
# batches of four) and the exit status.
ORDER_CASES = [
    ("a single text", SETUPS["no earlier output"], ["book.txt"], 0, 0),
    ("a single text over an earlier output", SETUPS["beside an earlier output"], ["book.txt"], 0, 0),
    ("all, two over earlier outputs", {**BATCH, "t01.hdb": EARLIER, "t05.hdb": EARLIER}, ["all"], 0, 0),
    ("all in batches of four", {**BATCH, "t01.hdb": EARLIER, "t05.hdb": EARLIER}, ["all"], 40, 0),
    # The names announced before a failure are as durable as any.
    ("a run that fails on its third text", {"a.txt": EARLIER, "b.txt": EARLIER}, ["a.txt", "b.txt", "c.txt"], 0, 1),
]
ORDER_CALLS = "openat,dup,write,fdatasync,fsync,syncfs,linkat,rename"
CALL = re.compile(r"(?:\d+ +)?(\w+)\((.*)\) += (-?\d+)")
EXITED = re.compile(r"(?:\d+ +)?\+\+\+ exited with (\d+) \+\+\+")


def order_problems(lines, scratch, outputs, expected_status):
    """In a trace taken with -y: every output's data is flushed (syncfs, or
    fdatasync or fsync of its own file) after its last write and before the
    link or rename that names it; the folder is synced after the last name
    and before the run ends with its status."""
    file_of = {}  # descriptor -> the file it is open on, numbered by opening
    temporary_of = {}  # temporary name -> file
    last_write, flushes, named = {}, {}, {}  # file -> index; file -> [index]; output -> (file, index)
    whole_flushes, folder_syncs, status = [], [], None
    for index, line in enumerate(lines):
        if exited := EXITED.match(line):
            status = int(exited[1])
        call = CALL.match(line)
        if not call or int(call[3]) < 0:
            continue
        name, arguments, result = call[1], call[2], int(call[3])
        strings = re.findall(r'"((?:[^"\\]|\\.)*)"', arguments)
        descriptor = int(re.match(r"\d+", arguments)[0]) if re.match(r"\d+<", arguments) else None
        if name == "openat":
            file_of[result] = index
            if TEMPORARY.fullmatch(strings[0]):
                temporary_of[strings[0]] = index
        elif name == "dup":
            file_of[result] = file_of.get(descriptor)
        elif name == "write" and descriptor in file_of:
            last_write[file_of[descriptor]] = index
        elif name in ("fdatasync", "fsync") and arguments.startswith(f"{descriptor}<{scratch}>"):
            folder_syncs.append(index)
        elif name in ("fdatasync", "fsync"):
            flushes.setdefault(file_of.get(descriptor), []).append(index)
        elif name == "syncfs":
            whole_flushes.append(index)
        elif name == "linkat":
            # By its descriptor (AT_EMPTY_PATH), or by its entry in /proc.
            linked = file_of.get(descriptor if strings[0] == "" else int(strings[0].removeprefix("/proc/self/fd/")))
            if TEMPORARY.fullmatch(strings[1]):
                temporary_of[strings[1]] = linked
            else:
                named[strings[1]] = (linked, index)
        elif name == "rename":
            named[strings[1]] = (temporary_of.get(strings[0]), index)
    problems = []
    for output in outputs:
        if output not in named:
            problems.append(f"{output}: never named")
            continue
        file, at = named[output]
        written = last_write.get(file)
        if written is None or not any(written < flush < at for flush in flushes.get(file, []) + whole_flushes):
            problems.append(f"{output}: named (trace line {at + 1}) with no flush since its last write "
                            f"({'none' if written is None else written + 1})")
    last_name = max((at for _, at in named.values()), default=-1)
    if status != expected_status or not any(at > last_name for at in folder_syncs):
        problems.append(f"the run ended with {status}; folder synced at lines {folder_syncs}, last name at line "
                        f"{last_name + 1}")
    return problems


def order_case(tool, work, environment, files, args, open_files, status):
    with harness.scratch("order-", work, files) as scratch:
        limit = ["prlimit", f"--nofile={open_files}", "--"] if open_files else []
        ran, lines = harness.traced_run(limit + [tool] + args, scratch, environment, ORDER_CALLS, options=("-y",),
                                        timeout=120)
        outputs = [name[:-4] + ".hdb" for name in files if name.endswith(".txt")]
        return order_problems(lines, scratch, outputs, status) + (
            [] if ran.returncode == status else [f"exit status {ran.returncode}, stdout {ran.stdout[-300:]!r}"])


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
    with harness.scratch("interrupt-", work, files) as scratch:
        injection = f"inject=rename:signal={signal.Signals(number).name}:when=1"
        result = harness.run(["strace", "-f", "-o", "/dev/null", "-e", "trace=rename", "-e", injection, tool,
                              "book.txt"], cwd=scratch, env=environment, timeout=120,
                             preexec_fn=lambda: signal.signal(number, signal.SIG_IGN))
        return replaced_output_problems(result, CONVERTED, scratch, files, True)


def out_of_memory_problems(tool, work):
    """Memory runs out once the new file exists: the message, status 1, and
    nothing of it left."""
    files = SETUPS["beside an earlier output"]
    with harness.scratch("interrupt-", work, files) as scratch:
        result = harness.run(["prlimit", f"--data={640 << 10}", "--", tool, "book.txt"], cwd=scratch)
        problems = []
        if (result.returncode, result.stdout) != (1, b"error: out of memory\r\n"):
            problems.append(f"exit status {result.returncode}, stdout {result.stdout!r}")
        return problems + folder_problems(scratch, files, "book.hdb", False)


def posix_sweep(tools, work, jobs, report, sanitized):
    environment = harness.traceable()
    for kind, tool in tools:
        for setup, files in SETUPS.items():
            counts, unnamed = count_calls(tool, work, files, environment)
            if unnamed != (kind == "unnamed"):
                report.case(f"{kind} file, {setup}", [f"strace saw {'an' if unnamed else 'no'} O_TMPFILE open"])
                continue
            # Every caught signal takes the one handler: under the sanitizers,
            # which look for memory faults and not for a signal left out,
            # four stand for all of them.
            numbers = [n for n in SIGNALS[kind] if n in SIGNALS["unnamed"]] if sanitized else SIGNALS[kind]
            plan = [(number, call, nth) for number in numbers for call in SYSCALLS
                    for nth in range(1, counts[call] + 1)]
            with concurrent.futures.ThreadPoolExecutor(jobs) as pool:
                results = list(pool.map(lambda p: interrupted_case(tool, kind, setup, work, environment, *p), plan))
            calls = ", ".join(f"{counts[c]} {c}" for c in SYSCALLS)
            report.case(f"{kind} file, {setup}: {len(plan)} runs, {calls}",
                        [f"{signal.Signals(number).name} at {call} #{nth}: {'; '.join(problems)}"
                         for (number, call, nth), problems in zip(plan, results) if problems], runs=len(plan))
        for name, files, args, open_files, status in ORDER_CASES:
            report.case(f"{kind} file, durable before named: {name}",
                        order_case(tool, work, environment, files, args, open_files, status))
        for number in (signal.SIGHUP, signal.SIGINT):
            report.case(f"{kind} file, {signal.Signals(number).name} ignored by the caller",
                        ignored_signal_case(tool, work, environment, number))
        if not sanitized:  # the sanitizers reserve memory beyond any data limit
            report.case(f"{kind} file, out of memory", out_of_memory_problems(tool, work))
        calls = ("write", "linkat", "rename")
        plan = [(number, call, nth) for number in (signal.SIGTERM, signal.SIGPIPE) for call in calls
                for nth in range(1, 2 * len(BATCH), 3)]
        plan += [(number, call, nth) for number in (signal.SIGINT, signal.SIGKILL) for call in calls
                 for nth in range(2, 2 * len(BATCH), 5)]
        with concurrent.futures.ThreadPoolExecutor(jobs) as pool:
            results = list(pool.map(lambda p: stopped_batch_case(tool, work, environment, *p), plan))
        report.case(f"{kind} file, all stopped with its output in a file: {len(plan)} runs",
                    [f"{signal.Signals(number).name} at {call} #{nth}: {'; '.join(problems)}"
                     for (number, call, nth), problems in zip(plan, results) if problems], runs=len(plan))


# A prefix of the sweep's own, so that waiting for its Wine server to end
# does not wait for other tests' Wine processes.
WINE_PREFIX = "/var/tmp/foliant-wine-interrupt"


def killed_windows_case(command, work, environment, delay):
    """Kills foliant.exe `delay` seconds after a new entry shows in the folder.
    Returns the problems, and whether it was still running when killed."""
    files = {"book.txt": MAX_TEXT, "book.hdb": EARLIER}
    with harness.scratch("interrupt-", work, files) as scratch:
        tool = subprocess.Popen(command + ["book.txt"], cwd=scratch, env=environment, stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        harness.poll(lambda: not set(os.listdir(scratch)) <= set(files) or tool.poll() is not None, 120,
                     interval=0.001)
        time.sleep(delay)
        running = tool.poll() is None
        tool.kill()
        stdout = tool.communicate()[0]
        subprocess.run(["wineserver", "-w"], env=environment, timeout=120)
        if delay == 0 and any(TEMPORARY.fullmatch(name) for name in os.listdir(scratch)):
            # Killed between the temporary's creation and its mark for
            # deletion: the next run's sweep must remove it.
            stdout += harness.run(command + ["book.txt"], cwd=scratch, env=environment).stdout
            subprocess.run(["wineserver", "-w"], env=environment, timeout=120)
        problems = folder_problems(scratch, files, "book.hdb", CONVERTED.replace(b"\n", b"\r\n") in stdout)
        if not running and delay == 0:
            problems.append(f"it ended (status {tool.returncode}) before it could be killed")
        return problems, running


def replacing_windows_case(command, work, environment):
    files = {"book.txt": MAX_TEXT, "book.hdb": EARLIER}
    with harness.scratch("interrupt-", work, files) as scratch:
        result = harness.run(command + ["book.txt"], cwd=scratch, env=environment)
        return replaced_output_problems(result, CONVERTED.replace(b"\n", b"\r\n"), scratch, files, False)


def windows_sweep(tool, emulator, work, report):
    environment = harness.wine_environment(emulator, WINE_PREFIX)
    command = emulator + [tool]
    for delay in (0, 0.01, 0.03):
        problems, running = killed_windows_case(command, work, environment, delay)
        note = "" if running else " (it had finished by then)"
        report.case(f"killed {delay:.2f} s after its file appeared{note}", problems)
    report.case("a normal run replaces the earlier output", replacing_windows_case(command, work, environment))


def main():
    parser = harness.parser()
    parser.add_argument("--named-tool", type=os.path.abspath, help="POSIX: the tool built without unnamed files")
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--sanitized", action="store_true", help="the tool is built with the sanitizers")
    options = parser.parse_args()

    report = harness.Report()
    with harness.scratch("foliant-interrupt-") as work:
        if options.platform == "posix":
            tools = [("unnamed", options.tool)] + ([("named", options.named_tool)] if options.named_tool else [])
            posix_sweep(tools, work, options.jobs, report, options.sanitized)
        else:
            windows_sweep(options.tool, options.emulator, work, report)
    return report.close()


if __name__ == "__main__":
    sys.exit(main())
