#include "bench_profile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>
#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <sstream>

#include "database_url.h"
#include "port_discovery.h"
#include "profile_text.h"
#include "serial/port_naming.h"

namespace {

constexpr int RETRIES_MAX = MOST_RETRIES;
constexpr int STALL_TIMEOUT_MAX = MOST_STALL_TIMEOUT_SECONDS;
constexpr size_t SALT_BYTES = 16;

QString Text(const std::string& utf8) { return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())); }

bool IsHex(const std::string& text, size_t length) {
    return text.size() == length &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isxdigit(c); });
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

std::string Sha256Hex(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex().toStdString();
}

std::string PasswordHash(const std::string& saltHex, const std::string& password) {
    return Sha256Hex(QByteArray::fromHex(QByteArray::fromStdString(saltHex)) + QByteArray::fromStdString(password));
}

// A value the file can hold as it is: it would read back otherwise. A comment after a value is
// refused rather than guessed at: "fw #2.s" may be a file's name.
bool Plain(const std::string& text) {
    return IsUtf8(text) && Trimmed(text) == text &&
           std::none_of(text.begin(), text.end(), [](unsigned char c) { return c < ' ' || c == 127; }) &&
           text.find(" #") == std::string::npos;
}

// Why a slot cannot have this name; empty when it can.
std::string SlotNameProblem(const std::string& name) {
    bool fits = !name.empty() && Plain(name) && name.find('=') == std::string::npos &&
                std::string("#;[").find(name[0]) == std::string::npos;
    return fits ? "" : "the slot name \"" + name + "\" cannot be used (no control characters, no =, nor # ; [ first)";
}

bool IsPort(const std::string& port) {
    PortSpec parsed;
    return IsAutoPort(port) || ParsePortArgument(port, parsed);
}

// Reads the profile's lines into `profile`; `error` names the first line that
// cannot be one of them.
class CProfileReader {
public:
    CProfileReader(const std::string& name, BenchProfile& profile, std::string& error)
        : m_name(name), m_profile(profile), m_error(error) {}
    int Read(std::string text);

private:
    int Line(const std::string& line);
    int BenchValue(const std::string& key, const std::string& value);
    int Slot(const std::string& name, const std::string& port);
    int Number(const std::string& key, const std::string& value, int highest, int& number);
    int Choice(const std::string& key, const std::string& value, const char* no, const char* yes, bool& chosen);
    int Fail(const std::string& what) {
        m_error = m_where + ": " + what;
        return 0;
    }

    const std::string& m_name;
    BenchProfile& m_profile;
    std::string& m_error;
    std::string m_where;  // "PROFILE line N", for messages
    int m_line = 0;
    std::string m_section;
    std::set<std::string> m_sections;
    std::map<std::string, int> m_keyLines;   // [bench] keys given, at which line
    std::map<std::string, int> m_slotLines;  // slot names given, at which line
};

int CProfileReader::Read(std::string text) {
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
    std::istringstream in(text);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        m_line = number;
        m_where = m_name + " line " + std::to_string(number);
        if (!Line(line)) return 0;
    }
    m_where = m_name;
    if (!m_sections.count("[bench]")) return Fail("no [bench] section: this is not a bench profile");
    if (!m_keyLines.count("image")) return Fail("[bench] names no image");
    if (!m_keyLines.count("sha256"))
        return Fail("[bench] gives no sha256 (the image's SHA-256, which it must hash to)");
    if (m_profile.slots.empty()) return Fail("no slot: [slots] names none (NAME = PORT, one a line)");
    if (m_keyLines.count("database") && !m_keyLines.count("log"))
        return Fail("database needs a log: the records go to the database from the log");
    return 1;
}

int CProfileReader::Line(const std::string& raw) {
    // Refused: a name or a path read wrongly would name the wrong thing in every record.
    if (!IsUtf8(raw)) return Fail("not UTF-8 text (save the file as UTF-8)");
    std::string line = Trimmed(raw);
    if (line.empty() || line[0] == '#' || line[0] == ';') return 1;
    if (line.front() == '[') {
        if (line == "[bench]" || line == "[slots]") {
            if (!m_sections.insert(line).second) return Fail(line + " given twice");
            m_section = line;
            return 1;
        }
        return Fail("unknown section " + line + " (a profile has [bench] and [slots])");
    }
    size_t equals = line.find('=');
    if (equals == std::string::npos) return Fail("\"" + line + "\" is not KEY = VALUE");
    std::string key = Trimmed(line.substr(0, equals)), value = Trimmed(line.substr(equals + 1));
    if (m_section.empty()) return Fail("\"" + key + "\" comes before [bench]");
    size_t comment = std::min(value.find(" #"), value.find("\t#"));
    if (comment != std::string::npos)
        return Fail("\"" + Trimmed(value.substr(comment)) + "\" after a value: a comment goes on a line of its own");
    if (key.empty()) return Fail("a value without a key");
    if (m_section == "[slots]") return Slot(key, value);
    auto given = m_keyLines.find(key);
    if (given != m_keyLines.end())
        return Fail("\"" + key + "\" given again (first on line " + std::to_string(given->second) + ")");
    if (!BenchValue(key, value)) return 0;
    m_keyLines[key] = m_line;
    return 1;
}

int CProfileReader::BenchValue(const std::string& key, const std::string& value) {
    BenchProfile& p = m_profile;
    if (key == "command") {
        bool screens = false;
        if (!Choice(key, value, "firmware", "screens", screens)) return 0;
        p.command = screens ? KEYPAD_SCREENS : KEYPAD_FIRMWARE;
    } else if (key == "image" || key == "log") {
        if (value.empty()) return Fail(key + " needs a file name");
        (key == "image" ? p.image : p.log) = value;
    } else if (key == "database") {
        DatabaseUrl url;
        std::string error;
        if (!ParseDatabaseUrl(value, url, error)) return Fail(error);
        p.database = value;
    } else if (key == "sha256") {
        if (!IsHex(value, 64)) return Fail("sha256 takes the image's SHA-256: 64 hex digits, not \"" + value + "\"");
        p.sha256 = Lower(value);
    } else if (key == "retries") {
        return Number(key, value, RETRIES_MAX, p.retries);
    } else if (key == "stall-timeout") {
        if (!Number(key, value, STALL_TIMEOUT_MAX, p.stallTimeoutSeconds)) return 0;
        if (p.stallTimeoutSeconds == 0)
            return Fail("stall-timeout takes a whole number of seconds from 1 to " + std::to_string(STALL_TIMEOUT_MAX));
    } else if (key == "start") {
        return Choice(key, value, "keypad", "operator", p.startByOperator);
    } else if (key == "sound") {
        return Choice(key, value, "no", "yes", p.sound);
    } else if (key == "locked") {
        return Choice(key, value, "no", "yes", p.locked);
    } else if (key == "password") {
        size_t colon = value.find(':');
        std::string salt = value.substr(0, colon), hash = colon == std::string::npos ? "" : value.substr(colon + 1);
        if (!IsHex(salt, 2 * SALT_BYTES) || !IsHex(hash, 64))
            return Fail("password is SALT:HASH as the bench writes it (32 and 64 hex digits); set it in the bench");
        p.passwordSalt = Lower(salt);
        p.passwordHash = Lower(hash);
    } else if (key == "serial") {
        if (value != "off" && value != "optional" && value != "required")
            return Fail("serial is off, optional or required, not \"" + value + "\"");
        p.serial = value == "required" ? SERIAL_REQUIRED : value == "optional" ? SERIAL_OPTIONAL : SERIAL_OFF;
    } else if (key == "serial_pattern") {
        CSerialPattern pattern;
        std::string problem;
        if (value.empty() || !pattern.Set(value, problem))
            return Fail("serial_pattern: " + (value.empty() ? "empty" : problem));
        p.serialPattern = value;
    } else if (key == "station") {
        if (value.empty()) return Fail("station needs a name");
        p.station = value;
    } else if (key == "operator") {
        return Choice(key, value, "optional", "required", p.operatorRequired);
    } else {
        return Fail("unknown key \"" + key +
                    "\" (a [bench] has command, image, sha256, log, database, retries, stall-timeout, start, sound, "
                    "locked, password, serial, serial_pattern, station, operator)");
    }
    return 1;
}

int CProfileReader::Slot(const std::string& name, const std::string& port) {
    if (!SlotNameProblem(name).empty()) return Fail(SlotNameProblem(name));
    if (port.empty()) return Fail("slot \"" + name + "\" has no port");
    if (!IsPort(port))
        return Fail(
            "slot \"" + name + "\": \"" + port +
            "\" is not a port (a COM number, a device path, rfc2217://HOST:PORT, tcp://HOST:PORT or auto:GLOB)");
    auto given = m_slotLines.find(name);
    if (given != m_slotLines.end())
        return Fail("slot \"" + name + "\" named again (first on line " + std::to_string(given->second) + ")");
    m_slotLines[name] = m_line;
    m_profile.slots.push_back({name, port});
    return 1;
}

int CProfileReader::Number(const std::string& key, const std::string& value, int highest, int& number) {
    bool digits = !value.empty() && value.size() <= 6 &&
                  std::all_of(value.begin(), value.end(), [](unsigned char c) { return std::isdigit(c); });
    if (!digits || std::stoi(value) > highest)
        return Fail(key + " takes a whole number from 0 to " + std::to_string(highest) + ", not \"" + value + "\"");
    number = std::stoi(value);
    return 1;
}

int CProfileReader::Choice(const std::string& key, const std::string& value, const char* no, const char* yes,
                           bool& chosen) {
    if (value != no && value != yes) return Fail(key + " is " + no + " or " + yes + ", not \"" + value + "\"");
    chosen = value == yes;
    return 1;
}

// What the file cannot hold as given (it would read back otherwise); empty when all can be written.
std::string Unwritable(const BenchProfile& p) {
    auto plain = Plain;
    if (p.command != KEYPAD_FIRMWARE && p.command != KEYPAD_SCREENS)
        return "the command is neither firmware nor screens";
    if (p.image.empty() || !plain(p.image)) return "the image's name \"" + p.image + "\" cannot be written";
    if (!plain(p.log)) return "the log's name \"" + p.log + "\" cannot be written";
    DatabaseUrl url;
    std::string error;
    if (!p.database.empty() && !ParseDatabaseUrl(p.database, url, error)) return error;
    if (!p.database.empty() && p.log.empty()) return "the database needs a log";
    if (!IsHex(p.sha256, 64)) return "the image's SHA-256 is not 64 hex digits";
    if (p.retries < 0 || p.retries > RETRIES_MAX || p.stallTimeoutSeconds < 1 ||
        p.stallTimeoutSeconds > STALL_TIMEOUT_MAX)
        return "retries or the stall time-out is out of range";
    if (!plain(p.serialPattern) || !plain(p.station))
        return "the serial pattern or the station's name cannot be written";
    if (!p.passwordSalt.empty() && (!IsHex(p.passwordSalt, 2 * SALT_BYTES) || !IsHex(p.passwordHash, 64)))
        return "the password is not one the bench set";
    if (p.slots.empty()) return "the profile has no slot";
    std::set<std::string> names;
    for (const BenchSlot& slot : p.slots) {
        std::string problem = SlotNameProblem(slot.name);
        if (!problem.empty()) return problem;
        if (!names.insert(slot.name).second) return "two slots are named \"" + slot.name + "\"";
        if (!plain(slot.port) || !IsPort(slot.port)) return "slot \"" + slot.name + "\" has no port";
    }
    return "";
}

// The profile as the file's entries, in the order a fresh file has them.
ProfileEntries BenchEntries(const BenchProfile& p) {
    ProfileEntries bench{{"command", KeypadCommandWord(p.command)}, {"image", p.image}, {"sha256", Lower(p.sha256)}};
    if (!p.log.empty()) bench.push_back({"log", p.log});
    if (!p.database.empty()) bench.push_back({"database", p.database});
    bench.push_back({"retries", std::to_string(p.retries)});
    bench.push_back({"stall-timeout", std::to_string(p.stallTimeoutSeconds)});
    bench.push_back({"start", p.startByOperator ? "operator" : "keypad"});
    if (p.sound) bench.push_back({"sound", "yes"});  // off unless asked for: older files stay as they are
    bench.push_back({"locked", p.locked ? "yes" : "no"});
    if (!p.passwordSalt.empty()) bench.push_back({"password", Lower(p.passwordSalt) + ":" + Lower(p.passwordHash)});
    // Each only when set: a profile without them stays as it was.
    if (p.serial != SERIAL_OFF) bench.push_back({"serial", p.serial == SERIAL_REQUIRED ? "required" : "optional"});
    if (!p.serialPattern.empty()) bench.push_back({"serial_pattern", p.serialPattern});
    if (!p.station.empty()) bench.push_back({"station", p.station});
    if (p.operatorRequired) bench.push_back({"operator", "required"});
    return bench;
}

ProfileEntries SlotEntries(const BenchProfile& p) {
    ProfileEntries slots;
    for (const BenchSlot& slot : p.slots) slots.push_back({slot.name, slot.port});
    return slots;
}

bool Same(const BenchProfile& a, const BenchProfile& b) {
    return BenchEntries(a) == BenchEntries(b) && SlotEntries(a) == SlotEntries(b);
}

// The file as its author left it, when it is a profile the edit can keep; else empty.
std::string ExistingText(const std::string& path) {
    QFile file(Text(path));
    if (!file.open(QIODevice::ReadOnly)) return "";
    std::string text = file.readAll().toStdString();
    BenchProfile read;
    std::string error;
    return CProfileReader(path, read, error).Read(text) ? text : "";
}

}  // namespace

int LoadBenchProfile(const std::string& path, BenchProfile& profile, std::string& error) {
    QFile file(Text(path));
    if (!file.open(QIODevice::ReadOnly)) {
        error = path + ": " + file.errorString().toStdString();
        return 0;
    }
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        error = path + ": " + file.errorString().toStdString();
        return 0;
    }
    BenchProfile read;
    if (!CProfileReader(path, read, error).Read(bytes.toStdString())) return 0;
    profile = read;
    return 1;
}

int SaveBenchProfile(const std::string& path, const BenchProfile& profile, std::string& error) {
    std::string problem = Unwritable(profile);
    if (!problem.empty()) {
        error = path + ": not saved: " + problem;
        return 0;
    }
    // Only what changed is edited, so the author's comments stay; should the result not read back
    // as this profile, the file is written afresh.
    std::string edited = ProfileText(ExistingText(path), BenchEntries(profile), SlotEntries(profile));
    BenchProfile reread;
    std::string unused;
    if (!CProfileReader(path, reread, unused).Read(edited) || !Same(reread, profile))
        edited = ProfileText("", BenchEntries(profile), SlotEntries(profile));
    QSaveFile file(Text(path));
    QByteArray text = QByteArray::fromStdString(edited);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        error = path + ": not saved: " + file.errorString().toStdString();
        return 0;
    }
    return 1;
}

std::string BenchProfilePath(const std::string& profilePath, const std::string& given) {
    QString name = Text(given);
    if (given.empty() || QDir::isAbsolutePath(name)) return given;
    return QDir::cleanPath(QFileInfo(Text(profilePath)).dir().filePath(name)).toStdString();
}

int BenchSlotTargets(const std::string& profilePath, const std::vector<BenchSlot>& slots,
                     std::vector<PortTarget>& targets, std::string& error) {
    for (const BenchSlot& slot : slots) {
        std::string where = profilePath + " slot \"" + slot.name + "\"";
        std::string port = slot.port;
        if (IsAutoPort(port)) {
            std::vector<std::string> found = CandidatePorts(port);
            if (found.size() != 1) {
                error = where + ": " + port + " matches " +
                        (found.empty() ? "no port" : std::to_string(found.size()) + " ports") + "; a slot is one port";
                return 0;
            }
            port = found[0];
        }
        targets.push_back({port, "", slot.name, where + " (" + port + ")"});
    }
    return 1;
}

void SetBenchPassword(BenchProfile& profile, const std::string& password) {
    profile.passwordSalt.clear();
    profile.passwordHash.clear();
    if (password.empty()) return;
    quint32 words[SALT_BYTES / 4];
    QRandomGenerator::system()->generate(std::begin(words), std::end(words));
    QByteArray salt(reinterpret_cast<const char*>(words), SALT_BYTES);
    profile.passwordSalt = salt.toHex().toStdString();
    profile.passwordHash = PasswordHash(profile.passwordSalt, password);
}

bool BenchPasswordMatches(const BenchProfile& profile, const std::string& password) {
    if (profile.passwordSalt.empty()) return true;
    return PasswordHash(profile.passwordSalt, password) == Lower(profile.passwordHash);
}

int CheckPinnedImage(const CImageFile& image, const std::string& fileName, const std::string& expectedSha256,
                     std::string& reason) {
    if (Lower(image.sha256) == Lower(expectedSha256)) return 1;
    reason = fileName + " is not the image expected: its SHA-256 is " + image.sha256 + ", the one expected is " +
             Lower(expectedSha256) + "; nothing was sent";
    return 0;
}
