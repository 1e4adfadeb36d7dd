#pragma once
#include <string>
#include <utility>
#include <vector>

// A bench profile's text as the bench writes it. Given the file as its author
// left it, only what changed is edited, in place: a changed value keeps its
// line (and what precedes the value), a key no longer wanted loses its line, a
// new one goes after the last of its section; comments, blank lines, order,
// a byte-order mark and CRLF line ends stay. With no such file, a fresh text.
using ProfileEntries = std::vector<std::pair<std::string, std::string>>;  // key (or slot name), value
std::string ProfileText(const std::string& existing, const ProfileEntries& bench, const ProfileEntries& slots);

// Without the spaces and tabs around it, as a profile's keys and values are read.
std::string Trimmed(const std::string& text);
