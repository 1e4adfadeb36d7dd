#pragma once
#include <QObject>
#include <functional>
#include <istream>
#include <memory>
#include <string>

class CEnterKey;
class CSerialDesk;

// What stations read from a stream of lines (standard input): each line is an
// Enter, or, with `serials`, a keypad's serial number (a scanner types it and
// Enter); the stream's end ends the stations after their units. A thread reads
// the lines (Windows has no notifier for a console or a pipe) and the main
// thread acts on them while the returned object lives; `refused` gets what
// became of a line no station could show.
std::unique_ptr<QObject> ReadStationLines(std::istream& lines, CEnterKey& enter, CSerialDesk* serials,
                                          std::function<void(const std::string&)> refused);
