#pragma once
// The settings page: the five stored settings, changed only when the user
// presses "设置确认", which saves, reloads and rebuilds the data tree; below
// them the sizes of the undo journal and of the download area, each with a
// way to clear it.
#include <QStringList>
#include <QWidget>
#include <optional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace marbloom {
struct AppSettings;
class DataLayout;
struct OperationResult;
}

namespace marbloom::ui {

inline constexpr int kMinEntryMinuteDays = 50;
inline constexpr int kMaxEntryMinuteDays = 250;
inline constexpr const char* kMinuteDaysEntryMessage = "请输入一个介于50和250之间的整数。";

class PgConfig : public QWidget {
  Q_OBJECT

 public:
  explicit PgConfig(QWidget* parent = nullptr);

  // The entries differ from the settings in force.
  bool HasUnconfirmedEntries() const;
  // What "设置确认" does; true when the settings were saved.
  bool Confirm();

 public slots:
  void OnBrowse();
  void OnConfirm();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void InitFromSettings();
  // The entries as texts, to tell whether they changed since they were
  // loaded or confirmed (`confirmed_`).
  QStringList Entries() const;
  // Reads and checks the entries in the order of the page; false after
  // telling the user what is wrong.
  bool ReadEntries(AppSettings* entered);
  void Refuse(const QString& message, QLineEdit* field);
  void ShowHistoryPath();
  void ShowDiskUse();
  // Asks `question`, then clears with `clear` and tells how that went.
  void Clear(const QString& question, OperationResult (*clear)(const DataLayout&));

  QLineEdit* domain_;      // 1005
  QLineEdit* mirrors_;     // 1006: MIRRORS, under the site
  QLineEdit* historyDir_;  // 1000
  QPushButton* browse_;    // 1001
  QLabel* historyPath_;
  QLabel* journalUse_;
  QLabel* downloadUse_;
  QPushButton* clearJournal_;
  QPushButton* clearDownloads_;
  QLineEdit* days_;        // 1002
  QCheckBox* minutesAfterTick_;  // 1003
  QCheckBox* tckv4_;       // 4025
  QPushButton* confirm_;   // 1004
  QStringList confirmed_;
};

}  // namespace marbloom::ui
