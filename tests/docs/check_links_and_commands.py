#!/usr/bin/env python3
"""The documents hold together: every relative link in README.md,
CONTRIBUTING.md and docs/*.md names a file or folder of the tree, and a
link's #anchor names a heading of its Markdown file (by GitHub's rule:
lower case, punctuation dropped, each blank a hyphen, -1, -2, ... for a
repeated heading). And the README's two commands are the ones that are run:
the first is a line of the first-command test's script, the second what the
CI script execs. And a code block whose first line starts with "$ " is a
session that is true: each command runs in sh, in a scratch folder of the
block's own with the built tool first on PATH as `foliant`, and must print
exactly the lines that follow it (docs/format.md's dump of a small text).

Prints each problem and ends with 1 then."""

import argparse
import glob
import os
import re
import subprocess
import sys
import tempfile
import unicodedata
from urllib.parse import unquote

INLINE = re.compile(r"!?\[(?:[^\]\\]|\\.)*\]\(\s*(<[^>]*>|[^)\s]+)(?:\s+\"[^\"]*\")?\s*\)")
DEFINITION = re.compile(r"^ {0,3}\[(?!\^)[^\]]+\]:[ \t]*(<[^>]*>|\S+)", re.MULTILINE)
SCHEME = re.compile(r"^[A-Za-z][A-Za-z0-9+.-]*:|^//")
CODE_SPAN = re.compile(r"(`+)(?:(?!\1).)+?\1")


def prose(text):
    """The text with its code blocks and code spans blanked, so that links
    there do not count; lines stay where they are."""
    lines, fenced, in_block, previous_blank = [], False, False, True
    for line in text.splitlines():
        if line.lstrip().startswith(("```", "~~~")):
            fenced = not fenced
            lines.append("")
            continue
        in_block = line.startswith("    ") and (previous_blank or in_block)
        previous_blank = not line.strip()
        lines.append("" if fenced or in_block else CODE_SPAN.sub(lambda m: " " * len(m[0]), line))
    return "\n".join(lines)


def code_lines(lines):
    """The lines of the code blocks (indented or fenced) among `lines`."""
    found, fenced = [], False
    for line in lines:
        if line.lstrip().startswith(("```", "~~~")):
            fenced = not fenced
        elif fenced or (line.startswith("    ") and line.strip()):
            found.append(line.strip())
    return found


def blocks(lines):
    """(line number, lines) of each code block (indented or fenced) among
    `lines`, its indentation taken off."""
    found, fenced, current = [], False, None
    for number, line in enumerate(lines, 1):
        if line.lstrip().startswith(("```", "~~~")):
            fenced = not fenced
            current = [number + 1, []] if fenced else None
            if fenced:
                found.append(current)
        elif fenced:
            current[1].append(line)
        elif line.startswith("    ") or (current and not line.strip()):
            if current is None:
                current = [number, []]
                found.append(current)
            current[1].append(line[4:])
        else:
            current = None
    return [(number, [line.rstrip() for line in block]) for number, block in found]


def check_sessions(root, documents, tool):
    """Runs every session block; returns the problems and how many ran."""
    problems, count = [], 0
    for document in documents:
        with open(document, encoding="utf-8") as f:
            lines = f.read().splitlines()
        for number, block in blocks(lines):
            while block and not block[-1]:
                block.pop()
            if not block or not block[0].startswith("$ "):
                continue
            count += 1
            with tempfile.TemporaryDirectory() as scratch:
                bin_folder = os.path.join(scratch, ".bin")
                os.mkdir(bin_folder)
                os.symlink(tool, os.path.join(bin_folder, "foliant"))
                environment = dict(os.environ, PATH=bin_folder + os.pathsep + os.environ["PATH"], LC_ALL="C")
                i = 0
                while i < len(block):
                    command, expected = block[i][2:], []
                    i += 1
                    while i < len(block) and not block[i].startswith("$ "):
                        expected.append(block[i])
                        i += 1
                    ran = subprocess.run(["sh", "-c", command], cwd=scratch, env=environment,
                                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)
                    got = [line.rstrip() for line in ran.stdout.decode(errors="replace").splitlines()]
                    if got != expected or ran.returncode != 0:
                        differs = next((n for n, pair in enumerate(zip(got, expected)) if pair[0] != pair[1]),
                                       min(len(got), len(expected)))
                        problems.append(f"{os.path.relpath(document, root)}:{number}: {command!r} ended with "
                                        f"{ran.returncode}; its output line {differs + 1} is "
                                        f"{(got[differs:] or ['(none)'])[0]!r}, the page says "
                                        f"{(expected[differs:] or ['(none)'])[0]!r}")
    return problems, count


def slug(heading):
    """GitHub's anchor for a heading's text."""
    text = re.sub(r"!?\[([^\]]*)\]\([^)]*\)", r"\1", heading)  # a link shows its text
    text = text.replace("*", "").lower()
    kept = "".join(c for c in text if c in " -_" or unicodedata.category(c)[0] in "LNM")
    return kept.replace(" ", "-")


def anchors(path):
    found, fenced = set(), False
    counts = {}
    with open(path, encoding="utf-8") as f:
        for line in f.read().splitlines():
            if line.lstrip().startswith(("```", "~~~")):
                fenced = not fenced
                continue
            heading = re.match(r"^ {0,3}#{1,6}\s+(.*?)(?:\s+#+)?\s*$", line)
            if heading and not fenced:
                base = slug(heading[1])
                n = counts.get(base, 0)
                counts[base] = n + 1
                found.add(base if n == 0 else f"{base}-{n}")
    return found


def check_links(root, documents):
    problems, links = [], 0
    for document in documents:
        with open(document, encoding="utf-8") as f:
            text = prose(f.read())
        # A link's text may run over several lines.
        found = [(m.start(), m[1]) for m in INLINE.finditer(text)]
        found += [(m.start(), m[1]) for m in DEFINITION.finditer(text)]
        for start, target in sorted(found):
            number = text.count("\n", 0, start) + 1
            target = target.strip("<>")
            if SCHEME.match(target):
                continue
            links += 1
            where = f"{os.path.relpath(document, root)}:{number}: {target}"
            path, _, anchor = target.partition("#")
            path = unquote(path)
            if not path:
                resolved = document
            elif path.startswith("/"):
                resolved = os.path.normpath(os.path.join(root, path.lstrip("/")))
            else:
                resolved = os.path.normpath(os.path.join(os.path.dirname(document), path))
            if os.path.commonpath([root, resolved]) != root:
                problems.append(f"{where}: leads out of the tree")
            elif not os.path.exists(resolved):
                problems.append(f"{where}: no such file")
            elif anchor and not resolved.endswith(".md"):
                problems.append(f"{where}: an anchor into a file that is not Markdown")
            elif anchor and unquote(anchor) not in anchors(resolved):
                problems.append(f"{where}: no heading with that anchor")
    return problems, links


def check_commands(readme, first_command_script, ci_script, section_title):
    with open(readme, encoding="utf-8") as f:
        lines = f.read().splitlines()
    start = next((i for i, line in enumerate(lines) if line.startswith("#") and section_title in line), None)
    if start is None:
        return [f"{readme}: no section {section_title!r}"]
    end = next((i for i in range(start + 1, len(lines)) if lines[i].startswith("#")), len(lines))
    commands = code_lines(lines[start + 1:end])
    if len(commands) != 2:
        return [f"{readme}: {section_title!r} should hold two commands, holds {commands}"]
    build, test = commands
    problems = []
    with open(first_command_script, encoding="utf-8") as f:
        if build not in (line.strip() for line in f):
            problems.append(f"{readme}: the first command {build!r} is not what {first_command_script} runs")
    with open(ci_script, encoding="utf-8") as f:
        execs = [line.split(None, 1)[1].strip() for line in f if re.match(r"^exec\s", line)]
    if execs != [test]:
        problems.append(f"{readme}: the test command {test!r} is not what {ci_script} runs: exec {execs}")
    return problems


def main():
    arguments = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    arguments.add_argument("--root", required=True, help="the top of the source tree")
    arguments.add_argument("--first-command", default="tests/package/check_first_command.sh",
                           help="the script that runs the README's first command (relative to the root)")
    arguments.add_argument("--ci", default=".ci/run", help="the CI script (relative to the root)")
    arguments.add_argument("--commands-section", default="Two commands")
    arguments.add_argument("--tool", required=True, type=os.path.abspath,
                           help="the built tool, which the sessions run as foliant")
    options = arguments.parse_args()

    root = os.path.realpath(options.root)
    readme = os.path.join(root, "README.md")
    documents = [readme, os.path.join(root, "CONTRIBUTING.md")]
    documents += sorted(glob.glob(os.path.join(root, "docs", "*.md")))
    missing = [d for d in documents if not os.path.isfile(d)]
    if missing or len(documents) < 3:
        print(f"documents missing: {missing or 'docs/*.md'}")
        return 1

    problems, links = check_links(root, documents)
    # A reader that finds no link would pass every document.
    if links < len(documents):
        problems.append(f"found only {links} relative links in {len(documents)} documents")
    problems += check_commands(readme, os.path.join(root, options.first_command), os.path.join(root, options.ci),
                               options.commands_section)
    found, sessions = check_sessions(root, documents, options.tool)
    problems += found
    if not sessions:
        problems.append("found no session (a code block whose first line starts with \"$ \") to run")
    for problem in problems:
        print(problem)
    print(f"{len(documents)} documents, {links} relative links, {sessions} sessions, {len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
