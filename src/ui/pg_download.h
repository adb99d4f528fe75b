#pragma once
// The download page: daily or tick archives of a date range, fetched and
// converted on the operation frame's worker by the same download run as the
// command line's.
#include "ui/operation_page.h"

class QCheckBox;

namespace marbloom::ui {

class PgDownLoad : public OperationPage {
  Q_OBJECT

 public:
  static constexpr int kDailyKind = 10;
  static constexpr int kTickKind = 11;

  explicit PgDownLoad(QWidget* parent = nullptr);
  ~PgDownLoad() override;

  int Kind() const { return kind_; }

 public slots:
  void OnSelectionChanged(int index);

 protected:
  bool PrepareRun() override;
  void RunOperation() override;
  void SetInputsEnabled(bool enabled) override;

 private:
  // Worker: the cancel button now cancels the conversion.
  void ShowConvertCancelCaption();

  int kind_ = kDailyKind;
  bool convert_ = true;       // the "转档" box as Execute read it
  int runKind_ = kDailyKind;  // the kind as Execute read it
  QCheckBox* convertBox_;  // 2002
};

}  // namespace marbloom::ui
