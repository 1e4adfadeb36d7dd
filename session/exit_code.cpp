#include "exit_code.h"

#include <algorithm>
#include <iterator>

namespace {

// Every exit code, the least serious first, with the outcome it reports and what it means.
struct RankedExit {
    int code;
    const char* outcome;
    const char* meaning;
};
constexpr RankedExit RANKED[] = {
    {EXIT_OK, "ok", "success"},
    {EXIT_USAGE, "failed", "usage, port or file problem (nothing sent)"},
    {EXIT_FAILED, "failed", "failed, the keypad was not changed (nothing erased)"},
    {EXIT_RECORDS, "failed", "records could not be written (--log)"},
    {EXIT_INCOMPLETE, "incomplete",
     "failed after the first erase command was sent: the keypad holds no valid firmware or screens and stays in its "
     "update mode (run the update again)"},
    {EXIT_INTERRUPTED, "interrupted", "Ctrl-C"},
    {EXIT_TERMINATED, "interrupted", "SIGTERM"},
};

// An unknown code ranks above all.
const RankedExit* Find(int code) {
    return std::find_if(std::begin(RANKED), std::end(RANKED), [code](const RankedExit& e) { return e.code == code; });
}

}  // namespace

int MoreSeriousExit(int a, int b) { return Find(b) > Find(a) ? b : a; }

const char* OutcomeName(int exitCode) {
    const RankedExit* entry = Find(exitCode);
    // 128 + a signal's number: SIGHUP's 129 is as much the user's word as Ctrl-C's 130.
    if (entry == std::end(RANKED)) return exitCode > 128 && exitCode < 160 ? "interrupted" : "failed";
    return entry->outcome;
}

std::vector<std::pair<int, std::string>> ExitCodeMeanings() {
    std::vector<std::pair<int, std::string>> meanings;
    for (const RankedExit& e : RANKED) meanings.emplace_back(e.code, e.meaning);
    std::sort(meanings.begin(), meanings.end());
    return meanings;
}

std::string ExitCodesBySeriousness() {
    std::string out;
    for (size_t i = std::size(RANKED); i-- > 0;)
        out += std::to_string(RANKED[i].code) + (i == 0                       ? ""
                                                 : i == 1                     ? " and "
                                                 : i + 1 == std::size(RANKED) ? ", then "
                                                                              : ", ");
    return out;
}
