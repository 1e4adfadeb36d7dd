#pragma once
#include <string>

// Prints what a firmware or screens file gives the loader. Returns the exit
// code: 0, or 2 when the file is refused (with the loader's own message).
int InspectFile(const std::string& path);
