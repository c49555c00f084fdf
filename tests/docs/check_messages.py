#!/usr/bin/env python3
"""Every message the tool can print is in the manual: each string literal
that src/ hands to console::print or report() (the "error: ..." lines, the
success line, the usage text, the prompts) must be an entry of the
messages section of each document given: in Markdown a `code span` or a
line of a code block, in a man page an item's tag or a line of a no-fill
block. A name's "%s" is NAME in Markdown and `name` in the man page.

Prints each message missing from a document and ends with 1 then."""

import argparse
import os
import re
import sys

# The first argument of a call, when it is a string literal (or several
# that the compiler joins).
CALL = re.compile(r'\b(?:print|report)\s*\(\s*((?:"(?:[^"\\\n]|\\.)*"\s*)+)')
LITERAL = re.compile(r'"((?:[^"\\\n]|\\.)*)"')
C_ESCAPES = {"n": "\n", "r": "\r", "t": "\t", '"': '"', "\\": "\\", "'": "'", "a": "\a", "b": "\b", "f": "\f",
             "v": "\v", "0": "\0"}


def c_string(body):
    return re.sub(r"\\(.)", lambda m: C_ESCAPES[m[1]], body)


def messages(sources):
    """{message line: the file that prints it}; a literal of several lines
    gives each of its non-empty lines."""
    found = {}
    for root, _, names in os.walk(sources):
        for name in sorted(names):
            if not name.endswith((".cpp", ".h")):
                continue
            path = os.path.join(root, name)
            with open(path, encoding="utf-8") as f:
                code = f.read()
            for call in CALL.finditer(code):
                text = "".join(c_string(body) for body in LITERAL.findall(call[1]))
                for line in text.replace("\r", "").split("\n"):
                    if line.strip():
                        found.setdefault(normal(line), path)
    return found


def normal(line):
    return " ".join(line.split())


def section(lines, is_heading, title):
    """The lines from the heading that holds `title` up to the next heading."""
    for start, line in enumerate(lines):
        if is_heading(line) and title in line:
            end = next((i for i in range(start + 1, len(lines)) if is_heading(lines[i])), len(lines))
            return lines[start + 1:end]
    raise SystemExit(f"no section {title!r}")


def markdown_entries(path, title):
    lines = section(open(path, encoding="utf-8").read().splitlines(), lambda l: l.startswith("#"), title)
    entries, fenced = set(), False
    for line in lines:
        if line.startswith("```"):
            fenced = not fenced
        elif fenced or line.startswith("    "):
            entries.add(normal(line))
        else:
            entries.update(normal(span) for span in re.findall(r"`([^`]+)`", line))
    return entries


def roff_text(text):
    """What the man page shows for a line of text."""
    text = re.sub(r"\\f(?:\[[^]]*\]|\(..|.)", "", text)  # font changes
    for escape, shown in (("\\-", "-"), ("\\(dq", '"'), ("\\e", "\\"), ("\\&", ""), ("\\ ", " ")):
        text = text.replace(escape, shown)
    return text


def roff_macro(line):
    """What a font macro line (.B, .BI, ...) shows: .B and .I join their
    words with blanks, the alternating ones without."""
    macro, _, rest = line.partition(" ")
    words = [w[1:-1] if w.startswith('"') else w for w in re.findall(r'"[^"]*"|\S+', rest)]
    return roff_text((" " if macro in (".B", ".I") else "").join(words))


def man_entries(path, title):
    lines = section(open(path, encoding="utf-8").read().splitlines(), lambda l: l.startswith(".SH"), title)
    entries, no_fill = set(), False
    for i, line in enumerate(lines):
        if line.startswith(".nf"):
            no_fill = True
        elif line.startswith(".fi"):
            no_fill = False
        elif no_fill and not line.startswith("."):
            entries.add(normal(roff_text(line)))
        elif line.startswith(".TP") and i + 1 < len(lines):
            tag = lines[i + 1]
            entries.add(normal(roff_macro(tag) if tag.startswith(".") else roff_text(tag)))
    return entries


def main():
    arguments = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    arguments.add_argument("--sources", required=True, help="the folder of the C++ sources")
    arguments.add_argument("--markdown", action="append", default=[], help="a Markdown document")
    arguments.add_argument("--man", action="append", default=[], help="a man page")
    arguments.add_argument("--markdown-section", default="Messages and exit status")
    arguments.add_argument("--man-section", default="MESSAGES")
    options = arguments.parse_args()

    found = messages(options.sources)
    # A reader that finds nothing would pass every document.
    if not any(line.startswith("error: ") for line in found) or "%s converted." not in found:
        print(f"found too few messages in {options.sources}: {sorted(found)}")
        return 1
    documents = [(path, markdown_entries(path, options.markdown_section), "NAME") for path in options.markdown]
    documents += [(path, man_entries(path, options.man_section), "name") for path in options.man]
    missing = 0
    for path, entries, placeholder in documents:
        for line, source in sorted(found.items()):
            if line.replace("%s", placeholder) not in entries:
                print(f"{path}: missing {line!r} (printed in {source})")
                missing += 1
    print(f"{len(found)} messages, {len(documents)} documents, {missing} missing")
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main())
