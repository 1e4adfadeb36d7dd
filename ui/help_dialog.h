#pragma once

#include <QDialog>

class QPlainTextEdit;

// The instructions, eight lines joined by CR LF.
extern const char* const HELP_TEXT;

// Shows the instructions in a read-only box whose lines are not wrapped.
class CHelpDialog : public QDialog {
    Q_OBJECT
public:
    explicit CHelpDialog(QWidget* parent = nullptr);

    QPlainTextEdit* TextBox() const { return m_text; }

private:
    QPlainTextEdit* m_text = nullptr;
};
