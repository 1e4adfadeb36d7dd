#include "records_push.h"

#include "console_output.h"
#include "records/records_database.h"
#include "session/exit_code.h"

int PushRecordsCommand(const std::vector<std::string>& logs, const std::string& database) {
    std::vector<PushCount> counts;
    std::string error;
    int pushed = PushRecords(database, logs, counts, error);
    for (const PushCount& c : counts)
        OutputLine(stdout, c.log + ": " + std::to_string(c.sent) + " record(s) sent, " +
                               std::to_string(c.records - c.sent) + " already in the database");
    if (!pushed) OutputLine(stderr, "orbix-flash: " + error);
    return pushed ? EXIT_OK : EXIT_RECORDS;
}
