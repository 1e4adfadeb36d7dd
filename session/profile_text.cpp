#include "profile_text.h"

#include <algorithm>
#include <sstream>

std::string Trimmed(const std::string& text) {
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

namespace {

// One line of the file: a key line's key and where its value starts.
struct Line {
    std::string text;
    std::string section;  // the section it lies in ("[bench]", "[slots]"), empty before the first
    std::string key;      // empty: a section, a comment or a blank line
    size_t valueAt = 0;
};

std::vector<Line> Lines(const std::string& text) {
    std::vector<Line> lines;
    std::istringstream in(text);
    std::string section;
    for (std::string raw; std::getline(in, raw);) {
        if (!raw.empty() && raw.back() == '\r') raw.pop_back();
        Line line{raw, section, "", 0};
        std::string trimmed = Trimmed(raw);
        size_t equals = raw.find('=');
        if (!trimmed.empty() && trimmed[0] == '[') {
            section = trimmed;
            line.section = section;
        } else if (!trimmed.empty() && trimmed[0] != '#' && trimmed[0] != ';' && equals != std::string::npos) {
            line.key = Trimmed(raw.substr(0, equals));
            line.valueAt = raw.find_first_not_of(" \t", equals + 1);
            if (line.valueAt == std::string::npos) line.valueAt = raw.size();
        }
        lines.push_back(line);
    }
    return lines;
}

std::string Value(const Line& line) { return Trimmed(line.text.substr(line.valueAt)); }

std::string Entry(const std::pair<std::string, std::string>& entry) { return entry.first + " = " + entry.second; }

// Edits one section's key lines to hold `wanted`, in place where it can.
// Lines match by key; in an ordered section (slots) whose new order the file
// cannot keep that way, its lines take the new order one by one.
void EditSection(std::vector<Line>& lines, const std::string& section, const ProfileEntries& wanted, bool ordered) {
    std::vector<size_t> at;  // this section's key lines
    size_t header = lines.size();
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].section != section) continue;
        if (header == lines.size()) header = i;
        if (!lines[i].key.empty()) at.push_back(i);
    }
    auto wantedAt = [&](const std::string& key) {
        return std::find_if(wanted.begin(), wanted.end(), [&](const auto& e) { return e.first == key; });
    };
    std::vector<std::string> kept;  // the keys of lines that stay, in the file's order
    for (size_t i : at)
        if (wantedAt(lines[i].key) != wanted.end()) kept.push_back(lines[i].key);
    std::vector<std::string> byKeyOrder = kept, wantedOrder;  // by key: those that stay, then the new ones
    for (const auto& e : wanted) {
        wantedOrder.push_back(e.first);
        if (std::find(kept.begin(), kept.end(), e.first) == kept.end()) byKeyOrder.push_back(e.first);
    }
    bool byKey = !ordered || byKeyOrder == wantedOrder;

    std::vector<bool> written(wanted.size(), false);
    std::vector<size_t> gone;
    size_t next = 0;  // ordered and reordered: the next wanted entry a line takes
    for (size_t i : at) {
        auto e = wantedAt(lines[i].key);
        if (e == wanted.end()) {
            gone.push_back(i);
            continue;
        }
        if (!byKey) e = wanted.begin() + static_cast<long>(next++);
        written[static_cast<size_t>(e - wanted.begin())] = true;
        if (e->first == lines[i].key && Value(lines[i]) == e->second) continue;
        lines[i].text = e->first == lines[i].key ? lines[i].text.substr(0, lines[i].valueAt) + e->second : Entry(*e);
    }
    size_t after = at.empty() ? header : at.back();
    std::vector<Line> added;
    for (size_t k = 0; k < wanted.size(); ++k)
        if (!written[k]) added.push_back({Entry(wanted[k]), section, wanted[k].first, 0});
    if (after == lines.size()) {
        lines.push_back({section, section, "", 0});
        after = lines.size() - 1;
    }
    lines.insert(lines.begin() + static_cast<long>(after) + 1, added.begin(), added.end());
    for (auto i = gone.rbegin(); i != gone.rend(); ++i) lines.erase(lines.begin() + static_cast<long>(*i));
}

}  // namespace

std::string ProfileText(const std::string& existing, const ProfileEntries& bench, const ProfileEntries& slots) {
    const std::string bom = existing.rfind("\xEF\xBB\xBF", 0) == 0 ? "\xEF\xBB\xBF" : "";
    const size_t firstEnd = existing.find('\n');
    const std::string eol =
        firstEnd != std::string::npos && firstEnd > 0 && existing[firstEnd - 1] == '\r' ? "\r\n" : "\n";
    std::vector<Line> lines = existing.empty() ? std::vector<Line>{{"# ORBIX production bench profile", "", "", 0}}
                                               : Lines(existing.substr(bom.size()));
    EditSection(lines, "[bench]", bench, false);
    EditSection(lines, "[slots]", slots, true);
    std::string text = bom;
    for (const Line& line : lines) text += line.text + eol;
    return text;
}
