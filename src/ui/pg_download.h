#pragma once
// The download page: daily or tick archives of a date range, fetched and
// converted on the operation frame's worker by the same download run as the
// command line's. Beside the bar it shows where the run stands as a whole
// ("第3/12天 20220509" while downloading, the bar then covering every day),
// then the conversion with its own progress. It opens with the dates a
// catch-up would fetch first.
#include "download/download_kind.h"
#include "ui/operation_page.h"

class QCheckBox;
class QLabel;

namespace marbloom::ui {

class PgDownLoad : public OperationPage {
  Q_OBJECT

 public:
  explicit PgDownLoad(QWidget* parent = nullptr);
  ~PgDownLoad() override;

  DownloadKind Kind() const { return kind_; }

 public slots:
  void OnSelectionChanged(int index);

 protected:
  bool PrepareRun() override;
  void RunOperation() override;
  void SetInputsEnabled(bool enabled) override;
  void RefreshFromSharedState() override;

 private:
  void ShowCatchUpDates();
  // Worker: the cancel button now cancels the conversion.
  void ShowConvertCancelCaption();

  // Where the run stands, as the worker last posted it.
  struct RunPosition {
    int day = 0, days = 0, date = 0;  // the day downloading now, of `days`
    bool converting = false;
  };
  void SetPosition(const RunPosition& position);

  DownloadKind kind_ = DownloadKind::kDaily;
  bool convert_ = true;       // the "转档" box as Execute read it
  DownloadKind runKind_ = DownloadKind::kDaily;  // the kind as Execute read it
  QCheckBox* convertBox_;  // 2002
  QLabel* position_;       // the run's day counter
  RunPosition shown_;
};

}  // namespace marbloom::ui
