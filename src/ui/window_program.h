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

// Qt's own texts (file dialogs, standard buttons), dates and file kinds in
// simplified Chinese, like the rest of the window, whatever the system's
// language: Qt's catalogue qtbase_zh_CN, the texts it lacks, and Chinese as
// the default locale.
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
