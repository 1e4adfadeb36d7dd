// A build whose Qt has no SQL module (the Windows one for now): every connection fails, for good,
// saying so, and a run with a database is refused before anything is sent.
#include "record_table.h"

CRecordsConnection::CRecordsConnection() = default;
CRecordsConnection::~CRecordsConnection() = default;

int CRecordsConnection::Open(const DatabaseUrl&, const std::string&, const std::string&, std::string& error) {
    error = NO_SQL_IN_BUILD;
    return 0;
}

void CRecordsConnection::Close() {}
bool CRecordsConnection::IsOpen() const { return false; }

int CRecordsConnection::Insert(const std::vector<LogRecord>&, std::string& error, bool* refused) {
    if (refused) *refused = false;
    error = NO_SQL_IN_BUILD;
    return 0;
}

int CRecordsConnection::Missing(const std::vector<LogRecord>&, std::vector<LogRecord>&, std::string& error) {
    error = NO_SQL_IN_BUILD;
    return 0;
}
