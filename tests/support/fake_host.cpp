#include "fake_host.h"

#include <algorithm>

const std::vector<uint8_t> ACK_FRAME = {0xF0, 0x01, 0x06, 0x06};
const std::vector<uint8_t> OK_FRAME = {0xF0, 0x01, 0xE0, 0xE0};
const std::vector<uint8_t> FAILED_FRAME = {0xF0, 0x01, 0xE1, 0xE1};

FakeHost::FakeHost() : m_engine(std::make_unique<CLoaderEngine>(*this)) {}

void FakeHost::WriteFrameToPort(const uint8_t* data, int count) {
    frames.push_back({m_nowMs, std::vector<uint8_t>(data, data + count)});
    if (onWrite) onWrite(frames.back().bytes);
}

void FakeHost::Deliver(const std::vector<uint8_t>& bytes, int64_t delayMs) {
    m_deliveries.push_back({m_nowMs + delayMs, m_order++, bytes});
}

bool FakeHost::RunNext(int64_t until) {
    int timerId = -1;
    int64_t due = until + 1;
    for (auto& [id, timer] : m_timers) {
        if (timer.due < due) {
            due = timer.due;
            timerId = id;
        }
    }
    auto delivery = std::min_element(m_deliveries.begin(), m_deliveries.end(), [](auto& a, auto& b) {
        return a.due != b.due ? a.due < b.due : a.order < b.order;
    });
    // A delivery due at the same moment as a timer arrives first.
    if (delivery != m_deliveries.end() && delivery->due <= until && delivery->due <= due) {
        m_nowMs = std::max(m_nowMs, delivery->due);
        std::vector<uint8_t> bytes = std::move(delivery->bytes);
        m_deliveries.erase(delivery);
        m_engine->FeedBytes(bytes.data(), static_cast<int>(bytes.size()));
        return true;
    }
    if (timerId < 0) return false;
    m_nowMs = std::max(m_nowMs, due);
    m_timers[timerId].due += m_timers[timerId].period;  // repeats until stopped
    m_engine->OnTimer(timerId);
    return true;
}

void FakeHost::Advance(int64_t ms) {
    int64_t until = m_nowMs + ms;
    while (RunNext(until)) {
    }
    m_nowMs = std::max(m_nowMs, until);
}

void FakeHost::RunUntilIdle(int64_t limitMs) {
    int64_t until = m_nowMs + limitMs;
    while ((m_engine->IsBusy() || !m_deliveries.empty()) && RunNext(until)) {
    }
}

void FakeHost::UpdateFirmware() {
    FileStepResult result = Engine().LoadFirmwareFile();
    ShowFileResult(result);
    if (result.Accepted()) Engine().StartFirmwareUpdate();
}

void FakeHost::UpdateScreens() {
    FileStepResult result = Engine().LoadScreensFile();
    ShowFileResult(result);
    if (result.Accepted()) Engine().StartScreensUpdate();
}

void FakeHost::ShowFileResult(const FileStepResult& result) {
    if (result.IsStatusText()) Engine().SetStatus(result.text);
    else if (!result.text.empty()) messageBoxes.push_back(result.text);
}

void FakeHost::PhaseStarted(UpdatePhase phase, int, int last) {
    m_phase = phase;
    ranges.emplace_back(0, phase == PHASE_DATA ? 100 : last);
    positions.push_back(0);
    if (phase == PHASE_ERASE) showTexts.push_back(true);
}

void FakeHost::Progress(int position, int last) {
    positions.push_back(m_phase == PHASE_DATA ? PercentSent(position, last) : position);
}

int FakeHost::ChooseFile(const FileDialogSpec& request, std::string& chosenPath) {
    dialogs.push_back(request);
    if (chooseFile.empty()) return 0;
    chosenPath = chooseFile;
    return 1;
}

int FakeHost::AskYesNo(const std::string& text) {
    questions.push_back(text);
    return answerYes;
}

int FakeHost::AcceptDamagedFile(const std::string& question) {
    questions.push_back(question);
    return acceptDamaged;
}

int FakeHost::GetProfileInt(const char* key, int defaultValue) {
    auto it = settings.find(key);
    return it == settings.end() ? defaultValue : std::stoi(it->second);
}

std::string FakeHost::GetProfileString(const char* key, const std::string& defaultValue) {
    auto it = settings.find(key);
    return it == settings.end() ? defaultValue : it->second;
}

std::vector<std::string> FakeHost::StatusTexts() const {
    std::vector<std::string> texts;
    for (auto& s : statuses) texts.push_back(s.text);
    return texts;
}
