#include "console_output.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace {

// The length of the UTF-8 sequence at `at`, 0 when it is not one (a stray,
// overlong or cut sequence, a surrogate, beyond U+10FFFF).
size_t SequenceLength(std::string_view text, size_t at) {
    auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    unsigned char lead = byte(at);
    if (lead < 0x80) return 1;
    size_t length = lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3 : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
    if (length == 0 || at + length > text.size()) return 0;
    for (size_t i = 1; i < length; ++i)
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
    unsigned char second = byte(at + 1);
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second >= 0xA0) || (lead == 0xF0 && second < 0x90) ||
        (lead == 0xF4 && second >= 0x90))
        return 0;
    return length;
}

void Escape(std::string& out, unsigned char byte) {
    static const char digits[] = "0123456789abcdef";
    out += "\\x";
    out += digits[byte >> 4];
    out += digits[byte & 15];
}

// Queued bytes beyond which trace lines are left out; a redraw waits for far less.
constexpr size_t TRACE_BOUND = 256 * 1024;
constexpr size_t BEHIND_BOUND = 8 * 1024;

class COutputQueue {
public:
    ~COutputQueue() {
        Flush();
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_ending = true;
        }
        m_moved.notify_all();
        if (m_writer.joinable()) m_writer.join();
    }

    void Add(std::FILE* stream, std::string text, OutputKind kind) {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_writer.joinable()) m_writer = std::thread([this] { Write(); });
        if (kind == OUTPUT_TRACE && m_bytes + text.size() > TRACE_BOUND) {
            ++m_dropped;
            return;
        }
        Push(stream, std::move(text));
        lock.unlock();
        m_moved.notify_all();
    }

    bool Behind() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_bytes > BEHIND_BOUND;
    }

    void Flush() {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_dropped > 0) SayDropped();
        m_moved.notify_all();
        m_moved.wait(lock, [this] { return m_entries.empty() && !m_writing; });
    }

private:
    struct Entry {
        std::FILE* stream;
        std::string text;
    };

    void Push(std::FILE* stream, std::string text) {
        m_bytes += text.size();
        m_entries.push_back({stream, std::move(text)});
    }

    // Once the output moves again: how many trace lines it lost.
    void SayDropped() {
        Push(stderr, "orbix-flash: " + std::to_string(m_dropped) +
                         " trace line(s) left out: the output was not read in time\n");
        m_dropped = 0;
    }

    void Write() {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            m_moved.wait(lock, [this] { return m_ending || !m_entries.empty(); });
            if (m_entries.empty()) return;
            Entry entry = std::move(m_entries.front());
            m_entries.pop_front();
            m_writing = true;
            lock.unlock();
            // A closed pipe or terminal takes nothing: the update goes on whatever happens to its audience.
            std::fwrite(entry.text.data(), 1, entry.text.size(), entry.stream);
            std::fflush(entry.stream);
            lock.lock();
            m_writing = false;
            m_bytes -= entry.text.size();
            if (m_dropped > 0 && m_bytes < TRACE_BOUND / 2) SayDropped();
            m_moved.notify_all();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_moved;
    std::deque<Entry> m_entries;
    size_t m_bytes = 0;
    size_t m_dropped = 0;
    bool m_writing = false;
    bool m_ending = false;
    std::thread m_writer;
};

COutputQueue& Queue() {
    static COutputQueue queue;
    return queue;
}

}  // namespace

std::string Printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        auto byte = static_cast<unsigned char>(text[at]);
        size_t length = SequenceLength(text, at);
        bool control = byte < 0x20 || byte == 0x7F || (byte == 0xC2 && length == 2 && static_cast<unsigned char>(text[at + 1]) < 0xA0);
        if (length == 0 || control) {
            for (size_t i = 0; i < (length ? length : 1); ++i) Escape(out, static_cast<unsigned char>(text[at + i]));
            at += length ? length : 1;
        } else {
            out.append(text.substr(at, length));
            at += length;
        }
    }
    return out;
}

void Output(std::FILE* stream, std::string text, OutputKind kind) { Queue().Add(stream, std::move(text), kind); }

void OutputLine(std::FILE* stream, std::string_view text, OutputKind kind) {
    Output(stream, Printable(text) + "\n", kind);
}

bool OutputBehind() { return Queue().Behind(); }

void FlushOutput() { Queue().Flush(); }

size_t Columns(std::string_view text) {
    size_t columns = 0;
    for (char ch : text) columns += (static_cast<unsigned char>(ch) & 0xC0) != 0x80;
    return columns;
}

std::string FirstColumns(std::string_view text, size_t columns) {
    size_t at = 0;
    for (size_t seen = 0; at < text.size(); ++at)
        if ((static_cast<unsigned char>(text[at]) & 0xC0) != 0x80 && seen++ == columns) break;
    return std::string(text.substr(0, at));
}

std::string LastColumns(std::string_view text, size_t columns) {
    size_t total = Columns(text);
    if (total <= columns) return std::string(text);
    size_t skip = total - columns, at = 0;
    for (size_t seen = 0; at < text.size(); ++at)
        if ((static_cast<unsigned char>(text[at]) & 0xC0) != 0x80 && seen++ == skip) break;
    return std::string(text.substr(at));
}
