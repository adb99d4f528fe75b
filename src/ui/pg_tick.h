#pragma once
// The tick page: seven tick and minute-line operations in one list, a date
// range, a code pattern and six multipliers, run on the operation frame.
#include <array>
#include <functional>
#include <string>

#include "tickdata/minute_engine.h"
#include "tickdata/tick_engine.h"
#include "ui/operation_page.h"

class QLabel;
class QLineEdit;

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
    kEntryCount
  };

  explicit PgTick(QWidget* parent = nullptr);
  ~PgTick() override;

  static QString HelpText(int entry);

 public slots:
  void OnSelectionChanged(int index);

 protected:
  bool PrepareRun() override;
  void RunOperation() override;
  void SetInputsEnabled(bool enabled) override;

 private:
  struct Request {
    int entry = 0;
    std::string pattern;  // trimmed
    MinuteFactors factors;
  };

  void LayOut(int entry);
  // One engine of each kind on the current layout for one step of a run,
  // reachable by Cancel; its result goes to the status line.
  OperationResult WithTickEngine(const std::function<OperationResult(TickEngine&)>& step);
  OperationResult WithMinuteEngine(const std::function<OperationResult(MinuteEngine&)>& step);
  bool CheckDates();

  int operation_ = 0;
  Request request_;
  QLabel* dateCaption_;  // 4002
  QLabel* dash_;         // 4004
  QLabel* codeCaption_;  // 4010
  QLineEdit* code_;      // 4011
  QLabel* factorsNote_;  // 4012
  std::array<QLabel*, 6> factorCaptions_{};
  std::array<QLineEdit*, 6> factors_{};
};

}  // namespace marbloom::ui
