#include "window_fixture.h"

#include <QFile>
#include <QSettings>
#include <cstdio>

CRecordingDialog::CRecordingDialog() {
    m_clock.start();
    chooseFile = [this](const FileDialogSpec&, std::string& path) {
        if (fileToChoose.empty()) return 0;
        path = fileToChoose;
        return 1;
    };
    messageBox = [this](const std::string& text, MessageKind kind) { boxes.push_back({text, kind}); };
    askYesNo = [this, realQuestion = askYesNo](const std::string& text, YesNoDefault defaultButton) {
        questions.push_back(text);
        if (realQuestions) return realQuestion(text, defaultButton);
        return answerYes ? 1 : 0;
    };
}

void CRecordingDialog::SetTimer(int id, int periodMs) {
    CLoaderDialog::SetTimer(id, id == TIMER_STALL && stallGuardMs > 0 ? stallGuardMs : periodMs);
}

void CRecordingDialog::ShowStatus(const std::string& text) {
    statuses.push_back({text, Elapsed()});
    CLoaderDialog::ShowStatus(text);
}

void CRecordingDialog::TimeRemaining(int seconds) {
    timeTexts.push_back({EstimateText(seconds), Elapsed()});
    CLoaderDialog::TimeRemaining(seconds);
}

qint64 CRecordingDialog::StatusTime(const std::string& text) const {
    for (const Entry& entry : statuses)
        if (entry.text == text) return entry.ms;
    return -1;
}

void ClearSettings() {
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, "Calvane", "ORBIXLoader");
    settings.clear();
    settings.sync();
}

std::vector<uint8_t> TestPattern(size_t count) {
    std::vector<uint8_t> bytes(count);
    uint32_t state = 0x2545F491;
    for (uint8_t& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<uint8_t>(state >> 16);
    }
    return bytes;
}

void WriteSRecordFile(const QString& path, const std::vector<uint8_t>& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return;
    file.write("S0030000FC\n");
    for (size_t address = 0; address < bytes.size(); address += 32) {
        const size_t count = std::min<size_t>(32, bytes.size() - address);
        unsigned sum = static_cast<unsigned>(count + 3) + (address >> 8 & 0xFF) + (address & 0xFF);
        char line[96];
        int at = std::snprintf(line, sizeof line, "S1%02X%04X", static_cast<unsigned>(count + 3),
                               static_cast<unsigned>(address));
        for (size_t i = 0; i < count; ++i) {
            sum += bytes[address + i];
            at += std::snprintf(line + at, sizeof line - at, "%02X", bytes[address + i]);
        }
        std::snprintf(line + at, sizeof line - at, "%02X\n", ~sum & 0xFF);
        file.write(line);
    }
    file.write("S9030000FC\n");
}

void WriteBinaryFile(const QString& path, const std::vector<uint8_t>& bytes) {
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
}
