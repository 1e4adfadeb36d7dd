#include "exit_code.h"

#include <algorithm>
#include <iterator>

namespace {

// Every exit code, the least serious first, with the outcome it reports.
struct RankedExit {
    int code;
    const char* outcome;
};
constexpr RankedExit RANKED[] = {
    {EXIT_OK, "ok"},
    {EXIT_USAGE, "failed"},
    {EXIT_FAILED, "failed"},
    {EXIT_RECORDS, "failed"},
    {EXIT_INCOMPLETE, "incomplete"},
    {EXIT_INTERRUPTED, "interrupted"},
    {EXIT_TERMINATED, "interrupted"},
};

// An unknown code ranks above all.
const RankedExit* Find(int code) {
    return std::find_if(std::begin(RANKED), std::end(RANKED), [code](const RankedExit& e) { return e.code == code; });
}

}  // namespace

int MoreSeriousExit(int a, int b) { return Find(b) > Find(a) ? b : a; }

const char* OutcomeName(int exitCode) {
    const RankedExit* entry = Find(exitCode);
    return entry == std::end(RANKED) ? "failed" : entry->outcome;
}
