#pragma once

#include <QString>

// "Name (*.s)|*.s|All Files (*.*)|*.*||" as a Qt name filter list, "Name (*.s);;All Files (*)".
// The patterns are taken from the pattern fields, not from the names; "*.*" becomes "*", which
// also matches file names without a dot.
QString QtNameFilters(const char* filter);
