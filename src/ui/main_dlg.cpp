#include "app/settings.h"
#include "ui/main_dlg.h"

#include <QApplication>
#include <QDate>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QKeyEvent>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "base/run_log.h"
#include "ui/message_box.h"
#include "ui/operation_page.h"
#include "ui/pg_config.h"
#include "ui/titles.h"

namespace marbloom::ui {
namespace {

constexpr const char* kTakesEnter = "marbloomTakesEnter";

bool IsSwallowedKey(const QObject* watched, const QEvent* event) {
  if (event->type() != QEvent::KeyPress) return false;
  const int key = static_cast<const QKeyEvent*>(event)->key();
  if (key == Qt::Key_Escape) return true;
  return (key == Qt::Key_Return || key == Qt::Key_Enter) && !watched->property(kTakesEnter).toBool();
}

bool IsTabSwitchInput(const QEvent* event) {
  switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
      return true;
    default:
      return false;
  }
}

}  // namespace

MainDlg::MainDlg(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("MainDlg"));
  setWindowTitle(QString::fromUtf8(kSheetTitle));
  setSizeGripEnabled(true);
  tabs_ = new QTabWidget(this);
  tabs_->setObjectName(QStringLiteral("sheet"));
  buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons_->setObjectName(QStringLiteral("buttons"));
  buttons_->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
  buttons_->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("ctl1"));
  buttons_->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
  buttons_->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("ctl2"));
  QPushButton* log = buttons_->addButton(QStringLiteral("查看日志"), QDialogButtonBox::ResetRole);
  log->setObjectName(QStringLiteral("btnLog"));
  log->setToolTip(QStringLiteral("打开今天的运行日志(细节参看日志)"));
  connect(log, &QPushButton::clicked, this, &MainDlg::OpenTodaysLog);
  for (QAbstractButton* b : buttons_->buttons()) static_cast<QPushButton*>(b)->setAutoDefault(false);
  connect(buttons_, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(tabs_, &QTabWidget::currentChanged, this, &MainDlg::SnapBack);
  tabs_->tabBar()->installEventFilter(this);
  qApp->installEventFilter(this);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tabs_, 1);
  layout->addWidget(buttons_);
  resize(600, 540);
}

MainDlg::~MainDlg() { qApp->removeEventFilter(this); }

void MainDlg::AddPage(QWidget* page, const QString& caption) { tabs_->addTab(page, caption); }

int MainDlg::GetActiveIndex() const { return tabs_->currentIndex(); }

void MainDlg::LockTabs() {
  lockedPage_ = GetActiveIndex();
  tabsLocked_ = 1;
}

void MainDlg::UnlockTabs() { tabsLocked_ = 0; }

void MainDlg::done(int result) {
  if (tabsLocked_ && !StopRunningOperation()) return;
  if (result == QDialog::Accepted && !SettingsSettled()) return;
  QDialog::done(result);
}

// True when the window may close: the user agreed and the run has ended. A
// run that ends while the question is open makes it moot: the question goes
// away and the window stays, showing how the run ended.
bool MainDlg::StopRunningOperation() {
  auto* page = qobject_cast<OperationPage*>(tabs_->widget(lockedPage_));
  if (page == nullptr || !page->IsRunning() || closing_) return false;
  const QMetaObject::Connection moot = connect(page, &OperationPage::runFinished, this, [] { DismissQuestion(); });
  const bool yes = AskYesNo(this, QStringLiteral("操作正在进行，是否取消操作并退出程序?"), QString());
  disconnect(moot);
  if (!yes) return false;
  closing_ = true;
  QEventLoop wait;
  connect(page, &OperationPage::runFinished, &wait, &QEventLoop::quit);
  if (page->IsRunning()) {
    page->CancelAll();
    wait.exec();
  }
  closing_ = false;
  return true;
}

// 确定 with settings entered but not confirmed asks whether to save them:
// Yes confirms them (the window stays when that fails), No leaves them.
bool MainDlg::SettingsSettled() {
  auto* settings = findChild<PgConfig*>();
  if (settings == nullptr || !settings->HasUnconfirmedEntries()) return true;
  if (!AskYesNo(this, QStringLiteral("参数设置已修改但尚未确认, 是否保存?"), QString())) return true;
  return settings->Confirm();
}

bool MainDlg::eventFilter(QObject* watched, QEvent* event) {
  if (watched == tabs_->tabBar() && tabsLocked_ && IsTabSwitchInput(event)) return true;
  if (IsSwallowedKey(watched, event)) {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget != nullptr && widget->window() == this) return true;
  }
  return QDialog::eventFilter(watched, event);
}

// Today's run log in the desktop's viewer for it; without one yet, the log
// folder; without that either, a box says where the logs will be.
void MainDlg::OpenTodaysLog() {
  const QString folder = QFileInfo(QString::fromStdString(CurrentLayout().LogDir())).absoluteFilePath();
  const QString today = QDir(folder).filePath(QDate::currentDate().toString(QStringLiteral("yyyyMMdd")) + ".log");
  for (const QString& path : {today, folder})
    if (QFileInfo::exists(path) && QDesktopServices::openUrl(QUrl::fromLocalFile(path))) return;
  ShowMessageBox(this,
                 QStringLiteral("今天还没有运行日志, 或者无法打开。日志文件在:\n%1").arg(QDir::toNativeSeparators(today)),
                 QString(), BoxIcon::kInformation);
}

void MainDlg::SnapBack(int index) {
  if (tabsLocked_ && index != lockedPage_) tabs_->setCurrentIndex(lockedPage_);
}

void LetEnterThrough(QWidget* field) { field->setProperty(kTakesEnter, true); }

MainDlg* SheetOf(QWidget* page) { return page ? qobject_cast<MainDlg*>(page->window()) : nullptr; }

void LockSheetTabs(QWidget* page, bool lock) {
  if (MainDlg* sheet = SheetOf(page)) lock ? sheet->LockTabs() : sheet->UnlockTabs();
}

}  // namespace marbloom::ui
