#!/usr/bin/env python3
"""Builds the release packages of a build folder with CPack, unpacks them into
a scratch folder without touching the system, and runs the packaged tool on
the sample text. For the .deb also: its declared dependencies, the man page
(it must render without a single warning) and the desktop entry. For the
Windows installer: installs and uninstalls it silently under Wine, in a
prefix of the test's own, and checks what each step leaves behind."""

import configparser
import gzip
import os
import re
import shlex
import shutil
import sys
import struct
import subprocess
import tempfile
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import harness  # noqa: E402
from harness import run  # noqa: E402
from hdb_reader import read_hdb  # noqa: E402


def check_converts(command, sample, work, line, env=None):
    with open(sample, "rb") as f:
        text = f.read()
    with harness.scratch("try-", work, {"book.txt": text}) as folder:
        result = run(command + ["book.txt"], cwd=folder, env=env)
        if (result.returncode, result.stdout) != (0, line):
            return [f"packaged tool: status {result.returncode}, stdout {result.stdout!r}"]
        with open(os.path.join(folder, "book.hdb"), "rb") as f:
            if read_hdb(f.read()) != (b"book.txt", text):
                return ["packaged tool: the output does not hold the sample"]
    return []


def check_deb(packages, sample, work):
    problems = []
    (deb,) = [os.path.join(packages, n) for n in os.listdir(packages) if n.endswith(".deb")]
    recommends = run(["dpkg-deb", "--field", deb, "Recommends"], check=True).stdout.decode().strip()
    if recommends != "zenity | kdialog, xdg-utils, libfile-mimeinfo-perl":
        problems.append(f"Recommends: {recommends!r}")
    depends = run(["dpkg-deb", "--field", deb, "Depends"], check=True).stdout.decode()
    if "libc6" not in depends or "zenity" in depends:
        problems.append(f"Depends: {depends!r}")
    root = os.path.join(work, "root")
    run(["dpkg-deb", "--extract", deb, root], check=True)

    manual = os.path.join(work, "foliant.1")
    with gzip.open(os.path.join(root, "usr/share/man/man1/foliant.1.gz")) as f, open(manual, "wb") as g:
        g.write(f.read())
    warnings = run(["groff", "-man", "-Tutf8", "-ww", "-z", manual])
    if warnings.returncode or warnings.stderr:
        problems.append(f"man page: {warnings.stderr.decode()!r}")
    rendered = run(["man", "-l", manual], env=dict(os.environ, MANWIDTH="80"))
    for heading in (b"SYNOPSIS", b"MESSAGES", b"EXIT STATUS", b"EXAMPLES"):
        if heading not in rendered.stdout:
            problems.append(f"man page: no {heading.decode()}")

    entry = os.path.join(root, "usr/share/applications/foliant.desktop")
    if shutil.which("desktop-file-validate"):
        checked = run(["desktop-file-validate", entry])
        if checked.returncode or checked.stdout:
            problems.append(f"desktop entry: {checked.stdout.decode()!r}")
    with open(entry) as f:
        text = f.read()
        if "Exec=foliant\n" not in text:
            problems.append("desktop entry does not start the interactive mode")
        if "MimeType" in text:
            problems.append("desktop entry claims a MIME type: foliant opens no .hdb file")

    return problems + check_converts([os.path.join(root, "usr/bin/foliant")], sample, work, b"book.hdb converted.\n")


def check_zip(packages, sample, work, emulator):
    (archive,) = [os.path.join(packages, n) for n in os.listdir(packages) if n.endswith(".zip")]
    with zipfile.ZipFile(archive) as z:
        names = sorted(os.path.basename(n) for n in z.namelist())
        z.extractall(os.path.join(work, "unzipped"))
    if names != ["LICENSE.txt", "README.txt", "foliant.exe"]:
        return [f"zip holds {names}"]
    (top,) = os.listdir(os.path.join(work, "unzipped"))
    tool = os.path.join(work, "unzipped", top, "foliant.exe")
    return check_converts(emulator + [tool], sample, work, b"book.hdb converted.\r\n")


def lint_problems(output, allowed):
    """The errors and warnings a linter printed (lintian: "W: package: tag ...",
    rpmlint: "package: W: tag ..."), but the allowed tags."""
    found = re.findall(r"^(?:([EW]): \S+|\S+: ([EW])): (\S+)(.*)$", output, re.M)
    return [f"{kind or kind2}: {tag}{rest}" for kind, kind2, tag, rest in found if tag not in allowed]


def check_hardening(tool):
    """Debian's hardening flags, as the binary shows them."""
    problems = []
    header = run(["readelf", "-hldW", "--dyn-syms", tool], check=True).stdout.decode()
    for what, pattern in (("PIE", r"Type:\s+DYN"), ("relro", r"GNU_RELRO"), ("bind now", r"\(FLAGS\)\s+BIND_NOW"),
                          ("stack protector", r"__stack_chk_fail"), ("fortify", r"__\w+_chk\b")):
        if not re.search(pattern, header):
            problems.append(f"{tool}: no {what}")
    if run(["readelf", "-S", tool], check=True).stdout.count(b".symtab"):
        problems.append(f"{tool}: not stripped")
    return problems


def check_release_files(root, version, package_version):
    """The license, changelog, icon and AppStream files of the .deb."""
    problems = []
    doc = os.path.join(root, "usr/share/doc/foliant")
    with open(os.path.join(doc, "copyright")) as f:
        copyright_file = f.read()
    if not copyright_file.startswith("Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n") \
            or "\nLicense: Expat\n Permission is hereby granted" not in copyright_file:
        problems.append("copyright: not the machine-readable format with the license's text")
    changelog = run(["dpkg-parsechangelog", "-l", os.path.join(doc, "changelog.Debian.gz"), "-S", "Version"])
    if changelog.stdout.decode().strip() != package_version:
        problems.append(f"changelog.Debian.gz: latest version {changelog.stdout!r}, the package's {package_version}")
    with open(os.path.join(root, "usr/share/applications/foliant.desktop")) as f:
        if "\nIcon=foliant\n" not in f.read() + "\n":
            problems.append("desktop entry: no Icon=foliant")
    if not os.path.isfile(os.path.join(root, "usr/share/icons/hicolor/scalable/apps/foliant.svg")):
        problems.append("no hicolor scalable icon")
    metainfo = [os.path.join(root, "usr/share/metainfo", n) for n in os.listdir(os.path.join(root, "usr/share/metainfo"))]
    validated = run(["appstreamcli", "validate", "--no-net"] + metainfo)
    if validated.returncode or len(metainfo) != 1:
        problems.append(f"metainfo: {validated.stdout.decode()}")
    elif f'<release version="{version}"' not in open(metainfo[0]).read():
        problems.append(f"metainfo: no release {version}")
    elif "<mediatype>application/x-hdb</mediatype>" not in open(metainfo[0]).read():
        problems.append("metainfo: does not provide the type application/x-hdb")
    if not os.path.isfile(os.path.join(root, "usr/share/lintian/overrides/foliant")):
        problems.append("no lintian overrides")
    return problems


def check_deb_policy(packages, work, version):
    """lintian (warnings count), hardening, and the files distributions want."""
    (deb,) = [os.path.join(packages, n) for n in os.listdir(packages) if n.endswith(".deb")]
    linted = run(["lintian", "--fail-on", "none", deb])
    problems = [f"lintian {problem}" for problem in lint_problems(linted.stdout.decode(), set())]
    if linted.returncode:
        problems.append(f"lintian: status {linted.returncode}, {linted.stderr.decode()!r}")
    root = os.path.join(work, "deb-policy")
    run(["dpkg-deb", "--extract", deb, root], check=True)
    package_version = run(["dpkg-deb", "--field", deb, "Version"], check=True).stdout.decode().strip()
    return problems + check_hardening(os.path.join(root, "usr/bin/foliant")) + \
        check_release_files(root, version, package_version)


# What rpmlint says of every foliant package: unsigned, no URL, the Debian
# name of the license, the gzipped man page.
RPMLINT_KNOWN = {"no-signature", "no-url-tag", "invalid-license", "no-manual-page-for-binary",
                 "manpage-not-compressed"}


def check_rpm(packages, sample, work):
    """rpmlint finds nothing but what it always finds; the license is the
    %license file; the MIME database is updated after installing and after
    removing; the packaged tool converts."""
    (package,) = [os.path.join(packages, n) for n in os.listdir(packages) if n.endswith(".rpm")]
    linted = run(["rpmlint", package])
    problems = [f"rpmlint {problem}" for problem in lint_problems(linted.stdout.decode(), RPMLINT_KNOWN)]
    scripts = run(["rpm", "-qp", "--qf", "%{POSTIN}\n--\n%{POSTUN}", package], check=True).stdout.decode()
    if scripts.count("update-mime-database /usr/share/mime") != 2:
        problems.append(f"rpm: the scriptlets do not update the MIME database: {scripts!r}")
    if "1 packages" not in linted.stdout.decode():
        problems.append(f"rpmlint did not check the package: {linted.stdout.decode()}")
    files = run(["rpm", "-qp", "--qf", "[%{FILEFLAGS:fflags} %{FILENAMES}\n]", package], check=True).stdout.decode()
    if "l /usr/share/licenses/foliant/LICENSE\n" not in files:
        problems.append(f"rpm: LICENSE is not the %license file: {files!r}")
    root = os.path.join(work, "rpm-root")
    os.mkdir(root)
    subprocess.run(f"rpm2cpio '{package}' | cpio -idm --quiet", shell=True, cwd=root, check=True)
    return problems + check_converts([os.path.join(root, "usr/bin/foliant")], sample, work, b"book.hdb converted.\n")


def nemo_escaped(path):
    """A path as Nemo (no Quote key) puts it into Exec: a backslash before
    blanks, quotes, backslashes and #, a newline in single quotes (where
    Nemo 5.6 cuts the path short: a text of such a name is not converted)."""
    return "".join("'\n'" if c == "\n" else "\\" + c if c in " \t'\"\\#" else c for c in path)


# Each file manager's action file under /usr/share, the keys that show the
# entry on texts (the first key's group holds Exec), and how the file manager
# fills in %F: KIO with an argument per path, Nemo and FileManager-Actions
# (each path through g_shell_quote) into the line, which GLib splits as shlex does.
ACTIONS = [
    ("kio/servicemenus/foliant.desktop", ["Desktop Action convertToHdb/Name=Convert to HDB",
     "Desktop Action convertToHdb/Icon=foliant", "Desktop Entry/Type=Service", "Desktop Entry/MimeType=text/plain;",
     "Desktop Entry/Actions=convertToHdb;", "Desktop Entry/X-KDE-ServiceTypes=KonqPopupMenu/Plugin"],
     lambda line, paths: [x for word in shlex.split(line) for x in (paths if word == "%F" else [word])]),
    ("nemo/actions/foliant.nemo_action", ["Nemo Action/Name=Convert to HDB", "Nemo Action/Icon-Name=foliant",
     "Nemo Action/Selection=notnone", "Nemo Action/Mimetypes=text/plain;"],
     lambda line, paths: shlex.split(line.replace("%F", " ".join(map(nemo_escaped, paths))))),
    ("file-manager/actions/foliant.desktop", ["X-Action-Profile texts/Basenames=*.txt*;",
     "X-Action-Profile texts/Matchcase=false", "X-Action-Profile texts/Capabilities=Local;",
     "X-Action-Profile texts/MimeTypes=all/allfiles;",
     "X-Action-Profile texts/SelectionCount=>0", "Desktop Entry/Type=Action", "Desktop Entry/Name=Convert to HDB",
     "Desktop Entry/Icon=foliant", "Desktop Entry/Profiles=texts;"],
     lambda line, paths: shlex.split(line.replace("%F", " ".join(map(shlex.quote, paths))))),
]
# The selected texts ({folder: names}), the folder the action starts in (""
# for an empty one), and the texts that fail ("folder/name"): gone (a name
# ending in "gone.txt", any name in the folder "gone"), without .txt, or
# with an earlier text's output; None: nothing selected.
SELECTIONS = [
    ("awkward names, from /", "/",
     {"it's \"$HOME\" \\ -x\n\u00e9": ["-a b.txt", "'$x\" \\.txt", "2\nl.TXT", "\u00e9.txt"]}, []),
    ("texts of two folders", "", {"one": ["a.txt"], "two": ["a.txt", "b.txt"]}, []),
    ("two texts fail", "", {"one": ["a.txt", "gone.txt", "notes", "c.txt"]}, ["one/gone.txt", "one/notes"]),
    ("a name without .txt between texts", "", {"one": ["a.txt", "README", "c.txt"]}, ["one/README"]),
    ("notes.txt and notes.TXT selected together", "", {"one": ["notes.txt", "notes.TXT"]}, ["one/notes.TXT"]),
    ("a failure, then a text with an earlier output's name", "", {"one": ["a.txt", "gone.txt", "a.TXT", "c.txt"]},
     ["one/gone.txt", "one/a.TXT"]),
    ("one folder by two names", "", {"one": ["notes.txt"], "one/.": ["notes.TXT"]}, ["one/./notes.TXT"]),
    ("a gone folder, names not UTF-8", "", {"gone": ["a.txt"], "one": ["R\udce9sum\udce9.txt", "\udce9 gone.txt"]},
     ["gone/a.txt", "one/\udce9 gone.txt"]),
    ("nothing selected", "", {}, None),
    ("many failures, one of a 255-byte name", "",
     {"one": [f"{i} gone.txt" for i in range(40)] + ["x" * 246 + " gone.txt"]},
     [f"one/{i} gone.txt" for i in range(40)] + ["one/" + "x" * 246 + " gone.txt"]),
]
# The dialog tools on PATH; the first must show a failure. Each stand-in
# records its name, arguments and input (by /bin/cat: PATH holds them alone).
DIALOGS = [["zenity", "kdialog", "xmessage"], ["xmessage"], []]
STAND_IN_DIALOG = b"#!/bin/sh\n{ printf '%s\\0' \"${0##*/}\" \"$@\"; /bin/cat; } >> \"$FOLIANT_DIALOG_LOG\"\n"
# A window fits the screen: zenity's scrolls in a box of a set size, lines
# are wrapped, and xmessage, which cannot scroll, shows a few failures.
WINDOW_LINE = 80
XMESSAGE_FAILURES = 10


def shown_form(path):
    """A path as the launcher shows it: as it is, or quoted as foliant quotes
    names, also when it is not UTF-8 (each stray byte in octal)."""
    raw = os.fsencode(path)
    text = raw.decode(errors="surrogateescape")
    if not re.search(r"[\x00-\x1f\x7f\udc80-\udcff]", text):
        return raw
    escapes = {"\a": "a", "\b": "b", "\t": "t", "\n": "n", "\v": "v", "\f": "f", "\r": "r", '"': '"', "\\": "\\"}
    quoted = "".join(f"\\{ord(c) - 0xdc00:03o}" if "\udc80" <= c <= "\udcff" else "\\" + escapes[c] if c in escapes
                     else f"\\{ord(c):03o}" if c < " " or c == "\x7f" else c for c in text)
    return f'"{quoted}"'.encode()


def readable(said):
    """What is wrong with a window's or the journal's text: not UTF-8, or a control byte."""
    try:
        text = said.decode()
    except UnicodeDecodeError as error:
        return [f"not UTF-8: {error}"]
    return [f"a control byte: {text!r}"] if re.search(r"[\x01-\x09\x0b-\x1f\x7f]", text) else []


def check_window(shown, tools, failing):
    """The first dialog tool's record: a window that fits the screen and
    shows each failing path (xmessage: the first few, and how many more)."""
    name, *arguments, text = shown.split(b"\0")
    problems = readable(text)
    if name != tools[0].encode():
        problems.append(f"{name!r} showed the window, not {tools[0]}")
    if name == b"zenity" and not {b"--text-info", b"--width=720", b"--height=480"} <= set(arguments):
        problems.append(f"zenity's window neither scrolls nor has a size: {arguments}")
    if any(len(line) > WINDOW_LINE for line in text.decode(errors="replace").split("\n")):
        problems.append("a line too long for the window")
    unwrapped = text.replace(b"\n  ", b"")
    found = [path for path in failing if path in unwrapped]
    if name == b"xmessage" and len(failing) > XMESSAGE_FAILURES:
        if len(found) != XMESSAGE_FAILURES or f"{len(failing) - XMESSAGE_FAILURES} more not converted".encode() \
                not in text:
            problems.append(f"xmessage's text is not cut at {XMESSAGE_FAILURES} failures")
    elif len(found) != len(failing):
        problems.append(f"the window leaves out {sorted(set(failing) - set(found))}")
    return problems


def run_action(root, work, command, selection, tools):
    """Runs an action's filled-in command line on a selection; the problems."""
    what, start, folders, failing = selection
    problems = []
    with harness.scratch("action-", work, {f"bin/{tool}": STAND_IN_DIALOG for tool in tools}) as folder:
        for tool in tools:
            os.chmod(os.path.join(folder, "bin", tool), 0o755)
        texts = {os.path.join(folder, d, t): t.encode(errors="surrogateescape") * 3 for d, names in folders.items()
                 for t in names}
        harness.write_files(folder, {path: data for path, data in texts.items()
                                     if not path.endswith("gone.txt") and "/gone/" not in path})
        start = start or os.path.join(folder, "start")
        os.makedirs(start, exist_ok=True)
        before, log = os.listdir(start), os.path.join(folder, "dialogs")
        argv = command(list(texts))
        ran = run([root + argv[0]] + argv[1:], cwd=start,
                  env={"PATH": os.path.join(folder, "bin"), "DISPLAY": ":99", "FOLIANT_DIALOG_LOG": log})
        failed = [os.path.join(folder, path) for path in failing or []]
        if ran.returncode != (0 if failing == [] else 1):
            problems.append(f"status {ran.returncode}, said {ran.stderr!r}")
        for path, data in texts.items():
            name = os.path.basename(path)
            output = os.path.join(os.path.dirname(path), (name[:-4] if name[-4] == "." else name) + ".hdb")
            got = read_hdb(open(output, "rb").read()) if os.path.exists(output) else None
            if (got == (os.fsencode(name), data)) == (path in failed):
                problems.append(f"{path!r}: {'its' if path in failed else 'no'} output beside it")
        for name in set(os.listdir(start)) - set(before):  # removed at once: the start may be /
            problems.append(f"the starting folder gained {name!r}")
            os.remove(os.path.join(start, name))
        shown = open(log, "rb").read() if os.path.exists(log) else b""
        said = [shown_form(path) for path in failed] if failing is not None else [b"error: nothing to convert"]
        # foliant passes over such a name without a word: the launcher says why.
        said += [b"error: no .txt or .TXT in the name: " + shown_form(name) for name in map(os.path.basename, failed)
                 if ".txt" not in name and ".TXT" not in name]
        if not all(path in ran.stderr for path in said) or readable(ran.stderr):
            problems.append(f"standard error {ran.stderr!r}")
        if bool(shown) != bool(failing != [] and tools):
            problems.append(f"dialogs {shown!r}")
        elif shown:
            problems += check_window(shown, tools, said)
    return [f"{what} with {tools or 'no dialog tool'}: {problem}" for problem in problems]


def check_actions(root, work):
    """Each action file read as its file manager reads it, and its Exec line,
    filled in as the file manager does, run on each selection; a failure
    shown by the first dialog tool there is, or by none."""
    share = os.path.join(root, "usr/share")
    problems = []
    kio = f"{share}/kio/servicemenus/foliant.desktop"
    if os.path.realpath(f"{share}/kservices5/ServiceMenus/foliant.desktop") != kio:
        problems.append("no service menu for Plasma before 5.85")
    for path, expected, expand in ACTIONS:
        keys = configparser.ConfigParser(interpolation=None, delimiters=("=",))
        keys.optionxform = str
        keys.read(os.path.join(share, path))
        found = {f"{group}/{key}={value}" for group in keys.sections() for key, value in keys[group].items()}
        exec_line = keys.get(expected[0].split("/")[0], "Exec", fallback="")
        if not set(expected) <= found or not exec_line.startswith("/usr/libexec/foliant/convert-beside "):
            problems.append(f"{path}: {sorted(set(expected) - found)} missing, Exec={exec_line}")
            continue
        for selection in SELECTIONS:
            problems += [f"{path}, {problem}" for problem in run_action(
                root, work, lambda paths: expand(exec_line, paths), selection, DIALOGS[0])]
    for tools in DIALOGS[1:]:
        problems += run_action(root, work, lambda paths: ["/usr/libexec/foliant/convert-beside"] + paths,
                               SELECTIONS[-1], tools)
    return problems


INSTALL_DOC = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "docs", "install.md")
# docs/install.md's limit for Thunar: this many texts of paths this long
# fit the one argument Thunar hands to sh -c (Linux takes 128 KiB).
THUNAR_TEXTS = 2000
THUNAR_PATH = 60


def check_recipes(root, work):
    """docs/install.md's recipes for GNOME Files and Thunar, followed as
    written (the launcher where the package put it): the script is a link,
    run in the texts' folder; Thunar's command goes to sh -c with each path
    quoted, as Thunar quotes it, for as many texts as the docs promise."""
    with open(INSTALL_DOC, encoding="utf-8") as f:
        doc = f.read()
    gnome = re.search(r"^    (mkdir -p ~/\.local/share/nautilus/scripts .*)$", doc, re.M)
    thunar = re.search(r"give the command\s+`([^`]*%F[^`]*)`", doc)
    if not gnome or not thunar:
        return ["docs/install.md has no GNOME Files command or no Thunar command"]
    problems = []
    names = [f"t{i:04}.txt" for i in range(THUNAR_TEXTS)]
    # A short place of its own, so that the folder's name sets the paths' length.
    with harness.scratch("r", "/tmp") as folder:
        texts = os.path.join(folder, "x" * (THUNAR_PATH - len(folder) - len("//t0000.txt")))
        harness.write_files(texts, {n: n.encode() for n in names})
        env = {"HOME": folder, "PATH": "/usr/bin:/bin"}
        made = run(["sh", "-c", gnome[1].replace("/usr/", root + "/usr/")], env=env)
        script = os.path.join(folder, ".local/share/nautilus/scripts/Convert to HDB")
        if made.returncode or not os.path.islink(script):
            return [f"GNOME Files: the command made no link: {made.stderr!r}"]
        ran = run([script] + [os.path.join(texts, n) for n in names[:3]], cwd=texts, env=env)
        if ran.returncode or not os.path.exists(os.path.join(texts, "t0002.hdb")):
            problems.append(f"GNOME Files: status {ran.returncode}, {ran.stderr!r}")
        command = thunar[1].replace("/usr/", root + "/usr/")
        paths = [os.path.join(texts, n) for n in names]
        assert all(len(path) == THUNAR_PATH for path in paths)
        ran = run(["/bin/sh", "-c", command.replace("%F", " ".join(map(shlex.quote, paths)))], cwd=folder, env=env)
        missing = [n for n in names if not os.path.exists(os.path.join(texts, n[:-4] + ".hdb"))]
        if ran.returncode or missing:
            problems.append(f"Thunar, {THUNAR_TEXTS} texts: status {ran.returncode}, {len(missing)} not converted, "
                            f"{ran.stderr[-300:]!r}")
    return problems


def check_mime(root, work):
    """The MIME package built into a database of its own: a .hdb file known
    by its name, an HDB file by its content, as "HDB document"."""
    data = os.path.join(work, "mime-data")
    shutil.copytree(os.path.join(root, "usr/share/mime/packages"), os.path.join(data, "mime", "packages"))
    env = dict(os.environ, XDG_DATA_DIRS=data, XDG_DATA_HOME=os.path.join(work, "no-home"), GIO_USE_VFS="local")
    built = run(["update-mime-database", os.path.join(data, "mime")], env=env)
    if built.returncode or built.stderr:
        return [f"update-mime-database: {built.stderr!r}"]
    with open(os.path.join(data, "mime", "application", "x-hdb.xml")) as f:
        problems = [] if "<comment>HDB document</comment>" in f.read() else ["application/x-hdb is no HDB document"]
    icons = os.path.join(root, "usr/share/icons/hicolor/scalable")
    if os.path.realpath(os.path.join(icons, "mimetypes/application-x-hdb.svg")) != f"{icons}/apps/foliant.svg":
        problems.append("the type's icon application-x-hdb is not the foliant icon")
    files = {"book.txt": b"text " * 500, "unknown": b"\0.o0O0o." * 20,
             "marked text": b"a" * 32 + b".o0O0o. is how a header starts\n" * 4}
    with harness.scratch("mime-", work, files) as folder:
        run([os.path.join(root, "usr/bin/foliant"), "book.txt"], cwd=folder, check=True)
        os.rename(os.path.join(folder, "book.hdb"), os.path.join(folder, "no extension"))
        harness.write_files(folder, {"named.hdb": b"not an HDB file"})
        for name, expected in (("named.hdb", "application/x-hdb"), ("no extension", "application/x-hdb"),
                               ("unknown", None), ("marked text", "text/plain")):
            typed = run(["gio", "info", "-a", "standard::content-type", name], cwd=folder, env=env).stdout
            if (b"content-type: application/x-hdb\n" in typed) != (expected == "application/x-hdb") or \
                    expected and f"content-type: {expected}\n".encode() not in typed:
                problems.append(f"gio calls {name!r}: {typed!r}")
        # No desktop detected (a bare X session, i3, sway): xdg-open asks
        # xdg-mime, which reads the database through mimetype where it is.
        bare = {k: v for k, v in env.items() if not k.startswith(("XDG_CURRENT", "XDG_SESSION", "KDE_", "GNOME_"))
                and k not in ("DESKTOP_SESSION", "DISPLAY", "WAYLAND_DISPLAY")}
        if not (shutil.which("xdg-mime") and shutil.which("mimetype")):
            print("skip xdg-mime without a desktop: xdg-utils or libfile-mimeinfo-perl is not installed", flush=True)
        else:
            typed = run(["xdg-mime", "query", "filetype", "no extension"], cwd=folder, env=bare).stdout
            if typed != b"application/x-hdb\n":
                problems.append(f"xdg-mime without a desktop calls an HDB file {typed!r}")
    return problems


# A shell completing `foliant WORDS... CURRENT` in a folder of these files,
# with HOME a folder of its own: the words, the current word, and what it
# offers (folders without their last "/").
COMPLETION_FILES = ["a.txt", "B.TXT", "c.txt.bak", "a.hdb", "d.txt.hdb", "e.TXT.HDB", "notes.md", "my dir/in.txt",
                    "all.txt", "home/Documents/in.txt"]
COMPLETIONS = [
    ([], "", {"all", "a.txt", "B.TXT", "c.txt.bak", "my dir", "all.txt", "home"}),
    ([], "a", {"all", "a.txt", "all.txt"}),
    (["a.txt"], "", {"a.txt", "B.TXT", "c.txt.bak", "my dir", "all.txt", "home"}),
    ([], "n", set()),  # no text matches: no other file instead
    ([], "my dir/", {"my dir/in.txt"}),
    ([], "~/Doc", {"~/Documents"}),
    ([], "~/Documents/", {"~/Documents/in.txt"}),
]
BASH_COMPLETE = ('source "$1"; shift; COMP_WORDS=(foliant "$@"); COMP_CWORD=$#; _foliant; '
                 'printf "%s\\n" "${COMPREPLY[@]}"')
FISH_COMPLETE = 'source $argv[1]; complete -C (string join " " -- foliant (string escape -- $argv[2..-1]))'
ZSH_OFFERS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "zsh_offers.zsh")


def completion_offers(shell, share, folder, words, current):
    """What `shell` offers, as plain names; None where the shell is missing."""
    if not shutil.which(shell):
        return None
    env = dict(os.environ, HOME=os.path.join(folder, "home"))
    if shell == "bash":
        command = ["bash", "-c", BASH_COMPLETE, "bash", f"{share}/bash-completion/completions/foliant", *words, current]
    elif shell == "fish":
        command = ["fish", "--no-config", "-c", FISH_COMPLETE, f"{share}/fish/vendor_completions.d/foliant.fish",
                   *words, current]
    else:  # zsh matches the last part of a path alone: only bare names are asked of it
        command = ["zsh", "-f", ZSH_OFFERS, f"{share}/zsh/vendor-completions", "foliant",
                   *map(shlex.quote, words), shlex.quote(current) if current else ""]
    lines = run(command, cwd=folder, env=env, timeout=60).stdout.decode().splitlines()
    return {line.split("\t")[0].replace("\\ ", " ").rstrip("/") for line in lines if line}


def check_completion(root, work):
    """bash, fish and zsh completing in a scratch folder."""
    share = os.path.join(root, "usr/share")
    problems = []
    with harness.scratch("complete-", work, {name: b"" for name in COMPLETION_FILES}) as folder:
        for shell in ("bash", "fish", "zsh"):
            for words, current, expected in COMPLETIONS:
                if shell == "zsh" and "/" in current:
                    continue
                offered = completion_offers(shell, share, folder, words, current)
                if offered is None:
                    print(f"skip {shell}'s completion: {shell} is not installed", flush=True)
                    break
                if offered != expected:
                    problems.append(f"{shell} offers {sorted(offered)} for {words + [current]}")
    return problems


def check_plain_install(build, work):
    """`cmake --install` leaves Debian's own files out, and the actions name
    the launcher under its prefix."""
    prefix = os.path.join(work, "prefix")
    run(["cmake", "--install", build, "--prefix", prefix], check=True)
    problems = [f"installed {name}" for name in ("share/doc/foliant/copyright", "share/doc/foliant/changelog.Debian.gz",
                                                 "share/lintian/overrides/foliant")
                if os.path.exists(os.path.join(prefix, name))]
    with open(os.path.join(prefix, "share/nemo/actions/foliant.nemo_action")) as f:
        if f"Exec={prefix}/libexec/foliant/convert-beside %F\n" not in f.read():
            problems.append("the installed Nemo action does not run the installed launcher")
    return problems


UNINSTALL_KEY = r"Software\Microsoft\Windows\CurrentVersion\Uninstall\foliant"
SHELL_FOLDERS_KEY = r"Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders"
# The installer's strings hold 1023 characters: one Path it cannot read, one
# it can read but not lengthen by the install folder.
LONG_PATH = r"C:\long" + r";C:\x" * 400
NEAR_LIMIT_PATH = r"C:\near" + r";C:\x" * 198
# The system's own places, which an installation may create and leave: on
# Windows they are there anyway.
SYSTEM_FOLDERS = {os.path.join("AppData", "Local", "Programs")}
SYSTEM_KEYS = {UNINSTALL_KEY.rsplit("\\", 1)[0].lower(), "software\\classes"}

# The user's Path before installing, after installing ("{folder}" stands for
# the install folder), and whether `foliant` then runs in a new console.
# Uninstalling brings back the Path as it was before (None: no Path at all).
PATH_CASES = [
    ("no Path yet", None, "{folder}", True),
    # Wine's cmd does not search past an empty entry, so `foliant` is not tried here.
    ("other entries kept, empty ones too", r"C:\tools;;D:\bin", r"C:\tools;;D:\bin;{folder}", False),
    ("the folder on the Path already", r"C:\tools;{folder}\;D:\bin", r"C:\tools;{folder}\;D:\bin", True),
    ("a Path too long to read", LONG_PATH, LONG_PATH, False),
    ("a Path too long to lengthen", NEAR_LIMIT_PATH, NEAR_LIMIT_PATH, False),
]


def unescape(text):
    """A string as Wine's registry files write it: backslash escapes, \\xHHHH for the rest."""
    def character(match):
        code = match[1]
        if code[0] == "x":
            return chr(int(code[1:], 16))
        return {"n": "\n", "r": "\r", "t": "\t", "0": "\0"}.get(code, code)
    return re.sub(r"\\(x[0-9a-fA-F]{1,4}|.)", character, text)


def read_registry(path):
    """A Wine registry file as {key in lower case: {value name: data}}, strings
    as str (REG_EXPAND_SZ too), DWORDs as int, anything else as written."""
    keys, values = {}, None
    with open(path, encoding="ascii", errors="replace") as f:
        for line in f:
            line = line.rstrip("\n")
            if line.startswith("["):
                values = keys.setdefault(unescape(line[1:line.rindex("]")]).lower(), {})
                continue
            value = re.match(r'"((?:[^"\\]|\\.)*)"=(.*)$', line)
            if values is None or not value:
                continue
            name, data = unescape(value[1]), value[2]
            if data.startswith("dword:"):
                values[name] = int(data[6:], 16)
            elif data.startswith(('"', 'str(2):"')):
                values[name] = unescape(data[data.index('"') + 1:-1])
            else:
                values[name] = data
    return keys


class Wine:
    """A Wine prefix of the test's own, so that nothing of the machine's is
    touched. The registry is read from the prefix's files once the Wine
    server has ended (it writes them then): each Wine start costs seconds."""

    def __init__(self, emulator, prefix):
        self.emulator = emulator
        self.prefix = prefix
        self.env = harness.wine_environment(emulator, prefix)

    def run(self, command, **kwargs):
        return run(self.emulator + command, env=self.env, **kwargs)

    def wait(self):
        run(self.emulator[:-1] + ["wineserver", "-w"], env=self.env)

    def unix_path(self, windows_path):
        drive, _, rest = windows_path.partition(":\\")
        return os.path.join(self.prefix, "drive_" + drive.lower(), *rest.split("\\"))

    def user_key(self, key):
        """The values of a key under HKEY_CURRENT_USER, None if there is no such key."""
        self.wait()
        return read_registry(os.path.join(self.prefix, "user.reg")).get(key.lower())

    def user_keys(self):
        """Every key under HKEY_CURRENT_USER but the system's and Wine's own
        settings (its debugger notes its own there when any Wine process fails)."""
        self.wait()
        keys = set(read_registry(os.path.join(self.prefix, "user.reg"))) - SYSTEM_KEYS
        return {key for key in keys if key != "software\\wine" and not key.startswith("software\\wine\\")}

    def set_path(self, path):
        if path is None:
            self.run(["reg", "delete", r"HKCU\Environment", "/v", "Path", "/f"])
        else:
            self.run(["reg", "add", r"HKCU\Environment", "/v", "Path", "/t", "REG_EXPAND_SZ", "/d", path, "/f"],
                     check=True)


def shortcut_fields(data):
    """Target, working folder ("" for none), arguments and icon ("path,index")
    of a shell link (.lnk) file."""
    flags = struct.unpack_from("<I", data, 20)[0]
    position, target = 76, None
    if flags & 0x01:  # an item id list
        position += 2 + struct.unpack_from("<H", data, position)[0]
    if flags & 0x02:  # link info, with the target's local path
        size, _, _, _, local_path = struct.unpack_from("<IIIII", data, position)
        target = data[position + local_path:position + size].split(b"\0")[0].decode("latin-1")
        position += size
    fields = {}
    for bit, name in ((0x04, "name"), (0x08, "relative path"), (0x10, "working folder"), (0x20, "arguments"),
                      (0x40, "icon")):
        if flags & bit:
            count = struct.unpack_from("<H", data, position)[0]
            width = 2 if flags & 0x80 else 1
            text = data[position + 2:position + 2 + count * width]
            fields[name] = text.decode("utf-16-le" if width == 2 else "latin-1").rstrip("\0")
            position += 2 + count * width
    icon = f"{fields['icon']},{struct.unpack_from('<i', data, 56)[0]}" if "icon" in fields else None
    return target, fields.get("working folder", ""), fields.get("arguments", ""), icon


def listing(top):
    """Every file and folder under top, but the scratch folder and the system's."""
    found = set()
    for folder, folders, files in os.walk(top):
        folders[:] = [f for f in folders if f.lower() != "temp"]
        found.update(os.path.relpath(os.path.join(folder, name), top) for name in folders + files)
    return found - SYSTEM_FOLDERS


def check_installed(wine, version, folder, documents, shortcut, send_to):
    problems = []
    tool = folder + "\\foliant.exe"
    # The Start menu's starts the interactive mode in Documents. Send to's
    # names no working folder: Explorer starts foliant in the texts' folder.
    for what, path, working_folder in (("Start menu shortcut", shortcut, documents), ("Send to shortcut", send_to, "")):
        if not os.path.isfile(wine.unix_path(path)):
            problems.append(f"no {what} {path}")
            continue
        with open(wine.unix_path(path), "rb") as f:
            fields = shortcut_fields(f.read())
        if fields != (tool, working_folder, "", tool + ",0"):
            problems.append(f"the {what} (target, working folder, arguments, icon) is {fields}")

    if not os.path.isfile(wine.unix_path(folder + "\\LICENSE.txt")):
        problems.append("no LICENSE.txt in the install folder")
    entry = wine.user_key(UNINSTALL_KEY) or {}
    uninstaller = f'"{folder}\\Uninstall.exe"'
    expected = {"DisplayName": "foliant", "DisplayVersion": version, "Publisher": "foliant developers",
                "DisplayIcon": tool + ",0", "UninstallString": uninstaller,
                "QuietUninstallString": uninstaller + " /S"}
    for name, value in expected.items():
        if entry.get(name) != value:
            problems.append(f"uninstall entry {name} is {entry.get(name)!r}, expected {value!r}")
    size = entry.get("EstimatedSize")
    if not isinstance(size, int) or size < os.path.getsize(wine.unix_path(tool)) // 1024:
        problems.append(f"uninstall entry EstimatedSize is {size!r}")
    return problems


def check_installer_cycle(wine, setup, sample, work, version, case, places):
    profile, folder, documents, shortcut, send_to = places
    what, before, after, on_path = case
    before = before and before.format(folder=folder)
    after = after.format(folder=folder)
    wine.set_path(before)
    files_before, keys_before = listing(wine.unix_path(profile)), wine.user_keys()

    installed = wine.run([setup, "/S"])
    wine.wait()
    tool = wine.unix_path(folder + "\\foliant.exe")
    if installed.returncode or not os.path.isfile(tool):
        return [f"{what}: the installer (status {installed.returncode}) put no foliant.exe in {folder}"]
    command = ["cmd", "/c", "foliant"] if on_path else [tool]
    problems = check_converts(wine.emulator + command, sample, work, b"book.hdb converted.\r\n", wine.env)
    problems += check_installed(wine, version, folder, documents, shortcut, send_to)
    path = (wine.user_key("Environment") or {}).get("Path")
    if path != after:
        problems.append(f"Path after installing: {path!r}")

    # The uninstaller copies itself to a scratch folder and finishes from there.
    removed = wine.run([wine.unix_path(folder + "\\Uninstall.exe"), "/S"])
    wine.wait()
    if removed.returncode or not harness.poll(lambda: not os.path.exists(wine.unix_path(folder)), 60):
        problems.append(f"the uninstaller (status {removed.returncode}) left {folder}")
    if os.path.exists(wine.unix_path(send_to)):
        problems.append("the Send to shortcut is left")
    files_after, keys_after = listing(wine.unix_path(profile)), wine.user_keys()
    if files_after != files_before:
        problems.append(f"files left {sorted(files_after - files_before)}, lost {sorted(files_before - files_after)}")
    if keys_after != keys_before:
        problems.append(f"registry keys left {sorted(keys_after - keys_before)}, "
                        f"lost {sorted(keys_before - keys_after)}")
    path = (wine.user_key("Environment") or {}).get("Path")
    if path != before:
        problems.append(f"Path after uninstalling: {path!r}")
    return [f"{what}: {problem}" for problem in problems]


def check_installer_image(setup):
    """A 64-bit program (a 64-bit-only system runs no other) that asks for no elevation."""
    # Debian's python3-pefile, which the Windows build's tests run under /usr/bin/python3 for.
    import pefile
    from check_resources import RT_MANIFEST, manifest_settings, resources
    pe = pefile.PE(setup)
    problems = []
    if (pe.OPTIONAL_HEADER.Magic, pe.FILE_HEADER.Machine) != (0x20B, pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_AMD64"]):
        problems.append("the installer is not a 64-bit (PE32+, x86-64) program")
    manifests = list(resources(pe).get(RT_MANIFEST, {}).values())
    level = manifest_settings(manifests[0]).get("requestedExecutionLevel") if len(manifests) == 1 else None
    if level != "asInvoker":
        problems.append(f"the installer's manifest asks for the execution level {level!r}")
    return problems


def check_installer(packages, sample, work, emulator, version, ca=None):
    (name,) = [n for n in os.listdir(packages) if n.endswith("-setup.exe")]
    setup = os.path.join(packages, name)
    problems = check_installer_image(setup)
    if problems:
        return problems

    try:
        wine = Wine(emulator, os.path.join(work, "wine"))
    except RuntimeError as error:
        return [str(error)]
    profile = wine.run(["cmd", "/c", "echo %USERPROFILE%"]).stdout.decode().strip()
    folders = {name: value.replace("%USERPROFILE%", profile)
               for name, value in (wine.user_key(SHELL_FOLDERS_KEY) or {}).items()}
    places = (profile, folders.get("Local AppData", "") + r"\Programs\foliant", folders.get("Personal"),
              folders.get("Programs", "") + r"\foliant.lnk",
              folders.get("SendTo", "") + r"\foliant (convert to HDB).lnk")
    for case in PATH_CASES:
        problems += check_installer_cycle(wine, setup, sample, work, version, case, places)
    if ca:
        problems += check_explorer_verb(wine, setup, sample, work, ca, places[1])
    return problems

def make_signing_key(work):
    """A throwaway CA and a code-signing certificate it issued; returns the
    environment that makes cpack sign with them, and the CA's file."""
    folder = os.path.join(work, "signing")
    os.mkdir(folder)
    with open(os.path.join(folder, "signer.cnf"), "w") as f:
        f.write("basicConstraints=CA:false\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n")
    for command in (
            ["req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.pem", "-days", "2",
             "-subj", "/CN=foliant test CA", "-addext", "basicConstraints=critical,CA:true",
             "-addext", "keyUsage=critical,keyCertSign"],
            ["req", "-newkey", "rsa:2048", "-nodes", "-keyout", "key.pem", "-out", "signer.csr",
             "-subj", "/CN=foliant test signer"],
            ["x509", "-req", "-in", "signer.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-set_serial", "1",
             "-days", "2", "-extfile", "signer.cnf", "-out", "cert.pem"]):
        run(["openssl"] + command, cwd=folder, check=True)
    env = dict(os.environ, FOLIANT_SIGNING_CERT=os.path.join(folder, "cert.pem"),
               FOLIANT_SIGNING_KEY=os.path.join(folder, "key.pem"))
    return env, os.path.join(folder, "ca.pem")


def check_signed(files, ca):
    """Each (what, path) carries a signature that chains to the CA."""
    problems = []
    for what, path in files:
        verified = run(["osslsigncode", "verify", "-CAfile", ca, "-in", path])
        if verified.returncode or b"Signature verification: ok" not in verified.stdout:
            problems.append(f"{what}: signature not accepted: {verified.stdout.decode(errors='replace')[-400:]!r}")
    return problems


# The stripped foliant.exe is about 260 KiB; a debug build or a stray library
# would take it past this.
SHIPPED_TOOL_BUDGET = 512 * 1024


def check_windows_release(packages, work, version, ca):
    """The zip's foliant.exe: signed, without debug sections or symbols, within
    its budget. The installer: signed, with its version information."""
    import pefile
    from check_resources import fixed_version, version_strings
    (archive,) = [os.path.join(packages, n) for n in os.listdir(packages) if n.endswith(".zip")]
    (setup,) = [os.path.join(packages, n) for n in os.listdir(packages) if n.endswith("-setup.exe")]
    with zipfile.ZipFile(archive) as z:
        (name,) = [n for n in z.namelist() if n.endswith("/foliant.exe")]
        tool = z.extract(name, os.path.join(work, "release"))
    problems = check_signed([("the zip's foliant.exe", tool), ("the installer", setup)], ca)

    pe = pefile.PE(tool)
    debug = [s.Name.rstrip(b"\0").decode() for s in pe.sections if s.Name.startswith((b".debug", b"/"))]
    if debug or pe.FILE_HEADER.PointerToSymbolTable:
        problems.append(f"the zip's foliant.exe has debug sections {debug} or a symbol table")
    if os.path.getsize(tool) > SHIPPED_TOOL_BUDGET:
        problems.append(f"the zip's foliant.exe has {os.path.getsize(tool)} bytes, over {SHIPPED_TOOL_BUDGET}")

    installer = pefile.PE(setup)
    strings = version_strings(installer)
    expected = {"ProductName": "foliant", "FileVersion": version, "ProductVersion": version,
                "CompanyName": "foliant developers", "FileDescription": "foliant setup"}
    for key, value in expected.items():
        if strings.get(key) != value:
            problems.append(f"the installer's {key} is {strings.get(key)!r}, expected {value!r}")
    if not re.fullmatch(r"Copyright \(c\) \d{4} the foliant developers; MIT License", strings.get("LegalCopyright", "")):
        problems.append(f"the installer's LegalCopyright is {strings.get('LegalCopyright')!r}")
    four_parts = ".".join((version.split(".") + ["0"] * 4)[:4])
    if fixed_version(installer)[1] != four_parts:
        problems.append(f"the installer's fixed product version is {fixed_version(installer)[1]}")
    return problems


VERB_KEY = r"HKCU\Software\Classes\SystemFileAssociations\.txt\shell\foliant"


def reg_values(wine, key):
    """A key's values as `reg query` lists them, {name: data}; None if there is no such key."""
    listed = wine.run(["reg", "query", key])
    if listed.returncode:
        return None
    found = re.findall(r"^    (.+?)    REG_\w+    (.*?)\r?$", listed.stdout.decode(errors="replace"), re.M)
    return dict(found)


def run_verb(wine, command, text, folder):
    """The verb's command line with %1 filled in, run as Explorer runs it, from
    folder. It must be cmd's: the part after "/c" goes into a batch file, which
    cmd reads as it reads that part (there is no other % in it)."""
    start = re.match(r'"([A-Za-z]:\\[^"]*\\cmd\.exe)" /d /c ', command, re.I)
    if not start or "%" in command.replace("%1", ""):
        return f"the verb's command is not cmd's /d /c with %1 alone: {command!r}"
    with open(os.path.join(folder, "verb.bat"), "w", newline="\r\n") as f:
        f.write("@" + command[start.end():].replace("%1", text) + "\n")
    ran = wine.run(["cmd", "/d", "/c", "verb.bat"], cwd=folder, stdin=subprocess.DEVNULL)
    return None if ran.returncode == 0 else f"the verb's command: status {ran.returncode}, {ran.stdout!r}"


def check_explorer_verb(wine, setup, sample, work, ca, folder):
    """After a silent install: the installed programs are signed, the verb's
    keys are there, and its command, run from a folder that is not the
    text's, writes the .hdb beside the text. A silent uninstall removes the keys."""
    wine.run([setup, "/S"])
    wine.wait()
    tool = folder + "\\foliant.exe"
    problems = check_signed([("the installed foliant.exe", wine.unix_path(tool)),
                             ("the installed Uninstall.exe", wine.unix_path(folder + "\\Uninstall.exe"))], ca)
    verb = reg_values(wine, VERB_KEY) or {}
    if (verb.get("(Default)"), verb.get("Icon"), verb.get("MultiSelectModel")) != ("Convert to HDB", tool, "Document"):
        problems.append(f"the verb's key holds {verb}")
    command = (reg_values(wine, VERB_KEY + "\\command") or {}).get("(Default)", "")
    if f'"{tool}" "%1"' not in command:
        problems.append(f"the verb's command does not run {tool} on %1: {command!r}")

    texts = tempfile.mkdtemp(prefix="texts ", dir=work)  # a blank in the folder's name
    elsewhere = tempfile.mkdtemp(prefix="elsewhere-", dir=work)
    shutil.copy(sample, texts)
    text = "Z:" + os.path.join(texts, "book.txt").replace("/", "\\")
    failure = run_verb(wine, command, text, elsewhere)
    output = os.path.join(texts, "book.hdb")
    if failure:
        problems.append(failure)
    elif not harness.poll(lambda: os.path.exists(output) and os.path.getsize(output) > 0, 60):
        problems.append(f"the verb wrote no book.hdb beside the text; in the folder it ran from: "
                        f"{sorted(os.listdir(elsewhere))}")
    else:
        wine.wait()
        with open(sample, "rb") as f, open(output, "rb") as g:
            if read_hdb(g.read()) != (b"book.txt", f.read()):
                problems.append("the verb's output does not hold the text")

    wine.run([wine.unix_path(folder + "\\Uninstall.exe"), "/S"])
    wine.wait()
    harness.poll(lambda: not os.path.exists(wine.unix_path(folder)), 60)
    if reg_values(wine, VERB_KEY) is not None:
        problems.append("the verb's key is left after uninstalling")
    return [f"Explorer verb: {problem}" for problem in problems]


def main():
    parser = harness.parser(tool=False, platform=False)
    parser.add_argument("--build", required=True)
    parser.add_argument("--sample", required=True)
    parser.add_argument("--version", required=True, help="the project's version, e.g. 0.1.0")
    options = parser.parse_args()
    report = harness.Report()
    with harness.scratch("foliant-package-") as work:
        packages = os.path.join(work, "packages")
        # The Windows packages signed with a throwaway key, as tools/package.sh signs with the real one.
        env, ca = make_signing_key(work) if options.emulator else (None, None)
        made = run(["cpack", "-B", packages], cwd=options.build, env=env)
        if made.returncode:
            report.case("cpack", [(made.stdout + made.stderr).decode(errors="replace")])
        elif options.emulator:
            report.case("the zip archive", check_zip(packages, options.sample, work, options.emulator))
            report.case("the Windows release", check_windows_release(packages, work, options.version, ca))
            report.case("the installer", check_installer(packages, options.sample, work, options.emulator,
                                                         options.version, ca))
        else:
            report.case("the .deb package", check_deb(packages, options.sample, work))
            report.case("the .deb as Debian checks it", check_deb_policy(packages, work, options.version))
            root = os.path.join(work, "root")
            report.case("the file managers' actions", check_actions(root, work))
            report.case("the recipes for GNOME Files and Thunar", check_recipes(root, work))
            report.case("the .hdb type", check_mime(root, work))
            report.case("the shells' completion", check_completion(root, work))
            report.case("a plain install", check_plain_install(options.build, work))
            report.case("the .rpm package", check_rpm(packages, options.sample, work))
    return report.close()


if __name__ == "__main__":
    sys.exit(main())
