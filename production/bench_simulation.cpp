#include "bench_simulation.h"

#include <QFile>

#include "link/messages.h"
#include "session/image_file.h"

// The demo firmware, built into the program: a bench simulated anywhere sends the same image.
// (The resources live in a static library; nothing would pull them into the program otherwise.)
static bool InitResources() {
    Q_INIT_RESOURCE(orbix_bench);
    return true;
}

std::string CBenchSimulation::ProfilePath() const {
    return m_folder.filePath(QStringLiteral("simulated.orbix-bench")).toStdString();
}

int CBenchSimulation::Start(int keypads, const std::string& log, std::string& error) {
    static const bool ready = InitResources();
    (void)ready;
    const QString image = m_folder.filePath(QStringLiteral("demo-firmware.s"));
    if (!m_folder.isValid() || !QFile::copy(QStringLiteral(":/bench/demo-firmware.s"), image)) {
        error = "the demo firmware could not be written to a temporary folder";
        return 0;
    }
    CImageFile file;
    uint64_t length = 0;
    std::string problem;
    if (ReadImageFile(image.toStdString(), 1 << 24, file, length, problem, [] { return false; }) != FILE_READ_OK) {
        error = "the demo firmware could not be read back: " + problem;
        return 0;
    }
    m_profile = BenchProfile();
    m_profile.image = "demo-firmware.s";
    m_profile.sha256 = file.sha256;
    m_profile.log = log;
    for (int i = 0; i < keypads; ++i) {
        auto keypad = std::make_unique<CSimulatedKeypad>(DemoKeypadConfig());
        if (!keypad->Open(error)) return 0;
        // Keypads come a little apart, stay off the cable a few seconds between units, and about
        // one in seven answers Failed part-way through its data.
        keypad->firstKeypadAfterMs = 400 + 700 * i;
        keypad->swapAfterUpdateMs = 2000 + (i * 1237) % 3000;
        keypad->swapsLeft = 1 << 30;
        keypad->onSwap = [this](const CKeypadModel&, KeypadConfig& next) {
            next = DemoKeypadConfig();
            const int arrival = ++m_arrivals;
            if (arrival % 7 == 3) {
                next.failCommand = CMD_FW_DATA;
                next.failOccurrence = 20 + arrival % 40;
            }
        };
        keypad->Start();
        m_profile.slots.push_back({"Slot " + std::to_string(i + 1), keypad->DevicePath()});
        m_keypads.push_back(std::move(keypad));
    }
    return 1;
}
