#pragma once
#ifdef _WIN32
#include <QString>
#include <string>

// File names reach the programs as UTF-8 (from the wide command line or the window); Windows
// opens them by their wide form, whatever the ANSI code page can spell.
inline std::wstring WidePath(const std::string& utf8) { return QString::fromStdString(utf8).toStdWString(); }
#endif
