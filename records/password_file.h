#pragma once
#include <string>

#include "session/database_url.h"

// The user's PostgreSQL password file: PGPASSFILE, else ~/.pgpass
// (%APPDATA%\postgresql\pgpass.conf on Windows).
std::string PasswordFilePath();

// The password the file gives for the URL's host, port, database and user, in
// the file's own form: HOST:PORT:DATABASE:USER:PASSWORD, * for any, a colon or
// a backslash in a field escaped by a backslash, the first line that matches
// wins. 0 when the file is missing or has no such line.
int FindPassword(const DatabaseUrl& url, std::string& password);
