#pragma once
// Every message box of the window program goes through one function, which
// tests replace to see the text (and give the answer) instead of a blocking
// box. The core's messages (start-up and data-tree faults) are routed here as
// well.
#include <QString>
#include <functional>

class QWidget;

namespace marbloom::ui {

enum class BoxIcon { kWarning, kInformation, kQuestion };

// Answers true for OK or Yes.
using MessageBoxFunction =
    std::function<bool(QWidget* owner, const QString& text, const QString& caption, BoxIcon icon)>;

// Empty restores the real message box.
void SetMessageBoxFunction(MessageBoxFunction function);

// A modal box with an OK button. An empty caption becomes the sheet title.
void ShowMessageBox(QWidget* owner, const QString& text, const QString& caption, BoxIcon icon);

// A modal question with Yes and No (No the default); true for Yes.
bool AskYesNo(QWidget* owner, const QString& text, const QString& caption);
// Closes the question open now as answered No: what it asked about ended
// meanwhile. Its AskYesNo then answers false, also from a replaced function.
void DismissQuestion();

// The core's ShowMessage becomes a warning box without an owner.
void RouteCoreMessagesToBoxes();
// How many of the core's messages have been shown so far.
int CoreMessagesShown();

}  // namespace marbloom::ui
