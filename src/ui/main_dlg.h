#pragma once
// The main window: a modal tabbed dialog with the pages and OK/Cancel,
// either of which ends the program. While a page runs an operation (or the
// settings are being confirmed) the tabs are locked to that page; Esc and
// Enter never close the window or press a button on any page.
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
  int LockedPage() const { return lockedPage_; }

  // Closing is refused while the tabs are locked: a running operation ends
  // (or is cancelled) first, so no worker outlives its page.
  void done(int result) override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void SnapBack(int index);

  QTabWidget* tabs_;
  QDialogButtonBox* buttons_;
  int tabsLocked_ = 0;
  int lockedPage_ = 0;
};

// The sheet a page sits in; nothing for a page shown on its own.
MainDlg* SheetOf(QWidget* page);

// Locks or unlocks the tabs of the page's sheet, if it has one.
void LockSheetTabs(QWidget* page, bool lock);

}  // namespace marbloom::ui
