#!/usr/bin/env python3
"""Builds the release package of a build folder with CPack, unpacks it into a
scratch folder without touching the system, and runs the packaged tool on
the sample text. For the .deb also: its declared dependencies, the man page
(it must render without a single warning) and the desktop entry."""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from hdb_reader import read_hdb  # noqa: E402


def run(command, **kwargs):
    return subprocess.run(command, capture_output=True, timeout=300, **kwargs)


def check_converts(command, sample, work, line):
    problems = []
    folder = os.path.join(work, "try")
    os.mkdir(folder)
    shutil.copy(sample, folder)
    result = run(command + ["book.txt"], cwd=folder, stdin=subprocess.DEVNULL)
    if (result.returncode, result.stdout) != (0, line):
        problems.append(f"packaged tool: status {result.returncode}, stdout {result.stdout!r}")
    else:
        with open(sample, "rb") as f, open(os.path.join(folder, "book.hdb"), "rb") as g:
            if read_hdb(g.read()) != (b"book.txt", f.read()):
                problems.append("packaged tool: the output does not hold the sample")
    return problems


def check_deb(packages, sample, work):
    problems = []
    (deb,) = [os.path.join(packages, n) for n in os.listdir(packages) if n.endswith(".deb")]
    recommends = run(["dpkg-deb", "--field", deb, "Recommends"], check=True).stdout.decode().strip()
    if recommends != "zenity | kdialog, xdg-utils":
        problems.append(f"Recommends: {recommends!r}")
    depends = run(["dpkg-deb", "--field", deb, "Depends"], check=True).stdout.decode()
    if "libc6" not in depends or "zenity" in depends:
        problems.append(f"Depends: {depends!r}")
    root = os.path.join(work, "root")
    run(["dpkg-deb", "--extract", deb, root], check=True)

    manual = os.path.join(root, "usr/share/man/man1/foliant.1")
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
        if "Exec=foliant\n" not in f.read():
            problems.append("desktop entry does not start the interactive mode")

    return problems + check_converts([os.path.join(root, "usr/bin/foliant")], sample, work, b"book.hdb converted.\n")


def check_zip(packages, sample, work, emulator):
    (archive,) = [os.path.join(packages, n) for n in os.listdir(packages) if n.endswith(".zip")]
    with zipfile.ZipFile(archive) as z:
        names = sorted(os.path.basename(n) for n in z.namelist())
        z.extractall(os.path.join(work, "unzipped"))
    if names != ["README.txt", "foliant.exe"]:
        return [f"zip holds {names}"]
    (top,) = os.listdir(os.path.join(work, "unzipped"))
    tool = os.path.join(work, "unzipped", top, "foliant.exe")
    return check_converts(emulator + [tool], sample, work, b"book.hdb converted.\r\n")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--sample", required=True)
    parser.add_argument("--emulator", default="")
    options = parser.parse_args()
    emulator = [part for part in options.emulator.split(";") if part]
    work = tempfile.mkdtemp(prefix="foliant-package-", dir="/var/tmp")
    try:
        packages = os.path.join(work, "packages")
        made = run(["cpack", "-B", packages], cwd=options.build)
        if made.returncode:
            print(made.stdout.decode() + made.stderr.decode())
            problems = ["cpack failed"]
        elif emulator:
            problems = check_zip(packages, options.sample, work, emulator)
        else:
            problems = check_deb(packages, options.sample, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    for problem in problems:
        print("FAIL " + problem)
    print(f"{0 if problems else 1} passed, {1 if problems else 0} failed")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
