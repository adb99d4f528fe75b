#include "ui/message_box.h"

#include <QMessageBox>
#include <QPushButton>
#include <atomic>
#include <utility>

#include "base/message_sink.h"
#include "ui/titles.h"

namespace marbloom::ui {
namespace {

std::atomic<int> g_coreMessages{0};
// The question open now (window thread only), and whether it was dismissed.
QMessageBox* g_openQuestion = nullptr;
bool g_dismissed = false;

MessageBoxFunction& Function() {
  static MessageBoxFunction function;
  return function;
}

}  // namespace

void SetMessageBoxFunction(MessageBoxFunction function) { Function() = std::move(function); }

namespace {

bool Box(QWidget* owner, const QString& text, const QString& caption, BoxIcon icon) {
  const QString title = caption.isEmpty() ? QString::fromUtf8(kSheetTitle) : caption;
  if (icon == BoxIcon::kQuestion) g_dismissed = false;
  bool answer;
  if (Function()) {
    answer = Function()(owner, text, title, icon);
  } else if (icon == BoxIcon::kQuestion) {
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No, owner);
    box.button(QMessageBox::Yes)->setText(QStringLiteral("是"));
    box.button(QMessageBox::No)->setText(QStringLiteral("否"));
    box.setDefaultButton(QMessageBox::No);
    g_openQuestion = &box;
    answer = box.exec() == QMessageBox::Yes;
    g_openQuestion = nullptr;
  } else {
    answer = true;
  }
  if (icon == BoxIcon::kQuestion) return answer && !std::exchange(g_dismissed, false);
  if (Function()) return answer;
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

void DismissQuestion() {
  g_dismissed = true;
  if (g_openQuestion != nullptr) g_openQuestion->done(QMessageBox::No);
}

}  // namespace marbloom::ui
