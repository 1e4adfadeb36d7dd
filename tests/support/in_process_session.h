#pragma once
// What the tests that run keypad sessions in their own process share.
#include <unistd.h>

#include <QCoreApplication>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "session/session_request.h"

// Sessions in this process: a Qt application, and a folder of its own that
// also holds the settings store.
struct InProcess {
    explicit InProcess(const char* stem)
        : dir(std::filesystem::temp_directory_path() / (std::string(stem) + std::to_string(getpid()))) {
        std::filesystem::create_directories(dir);
        setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    }
    ~InProcess() { std::filesystem::remove_all(dir); }
    int argc = 1;
    char name[8] = "orbix";
    char* argv[2] = {name, nullptr};
    QCoreApplication app{argc, argv};
    std::filesystem::path dir;
};

// Answers as a script would, and counts the questions.
class CScriptedPolicy : public ISessionPolicy {
public:
    Answer erase = ANSWER_NO;
    int pending = 0;
    int asked = 0;
    Reply ConfirmErase(const std::string&) override {
        ++asked;
        return {erase, erase == ANSWER_YES ? "" : "no erase today"};
    }
    Reply AcceptDamagedFile(const std::string&) override { return {ANSWER_NO, ""}; }
    int PendingInterrupt() const override { return pending; }
};
