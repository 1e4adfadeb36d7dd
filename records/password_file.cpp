#include "password_file.h"

#include <QDir>
#include <QFile>
#include <QString>
#include <vector>

std::string PasswordFilePath() {
    QString given = qEnvironmentVariable("PGPASSFILE");
    if (!given.isEmpty()) return given.toStdString();
#ifdef _WIN32
    return (qEnvironmentVariable("APPDATA") + "/postgresql/pgpass.conf").toStdString();
#else
    return (QDir::homePath() + "/.pgpass").toStdString();
#endif
}

namespace {

// A line's five fields with their escapes undone; fewer than five: not an entry.
std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields(1);
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\\' && i + 1 < line.size())
            fields.back() += line[++i];
        else if (line[i] == ':' && fields.size() < 5)
            fields.emplace_back();
        else
            fields.back() += line[i];
    }
    return fields;
}

}  // namespace

int FindPassword(const DatabaseUrl& url, std::string& password) {
    QFile file(QString::fromStdString(PasswordFilePath()));
    if (!file.open(QIODevice::ReadOnly)) return 0;
    const std::string wanted[4] = {url.host, std::to_string(url.port), url.database, url.user};
    while (!file.atEnd()) {
        std::string line = file.readLine().toStdString();
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> fields = Fields(line);
        if (fields.size() < 5) continue;
        bool matches = true;
        for (int i = 0; i < 4; ++i) matches = matches && (fields[i] == "*" || fields[i] == wanted[i]);
        if (matches) {
            password = fields[4];
            return 1;
        }
    }
    return 0;
}
