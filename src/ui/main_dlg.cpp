#include "ui/main_dlg.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include "ui/titles.h"

namespace marbloom::ui {
namespace {

bool IsSwallowedKey(const QEvent* event) {
  if (event->type() != QEvent::KeyPress) return false;
  const int key = static_cast<const QKeyEvent*>(event)->key();
  return key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter;
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

// OK and Cancel are greyed while locked, so the refusal to close is visible.
void MainDlg::LockTabs() {
  lockedPage_ = GetActiveIndex();
  tabsLocked_ = 1;
  buttons_->setEnabled(false);
}

void MainDlg::UnlockTabs() {
  tabsLocked_ = 0;
  buttons_->setEnabled(true);
}

void MainDlg::done(int result) {
  if (tabsLocked_) return;
  QDialog::done(result);
}

bool MainDlg::eventFilter(QObject* watched, QEvent* event) {
  if (watched == tabs_->tabBar() && tabsLocked_ && IsTabSwitchInput(event)) return true;
  if (IsSwallowedKey(event)) {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget != nullptr && widget->window() == this) return true;
  }
  return QDialog::eventFilter(watched, event);
}

void MainDlg::SnapBack(int index) {
  if (tabsLocked_ && index != lockedPage_) tabs_->setCurrentIndex(lockedPage_);
}

MainDlg* SheetOf(QWidget* page) { return page ? qobject_cast<MainDlg*>(page->window()) : nullptr; }

void LockSheetTabs(QWidget* page, bool lock) {
  if (MainDlg* sheet = SheetOf(page)) lock ? sheet->LockTabs() : sheet->UnlockTabs();
}

}  // namespace marbloom::ui
