#include "help_dialog.h"

#include <QPlainTextEdit>
#include <QPushButton>

#include "dialog_units.h"

// Lines 1, 4, 5, 6 and 7 end in a blank on purpose.
const char* const HELP_TEXT =
    "The ORBIX Loader allows users to install updated \r\n"
    "Firmware or Screens into an ORBIX.\r\n"
    "\r\n"
    "Note that the keypad must be in the Kestrel mode \r\n"
    "for these operations to be performed. This can be done \r\n"
    "by navigating to the \"Firmware Update\" screen or by \r\n"
    "pressing and holding the top left corner of the display \r\n"
    "on power up.";

CHelpDialog::CHelpDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("ORBIX Loader Help"));
    const CDialogUnits du(font());
    setFixedSize(du.Size(258, 182));

    auto* close = new QPushButton(QStringLiteral("Close"), this);
    close->setGeometry(du.Rect(201, 7, 50, 14));
    close->setDefault(true);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);

    m_text = new QPlainTextEdit(this);
    m_text->setObjectName(QStringLiteral("helpText"));
    m_text->setGeometry(du.Rect(7, 7, 184, 147));
    m_text->setReadOnly(true);
    m_text->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_text->setPlainText(QString::fromLatin1(HELP_TEXT));

    setTabOrder(close, m_text);
    close->setFocus();
}
