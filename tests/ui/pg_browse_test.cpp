// The data tab on a sample tree: a daily chart and table, the CSV export
// through the file chooser seam, zoom and drag, and refusals.
#include "ui/pg_browse.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QCompleter>
#include <QDateTimeEdit>
#include <QDir>
#include <QGraphicsTextItem>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>

#include "common/calendar.h"
#include "common/security_class.h"
#include "daily/daily_conversion.h"
#include "tickdata/minute_engine.h"
#include "tickdata/tick_engine.h"
#include "samplegen.h"
#include "support/temp_dir.h"
#include "ui/bar_chart.h"
#include "ui/main_dlg.h"
#include "ui/window_program.h"
#include "ui_test_support.h"

namespace marbloom::test {
namespace {

constexpr int kFirst = 20220502, kLast = 20220513;

// Ten days of daily lines converted once for the suite; a page per test.
class PgBrowseTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    tree_ = new TestTree;
    const auto sample = sample::SampleOptions{1, 400, false};
    for (int date = kFirst; date <= kLast; date = NextTradingDay(date))
      ASSERT_TRUE(sample::WriteDailySources(date, sample, tree_->layout().DailySourceDir()));
    DailyConversion(tree_->layout()).ConvertDailyRange(kFirst, kLast);
    // Ticks and minute lines of the first day.
    ASSERT_TRUE(sample::WriteDayIntoTree(kFirst, sample, tree_->layout()));
    TickEngine(tree_->layout()).ConvertTickRange(kFirst, kFirst);
    MinuteEngine(tree_->layout(), MinuteOptions{}).BuildMinuteLines(kFirst, kFirst);
    for (const sample::SampleQuote& q : sample::MarketQuotes(kFirst, 0, sample))
      if (ClassifySecurity(0, q.code) == 2 && q.open > 0 && quote_.code.empty()) quote_ = q;
  }
  static void TearDownTestSuite() { delete tree_; }
  void SetUp() override {
    page_.resize(800, 600);
    page_.show();
  }
  void ShowCode(const std::string& code) {
    Child<QLineEdit>(&page_, "ctl5001")->setText(QString::fromStdString(code));
    Child<QPushButton>(&page_, "ctl5006")->click();
  }
  // The axis labels a chart view shows; those outside it are marked "cut".
  QStringList Labels(const char* chart) { return LabelsIn(&page_, chart); }
  static QStringList LabelsIn(const QWidget* page, const char* chart) {
    auto* view = Child<QChartView>(page, chart);
    QStringList labels;
    for (QGraphicsItem* item : view->scene()->items())
      if (auto* text = dynamic_cast<QGraphicsTextItem*>(item);
          text && text->isVisible() && !text->toPlainText().isEmpty())
        labels << text->toPlainText() + (QRectF(view->rect()).contains(text->sceneBoundingRect()) ? "" : "cut");
    return labels;
  }
  QString Cell(int row, int column) {
    QAbstractItemModel* model = Child<QTableView>(&page_, "ctl5009")->model();
    return model->data(model->index(row, column)).toString();
  }

  static TestTree* tree_;
  static sample::SampleQuote quote_;  // of a share that traded on the first day
  ui::PgBrowse page_;
};
TestTree* PgBrowseTest::tree_ = nullptr;
sample::SampleQuote PgBrowseTest::quote_;

TEST_F(PgBrowseTest, ShowsTheDailyChartAndTable) {
  ShowCode("sz" + quote_.code);
  const DataView& view = page_.View();
  ASSERT_TRUE(view.ok) << view.message;
  const int rows = static_cast<int>(view.rows.size());
  EXPECT_GE(rows, 8);
  EXPECT_EQ(page_.Chart()->DrawnBars(), rows);
  EXPECT_EQ(Child<QTableView>(&page_, "ctl5009")->model()->rowCount(), rows);
  EXPECT_EQ(Cell(0, 0), QStringLiteral("2022-05-02"));
  EXPECT_EQ(Cell(0, 4), QString::number(quote_.close, 'f', 2));
  EXPECT_EQ(StatusOf(&page_, 5010), "sz" + quote_.code + " · 日线 · " + std::to_string(rows) + " 条");

  page_.Chart()->Zoom(3, 1.0);
  EXPECT_EQ(page_.Chart()->WindowCount(), 5);
  EXPECT_EQ(page_.Chart()->WindowStart(), rows - 5);
  page_.Chart()->Pan(-100);
  EXPECT_EQ(page_.Chart()->WindowStart(), 0);
  page_.Chart()->HoverAt(page_.Chart()->width() / 2);
  EXPECT_TRUE(page_.Chart()->HoverText().contains(QStringLiteral("2022-05-0")))
      << page_.Chart()->HoverText().toStdString();
  page_.Chart()->Zoom(-10, 0.5);
  EXPECT_EQ(page_.Chart()->WindowCount(), rows);
}

// Larger and smaller: the plots fill their charts, and every axis label is
// whole (not elided) and inside its chart.
TEST_F(PgBrowseTest, TheChartFollowsTheWindowAndCutsNoLabel) {
  ShowCode("sz" + quote_.code);
  for (QSize size : {QSize(1400, 1000), QSize(560, 480), QSize(900, 700)}) {
    page_.resize(size);
    for (const char* name : {"priceChart", "volumeChart"}) {
      auto* view = Child<QChartView>(&page_, name);
      auto settled = [&] {
        const QRectF plot = view->chart()->plotArea();
        const QStringList labels = Labels(name);
        return view->width() - plot.right() < 50 && view->height() - plot.bottom() < 50 && plot.left() < 120 &&
               labels.size() >= 3 && labels.filter("...").isEmpty() && labels.filter("…").isEmpty() &&
               labels.filter("cut").isEmpty();
      };
      EXPECT_TRUE(QTest::qWaitFor(settled))
          << name << " " << size.width() << ": " << Labels(name).join(' ').toStdString();
    }
  }
}

// The whole window at its smallest and at its first size, with the text
// 1.0 and 1.5 times as large (a 144 dpi desktop): each kind's prices are
// shown whole, on two labels at least, and so are the volumes.
struct SmallWindowCase {
  int kind;  // entry of the kind list
  double scale;
  bool smallest;
};

class PgBrowseSmallWindow : public PgBrowseTest, public ::testing::WithParamInterface<SmallWindowCase> {};

TEST_P(PgBrowseSmallWindow, PricesAreNeverElided) {
  const SmallWindowCase c = GetParam();
  const QFont font = QApplication::font();
  QFont larger = font;
  larger.setPointSizeF(font.pointSizeF() * c.scale);
  QApplication::setFont(larger);
  std::unique_ptr<ui::MainDlg> sheet = ui::CreateMainDlg();
  auto* page = static_cast<ui::PgBrowse*>(sheet->Sheet()->widget(sheet->Sheet()->count() - 1));
  sheet->Sheet()->setCurrentWidget(page);
  sheet->show();
  if (c.smallest) sheet->resize(sheet->minimumSizeHint());
  Child<QComboBox>(page, "ctl5002")->setCurrentIndex(c.kind);
  Child<QLineEdit>(page, "ctl5001")->setText(QString::fromStdString("sz" + quote_.code));
  Child<QPushButton>(page, "ctl5006")->click();
  ASSERT_TRUE(page->View().ok) << page->View().message;
  for (const char* name : {"priceChart", "volumeChart"}) {
    auto whole = [&] {
      const QStringList labels = LabelsIn(page, name);
      return labels.size() >= 2 && labels.filter("...").isEmpty() && labels.filter("…").isEmpty();
    };
    EXPECT_TRUE(QTest::qWaitFor(whole)) << name << " " << sheet->height() << ": "
                                        << LabelsIn(page, name).join(' ').toStdString();
  }
  sheet.reset();
  QApplication::setFont(font);
}

INSTANTIATE_TEST_SUITE_P(KindsAndScales, PgBrowseSmallWindow,
                         ::testing::Values(SmallWindowCase{0, 1.0, true}, SmallWindowCase{0, 1.0, false},
                                           SmallWindowCase{0, 1.5, true}, SmallWindowCase{0, 1.5, false},
                                           SmallWindowCase{1, 1.0, true}, SmallWindowCase{1, 1.5, true},
                                           SmallWindowCase{3, 1.0, true}, SmallWindowCase{3, 1.5, true}));

// In the window: the first click on 显示 shows while the completion list is
// open; Enter in an empty code field shows its hint, the first code with data.
TEST_F(PgBrowseTest, ShowOnTheFirstClickAndOnEnter) {
  ui::MainDlg sheet;
  auto* page = new ui::PgBrowse;
  sheet.AddPage(page, QStringLiteral("数据浏览"));
  sheet.show();
  auto* code = Child<QLineEdit>(page, "ctl5001");
  code->setFocus();
  QTest::keyClicks(code, QString::fromStdString("sz" + quote_.code));
  ASSERT_TRUE(QTest::qWaitFor([&] { return code->completer()->popup()->isVisible(); }));
  // The press lands on the open list, as the desktop delivers it.
  QWidget* popup = code->completer()->popup();
  auto* show = Child<QPushButton>(page, "ctl5006");
  QTest::mouseClick(popup, Qt::LeftButton, {}, popup->mapFromGlobal(show->mapToGlobal(show->rect().center())));
  EXPECT_TRUE(QTest::qWaitFor([&] { return page->View().request.code == quote_.code; }));

  code->clear();
  EXPECT_EQ(code->placeholderText().toStdString(), SecuritiesWithData(tree_->layout(), ViewKind::kDaily).at(0));
  QTest::keyClick(code, Qt::Key_Return);
  EXPECT_EQ(SecurityStem(page->View().request.market, page->View().request.code),
            code->placeholderText().toStdString());
}

TEST_F(PgBrowseTest, ExportWritesWhatTheTableShows) {
  ShowCode("sz" + quote_.code);
  TempDir out;
  QString suggested;
  ui::PgBrowse::SetFileChooser([&](QWidget*, const QString& path) {
    suggested = path;
    return QString::fromStdString(out.path() + "x.csv");
  });
  Child<QPushButton>(&page_, "ctl5007")->click();
  const QString name = QString::fromStdString("sz" + quote_.code + "-day.csv");
  EXPECT_EQ(suggested, QDir::homePath() + "/" + name);
  Child<QPushButton>(&page_, "ctl5007")->click();  // the next one in the folder of the last
  ui::PgBrowse::SetFileChooser(nullptr);
  EXPECT_EQ(suggested, QString::fromStdString(out.path()) + name);
  const std::string csv = ReadFileText(out.path() + "x.csv");
  EXPECT_EQ(csv, DataViewCsv(page_.View()));
}

// A refused code or range: its message, and nothing to export.
TEST_F(PgBrowseTest, RefusalsAreShownInTheStatusLine) {
  ShowCode("sz" + quote_.code);
  ShowCode("sz999999");
  EXPECT_NE(StatusOf(&page_, 5010).find("找不到文件"), std::string::npos) << StatusOf(&page_, 5010);
  EXPECT_FALSE(Control(&page_, 5007)->isEnabled());
  EXPECT_EQ(Child<QTableView>(&page_, "ctl5009")->model()->rowCount(), 0);
  EXPECT_EQ(Labels("priceChart") + Labels("volumeChart"), QStringList());
  Child<QCheckBox>(&page_, "ctl5005")->setChecked(false);
  Child<QDateTimeEdit>(&page_, "ctl5003")->setDate(QDate(2022, 5, 9));
  Child<QDateTimeEdit>(&page_, "ctl5004")->setDate(QDate(2022, 5, 2));
  ShowCode("sz" + quote_.code);
  EXPECT_EQ(StatusOf(&page_, 5010), "日期区间不合法!");
  EXPECT_FALSE(Control(&page_, 5007)->isEnabled());
}

}  // namespace
}  // namespace marbloom::test
