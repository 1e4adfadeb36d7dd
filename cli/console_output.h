#pragma once
#include <cstdio>
#include <string>
#include <string_view>

// Text as a terminal may show it: UTF-8 as it is, but control characters and
// bytes that are not UTF-8 as \xNN, so a name from a file or a keypad cannot
// move the cursor, clear the screen or retitle the window.
std::string Printable(std::string_view text);

// What the terminal is sent, and what may be left out when nobody reads it.
enum OutputKind {
    OUTPUT_KEPT,    // statuses, results, summaries: always written, in order
    OUTPUT_TRACE,   // dropped and counted beyond the bound, the count said once the output moves again
};

// stdout and stderr are written by a thread of their own: a pipe nobody reads
// or a slow terminal holds up that thread, never a keypad's session. `text` goes
// as it is (the views' own escape sequences); OutputLine escapes it and ends the line.
void Output(std::FILE* stream, std::string text, OutputKind kind = OUTPUT_KEPT);
void OutputLine(std::FILE* stream, std::string_view text, OutputKind kind = OUTPUT_KEPT);
// Whether the writer is behind: a bar or block drawn again would only wait in the queue.
bool OutputBehind();
// Waits until everything queued has been written (or its stream has closed):
// before a question on the terminal and before the program ends.
void FlushOutput();

// Printable UTF-8 measured and cut by characters (one column each), not by bytes.
size_t Columns(std::string_view text);
std::string FirstColumns(std::string_view text, size_t columns);
std::string LastColumns(std::string_view text, size_t columns);
