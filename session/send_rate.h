#pragma once
#include <cstdint>
#include <string>

// The command line's time remaining, one figure for all its views: the bytes
// the keypad has acknowledged per second over the data phase so far, against
// the bytes it has still to acknowledge. (The window keeps the engine's own
// estimate.)
class CSendRate {
public:
    // The data phase began at `ms` with `sent` bytes (its first chunk) out.
    void Begin(int64_t ms, int sent);
    // A chunk's reply came in at `ms` and the next chunk went: `sent` of
    // `total` bytes are out. Seconds remaining; -1 while there is no rate yet.
    int Update(int64_t ms, int sent, int total);

private:
    int64_t m_startMs = 0;
    int m_sent = 0;
};

// "12 seconds remaining", "3 minutes remaining"; "---" for no figure.
std::string RemainingText(int seconds);
