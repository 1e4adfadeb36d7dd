#include <QInputDialog>
#include <QLabel>
#include <QStatusBar>
#include <cstdio>

#include "bench_window.h"
#include "scan_input.h"

// The keypads' labels as the scanner types them, and the operator the records name.

namespace {
constexpr int SAID_MS = 15'000;  // what became of a code stays in the status bar this long
}

void CBenchWindow::Scanned(const std::string& code) {
    CSerialDesk* desk = m_run ? m_run->Serials() : nullptr;
    statusBar()->clearMessage();
    if (!desk) return;  // Enter alone: the desk lets a slot go on without a label only where labels are optional
    const std::string said = desk->Scan(code);
    if (said.empty()) return;
    std::fprintf(stderr, "orbix-bench: %s\n", said.c_str());
    statusBar()->showMessage(QString::fromStdString(said), SAID_MS);
}

bool CBenchWindow::ReadyToStart(const std::function<void()>& then) {
    if (!m_refusal.empty()) {
        Warn(m_refusal);
        return false;
    }
    if (!m_profile.operatorRequired || !m_operator.empty()) return true;
    AskOperator(then);
    return false;
}

// Asked without blocking, so the slots' news go on meanwhile; a scanner types the badge into it.
void CBenchWindow::AskOperator(const std::function<void()>& then) {
    if (findChild<QInputDialog*>(QStringLiteral("operator"))) return;
    auto* dialog = new QInputDialog(this);
    dialog->setObjectName(QStringLiteral("operator"));
    dialog->setWindowTitle(QStringLiteral("Operator"));
    dialog->setLabelText(QStringLiteral("Scan your badge or type your name:"));
    dialog->setTextValue(QString::fromStdString(m_operator));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QInputDialog::textValueSelected, this, [this, then](const QString& typed) {
        const std::string name = typed.trimmed().toStdString();
        if (name.empty()) {
            statusBar()->showMessage(QStringLiteral("Nobody was named: the records need an operator."), SAID_MS);
            return;
        }
        m_operator = name;
        if (m_run) m_run->SetOperator(m_operator);
        ShowOperator();
        if (then) then();
    });
    dialog->open();
}

// The status bar says who operates the bench and what became of a code; the scanner's keys are taken
// from the start, whatever has focus.
void CBenchWindow::MakeStatusBar() {
    m_operatorLabel = new QLabel(this);
    m_operatorLabel->setTextFormat(Qt::PlainText);
    statusBar()->addPermanentWidget(m_operatorLabel);
    ShowOperator();
    m_scan = new CScanInput(*this);
    m_scan->wanted = [this] { return m_run && m_run->Serials(); };
    m_scan->onCode = [this](const std::string& code) { Scanned(code); };
    m_scan->onTyped = [this](const QString& typed) {
        statusBar()->showMessage(QStringLiteral("Label: ") + typed, SAID_MS);
    };
}

// Only a bench that scans labels or names its operator has something to say there.
void CBenchWindow::ShowOperator() {
    statusBar()->setVisible(m_profile.serial != SERIAL_OFF || m_profile.operatorRequired || !m_operator.empty());
    m_operatorLabel->setText(m_operator.empty() ? QString()
                                                : QStringLiteral("Operator: ") + QString::fromStdString(m_operator));
}
