#include <QDir>
#include <QDragEnterEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QMimeData>

#include "bench_window.h"
#include "profile_dialog.h"

// The bench's profile as the engineer handles it: made, opened, dropped, saved, locked. What a
// profile does once open is bench_window.cpp's.

namespace {

// The profile as it is written to `path`: names inside its folder relative, so the folder copies
// from PC to PC (the profile dialog gives them absolute); `from` is where they start now.
BenchProfile SavedIn(const std::string& path, const BenchProfile& profile, const std::string& from) {
    BenchProfile saved = profile;
    const QDir folder = QFileInfo(QString::fromStdString(path)).absoluteDir();
    auto relative = [&](std::string& name) {
        if (name.empty()) return;
        const QString absolute = QString::fromStdString(BenchProfilePath(from, name));
        const QString inside = folder.relativeFilePath(absolute);
        name = (inside.startsWith(QLatin1String("..")) ? absolute : inside).toStdString();
    };
    relative(saved.image);
    relative(saved.log);
    return saved;
}

}  // namespace

void CBenchWindow::ApplyLock() {
    const bool locked = m_profile.locked;
    m_new->setEnabled(!locked);
    m_open->setEnabled(!locked);
    m_edit->setEnabled(!locked && !m_profile.image.empty());
    m_saveAs->setEnabled(!locked && !m_profile.image.empty());
    m_lock->setText(locked ? QStringLiteral("Un&lock\u2026") : QStringLiteral("&Lock"));
    m_startAll->setEnabled(!m_slots.empty());
    m_stopAll->setEnabled(!m_slots.empty());
}

// Locking writes itself into the profile's file, so the bench opens locked from now on; unlocking
// lasts until the bench closes or the profile is saved.
void CBenchWindow::ToggleLock() {
    if (!m_profile.locked) {
        if (m_profile.passwordHash.empty()) {
            bool ok = false;
            const QString password = QInputDialog::getText(
                this, QStringLiteral("Lock the bench"),
                QStringLiteral("A password to unlock it (none: leave it empty):"), QLineEdit::Password, QString(), &ok);
            if (!ok) return;
            SetBenchPassword(m_profile, password.toStdString());
        }
        m_profile.locked = true;
        std::string error;
        if (!m_profilePath.empty() &&
            !SaveBenchProfile(m_profilePath, SavedIn(m_profilePath, m_profile, m_profilePath), error))
            Warn("The bench is locked, but the profile could not be saved so: " + error);
    } else if (!m_profile.passwordHash.empty()) {
        bool ok = false;
        const QString password =
            QInputDialog::getText(this, QStringLiteral("Unlock the bench"), QStringLiteral("The profile's password:"),
                                  QLineEdit::Password, QString(), &ok);
        if (!ok) return;
        if (!BenchPasswordMatches(m_profile, password.toStdString())) {
            Warn("That is not the profile's password: the bench stays locked.");
            return;
        }
        m_profile.locked = false;
    } else {
        m_profile.locked = false;
    }
    ApplyLock();
}

void CBenchWindow::NewProfile() {
    if (m_profile.locked) return;
    if (AnyRunning()) {
        Warn("Stop every slot before making a new profile.");
        return;
    }
    CProfileDialog dialog(BenchProfile(), this);
    if (dialog.exec() != QDialog::Accepted) return;
    // Saved even when it opens locked: the lock must not keep the new profile from its file.
    if (UseProfile(dialog.Profile(), "")) ChooseWhereToSave();
}

void CBenchWindow::EditProfile() {
    if (m_profile.locked) return;
    if (AnyRunning()) {
        Warn("Stop every slot before changing the profile.");
        return;
    }
    CProfileDialog dialog(m_profile, this, m_profilePath);
    if (dialog.exec() != QDialog::Accepted) return;
    UseProfile(dialog.Profile(), m_profilePath);
}

void CBenchWindow::OpenProfileChosen() {
    if (m_profile.locked) return;
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Open a bench profile"), QString(),
                                                      QStringLiteral("Bench profiles (*.orbix-bench);;All files (*)"));
    if (!path.isEmpty()) OpenProfile(path.toStdString());
}

void CBenchWindow::SaveProfileAs() {
    if (!m_profile.locked) ChooseWhereToSave();
}

void CBenchWindow::ChooseWhereToSave() {
    QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save the bench profile"), QString(),
                                                QStringLiteral("Bench profiles (*.orbix-bench)"));
    if (path.isEmpty()) return;
    if (QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".orbix-bench");
    const BenchProfile saved = SavedIn(path.toStdString(), m_profile, m_profilePath);
    std::string error;
    if (!SaveBenchProfile(path.toStdString(), saved, error)) {
        Warn("The profile could not be saved: " + error);
        return;
    }
    UseProfile(saved, path.toStdString());
}

void CBenchWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (!m_profile.locked && event->mimeData()->hasUrls() && event->mimeData()->urls().size() == 1 &&
        event->mimeData()->urls()[0].isLocalFile())
        event->acceptProposedAction();
}

void CBenchWindow::dropEvent(QDropEvent* event) {
    if (m_profile.locked || !event->mimeData()->hasUrls()) return;
    const std::string path = event->mimeData()->urls()[0].toLocalFile().toStdString();
    event->acceptProposedAction();
    // After the drop has ended: the boxes must not run inside the drag.
    QMetaObject::invokeMethod(
        this, [this, path] { OpenProfile(path); }, Qt::QueuedConnection);
}
