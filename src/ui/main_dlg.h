#pragma once
// The main window: a modal tabbed dialog with the pages and OK/Cancel,
// either of which ends the program. While a page runs an operation (or the
// settings are being confirmed) the tabs are locked to that page; Esc and
// Enter never close the window or press a button on any page (Enter reaches
// only a field that takes it, see LetEnterThrough). 查看日志 beside the
// buttons opens today's run log, where the messages send the user for details.
#include <QDialog>

class QDialogButtonBox;
class QTabWidget;

namespace marbloom::ui {

class MainDlg : public QDialog {
  Q_OBJECT

 public:
  explicit MainDlg(QWidget* parent = nullptr);
  ~MainDlg() override;

  void AddPage(QWidget* page, const QString& caption);
  QTabWidget* Sheet() const { return tabs_; }
  int GetActiveIndex() const;

  // Locks the tabs to the page shown now.
  void LockTabs();
  void UnlockTabs();
  bool TabsLocked() const { return tabsLocked_ != 0; }

  // Closing while an operation runs asks first: Yes cancels the whole run,
  // waits for its worker to stop, then closes; No keeps it running. So no
  // worker outlives its page. Refused while the settings are confirmed. 确定
  // with settings not confirmed asks whether to save them.
  void done(int result) override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void SnapBack(int index);
  void OpenTodaysLog();
  bool StopRunningOperation();
  bool SettingsSettled();

  QTabWidget* tabs_;
  QDialogButtonBox* buttons_;
  int tabsLocked_ = 0;
  int lockedPage_ = 0;
  bool closing_ = false;
};

// Enter typed into `field` reaches it (a search field that acts on Enter);
// Esc stays swallowed.
void LetEnterThrough(QWidget* field);

// The sheet a page sits in; nothing for a page shown on its own.
MainDlg* SheetOf(QWidget* page);

// Locks or unlocks the tabs of the page's sheet, if it has one.
void LockSheetTabs(QWidget* page, bool lock);

}  // namespace marbloom::ui
