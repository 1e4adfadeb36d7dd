#pragma once
#include <QCommandLineParser>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// One option of a program as its table gives it: the names, the value, the
// --help text and the commands it applies to. Each program's parser, usage
// text and refusals are made from its rows.
struct OptionRow {
    OptionRow(const char* shortName_, const char* longName_, const char* valueName_, std::string help_,
              unsigned commands_ = ~0u, std::optional<std::string> lone_ = std::nullopt, bool countMayFollow_ = false)
        : shortName(shortName_),
          longName(longName_),
          valueName(valueName_),
          help(std::move(help_)),
          commands(commands_),
          lone(std::move(lone_)),
          countMayFollow(countMayFollow_) {}
    const char* shortName;  // "" when there is none
    const char* longName;
    const char* valueName;  // "" for a switch
    std::string help;
    unsigned commands;  // bits of the commands it applies to (of a program without commands: all)
    // The value a lone --NAME stands for, when the value may be left out ("--NAME[=VALUE]").
    std::optional<std::string> lone;
    bool countMayFollow;  // with `lone`: a number as the next word is the value ("--NAME 4")
};

// Adds the rows to `parser` and parses `arguments` (the program's name first).
// 0 with the parser's error when they are not well formed.
int ParseOptionRows(QCommandLineParser& parser, const std::vector<OptionRow>& rows, const QStringList& arguments,
                    std::string& error);

// The rows' --help lines: "  -p, --port=PORT", then the help from `column`
// on, wrapped to 80 columns.
std::string OptionLines(const std::vector<OptionRow>& rows, size_t column);
// The same in groups of the rows that apply to the same commands (of those
// in `mask`), in the order they first appear, each under its `heading`.
std::string GroupedOptionLines(const std::vector<OptionRow>& rows, size_t column,
                               const std::function<std::string(unsigned commands)>& heading, unsigned mask = ~0u);
// The first option given that does not apply to the command `commandBit` stands for, else nullptr.
const OptionRow* OptionNotFor(const QCommandLineParser& parser, const std::vector<OptionRow>& rows,
                              unsigned commandBit);
// "a, b and c".
std::string Listed(const std::vector<std::string>& words);
// `text` as lines of at most 80 columns, each indented by `indent` but the first,
// which goes on from `column`.
std::string Wrapped(const std::string& text, size_t indent, size_t column = 0);

// A whole number from `lowest` to `highest` of option `name`, left as it is
// when the option is not given; 0 with `error` when the value is not one.
// `what` names what it counts (" of seconds").
int ReadNumberOption(const QCommandLineParser& parser, const char* name, long lowest, long highest, int& value,
                     std::string& error, const std::string& what = "");
// The same of `text`, which `source` gave ("--jobs", an environment variable's name).
int ReadNumber(const std::string& text, const std::string& source, long lowest, long highest, int& value,
               std::string& error, const std::string& what = "");

// 1 when `name`, which `source` gave ("--port"), names a port, auto or
// auto:GLOB; else 0 with `error` in the words of every program.
int CheckPortName(const std::string& source, const std::string& name, std::string& error);
