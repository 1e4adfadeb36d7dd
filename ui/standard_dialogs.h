#pragma once

#include <string>

#include "image/user_host.h"

class QWidget;

// The real modal dialogs behind the window's file choice, message box and Yes/No question.

// 1 with the chosen path, 0 when cancelled.
int RunFileDialog(QWidget* parent, const FileDialogSpec& request, std::string& chosenPath);
// OK only; the exclamation icon when asked for, otherwise none.
void RunMessageBox(QWidget* parent, const char* title, const std::string& text, MessageIcon icon);
enum YesNoDefault { DEFAULT_YES, DEFAULT_NO };
// Yes and No, no icon, the given default (what Enter answers); 1 for Yes.
int RunYesNo(QWidget* parent, const char* title, const std::string& text, YesNoDefault defaultButton);
