#include "cli/usage.h"

#include "platform/console.h"

namespace foliant::cli {

void printUsage() {
    // Seven writes; the texts are the tool's own and stay byte for byte.
    console::print("\r\nFOLIANT: converts .txt files to .hdb files.\r\n\r\n");
    console::print("Your command syntax is incorrect.\r\n");
    console::print("Usage: \r\n");
    console::print("   \"foliant\"       for GUI mode. \r\n");
    console::print("   \"foliant <filename>\" for converting a single .txt file.\r\n");
    console::print("   \"foliant all\"   for converting all .txt - files in the current directory.\r\n\r\n\r\n");
    console::print("foliant is free software by the foliant developers.\r\n");
}

}  // namespace foliant::cli
