// What file_system.cpp shares with each platform's file_system_*.cpp: the
// loops written once there, over one small step each platform gives. Not
// for the layers above.
#pragma once

#include <functional>
#include <string>

namespace foliant::fs::parts {

enum class Attempt { made, nameTaken, failed };
// Calls `make` with fresh temporary names until it makes a file of one
// (returns that name), or fails otherwise than by a taken name, or has
// tried long enough (returns an empty name).
std::string withFreshTemporaryName(const std::function<Attempt(const std::string&)>& make);

enum class Debris { removed, kept, cannotTell };
// The platform's step of the sweep: removes the entry `name`, which has a
// temporary name, when it is a regular file that no living run holds;
// cannotTell where the file system has no means to know.
Debris removeIfDebris(const std::string& name);

}  // namespace foliant::fs::parts
