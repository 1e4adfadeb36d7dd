#pragma once

#include <QPointer>
#include <QStringList>
#include <string>
#include <vector>

#include "engine/user_host.h"

class QMessageBox;
class QWidget;

// The real modal dialogs behind the window's file choice, message box and Yes/No question.

// The dialog's list of kinds as Qt name filters: "ORBIX Firmware (*.s)", "All Files (*)".
QStringList QtNameFilters(const std::vector<FileFilter>& filters);
// 1 with the chosen path, 0 when cancelled.
int RunFileDialog(QWidget* parent, const FileDialogSpec& request, std::string& chosenPath);
// What a box says: a note (no icon) or a warning (the exclamation icon).
enum MessageKind { MESSAGE_NOTE, MESSAGE_WARNING };
// OK only.
void RunMessageBox(QWidget* parent, const char* title, const std::string& text, MessageKind kind);
enum YesNoDefault { DEFAULT_YES, DEFAULT_NO };
// Yes and No, no icon, the given default (what Enter answers); 1 for Yes. While it is up, `shown`
// (when given) points at the box, so that the caller can withdraw the question.
int RunYesNo(QWidget* parent, const char* title, const std::string& text, YesNoDefault defaultButton,
             QPointer<QMessageBox>* shown = nullptr);
