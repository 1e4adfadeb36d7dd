#include "option_table.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <sstream>

#include "serial/port_naming.h"

namespace {

constexpr size_t WIDTH = 80;

std::string LeftColumn(const OptionRow& row) {
    std::string left = *row.shortName ? std::string("  -") + row.shortName + ", " : "      ";
    left += std::string("--") + row.longName;
    if (*row.valueName) left += row.lone ? std::string("[=") + row.valueName + "]" : std::string("=") + row.valueName;
    return left;
}

const OptionRow* Find(const std::vector<OptionRow>& rows, const std::string& longName) {
    for (const OptionRow& row : rows)
        if (longName == row.longName) return &row;
    return nullptr;
}

// The parser wants a value for every option that takes one: a lone option
// whose value may be left out is given the value it stands for.
QStringList WithLoneValues(const std::vector<OptionRow>& rows, const QStringList& arguments) {
    QStringList given;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        const OptionRow* row =
            argument.startsWith(QLatin1String("--")) ? Find(rows, argument.mid(2).toStdString()) : nullptr;
        if (argument == QLatin1String("--")) {
            given += arguments.mid(i);
            break;
        }
        if (!row || !row->lone) {
            given << argument;
            continue;
        }
        bool countFollows = row->countMayFollow && i + 1 < arguments.size() && !arguments[i + 1].isEmpty() &&
                            arguments[i + 1].toStdString().find_first_not_of("0123456789") == std::string::npos;
        given << argument + QLatin1Char('=') + (countFollows ? arguments[++i] : QString::fromStdString(*row->lone));
    }
    return given;
}

}  // namespace

int ParseOptionRows(QCommandLineParser& parser, const std::vector<OptionRow>& rows, const QStringList& arguments,
                    std::string& error) {
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    for (const OptionRow& row : rows) {
        QStringList names;
        if (*row.shortName) names << QString::fromLatin1(row.shortName);
        names << QString::fromLatin1(row.longName);
        parser.addOption(QCommandLineOption(names, QString(), QString::fromLatin1(row.valueName)));
    }
    if (parser.parse(WithLoneValues(rows, arguments))) return 1;
    error = parser.errorText().toStdString();
    return 0;
}

std::string Wrapped(const std::string& text, size_t indent, size_t column) {
    std::istringstream words(text);
    std::string out, word;
    size_t at = column;
    bool lineEmpty = true;
    while (words >> word) {
        if (!lineEmpty && at + 1 + word.size() > WIDTH) {
            out += "\n" + std::string(indent, ' ');
            at = indent;
            lineEmpty = true;
        }
        if (!lineEmpty) {
            out += ' ';
            ++at;
        }
        out += word;
        at += word.size();
        lineEmpty = false;
    }
    return out + "\n";
}

std::string OptionLines(const std::vector<OptionRow>& rows, size_t column) {
    std::string out;
    for (const OptionRow& row : rows) {
        std::string left = LeftColumn(row);
        // A left column too wide for the help's goes on a line of its own.
        if (left.size() + 2 > column)
            left += "\n" + std::string(column, ' ');
        else
            left.append(column - left.size(), ' ');
        out += left + Wrapped(row.help, column, column);
    }
    return out;
}

std::string GroupedOptionLines(const std::vector<OptionRow>& rows, size_t column,
                               const std::function<std::string(unsigned commands)>& heading, unsigned mask) {
    std::vector<unsigned> groups;
    for (const OptionRow& row : rows)
        if (std::find(groups.begin(), groups.end(), row.commands & mask) == groups.end())
            groups.push_back(row.commands & mask);
    std::string out;
    for (unsigned commands : groups) {
        std::vector<OptionRow> group;
        std::copy_if(rows.begin(), rows.end(), std::back_inserter(group),
                     [&](const OptionRow& row) { return (row.commands & mask) == commands; });
        out += "\n" + Wrapped(heading(commands), 0) + OptionLines(group, column);
    }
    return out;
}

const OptionRow* OptionNotFor(const QCommandLineParser& parser, const std::vector<OptionRow>& rows,
                              unsigned commandBit) {
    for (const OptionRow& row : rows)
        if (parser.isSet(QString::fromLatin1(row.longName)) && !(row.commands & commandBit)) return &row;
    return nullptr;
}

std::string Listed(const std::vector<std::string>& words) {
    std::string out;
    for (size_t i = 0; i < words.size(); ++i) out += (i == 0 ? "" : i + 1 == words.size() ? " and " : ", ") + words[i];
    return out;
}

int ReadNumber(const std::string& text, const std::string& source, long lowest, long highest, int& value,
               std::string& error, const std::string& what) {
    char* end = nullptr;
    long number = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || number < lowest || number > highest) {
        error = source + " takes a whole number" + what + " from " + std::to_string(lowest) + " to " +
                std::to_string(highest);
        return 0;
    }
    value = static_cast<int>(number);
    return 1;
}

int ReadNumberOption(const QCommandLineParser& parser, const char* name, long lowest, long highest, int& value,
                     std::string& error, const std::string& what) {
    if (!parser.isSet(QString::fromLatin1(name))) return 1;
    return ReadNumber(parser.value(QString::fromLatin1(name)).toStdString(), std::string("--") + name, lowest, highest,
                      value, error, what);
}

int CheckPortName(const std::string& source, const std::string& name, std::string& error) {
    PortSpec port;
    if (name.empty())
        error = source + " needs a port: a COM number (3 or COM3), a device path, a network port or auto";
    else if (!IsAutoPort(name) && !ParsePortArgument(name, port))
        error = source + " takes a COM number (3 or COM3), a device path, rfc2217://HOST:PORT, tcp://HOST:PORT, auto " +
                "or auto:GLOB, not \"" + name + "\"";
    else
        return 1;
    return 0;
}
