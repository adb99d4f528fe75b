#pragma once
// The tick page: seven tick and minute-line operations and the undo of the
// last run in one list, a date range, a code pattern and six multipliers, run
// on the operation frame; "修复" appears on the check entry after a check
// found damaged pairs.
#include <array>
#include <functional>
#include <string>

#include "tickdata/minute_engine.h"
#include "tickdata/tick_engine.h"
#include "tickdata/tick_repair.h"
#include "ui/operation_page.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace marbloom::ui {

class PgTick : public OperationPage {
  Q_OBJECT

 public:
  enum Entry {
    kConvertTicks,
    kBuildMinutes,
    kRebuildAllMinutes,
    kDeleteTicks,
    kDeleteMinutes,
    kCheckTicks,
    kModifyMinutes,
    kUndo,
    kEntryCount
  };

  explicit PgTick(QWidget* parent = nullptr);
  ~PgTick() override;

  static QString HelpText(int entry);

 public slots:
  void OnSelectionChanged(int index);
  void OnRepair();

 protected:
  bool PrepareRun() override;
  void RunOperation() override;
  void SetInputsEnabled(bool enabled) override;

 private:
  struct Request {
    int entry = 0;
    std::string pattern;  // trimmed
    MinuteFactors factors;
    bool repair = false;  // the check entry mends instead of checking
    int undoRun = 0;
  };

  void LayOut(int entry);
  // One engine of each kind on the current layout for one step of a run,
  // reachable by Cancel; its result goes to the status line.
  OperationResult WithTickEngine(const std::function<OperationResult(TickEngine&)>& step);
  OperationResult WithMinuteEngine(const std::function<OperationResult(MinuteEngine&)>& step);
  bool CheckDates();
  void RunCheck();
  void ShowRepair(int damagedFiles);

  int operation_ = 0;
  Request request_;
  QLabel* dateCaption_;  // 4002
  QLabel* dash_;         // 4004
  QLabel* codeCaption_;  // 4010
  QLineEdit* code_;      // 4011
  QLabel* factorsNote_;  // 4012
  std::array<QLabel*, 6> factorCaptions_{};
  std::array<QLineEdit*, 6> factors_{};
  QPushButton* repair_;  // 4026
  int damagedFiles_ = 0;  // found by the last check
  bool repairAsked_ = false;
};

}  // namespace marbloom::ui
