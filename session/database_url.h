#pragma once
#include <string>

// Where the records are also sent: postgresql://USER@HOST[:PORT]/DBNAME. The
// password never sits in it (nor in a profile): it comes from the user's
// PostgreSQL password file, or the front end asks for it.
struct DatabaseUrl {
    std::string user;
    std::string host;
    int port = 5432;
    std::string database;
    std::string text;  // as given, for messages

    // USER@HOST:PORT/DBNAME, for messages that must not repeat a whole URL.
    std::string Where() const;
};

// 0 with `error` naming the URL and what is wrong with it.
int ParseDatabaseUrl(const std::string& text, DatabaseUrl& url, std::string& error);
