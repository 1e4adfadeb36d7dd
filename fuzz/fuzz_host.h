#pragma once
// A host that does nothing but answer the file dialog with one path: enough
// to drive the engine and the file steps from arbitrary input.
#include <string>

#include "engine/loader_engine.h"

// Runs an update's file step and, once accepted, the update itself.
inline void StartUpdate(CLoaderEngine& engine, bool firmware) {
    FileStepResult result = firmware ? engine.LoadFirmwareFile() : engine.LoadScreensFile();
    if (!result.Accepted()) return;
    if (firmware) engine.StartFirmwareUpdate();
    else engine.StartScreensUpdate();
}

class CFuzzHost : public ILoaderHost {
public:
    std::string file;
    int timersArmed = 0;

    void WriteFrameToPort(const uint8_t*, int) override {}
    void SetBreak(bool) override {}
    void SetTimer(int, int) override { ++timersArmed; }
    void KillTimer(int) override {}
    void Sleep(int) override {}
    int64_t CurrentTime() override { return ++m_clock; }
    void ShowStatus(const std::string&) override {}
    void BusyChanged(bool) override {}
    void PhaseStarted(UpdatePhase, int, int) override {}
    void Progress(int, int) override {}
    void ActivityMoved(int) override {}
    void TimeRemaining(int) override {}
    void OperationEnded(LoaderOutcome) override {}
    int ChooseFile(const FileDialogSpec&, std::string& chosen) override {
        chosen = file;
        return !file.empty();
    }
    int AskYesNo(const std::string&) override { return 1; }
    int AcceptDamagedFile(const std::string&) override { return 1; }
    int GetProfileInt(const char*, int value) override { return value; }
    void WriteProfileInt(const char*, int) override {}
    std::string GetProfileString(const char*, const std::string& value) override { return value; }
    void WriteProfileString(const char*, const std::string&) override {}

private:
    int64_t m_clock = 0;
};

// Writes the input to a file of this process's own and returns its path.
std::string WriteFuzzFile(const char* suffix, const uint8_t* data, size_t size);
