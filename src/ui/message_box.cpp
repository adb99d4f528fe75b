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

namespace {

bool Box(QWidget* owner, const QString& text, const QString& caption, BoxIcon icon) {
  const QString title = caption.isEmpty() ? QString::fromUtf8(kSheetTitle) : caption;
  if (Function()) return Function()(owner, text, title, icon);
  if (icon == BoxIcon::kQuestion) {
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No, owner);
    box.button(QMessageBox::Yes)->setText(QStringLiteral("是"));
    box.button(QMessageBox::No)->setText(QStringLiteral("否"));
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
  }
  QMessageBox box(icon == BoxIcon::kInformation ? QMessageBox::Information : QMessageBox::Warning, title, text,
                  QMessageBox::Ok, owner);
  box.button(QMessageBox::Ok)->setText(QStringLiteral("确定"));
  box.exec();
  return true;
}

}  // namespace

void ShowMessageBox(QWidget* owner, const QString& text, const QString& caption, BoxIcon icon) {
  Box(owner, text, caption, icon);
}

bool AskYesNo(QWidget* owner, const QString& text, const QString& caption) {
  return Box(owner, text, caption, BoxIcon::kQuestion);
}

void RouteCoreMessagesToBoxes() {
  SetMessageSink([](const std::string& text, const std::string& caption) {
    ++g_coreMessages;
    ShowMessageBox(nullptr, QString::fromStdString(text), QString::fromStdString(caption), BoxIcon::kWarning);
  });
}

int CoreMessagesShown() { return g_coreMessages; }

}  // namespace marbloom::ui
