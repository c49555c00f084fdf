#!/usr/bin/env python3
"""Mutation check: makes one small, plausible fault in src/, rebuilds the
native build, runs its tests and says whether they noticed, then puts the
file back. Each mutation is a file, a text that must occur there exactly
once, and the text that replaces it. A fault in a file only the Windows
build compiles (*_win.*, windows_text.cpp) is tried on that build, whose
tests run under Wine; every other one on the native build.

    tools/mutate.py                 every mutation in the table
    tools/mutate.py --list          the table, numbered
    tools/mutate.py 3 7 close       only these (numbers or words of the description)
    tools/mutate.py --tests 'e2e|interrupt' 3 7
                                    only the tests matching that (a quicker look;
                                    a mutation they miss may still be caught)

A mutation whose text is not found (the code has moved on) is reported as
"n/a" and left out of the rate; one that does not build is "no build". A
failed test is run once more: one that then passes (a machine under load)
does not count as catching the fault.
The lint test is not run (see EXCLUDED_TESTS).
This is a tool for checking the tests, not part of the test command.
"""

import argparse
import os
import re
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
LOG_FOLDER = os.path.join(ROOT, "build", "mutations")  # the tests' output for each caught one
TEST_TIMEOUT = 600  # seconds for one whole test run; a hang counts as caught
# Left out of every run: lint checks the code's form, not its behaviour, and
# took most of a run's time (two of three minutes).
EXCLUDED_TESTS = "^lint$"

CONVERTER = "src/hdb/converter.cpp"
WRITTEN = "src/hdb/written_outputs.cpp"
LAUNCHER = "src/cli/convert_beside.cpp"
FILE_SYSTEM = "src/platform/file_system_posix.cpp"
FILE_NAMES = "src/hdb/file_names.cpp"
FORMAT = "src/hdb/hdb_format.cpp"
DISPATCH = "src/cli/dispatch.cpp"
BATCH = "src/cli/batch_mode.cpp"
LISTING = "src/platform/directory_listing_posix.cpp"
DESKTOP = "src/platform/desktop_posix.cpp"
PROCESS = "src/platform/process_posix.cpp"
CONSOLE = "src/platform/console_posix.cpp"
DESCRIPTORS = "src/platform/descriptors_posix.h"
UNNAMED = "src/platform/unnamed_file_linux.cpp"
UTF8 = "src/platform/utf16.cpp"
WIN_FILE_SYSTEM = "src/platform/file_system_win.cpp"
WIN_LISTING = "src/platform/directory_listing_win.cpp"
WIN_PROCESS = "src/platform/process_win.cpp"
WINDOWS_ONLY = re.compile(r"_win\.(cpp|h)$|windows_text\.cpp$")

SUCCESS_LINE = '''        report("%s converted.\\n", names[i]);'''
TAKE_NAME = """        if (result != fs::PendingFile::CommitResult::committed) {
            files.clear();
            if (result == fs::PendingFile::CommitResult::refused)
                report("error: output already written in this run: %s\\r\\n", names[i]);
            else report("error: file not created\\r\\n");
            return failed();
        }
""" + SUCCESS_LINE
RENAME_INTO_PLACE = """        if (::rename(s.entry->name, name_.c_str()) != 0) {
            discard();"""
# The batch's flush, in makeDurable(), and the last step of takeName().
FLUSH = """    if (files.empty()) return 0;
    const int first"""
NAME_TAKEN = """    (void)file_.close();
    return CommitResult::committed;"""
PRINT_LOOP = "    (void)posix::writeFully(STDOUT_FILENO, text.data(), text.size());"
OUT_OF_MEMORY = """    try {
        outcome = runMode(arguments);
    } catch (const std::bad_alloc&) {
        // The unwinding has discarded any output in the making.
        console::print("error: out of memory\\r\\n");
    }"""

# (description, file, old text, new text); old and new may be tuples of
# texts, each replaced by its partner.
MUTATIONS = [
    # The move into place.
    # (Skipping discard() there changes nothing: the destructor discards.)
    ("failed rename over an earlier output ignored", FILE_SYSTEM, RENAME_INTO_PLACE,
     RENAME_INTO_PLACE.replace("if (::rename(s.entry->name, name_.c_str()) != 0) {",
                               "if (::rename(s.entry->name, name_.c_str()) != 0 && false) {")),
    ("success line before the move", CONVERTER, TAKE_NAME,
     SUCCESS_LINE + "\n" + TAKE_NAME.replace("\n" + SUCCESS_LINE, "")),
    ("failed move reported as success", CONVERTER,
     "if (result != fs::PendingFile::CommitResult::committed) {",
     "if (result != fs::PendingFile::CommitResult::committed && false) {"),
    # One output per name and run, whatever name reaches it.
    ("an output reached by another name is not that output", WRITTEN,
     "if (there.id != fs::FileId{} && byId_.any(", "if (false && byId_.any("),
    ("an output's own name not asked whether it still holds it", WRITTEN,
     "return fs::inspectPath(earlier.name).id == earlier.id;", "return !earlier.name.empty();"),
    # Natively caught only on vfat or a casefold ext4, which this kernel may
    # lack; the Windows rows catch it under Wine.
    ("no check as an output takes its name", CONVERTER, "return !wrote(names[i], there);", "return true;"),
    # A failed run's announced names are made durable too.
    ("a failing run leaves its folder unsynced", CONVERTER,
     "    if (!written_.all().empty()) (void)fs::syncCurrentFolder(written_.all().back().name);", ""),
    ("no name check before writing", CONVERTER, "if (existing.kind != fs::PathKind::missing) {",
     "if (existing.kind != fs::PathKind::missing && existing.kind != fs::PathKind::impossibleName) {"),
    ("over-long name counts as missing", FILE_SYSTEM, "errno == ENAMETOOLONG ? PathKind::impossibleName",
     "false ? PathKind::impossibleName"),
    # Durable before named, and what a replacement keeps.
    ("close error ignored", FILE_SYSTEM, "if (duplicate >= 0 && ::close(duplicate) != 0) return i;",
     "if (duplicate >= 0 && ::close(duplicate) != 0 && false) return i;"),
    ("close errors asked nowhere", FILE_SYSTEM, "        if (traits.closeReports) {", "        if (false) {"),
    ("close errors asked on local disks too", FILE_SYSTEM, "        if (traits.closeReports) {", "        if (true) {"),
    ("duplicate not closed before naming", FILE_SYSTEM, "const int duplicate = ::dup(file);",
     "const int duplicate = -1;"),
    ("no sync before naming", FILE_SYSTEM, "        if (!syncData(fd(files[i].file_.nativeHandle()))) return i;",
     "        (void)i;"),
    ("no syncfs before naming a batch", FILE_SYSTEM, "return syncFileSystem(first) ? files.size() : 0;",
     "return files.size();"),
    ("a batch's failed syncfs ignored", FILE_SYSTEM, "return syncFileSystem(first) ? files.size() : 0;",
     "return (void)syncFileSystem(first), files.size();"),
    ("failed sync of one file ignored", FILE_SYSTEM, "        if (errno != EINTR) return false;\n    return true;",
     "        if (errno != EINTR) return true;\n    return true;"),
    ("batch named before its flush", FILE_SYSTEM, (FLUSH, NAME_TAKEN),
     ("    return files.size();\n    const int first", "    (void)syncData(file);\n" + NAME_TAKEN)),
    ("close error after the rename deletes the output", FILE_SYSTEM,
     "    (void)file_.close();\n    return CommitResult::committed;",
     "    if (!file_.close()) {\n        ::unlink(name_.c_str());\n        return CommitResult::notWritten;\n    }\n"
     "    return CommitResult::committed;"),
    ("no /proc when naming by descriptor is refused", UNNAMED, "        emptyPathRefused = true;\n",
     "        return false;\n"),
    ("folder not synced at the end", CONVERTER,
     "if (written.empty() || fs::syncCurrentFolder(written.back().name) == fs::FolderSync::synced) return true;",
     "return true;"),
    ("failed folder sync ignored", FILE_SYSTEM, "synced = errno == EINVAL || errno == EROFS;", "synced = true;"),
    ("drop box not synced through an output", FILE_SYSTEM,
     "    int output = ::open(anOutput.c_str(), O_RDONLY",
     "    return FolderSync::failed;\n    int output = ::open(anOutput.c_str(), O_RDONLY"),
    ("earlier output's mode not kept", FILE_SYSTEM, "(void)::fchmod(file, st.st_mode & 0777);", ""),
    ("setuid and setgid bits kept", FILE_SYSTEM, "(void)::fchmod(file, st.st_mode & 0777);",
     "(void)::fchmod(file, st.st_mode & 07777);"),
    ("earlier output's ACL not kept", FILE_SYSTEM, 'ACCESS_ACL = "system.posix_acl_access";',
     'ACCESS_ACL = "system.posix_acl_default";'),
    # Errors while streaming.
    ("failed write keeps the temporary", FILE_SYSTEM, "        ::unlink(s.entry->name);\n", ""),
    ("read failure reported as a write failure", CONVERTER, "if (streamed == StreamResult::readFailed) return fail(",
     "if (streamed != StreamResult::readFailed) return fail("),
    ("text not read to its end", CONVERTER, "return input.atEnd() ? StreamResult::done : StreamResult::readFailed;",
     "return StreamResult::done;"),
    ("pending outputs not named before a failure's message", CONVERTER,
     "    if (!completeBatch()) return false;\n    if (message.find(", "    if (message.find("),
    ("short read ignored by the converter", CONVERTER,
     "if (!input.readExactly(text.data(), textBytes)) return StreamResult::readFailed;",
     "input.readExactly(text.data(), textBytes);"),
    ("end of file counts as a full read", FILE_SYSTEM, "if (got <= 0) return false;  // error, or the file ended early",
     "if (got < 0) return false;\n        if (got == 0) return true;"),
    ("short write ignored", DESCRIPTORS, "if (written <= 0) return false;", "if (written <= 0) return true;"),
    ("write past the size limit kills", PROCESS, "(void)std::signal(SIGXFSZ, SIG_IGN);", "(void)SIGXFSZ;"),
    ("chunk buffer not restarted", CONVERTER, "block <= lastBlock; used = 0)", "block <= lastBlock;)"),
    # What may stand at the output's name.
    ("links not followed at the output", FILE_SYSTEM, "if (::stat(path.c_str(), &st) != 0)",
     "if (::lstat(path.c_str(), &st) != 0)"),
    ("any non-folder counts as a file", FILE_SYSTEM, "if (S_ISREG(mode)) return PathKind::regularFile;",
     "if (!S_ISDIR(mode)) return PathKind::regularFile;"),
    ("only folders refused at the output", CONVERTER,
     "existing.kind != fs::PathKind::regularFile || existing.readOnly",
     "existing.kind == fs::PathKind::directory || existing.readOnly"),
    ("read-only output replaced", CONVERTER, "existing.kind != fs::PathKind::regularFile || existing.readOnly",
     "existing.kind != fs::PathKind::regularFile"),
    ("write permission not asked", FILE_SYSTEM, "::access(path.c_str(), W_OK) != 0", "false"),
    ("same file not noticed", CONVERTER,
     "existing.id == inputId || existing.id == reopened.id", "false"),
    ("same file under another case not noticed", CONVERTER,
     "(inCurrentFolder(inputName, base) && sameEntry(base, target))",
     "(inCurrentFolder(inputName, base) && base == target)"),
    ("output already written in this run replaced", CONVERTER, "if (wrote(target, existing)) return fail(",
     "if (false) return fail("),
    # The sweep of temporary files that runs now gone left behind.
    ("no sweep", CONVERTER, "    sweepOnce();\n    const PathSyntax syntax", "    const PathSyntax syntax"),
    ("sweep ignores another run's lock", FILE_SYSTEM, "S_ISREG(st.st_mode) ? lockExclusively(opened) : Lock::taken;",
     "S_ISREG(st.st_mode) ? (lockExclusively(opened), Lock::held) : Lock::taken;"),
    # (Removes nothing through a link either way: the name's own entry must be
    # the file opened. Only the opening of the link's target is spared.)
    ("sweep follows links", FILE_SYSTEM, "::open(name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK",
     "::open(name.c_str(), O_RDONLY | O_NONBLOCK"),
    # Signals and messages.
    ("SIGQUIT not among the ending signals", PROCESS, "SIGPIPE, SIGQUIT, SIGUSR1,", "SIGPIPE, SIGUSR1,"),
    ("signals not held across the move and its line", CONVERTER,
     "    const process::SignalsHeld held;\n    for (std::size_t i = 0; i < files.size(); ++i) {",
     "    for (std::size_t i = 0; i < files.size(); ++i) {"),
    ("signal handler removes only the first temporary", FILE_SYSTEM,
     "if (temporary.state == NAMED) (void)::unlink(temporary.name);",
     "if (temporary.state == NAMED) {\n            (void)::unlink(temporary.name);\n            break;\n        }"),
    ("messages buffered by stdio", CONSOLE, PRINT_LOOP,
     "    (void)std::fwrite(text.data(), 1, text.size(), stdout);"),
    ("out of memory not caught", DISPATCH, OUT_OF_MEMORY, "    outcome = runMode(arguments);"),
    # The input.
    ("output beside the input", CONVERTER, "const std::string target = outputName(base, syntax);",
     "const std::string target = outputName(inputName, syntax);"),
    ("any kind of input opened", FILE_SYSTEM, "if (::fstat(opened, &st) != 0 || !S_ISREG(st.st_mode)) {",
     "if (::fstat(opened, &st) != 0 || S_ISDIR(st.st_mode)) {"),
    ("second opening's message names the text", CONVERTER, 'return fail("error: file not found\\r\\n");',
     'return fail("error: file not found: %s\\r\\n", inputName);'),
    ("largest text refused", CONVERTER, "if (textSize > MAX_TEXT_SIZE) return fail(",
     "if (textSize >= MAX_TEXT_SIZE) return fail("),
    ("file handle leaked", FILE_SYSTEM, "const int result = ::close(fd(handle_));", "const int result = 0;"),
    # The command line and "all".
    ("anything starting with all", DISPATCH, 'if (first == "all")', 'if (first.starts_with("all"))'),
    ("anything starting with al", DISPATCH, 'if (first == "all")', 'if (first.starts_with("al"))'),
    ("all with trailing blanks", DISPATCH, 'if (first == "all")',
     'if (first.substr(0, first.find_last_not_of(\' \') + 1) == "all")'),
    (".TXT not a text name", FILE_NAMES, ' || name.find(".TXT") != std::string_view::npos', ""),
    ("batch goes on after a failure", BATCH, "if (!session.convertEntry(name, output)) return Outcome::failed;",
     "session.convertEntry(name, output);"),
    ("batch takes only .txt", BATCH, "if (!hdb::namesTextFile(name) || hdb::endsWithHdb(name)) continue;",
     'if (name.find(".txt") == std::string::npos || hdb::endsWithHdb(name)) continue;'),
    ("batch converts outputs", BATCH, "if (!hdb::namesTextFile(name) || hdb::endsWithHdb(name)) continue;",
     "if (!hdb::namesTextFile(name)) continue;"),
    ("unlistable folder is success", BATCH,
     'console::print("error: cannot list the current directory\\r\\n");\n        return Outcome::failed;',
     'console::print("error: cannot list the current directory\\r\\n");\n        return Outcome::succeeded;'),
    ("listing error partway ignored", LISTING, "complete = errno == 0;", "complete = true;"),
    # Names.
    ("C0 and C1 taken as lead bytes", UTF8, "else if (lead >= 0xC2) length = 2;", "else if (lead >= 0xC0) length = 2;"),
    ("lead byte taken as a continuation", UTF8, "return (byte & 0xC0) == 0x80;", "return byte >= 0x80;"),
    ("F5 to F7 taken as lead bytes", UTF8, "if (lead >= 0xF0 && lead <= 0xF4) length = 4;",
     "if (lead >= 0xF0 && lead <= 0xF7) length = 4;"),
    ("only the first continuation checked", UTF8, "for (std::size_t i = 1; i < length; ++i)",
     "for (std::size_t i = 1; i < length && i < 2; ++i)"),
    ("cut sequence at the end kept whole", UTF8, "if (pos + length > name.size()) return 1;",
     "if (pos + length > name.size()) return name.size() - pos;"),
    ("header name one byte short", FILE_NAMES, "if (next > MAX_HEADER_NAME_LENGTH) break;",
     "if (next >= MAX_HEADER_NAME_LENGTH) break;"),
    ("four-character name keeps its extension", FILE_NAMES, "} else if (base.size() >= 4) {",
     "} else if (base.size() > 4) {"),
    ("drive prefix not skipped", FILE_NAMES, "name.size() >= 2 && isDriveLetter(name[0]) && name[1] == \':\'",
     "name.size() >= 2 && isDriveLetter(name[0]) && name[1] == \';\'"),
    # The layout.
    ("record count off by one", FORMAT, "recordCount_ = static_cast<std::uint32_t>(1 + textBlocks);",
     "recordCount_ = static_cast<std::uint32_t>(textBlocks);"),
    ("prefix end bit on the first byte", FORMAT, "out[n - 1] |= 1;", "out[0] |= 1;"),
    ("empty text has a full last block", FORMAT, "(rest == 0 && textSize != 0)", "(rest == 0)"),
    ("full block one byte short", FORMAT, "fullBlock = static_cast<std::uint32_t>(2 + TEXT_BLOCK_SIZE)",
     "fullBlock = static_cast<std::uint32_t>(1 + TEXT_BLOCK_SIZE)"),
    ("block size missing from the info record", FORMAT, "putU16(&out[11], info.textBlockSize);", ""),
    # The interactive mode (the dialog's own tests cover these).
    ("cancel falls back to the terminal", DESKTOP,
     "if (answer == Answer::cancelled) return Choice{Choice::cancelled, {}};",
     "if (answer == Answer::cancelled) break;"),
    ("chooser without a display taken for a cancel", DESKTOP,
     'if (said.find("open display") != std::string::npos) return Answer::unavailable;', ""),
    ("root folder's file: wrong folder", DESKTOP, "std::max<std::size_t>(path.rfind(\'/\'), 1)",
     "std::max<std::size_t>(path.rfind(\'/\'), 0)"),
    ("text filter broken", DESKTOP, '"--file-filter=Text Document Files (*.txt) | *.txt"',
     '"--file-filter=Text Document Files (*.txt) | *.tx"'),
    # The folder's listing, kept up to date with the names the run gives.
    ("an output named since the listing not listed", CONVERTER,
     "else addToSnapshot(ADDED | static_cast<std::uint32_t>(snapshotUpTo_));", ""),
    # Caught only where the folder folds case and numbers each spelling
    # apart (exFAT, FAT through FUSE), with an earlier output under the
    # other spelling.
    ("no new listing after an output replaced another spelling", CONVERTER,
     "if (output.overAFile) listing_ = nullptr;\n        else ", ""),
    # The launcher: a later run for a folder must not replace an earlier one's output.
    ("the launcher forgets its earlier runs' outputs", LAUNCHER, "if (outputs_.all().empty()) return false;",
     "return false;"),
    # Windows: the flushes, the folder, the listing, the names.
    ("the batch's full flush fails, ignored", WIN_FILE_SYSTEM,
     "case Written::all: return calls.flushAll(handles.back()) != 0 ? files.size() : 0;",
     "case Written::all: (void)calls.flushAll(handles.back()); return files.size();"),
    ("one file's full flush fails, ignored", WIN_FILE_SYSTEM,
     "if (calls.flushAll(handles[i]) == 0) return i;", "(void)calls.flushAll(handles[i]);"),
    ("the folder opened for reading before its flush", WIN_FILE_SYSTEM,
     'CreateFileW(L".", GENERIC_WRITE,', 'CreateFileW(L".", GENERIC_READ,'),
    ("a failed folder flush reported as synced", WIN_FILE_SYSTEM,
     "return refused ? FolderSync::synced : FolderSync::failed;", "return FolderSync::synced;"),
    ("the file systems' flush flags inverted", WIN_FILE_SYSTEM,
     "? win::FLUSH_DATA_ONLY : win::FLUSH_NO_SYNC;", "? win::FLUSH_NO_SYNC : win::FLUSH_DATA_ONLY;"),
    ("STATUS_INVALID_PARAMETER not a refusal of the flags", WIN_FILE_SYSTEM,
     "0xC000000D /* invalid parameter */,", ""),
    ("a separator added at a drive's root", WIN_LISTING,
     "if (!folder.ends_with(L'\\\\')) folder += L'\\\\';", "folder += L'\\\\';"),
    ("a listing cut short taken as complete", WIN_LISTING,
     "const bool complete = GetLastError() == ERROR_NO_MORE_FILES;", "const bool complete = true;"),
    ("a name's length counted in UTF-8 bytes", WIN_FILE_SYSTEM,
     "return win::widen(name).size() > MAX_NAME_UNITS;", "return name.size() > MAX_NAME_UNITS;"),
    ("the text opened without FILE_SHARE_WRITE", WIN_FILE_SYSTEM,
     "GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,",
     "GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,"),
    ("the temporary made without WRITE_DAC", WIN_FILE_SYSTEM, "GENERIC_WRITE | DELETE | WRITE_DAC, 0,",
     "GENERIC_WRITE | DELETE, 0,"),
    ("the Ctrl+C handler says it handled the event", WIN_PROCESS,
     "    (void)TerminateProcess(GetCurrentProcess(), STATUS_CONTROL_C_EXIT);", "    return TRUE;"),
    ("a run stopped by Ctrl+C left to the system's ending", WIN_PROCESS,
     "    (void)TerminateProcess(GetCurrentProcess(), STATUS_CONTROL_C_EXIT);", ""),
    # Caught by a file manager's selection with a failure among many texts.
    ("the launcher stops at a failure", LAUNCHER, "            next = run[converted] + 1;",
     "            next = texts.size();"),
]


def pairs_of(old, new):
    """A mutation's (old, new) texts as pairs."""
    return list(zip(old, new)) if isinstance(old, tuple) else [(old, new)]


def applies(text, old, new):
    return all(text.count(part) == 1 for part, _ in pairs_of(old, new))


def run(command, timeout=None):
    return subprocess.run(command, cwd=ROOT, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=timeout)


def preset_of(path):
    return "windows" if WINDOWS_ONLY.search(path) else "default"


def build(preset):
    if run(["cmake", "--preset", preset]).returncode != 0:
        return False
    return run(["cmake", "--build", "--preset", preset, "-j2"]).returncode == 0


last_failure = [""]  # ctest's output of the last failed run
selected_tests = []  # ctest's options that pick the tests to run (--tests)


def ctest(preset, *options):
    """The failed tests' names, or None for a pass; a hang counts as a failure."""
    try:
        result = run(["ctest", "--preset", preset, "--exclude-regex", EXCLUDED_TESTS, *selected_tests, *options],
                     timeout=TEST_TIMEOUT)
    except subprocess.TimeoutExpired:
        return ["(timeout)"]
    if result.returncode == 0:
        return None
    output = result.stdout.decode(errors="replace")
    last_failure[:] = [output]
    return re.findall(r"Test +#\d+: (\S+) \.*\**(?:Failed|Timeout|Exception)", output) or [output[-3000:]]


flaky = []  # the tests that failed once and then passed, in the last tests_fail()


def tests_fail(preset):
    """The tests that notice the tree's fault, or None. A test that fails
    once but passes when run again (a machine under load) does not count;
    the run it stopped is then made again without stopping, so that the
    tests it never started run too."""
    flaky.clear()
    for options in (["--stop-on-failure"], []):
        failed = ctest(preset, *options)
        if failed is None or failed == ["(timeout)"]:
            return failed
        again = ctest(preset, "--rerun-failed")
        if again:
            return again
        flaky.extend(failed)
    return None


def try_mutation(number, path, old, new):
    full = os.path.join(ROOT, path)
    with open(full, encoding="utf-8") as f:
        original = f.read()
    if not applies(original, old, new):
        return "n/a", ""
    mutated = original
    for text, replacement in pairs_of(old, new):
        mutated = mutated.replace(text, replacement)
    try:
        with open(full, "w", encoding="utf-8") as f:
            f.write(mutated)
        preset = preset_of(path)
        if not build(preset):
            return "no build", ""
        failed = tests_fail(preset)
        if failed:
            # What the tests said, to tell a real catch from a test gone wrong.
            os.makedirs(LOG_FOLDER, exist_ok=True)
            with open(os.path.join(LOG_FOLDER, f"{number}.log"), "w") as f:
                f.write(last_failure[0])
        return ("caught", " ".join(failed)) if failed else ("NOT CAUGHT", "")
    finally:
        with open(full, "w", encoding="utf-8") as f:
            f.write(original)


def chosen(selectors):
    picked = []
    for number, mutation in enumerate(MUTATIONS, 1):
        if not selectors or any(s == str(number) or (not s.isdigit() and s in mutation[0]) for s in selectors):
            picked.append((number, mutation))
    return picked


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("selectors", nargs="*", help="mutation numbers or words of their descriptions")
    parser.add_argument("--list", action="store_true", help="print the table (n/a: text not found) and stop")
    parser.add_argument("--tests", metavar="REGEX", help="run only the tests whose names match REGEX")
    options = parser.parse_args()
    picked = chosen(options.selectors)
    if options.list:
        for number, (what, path, old, new) in picked:
            with open(os.path.join(ROOT, path), encoding="utf-8") as f:
                found = applies(f.read(), old, new)
            print(f"{number:3}  {'' if found else 'n/a  '}{what}  ({path})")
        return 0
    if options.tests:
        selected_tests[:] = ["--tests-regex", options.tests]
    presets = sorted({preset_of(path) for _, (_, path, _, _) in picked})
    for preset in presets:
        if not build(preset):
            print(f"the unchanged tree does not build ({preset})")
            return 2
        failed = tests_fail(preset)
        if failed:
            print(last_failure[0][-5000:])
            print(f"the unchanged tree fails {' '.join(failed)} ({preset}): no mutation would tell anything")
            return 2
    results = []
    for number, (what, path, old, new) in picked:
        started = time.monotonic()
        outcome, by = try_mutation(number, path, old, new)
        results.append(outcome)
        by = f", by {by[:200]}" if by else ""
        if flaky:
            by += f", failed once and then passed: {' '.join(flaky)[:200]}"
        print(f"{number:3}  {outcome:10}  {what}  ({path}, {time.monotonic() - started:.0f} s{by})", flush=True)
    for preset in presets:
        build(preset)  # leave the builds as the tree is
    counted = [r for r in results if r in ("caught", "NOT CAUGHT")]
    caught = counted.count("caught")
    if counted:
        print(f"{caught} of {len(counted)} caught ({100 * caught / len(counted):.0f}%), "
              f"{results.count('n/a')} n/a, {results.count('no build')} no build")
    return 0 if caught == len(counted) else 1


if __name__ == "__main__":
    sys.exit(main())
