#include "scan_input.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>
#include <algorithm>

namespace {

bool IsEnter(int key) { return key == Qt::Key_Return || key == Qt::Key_Enter; }

// A character a label holds, typed without Ctrl, Alt or Meta (those are the window's shortcuts).
bool IsCharacter(const QKeyEvent& key) {
    if (key.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return false;
    const QString text = key.text();
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) { return c.isPrint(); });
}

}  // namespace

CScanInput::CScanInput(QWidget& window) : QObject(&window), m_window(window) { qApp->installEventFilter(this); }

bool CScanInput::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::KeyRelease) return QObject::eventFilter(watched, event);
    if (QApplication::activeWindow() != &m_window || QApplication::activePopupWidget() || !wanted || !wanted())
        return false;
    const auto& key = static_cast<const QKeyEvent&>(*event);
    const bool backspace = key.key() == Qt::Key_Backspace && !m_typed.isEmpty();
    if (!IsEnter(key.key()) && !IsCharacter(key) && !backspace) return false;
    if (type == QEvent::KeyRelease) return true;  // its press was taken: a button must not see it let go either
    if (backspace) {
        m_typed.chop(1);
    } else if (!IsEnter(key.key())) {
        m_typed += key.text();
    } else {
        const std::string code = m_typed.toStdString();
        m_typed.clear();
        if (onCode) onCode(code);
        return true;
    }
    if (onTyped) onTyped(m_typed);
    return true;
}
