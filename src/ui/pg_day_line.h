#pragma once
// The daily page: six daily-line functions and the undo of the last run in
// one list, the inputs each one needs, and the run on the operation frame's
// worker. "提取" reads one record into the number fields on the window
// thread; "修复" appears on the check entry after a check found bad files.
#include <array>
#include <functional>
#include <string>

#include "daily/daily_single_edit.h"
#include "ui/operation_page.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace marbloom::ui {

class PgDayLine : public OperationPage {
  Q_OBJECT

 public:
  enum Entry { kConvert, kDelete, kEdit, kModify, kCheck, kMerge, kUndo, kEntryCount };

  explicit PgDayLine(QWidget* parent = nullptr);
  ~PgDayLine() override;

  // The help text an entry puts into the status line when it is laid out.
  static QString HelpText(int entry);

 public slots:
  void OnSelectionChanged(int index);
  void OnBrowse();
  void OnExtract();
  void OnRepair();
  void OnSaveLimits();

 protected:
  bool PrepareRun() override;
  void RunOperation() override;
  void SetInputsEnabled(bool enabled) override;
  bool SwitchesAtExecute() const override { return false; }

 private:
  struct NumberRow {
    QLabel* caption;
    QLineEdit* edit;
  };
  // What a run takes from the controls, read on the window thread.
  struct Request {
    int entry = 0;
    std::string code;       // trimmed
    std::string sourceDir;  // trimmed
    DailyEditFields fields;
    bool repair = false;  // the check entry mends instead of checking
    int undoRun = 0;
  };

  void LayOut(int entry);
  void PushFields(const DailyEditFields& fields);
  bool ReadFields(int count, DailyEditFields* fields);
  // One engine on the current layout for one step of a run, reachable by
  // Cancel; its result goes to the status line.
  template <class Engine>
  OperationResult WithEngine(const std::function<OperationResult(Engine&)>& step);
  void StartRun();
  void EndRun();
  bool CheckCodeLength(const char* message);
  void RunConvert();
  void RunDelete();
  void RunEdit();
  void RunModify();
  void RunCheck();
  void RunMerge();
  void RunUndo();
  void ShowRepair(int damagedFiles);

  int currentEntry_ = 0;
  Request request_;
  QLabel* dateCaption_;  // 3001
  QLabel* dash_;         // 3003
  QLabel* sourceCaption_;
  QLineEdit* sourceDir_;  // 3006
  QPushButton* browse_;   // 3007
  QLabel* codeCaption_;
  QLineEdit* code_;        // 3010
  QLabel* factorsNote_;    // 3011
  QPushButton* extract_;   // 3008
  QPushButton* repair_;    // 3034
  // The undo entry's bounds of the journal: runs 3036, bytes 3038, save 3039.
  QLabel* keepRunsCaption_;
  QLineEdit* keepRuns_;
  QLabel* keepBytesCaption_;
  QLineEdit* keepBytes_;
  QPushButton* saveLimits_;
  int damagedFiles_ = 0;   // found by the last check
  bool repairAsked_ = false;
  // open, high, low, close, volume, amount, advancing, declining
  std::array<NumberRow, 8> numbers_{};
  std::array<QLabel*, 2> indexNotes_{};  // 3028, 3029
};

}  // namespace marbloom::ui
