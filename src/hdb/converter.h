// Converts one text file into one HDB file in the current directory.
#pragma once

#include <string>

namespace foliant::hdb {

// Converts the file named `inputName`. On success `output` holds the
// name of the finished file (a bare name, relative to the current
// directory) and the success line has been printed. On failure exactly one
// message has been printed, no temporary file is left, and any earlier file
// of the output's name is as it was.
bool convertFile(const std::string& inputName, std::string& output);

}  // namespace foliant::hdb
