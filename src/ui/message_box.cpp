#include "ui/message_box.h"

#include <QMessageBox>
#include <QPushButton>
#include <atomic>

#include "base/message_sink.h"
#include "ui/titles.h"

namespace marbloom::ui {
namespace {

std::atomic<int> g_coreMessages{0};

MessageBoxFunction& Function() {
  static MessageBoxFunction function;
  return function;
}

}  // namespace

void SetMessageBoxFunction(MessageBoxFunction function) { Function() = std::move(function); }

void ShowMessageBox(QWidget* owner, const QString& text, const QString& caption, BoxIcon icon) {
  const QString title = caption.isEmpty() ? QString::fromUtf8(kSheetTitle) : caption;
  if (Function()) {
    Function()(owner, text, title, icon);
    return;
  }
  QMessageBox box(icon == BoxIcon::kInformation ? QMessageBox::Information : QMessageBox::Warning, title, text,
                  QMessageBox::Ok, owner);
  box.button(QMessageBox::Ok)->setText(QStringLiteral("确定"));
  box.exec();
}

void RouteCoreMessagesToBoxes() {
  SetMessageSink([](const std::string& text, const std::string& caption) {
    ++g_coreMessages;
    ShowMessageBox(nullptr, QString::fromStdString(text), QString::fromStdString(caption), BoxIcon::kWarning);
  });
}

int CoreMessagesShown() { return g_coreMessages; }

}  // namespace marbloom::ui
