#include "serial_desk.h"

#include <QDateTime>
#include <QString>
#include <algorithm>
#include <chrono>

#include "profile_text.h"

namespace {

// A scanner's code is printable text; anything else is a stray key.
bool Printable(const std::string& code) {
    return !code.empty() && std::none_of(code.begin(), code.end(), [](unsigned char c) { return c < ' ' || c == 127; });
}

bool SameName(const std::string& a, const std::string& b) {
    return QString::fromStdString(a).compare(QString::fromStdString(b), Qt::CaseInsensitive) == 0;
}

}  // namespace

int CSerialPattern::Set(const std::string& pattern, std::string& error) {
    try {
        m_regex = std::regex(pattern, std::regex::ECMAScript);
    } catch (const std::regex_error& e) {
        error = "\"" + pattern + "\" is no regular expression: " + e.what();
        return 0;
    }
    m_text = pattern;
    return 1;
}

bool CSerialPattern::Matches(const std::string& code) const {
    return Printable(code) && (m_text.empty() || std::regex_match(code, m_regex));
}

std::string NotASerialText(const std::string& code) { return code + " is not a serial number of this line"; }

std::string UpdatedBeforeText(const std::string& serial, const std::string& at) {
    // As a person at the line reads a time: the PC's own, to the second.
    QDateTime when = QDateTime::fromString(QString::fromStdString(at), Qt::ISODateWithMs);
    std::string shown = when.isValid() ? when.toLocalTime().toString("yyyy-MM-dd HH:mm:ss").toStdString() : at;
    return serial + " was updated with this image at " + shown;
}

CSerialDesk::CSerialDesk(SerialRules rules, std::vector<std::string> names, std::map<std::string, std::string> doneAt)
    : m_rules(std::move(rules)), m_names(std::move(names)), m_doneAt(std::move(doneAt)), m_desks(m_names.size()) {}

void CSerialDesk::Tell(size_t station, StationEvent::Kind kind, const std::string& text) {
    StationEvent event(kind);
    event.text = text;
    m_desks[station].news.push_back(event);
}

size_t CSerialDesk::LongestWaiting() const {
    size_t longest = SIZE_MAX;
    for (size_t i = 0; i < m_desks.size(); ++i)
        if (m_desks[i].state == WAITING && (longest == SIZE_MAX || m_desks[i].since < m_desks[longest].since))
            longest = i;
    return longest;
}

bool CSerialDesk::AnyWaiting() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return LongestWaiting() != SIZE_MAX;
}

std::string CSerialDesk::Scan(const std::string& typed) {
    const std::string code = Trimmed(typed);
    if (code.empty() && m_rules.need != SERIAL_OPTIONAL) return "";  // Enter alone goes on only where labels may lack
    std::lock_guard<std::mutex> lock(m_mutex);
    for (size_t i = 0; i < m_names.size(); ++i) {
        if (!SameName(code, m_names[i])) continue;
        if (m_desks[i].state != WAITING) return m_names[i] + " does not wait for a label";
        m_armed = i;
        return "";
    }
    size_t station = m_armed < m_desks.size() && m_desks[m_armed].state == WAITING ? m_armed : LongestWaiting();
    m_armed = SIZE_MAX;
    if (station == SIZE_MAX && code.empty()) return "";  // Enter alone, with nothing to go on
    if (station == SIZE_MAX && m_keepEarly) m_early.push_back(code);
    if (station == SIZE_MAX) return m_keepEarly ? "" : "no slot waits for a label: " + code + " was not taken";
    Offer(station, code);
    m_changed.notify_all();
    return "";
}

// Under the mutex: what the station waiting makes of `code`.
void CSerialDesk::Offer(size_t station, const std::string& code) {
    if (code.empty()) return Accept(station, "");
    if (!m_rules.pattern.Matches(code)) return Tell(station, StationEvent::SERIAL_REFUSED, NotASerialText(code));
    for (size_t i = 0; i < m_desks.size(); ++i)
        if (i != station && (m_desks[i].state == ASKING || m_desks[i].taken) && m_desks[i].held == code)
            return Tell(station, StationEvent::SERIAL_REFUSED, code + " is in " + m_names[i] + " now");
    auto done = m_doneAt.find(code);
    if (done == m_doneAt.end() || m_rules.again) return Accept(station, code);
    const std::string before = UpdatedBeforeText(code, done->second);
    if (!m_rules.askAgain) return Tell(station, StationEvent::SERIAL_REFUSED, before);
    m_desks[station].state = ASKING;
    m_desks[station].held = code;
    Tell(station, StationEvent::SERIAL_ASKED, before);
}

void CSerialDesk::Accept(size_t station, const std::string& code) {
    Desk& desk = m_desks[station];
    desk.state = IDLE;
    desk.held = code;
    desk.taken = true;
    Tell(station, StationEvent::SERIAL_TAKEN, code);
}

void CSerialDesk::Confirm(size_t station, bool again) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (station >= m_desks.size() || m_desks[station].state != ASKING) return;
    if (again) {
        Accept(station, m_desks[station].held);
    } else {
        m_desks[station].state = WAITING;  // in its place: it keeps its turn
        m_desks[station].held.clear();
    }
    m_changed.notify_all();
}

void CSerialDesk::KeepEarlyScans() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_keepEarly = true;
}

void CSerialDesk::Close() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_closed = true;
    m_changed.notify_all();
}

bool CSerialDesk::Take(size_t station, ISessionSink& sink, const std::function<bool()>& keepGoing,
                       const std::function<void()>& tick, std::string& serial) {
    std::unique_lock<std::mutex> lock(m_mutex);
    Desk& desk = m_desks.at(station);
    desk = Desk{};
    desk.state = WAITING;
    desk.since = ++m_waits;
    for (;;) {
        if (desk.state == WAITING && !m_early.empty()) {
            Offer(station, m_early.front());
            m_early.pop_front();
        }
        std::vector<StationEvent> news;
        news.swap(desk.news);
        const bool taken = desk.taken;
        const std::string held = desk.held;
        lock.unlock();
        for (const StationEvent& event : news) sink.Station(event);
        if (taken) {
            serial = held;
            return true;
        }
        bool going = keepGoing();
        lock.lock();
        if (!going || (m_closed && m_early.empty() && desk.state == WAITING && desk.news.empty())) {
            desk = Desk{};
            if (m_armed == station) m_armed = SIZE_MAX;
            return false;
        }
        lock.unlock();
        tick();
        lock.lock();
        if (desk.news.empty()) m_changed.wait_for(lock, std::chrono::milliseconds(100));
    }
}

void CSerialDesk::Ended(size_t station, const std::string& serial, bool ok, const std::string& start) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (station < m_desks.size()) m_desks[station] = Desk{};
    if (serial.empty()) return;
    if (ok)
        m_doneAt[serial] = start;
    else
        m_doneAt.erase(serial);  // its last record is no longer an ok
}
