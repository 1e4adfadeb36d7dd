#pragma once
#include <string>

// --help and --version answered before the QApplication exists, so both work
// without a display. 1 when one of them was answered (the program ends with 0).
int AnswerHelpOrVersion(int argc, char** argv, const char* program, const std::string& usage);
