#!/usr/bin/env python3
"""Runs in a terminal or console window of the tool's own, on a
pseudo-terminal. After a failure the window must stay until the user closes
it; a success or a cancel ends at once, and so does a failure of a run that a
shell started there.

POSIX: the desktop entry's command, as a terminal emulator runs it for
Terminal=true, leading the terminal's session, with no display, so the file
is asked for on the terminal. Windows: foliant.exe started by Wine on the
terminal gets a console of its own, as from Explorer; started by cmd it
shares cmd's.
"""

import os
import pty
import re
import select
import shlex
import signal
import sys
from dataclasses import dataclass, replace

import harness

PROMPT = b"File to convert: "
WAIT_LINES = {"posix": b"Press Enter to close this window.", "windows": b"Press any key to close this window."}
CLOSING_KEYS = {"posix": b"\n", "windows": b"x"}


@dataclass
class Case:
    name: str
    platform: str
    # entry: the desktop entry's command; shell: sh runs it; own: Wine runs
    # foliant.exe; cmd: cmd runs it; redirected: the first, its output to a file.
    how: str
    args: list
    typed: bytes  # the answer to the terminal question; None: no question
    status: int
    waits: bool  # the run stays until the user closes the window
    shows: bytes  # a line the terminal must show


CASES = [
    Case("a failure waits for Enter", "posix", "entry", [], b"missing.txt\n", 1, True, b"error: file not found: "),
    Case("a success ends at once", "posix", "entry", [], b"a.txt\n", 0, False, b"a.hdb converted."),
    Case("a cancel ends at once", "posix", "entry", [], b"\n", 1, False, b""),
    Case("a failure in a shell's run ends at once", "posix", "shell", [], b"missing.txt\n", 1, False,
         b"error: file not found: "),
    Case("a failure with its output redirected ends at once", "posix", "entry redirected", [], b"missing.txt\n", 1,
         False, b""),
    Case("a failure in a console of its own waits for a key", "windows", "own", ["missing.txt"], None, 1, True,
         b"error: file not found: missing.txt"),
    Case("a usage text in a console of its own waits for a key", "windows", "own", ["notes.md"], None, 1, True,
         b"Your command syntax is incorrect."),
    Case("a success in a console of its own ends at once", "windows", "own", ["a.txt"], None, 0, False,
         b"a.hdb converted."),
    Case("a failure in cmd's console ends at once", "windows", "cmd", ["missing.txt"], None, 1, False,
         b"error: file not found: missing.txt"),
    Case("a failure with its output redirected ends at once", "windows", "own redirected", ["missing.txt"], None, 1,
         False, b""),
]


def plain(shown):
    """What a terminal shows, without control sequences, blanks or CRs: Wine
    draws its console with cursor moves in place of blanks."""
    return re.sub(rb"\x1b\[[?0-9;]*[A-Za-z]|[ \r]", b"", shown)


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

    def read_some(self):
        """Collects what is shown in the next 50 ms; true once the child has ended."""
        ready, _, _ = select.select([self.fd], [], [], 0.05)
        if ready:
            try:
                self.shown += os.read(self.fd, 4096)
            except OSError:  # the child has gone and closed the terminal
                pass
        pid, status = os.waitpid(self.pid, os.WNOHANG)
        if pid:
            self.status = os.waitstatus_to_exitcode(status)
        return self.status is not None

    def read(self, seconds):
        """Collects output for up to `seconds`; notes the exit status."""
        harness.poll(lambda: self.status is not None or self.read_some(), seconds, interval=0)

    def has_shown(self, text):
        return plain(text) in plain(self.shown)

    def until_shown(self, text, seconds=30):
        harness.poll(lambda: self.has_shown(text) or self.status is not None or self.read_some(), seconds, interval=0)
        return self.has_shown(text)

    def close(self):
        if self.status is None:
            os.kill(self.pid, signal.SIGKILL)
            os.waitpid(self.pid, 0)
        os.close(self.fd)


def case_command(case, entry, tool, emulator):
    if case.how.endswith(" redirected"):  # exec: the tool still leads the terminal's session
        alone = case_command(replace(case, how=case.how.split()[0]), entry, tool, emulator)
        return ["sh", "-c", "exec " + shlex.join(alone) + " > output"]
    if case.how == "entry":
        return entry_command(entry) + case.args
    if case.how == "shell":  # not the last command: sh cannot exec it
        return ["sh", "-c", shlex.join(entry_command(entry) + case.args) + "; exit $?"]
    if case.how == "own":
        return emulator + [tool] + case.args
    return emulator + ["cmd", "/c", " ".join([harness.windows_path(tool)] + case.args)]


def run_case(case, command, scratch, environment):
    terminal = Terminal(command, scratch, environment)
    wait_line = WAIT_LINES[case.platform]
    problems = []
    try:
        if case.typed is not None and case.how.endswith(" redirected"):
            os.write(terminal.fd, case.typed)  # the question went to the file
        elif case.typed is not None:
            if not terminal.until_shown(PROMPT):
                return [f"no question asked; shown {terminal.shown!r}"]
            os.write(terminal.fd, case.typed)
        if case.waits:
            if not terminal.until_shown(wait_line):
                problems.append(f"no {wait_line!r}")
            terminal.read(1.5)
            if terminal.status is not None:
                problems.append("ended without waiting")
            os.write(terminal.fd, CLOSING_KEYS[case.platform])
        terminal.read(30 if case.platform == "windows" else 10)
        if terminal.status is None:
            problems.append("still waiting")
        elif terminal.status != case.status:
            problems.append(f"exit status {terminal.status}, expected {case.status}")
        if not case.waits and terminal.has_shown(wait_line):
            problems.append(f"shown {wait_line!r}")
        if not terminal.has_shown(case.shows):
            problems.append(f"{case.shows!r} not shown")
        if problems:
            problems.append(f"shown {terminal.shown!r}")
        return problems
    finally:
        terminal.close()


def main():
    parser = harness.parser()
    parser.add_argument("--entry", help="the desktop entry file (POSIX)")
    options = parser.parse_args()

    report = harness.Report()
    with harness.scratch("foliant-desktop-") as work:
        # The entry names the installed tool; a folder on PATH holds this one,
        # and a stand-in opener.
        bin_folder = harness.stand_in_opener(os.path.join(work, "bin"))
        os.symlink(options.tool, os.path.join(bin_folder, "foliant"))
        environment = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        environment.update(PATH=bin_folder + os.pathsep + environment.get("PATH", ""),
                           FOLIANT_OPENER_LOG=os.path.join(work, "opened"))
        for case in [case for case in CASES if case.platform == options.platform]:
            with harness.scratch("case-", work, {"a.txt": b"a text\n"}) as scratch:
                command = case_command(case, options.entry, options.tool, options.emulator)
                report.case(case.name, run_case(case, command, scratch, environment))
    return report.close()


if __name__ == "__main__":
    sys.exit(main())
