// The naming rules as Windows builds apply them: names travel as UTF-8, and
// only the header holds the ANSI code page's bytes.
#include "hdb/file_names.h"
#include "platform/utf16.h"
#include "platform/windows_text.h"

namespace foliant::hdb {

PathSyntax nativePathSyntax() { return windowsPathSyntax(text::utf8CharacterLength); }

std::string headerNameInCodePage(std::string_view utf8Base, unsigned codePage) {
    const std::string bytes = win::toCodePage(win::widen(utf8Base), codePage);
    const PathSyntax syntax = windowsPathSyntax([codePage](std::string_view name, std::size_t pos) {
        return win::codePageCharacterLength(name, pos, codePage);
    });
    return std::string(headerName(bytes, syntax));
}

std::string nativeHeaderName(std::string_view base) { return headerNameInCodePage(base, 0); }

}  // namespace foliant::hdb
