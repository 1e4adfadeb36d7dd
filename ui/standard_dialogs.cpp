#include "standard_dialogs.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

#include <QStringList>

int RunFileDialog(QWidget* parent, const FileDialogSpec& request, std::string& chosenPath) {
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(QtNameFilters(request.filters));
    dialog.setDefaultSuffix(QString::fromUtf8(request.defaultExtension));
    if (!request.initialPath.empty()) {
        // Open where the last file was, with its name filled in.
        const QFileInfo previous(QString::fromStdString(request.initialPath));
        dialog.setDirectory(previous.absolutePath());
        dialog.selectFile(previous.fileName());
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return 0;
    chosenPath = dialog.selectedFiles().first().toStdString();
    return 1;
}

QStringList QtNameFilters(const std::vector<FileFilter>& filters) {
    QStringList result;
    for (const FileFilter& filter : filters) {
        QStringList patterns;
        for (const std::string& pattern : filter.patterns) patterns << QString::fromStdString(pattern);
        result << QString::fromStdString(filter.name) + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) +
                      QLatin1Char(')');
    }
    return result;
}

void RunMessageBox(QWidget* parent, const char* title, const std::string& text, MessageKind kind) {
    QMessageBox box(kind == MESSAGE_WARNING ? QMessageBox::Warning : QMessageBox::NoIcon, QString::fromUtf8(title),
                    QString::fromStdString(text), QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

int RunYesNo(QWidget* parent, const char* title, const std::string& text, YesNoDefault defaultButton,
             QPointer<QMessageBox>* shown) {
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(title), QString::fromStdString(text),
                    QMessageBox::Yes | QMessageBox::No, parent);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(defaultButton == DEFAULT_NO ? QMessageBox::No : QMessageBox::Yes);
    if (shown) *shown = &box;
    return box.exec() == QMessageBox::Yes ? 1 : 0;
}
