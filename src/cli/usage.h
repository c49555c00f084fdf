#pragma once

namespace foliant::cli {

// Prints the usage text to standard output.
void printUsage();

}  // namespace foliant::cli
