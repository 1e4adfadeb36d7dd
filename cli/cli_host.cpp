#include "cli_host.h"

#include "interrupts.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QThread>
#include <cstdio>
#include <ctime>
#include <iostream>

CCliHost::CCliHost(const CliOptions& options)
    : m_options(options),
      m_engine(*this),
      m_settings(true),
      m_binding(m_engine, *this),
      m_timers([this](int id) { m_engine.OnTimer(id); }),
      m_view(options.quiet, isatty(STDOUT_FILENO) != 0) {
    m_clock.start();
    m_stallTimer.setSingleShot(true);
    connect(&m_stallTimer, &QTimer::timeout, this, &CCliHost::OnStall);
    m_binding.onReceived = [this](const QByteArray& bytes) {
        Trace("<-", reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<int>(bytes.size()));
        RestartStallTimer();
    };
}

int CCliHost::OpenPort(const std::string& simulatedDevice) {
    if (!simulatedDevice.empty()) {
        m_binding.SetPortOverride({0, simulatedDevice});
    } else if (!m_options.port.empty()) {
        PortSpec port;
        if (!ParsePortArgument(m_options.port, port)) {
            m_view.Error("--port takes a COM number (3 or COM3), a device path, rfc2217://HOST:PORT or "
                         "tcp://HOST:PORT, not \"" + m_options.port + "\"");
            return EXIT_USAGE;
        }
        m_binding.SetPortOverride(port);
    }
    if (!m_binding.OpenComPort()) {
        m_view.Error(m_binding.OpenFailureReason());
        return EXIT_USAGE;
    }
    const std::string& device = m_binding.PortInUse().device;
    if (!m_binding.Comm().LowLatency() && device.rfind("/dev/pts/", 0) != 0 && !m_options.quiet)
        std::fprintf(stderr, "orbix-flash: note: %s does not offer low-latency mode; transfers may be slower\n",
                     device.c_str());
    m_engine.ResetSender();
    return EXIT_OK;
}

int CCliHost::Run() {
    switch (m_options.command) {
    case CLI_TEST:
        m_engine.OnTestConnection();
        break;
    case CLI_FIRMWARE:
        m_engine.OnUpdateFirmware();
        break;
    case CLI_SCREENS:
        m_engine.OnUpdateScreens();
        break;
    default:
        return EXIT_USAGE;
    }
    if (m_engine.IsBusy()) {
        RestartStallTimer();
        QCoreApplication::exec();
    } else if (!m_interruptExit && !m_declined) {
        m_refused = true;  // the file step or the question stopped it: nothing was sent
    }
    m_view.Finish();
    int code = ExitCode();
    if (code != EXIT_OK && m_options.quiet && !m_engine.StatusText().empty())
        m_view.Error(m_engine.StatusText());
    return code;
}

int CCliHost::ExitCode() const {
    if (m_interruptExit) return m_interruptExit;
    if (m_refused) return EXIT_USAGE;
    if (m_declined) return EXIT_FAILED;
    return m_engine.Outcome() == OUTCOME_SUCCESS ? EXIT_OK : EXIT_FAILED;
}

void CCliHost::Interrupt(int exitCode) {
    m_interruptExit = exitCode;
    if (m_engine.IsBusy()) m_engine.OnOK();  // Abort; its ShowBusy(false) ends the loop
    else QCoreApplication::quit();
}

void CCliHost::ShowBusy(bool busy) {
    if (!busy) QTimer::singleShot(0, qApp, &QCoreApplication::quit);
}

void CCliHost::WriteFrameToPort(const uint8_t* data, int count) {
    m_binding.WriteFrameToPort(data, count);
    Trace("->", data, count);
    RestartStallTimer();
}

void CCliHost::Sleep(int ms) { QThread::msleep(static_cast<unsigned long>(ms)); }

int64_t CCliHost::CurrentTime() { return static_cast<int64_t>(std::time(nullptr)); }

int CCliHost::ChooseFile(const FileDialogSpec&, std::string& chosenPath) {
    chosenPath = QFileInfo(QString::fromStdString(m_options.file)).absoluteFilePath().toStdString();
    return 1;
}

void CCliHost::MessageBox(const std::string& text, MessageIcon) { m_view.Error(text); }

int CCliHost::AskYesNo(const std::string& text) {
    if (m_options.yes) return 1;
    if (!isatty(STDIN_FILENO)) {
        m_view.Error(text);
        m_view.Error("there is no terminal to answer on: run again with --yes to confirm the erase");
        m_refused = true;
        return 0;
    }
    std::printf("%s [y/N] ", text.c_str());
    std::fflush(stdout);
    std::string answer;
    if (!std::getline(std::cin, answer)) answer.clear();
    if (g_interruptSignal) m_interruptExit = 128 + g_interruptSignal;
    if (answer == "y" || answer == "Y" || answer == "yes" || answer == "Yes") return 1;
    if (!m_interruptExit) {
        m_declined = true;
        m_view.Status("Nothing was changed.");
    }
    return 0;
}

void CCliHost::Trace(const char* direction, const uint8_t* data, int count) {
    if (!m_options.trace || count <= 0) return;
    std::string line;
    char text[8];
    for (int i = 0; i < count; ++i) {
        std::snprintf(text, sizeof text, " %02X", data[i]);
        line += text;
    }
    std::fprintf(stderr, "[%10.3f] %s%s\n", m_clock.nsecsElapsed() / 1e6, direction, line.c_str());
}

void CCliHost::RestartStallTimer() { m_stallTimer.start(m_options.stallTimeoutSeconds * 1000); }

void CCliHost::OnStall() {
    char text[96];
    std::snprintf(text, sizeof text, "No reply from ORBIX for %d seconds", m_options.stallTimeoutSeconds);
    m_engine.EndOperation(text, OUTCOME_FAILED);
}
