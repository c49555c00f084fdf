// "Convert to HDB" in the file managers: the launcher they run with the
// selected texts (installed as libexec/foliant/convert-beside).
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace foliant::launcher {

// One text (or folder) that was not converted, and why: both in the form
// a window and the journal can show (UTF-8, no control byte).
struct Failure {
    std::string what;
    std::string reason;
};

// Converts each text beside itself: one run of `foliant` per folder, the
// texts in the order given, going on after a failure with the texts after
// it. A failure is shown in a window and on standard error. Status 0 when
// every text was converted, 1 otherwise.
int convertBeside(const std::string& foliant, std::span<const char* const> paths);

// The window's text: the heading, then each failure with its reason
// below it, every line wrapped at `width` characters. With `shown` below
// the number of failures, only that many, and a last line that says how
// many more there are and where the full list is.
std::string failureText(const std::vector<Failure>& failures, std::size_t width, std::size_t shown);

// `line` cut into lines of at most `width` characters (whole UTF-8
// characters), the later ones behind `indent`.
std::string wrapped(std::string_view line, std::size_t width, std::string_view indent);

}  // namespace foliant::launcher
