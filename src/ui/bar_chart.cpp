#include "ui/bar_chart.h"

#include <QBarSet>
#include <QCandlestickSeries>
#include <QCandlestickSet>
#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QFontMetricsF>
#include <QGraphicsLayout>
#include <QGraphicsTextItem>
#include <QLabel>
#include <QLineSeries>
#include <QMouseEvent>
#include <QStackedBarSeries>
#include <QTextDocument>
#include <QTimer>
#include <QVBoxLayout>
#include <QValueAxis>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace marbloom::ui {
namespace {

constexpr int kMaxCandles = 600;
constexpr int kMaxLinePoints = 1500;
constexpr int kMinWindow = 5;
constexpr double kZoomStep = 0.8;
// Room beside a label's text: the axis' padding and tick marks.
constexpr qreal kLabelRoom = 16;
constexpr qreal kEdge = 4;
// A value axis gives each of its n labels 1/n of the plot's height, less
// this padding above and below; a label taller than that is elided.
constexpr qreal kLabelPadding = 4;
constexpr int kMostPriceTicks = 5;
constexpr int kMostVolumeTicks = 3;
// Rising red, falling green, as the quote client shows them.
const QColor kRising(0xd0, 0x28, 0x28);
const QColor kFalling(0x18, 0x90, 0x48);

double Real(int64_t value, int decimals) { return static_cast<double>(value) / std::pow(10.0, decimals); }

QChart* NewChart() {
  auto* chart = new QChart;
  chart->legend()->hide();
  chart->setMargins(QMargins(4, 4, 4, 4));
  chart->layout()->setContentsMargins(0, 0, 0, 0);
  // A chart with a fixed plot area keeps its background at its first size;
  // the view paints the background instead, at every size.
  chart->setBackgroundVisible(false);
  return chart;
}

QChartView* NewChartView(QChart* chart, const QString& name, QWidget* parent) {
  auto* view = new QChartView(chart, parent);
  view->setObjectName(name);
  view->setRenderHint(QPainter::Antialiasing, false);
  view->setBackgroundBrush(Qt::white);
  view->setFrameShape(QFrame::NoFrame);
  view->setMouseTracking(true);
  return view;
}

// Each chart's axes are made once; the series come and go.
QValueAxis* ValueAxis(QChart* chart, Qt::Alignment where, bool labels) {
  auto* axis = new QValueAxis;
  axis->setLabelsVisible(labels);
  axis->setGridLineVisible(where == Qt::AlignLeft);
  chart->addAxis(axis, where);
  return axis;
}

template <class Axis>
Axis* AxisOf(QChart* chart, Qt::Orientation orientation) {
  return static_cast<Axis*>(chart->axes(orientation).value(0));
}

void Attach(QChart* chart, QAbstractSeries* series) {
  chart->addSeries(series);
  for (QAbstractAxis* axis : chart->axes()) series->attachAxis(axis);
}

// The width of the widest label a value axis draws: its ticks in its format.
qreal WidestLabel(const QValueAxis* axis) {
  if (!axis->labelsVisible()) return 0;
  const QFontMetricsF metrics(axis->labelsFont());
  const QByteArray format = axis->labelFormat().toLatin1();
  const int ticks = std::max(2, axis->tickCount());
  qreal widest = 0;
  for (int i = 0; i < ticks; ++i) {
    const double value = axis->min() + (axis->max() - axis->min()) * i / (ticks - 1);
    const QString text = format.isEmpty() ? QString::number(value) : QString::asprintf(format.constData(), value);
    widest = std::max(widest, metrics.horizontalAdvance(text));
  }
  return widest;
}

// The height a value axis label needs: its text as the axis lays it out
// (a text item with half a pixel of margin) and the axis' padding.
qreal LabelRoom(const QFont& font) {
  QGraphicsTextItem probe;
  probe.document()->setDocumentMargin(0.5);
  probe.setFont(font);
  probe.setHtml(QStringLiteral("0.9"));
  return probe.boundingRect().height() + 2 * kLabelPadding + 1;
}

// How many labels a value axis on a plot `height` high shows whole.
int TicksThatFit(const QValueAxis* axis, qreal height, int most) {
  return std::clamp(static_cast<int>(height / LabelRoom(axis->labelsFont())), 2, most);
}

}  // namespace

// Neighbouring rows drawn as one bar.
struct BarChart::Bucket {
  ViewRow row;  // first row's date and time, open; last row's close; extremes; sums
  int rows = 0;
};

BarChart::BarChart(QWidget* parent) : QWidget(parent), price_(NewChart()), volume_(NewChart()) {
  setObjectName(QStringLiteral("barChart"));
  hover_ = new QLabel(this);
  hover_->setObjectName(QStringLiteral("lblBarValues"));
  hover_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  priceView_ = NewChartView(price_, QStringLiteral("priceChart"), this);
  volumeView_ = NewChartView(volume_, QStringLiteral("volumeChart"), this);
  ValueAxis(price_, Qt::AlignBottom, false);
  ValueAxis(price_, Qt::AlignLeft, true);
  auto* dates = new QCategoryAxis;
  dates->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
  dates->setGridLineVisible(false);
  volume_->addAxis(dates, Qt::AlignBottom);
  QValueAxis* volumes = ValueAxis(volume_, Qt::AlignLeft, true);
  volumes->setLabelFormat(QStringLiteral("%.0f"));
  volumes->setTickCount(3);
  for (QChartView* v : {priceView_, volumeView_}) {
    v->viewport()->installEventFilter(this);
    v->installEventFilter(this);
  }

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(hover_);
  layout->addWidget(priceView_, 3);
  layout->addWidget(volumeView_, 1);
  SetMinimumHeights();
  Rebuild();
}

void BarChart::SetView(const DataView* view) {
  view_ = view;
  start_ = 0;
  count_ = view ? static_cast<int>(view->rows.size()) : 0;
  Rebuild();
}

BarChart::Bucket BarChart::BucketAt(int index) const {
  const int first = start_ + index * perBucket_;
  const int end = std::min(first + perBucket_, start_ + count_);
  Bucket b;
  b.row = view_->rows[static_cast<std::size_t>(first)];
  b.row.volume = 0;
  b.row.amount = 0;
  for (int i = first; i < end; ++i) {
    const ViewRow& r = view_->rows[static_cast<std::size_t>(i)];
    b.row.high = std::max(b.row.high, r.high);
    b.row.low = std::min(b.row.low, r.low);
    b.row.close = r.close;
    b.row.volume += r.volume;
    b.row.amount += r.amount;
  }
  b.rows = end - first;
  return b;
}

void BarChart::Rebuild() {
  price_->removeAllSeries();
  volume_->removeAllSeries();
  const bool ticks = view_ && view_->request.kind == ViewKind::kTicks;
  const int most = ticks ? kMaxLinePoints : kMaxCandles;
  perBucket_ = std::max(1, (count_ + most - 1) / most);
  buckets_ = count_ > 0 ? (count_ + perBucket_ - 1) / perBucket_ : 0;
  hover_->setText(QString());
  // An empty chart keeps no axis of what it showed before.
  for (QChart* chart : {price_, volume_}) {
    auto* axis = AxisOf<QValueAxis>(chart, Qt::Vertical);
    axis->setLabelsVisible(buckets_ > 0);
    axis->setRange(0, 1);
  }
  if (buckets_ > 0) {
    ticks ? DrawPriceLine() : DrawCandles();
    DrawVolumes();
  }
  AlignPlots();
}

// A little room above and below; the round numbers follow the plot's
// height (FitPriceTicks).
void BarChart::SetPriceRange(double low, double high) {
  const double pad = std::max((high - low) * 0.05, std::pow(10.0, -view_->decimals));
  priceLow_ = low - pad;
  priceHigh_ = high + pad;
  AxisOf<QValueAxis>(price_, Qt::Vertical)
      ->setLabelFormat(QStringLiteral("%.") + QString::number(view_->decimals) + QLatin1Char('f'));
}

// Round numbers with no more labels than fit whole on a plot `height` high:
// fewer steps asked for until the round range needs no more than fit.
void BarChart::FitPriceTicks(qreal height) {
  auto* axis = AxisOf<QValueAxis>(price_, Qt::Vertical);
  if (buckets_ == 0) return axis->setTickCount(2);
  const int fit = TicksThatFit(axis, height, kMostPriceTicks);
  for (int ask = fit; ask >= 2; --ask) {
    axis->setRange(priceLow_, priceHigh_);
    axis->setTickCount(ask);
    axis->applyNiceNumbers();
    if (axis->tickCount() <= fit) return;
  }
  axis->setTickCount(fit);
}

// Each chart tall enough for two whole labels of its value axis beside the
// text lines around its plot.
void BarChart::SetMinimumHeights() {
  const qreal room = LabelRoom(AxisOf<QValueAxis>(price_, Qt::Vertical)->labelsFont());
  const qreal line = QFontMetricsF(AxisOf<QCategoryAxis>(volume_, Qt::Horizontal)->labelsFont()).height();
  priceView_->setMinimumHeight(static_cast<int>(std::ceil(2 * room + line + 2 * kEdge + 12)));
  volumeView_->setMinimumHeight(static_cast<int>(std::ceil(2 * room + 1.5 * line + kLabelRoom + kEdge + 12)));
}

void BarChart::DrawCandles() {
  auto* series = new QCandlestickSeries;
  series->setIncreasingColor(kRising);
  series->setDecreasingColor(kFalling);
  series->setBodyOutlineVisible(false);
  series->setCapsVisible(false);
  double low = INFINITY, high = -INFINITY;
  for (int j = 0; j < buckets_; ++j) {
    const ViewRow r = BucketAt(j).row;
    const int d = view_->decimals;
    series->append(new QCandlestickSet(Real(r.open, d), Real(r.high, d), Real(r.low, d), Real(r.close, d), j));
    low = std::min(low, Real(r.low, d));
    high = std::max(high, Real(r.high, d));
  }
  Attach(price_, series);
  SetPriceRange(low, high);
}

void BarChart::DrawPriceLine() {
  auto* series = new QLineSeries;
  series->setColor(QColor(0x20, 0x40, 0xa0));
  QList<QPointF> points;
  double low = INFINITY, high = -INFINITY;
  for (int j = 0; j < buckets_; ++j) {
    const double close = Real(BucketAt(j).row.close, view_->decimals);
    points.append(QPointF(j, close));
    low = std::min(low, close);
    high = std::max(high, close);
  }
  series->replace(points);
  Attach(price_, series);
  SetPriceRange(low, high);
}

// Bars of rising records red, of falling ones green (ticks: against the
// record before).
void BarChart::DrawVolumes() {
  auto* up = new QBarSet(QString());
  auto* down = new QBarSet(QString());
  up->setColor(kRising);
  down->setColor(kFalling);
  up->setBorderColor(kRising);
  down->setBorderColor(kFalling);
  double most = 0;
  int64_t before = BucketAt(0).row.open;
  const bool ticks = view_->request.kind == ViewKind::kTicks;
  for (int j = 0; j < buckets_; ++j) {
    const ViewRow r = BucketAt(j).row;
    const double v = static_cast<double>(r.volume);
    const bool rising = r.close >= (ticks ? before : r.open);
    *up << (rising ? v : 0.0);
    *down << (rising ? 0.0 : v);
    before = r.close;
    most = std::max(most, v);
  }
  auto* series = new QStackedBarSeries;
  series->setBarWidth(0.8);
  series->append(up);
  series->append(down);
  Attach(volume_, series);
  AxisOf<QValueAxis>(volume_, Qt::Vertical)->setRange(0, most > 0 ? most * 1.1 : 1);
}

// Both horizontal axes span the buckets; the lower one names as many as fit
// in `width` without cutting a label: the dates of the window ("05-09", the
// year where it changes; for bars and ticks the first record of each day),
// or, within one day, the times.
void BarChart::LabelAxis(qreal width) {
  AxisOf<QValueAxis>(price_, Qt::Horizontal)->setRange(-0.5, buckets_ - 0.5);
  auto* axis = AxisOf<QCategoryAxis>(volume_, Qt::Horizontal);
  for (const QString& label : axis->categoriesLabels()) axis->remove(label);
  axis->setRange(-0.5, buckets_ - 0.5);
  if (buckets_ == 0 || width <= 0) return;
  auto rowAt = [this](int j) -> const ViewRow& {
    return view_->rows[static_cast<std::size_t>(start_ + j * perBucket_)];
  };
  const bool timed = view_->request.kind != ViewKind::kDaily;
  const bool byTime = timed && rowAt(0).date == view_->rows[static_cast<std::size_t>(start_ + count_ - 1)].date;
  const QFontMetricsF metrics(axis->labelsFont());
  // The axis gives each of n labels width / (n + 1), less its padding.
  const qreal widest = metrics.horizontalAdvance(QString::fromLatin1(byTime ? "00:00:00" : "0000-00-00")) + kLabelRoom;
  const int most = std::max(1, static_cast<int>(width / widest) - 1);
  const qreal spacing = width / most, perBucket = width / buckets_;
  qreal lastX = -spacing;
  QString lastYear;
  for (int j = 0; j < buckets_ && axis->count() < most; ++j) {
    const ViewRow& r = rowAt(j);
    if (timed && !byTime && j > 0 && r.date == rowAt(j - 1).date) continue;
    if ((j + 0.5) * perBucket - lastX < spacing) continue;
    QString label = QString::fromStdString(CellText(*view_, r, byTime ? ViewColumn::kTime : ViewColumn::kDate));
    if (!byTime && label.size() == 10 && label[4] == QLatin1Char('-')) {
      const QString year = label.left(4);
      if (year == lastYear) label = label.mid(5);
      lastYear = year;
    }
    if (axis->categoriesLabels().contains(label)) continue;
    axis->append(label, j);
    lastX = (j + 0.5) * perBucket;
  }
}

// Both plots fill their charts and share their left and right edges: room on
// the left for the widest label of either value axis, half a date label on
// the right and half a text line above and below the prices, a line of
// dates below the volumes.
void BarChart::AlignPlots() {
  alignPending_ = false;
  const QFontMetricsF dates(AxisOf<QCategoryAxis>(volume_, Qt::Horizontal)->labelsFont());
  const qreal line = dates.height();
  const qreal priceHeight = price_->size().height() - line - 2 * kEdge;
  const qreal volumeHeight = volume_->size().height() - 1.5 * line - kLabelRoom - kEdge;
  // The labels' number first: their widest sets the left edge.
  FitPriceTicks(priceHeight);
  auto* volumes = AxisOf<QValueAxis>(volume_, Qt::Vertical);
  volumes->setTickCount(TicksThatFit(volumes, volumeHeight, kMostVolumeTicks));
  const qreal widest = std::max(WidestLabel(AxisOf<QValueAxis>(price_, Qt::Vertical)), WidestLabel(volumes));
  const qreal halfDate = dates.horizontalAdvance(QStringLiteral("0000-00-00")) / 2;
  const qreal left = std::max(widest + kLabelRoom, halfDate + kEdge), right = halfDate + kEdge;
  const QRectF price(left, line / 2 + kEdge, price_->size().width() - left - right, priceHeight);
  const QRectF volume(left, line / 2 + kEdge, price.width(), volumeHeight);
  if (price.width() <= 0 || price.height() <= 0 || volume.height() <= 0) return LabelAxis(0);
  LabelAxis(price.width());
  price_->setPlotArea(price);
  volume_->setPlotArea(volume);
  for (QChart* chart : {price_, volume_}) chart->layout()->invalidate();
}

void BarChart::ScheduleAlign() {
  if (alignPending_) return;
  alignPending_ = true;
  QTimer::singleShot(0, this, &BarChart::AlignPlots);
}

// The charts take their views' sizes in the views' own resize; the plots
// follow right after.
void BarChart::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  ScheduleAlign();
}

void BarChart::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() != QEvent::FontChange && event->type() != QEvent::StyleChange) return;
  SetMinimumHeights();
  ScheduleAlign();
}

double BarChart::PlotFraction(int x) const {
  const QRectF area = price_->plotArea();
  const QPointF scene = priceView_->mapToScene(QPoint(x, 0));
  return area.width() > 0 ? (price_->mapFromScene(scene).x() - area.left()) / area.width() : 0;
}

void BarChart::HoverAt(int x) {
  if (buckets_ == 0) return;
  const int j = std::clamp(static_cast<int>(std::floor(PlotFraction(x) * buckets_)), 0, buckets_ - 1);
  const Bucket b = BucketAt(j);
  QStringList parts;
  if (b.rows > 1) parts << QStringLiteral("%1条合并").arg(b.rows);
  for (ViewColumn c : ColumnsOf(*view_))
    if (c != ViewColumn::kFlag)
      parts << QString::fromUtf8(ColumnCaption(c)) + QLatin1Char(' ') +
                   QString::fromStdString(ShownCellText(*view_, b.row, c));
  hover_->setText(parts.join(QStringLiteral("  ")));
}

QString BarChart::HoverText() const { return hover_->text(); }

void BarChart::Zoom(int steps, double anchor) {
  const int total = view_ ? static_cast<int>(view_->rows.size()) : 0;
  if (total == 0 || steps == 0) return;
  const int least = std::min(kMinWindow, total);
  int count = static_cast<int>(std::lround(count_ * std::pow(kZoomStep, steps)));
  if (count == count_) count += steps > 0 ? -1 : 1;
  count = std::clamp(count, least, total);
  anchor = std::clamp(anchor, 0.0, 1.0);
  const double anchorRow = start_ + anchor * count_;
  start_ = std::clamp(static_cast<int>(std::lround(anchorRow - anchor * count)), 0, total - count);
  count_ = count;
  Rebuild();
}

void BarChart::Pan(int rows) {
  const int total = view_ ? static_cast<int>(view_->rows.size()) : 0;
  const int start = std::clamp(start_ + rows, 0, std::max(0, total - count_));
  if (start == start_) return;
  start_ = start;
  Rebuild();
}

bool BarChart::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Resize && (watched == priceView_ || watched == volumeView_)) ScheduleAlign();
  if (watched != priceView_->viewport() && watched != volumeView_->viewport())
    return QWidget::eventFilter(watched, event);
  switch (event->type()) {
    case QEvent::Wheel: {
      auto* wheel = static_cast<QWheelEvent*>(event);
      const int delta = wheel->angleDelta().y();
      if (delta != 0) Zoom(delta > 0 ? 1 : -1, PlotFraction(static_cast<int>(wheel->position().x())));
      return true;
    }
    case QEvent::MouseButtonPress: {
      auto* mouse = static_cast<QMouseEvent*>(event);
      if (mouse->button() != Qt::LeftButton) break;
      dragX_ = static_cast<int>(mouse->position().x());
      dragStart_ = start_;
      return true;
    }
    case QEvent::MouseMove: {
      auto* mouse = static_cast<QMouseEvent*>(event);
      const int x = static_cast<int>(mouse->position().x());
      const double width = price_->plotArea().width();
      if (dragX_ >= 0 && (mouse->buttons() & Qt::LeftButton) && width > 0)
        Pan(dragStart_ - static_cast<int>(std::lround((x - dragX_) / width * count_)) - start_);
      HoverAt(x);
      return true;
    }
    case QEvent::MouseButtonRelease:
      dragX_ = -1;
      return true;
    default:
      break;
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace marbloom::ui
