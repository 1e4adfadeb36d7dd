#pragma once
#include <QObject>
#include <istream>
#include <memory>

class CEnterKey;

// Enter for stations from a stream of lines (standard input): each line is an
// Enter, the stream's end ends the stations after their units. A thread reads
// the lines (Windows has no notifier for a console or a pipe) and the main
// thread acts on them while the returned object lives.
std::unique_ptr<QObject> ReadEnterLines(std::istream& lines, CEnterKey& enter);
