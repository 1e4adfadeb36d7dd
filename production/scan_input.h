#pragma once
#include <QObject>
#include <QString>
#include <functional>
#include <string>

class QWidget;

// A USB scanner is a keyboard: it types a code's characters and Enter within a
// few milliseconds into whatever widget has focus. While `window` is the
// active window and `wanted` says codes are taken, its printable keys and
// Enter are gathered here, for the whole application, and never reach the
// focused widget (a space would click a focused button); a dialog or a menu of
// its own keeps its keys. Typed by hand, a code goes the same way.
class CScanInput : public QObject {
public:
    explicit CScanInput(QWidget& window);

    std::function<bool()> wanted;
    // Enter: the characters gathered since the last (none: Enter alone).
    std::function<void(const std::string& code)> onCode;
    // The characters gathered so far, to show them as they are typed.
    std::function<void(const QString& typed)> onTyped;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget& m_window;
    QString m_typed;
};
