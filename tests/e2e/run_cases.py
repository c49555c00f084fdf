#!/usr/bin/env python3
"""End-to-end cases: the built tool runs as a process, each case in a scratch
folder of its own, behind an optional exec prefix (Wine for foliant.exe).

A case names the files before the run, the arguments, the exact standard
output and exit status, and what changed afterwards; every file it does not
name must be exactly as it was, and no other file may appear. A case may
also make one system call fail (strace's fault injection) or bound the
tool's resources (prlimit, a small tmpfs).
"""

import concurrent.futures
import contextlib
import os
import re
import shlex
import shutil
import signal
import socket
import stat
import subprocess
import sys
import time
from dataclasses import dataclass, field, replace

import harness
from hdb_reader import MAX_TEXT, HdbError, read_hdb

NOBODY = 65534

USAGE = (
    "\r\nFOLIANT: converts .txt files to .hdb files.\r\n\r\n"
    "Your command syntax is incorrect.\r\n"
    "Usage: \r\n"
    '   "foliant"       for GUI mode. \r\n'
    '   "foliant <filename>" for converting a single .txt file.\r\n'
    '   "foliant all"   for converting all .txt - files in the current directory.\r\n\r\n\r\n'
    "foliant is free software by the foliant developers.\r\n"
)


# What a scratch folder holds before a run.
@dataclass
class Text:
    data: bytes
    mode: int = 0o644


@dataclass
class Folder:
    mode: int = 0o755


@dataclass
class Sparse:
    size: int


@dataclass
class HardLink:
    target: str


@dataclass
class SymLink:
    target: str


@dataclass
class Fifo:
    pass


@dataclass
class Socket:
    pass


# System calls made to fail on demand by strace's fault injection, named
# here alone so that a change in the calls the tool makes is one edit.
MOVE_CALLS = "rename,renameat,renameat2,linkat"
RENAME_CALLS = "rename,renameat,renameat2"  # the last step over an earlier output
READ_CALLS = "read"  # natively and by Wine, for a file's data
LIST_CALLS = "getdents64"
OPEN_CALLS = "open,openat,openat2"
LOCK_CALLS = "flock"  # natively only the sweep's, to tell another run's temporary from debris
NEW_FILE = "a file the run creates"
FLUSH_CALLS = "fdatasync"  # one file's data, before it takes its name
WHOLE_FLUSH_CALLS = "syncfs"  # a batch's data at once; a drop box's names
FOLDER_SYNC_CALLS = "fsync"  # the folder, once its names are given
STOPPING_TEXT = "the text at which all stops"  # Case.batch_stop's, once the listing is known


@dataclass
class Fault:
    calls: str  # as strace names them
    result: str  # what the failing call returns instead, in strace's words: "error=EIO", "retval=0"
    on: str = ""  # only calls on this file, by name or descriptor: a name in the folder, "." for it, or NEW_FILE
    nth: int = 1  # the calls before the nth such call succeed
    every: bool = False  # the nth call and every later one fail


@dataclass
class Growth:
    """`data` is appended to the text `name` while the run is held, by
    strace, at its first read of it: after the text was measured, before a
    byte of it was read."""
    name: str
    data: bytes


@dataclass
class Shrinking:
    """The text `name` is cut to `size` bytes while the run is held, by
    strace, as its second opening of the text returns: after the text was
    measured, before a byte of it was read."""
    name: str
    size: int


# What a file is expected to be after a run.
@dataclass
class Hdb:
    source: str  # the input's name before the run
    header_name: object  # bytes, or {platform: bytes} where they differ


ABSENT = "absent"


@dataclass
class Chooser:
    """A stand-in file chooser (zenity, kdialog) on PATH: it records its
    arguments, prints `prints` ({scratch} is the folder) and ends with
    `status`; `args` None: the tool must not start it."""
    status: int = 0
    prints: str = ""
    args: list = None
    runnable: bool = True  # False: on PATH but not executable
    says: str = ""  # on standard error


@dataclass
class Case:
    name: str
    args: list
    files: dict
    stdout: str = ""
    status: int = 0
    after: dict = field(default_factory=dict)
    # "all" cases: stdout, status and outputs follow from the folder's
    # listing order, which is the platform's own.
    batch: bool = False
    runs: int = 1  # a second run must leave every file as the first did
    # Interactive mode without a display: the answer typed on standard input,
    # and the paths the stand-in opener must be given ({scratch} is the folder).
    stdin: bytes = None
    opened: tuple = ()
    opener_sleeps: bool = False  # the opener outlives the tool, which must not wait
    # With a display: the stand-in choosers on PATH by name, and nothing else
    # there (a chooser not named here is not installed).
    choosers: dict = None
    unread: bytes = None  # what the tool must leave unread on standard input
    platforms: tuple = ("posix", "windows")
    unprivileged: tuple = ()  # platforms on which the tool must not run as root
    file_size_limit: int = 0  # bytes the tool may write to one file (POSIX)
    open_files: int = 0  # file descriptors the tool may hold at once (POSIX)
    fault: Fault = None  # a system call that fails
    disk_space: int = 0  # run on a small file system with this much room left
    code_page: int = 1252  # Windows' ANSI code page, in which names are printed and stored
    console: bool = False  # standard output is a terminal, which Wine makes a console
    null_input: bool = False  # standard input is the null device, which can answer nothing
    modes: dict = field(default_factory=dict)  # permission bits files must have afterwards (under Wine too)
    data_limit: int = 0  # bytes of data the tool may allocate (POSIX; not under the sanitizers)
    # Owners (uid, gid) set before the run, and those files must have after
    # it (POSIX; the case needs root and is left out without it).
    owners: dict = field(default_factory=dict)
    owners_after: dict = field(default_factory=dict)
    grows: "Growth" = None  # a text that grows while it is read (POSIX)
    shrinks: "Shrinking" = None  # a text that shrinks between its measurement and its read (POSIX)
    # "all" stops at the text of this number (from 0, in listing order) with
    # this message, whose {input} and {output} are that text's names.
    batch_stop: tuple = None
    owned_by_root: bool = False  # unprivileged runs leave every file root's
    # Windows: "{short}" in names stands for the 8.3 name, less its
    # extension, that the folder gives this one; `aliases` maps that name's
    # output to this one once it is known.
    short_name_of: str = ""
    aliases: dict = field(default_factory=dict)
    # Windows, with the helper program (tests/hold_open_win.cpp): a file that
    # another program holds open for writing while the run lasts; a DACL
    # (name, SDDL) given to a file before the run, which the helper must read
    # back after it as it read it before.
    held_open: str = ""
    dacl: tuple = None
    drive_root: bool = False  # Windows: the run starts at the root (X:\) of a drive mapped to the folder
    ctrl_c: bool = False  # Ctrl+C (SIGINT, a console event under Wine) while held at the first read of args[0]


def text(size, seed=1):
    return bytes((i * 31 + seed + (i >> 10)) % 251 for i in range(size))


BOOK = text(2500)
LINES = b"one\r\ntwo\nthree\rfour\x00\xff\n" * 100
MIXED_FOLDER = {
    "a.txt": Text(BOOK), "MANUAL.TXT": Text(LINES), "Notes.Txt": Text(b"skipped"), "c.txt.bak": Text(b"bak"),
    "readme.md": Text(b"skipped"), ".hidden.txt": Text(b"hidden"), "b.txt": Text(b""),
    "y.txt.hdb": Text(b"an earlier output, left alone"),
}
UTF8_NAME = "\u00e9t\u00e9-" + "x" * 24 + "\u00e9.txt"  # bytes 30 and 31 are one character
# Names Windows' ANSI code page 1252 cannot hold, and one it can.
CJK = "日本.txt"
GREEK = "Ωmega notes.txt"
LATIN1 = "Résumé.txt"
SIXTEEN_CJK = "日" * 16 + ".txt"  # 32 bytes in code page 932
# Over 260 characters once the scratch folder is put in front.
DEEP = ("d" * 90 + "/") * 3
UNICODE_FOLDER = {
    CJK: Text(BOOK), GREEK: Text(LINES), LATIN1: Text(b"r"), "plain.txt": Text(b"p"),
    "X.TXT.HDB": Text(b"an earlier output, left alone"), "z.txt.Hdb": Text(b"so is this"),
}

TITLE = "Open a text file to convert"
ZENITY_ARGS = ["--file-selection", "--title=" + TITLE, "--filename={scratch}/",
               "--file-filter=Text Document Files (*.txt) | *.txt", "--file-filter=All Files (*.*) | *"]
KDIALOG_ARGS = ["--title", TITLE, "--getopenfilename", "{scratch}",
                "*.txt|Text Document Files (*.txt)\n*|All Files (*.*)"]
# No four-character extension, so ".hdb" is appended: 256 bytes, one more
# than a name may have.
TOO_LONG_FOR_OUTPUT = "n" * 247 + ".txt5"
TWO_CHUNKS = text(300_000)  # the text is read in two parts
FORGED = "b\nfake.hdb converted.\nc.txt"
CONTROL_FOLDER = {FORGED: Text(BOOK), "\x1b[31mred.txt": Text(LINES), 'q"\x01.txt': Text(b"q"),
                  "back\\slash\t.txt": Text(b"b"), 'plain "quote" \\ only.txt': Text(b"p")}

CASES = [
    Case("converts a text", ["book.txt"], {"book.txt": Text(BOOK)},
         "book.hdb converted.\n", 0, {"book.hdb": Hdb("book.txt", b"book.txt")}),
    Case("line ends and every byte arrive unchanged", ["BOOK.TXT"], {"BOOK.TXT": Text(LINES)},
         "BOOK.hdb converted.\n", 0, {"BOOK.hdb": Hdb("BOOK.TXT", b"BOOK.TXT")}),
    Case("block boundaries", ["b.txt"], {"b.txt": Text(text(2049))},
         "b.hdb converted.\n", 0, {"b.hdb": Hdb("b.txt", b"b.txt")}),
    Case("empty text", ["empty.txt"], {"empty.txt": Text(b"")},
         "empty.hdb converted.\n", 0, {"empty.hdb": Hdb("empty.txt", b"empty.txt")}),
    # Many names at once: a POSIX shell expands a pattern such as *.txt before
    # the tool starts, and Explorer passes every file dropped onto foliant.exe
    # or sent to it. Every further text name is converted, in order, each as a
    # single file; the first failure ends the run.
    Case("extra arguments: further texts converted, the rest ignored", ["a.txt", "b.txt", "all"],
         {"a.txt": Text(b"a"), "b.txt": Text(b"b")}, "a.hdb converted.\nb.hdb converted.\n", 0,
         {"a.hdb": Hdb("a.txt", b"a.txt"), "b.hdb": Hdb("b.txt", b"b.txt")}),
    Case("further text names are converted in order", ["b.txt", "a.txt", "C.TXT", "d.txt.bak"],
         {"a.txt": Text(b"a"), "b.txt": Text(BOOK), "C.TXT": Text(b"c"), "d.txt.bak": Text(b"d")},
         "b.hdb converted.\na.hdb converted.\nC.hdb converted.\nd.txt.hdb converted.\n", 0,
         {"a.hdb": Hdb("a.txt", b"a.txt"), "b.hdb": Hdb("b.txt", b"b.txt"), "C.hdb": Hdb("C.TXT", b"C.TXT"),
          "d.txt.hdb": Hdb("d.txt.bak", b"d.txt.bak")}),
    Case("three texts at once: a space, .TXT, an empty one", ["my book.txt", "NOTES.TXT", "empty.txt"],
         {"my book.txt": Text(BOOK), "NOTES.TXT": Text(LINES), "empty.txt": Text(b"")},
         "my book.hdb converted.\nNOTES.hdb converted.\nempty.hdb converted.\n", 0,
         {"my book.hdb": Hdb("my book.txt", b"my book.txt"), "NOTES.hdb": Hdb("NOTES.TXT", b"NOTES.TXT"),
          "empty.hdb": Hdb("empty.txt", b"empty.txt")}),
    # As Explorer passes them: full paths ({scratch} is the case's folder as
    # Z:\...), one past 260 characters, from a current folder that is not the
    # texts'. The outputs land in the current one.
    Case("three texts at once as full paths",
         ["{scratch}\\dropped texts\\my book.txt", "{scratch}\\dropped texts\\NOTES.TXT",
          "{scratch}\\dropped texts\\" + DEEP.replace("/", "\\") + "empty.txt"],
         {"dropped texts/my book.txt": Text(BOOK), "dropped texts/NOTES.TXT": Text(LINES),
          "dropped texts/" + DEEP + "empty.txt": Text(b"")},
         "my book.hdb converted.\nNOTES.hdb converted.\nempty.hdb converted.\n", 0,
         {"my book.hdb": Hdb("dropped texts/my book.txt", b"my book.txt"),
          "NOTES.hdb": Hdb("dropped texts/NOTES.TXT", b"NOTES.TXT"),
          "empty.hdb": Hdb("dropped texts/" + DEEP + "empty.txt", b"empty.txt")}, platforms=("windows",)),
    Case("a failure among further names stops the run", ["a.txt", "missing.txt", "c.txt"],
         {"a.txt": Text(b"a"), "c.txt": Text(b"c")},
         "a.hdb converted.\nerror: file not found: missing.txt\r\n", 1, {"a.hdb": Hdb("a.txt", b"a.txt")}),
    Case("further names without .txt are ignored", ["a.txt", "readme.md", "all", "x.Txt", "b.txt"],
         {"a.txt": Text(b"a"), "b.txt": Text(b"b"), "readme.md": Text(b"r"), "x.Txt": Text(b"x")},
         "a.hdb converted.\nb.hdb converted.\n", 0, {"a.hdb": Hdb("a.txt", b"a.txt"), "b.hdb": Hdb("b.txt", b"b.txt")}),
    Case("the first argument alone chooses the mode", ["notes.md", "a.txt"],
         {"notes.md": Text(b"n"), "a.txt": Text(b"a")}, USAGE, 1),
    Case("notes.txt.bak", ["notes.txt.bak"], {"notes.txt.bak": Text(b"n")},
         "notes.txt.hdb converted.\n", 0, {"notes.txt.hdb": Hdb("notes.txt.bak", b"notes.txt.bak")}),
    Case("x.TXTfile", ["x.TXTfile"], {"x.TXTfile": Text(b"x")},
         "x.TXTfile.hdb converted.\n", 0, {"x.TXTfile.hdb": Hdb("x.TXTfile", b"x.TXTfile")}),
    Case("an existing output is replaced", ["a.txt"], {"a.txt": Text(BOOK), "a.hdb": Text(b"old")},
         "a.hdb converted.\n", 0, {"a.hdb": Hdb("a.txt", b"a.txt")}),
    Case("a text in a folder lands in the current one", ["sub/book.txt"],
         {"sub/book.txt": Text(BOOK)},
         "book.hdb converted.\n", 0, {"book.hdb": Hdb("sub/book.txt", b"book.txt")}),
    Case("backslash separates on Windows", ["sub\\book.txt"], {"sub/book.txt": Text(BOOK)},
         "book.hdb converted.\n", 0, {"book.hdb": Hdb("sub/book.txt", b"book.txt")},
         platforms=("windows",)),
    Case("backslash is part of the name on POSIX", ["sub\\book.txt"], {"sub\\book.txt": Text(b"b")},
         "sub\\book.hdb converted.\n", 0, {"sub\\book.hdb": Hdb("sub\\book.txt", b"sub\\book.txt")},
         platforms=("posix",)),
    Case("long name is cut in the header only", [UTF8_NAME], {UTF8_NAME: Text(b"u")},
         UTF8_NAME[:-4] + ".hdb converted.\n", 0,
         {UTF8_NAME[:-4] + ".hdb": Hdb(UTF8_NAME, {"posix": UTF8_NAME.encode()[:30],
                                                   "windows": UTF8_NAME.encode("cp1252")[:31]})}),
    Case("a name of 200 bytes", ["n" * 196 + ".txt"], {"n" * 196 + ".txt": Text(b"n")},
         "n" * 196 + ".hdb converted.\n", 0, {"n" * 196 + ".hdb": Hdb("n" * 196 + ".txt", b"n" * 31)}),
    Case("the largest text", ["big.txt"], {"big.txt": Sparse(MAX_TEXT)},
         "big.hdb converted.\n", 0, {"big.hdb": Hdb("big.txt", b"big.txt")}),
    Case("one byte more is too large", ["big.txt"], {"big.txt": Sparse(MAX_TEXT + 1)},
         "error: file too large: big.txt\r\n", 1),
    # Any name Windows accepts: names reach it as UTF-16; the header and
    # redirected messages hold the ANSI code page's bytes, '?' for what it
    # cannot hold; the output is named after the Unicode name.
    Case("a name outside the code page", [CJK], {CJK: Text(BOOK)}, "日本.hdb converted.\n", 0,
         {"日本.hdb": Hdb(CJK, {"windows": b"??.txt", "posix": CJK.encode()})}),
    Case("Greek and a space", [GREEK], {GREEK: Text(LINES)}, "Ωmega notes.hdb converted.\n", 0,
         {"Ωmega notes.hdb": Hdb(GREEK, {"windows": b"?mega notes.txt", "posix": GREEK.encode()})}),
    Case("Latin-1 accents are stored as before", [LATIN1], {LATIN1: Text(b"r")}, "Résumé.hdb converted.\n", 0,
         {"Résumé.hdb": Hdb(LATIN1, {"windows": bytes.fromhex("52E973756DE92E747874"), "posix": LATIN1.encode()})}),
    Case("a missing file outside the code page", ["Ωmega.txt"], {}, "error: file not found: Ωmega.txt\r\n", 1),
    Case("a text at a path over 260 characters", [DEEP + "book.txt"], {DEEP + "book.txt": Text(BOOK)},
         "book.hdb converted.\n", 0, {"book.hdb": Hdb(DEEP + "book.txt", b"book.txt")}),
    Case("a long path to a name outside the code page", [DEEP.replace("/", "\\") + CJK], {DEEP + CJK: Text(BOOK)},
         "日本.hdb converted.\n", 0, {"日本.hdb": Hdb(DEEP + CJK, b"??.txt")}, platforms=("windows",)),
    Case("code page 932", [CJK], {CJK: Text(BOOK)}, "日本.hdb converted.\n", 0,
         {"日本.hdb": Hdb(CJK, b"\x93\xfa\x96\x7b.txt")}, platforms=("windows",), code_page=932),
    Case("code page 932: a trail byte that looks like a backslash", ["表.txt"], {"表.txt": Text(b"t")},
         "表.hdb converted.\n", 0, {"表.hdb": Hdb("表.txt", b"\x95\x5c.txt")},
         platforms=("windows",), code_page=932),
    Case("code page 932: the header keeps whole characters", [SIXTEEN_CJK], {SIXTEEN_CJK: Text(b"n")},
         "日" * 16 + ".hdb converted.\n", 0, {"日" * 16 + ".hdb": Hdb(SIXTEEN_CJK, b"\x93\xfa" * 15)},
         platforms=("windows",), code_page=932),
    Case("code page 932: Greek it holds, Latin-1 it does not", ["Ω Résumé.txt"], {"Ω Résumé.txt": Text(b"g")},
         "Ω Résumé.hdb converted.\n", 0, {"Ω Résumé.hdb": Hdb("Ω Résumé.txt", b"\x83\xb6 R?sum?.txt")},
         platforms=("windows",), code_page=932),
    Case("a console shows the name as typed", [GREEK], {GREEK: Text(LINES)}, "Ωmega notes.hdb converted.\n", 0,
         {"Ωmega notes.hdb": Hdb(GREEK, b"?mega notes.txt")}, platforms=("windows",), console=True),
    Case("a console shows an error's name as typed", ["日本 Résumé.txt"], {},
         "error: file not found: 日本 Résumé.txt\r\n", 1, platforms=("windows",), console=True),
    Case("all with names outside the code page", ["all"], UNICODE_FOLDER, batch=True),
    Case("all with names outside the code page, code page 932", ["all"], UNICODE_FOLDER, batch=True,
         platforms=("windows",), code_page=932),
    Case("all skips outputs in any case", ["all"],
         {"X.TXT.HDB": Text(b"old"), "x.txt": Text(b"x"), "y.TXT.hdb": Text(b"y")}, batch=True),
    # The usage text and the name tests.
    Case("ALL", ["ALL"], {}, USAGE, 1),
    Case("All", ["All"], {}, USAGE, 1),
    Case("allx", ["allx"], {"a.txt": Text(b"a")}, USAGE, 1),
    Case("all and a blank", ["all "], {"a.txt": Text(b"a")}, USAGE, 1),
    Case("al", ["al"], {"a.txt": Text(b"a")}, USAGE, 1),
    Case("empty argument", [""], {}, USAGE, 1),
    Case(".Txt is no text name", ["a.Txt"], {"a.Txt": Text(b"a")}, USAGE, 1),
    Case("wildcard is not expanded", ["*.txt"], {"a.txt": Text(b"a")},
         "error: file not found: *.txt\r\n", 1),
    Case("missing file", ["missing.txt"], {}, "error: file not found: missing.txt\r\n", 1),
    Case("a folder is no file", ["old.txt"], {"old.txt": Folder()},
         "error: file not found: old.txt\r\n", 1),
    Case("a FIFO is no file", ["f.txt"], {"f.txt": Fifo()}, "error: file not found: f.txt\r\n", 1,
         platforms=("posix",)),
    # Mends: the input is never written, and never replaced by its own output.
    Case("read-only text converts", ["ro.txt"], {"ro.txt": Text(BOOK, 0o444)},
         "ro.hdb converted.\n", 0, {"ro.hdb": Hdb("ro.txt", b"ro.txt")}, unprivileged=("posix",)),
    Case("a text another program holds open for writing converts", ["log.txt"], {"log.txt": Text(LINES)},
         "log.hdb converted.\n", 0, {"log.hdb": Hdb("log.txt", b"log.txt")}, platforms=("windows",),
         held_open="log.txt"),
    Case("unreadable text", ["secret.txt"], {"secret.txt": Text(BOOK, 0o000)},
         "error: file not found: secret.txt\r\n", 1, unprivileged=("posix", "windows")),
    Case("output would be the input", ["a.txt.hdb"], {"a.txt.hdb": Text(BOOK)},
         "error: input and output are the same file: a.txt.hdb\r\n", 1),
    Case("same file, spelt differently", ["./a.txt.hdb"], {"a.txt.hdb": Text(BOOK)},
         "error: input and output are the same file: ./a.txt.hdb\r\n", 1),
    Case("same file through a hard link", ["a.txt"], {"a.txt": Text(BOOK), "a.hdb": HardLink("a.txt")},
         "error: input and output are the same file: a.txt\r\n", 1),
    Case("same file through a symbolic link", ["a.txt"], {"a.txt": Text(BOOK), "a.hdb": SymLink("a.txt")},
         "error: input and output are the same file: a.txt\r\n", 1),
    # A link at the output's name is a name like any other: replaced, never
    # written through.
    Case("a symbolic link at the output's name is replaced", ["a.txt"],
         {"a.txt": Text(BOOK), "other": Text(b"the link's target"), "a.hdb": SymLink("other")},
         "a.hdb converted.\n", 0, {"a.hdb": Hdb("a.txt", b"a.txt")}),
    Case("a dangling link at the output's name is replaced", ["a.txt"],
         {"a.txt": Text(BOOK), "a.hdb": SymLink("gone/a.hdb")},
         "a.hdb converted.\n", 0, {"a.hdb": Hdb("a.txt", b"a.txt")}),
    Case("an .hdb in another folder is no clash", ["sub/a.txt.hdb"],
         {"sub/a.txt.hdb": Text(BOOK), "a.txt.hdb": Text(b"old")},
         "a.txt.hdb converted.\n", 0, {"a.txt.hdb": Hdb("sub/a.txt.hdb", b"a.txt.hdb")}),
    # Mends: an output that may not be replaced stays as it was.
    Case("read-only output", ["a.txt"], {"a.txt": Text(BOOK), "a.hdb": Text(b"keep", 0o444)},
         "error: file not created\r\n", 1, unprivileged=("posix",)),
    Case("folder of the output's name", ["a.txt"], {"a.txt": Text(BOOK), "a.hdb": Folder()},
         "error: file not created\r\n", 1),
    Case("folder that may not be written", ["sub/a.txt"], {"sub/a.txt": Text(BOOK), ".": Folder(0o555)},
         "error: file not created\r\n", 1, unprivileged=("posix", "windows")),
    Case("file-size limit keeps the old output", ["big.txt"],
         {"big.txt": Text(text(300_000)), "big.hdb": Text(b"old")},
         "error: file not written: big.hdb\r\n", 1, platforms=("posix",), file_size_limit=100_000),
    Case("full disk keeps the old output", ["big.txt"], {"big.txt": Text(text(300_000)), "big.hdb": Text(b"old")},
         "error: file not written: big.hdb\r\n", 1, disk_space=100_000),
    Case("FIFO of the output's name", ["a.txt"], {"a.txt": Text(BOOK), "a.hdb": Fifo()},
         "error: file not created\r\n", 1, platforms=("posix",)),
    Case("socket of the output's name", ["a.txt"], {"a.txt": Text(BOOK), "a.hdb": Socket()},
         "error: file not created\r\n", 1, platforms=("posix",)),
    # The name is found impossible before anything is written: the disk is
    # too small for the text, and would say so first.
    Case("an output name too long for the file system", [TOO_LONG_FOR_OUTPUT],
         {TOO_LONG_FOR_OUTPUT: Text(TWO_CHUNKS)}, "error: file not created\r\n", 1, disk_space=100_000),
    Case("an output name of 255 bytes", ["n" * 251 + ".txt"], {"n" * 251 + ".txt": Text(b"n")},
         "n" * 251 + ".hdb converted.\n", 0, {"n" * 251 + ".hdb": Hdb("n" * 251 + ".txt", b"n" * 31)}),
    # Failures this machine's file systems never give, made by failing the
    # system call itself.
    Case("the move into place fails", ["a.txt"], {"a.txt": Text(BOOK), "a.hdb": Text(b"old")},
         "error: file not created\r\n", 1, platforms=("posix",), fault=Fault(MOVE_CALLS, "error=EIO")),
    Case("a kernel that names no file by its descriptor", ["a.txt", "b.txt"],
         {"a.txt": Text(BOOK), "b.txt": Text(LINES)}, "a.hdb converted.\nb.hdb converted.\n", 0,
         {"a.hdb": Hdb("a.txt", b"a.txt"), "b.hdb": Hdb("b.txt", b"b.txt")}, platforms=("posix",),
         fault=Fault("linkat", "error=ENOENT")),
    Case("the rename over an earlier output fails", ["a.txt"], {"a.txt": Text(BOOK), "a.hdb": Text(b"old")},
         "error: file not created\r\n", 1, platforms=("posix",), fault=Fault(RENAME_CALLS, "error=EIO")),
    Case("the second opening of the text fails", ["a.txt"], {"a.txt": Text(BOOK), "a.hdb": Text(b"old")},
         "error: file not found\r\n", 1, platforms=("posix",),
         fault=Fault(OPEN_CALLS, "error=EACCES", on="a.txt", nth=2)),
    # Errors at close: in filesystem_cases.py, on file systems whose close reports them.
    Case("out of memory", ["big.txt"], {"big.txt": Text(TWO_CHUNKS)}, "error: out of memory\r\n", 1,
         platforms=("posix",), data_limit=640 << 10),
    Case("two inputs of one run, one output", ["x.txt.bak", "x.txt.old"],
         {"x.txt.bak": Text(BOOK), "x.txt.old": Text(LINES)},
         "x.txt.hdb converted.\nerror: output already written in this run: x.txt.hdb\r\n", 1,
         {"x.txt.hdb": Hdb("x.txt.bak", b"x.txt.bak")}),
    # Mends: the short 8.3 name of an output is that output.
    Case("a second text named as the first output's short name", ["long file name.txt", "{short}.TXT"],
         {"long file name.txt": Text(BOOK), "{short}.TXT": Text(LINES)},
         "long file name.hdb converted.\nerror: output already written in this run: {short}.hdb\r\n", 1,
         {"long file name.hdb": Hdb("long file name.txt", b"long file name.txt")}, platforms=("windows",),
         short_name_of="long file name.hdb"),
    Case("all: a text named as another's output's short name", ["all"],
         {"long file name.txt": Text(BOOK), "{short}.TXT": Text(LINES)}, batch=True, platforms=("windows",),
         short_name_of="long file name.hdb"),
    Case("replacing keeps the earlier output's permissions", ["a.txt"],
         {"a.txt": Text(BOOK), "a.hdb": Text(b"private", 0o600)}, "a.hdb converted.\n", 0,
         {"a.hdb": Hdb("a.txt", b"a.txt")}, platforms=("posix",), modes={"a.hdb": 0o600}),
    # Wine keeps no DACL: it makes one up from the mode (the owner's bits and
    # everyone's, read with execute) and a mode from one that is set (the
    # group's bits as the owner's). Kept, without execute.
    Case("replacing keeps the earlier outputs' DACLs, without execute", ["a.txt", "b.txt", "c.txt"],
         {"a.txt": Text(BOOK), "b.txt": Text(LINES), "c.txt": Text(b"c"), "a.hdb": Text(b"old", 0o600),
          "b.hdb": Text(b"old", 0o640), "c.hdb": Text(b"old", 0o644)},
         "a.hdb converted.\nb.hdb converted.\nc.hdb converted.\n", 0,
         {"a.hdb": Hdb("a.txt", b"a.txt"), "b.hdb": Hdb("b.txt", b"b.txt"), "c.hdb": Hdb("c.txt", b"c.txt")},
         platforms=("windows",), modes={"a.hdb": 0o660, "b.hdb": 0o660, "c.hdb": 0o664}),
    # For Wine's user (S-1-5-21-0-0-0-1000) alone, which no new output gets.
    Case("replacing keeps a DACL set on the earlier output", ["a.txt"], {"a.txt": Text(BOOK), "a.hdb": Text(b"old")},
         "a.hdb converted.\n", 0, {"a.hdb": Hdb("a.txt", b"a.txt")}, platforms=("windows",),
         dacl=("a.hdb", "D:P(A;;FA;;;SY)(A;;FRFW;;;S-1-5-21-0-0-0-1000)")),
    Case("the temporary file of a run that is gone is swept", ["a.txt"],
         {"a.txt": Text(BOOK), ".foliant-0123456789ab.tmp": Text(b"left by a killed run"),
          ".foliant-0123456789AB.tmp": Text(b"not one of ours")},
         "a.hdb converted.\n", 0, {"a.hdb": Hdb("a.txt", b"a.txt"), ".foliant-0123456789ab.tmp": ABSENT}),
    Case("a text that shrinks after it was measured", ["short.txt"],
         {"short.txt": Text(TWO_CHUNKS), "short.hdb": Text(b"old")}, "error: file not read: short.txt\r\n", 1,
         fault=Fault(READ_CALLS, "retval=0", on="short.txt", nth=2)),
    # A name with a control byte is shown quoted, with C escapes, so that it
    # can neither forge a line nor drive the terminal; the header keeps its
    # bytes. Windows allows no such byte in a name.
    Case("a newline in a name cannot forge a line", [FORGED], {FORGED: Text(BOOK)},
         '"b\\nfake.hdb converted.\\nc.hdb" converted.\n', 0,
         {"b\nfake.hdb converted.\nc.hdb": Hdb(FORGED, FORGED.encode())}, platforms=("posix",)),
    Case("an escape sequence in a name is shown escaped", ["\x1b[2Jclear.txt"], {"\x1b[2Jclear.txt": Text(b"e")},
         '"\\033[2Jclear.hdb" converted.\n', 0, {"\x1b[2Jclear.hdb": Hdb("\x1b[2Jclear.txt", b"\x1b[2Jclear.txt")},
         platforms=("posix",)),
    Case("a quote and a control byte in a name", ['say "hi"\a.txt'], {'say "hi"\a.txt': Text(b"q")},
         '"say \\"hi\\"\\a.hdb" converted.\n', 0, {'say "hi"\a.hdb': Hdb('say "hi"\a.txt', b'say "hi"\a.txt')},
         platforms=("posix",)),
    Case("a missing name with control bytes", ["gone\x1b]0;x\x07\\.txt"], {},
         'error: file not found: "gone\\033]0;x\\a\\\\.txt"\r\n', 1, platforms=("posix",)),
    Case("all with control bytes in names", ["all"], CONTROL_FOLDER, batch=True, platforms=("posix",)),
    Case("all stops at a folder whose name holds a control byte", ["all"],
         {**CONTROL_FOLDER, "old\x7f\t.txt": Folder()}, batch=True, platforms=("posix",)),
    # Mends: what a replacement keeps, and what the sweep leaves.
    Case("replacing keeps no setuid or setgid bit", ["x.txt"],
         {"x.txt": Text(BOOK), "x.hdb": Text(b"old", 0o6755)}, "x.hdb converted.\n", 0,
         {"x.hdb": Hdb("x.txt", b"x.txt")}, platforms=("posix",), owners={"x.hdb": (NOBODY, NOBODY)},
         modes={"x.hdb": 0o755}, owners_after={"x.hdb": (0, NOBODY)}),
    Case("replacing keeps the group", ["g.txt"], {"g.txt": Text(BOOK), "g.hdb": Text(b"old", 0o640)},
         "g.hdb converted.\n", 0, {"g.hdb": Hdb("g.txt", b"g.txt")}, platforms=("posix",),
         owners={"g.hdb": (0, NOBODY)}, modes={"g.hdb": 0o640}, owners_after={"g.hdb": (0, NOBODY)}),
    # Where no lock can be taken, nothing tells a live run's temporary from
    # debris: all of them stay, and the texts still convert.
    *(Case(f"the sweep removes nothing where locks fail with {error}", ["all"],
           {"a.txt": Text(BOOK), "b.txt": Text(LINES), ".foliant-0123456789ab.tmp": Text(b"another run's output")},
           batch=True, platforms=("posix",), fault=Fault(LOCK_CALLS, f"error={error}", every=True))
      for error in ("ENOLCK", "EINVAL")),
    Case("the sweep leaves a FIFO and a folder of a temporary name alone", ["a.txt"],
         {"a.txt": Text(BOOK), ".foliant-0123456789ab.tmp": Fifo(),
          ".foliant-ba9876543210.tmp/inside.txt": Text(b"not debris")},
         "a.hdb converted.\n", 0, {"a.hdb": Hdb("a.txt", b"a.txt")}, platforms=("posix",)),
    # Mends: a text that does not hold what was measured.
    Case("a text that reports size 0 but holds bytes", ["p.txt"], {"p.txt": SymLink("/proc/sys/kernel/ostype")},
         "error: file not read: p.txt\r\n", 1, platforms=("posix",)),
    Case("a text that grows while it is read", ["grow.txt"],
         {"grow.txt": Text(BOOK), "grow.hdb": Text(b"old")}, "error: file not read: grow.txt\r\n", 1,
         platforms=("posix",), grows=Growth("grow.txt", b"appended while read\n")),
    # Stopped as a console program is by Ctrl+C: STATUS_CONTROL_C_EXIT (Wine
    # keeps its low 8 bits), never 0, and the folder as it was.
    Case("Ctrl+C while converting", ["big.txt"], {"big.txt": Text(TWO_CHUNKS), "big.hdb": Text(b"old")},
         "", 0xC000013A & 0xFF, platforms=("windows",), ctrl_c=True),
    Case("a text cut short between its measurement and its read", ["cut.txt"],
         {"cut.txt": Text(TWO_CHUNKS), "cut.hdb": Text(b"old")}, "error: file not read: cut.txt\r\n", 1,
         platforms=("posix",), shrinks=Shrinking("cut.txt", 100_000)),
    # Windows takes a trailing dot or space off a name it is given; a name
    # that "all" listed is that entry, whatever it ends in.
    Case("all with a trailing dot", ["all"], {"e.txt": Text(BOOK), "e.txt.": Text(LINES)}, batch=True,
         platforms=("windows",)),
    Case("all with a trailing space", ["all"], {"f.txt": Text(BOOK), "f.txt ": Text(LINES)}, batch=True,
         platforms=("windows",)),
    # "all": every entry whose name contains .txt or .TXT, in listing order.
    Case("all in a mixed folder", ["all"], MIXED_FOLDER, batch=True),
    Case("all a second time changes nothing", ["all"], MIXED_FOLDER, batch=True, runs=2),
    Case("all ignores further arguments", ["all", "a.txt"], MIXED_FOLDER, batch=True),
    # E:\ of a USB stick: the folder's name ends in a separator already.
    Case("all at the root of a drive", ["all"], MIXED_FOLDER, batch=True, platforms=("windows",), drive_root=True),
    Case("all stops at a folder named .txt", ["all"], {**MIXED_FOLDER, "old.txt": Folder()}, batch=True),
    Case("all stops at an unreadable text", ["all"], {**MIXED_FOLDER, "secret.txt": Text(BOOK, 0)}, batch=True,
         unprivileged=("posix", "windows")),
    Case("all over two texts with one output name", ["all"], {"k.txt.bak": Text(BOOK), "k.txt.old": Text(LINES)},
         batch=True),
    Case("all with nothing to convert", ["all"], {"readme.md": Text(b"r"), "Notes.Txt": Text(b"n")}, batch=True),
    Case("all in an empty folder", ["all"], {}, batch=True),
    # No argument: the file is asked for on the terminal (no display here),
    # converted beside itself, and handed to the opener.
    Case("interactive: a text in another folder", [], {"sub/notes.txt": Text(BOOK)},
         "notes.hdb converted.\n", 0, {"sub/notes.hdb": Hdb("sub/notes.txt", b"notes.txt")},
         platforms=("posix",), stdin=b"sub/notes.txt\n", opened=("{scratch}/sub/notes.hdb",)),
    Case("interactive: any name, typed with CR LF", [], {"notes.doc": Text(b"doc")},
         "notes.hdb converted.\n", 0, {"notes.hdb": Hdb("notes.doc", b"notes.doc")},
         platforms=("posix",), stdin=b"notes.doc\r\n", opened=("{scratch}/notes.hdb",)),
    Case("interactive: a name starting with a dash", [], {"-n.txt": Text(b"n")},
         "-n.hdb converted.\n", 0, {"-n.hdb": Hdb("-n.txt", b"-n.txt")},
         platforms=("posix",), stdin=b"-n.txt\n", opened=("{scratch}/-n.hdb",)),
    Case("interactive: the opener is not waited for", [], {"a.txt": Text(b"a")},
         "a.hdb converted.\n", 0, {"a.hdb": Hdb("a.txt", b"a.txt")},
         platforms=("posix",), stdin=b"a.txt\n", opened=("{scratch}/a.hdb",), opener_sleeps=True),
    Case("interactive: cancel by an empty line", [], {"a.txt": Text(b"a")}, "", 1,
         platforms=("posix",), stdin=b"\n"),
    Case("interactive: cancel by the end of input", [], {"a.txt": Text(b"a")}, "", 1,
         platforms=("posix",), stdin=b""),
    Case("interactive: a missing file", [], {}, "error: file not found: {scratch}/gone.txt\r\n", 1,
         platforms=("posix",), stdin=b"gone.txt\n"),
    # With a display: the file choosers, stand-ins that record their
    # arguments. Both open in the current folder with the text filter first
    # (the one selected); the terminal is asked only when neither can run.
    Case("chooser: zenity in the current folder, text filter selected", [], {"sub/notes.txt": Text(BOOK)},
         "notes.hdb converted.\n", 0, {"sub/notes.hdb": Hdb("sub/notes.txt", b"notes.txt")},
         platforms=("posix",), stdin=b"other.txt\n", unread=b"other.txt\n", opened=("{scratch}/sub/notes.hdb",),
         choosers={"zenity": Chooser(0, "{scratch}/sub/notes.txt\n", ZENITY_ARGS),
                   "kdialog": Chooser(0, "{scratch}/sub/notes.txt\n")}),
    Case("chooser: a cancel in zenity asks nothing more", [], {"a.txt": Text(b"a")}, "", 1,
         platforms=("posix",), stdin=b"a.txt\n", unread=b"a.txt\n",
         choosers={"zenity": Chooser(1, "", ZENITY_ARGS), "kdialog": Chooser(0, "{scratch}/a.txt\n")}),
    Case("chooser: kdialog where zenity is missing", [], {"notes.txt": Text(BOOK)},
         "notes.hdb converted.\n", 0, {"notes.hdb": Hdb("notes.txt", b"notes.txt")},
         platforms=("posix",), stdin=b"other.txt\n", unread=b"other.txt\n", opened=("{scratch}/notes.hdb",),
         choosers={"kdialog": Chooser(0, "{scratch}/notes.txt\n", KDIALOG_ARGS)}),
    Case("chooser: kdialog where zenity cannot open its window", [], {"notes.txt": Text(BOOK)},
         "notes.hdb converted.\n", 0, {"notes.hdb": Hdb("notes.txt", b"notes.txt")},
         platforms=("posix",), stdin=b"other.txt\n", unread=b"other.txt\n", opened=("{scratch}/notes.hdb",),
         choosers={"zenity": Chooser(255, "", ZENITY_ARGS),
                   "kdialog": Chooser(0, "{scratch}/notes.txt\n", KDIALOG_ARGS)}),
    Case("chooser: a cancel in kdialog asks nothing more", [], {"a.txt": Text(b"a")}, "", 1,
         platforms=("posix",), stdin=b"a.txt\n", unread=b"a.txt\n",
         choosers={"kdialog": Chooser(1, "", KDIALOG_ARGS)}),
    Case("chooser: kdialog that cannot be started, then the terminal", [], {"a.txt": Text(b"a")},
         "a.hdb converted.\n", 0, {"a.hdb": Hdb("a.txt", b"a.txt")},
         platforms=("posix",), stdin=b"a.txt\n", unread=b"", opened=("{scratch}/a.hdb",),
         choosers={"kdialog": Chooser(0, "{scratch}/other.txt\n", runnable=False)}),
    # zenity ends as a cancel does when it cannot open the display, and only
    # says so on standard error.
    Case("chooser: zenity that cannot open the display, then the terminal", [], {"a.txt": Text(b"a")},
         "a.hdb converted.\n", 0, {"a.hdb": Hdb("a.txt", b"a.txt")},
         platforms=("posix",), stdin=b"a.txt\n", unread=b"", opened=("{scratch}/a.hdb",),
         choosers={"zenity": Chooser(1, "", ZENITY_ARGS, says="cannot open display: :stand-in\n")}),
    Case("chooser: none can be shown and nothing can answer", [], {"a.txt": Text(b"a")},
         "error: no file chooser could be shown\r\n", 1, platforms=("posix",), stdin=b"", null_input=True,
         choosers={"zenity": Chooser(1, "", ZENITY_ARGS, says="cannot open display: :stand-in\n")}),
    Case("chooser: none installed, the terminal asks", [], {"a.txt": Text(b"a")},
         "a.hdb converted.\n", 0, {"a.hdb": Hdb("a.txt", b"a.txt")},
         platforms=("posix",), stdin=b"a.txt\n", unread=b"", opened=("{scratch}/a.hdb",), choosers={}),
    # Wine cannot start a process in a folder it may not read (it starts it
    # in C:\ instead), so this one is POSIX only.
    Case("all in a folder that cannot be listed", ["all"], {".": Folder(0o311), "a.txt": Text(b"a")},
         "error: cannot list the current directory\r\n", 1, platforms=("posix",), unprivileged=("posix",)),
    # A file handle kept per conversion runs out long before the end.
    Case("all over 2,000 texts", ["all"], {f"t{i:04}.txt": Text(text(i % 3000, i)) for i in range(2000)},
         batch=True, open_files=64),
    # The listing takes several calls for this many entries; the second fails.
    Case("all when the listing fails partway", ["all"], {f"t{i:04}.txt": Text(b"t") for i in range(1500)},
         "error: cannot list the current directory\r\n", 1, platforms=("posix",),
         fault=Fault(LIST_CALLS, "error=EIO", on=".", nth=2)),
    Case("a text that just fits the disk", ["big.txt"], {"big.txt": Text(text(300_000))},
         "big.hdb converted.\n", 0, {"big.hdb": Hdb("big.txt", b"big.txt")}, disk_space=400_000),
    # Durable before named: a failed flush costs the outputs it covers, and
    # only those; a failed folder sync is reported after the lines.
    Case("the flush before naming fails", ["a.txt"], {"a.txt": Text(BOOK), "a.hdb": Text(b"old")},
         "error: file not written: a.hdb\r\n", 1, platforms=("posix",), fault=Fault(FLUSH_CALLS, "error=EIO")),
    # Batches of 16: the second one's flush fails.
    Case("all when the second batch's flush fails", ["all"],
         {f"t{i:02}.txt": Text(text(100 + i, i)) for i in range(20)},
         batch=True, platforms=("posix",), open_files=64, fault=Fault(WHOLE_FLUSH_CALLS, "error=EIO", nth=2),
         batch_stop=(16, "error: file not written: {output}\r\n")),
    Case("all when the 40th text cannot be read", ["all"],
         {f"t{i:02}.txt": Text(text(100 + i, i)) for i in range(45)},
         batch=True, platforms=("posix",), fault=Fault(READ_CALLS, "error=EIO", on=STOPPING_TEXT),
         batch_stop=(39, "error: file not read: {input}\r\n")),
    Case("the folder's sync fails", ["a.txt"], {"a.txt": Text(BOOK)},
         "a.hdb converted.\nerror: folder not synced\r\n", 1, {"a.hdb": Hdb("a.txt", b"a.txt")},
         platforms=("posix",), fault=Fault(FOLDER_SYNC_CALLS, "error=EIO", on=".")),
    # A drop box (others may add files but not list them): its names are
    # made durable through an output, by a sync of the file system.
    Case("a drop box", ["sub/a.txt"], {".": Folder(0o1733), "sub/a.txt": Text(BOOK)}, "a.hdb converted.\n", 0,
         {"a.hdb": Hdb("sub/a.txt", b"a.txt")}, platforms=("posix",), unprivileged=("posix",), owned_by_root=True),
    Case("a drop box whose sync fails", ["sub/a.txt"], {".": Folder(0o1733), "sub/a.txt": Text(BOOK)},
         "a.hdb converted.\nerror: folder not synced\r\n", 1, {"a.hdb": Hdb("sub/a.txt", b"a.txt")},
         platforms=("posix",), unprivileged=("posix",), owned_by_root=True,
         fault=Fault(WHOLE_FLUSH_CALLS, "error=EIO")),
    # The output kept an earlier one's write-only mode: synced all the same.
    Case("a drop box with a write-only output whose sync fails", ["sub/a.txt"],
         {".": Folder(0o1733), "sub/a.txt": Text(BOOK), "a.hdb": Text(b"old", 0o200)},
         "a.hdb converted.\nerror: folder not synced\r\n", 1, {"a.hdb": Hdb("sub/a.txt", b"a.txt")},
         platforms=("posix",), unprivileged=("posix",), owned_by_root=True, owners={"a.hdb": (NOBODY, NOBODY)},
         modes={"a.hdb": 0o200}, fault=Fault(WHOLE_FLUSH_CALLS, "error=EIO")),
]

# Runs a command with the scratch folder's files on a small tmpfs of its own,
# in a private mount namespace, and copies the outcome back. /tmp gets a
# tmpfs too, so that Wine starts a server of its own that sees the small one.
ON_SMALL_DISK = r"""
set -e
scratch=$1 size=$2; shift 2
mount -t tmpfs -o size=64m tmpfs /tmp
mount -t tmpfs -o size=$size tmpfs "$scratch.disk"
cp -a "$scratch/." "$scratch.disk/"
cd "$scratch.disk"
set +e; "$@"; status=$?; set -e
find "$scratch" -mindepth 1 -delete
cp -a "$scratch.disk/." "$scratch/"
exit $status
"""


def build(scratch, files):
    for name, entry in files.items():
        path = os.path.join(scratch, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        if isinstance(entry, Text):
            with open(path, "wb") as f:
                f.write(entry.data)
        elif isinstance(entry, Sparse):
            with open(path, "wb") as f:
                f.truncate(entry.size)
        elif isinstance(entry, HardLink):
            os.link(os.path.join(scratch, entry.target), path)
        elif isinstance(entry, SymLink):
            os.symlink(entry.target, path)
        elif isinstance(entry, Folder):
            os.makedirs(path, exist_ok=True)
        elif isinstance(entry, Fifo):
            os.mkfifo(path)
        elif isinstance(entry, Socket):
            with socket.socket(socket.AF_UNIX) as bound:
                bound.bind(path)


def set_modes(scratch, files):
    # Modes last, deepest first, so a read-only folder is still filled.
    for name, entry in sorted(files.items(), key=lambda item: -len(item[0])):
        if isinstance(entry, (Text, Folder)):
            os.chmod(os.path.join(scratch, name), entry.mode)


def snapshot(scratch):
    """Every entry below scratch: name -> bytes for a file, None for a folder,
    and for anything else its kind (a link with its target)."""
    found = {}
    for root, dirs, names in os.walk(scratch):
        for n in dirs + names:
            path = os.path.join(root, n)
            mode = os.lstat(path).st_mode
            if stat.S_ISLNK(mode):
                entry = ("symbolic link to", os.readlink(path))
            elif stat.S_ISDIR(mode):
                entry = None
            elif stat.S_ISREG(mode):
                with open(path, "rb") as f:
                    entry = f.read()
            else:
                entry = ("FIFO" if stat.S_ISFIFO(mode) else "socket" if stat.S_ISSOCK(mode) else "other",)
            found[os.path.relpath(path, scratch)] = entry
    return found


def expected_stdout(stdout, platform, code_page):
    if platform == "posix":
        return stdout.encode("utf-8")
    # Redirected, Windows prints names in the ANSI code page, '?' for what it
    # cannot hold, and its text stream writes every line feed as CR LF.
    return stdout.encode(f"cp{code_page}", errors="replace").replace(b"\n", b"\r\n")


def expected_header_name(name, platform, code_page):
    """The base name as the header stores it: at most 31 bytes, whole characters."""
    encoding = "utf-8" if platform == "posix" else f"cp{code_page}"
    stored = b""
    for character in name:
        encoded = character.encode(encoding, errors="replace")
        if len(stored) + len(encoded) > 31:
            break
        stored += encoded
    return stored


# Wine takes its ANSI code page from the locale; it reads names from Unix
# in the locale's character set, which must be UTF-8.
LOCALES = {1252: "C.UTF-8", 932: "ja_JP.UTF-8"}
LOCALE_FOLDER = ""  # set by make_locales(): locales that the system may lack


def make_locales(folder):
    global LOCALE_FOLDER
    LOCALE_FOLDER = folder
    os.mkdir(folder)
    for code_page, locale in LOCALES.items():
        if locale != "C.UTF-8":
            language, charset = locale.split(".")
            harness.run(["localedef", "-i", language, "-f", charset, os.path.join(folder, locale)], timeout=120,
                        check=True)
    os.chmod(folder, 0o755)


def windows_environment(base, code_page):
    environment = dict(base)
    for name in [n for n in environment if n.startswith("LC_")]:
        del environment[name]
    environment.update(LANG=LOCALES[code_page], LC_ALL=LOCALES[code_page])
    if LOCALES[code_page] != "C.UTF-8":
        environment["LOCPATH"] = LOCALE_FOLDER
    return environment


NOBODY_WINE_HOME = "/var/tmp/foliant-wine-nobody"


def nobody_wine_environment(emulator):
    """Wine runs only as the owner of its prefix: an unprivileged user gets
    a prefix of its own."""
    os.makedirs(NOBODY_WINE_HOME, exist_ok=True)
    os.chown(NOBODY_WINE_HOME, NOBODY, NOBODY)
    return harness.wine_environment(emulator, os.path.join(NOBODY_WINE_HOME, "prefix"), NOBODY,
                                    dict(os.environ, HOME=NOBODY_WINE_HOME))


def run_tool(command, case, scratch, platform):
    kwargs = {}
    if platform in case.unprivileged and os.geteuid() == 0:
        # Root ignores permission bits: these cases run as nobody.
        for root, dirs, names in os.walk(scratch) if not case.owned_by_root else ():
            for n in dirs + names:
                os.lchown(os.path.join(root, n), NOBODY, NOBODY)
        if not case.owned_by_root:
            os.chown(scratch, NOBODY, NOBODY)
        kwargs.update(user=NOBODY, group=NOBODY, extra_groups=[])
        if platform == "windows":
            kwargs["env"] = nobody_wine_environment(command[:-1])
    if case.fault or case.grows or case.shrinks or case.ctrl_c:
        kwargs["env"] = harness.traceable(kwargs.get("env"))
    if case.fault:
        command = fault_injection(case.fault, command, case, scratch, kwargs["env"]) + command
    if case.grows:
        # Held for seconds at the first read of the text, while it grows.
        command = held_by_strace(case.grows.name, scratch, "read", "delay_enter", 1) + command
    if case.shrinks:
        # Held for seconds as the second opening returns, while it shrinks.
        command = held_by_strace(case.shrinks.name, scratch, OPEN_CALLS, "delay_exit", 2) + command
    if case.ctrl_c:
        # Held for seconds at each read of the text: Wine handles a signal as
        # the call it came in returns, and the run must not finish meanwhile.
        command = held_by_strace(case.args[0], scratch, READ_CALLS, "delay_enter", "1+") + command
    if case.file_size_limit:
        command = ["prlimit", f"--fsize={case.file_size_limit}", "--"] + command
    if case.open_files and platform == "posix":
        command = ["prlimit", f"--nofile={case.open_files}", "--"] + command
    if case.data_limit:
        command = ["prlimit", f"--data={case.data_limit}", "--"] + command
    if case.disk_space:
        used = sum(len(data) for data in snapshot(scratch).values() if isinstance(data, bytes))
        os.mkdir(scratch + ".disk")
        command = ["unshare", "-Urm", "sh", "-c", ON_SMALL_DISK, "sh", scratch,
                   str(used + case.disk_space)] + command
    if platform == "windows":
        kwargs["env"] = windows_environment(kwargs.get("env", os.environ), case.code_page)
    if case.stdin is not None:
        environment = kwargs.setdefault("env", dict(os.environ))
        for name in ("DISPLAY", "WAYLAND_DISPLAY"):
            environment.pop(name, None)
        environment.update(PATH=stand_in_bin(scratch) + os.pathsep + environment.get("PATH", ""),
                           FOLIANT_OPENER_LOG=scratch + ".opened",
                           FOLIANT_OPENER_SLEEP="15" if case.opener_sleeps else "0")
        if case.choosers is not None:
            environment.update(DISPLAY=":stand-in", PATH=install_choosers(case, scratch))
    argv = command + arguments(case, scratch, platform)
    if case.console and case.status != 0:
        # A failure in a console of its own waits for a key (own_terminal_cases.py
        # covers that); in cmd's console it ends at once.
        tool = harness.windows_path(command[-1])
        # Separate words: Wine quotes each as a Windows command line needs.
        argv = command[:-1] + ["cmd", "/c", tool] + arguments(case, scratch, platform)
    if case.console:
        argv = ["script", "--quiet", "--return", "--command", shlex.join(argv), "/dev/null"]
    # A pipe that the tool may leave data in, so that what it read shows.
    read_end, write_end = os.pipe()
    with os.fdopen(write_end, "wb") as pipe:
        pipe.write(case.stdin or b"")
    with os.fdopen(read_end, "rb") as pipe:
        stdin = subprocess.DEVNULL if case.null_input else pipe
        if case.grows:
            path = os.path.join(scratch, case.grows.name)
            result = run_held(argv, scratch, stdin, kwargs, lambda pid: held_at_first_read(pid, path),
                              lambda _: append(path, case.grows.data))
        elif case.shrinks:
            path = os.path.join(scratch, case.shrinks.name)
            result = run_held(argv, scratch, stdin, kwargs, lambda pid: held_having_opened(pid, path),
                              lambda _: os.truncate(path, case.shrinks.size))
        elif case.ctrl_c:
            path = os.path.join(scratch, case.args[0])
            result = run_held(argv, scratch, stdin, kwargs, lambda pid: held_at_first_read(pid, path),
                              lambda pid: os.kill(pid, signal.SIGINT), ends=True)
        else:
            with held_open(case, scratch, command[:-1], kwargs.get("env")):
                result = subprocess.run(argv, cwd=scratch, stdin=stdin, capture_output=True, timeout=300, **kwargs)
        result.unread = pipe.read()
    return result


HOLDER = ""  # tests/hold_open_win.cpp, built with the Windows tests


def helper(emulator, environment, scratch, *words):
    """A run of the helper program in the case's folder."""
    return harness.run(emulator + [HOLDER, *words], cwd=scratch, env=environment, timeout=120, check=True)


@contextlib.contextmanager
def held_open(case, scratch, emulator, environment):
    """While it lasts, the helper holds the case's `held_open` file open for
    writing; it lets go when its standard input ends."""
    if not case.held_open:
        yield
        return
    with subprocess.Popen(emulator + [HOLDER, "hold", case.held_open], cwd=scratch, env=environment,
                          stdin=subprocess.PIPE, stdout=subprocess.PIPE) as holder:
        try:
            if holder.stdout.readline().rstrip() != b"holding":
                raise RuntimeError(f"the helper could not hold {case.held_open}")
            yield
        finally:
            holder.stdin.close()
            holder.wait(timeout=120)


@contextlib.contextmanager
def drive_root(case, scratch, environment):
    """A free drive letter of Wine's prefix mapped to the scratch folder,
    which Wine then starts the run in as X:\\; removed afterwards."""
    if not case.drive_root:
        yield
        return
    prefix = environment.get("WINEPREFIX") or os.path.join(environment.get("HOME", "/"), ".wine")
    for letter in "mnopqrstuvwxy":
        link = os.path.join(prefix, "dosdevices", letter + ":")
        try:
            os.symlink(scratch, link)  # fails where the letter is taken, by another case too
        except FileExistsError:
            continue
        try:
            yield
        finally:
            os.remove(link)
        return
    raise RuntimeError("no drive letter free in " + prefix)


def arguments(case, scratch, platform):
    """The case's arguments with {scratch} made the case folder's full path,
    as the platform writes it (Z:\\... under Wine)."""
    folder = harness.windows_path(scratch) if platform == "windows" else scratch
    return [argument.replace("{scratch}", folder) for argument in case.args]


HOLD_US = 5_000_000


def held_by_strace(name, scratch, calls, delay, nth):
    """The strace command that holds the tool for HOLD_US at the nth of
    `calls` on the text `name` (`delay`: delay_enter or delay_exit)."""
    return ["strace", "-qq", "-o", "/dev/null", "-P", name, "-P", os.path.join(scratch, name), "-e",
            f"trace={calls}", "-e", f"inject={calls}:{delay}={HOLD_US}:when={nth}"]


def append(path, data):
    with open(path, "ab") as f:
        f.write(data)


def held_having_opened(pid, path):
    """The process is stopped in an opening call, with `path` open at
    offset 0: none of it read yet."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            state = f.read().rpartition(")")[2].split()[0]
        with open(f"/proc/{pid}/syscall") as f:
            call = f.read().split()[0]
        descriptors = [d for d in os.listdir(f"/proc/{pid}/fd") if os.readlink(f"/proc/{pid}/fd/{d}") == path]
        offsets = []
        for descriptor in descriptors:
            with open(f"/proc/{pid}/fdinfo/{descriptor}") as f:
                offsets.append(f.read().split()[1])
        # open, openat and openat2 on x86-64
        return state == "t" and call in ("2", "257", "437") and offsets == ["0"]
    except (OSError, ValueError, IndexError):
        return False


def held_at_first_read(pid, path):
    """The process is stopped on entering a read of `path` at offset 0: it
    has read none of it yet."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            state = f.read().rpartition(")")[2].split()[0]
        with open(f"/proc/{pid}/syscall") as f:
            call = f.read().split()
        descriptor = int(call[1], 16)
        with open(f"/proc/{pid}/fdinfo/{descriptor}") as f:
            offset = f.read().split()[1]
        return state == "t" and call[0] == "0" and os.readlink(f"/proc/{pid}/fd/{descriptor}") == path and offset == "0"
    except (OSError, ValueError, IndexError):
        return False


def run_held(argv, scratch, stdin, kwargs, held, change, ends=False):
    """Runs the tool, which strace holds for seconds at one call, and makes
    `change(pid)` once `held(pid)` sees it held there: twice, half a second
    apart, so that no passing stop counts. The same hold seen after the change
    shows that it came before the tool went on; a change that `ends` the run
    cannot be seen so, and a run it does not end within a minute is killed."""
    with subprocess.Popen(argv, cwd=scratch, stdin=stdin, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          **kwargs) as tracer:
        def held_tool():
            try:
                with open(f"/proc/{tracer.pid}/task/{tracer.pid}/children") as f:
                    pid = int(f.read().split()[0])
            except (OSError, IndexError, ValueError):
                return None
            return pid if held(pid) else None
        # Wine starts for seconds under strace before the hold.
        pid = harness.poll(held_tool, 60 if ends else HOLD_US / 2e6)
        time.sleep(0.5)
        caught = pid and held(pid)
        if caught:
            change(pid)
        caught = caught and (ends or held(pid))
        try:
            stdout, stderr = tracer.communicate(timeout=60 if ends else 300)
        except subprocess.TimeoutExpired:
            if pid:
                os.kill(pid, signal.SIGKILL)
            tracer.kill()
            stdout, stderr = tracer.communicate(timeout=60)
            stderr += b"still running a minute after the change, killed\n"
    if not caught:
        stderr += b"the run was not seen held where the text was to change\n"
    return subprocess.CompletedProcess(argv, tracer.returncode, stdout, stderr)


def install_choosers(case, scratch):
    """A folder with the opener and the case's stand-in choosers, and
    nothing else, so that a chooser the case does not name is missing."""
    folder = scratch + ".bin"
    os.mkdir(folder)
    shutil.copy(os.path.join(stand_in_bin(scratch), "xdg-open"), folder)
    for name, chooser in case.choosers.items():
        path = os.path.join(folder, name)
        with open(path, "w") as f:
            f.write(f"#!/bin/sh\nprintf '%s\\000' \"$@\" > {shlex.quote(scratch + '.' + name)}\n"
                    f"printf '%s' {shlex.quote(chooser.prints.format(scratch=scratch))}\n"
                    f"printf '%s' {shlex.quote(chooser.says)} >&2\nexit {chooser.status}\n")
        os.chmod(path, 0o755 if chooser.runnable else 0o644)
    return folder


def console_text(data):
    """What a terminal shows: Wine's console moves the cursor over blanks and
    hides it while writing; the terminal adds a CR to every LF."""
    data = re.sub(rb"\x1b\[(\d*)C", lambda m: b" " * int(m.group(1) or 1), data)
    data = re.sub(rb"\x1b\[[0-9;?]*[A-Za-z]|\x1b\][^\x07]*\x07", b"", data)
    return data.replace(b"\r", b"")


def fault_injection(fault, command, case, scratch, environment):
    """The strace command that makes the fault's call fail."""
    strace = ["strace", "-f", "-qq", "-o", "/dev/null"]
    calls, nth = fault.calls, fault.nth
    if fault.on == NEW_FILE:
        calls, before = calls_before_new_file(fault, command, case, scratch, environment)
        nth += before
    elif fault.on:
        # Only calls on this file, by its name or its descriptor, are traced,
        # and so counted and failed.
        strace += ["-P", fault.on, "-P", os.path.normpath(os.path.join(scratch, fault.on))]
    # strace counts each system call apart.
    return strace + ["-e", f"trace={calls}", "-e", f"inject={calls}:{fault.result}:when={nth}{'+' * fault.every}"]


def calls_before_new_file(fault, command, case, scratch, environment):
    """The first of the fault's calls that the tool makes on a file it
    creates, and how many calls of that name come before it: found in a trial
    run in a copy of the folder, with each descriptor's path shown."""
    trial = scratch + ".trial"
    shutil.copytree(scratch, trial, symlinks=True)
    try:
        ran, calls = harness.traced_run(command + case.args, trial, environment, fault.calls, options=("-qq", "-y"))
    finally:
        shutil.rmtree(trial, ignore_errors=True)
    seen = {}
    for line in calls:
        call = re.match(r"(?:\d+ +)?(\w+)\((.*)", line)  # a process id first when there are several
        if not call or call[1] not in fault.calls.split(","):
            continue
        path = call[2].partition("<")[2].partition(">")[0].removesuffix(" (deleted)")
        if os.path.dirname(path) == trial and os.path.basename(path) not in case.files:
            return call[1], seen.get(call[1], 0)
        seen[call[1]] = seen.get(call[1], 0) + 1
    raise TrialFailed(f"no {fault.calls} call on a new file in the trial run (status {ran.returncode}, "
                      f"stdout {ran.stdout[-200:]!r}, stderr {ran.stderr[-200:]!r}, traced {calls[-5:]})")


class TrialFailed(Exception):
    pass


def stand_in_bin(scratch):
    """The folder of the stand-in opener, beside the case folders."""
    return os.path.join(os.path.dirname(scratch), "bin")


def opened_paths(case, scratch):
    """What the stand-in opener recorded. It runs detached, so it may still
    be writing: wait until it has recorded as many paths as expected."""
    def recorded():
        if not os.path.exists(scratch + ".opened"):
            return ()
        with open(scratch + ".opened") as f:
            return tuple(f.read().splitlines())
    harness.poll(lambda: case.opened and len(recorded()) >= len(case.opened), 10 if case.opened else 0.3)
    return recorded()


def check(case, scratch, before, result, platform):
    problems = []
    if case.stdin is not None:
        want_opened = tuple(path.format(scratch=scratch) for path in case.opened)
        got_opened = opened_paths(case, scratch)
        if got_opened != want_opened:
            problems.append(f"opener given {got_opened}, expected {want_opened}")
    for name, chooser in (case.choosers or {}).items():
        log = scratch + "." + name
        if chooser.args is None:
            if os.path.exists(log):
                problems.append(f"{name} was started")
            continue
        want_args = [argument.format(scratch=scratch) for argument in chooser.args]
        got_args = open(log, "rb").read().decode().split("\0")[:-1] if os.path.exists(log) else None
        if got_args != want_args:
            problems.append(f"{name} given {got_args}, expected {want_args}")
    if case.unread is not None and result.unread != case.unread:
        problems.append(f"left {result.unread!r} unread on standard input, expected {case.unread!r}")
    want = expected_stdout(case.stdout.format(scratch=scratch), platform, case.code_page)
    got = result.stdout
    if case.console:
        # The console shows the names as typed, whatever the code page.
        want, got = case.stdout.encode().replace(b"\r", b""), console_text(got)
    if got != want:
        problems.append(f"stdout {got!r}, expected {want!r}")
    stderr = result.stderr
    if platform == "windows":
        # Wine's own diagnostics: the processes Wine starts for a session
        # (services, explorer) inherit the standard error of the program that
        # started it. A fault of foliant.exe itself also shows as its status.
        stderr = b"".join(line for line in stderr.splitlines(True) if not line.startswith(b"wine: "))
    if case.fault or case.grows or case.shrinks or case.ctrl_c:
        # strace's notes that it took a relative name as the absolute one,
        # and that a signal came while it delayed a call.
        stderr = b"".join(line for line in stderr.splitlines(True)
                          if not line.startswith((b"strace: Requested path", b"strace: dispatch_event: pid")))
    if stderr:
        problems.append(f"stderr {stderr[:300]!r}")
    if result.returncode != case.status:
        problems.append(f"exit status {result.returncode}, expected {case.status}")
    after = snapshot(scratch)
    for name in sorted(set(before) | set(after) | set(case.after)):
        expect = case.after.get(name)
        got = after.get(name, ABSENT)
        if isinstance(expect, Hdb):
            if not isinstance(got, bytes):
                problems.append(f"{name}: no output file, {'nothing' if got == ABSENT else got or 'a folder'} instead")
                continue
            try:
                header_name, text_back = read_hdb(got)
            except HdbError as error:
                problems.append(f"{name}: {error}")
                continue
            if text_back != before[expect.source]:
                problems.append(f"{name}: text blocks differ from {expect.source}")
            want_header = expect.header_name
            if isinstance(want_header, dict):
                want_header = want_header[platform]
            if header_name != want_header:
                problems.append(f"{name}: header name {header_name!r}, expected {want_header!r}")
        elif expect == ABSENT:
            if got != ABSENT:
                problems.append(f"{name}: should not exist")
        elif got != before.get(name, ABSENT):
            problems.append(f"{name}: {'appeared' if name not in before else 'changed'}")
    for name, mode in case.modes.items():
        got_mode = stat.S_IMODE(os.lstat(os.path.join(scratch, name)).st_mode)
        if got_mode != mode:
            problems.append(f"{name}: mode {got_mode:o}, expected {mode:o}")
    for name, owner in case.owners_after.items():
        st = os.lstat(os.path.join(scratch, name))
        if (st.st_uid, st.st_gid) != owner:
            problems.append(f"{name}: owner and group {st.st_uid}:{st.st_gid}, expected {owner[0]}:{owner[1]}")
    return problems


def listing_order(scratch, platform, emulator):
    """The folder's entries in the order the platform's listing gives them."""
    if platform == "posix":
        return os.listdir(scratch)  # readdir's order, as the tool's
    # cmd /u lists in UTF-16, which holds every name.
    listed = harness.run(emulator + ["cmd", "/u", "/c", "dir /b /a"], cwd=scratch,
                         env=windows_environment(os.environ, 1252), timeout=120, check=True)
    return listed.stdout.decode("utf-16-le").split("\r\n")


def output_name(name, platform):
    """The fourth-last character: of the Unicode name on Windows, a byte on POSIX."""
    if platform == "windows":
        return (name[:-4] if len(name) >= 4 and name[-4] == "." else name) + ".hdb"
    raw = os.fsencode(name)
    return os.fsdecode((raw[:-4] if len(raw) >= 4 and raw[-4:-3] == b"." else raw) + b".hdb")


C_ESCAPES = {"\a": "\\a", "\b": "\\b", "\t": "\\t", "\n": "\\n", "\v": "\\v", "\f": "\\f", "\r": "\\r",
             '"': '\\"', "\\": "\\\\"}


def shown(name):
    """A name as the messages show it: as it is, or, when it holds a control
    character, quoted with C escapes (octal for those without a letter)."""
    if not any(c < " " or c == "\x7f" for c in name):
        return name
    return '"' + "".join(C_ESCAPES.get(c) or (f"\\{ord(c):03o}" if c < " " or c == "\x7f" else c) for c in name) + '"'


def expect_batch(case, order, platform):
    """What "all" must do with the entries in this order."""
    stdout, after = "", {}
    for name in order:
        if (".txt" not in name and ".TXT" not in name) or name.lower().endswith(".hdb"):
            continue
        if case.batch_stop and case.batch_stop[0] == len(after):
            fault = case.fault and replace(case.fault, on=name if case.fault.on == STOPPING_TEXT else case.fault.on)
            message = case.batch_stop[1].format(input=name, output=output_name(name, platform))
            return replace(case, stdout=stdout + message, status=1, after=after, fault=fault)
        entry = case.files.get(name)
        if isinstance(entry, Folder) or (isinstance(entry, Text) and entry.mode & 0o444 == 0):
            return replace(case, stdout=stdout + f"error: file not found: {shown(name)}\r\n", status=1, after=after)
        output = output_name(name, platform)
        # A name Windows takes for one already written in this run is that file.
        if any(output == earlier or (platform == "windows" and output.lower() == earlier.lower())
               or case.aliases.get(output) == earlier for earlier in after):
            return replace(case, stdout=stdout + f"error: output already written in this run: {shown(output)}\r\n",
                           status=1, after=after)
        stdout += f"{shown(output)} converted.\n"
        after[output] = Hdb(name, expected_header_name(name, platform, case.code_page))
    return replace(case, stdout=stdout, status=0, after=after)


def with_short_name(case, scratch, emulator):
    """The case with its "{short}" filled in, as Wine names the file."""
    probe = os.path.join(scratch, case.short_name_of)
    open(probe, "wb").close()
    try:
        ran = harness.run(emulator + ["winepath", "-s", harness.windows_path(probe)],
                          env=windows_environment(os.environ, 1252), timeout=120, check=True)
    finally:
        os.remove(probe)
    short = ran.stdout.decode().strip().rpartition("\\")[2].rpartition(".")[0]
    def fill(text):
        return text.replace("{short}", short)
    return replace(case, args=[fill(a) for a in case.args], files={fill(n): f for n, f in case.files.items()},
                   stdout=fill(case.stdout), after={fill(n): v for n, v in case.after.items()},
                   aliases={short + ".hdb": case.short_name_of})


def run_case(command, case, platform, work):
    with harness.scratch("case-", work) as scratch:
        if case.short_name_of:
            case = with_short_name(case, scratch, command[:-1])
        build(scratch, case.files)
        before = snapshot(scratch)
        if case.batch:
            case = expect_batch(case, listing_order(scratch, platform, command[:-1]), platform)
        # Owners first: a change of owner clears the setuid and setgid bits.
        for name, (uid, gid) in case.owners.items():
            os.lchown(os.path.join(scratch, name), uid, gid)
        set_modes(scratch, case.files)
        environment = windows_environment(os.environ, case.code_page) if platform == "windows" else os.environ
        if case.dacl:
            helper(command[:-1], environment, scratch, "set-dacl", *case.dacl)
            dacl = helper(command[:-1], environment, scratch, "dacl", case.dacl[0]).stdout
        started = time.monotonic()
        problems = []
        with drive_root(case, scratch, environment):
            try:
                result = run_tool(command, case, scratch, platform)
            except TrialFailed as error:
                return [str(error)]
            if case.opener_sleeps and time.monotonic() - started > 10:
                problems.append("the tool waited for the opener")
            for _ in range(case.runs - 1):
                first = snapshot(scratch)
                result = run_tool(command, case, scratch, platform)
                if snapshot(scratch) != first:
                    problems.append("a second run changed files")
        os.chmod(scratch, 0o755)
        if case.dacl and (kept := helper(command[:-1], environment, scratch, "dacl", case.dacl[0]).stdout) != dacl:
            problems.append(f"{case.dacl[0]}: DACL {kept.strip()!r}, expected {dacl.strip()!r}")
        if case.grows:
            before[case.grows.name] += case.grows.data
        if case.shrinks:
            before[case.shrinks.name] = before[case.shrinks.name][:case.shrinks.size]
        return problems + check(case, scratch, before, result, platform)


def main():
    parser = harness.parser()
    parser.add_argument("--filter", default="", help="run only cases whose name contains this")
    parser.add_argument("--jobs", type=int, default=4)
    parser.add_argument("--sanitized", action="store_true", help="the tool is built with the sanitizers")
    parser.add_argument("--holder", type=os.path.abspath, help="Windows: tests/hold_open_win.cpp built "
                        "(by default beside the tool, in tests/)")
    options = parser.parse_args()
    global HOLDER
    HOLDER = options.holder or os.path.join(os.path.dirname(options.tool), "tests", "hold_open_win.exe")

    # The sanitizers reserve memory beyond any data limit.
    cases = [c for c in CASES if options.platform in c.platforms and options.filter in c.name
             and not (options.sanitized and c.data_limit)]
    if os.geteuid() != 0:
        for case in [c for c in cases if c.owners]:
            print(f"skipped (needs root to set owners): {case.name}")
        cases = [c for c in cases if not c.owners]
    # With a copy of the tool, which an unprivileged user may not reach where it was built.
    with harness.scratch("foliant-e2e-") as work:
        tool = shutil.copy(options.tool, work)
        harness.stand_in_opener(os.path.join(work, "bin"))
        if options.platform == "windows":
            make_locales(os.path.join(work, "locales"))
        command = options.emulator + [tool]
        # Cases are independent; side by side they hide the emulator's start-up time.
        with concurrent.futures.ThreadPoolExecutor(options.jobs) as pool:
            results = list(pool.map(lambda c: run_case(command, c, options.platform, work), cases))
    report = harness.Report()
    for case, problems in zip(cases, results):
        report.case(f"{case.name} ({shown(shlex.join(case.args))})" if problems else case.name, problems)
    return report.close()


if __name__ == "__main__":
    sys.exit(main())
