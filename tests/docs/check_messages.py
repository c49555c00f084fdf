#!/usr/bin/env python3
"""Every message the tool can print is in the manual. A message is any
string literal of src/ (adjacent ones joined, as the compiler joins them),
whichever function it is handed to, that starts with "error: " or ends a
line (the success line, the usage text, the closing prompts), and any
literal handed to print() or report() (the question that waits on its line).
Each must be an entry of the messages section of each document given: in
Markdown a `code span` or a line of a code block, in a man page an item's
tag or a line of a no-fill block. A name's "%s" is NAME in Markdown and
`name` in the man page.

Prints each message missing from a document and ends with 1 then."""

import argparse
import os
import re
import sys

# Comments, character literals and string literals (plain, prefixed or raw),
# in the order they come, so that a quote in a comment or a character starts
# no string.
TOKEN = re.compile(r"//[^\n]*|/\*.*?\*/|'(?:[^'\\\n]|\\.)*'"
                   r'|(?:u8|u|U|L)?R"(?P<delimiter>[^(\s]*)\((?P<raw>.*?)\)(?P=delimiter)"'
                   r'|(?:u8|u|U|L)?"(?P<body>(?:[^"\\\n]|\\.)*)"', re.DOTALL)
ESCAPE = re.compile(r"\\(x[0-9A-Fa-f]+|[0-7]{1,3}|.)")
C_ESCAPES = {"n": "\n", "r": "\r", "t": "\t", "a": "\a", "b": "\b", "f": "\f", "v": "\v"}
COMMENT = re.compile(r"//[^\n]*|/\*.*?\*/", re.DOTALL)
# The console's own printing calls, for a literal that ends no line.
PRINTING_CALL = re.compile(r"\b(?:print|report)\s*\(\s*$")


def c_string(body):
    def unescaped(m):
        code = m[1]
        if code[0] == "x":
            return chr(int(code[1:], 16))
        if code[0] in "01234567":
            return chr(int(code, 8))
        return C_ESCAPES.get(code, code)
    return ESCAPE.sub(unescaped, body)


def literals(code):
    """(the text, the code before it) of each run of adjacent string literals
    (nothing but blanks and comments between them)."""
    found, joined_until = [], None
    for token in TOKEN.finditer(code):
        if token[0][0] in "/'":  # a comment, or a character, which ends a run
            if token[0][0] == "'":
                joined_until = None
            continue
        text = token["raw"] if token["raw"] is not None else c_string(token["body"])
        between = COMMENT.sub("", code[joined_until:token.start()]) if joined_until is not None else "x"
        if between.strip():
            found.append([text, code[max(0, token.start() - 200):token.start()]])
        else:
            found[-1][0] += text
        joined_until = token.end()
    return found


def is_message(text, before):
    return text.startswith("error: ") or text.endswith("\n") or bool(PRINTING_CALL.search(before))


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
            for text, before in literals(code):
                if not is_message(text, before):
                    continue
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
