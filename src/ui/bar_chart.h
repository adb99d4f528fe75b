#pragma once
// The data tab's chart: candlesticks (or, for ticks, a price line) over a
// volume chart that shares their horizontal axis. The axis counts records,
// so days without trading leave no gaps. The wheel zooms around the pointer,
// dragging moves across the dates, and the values of the bar under the
// pointer are shown above the charts. A window of more records than fit is
// drawn in buckets of neighbouring records (first open, highest high, lowest
// low, last close, summed volume). The plots fill the charts at every size:
// their edges are set from the widest label of either value axis, and the
// date labels are as many as fit, shortened by the span shown.
#include <QWidget>

#include "app/data_view.h"

class QChart;
class QChartView;
class QLabel;

namespace marbloom::ui {

class BarChart : public QWidget {
  Q_OBJECT

 public:
  explicit BarChart(QWidget* parent = nullptr);

  // Shows every row of `view` (kept by the caller while shown); null clears.
  void SetView(const DataView* view);

  // The rows in the window: the first and how many.
  int WindowStart() const { return start_; }
  int WindowCount() const { return count_; }
  // Candles or line points drawn, and how many rows each gathers.
  int DrawnBars() const { return buckets_; }
  // The values shown for the bar under the pointer.
  QString HoverText() const;

  // Window thread: `steps` > 0 zooms in, < 0 out, keeping the row at
  // `anchor` (0 left edge .. 1 right edge) in place.
  void Zoom(int steps, double anchor);
  // Moves the window by `rows` (positive: later records).
  void Pan(int rows);
  // The bar at horizontal position `x` of the price chart's view, as hovering does.
  void HoverAt(int x);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  struct Bucket;
  Bucket BucketAt(int index) const;
  void Rebuild();
  void SetPriceRange(double low, double high);
  void FitPriceTicks(qreal height);
  void SetMinimumHeights();
  void DrawCandles();
  void DrawPriceLine();
  void DrawVolumes();
  void LabelAxis(qreal width);
  void AlignPlots();
  void ScheduleAlign();
  double PlotFraction(int x) const;

  const DataView* view_ = nullptr;
  int start_ = 0, count_ = 0;
  int buckets_ = 0, perBucket_ = 1;
  double priceLow_ = 0, priceHigh_ = 1;
  QChart* price_;
  QChart* volume_;
  QChartView* priceView_;
  QChartView* volumeView_;
  QLabel* hover_;
  int dragX_ = -1, dragStart_ = 0;
  bool alignPending_ = false;
};

}  // namespace marbloom::ui
