#!/usr/bin/env python3
"""The interactive mode with real windows: the tool started without arguments
on a virtual X display (Xvfb), its dialog driven by xdotool as a person would:
find the window, focus it, type a path and Enter, or press Escape.

On POSIX the dialog is zenity and the opener a stand-in xdg-open on PATH. For
foliant.exe it is Wine's GetOpenFileNameW, and ShellExecuteW hands the output
to a stand-in program registered for .hdb in a Wine prefix kept for these
tests. Every wait polls against a deadline; every run has a timeout.
"""

import os
import subprocess
import sys
import time
from dataclasses import dataclass

import harness
from hdb_reader import HdbError, read_hdb

GUI_WINE_PREFIX = "/var/tmp/foliant-wine-gui"
TEXT = b"A text chosen in a dialog.\r\n" * 50
UNASKED_ANSWER = b"a.txt\n"  # on standard input; only a terminal question would read it
TITLES = {"posix": "Open a text file to convert", "windows": "Open"}
# A name that Windows' ANSI code page 1252 cannot hold.
UNICODE_NAME = "日本 Ωmega"
# Seconds a dialog has to appear. Wine's first window in a prefix also
# starts its desktop process and fills caches, which takes far longer on a
# busy machine; a tool that ends without a window fails at once either way.
WINDOW_SECONDS = 30
FIRST_WINE_WINDOW_SECONDS = 180
# foliant.exe runs with Wine's error messages on, into a file that is read
# only when the tool ends before its window appears, so that such a failure
# names its cause.
WINE_MESSAGES = "err+all"


class NoWindow(Exception):
    pass


class Display:
    """An Xvfb server on a display number it picks itself."""

    def __init__(self, first_window_seconds=WINDOW_SECONDS):
        self.first_window_seconds = first_window_seconds
        self.windows_found = 0

    def __enter__(self):
        read_end, write_end = os.pipe()
        self.server = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-nolisten", "tcp",
                                        "-screen", "0", "1280x1024x24"], pass_fds=(write_end,),
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as numbers:
            self.name = ":" + numbers.readline().strip()
        return self

    def __exit__(self, *exc):
        self.server.terminate()
        self.server.wait(timeout=10)

    def xdotool(self, *args):
        return harness.run(["xdotool", *args], env=dict(os.environ, DISPLAY=self.name), text=True,
                           timeout=30).stdout

    def wait_for_window(self, tool, *search):
        """The window `search` finds, once `tool` shows it."""
        def found():
            if tool.poll() is not None:
                raise NoWindow(f"the tool ended with status {tool.returncode} before a window {search} appeared, "
                               f"printing {tool.stdout.read()!r}")
            return self.xdotool("search", "--onlyvisible", *search).split()
        seconds = WINDOW_SECONDS if self.windows_found else self.first_window_seconds
        windows = harness.poll(found, seconds, f"a window {search} ({seconds} s)")
        self.windows_found += 1
        window = windows[-1]
        self.xdotool("windowfocus", "--sync", window)
        return window


def prepare_wine(emulator, environment, log):
    """A prefix of the GUI tests' own, with a stand-in program for .hdb that
    writes the path it is given to `log`. Wine reads HKCR for this, not HKCU."""
    environment = harness.wine_environment(emulator, GUI_WINE_PREFIX, base=environment)
    # /u: cmd writes the log in UTF-16, which holds any name.
    handler = f"C:\\windows\\system32\\cmd.exe /u /c echo %1> {harness.windows_path(log)}"
    for key, value in (("HKEY_CLASSES_ROOT\\.hdb", "foliant.standin"),
                       ("HKEY_CLASSES_ROOT\\foliant.standin\\shell\\open\\command", handler)):
        harness.run(emulator + ["reg", "add", key, "/ve", "/d", value, "/f"], env=environment, timeout=120,
                    check=True)
    return environment


def forget_visited_folders(emulator, environment):
    """The dialog starts where it was last used; start each case afresh."""
    key = "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\ComDlg32"
    harness.run(emulator + ["reg", "delete", key, "/f"], env=environment, timeout=120)


def answer_dialog(display, window, tool, answer, platform):
    """Types the answer and presses Return. A dialog that has just appeared
    may drop keys, and the first Return may only accept a completion, so
    this is repeated until the tool has ended."""
    display.xdotool("windowfocus", "--sync", window)
    if platform == "posix":
        display.xdotool("key", "ctrl+l")  # GTK's location field
    display.xdotool("key", "End", "shift+Home")  # typing replaces what an earlier try left
    display.xdotool("type", "--delay", "20", answer)
    for _ in range(3):
        display.xdotool("key", "Return")
        try:
            tool.wait(timeout=1)
            return True
        except subprocess.TimeoutExpired:
            pass
    return False


def run_case(display, command, environment, scratch, answer, platform):
    """Starts the tool, answers its dialog (None: Escape). Its standard input
    is a pipe holding an answer of its own, which a run that asks only the
    dialog leaves unread. Returns the status, the output, what was left
    unread and the dialog's title. Its standard error, Wine's messages
    among it, goes to a file beside the scratch folder."""
    read_end, write_end = os.pipe()
    with os.fdopen(write_end, "wb") as pipe:
        pipe.write(UNASKED_ANSWER)
    if platform == "windows":
        # The emulator's words (env WINEDEBUG=-all wine) would silence them too.
        command = [f"WINEDEBUG={WINE_MESSAGES}" if word.startswith("WINEDEBUG=") else word for word in command]
        environment = dict(environment, WINEDEBUG=WINE_MESSAGES)
    with os.fdopen(read_end, "rb") as stdin, open(scratch + ".stderr", "w+b") as stderr:
        tool = subprocess.Popen(command, cwd=scratch, env=environment, stdin=stdin,
                                stdout=subprocess.PIPE, stderr=stderr)
        try:
            search = ("--name", "^Open$") if platform == "windows" else ("--class", "zenity")
            try:
                window = display.wait_for_window(tool, *search)
            except NoWindow as error:
                stderr.seek(0)
                raise NoWindow(f"{error}; on standard error (Wine's own messages too, under Wine): "
                               f"{stderr.read()[-3000:]!r}") from None
            title = display.xdotool("getwindowname", window).rstrip("\n")
            if answer is None:
                display.xdotool("key", "Escape")
            else:
                harness.poll(lambda: answer_dialog(display, window, tool, answer, platform), 60,
                             "the dialog to take the answer")
            stdout, _ = tool.communicate(timeout=60)
            return tool.returncode, stdout, stdin.read(), title
        finally:
            if tool.poll() is None:
                tool.kill()
                tool.wait()


@dataclass
class Expected:
    line: bytes  # the success line
    output: str  # where the output must land
    opened: str  # what the opener must be given


def read_log(log):
    with open(log, "rb") as f:
        data = f.read()
    # cmd /u writes UTF-16 without a byte-order mark; xdg-open's stand-in UTF-8.
    return (data.decode("utf-16-le") if data[1:2] == b"\0" else data.decode()).strip()


def check(status, stdout, expected, log):
    """`expected` None: the dialog was cancelled."""
    if expected is None:
        problems = [] if (status, stdout) == (1, b"") else [f"status {status}, stdout {stdout!r}; expected 1, nothing"]
        time.sleep(0.5)  # an opener would have been started by now
        return problems + (["the opener was called"] if os.path.exists(log) else [])
    problems = []
    if (status, stdout) != (0, expected.line):
        problems.append(f"status {status}, stdout {stdout!r}; expected 0 and {expected.line!r}")
    try:
        with open(expected.output, "rb") as f:
            if read_hdb(f.read())[1] != TEXT:
                problems.append("the output's text differs")
    except (OSError, HdbError) as error:
        problems.append(f"output: {error}")
    try:
        got = harness.poll(lambda: os.path.exists(log) and read_log(log), 20, "the opener")
    except TimeoutError as error:
        return problems + [str(error)]
    if got != expected.opened:
        problems.append(f"opener given {got!r}, expected {expected.opened!r}")
    return problems


def cases(platform, scratch):
    """(name, what is typed (None: Escape), what is expected) for each case."""
    in_scratch = os.path.join(scratch, "notes.hdb")
    unicode_output = os.path.join(scratch, UNICODE_NAME + ".hdb")
    if platform == "windows":
        # The dialog opens in the current folder (its memory of earlier
        # folders is cleared) and the file is chosen there. Redirected, the
        # line holds the ANSI code page's bytes.
        found = [("a file chosen in the dialog is converted and opened", "notes.txt",
                  Expected(b"notes.hdb converted.\r\n", in_scratch, harness.windows_path(in_scratch))),
                 ("a name outside the code page is converted and opened", UNICODE_NAME + ".txt",
                  Expected(f"{UNICODE_NAME}.hdb converted.\r\n".encode("cp1252", "replace"),
                           unicode_output, harness.windows_path(unicode_output)))]
    else:
        in_sub = os.path.join(scratch, "sub", "notes.hdb")
        line = b"notes.hdb converted.\n"
        found = [
            # A file in another folder: it becomes the current one, so the
            # output lands beside the file.
            ("a file in another folder is converted beside it and opened",
             os.path.join(scratch, "sub", "notes.txt"), Expected(line, in_sub, in_sub)),
            # The chooser opens in the current folder.
            ("a bare name is found in the current folder", "notes.txt", Expected(line, in_scratch, in_scratch)),
            ("a name outside the code page is converted and opened", UNICODE_NAME + ".txt",
             Expected(f"{UNICODE_NAME}.hdb converted.\n".encode(), unicode_output, unicode_output)),
        ]
    # Nothing read from standard input, nothing converted. First: a key the
    # typing cases leave pending under load (seen once) must not answer it.
    return [("Escape cancels and asks nothing more", None, None)] + found


def tried_case(display, options, environment, scratch, log, name, typed, expected):
    """The case's name and problems. xdotool types a character outside the
    keyboard map by remapping a key for a moment; a busy Wine may read the
    key after the map is back and see another character. So a name that
    needs this gets two more tries; a tool that loses such a name fails all
    three. So does a case whose dialog was never seen: now and then, right
    after the other builds' tests, foliant.exe has been seen to end before
    its window could be found; a tool that never shows it fails all three."""
    attempts = 3
    for attempt in range(1, attempts + 1):
        retried = typed is not None and not typed.isascii()
        if os.path.exists(log):
            os.remove(log)
        if options.platform == "windows":
            forget_visited_folders(options.emulator, environment)
        before = sorted(os.listdir(scratch))
        try:
            status, stdout, unread, title = run_case(display, options.emulator + [options.tool], environment,
                                                     scratch, typed, options.platform)
            problems = check(status, stdout, expected, log)
            if title != TITLES[options.platform]:
                problems.append(f"the dialog is titled {title!r}")
            if expected is None and unread != UNASKED_ANSWER:
                problems.append(f"standard input read, {unread!r} left of {UNASKED_ANSWER!r}")
            if expected is None and sorted(os.listdir(scratch)) != before:
                problems.append(f"files changed: {before} became {sorted(os.listdir(scratch))}")
        except NoWindow as error:
            problems, retried = [str(error)], True
        except (TimeoutError, subprocess.TimeoutExpired) as error:
            problems = [str(error)]
        if not problems or not retried:
            break
    return name + (f" (attempt {attempt} of {attempts})" if attempt > 1 else ""), problems


def main():
    options = harness.parser().parse_args()
    report = harness.Report()
    first_window = FIRST_WINE_WINDOW_SECONDS if options.platform == "windows" else WINDOW_SECONDS
    with harness.scratch("foliant-gui-") as work, Display(first_window) as display:
        log = os.path.join(work, "opened.log")
        environment = {name: value for name, value in os.environ.items() if name != "WAYLAND_DISPLAY"}
        environment["DISPLAY"] = display.name
        if options.platform == "windows":
            # Not another HOME here: Wine would point the prefix's user
            # folders into this run's folder, gone after it. The locale sets
            # the ANSI code page: 1252.
            environment = {name: value for name, value in environment.items() if not name.startswith("LC_")}
            environment = prepare_wine(options.emulator, dict(environment, LANG="C.UTF-8", LC_ALL="C.UTF-8"), log)
        else:
            # A home of its own: the dialog keeps recent files and settings there.
            opener = harness.stand_in_opener(os.path.join(work, "bin"))
            environment.update(HOME=work, XDG_CONFIG_HOME=os.path.join(work, ".config"),
                               XDG_DATA_HOME=os.path.join(work, ".local"), FOLIANT_OPENER_LOG=log,
                               PATH=opener + os.pathsep + environment["PATH"])
        scratch = os.path.join(work, "scratch")
        harness.write_files(scratch, dict.fromkeys(["notes.txt", "sub/notes.txt", "a.txt", UNICODE_NAME + ".txt"],
                                                   TEXT))
        for name, typed, expected in cases(options.platform, scratch):
            report.case(*tried_case(display, options, environment, scratch, log, name, typed, expected))
    return report.close()


if __name__ == "__main__":
    sys.exit(main())
