#include "cli/usage.h"

#include <cstdio>

namespace foliant::cli {

void printUsage() {
    // Seven writes; the texts are the tool's own and stay byte for byte.
    std::printf("\r\nFOLIANT: converts .txt files to .hdb files.\r\n\r\n");
    std::printf("Your command syntax is incorrect.\r\n");
    std::printf("Usage: \r\n");
    std::printf("   \"foliant\"       for GUI mode. \r\n");
    std::printf("   \"foliant <filename>\" for converting a single .txt file.\r\n");
    std::printf("   \"foliant all\"   for converting all .txt - files in the current directory.\r\n\r\n\r\n");
    std::printf("foliant is free software by the foliant developers.\r\n");
}

}  // namespace foliant::cli
