#!/usr/bin/env python3
"""The desktop entry's command on a terminal of its own, as a terminal
emulator runs it for Terminal=true: on a pseudo-terminal whose session it
leads, with no display, so the file is asked for on the terminal. After a
failure the terminal must stay until Enter is pressed; a success or a cancel
ends at once, and so does a failure of a run that a shell started there.
"""

import argparse
import os
import pty
import select
import shlex
import shutil
import signal
import sys
import tempfile
import time
from dataclasses import dataclass

PROMPT = b"File to convert: "
WAIT_LINE = b"Press Enter to close this window."


@dataclass
class Case:
    name: str
    typed: bytes  # the answer to the terminal question
    status: int
    waits: bool  # the run stays until Enter is pressed
    shows: bytes  # a line the terminal must show
    shell: bool = False  # a shell on the terminal starts the command instead


CASES = [
    Case("a failure waits for Enter", b"missing.txt\n", 1, True, b"error: file not found: "),
    Case("a success ends at once", b"a.txt\n", 0, False, b"a.hdb converted."),
    Case("a cancel ends at once", b"\n", 1, False, b""),
    Case("a failure in a shell's run ends at once", b"missing.txt\n", 1, False, b"error: file not found: ",
         shell=True),
]


def entry_command(entry):
    with open(entry) as f:
        (line,) = [line for line in f if line.startswith("Exec=")]
    return shlex.split(line[len("Exec="):])


class Terminal:
    """A child process on a pseudo-terminal, and what it has shown there."""

    def __init__(self, command, cwd, environment):
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            try:
                os.chdir(cwd)
                os.execvpe(command[0], command, environment)
            finally:
                os._exit(127)
        self.shown = b""
        self.status = None

    def read(self, seconds):
        """Collects output for up to `seconds`; notes the exit status."""
        deadline = time.monotonic() + seconds
        while self.status is None and time.monotonic() < deadline:
            ready, _, _ = select.select([self.fd], [], [], 0.05)
            if ready:
                try:
                    self.shown += os.read(self.fd, 4096)
                except OSError:  # the child has gone and closed the terminal
                    pass
            pid, status = os.waitpid(self.pid, os.WNOHANG)
            if pid:
                self.status = os.waitstatus_to_exitcode(status)

    def until_shown(self, text, seconds=20):
        deadline = time.monotonic() + seconds
        while text not in self.shown and self.status is None and time.monotonic() < deadline:
            self.read(0.1)
        return text in self.shown

    def close(self):
        if self.status is None:
            os.kill(self.pid, signal.SIGKILL)
            os.waitpid(self.pid, 0)
        os.close(self.fd)


def run_case(case, command, work, environment):
    scratch = tempfile.mkdtemp(prefix="case-", dir=work)
    with open(os.path.join(scratch, "a.txt"), "wb") as f:
        f.write(b"a text\n")
    if case.shell:
        command = ["sh", "-c", shlex.join(command) + "; exit $?"]  # not the last command: sh cannot exec it
    terminal = Terminal(command, scratch, environment)
    problems = []
    try:
        if not terminal.until_shown(PROMPT):
            return [f"no question asked; shown {terminal.shown!r}"]
        os.write(terminal.fd, case.typed)
        if case.waits:
            if not terminal.until_shown(WAIT_LINE):
                problems.append(f"no {WAIT_LINE!r}")
            terminal.read(1.5)
            if terminal.status is not None:
                problems.append("ended without waiting for Enter")
            os.write(terminal.fd, b"\n")
        terminal.read(10)
        if terminal.status is None:
            problems.append("still waiting")
        elif terminal.status != case.status:
            problems.append(f"exit status {terminal.status}, expected {case.status}")
        if not case.waits and WAIT_LINE in terminal.shown:
            problems.append(f"shown {WAIT_LINE!r}")
        if case.shows not in terminal.shown:
            problems.append(f"{case.shows!r} not shown")
        if problems:
            problems.append(f"shown {terminal.shown!r}")
        return problems
    finally:
        terminal.close()
        shutil.rmtree(scratch, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    parser.add_argument("--entry", required=True, help="the desktop entry file")
    options = parser.parse_args()

    command = entry_command(options.entry)
    work = tempfile.mkdtemp(prefix="foliant-desktop-", dir="/var/tmp")
    try:
        # The entry names the installed tool; a folder on PATH holds this one,
        # and a stand-in opener that only records.
        bin_folder = os.path.join(work, "bin")
        os.mkdir(bin_folder)
        os.symlink(os.path.abspath(options.tool), os.path.join(bin_folder, "foliant"))
        with open(os.path.join(bin_folder, "xdg-open"), "w") as f:
            f.write(f"#!/bin/sh\nprintf '%s\\n' \"$@\" >> {shlex.quote(os.path.join(work, 'opened'))}\n")
        os.chmod(os.path.join(bin_folder, "xdg-open"), 0o755)
        environment = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        environment["PATH"] = bin_folder + os.pathsep + environment.get("PATH", "")
        results = [run_case(case, command, work, environment) for case in CASES]
    finally:
        shutil.rmtree(work, ignore_errors=True)
    for case, problems in zip(CASES, results):
        print(("FAIL " if problems else "ok   ") + case.name)
        for problem in problems:
            print("     " + problem)
    failed = sum(1 for problems in results if problems)
    print(f"{len(results) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
