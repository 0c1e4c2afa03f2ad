// lu14: the console front end of the meter tool, for Linux, Windows and
// scripts. The entry point of each system (MainPosix.cpp, MainWindows.cpp)
// makes the console ready and hands the command line over.
#pragma once

#include <string>
#include <vector>

#include "cli/output/Console.h"

namespace lu14::cli {

// One run: `arguments` are the command line without the program's name, in
// UTF-8. The exit code.
int LuMain(const std::vector<std::string>& arguments, const Console& console);

}  // namespace lu14::cli
