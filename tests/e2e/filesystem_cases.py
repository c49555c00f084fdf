#!/usr/bin/env python3
"""The tool on the file systems people keep texts on, each made from an image
file in a scratch folder and mounted there: ext4, xfs, btrfs, tmpfs, NTFS
(ntfs-3g), exFAT and FAT32 (both through FUSE). On each: a new output, a
replaced one, "all", the same file under another case, a kill mid-way and the
sweep by the next run, and a full disk. Then a power cut on ext4 and xfs: the
image is copied as the disk holds it, after an unrelated fsync that commits
the journal or right as the run ends; the copy must hold the new outputs,
whole.

Needs root, loop devices and /dev/fuse; a machine without them is reported
and the test is skipped (exit 77), never passed."""

import contextlib
import os
import re
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from hdb_reader import HdbError, read_hdb, text_problem  # noqa: E402

SKIPPED = 77


class FileSystem:
    """`mount(image or device, folder)`: the command; `block_device`: it
    mounts a loop device, not the image itself."""

    def __init__(self, name, size_mib, make, mount, case_insensitive=False, unnamed_files=True, block_device=False,
                 acls=False, close_reports=False):
        self.name, self.size_mib, self.make, self.mount, self.acls = name, size_mib, make, mount, acls
        self.case_insensitive, self.unnamed_files, self.block_device = case_insensitive, unnamed_files, block_device
        self.close_reports = close_reports  # closing a file may report a write error (FUSE)


def loop_mount(*options):
    return lambda image, folder: ["mount", "-o", ",".join(("loop",) + options), image, folder]


FILE_SYSTEMS = [
    FileSystem("ext4", 32, ["mkfs.ext4", "-q", "-F"], loop_mount(), acls=True),
    FileSystem("xfs", 320, ["mkfs.xfs", "-q", "-f"], loop_mount("nouuid"), acls=True),
    FileSystem("btrfs", 128, ["mkfs.btrfs", "-q", "-f"], loop_mount(), acls=True),
    FileSystem("tmpfs", 16, None, lambda image, folder: ["mount", "-t", "tmpfs", "-o", "size=16m", "tmpfs", folder]),
    FileSystem("ntfs", 32, ["mkntfs", "-q", "-F", "-Q"], lambda image, folder: ["ntfs-3g", image, folder],
               unnamed_files=False, close_reports=True),
    FileSystem("exfat", 32, ["mkfs.exfat"], lambda device, folder: ["mount.exfat-fuse", device, folder],
               case_insensitive=True, unnamed_files=False, block_device=True, close_reports=True),
    FileSystem("fat32", 64, ["mkfs.fat", "-F", "32"], lambda image, folder: ["fusefat", "-o", "rw+", image, folder],
               case_insensitive=True, unnamed_files=False, close_reports=True),
]


# File systems that give a file a second name of their own: vfat an 8.3
# short name ("long file name.hdb" is also LONGFI~1.HDB once LONGFI~1.TXT
# has taken the first), ext4 another spelling in a folder that folds case.
# Each: the kind, what the kernel must offer, the folder's flags, and two
# texts (the second made first) whose outputs are one file.
ALIASING = [
    (FileSystem("vfat", 64, ["mkfs.fat", "-F", "32"], loop_mount(), case_insensitive=True, unnamed_files=False),
     lambda: "vfat" in open("/proc/filesystems").read(), [], "long file name.txt", "LONGFI~1.TXT"),
    (FileSystem("ext4 casefold", 32, ["mkfs.ext4", "-q", "-F", "-O", "casefold"], loop_mount()),
     lambda: os.path.exists("/sys/fs/ext4/features/casefold"), ["+F"], "notes.txt.bak", "NOTES.TXT.old"),
]


def text(size, seed):
    return bytes((seed * 31 + i * 7 + (i >> 10)) % 251 for i in range(size))


def must(command, **kwargs):
    ran = harness.run(command, **kwargs)
    if ran.returncode:
        raise RuntimeError(f"{' '.join(command)}: {ran.stderr.decode(errors='replace').strip()[-500:]}")
    return ran


class Mounted:
    """A file system of `kind` made in `image` and mounted on `folder`;
    unmounted on leaving, whatever happened."""

    def __init__(self, kind, image, folder, fresh=True):
        self.kind, self.image, self.folder, self.fresh = kind, image, folder, fresh
        self.device = None

    def __enter__(self):
        os.makedirs(self.folder, exist_ok=True)
        if self.fresh and self.kind.make:
            with open(self.image, "wb") as f:
                f.truncate(self.kind.size_mib << 20)
            must(self.kind.make + [self.image])
        source = self.image
        if self.kind.block_device:
            self.device = source = must(["losetup", "--find", "--show", self.image]).stdout.decode().strip()
        try:
            must(self.kind.mount(source, self.folder))
        except RuntimeError:
            self.__exit__()
            raise
        return self.folder

    def __exit__(self, *_):
        # A FUSE driver may still be finishing; give it a moment.
        harness.poll(lambda: harness.run(["umount", self.folder]).returncode == 0 or not os.path.ismount(self.folder),
                     10)
        if self.device:
            harness.run(["losetup", "--detach", self.device])


def folder_problems(folder, expected):
    """`expected`: {name: bytes, or None for any content}; the folder must
    hold exactly these, an output the text it names."""
    problems = []
    names = set(os.listdir(folder)) - {"lost+found", "System Volume Information"}
    if names != set(expected):
        problems.append(f"folder holds {sorted(names)}, expected {sorted(expected)}")
    for name, data in expected.items():
        if data is None:
            continue
        if name in names and name.endswith(".hdb"):
            problems += filter(None, [text_problem(os.path.join(folder, name), data)])
        elif name in names:
            with open(os.path.join(folder, name), "rb") as f:
                if f.read() != data:
                    problems.append(f"{name} changed")
    return problems


def put(folder, files):
    """As harness.write_files, but a file is made anew: fusefat cannot
    truncate one."""
    for name in files:
        # fusefat may still answer for a name another spelling of which was
        # just removed, and then finds nothing to remove.
        with contextlib.suppress(FileNotFoundError):
            os.remove(os.path.join(folder, name))
    harness.write_files(folder, files)


def clear(folder):
    for name in os.listdir(folder):
        path = os.path.join(folder, name)
        if name != "lost+found" and not os.path.isdir(path):
            os.remove(path)


def outcome_problems(ran, status, stdout):
    """`stdout` None: any output (a listing's order is the file system's)."""
    if ran.returncode != status or stdout not in (None, ran.stdout):
        return [f"status {ran.returncode}, stdout {ran.stdout!r}; expected {status}, {stdout!r}"]
    return []


def cases_on(kind, tool, folder):
    """(name, problems) for each case on the mounted file system."""
    a, b, c, big = text(3000, 1), text(5000, 2), text(70, 3), text(3 << 20, 4)

    def case(name, files, argv, status, stdout, expected, before=None):
        clear(folder)
        put(folder, files)
        if before:
            before()
        ran = harness.run([tool] + argv, cwd=folder)
        return name, outcome_problems(ran, status, stdout) + folder_problems(folder, expected)

    yield case("a new output", {"a.txt": a}, ["a.txt"], 0, b"a.hdb converted.\n", {"a.txt": a, "a.hdb": a})
    clear(folder)
    put(folder, {"a.txt": a})
    harness.run([tool, "a.txt"], cwd=folder)
    put(folder, {"a.txt": b})
    ran = harness.run([tool, "a.txt"], cwd=folder)
    yield "a replaced output", outcome_problems(ran, 0, b"a.hdb converted.\n") + folder_problems(
        folder, {"a.txt": b, "a.hdb": b})
    if kind.acls:
        # A private output shared with one more user keeps both on replacing.
        os.chmod(os.path.join(folder, "a.hdb"), 0o640)
        must(["setfacl", "-m", "u:nobody:r", "a.hdb"], cwd=folder)
        acl = must(["getfacl", "-c", "a.hdb"], cwd=folder).stdout
        put(folder, {"a.txt": c})
        ran = harness.run([tool, "a.txt"], cwd=folder)
        kept = must(["getfacl", "-c", "a.hdb"], cwd=folder).stdout
        yield "replacing keeps the mode and the ACL", outcome_problems(ran, 0, b"a.hdb converted.\n") + (
            [] if kept == acl else [f"ACL {kept!r}, was {acl!r}"]) + folder_problems(folder, {"a.txt": c, "a.hdb": c})
    yield case("all", {"b.txt": b, "c.TXT": c}, ["all"], 0, None, {"b.txt": b, "c.TXT": c, "b.hdb": b, "c.hdb": c})

    # The input under one spelling, the output under another.
    if kind.case_insensitive:
        yield case("the same file under another case", {"k.txt.HDB": a}, ["k.txt.HDB"], 1,
                   b"error: input and output are the same file: k.txt.HDB\r\n", {"k.txt.HDB": a})
        # Two texts whose outputs differ in case alone: the first in the
        # listing is converted, the second refused.
        clear(folder)
        put(folder, {"x.txt.bak": a, "X.TXT.old": b})
        ran = harness.run([tool, "all"], cwd=folder)
        first, second = ("x.txt", "X.TXT") if ran.stdout.startswith(b"x.txt") else ("X.TXT", "x.txt")
        stdout = f"{first}.hdb converted.\nerror: output already written in this run: {second}.hdb\r\n".encode()
        yield "two inputs, one output", outcome_problems(ran, 1, stdout) + (
            folder_problems(folder, {"x.txt.bak": a, "X.TXT.old": b, f"{first}.hdb": a if first == "x.txt" else b}))
        # An earlier output under the second's spelling, which the first
        # replaces: only a new listing tells the two spellings are one entry.
        yield case("two inputs, one output, over an earlier output",
                   {"x.txt.bak": a, "X.TXT.old": b, "X.TXT.hdb": c}, ["x.txt.bak", "X.TXT.old"], 1,
                   b"x.txt.hdb converted.\nerror: output already written in this run: X.TXT.hdb\r\n",
                   {"x.txt.bak": a, "X.TXT.old": b, "x.txt.hdb": a})
    else:
        yield case("another case is another file", {"k.txt.HDB": a}, ["k.txt.HDB"], 0, b"k.txt.hdb converted.\n",
                   {"k.txt.HDB": a, "k.txt.hdb": a})

    for signal in ("SIGINT", "SIGKILL"):
        clear(folder)
        put(folder, {"big.txt": big, "e.txt": c})
        # Stopped at the fourth write: the output is half written.
        harness.run(["strace", "-f", "-o", "/dev/null", "-e", f"inject=write:signal={signal}:when=4", tool, "big.txt"],
                    cwd=folder)
        left = sorted(set(os.listdir(folder)) - {"big.txt", "e.txt", "lost+found"})
        problems = []
        if left and (signal == "SIGINT" or kind.unnamed_files):
            problems.append(f"the stopped run left {left}")
        ran = harness.run([tool, "e.txt"], cwd=folder)
        problems += outcome_problems(ran, 0, b"e.hdb converted.\n")
        problems += folder_problems(folder, {"big.txt": big, "e.txt": c, "e.hdb": c})
        yield f"{signal} mid-way, then a run that sweeps", problems

    yield from close_error_cases(kind, tool, folder, a)

    clear(folder)
    put(folder, {"a.txt": big})
    with open(os.path.join(folder, "filler"), "wb", buffering=0) as f:
        for block in (1 << 20, 1 << 12, 1):
            try:
                while f.write(b"\0" * block):
                    pass
            except OSError:
                pass
    ran = harness.run([tool, "a.txt"], cwd=folder)
    messages = (b"error: file not written: a.hdb\r\n", b"error: file not created\r\n")
    problems = [] if ran.returncode == 1 and ran.stdout in messages else [f"status {ran.returncode}, {ran.stdout!r}"]
    yield "a full disk", problems + folder_problems(folder, {"a.txt": big, "filler": None})


def close_error_cases(kind, tool, folder, data):
    """An error that only closing the new output reveals. Where closing may
    report one, the output is closed once before its flush, and an error
    there costs it, the earlier output kept; elsewhere it is closed once.
    An error at the last close, after the output is in place, costs
    nothing. Each close is found in a trial run that shows descriptors'
    paths, then failed by strace."""
    files = {"a.txt": data, "a.hdb": b"old"}
    clear(folder)
    put(folder, files)
    _, lines = harness.traced_run([tool, "a.txt"], folder, harness.traceable(), "close", options=("-qq", "-y"))
    closes = [line.partition("<")[2].partition(">")[0].removesuffix(" (deleted)") for line in lines
              if re.match(r"(?:\d+ +)?close\(", line)]
    # The one file the tool opens in the folder is its input.
    new_file = [n for n, path in enumerate(closes, 1) if os.path.dirname(path) == folder and not path.endswith(".txt")]
    if len(new_file) != (2 if kind.close_reports else 1):
        yield "the new output's closes", [f"closed {len(new_file)} times: {closes}"]
        return
    failing = [("an error at the last close", new_file[-1], 0, b"a.hdb converted.\n", {"a.txt": data, "a.hdb": data})]
    if kind.close_reports:
        failing.insert(0, ("an error that surfaces at close", new_file[0], 1, b"error: file not written: a.hdb\r\n",
                           {"a.txt": data, "a.hdb": None}))
    for name, when, status, stdout, expected in failing:
        clear(folder)
        put(folder, files)
        ran = harness.run(["strace", "-f", "-qq", "-o", "/dev/null", "-e", "trace=close", "-e",
                           f"inject=close:error=EIO:when={when}", tool, "a.txt"], cwd=folder,
                          env=harness.traceable())
        problems = outcome_problems(ran, status, stdout) + folder_problems(folder, expected)
        with open(os.path.join(folder, "a.hdb"), "rb") as f:
            kept = f.read() == b"old"
        yield name, problems + ([f"the earlier output {'kept' if kept else 'lost'}"] if kept == (status == 0) else [])


def run_problems(ran, stdout, stderr, outputs):
    """What is untrue in one of several runs of "all" over the same texts:
    each output is announced once, and the run ends with 0 having announced
    them all, or with a message that holds for it."""
    lines = stdout.decode(errors="replace").splitlines(keepends=True)
    announced = [line.removesuffix(" converted.\n") for line in lines if line.endswith(" converted.\n")]
    problems = [f"stderr {stderr[-300:]!r}"] if stderr else []
    if len(set(announced)) != len(announced) or not set(announced) <= outputs:
        problems.append(f"announced {announced}")
    rest = lines[len(announced):]
    if ran.returncode == 0 and (rest or set(announced) != outputs):
        problems.append(f"status 0 after {len(announced)} of {len(outputs)} outputs, then {rest!r}")
    elif ran.returncode != 0:
        # Its own output, written earlier in the run, is the one message here that can be true.
        said = rest[0].removeprefix("error: output already written in this run: ").removesuffix("\r\n") if rest else ""
        if ran.returncode != 1 or len(rest) != 1 or said not in announced:
            problems.append(f"status {ran.returncode}, {rest!r} after {len(announced)} outputs")
    return problems, set(announced)


def concurrent_problems(tool, work, runs=3, texts=300, rounds=5, seconds=20):
    """Three runs of "all" at once in one folder of small texts on ext4,
    repeated (while time allows) until one goes wrong: each run must say
    only what is true, and every output left must be whole."""
    files = {f"t{i:03}.txt": text(100 + i, i) for i in range(texts)}
    outputs = {name.removesuffix(".txt") + ".hdb" for name in files}
    deadline = time.monotonic() + seconds
    with Mounted(FILE_SYSTEMS[0], os.path.join(work, "disk.img"), os.path.join(work, "disk")) as folder:
        for round_ in range(1, rounds + 1):
            clear(folder)
            put(folder, files)
            started = [subprocess.Popen([tool, "all"], cwd=folder, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE) for _ in range(runs)]
            problems, announced = [], set()
            for number, ran in enumerate(started, 1):
                stdout, stderr = ran.communicate(timeout=300)
                found, said = run_problems(ran, stdout, stderr, outputs)
                problems += [f"round {round_}, run {number}: {problem}" for problem in found]
                announced |= said
            expected = {**files, **{name: files[name.removesuffix(".hdb") + ".txt"] for name in announced}}
            problems += [f"round {round_}: {problem}" for problem in folder_problems(folder, expected)]
            if problems or time.monotonic() > deadline:
                return problems
    return []


# The disk images of the power cuts lie on a file system of their own, which
# is frozen while an image is copied: the copy is the disk at one instant,
# whatever the file system on it goes on writing in the background.
HOST = FileSystem("ext4", 1024, ["mkfs.ext4", "-q", "-F"], loop_mount())


def power_cut_problems(kind, tool, work):
    """Converts (a new output; one that replaces an earlier output; "all"
    over five texts, two of whose outputs are there already) and cuts the
    power: the image is copied as the disk holds it, after an unrelated
    fsync that commits the journal, or right as the run ends. The run
    announced every new output (and ended with 0, or with 1 at a missing
    third text), so the copy must hold each, whole."""
    problems = []
    earlier = {"a.txt": text(200 << 10, 5)}
    new = {"a.txt": text(300 << 10, 6)}
    several = {f"{name}.txt": text(100 << 10, seed) for seed, name in enumerate("abcde", 10)}
    two = {name: several[name] for name in ("a.txt", "b.txt")}
    runs = {"new": ({}, new, ["a.txt"], 0), "replacing": (earlier, new, ["a.txt"], 0),
            "all": ({"a.txt": earlier["a.txt"], "c.txt": earlier["a.txt"]}, several, ["all"], 0),
            "failing at the third text": ({}, two, ["a.txt", "b.txt", "c.txt"], 1)}
    copy = os.path.join(work, "after-the-cut.img")
    with Mounted(HOST, os.path.join(work, "host.img"), os.path.join(work, "host")) as host:
        image = os.path.join(host, "disk.img")
        for mode, (before, texts, argv, status) in runs.items():
            for journal_committed in (True, False):
                with Mounted(kind, image, os.path.join(work, "disk")) as folder:
                    if before:
                        put(folder, before)
                        harness.run([tool, "all"], cwd=folder)
                    harness.run(["sync"])
                    put(folder, texts)
                    ran = harness.run([tool] + argv, cwd=folder)
                    if journal_committed:
                        with open(os.path.join(folder, "unrelated"), "wb") as f:
                            f.write(b"x")
                            f.flush()
                            os.fsync(f.fileno())
                    must(["fsfreeze", "--freeze", host])
                    try:
                        shutil.copyfile(image, copy)
                    finally:
                        must(["fsfreeze", "--unfreeze", host])
                what = mode + (", journal committed" if journal_committed else "")
                if ran.returncode != status:
                    problems.append(f"{what}: the run ended with {ran.returncode}: {ran.stdout!r}")
                with Mounted(kind, copy, os.path.join(work, "after"), fresh=False) as folder:
                    for name, data in texts.items():
                        output = name[:-4] + ".hdb"
                        try:
                            with open(os.path.join(folder, output), "rb") as f:
                                if read_hdb(f.read())[1] != data:
                                    problems.append(f"{what}: {output} is not the new output")
                        except (OSError, HdbError) as error:
                            problems.append(f"{what}: after the cut, {output}: {error} (the run said {ran.stdout!r})")
    return problems


def aliasing_problems(kind, flags, first, second, tool, work):
    """The second text's output is another name of the first's: refused,
    the first output kept."""
    with Mounted(kind, os.path.join(work, "disk.img"), os.path.join(work, "disk")) as disk:
        folder = os.path.join(disk, "texts")
        os.mkdir(folder)
        if flags:
            must(["chattr"] + flags + [folder])
        a, b = text(3000, 1), text(70, 2)
        put(folder, {second: b})
        put(folder, {first: a})
        ran = harness.run([tool, first, second], cwd=folder)
        stdout = (f"{first[:-4]}.hdb converted.\n"
                  f"error: output already written in this run: {second[:-4]}.hdb\r\n").encode()
        return outcome_problems(ran, 1, stdout) + folder_problems(folder, {first: a, second: b, first[:-4] + ".hdb": a})


def unavailable():
    """Why this machine cannot mount the images, or None."""
    if os.geteuid() != 0:
        return "not root"
    if not os.path.exists("/dev/loop-control") or not os.path.exists("/dev/fuse"):
        return "no loop devices or no /dev/fuse"
    missing = [p for p in ("mkfs.ext4", "mkfs.xfs", "mkfs.btrfs", "mkntfs", "ntfs-3g", "mkfs.exfat",
                           "mount.exfat-fuse", "mkfs.fat", "fusefat", "strace", "setfacl", "fsfreeze") if not shutil.which(p)]
    return f"missing {', '.join(missing)}" if missing else None


def main():
    options = harness.parser(platform=False).parse_args()
    why = unavailable()
    if why is None and os.environ.get("FOLIANT_OWN_MOUNTS") != "1" and shutil.which("unshare"):
        # Mounts in a namespace of this test's own: another test that makes a
        # namespace meanwhile (the small-disk cases) would otherwise take
        # copies of them, and an image unmounted here would stay in use.
        os.environ["FOLIANT_OWN_MOUNTS"] = "1"
        os.execvp("unshare", ["unshare", "--mount", "--propagation", "private", sys.executable, *sys.argv])
    if why is None:
        with harness.scratch("foliant-mount-probe-") as work:
            try:
                with Mounted(FILE_SYSTEMS[0], os.path.join(work, "probe.img"), os.path.join(work, "m")):
                    pass
            except (RuntimeError, subprocess.SubprocessError) as error:
                why = f"cannot mount a file system here: {error}"
    if why:
        print(f"SKIPPED: {why}")
        return SKIPPED
    report = harness.Report()
    for kind in FILE_SYSTEMS:
        with harness.scratch(f"foliant-{kind.name}-") as work:
            try:
                with Mounted(kind, os.path.join(work, "disk.img"), os.path.join(work, "disk")) as folder:
                    for name, problems in cases_on(kind, options.tool, folder):
                        report.case(f"{kind.name}: {name}", problems)
                if kind.name in ("ext4", "xfs"):
                    report.case(f"{kind.name}: a power cut", power_cut_problems(kind, options.tool, work))
            except (RuntimeError, subprocess.SubprocessError) as error:
                report.case(f"{kind.name}: mounted", [str(error)])
    for kind, offered, flags, first, second in ALIASING:
        if not offered():
            print(f"skipped (this kernel has no {kind.name}): {kind.name}: a second name of an output")
            continue
        with harness.scratch("foliant-alias-") as work:
            report.case(f"{kind.name}: a second name of an output",
                        aliasing_problems(kind, flags, first, second, options.tool, work))
    with harness.scratch("foliant-concurrent-") as work:
        report.case("ext4: three runs of all at once", concurrent_problems(options.tool, work))
    return report.close()


if __name__ == "__main__":
    sys.exit(main())
