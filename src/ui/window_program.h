#pragma once
// The window program's start-up after the application object exists.
#include <memory>
#include <string>

namespace marbloom::ui {

class MainDlg;

// Before the application object: a session without XDG_RUNTIME_DIR (a root
// shell, a container) gets the private folder Qt would fall back to, made
// with mode 0700, so Qt starts without a warning.
void PrepareRuntimeDirectory();

// Qt's own texts (file dialogs, standard buttons) in the system's Chinese,
// or in simplified Chinese on any other system, like the rest of the window.
void LoadQtTranslations();

// The dialog font: "宋体" 9 point where the desktop has it, otherwise a CJK
// font Debian ships (WenQuanYi Micro Hei).
void ApplyDialogFont();

// The sheet with its pages in tab order: the four operation and settings
// pages, then the data tab.
std::unique_ptr<MainDlg> CreateMainDlg();

// Single-instance rule (X11 only), work directory (`workDir`, or chosen when
// empty), settings, quiet data tree, then the modal sheet, whose tabs show
// the version as their tooltip. Returns the process exit code.
int RunWindowProgram(const std::string& workDir);

}  // namespace marbloom::ui
