#include "hdb/printable_name.h"

#include <gtest/gtest.h>

namespace foliant::hdb {
namespace {

TEST(PrintableName, QuotesOnlyNamesWithControlBytes) {
    const struct {
        std::string name;
        const char* shown;
    } cases[] = {
        {"book.txt", "book.txt"},
        {"\xE6\x97\xA5\xE6\x9C\xAC R\xC3\xA9sum\xC3\xA9.txt", "\xE6\x97\xA5\xE6\x9C\xAC R\xC3\xA9sum\xC3\xA9.txt"},
        {"say \"hi\" \\ there.txt", "say \"hi\" \\ there.txt"},  // no control byte: as it is
        {"b\nfake.hdb converted.\nc.txt", "\"b\\nfake.hdb converted.\\nc.txt\""},
        {"a\tb\rc\ad\be\ff\vg.txt", "\"a\\tb\\rc\\ad\\be\\ff\\vg.txt\""},
        {"\x1b[31mred.txt", "\"\\033[31mred.txt\""},
        {"del\x7f.txt", "\"del\\177.txt\""},
        {"\x01\x1f.txt", "\"\\001\\037.txt\""},
        {"q\"\x01.txt", "\"q\\\"\\001.txt\""},
        {"back\\slash\n.txt", "\"back\\\\slash\\n.txt\""},
        {"\xC3\xA9\t.txt", "\"\xC3\xA9\\t.txt\""},  // UTF-8 kept inside quotes too
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(printableName(c.name), c.shown) << c.name;
}

}  // namespace
}  // namespace foliant::hdb
