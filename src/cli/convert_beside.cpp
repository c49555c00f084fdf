#include "cli/convert_beside.h"

#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "hdb/file_names.h"
#include "hdb/printable_name.h"
#include "hdb/same_entry.h"
#include "hdb/written_outputs.h"
#include "platform/file_system.h"
#include "platform/launch.h"

namespace foliant::launcher {
namespace {

constexpr std::string_view TITLE = "Convert to HDB";
// A run's names stay well within what the system takes for a command line.
constexpr std::size_t RUN_ARGUMENT_BYTES = std::size_t{256} * 1024;
// The window: lines of this many characters, in a scrolling box of this
// size, which fits the smallest screens a desktop runs on.
constexpr std::size_t LINE_WIDTH = 72;
constexpr std::string_view WINDOW_WIDTH = "720";
constexpr std::string_view WINDOW_HEIGHT = "480";
// xmessage cannot scroll: it shows this many failures, then how many more.
constexpr std::size_t XMESSAGE_FAILURES = 10;

// `format` holds one "%s", which stands for `name` in its printable form.
std::string said(std::string_view format, std::string_view name) {
    const std::size_t at = format.find("%s");
    return std::string(format.substr(0, at)) + hdb::printableUtf8Name(name) + std::string(format.substr(at + 2));
}

struct Text {
    std::size_t given;  // its place among the selected paths
    std::string path;   // as given
    std::string name;   // its name in its folder
    std::string output;
    bool decided = false;
};

struct Folder {
    std::string path;
    fs::FileId id;
    std::vector<Text> texts;
};

// The outputs the folder's earlier runs wrote; a run of foliant knows only
// its own, so the launcher keeps the others from being replaced, as a run
// judges it.
class Written {
public:
    void add(const std::string& name) { fresh_.push_back(name); }
    bool reached(const std::string& target) {
        // Their files looked up only when a later run needs them: most
        // selections take one.
        for (std::string& name : fresh_) {
            const fs::FileId id = fs::inspectPath(name).id;
            outputs_.add(hdb::WrittenOutputs::Output{std::move(name), id});
        }
        fresh_.clear();
        if (outputs_.all().empty()) return false;
        return outputs_.reached(target, fs::inspectPath(target),
                                [](std::string_view a, std::string_view b) { return hdb::sameEntry(a, b); });
    }

private:
    std::vector<std::string> fresh_;
    hdb::WrittenOutputs outputs_;
};

std::vector<std::string> linesOf(const std::string& output) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < output.size()) {
        std::size_t end = output.find('\n', start);
        if (end == std::string::npos) end = output.size();
        std::string line = output.substr(start, end - start);
        while (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

// foliant's message in a form the window and the journal can show: a name
// it printed with bytes that are not UTF-8 in the launcher's quoted form.
std::string shownMessage(const std::string& line, const Folder& folder, const std::vector<std::size_t>& run) {
    if (hdb::printableUtf8Name(line) == line) return line;
    for (const std::size_t i : run) {
        for (const std::string* name : {&folder.texts[i].name, &folder.texts[i].output}) {
            const std::string printed = ": " + hdb::printableName(*name);
            if (line.ends_with(printed))
                return line.substr(0, line.size() - printed.size()) + ": " + hdb::printableUtf8Name(*name);
        }
    }
    return hdb::printableUtf8Name(line);
}

// What a failed run said after its "converted." lines.
std::string reasonOf(const std::vector<std::string>& lines, std::size_t from, const Folder& folder,
                     const std::vector<std::size_t>& run) {
    std::string reason;
    for (std::size_t i = from; i < lines.size(); ++i) {
        if (lines[i].empty()) continue;
        if (!reason.empty()) reason += '\n';
        reason += shownMessage(lines[i], folder, run);
    }
    return reason.empty() ? "error: foliant ended without a message" : reason;
}

class Launcher {
public:
    explicit Launcher(std::string foliant) : foliant_(std::move(foliant)) {}

    // `given`: the failure's place among the selected paths, by which the
    // failures are listed.
    void fail(std::size_t given, const std::string& what, std::string reason) {
        failures_.emplace_back(given, Failure{hdb::printableUtf8Name(what), std::move(reason)});
    }

    // Sorts the paths into their folders; those that cannot be converted
    // fail here.
    void sort(std::span<const char* const> paths) {
        std::map<std::pair<std::uint64_t, std::uint64_t>, std::size_t> folderAt;
        for (std::size_t given = 0; given < paths.size(); ++given) {
            const std::string path = paths[given];
            const std::size_t slash = path.rfind('/');
            const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
            const std::string name = path.substr(slash == std::string::npos ? 0 : slash + 1);
            const fs::PathStatus there = fs::inspectPath(folder);
            if (looksRemote(path) && fs::inspectPath(path).kind == fs::PathKind::missing) {
                fail(given, path, said("error: not a local file: %s", path));
            } else if (!hdb::namesTextFile(name)) {
                // foliant would pass over such a name without a word.
                fail(given, path, said("error: no .txt or .TXT in the name: %s", name));
            } else if (there.kind != fs::PathKind::directory) {
                fail(given, path, said("error: the folder is gone: %s", folder));
            } else {
                // One folder by two names (a link, "a/./b") is one folder.
                const auto [at, added] =
                    folderAt.emplace(std::make_pair(there.id.volume, there.id.index), folders_.size());
                if (added) folders_.push_back(Folder{folder, there.id, {}});
                const hdb::PathSyntax syntax = hdb::posixPathSyntax();
                folders_[at->second].texts.push_back(Text{given, path, name, hdb::outputName(name, syntax)});
            }
        }
    }

    void convert() {
        for (Folder& folder : folders_) {
            (void)launch::returnToStart();
            const launch::Entered entered = launch::enterFolder(folder.path);
            const bool same = entered == launch::Entered::entered && fs::inspectPath(".").id == folder.id;
            if (!same) {
                const char* format = entered == launch::Entered::refused ? "error: folder not entered: %s"
                                                                         : "error: the folder is gone: %s";
                for (const Text& text : folder.texts) fail(text.given, text.path, said(format, folder.path));
                continue;
            }
            convertIn(folder);
        }
    }

    [[nodiscard]] std::vector<Failure> failures() {
        std::stable_sort(failures_.begin(), failures_.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        std::vector<Failure> listed;
        listed.reserve(failures_.size());
        for (auto& [given, failure] : failures_) listed.push_back(std::move(failure));
        return listed;
    }

private:
    static bool looksRemote(const std::string& path) {
        const std::size_t colon = path.find("://");
        return colon != std::string::npos && colon > 0 &&
               std::all_of(path.begin(), path.begin() + static_cast<std::ptrdiff_t>(colon), [](char c) {
                   return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' ||
                          c == '-' || c == '.';
               });
    }

    // The next run's texts, from `next` on, as many as one command line
    // holds comfortably. A text whose output an earlier run wrote fails here:
    // texts selected together never replace each other's output, in one run
    // of foliant or across runs.
    std::vector<std::size_t> takeRun(Folder& folder, Written& written, std::size_t& next) {
        std::vector<std::size_t> run;
        for (std::size_t bytes = 0; next < folder.texts.size() && bytes < RUN_ARGUMENT_BYTES; ++next) {
            Text& text = folder.texts[next];
            if (text.decided) continue;
            if (written.reached(text.output)) {
                text.decided = true;
                fail(text.given, text.path, said("error: output already written in this run: %s", text.output));
                continue;
            }
            run.push_back(next);
            bytes += text.name.size() + 1;
        }
        return run;
    }

    // The folder's texts, a run of foliant at a time: the first run takes
    // them all; after a failure the next takes those after the failed one.
    void convertIn(Folder& folder) {
        Written written;
        std::vector<Text>& texts = folder.texts;
        std::size_t next = 0;
        while (next < texts.size()) {
            const std::vector<std::size_t> run = takeRun(folder, written, next);
            if (run.empty()) break;
            std::vector<std::string> names;
            names.reserve(run.size());
            for (const std::size_t i : run) names.push_back(texts[i].name);
            const launch::Ran ran = launch::runProgram(foliant_, names);
            if (!ran.started) {
                for (const std::size_t i : run)
                    fail(texts[i].given, texts[i].path, said("error: foliant not started: %s", foliant_));
                continue;
            }
            // The "converted." lines come in input order: their count tells
            // where the run stopped.
            const std::vector<std::string> lines = linesOf(ran.output);
            std::size_t converted = 0;
            while (converted < run.size() && converted < lines.size() &&
                   lines[converted] == hdb::printableName(texts[run[converted]].output) + " converted.") {
                texts[run[converted]].decided = true;
                written.add(texts[run[converted]].output);
                ++converted;
            }
            if (ran.exited && ran.status == 0 && converted == run.size()) continue;
            const std::string reason = reasonOf(lines, converted, folder, run);
            if (converted == run.size()) {
                // Every output is in place; the run failed after them.
                fail(texts[run.back()].given, folder.path, reason);
                continue;
            }
            Text& failed = texts[run[converted]];
            failed.decided = true;
            fail(failed.given, failed.path, reason);
            next = run[converted] + 1;
        }
    }

    std::string foliant_;
    std::vector<Folder> folders_;
    std::vector<std::pair<std::size_t, Failure>> failures_;
};

// Shows `text` in the first window tool there is that can show it; `cut`
// where the tool cannot scroll.
void showWindow(const std::string& text, const std::string& cut) {
    if (!launch::hasDisplay()) return;
    // zenity and kdialog end with 0 or 1 when the window was shown and
    // closed; anything else means it could not be shown: the next is tried.
    const std::string title(TITLE);
    const std::string width(WINDOW_WIDTH);
    const std::string height(WINDOW_HEIGHT);
    const int zenity = launch::runWindowTool(
        {"zenity", "--text-info", "--title=" + title, "--width=" + width, "--height=" + height}, text);
    if (zenity == 0 || zenity == 1) return;
    const std::string file = launch::temporaryFile(text);
    if (!file.empty()) {
        const int kdialog = launch::runWindowTool({"kdialog", "--title", title, "--textbox", file, width, height}, "");
        launch::removeFile(file);
        if (kdialog == 0 || kdialog == 1) return;
    }
    (void)launch::runWindowTool({"xmessage", "-title", title, "-center", "-file", "-"}, cut);
}

}  // namespace

std::string wrapped(std::string_view line, std::size_t width, std::string_view indent) {
    std::string out;
    while (!line.empty()) {
        // The bytes of up to `width` characters, and where the last blank
        // among them ends: a line breaks there if it can, anywhere if not.
        std::size_t end = 0;
        std::size_t afterBlank = 0;
        const std::size_t room = out.empty() ? width : width - indent.size();
        for (std::size_t characters = 0; end < line.size() && characters < room; ++characters) {
            if (line[end] == ' ') afterBlank = end + 1;
            end += std::max<std::size_t>(1, hdb::wellFormedUtf8Length(line, end));
        }
        if (end < line.size() && afterBlank > 0 && line[end] != ' ') end = afterBlank;
        if (!out.empty()) out += '\n' + std::string(indent);
        out.append(line.substr(0, end));
        line.remove_prefix(end);
    }
    return out;
}

std::string failureText(const std::vector<Failure>& failures, std::size_t width, std::size_t shown) {
    std::string text = "Not converted:\n";
    const std::size_t count = std::min(shown, failures.size());
    for (std::size_t i = 0; i < count; ++i) {
        text += '\n' + wrapped(failures[i].what, width, "  ") + '\n';
        std::size_t start = 0;
        const std::string& reason = failures[i].reason;
        while (start < reason.size()) {
            std::size_t end = reason.find('\n', start);
            if (end == std::string::npos) end = reason.size();
            text += "  " + wrapped(reason.substr(start, end - start), width - 2, "  ") + '\n';
            start = end + 1;
        }
    }
    if (count < failures.size()) {
        text += '\n' +
                wrapped(std::to_string(failures.size() - count) +
                            " more not converted: the full list went to standard error, the desktop's journal.",
                        width, "") +
                '\n';
    }
    return text;
}

int convertBeside(const std::string& foliant, std::span<const char* const> paths) {
    if (paths.empty()) {
        // A file manager hands over no remote file it cannot give a path.
        const std::string nothing =
            "error: nothing to convert: no file was handed over (only local files can be converted)";
        launch::printError(nothing + '\n');
        const std::string shown = wrapped(nothing, LINE_WIDTH, "  ") + '\n';
        showWindow(shown, shown);
        return 1;
    }
    Launcher launcher(foliant);
    launcher.sort(paths);
    launcher.convert();
    const std::vector<Failure> failures = launcher.failures();
    if (failures.empty()) return 0;
    // Unwrapped on standard error: one line for the path, one for each line
    // of its reason.
    std::string journal = "Not converted:\n";
    for (const Failure& failure : failures) journal += failure.what + '\n' + failure.reason + '\n';
    launch::printError(journal);
    showWindow(failureText(failures, LINE_WIDTH, failures.size()),
               failureText(failures, LINE_WIDTH, XMESSAGE_FAILURES));
    return 1;
}

}  // namespace foliant::launcher
