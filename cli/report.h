#pragma once
#include <string>
#include <vector>

enum ReportForm { REPORT_TEXT, REPORT_CSV, REPORT_JSON };

// orbix-flash report LOG...: the shift's report on stdout; the exit code.
int PrintReport(const std::vector<std::string>& logs, ReportForm form);
