#pragma once
#ifdef _WIN32
#include <string>

// File names reach the programs as UTF-8 (from the wide command line or the window), in any form
// Windows takes: relative, with forward slashes, \\?\C:\..., \\?\UNC\server\share\..., \\.\C:\...

// The path as Windows resolves it, in the one form records name it: absolute, with backslashes,
// "." and ".." gone, no \\?\ or \\.\ in front (\\?\UNC\server\share\x is \\server\share\x).
std::string ResolvedPath(const std::string& utf8);
// The wide name a file is opened by: the resolved path as \\?\C:\... or \\?\UNC\..., which holds
// more than 260 characters and whatever the ANSI code page cannot spell.
std::wstring WidePath(const std::string& utf8);
#endif
