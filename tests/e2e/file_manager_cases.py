#!/usr/bin/env python3
""""Convert to HDB" chosen in real file managers on Xvfb, as a person would:
the build installed into a scratch prefix, whose share/ comes first in
XDG_DATA_DIRS, and a scratch home. In one folder two texts that the action
must take together (a.txt and B.TXT) and a file that is no text, the two
texts selected with the keyboard; in another, hundreds of texts, one with a
name a shell would misread and one too large to convert, all selected. Their menu is opened and the entry chosen. Each text's output must
appear beside it and hold that text, the other file get none, and a window
of failure appear only for the text that fails, which the journal names. A
screenshot of each menu, the entry highlighted, is kept in the build folder."""

import glob
import os
import re
import shutil
import socket
import struct
import subprocess
import sys
import time
import zlib
from dataclasses import dataclass

import harness
from gui_cases import Display, NoWindow
from hdb_reader import HdbError, read_hdb

SKIPPED = 77
AWKWARD = "it's a \"quoted\" $(name) \u00f1 `x`.txt"


@dataclass
class Scene:
    what: str
    texts: dict  # name: bytes, each to be converted
    others: dict  # files the action must leave alone
    select: list = None  # keys, each step once the last has shown; None: the file manager's own for two texts
    failing: str = ""  # a text too large for an HDB file (sparse, so it costs no disk)
    shot: str = ""  # the screenshot's name, after the file manager's


SCENES = [
    Scene("converts a.txt and B.TXT selected together",
          {"a.txt": b"The first text.\n" * 40, "B.TXT": b"THE SECOND TEXT.\r\n" * 30},
          {"photo.png": b"\x89PNG\r\n\x1a\n"}),
    Scene("converts 400 texts selected at once, an awkward name among them, and shows the one that fails",
          {**{f"t{i:03}.txt": b"text %d\n" % i for i in range(400)}, AWKWARD: b"awkward\n"},
          {}, [["ctrl+a"]], "huge.txt", "-many"),
]
FOLDER = "texts"  # the file manager's window is titled by it
MENU_SECONDS = 5  # a menu not seen by then: the keys are sent again
SECONDS = 60
OUTPUT_SECONDS = 30  # two small texts; a fault costs this long
# Where the pointer rests, inside the window: a menu opened by the keyboard
# opens there, and so lies within the screenshot.
POINTER = (260, 160)


INSTALL_DOC = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "docs", "install.md")


def thunar_action(prefix):
    """docs/install.md's custom action for Thunar, the launcher in the prefix."""
    with open(INSTALL_DOC, encoding="utf-8") as f:
        doc = " ".join(f.read().split())
    command = re.search(r"give the command `([^`]*%F)` and the icon `([^`]*)`", doc)
    patterns = re.search(r"the file pattern `([^`]*)` with \"Text Files\" and \"Other Files\" ticked", doc)
    if not command or not patterns:
        raise ValueError("docs/install.md has no Thunar command, icon or file pattern")
    action = (f"<action><icon>{command[2]}</icon><name>Convert to HDB</name><unique-id>1</unique-id>"
              f"<command>{command[1].replace('/usr/', prefix + '/')}</command><description></description>"
              f"<patterns>{patterns[1]}</patterns><text-files/><other-files/></action>")
    return {".config/Thunar/uca.xml": f'<?xml version="1.0" encoding="UTF-8"?>\n<actions>{action}</actions>\n'.encode()}


@dataclass
class FileManager:
    name: str
    program: str
    needs: list  # files its entry needs, from packages of their own (patterns)
    title: str  # its window's, for the folder
    select: list  # the steps that select the two texts, the view focused: keys
    status_rows: int  # the window's last rows, its status bar
    choose: list  # keys that highlight "Convert to HDB" in the open menu
    home: object = None  # the files its entry needs in the home, for the prefix


# PCManFM and Thunar list a.txt, B.TXT, photo.png and put the actions last
# but for Properties; Nemo lists B.TXT first, and its actions after "Open
# With", whose entries differ from one machine to the next, so the entry is
# found from the menu's end.
FILE_MANAGERS = [
    FileManager("PCManFM", "pcmanfm", ["/usr/lib/*/libfm/modules/gtk-menu-actions.so"], f"^{FOLDER}$",
                [["Home"], ["shift+Right"]], 20, ["Up"] * 2),
    FileManager("Nemo", "nemo", [], f"^{FOLDER}$", [["Home"], ["shift+Right"]], 40, ["Up"] * 8),
    FileManager("Thunar", "thunar", [], f"^{FOLDER} - Thunar$", [["Home"], ["shift+Right"]], 25, ["Up"] * 2,
                thunar_action),
]


def region(xwd, box):
    """The rows of a box (x, y, width, height) of an XWD image of 24-bit
    colour (3 or 4 bytes a pixel), the bytes a pixel, and where red, green
    and blue lie in one."""
    fields = struct.unpack(">25I", xwd[:100])
    header, order, size, stride, colours = fields[0], fields[7], fields[11] // 8, fields[12], fields[19]
    pixels = xwd[header + 12 * colours:]
    x, y, width, height = box
    rows = [pixels[line * stride + size * x:line * stride + size * (x + width)] for line in range(y, y + height)]
    return rows, size, (2, 1, 0) if order == 0 else (size - 3, size - 2, size - 1)


def rgb_rows(xwd, box):
    rows, size, (red, green, blue) = region(xwd, box)
    found = []
    for row in rows:
        rgb = bytearray(3 * box[2])
        rgb[0::3], rgb[1::3], rgb[2::3] = row[red::size], row[green::size], row[blue::size]
        found.append(rgb)
    return found


def png(rows):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    header = struct.pack(">IIBBBBB", len(rows[0]) // 3, len(rows), 8, 2, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + \
        chunk(b"IDAT", zlib.compress(b"".join(b"\0" + row for row in rows))) + chunk(b"IEND", b"")


def geometry(display, window):
    """(x, y, width, height) of a window."""
    found = dict(line.split("=") for line in display.xdotool("getwindowgeometry", "--shell", window).split())
    return [int(found[key]) for key in ("X", "Y", "WIDTH", "HEIGHT")]


def screen(display, window="-root"):
    which = ["-root"] if window == "-root" else ["-id", window]
    return harness.run(["xwd", *which, "-silent", "-display", display.name], check=True).stdout


def picture(display, manager, window):
    """The window as it shows, its menus on it: on the screen's image GTK 3's
    menus may be black, so each is taken on its own."""
    x, y, width, height = geometry(display, window)
    rows = rgb_rows(screen(display), (x, y, width, height))
    for menu in menus(display, manager) - {window}:
        left, top, wide, high = geometry(display, menu)
        for line, row in enumerate(rgb_rows(screen(display, menu), (0, 0, wide, high)), top - y):
            start, end = max(left - x, 0), min(left - x + wide, width)
            if 0 <= line < height and start < end:
                rows[line][3 * start:3 * end] = row[3 * (start - left + x):3 * (end - left + x)]
    return rows


def running(program):
    """Whether a process runs `program` (its file, as /proc shows it)."""
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            if os.readlink(f"/proc/{pid}/exe") == program:
                return True
        except OSError:
            pass
    return False


def visible(display, *search):
    return display.xdotool("search", "--onlyvisible", *search).split()


def menus(display, manager):
    """The file manager's windows big enough to be a menu (GTK keeps a
    small one off the screen beside it)."""
    return {window for window in visible(display, "--class", manager.program)
            if min(geometry(display, window)[2:]) >= 50}


def status_bar(display, manager, window):
    x, y, width, height = geometry(display, window)
    return region(screen(display), (x, y + height - manager.status_rows, width, manager.status_rows))[0]


def select_texts(display, manager, steps, window):
    """Sends each step of the selection once the status bar has shown the
    last: libfm takes a selection that changes again within 200 ms only
    when they are up, and a menu opened before shows the earlier one."""
    def settled():
        before = status_bar(display, manager, window)
        time.sleep(0.3)
        return before == status_bar(display, manager, window) and before
    shown = harness.poll(settled, SECONDS, f"{manager.name}'s window to settle")
    for step in steps:
        display.xdotool("key", *step)
        shown = harness.poll(lambda: (now := status_bar(display, manager, window)) != shown and now, SECONDS,
                             f"the status bar to show {step}")


def open_menu(display, manager, tool, window):
    """Opens the selection's menu with the keyboard, again while none shows."""
    shown = menus(display, manager)
    display.xdotool("mousemove", "--window", window, *map(str, POINTER))

    def menu():
        display.xdotool("key", "Menu")
        if harness.poll(lambda: menus(display, manager) - shown, MENU_SECONDS):
            return True
        if tool.poll() is not None:
            raise NoWindow(f"{manager.name} ended with status {tool.returncode}")
        return False
    harness.poll(menu, SECONDS, f"{manager.name}'s menu")


def held(display):
    """A connection to the display kept open: Xvfb resets when its last
    client leaves, and refuses the next file manager meanwhile."""
    connection = socket.socket(socket.AF_UNIX)
    connection.connect(f"/tmp/.X11-unix/X{display.name[1:]}")
    connection.sendall(struct.pack("<cxHHHHxx", b"l", 11, 0, 0, 0))  # the setup, no authorization
    if connection.recv(1) != b"\1":
        raise RuntimeError(f"{display.name} refused a connection")
    return connection


def run_manager(display, manager, scene, prefix, work, shot):
    home = os.path.join(work, manager.program + scene.shot)
    folder = os.path.join(home, FOLDER)
    harness.write_files(folder, {**scene.texts, **scene.others})
    if scene.failing:
        with open(os.path.join(folder, scene.failing), "wb") as f:
            f.truncate(70 << 20)
    harness.write_files(home, manager.home(prefix) if manager.home else {})
    environment = {name: value for name, value in os.environ.items()
                   if name not in ("WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS") and not name.startswith("XDG_")}
    environment.update(DISPLAY=display.name, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"),
                       XDG_DATA_HOME=os.path.join(home, ".local/share"), XDG_CACHE_HOME=os.path.join(home, ".cache"),
                       XDG_DATA_DIRS=os.path.join(prefix, "share") + ":/usr/local/share:/usr/share")
    launcher = os.path.realpath(os.path.join(prefix, "libexec/foliant/convert-beside"))
    # Its output is read when it ends before its window shows, or at the end.
    tool = subprocess.Popen([manager.program, folder], env=environment, cwd=home, stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    try:
        window = display.wait_for_window(tool, "--name", manager.title)
        select_texts(display, manager, scene.select or manager.select, window)
        open_menu(display, manager, tool, window)
        before = picture(display, manager, window)
        display.xdotool("key", *manager.choose)
        # The screenshot once the highlight is drawn.
        after = harness.poll(lambda: (shown := picture(display, manager, window)) != before and shown, MENU_SECONDS)
        with open(shot, "wb") as f:
            f.write(png(after or before))
        display.xdotool("key", "Return")
        problems = check_outputs(display, scene, folder, launcher)
    except (NoWindow, TimeoutError) as error:
        problems = [str(error)]
    finally:
        tool.terminate()
        try:
            tool.wait(timeout=10)
        except subprocess.TimeoutExpired:
            tool.kill()
            tool.wait()
        # What is there: a process it started may hold the pipe open.
        os.set_blocking(tool.stdout.fileno(), False)
        said = tool.stdout.read() or b""
        tool.stdout.close()
    # The launcher's journal: its standard error, which it shares with the file manager.
    if scene.failing and f"Not converted:\n{os.path.join(folder, scene.failing)}\n".encode() not in said:
        problems.append(f"the journal does not name {scene.failing}")
    return problems + ([f"{manager.name} said: {said[-2000:]!r}"] if problems and said else [])


def check_outputs(display, scene, folder, launcher):
    """Each text's output, once the launcher has ended or shown a failure."""
    problems = []
    outputs = {name: os.path.join(folder, name[:-4] + ".hdb") for name in scene.texts}
    if not harness.poll(lambda: all(map(os.path.exists, outputs.values())), OUTPUT_SECONDS):
        windows = [display.xdotool("getwindowname", window).strip() for window in visible(display, "--name", ".")]
        missing = sorted(name for name, path in outputs.items() if not os.path.exists(path))
        problems.append(f"after {OUTPUT_SECONDS} s no output for {missing[:5]} ({len(missing)}), windows {windows}")
    # The launcher shows failures in a window and ends when it is closed.
    failure = ("--name", "^Convert to HDB$")
    harness.poll(lambda: visible(display, *failure) or not running(launcher), SECONDS)
    shown = visible(display, *failure)
    if shown and not scene.failing:
        problems.append("a window of failure appeared")
    elif scene.failing and not shown:
        problems.append(f"no window of failure for {scene.failing}")
    for window in shown:
        display.xdotool("windowkill", window)
    if not harness.poll(lambda: not running(launcher), SECONDS):
        problems.append("the launcher still runs after its window was closed")
    for name, path in outputs.items():
        try:
            with open(path, "rb") as f:
                header, text = read_hdb(f.read())
                # The header holds the name's first 31 bytes at most.
                if text != scene.texts[name] or not name.encode().startswith(header):
                    problems.append(f"{name}'s output does not hold it")
        except (OSError, HdbError) as error:
            problems.append(f"{name}: {error}")
    converted = [name for name in [*scene.others, scene.failing] if name and os.path.exists(os.path.join(folder, name.split(".")[0] + ".hdb"))]
    if converted:
        problems.append(f"converted: {converted}")
    return problems


def main():
    arguments = harness.parser(tool=False, platform=False)
    arguments.add_argument("--build", required=True, type=os.path.abspath)
    options = arguments.parse_args()
    missing = [tool for tool in ("Xvfb", "xdotool", "xwd") if not shutil.which(tool)]
    if missing:
        print(f"skip: {', '.join(missing)} not installed", flush=True)
        return SKIPPED
    report, skipped = harness.Report(), []
    with harness.scratch("foliant-fm-") as work, Display() as display, held(display):
        prefix = os.path.join(work, "prefix")
        harness.run(["cmake", "--install", options.build, "--prefix", prefix], check=True)
        for manager in FILE_MANAGERS:
            absent = [need for need in manager.needs if not glob.glob(need)]
            absent = absent if shutil.which(manager.program) else [manager.program] + absent
            if absent:
                print(f"skip {manager.name}: {', '.join(absent)} not installed", flush=True)
                skipped.append(manager.name)
                continue
            for scene in SCENES:
                started = time.monotonic()
                shot = os.path.join(options.build, f"{manager.program}{scene.shot}-convert-to-hdb.png")
                problems = run_manager(display, manager, scene, prefix, work, shot)
                report.case(f"{manager.name} {scene.what} ({time.monotonic() - started:.1f} s, the menu in {shot})",
                            problems)
    status = report.close()
    # A file manager left out is never passed over in silence.
    if skipped and not status:
        print(f"skipped: {', '.join(skipped)}")
        return SKIPPED
    return status


if __name__ == "__main__":
    sys.exit(main())
