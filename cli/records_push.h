#pragma once
#include <string>
#include <vector>

// orbix-flash records push LOG... --database URL: the logs' records the
// table lacks, sent; what was sent of each log on stdout; the exit code.
int PushRecordsCommand(const std::vector<std::string>& logs, const std::string& database);
