#include "ui/pg_browse.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCompleter>
#include <QDir>
#include <QFileInfo>
#include <QDateTimeEdit>
#include <QFileDialog>
#include <QGridLayout>
#include <QAbstractItemView>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMouseEvent>
#include <QPushButton>
#include <QSaveFile>
#include <QSplitter>
#include <QStringListModel>
#include <QTableView>

#include "app/settings.h"
#include "base/file_helpers.h"
#include "common/code_pattern.h"
#include "common/date_range.h"
#include "ui/bar_chart.h"
#include "ui/main_dlg.h"
#include "ui/page_controls.h"
#include "ui/status_line.h"

namespace marbloom::ui {

// The rows of the view as the table shows them; flagged rows tinted.
class DataViewModel : public QAbstractTableModel {
 public:
  using QAbstractTableModel::QAbstractTableModel;

  void SetView(const DataView* view) {
    beginResetModel();
    view_ = view;
    columns_ = view ? ColumnsOf(*view) : std::vector<ViewColumn>();
    endResetModel();
  }

  int rowCount(const QModelIndex& parent) const override {
    return parent.isValid() || !view_ ? 0 : static_cast<int>(view_->rows.size());
  }
  int columnCount(const QModelIndex& parent) const override {
    return parent.isValid() ? 0 : static_cast<int>(columns_.size());
  }

  QVariant data(const QModelIndex& index, int role) const override {
    const ViewRow& row = view_->rows[static_cast<std::size_t>(index.row())];
    const ViewColumn column = columns_[static_cast<std::size_t>(index.column())];
    switch (role) {
      case Qt::DisplayRole:
        return QString::fromStdString(ShownCellText(*view_, row, column));
      case Qt::TextAlignmentRole:
        return QVariant::fromValue(column == ViewColumn::kFlag ? Qt::AlignLeft | Qt::AlignVCenter
                                                               : Qt::AlignRight | Qt::AlignVCenter);
      case Qt::BackgroundRole:
        return row.flag == RowFlag::kNone ? QVariant() : QVariant(QColor(0xff, 0xd8, 0xd8));
      default:
        return QVariant();
    }
  }

  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal)
      return QAbstractTableModel::headerData(section, orientation, role);
    return QString::fromUtf8(ColumnCaption(columns_[static_cast<std::size_t>(section)]));
  }

 private:
  const DataView* view_ = nullptr;
  std::vector<ViewColumn> columns_;
};

namespace {

constexpr ViewKind kKinds[] = {ViewKind::kDaily, ViewKind::kOneMinute, ViewKind::kFiveMinute, ViewKind::kTicks};
// File name parts of the suggested export: sz000001-day.csv and so on.
constexpr const char* kKindStems[] = {"day", "1min", "5min", "tick"};

PgBrowse::FileChooser& Chooser() {
  static PgBrowse::FileChooser chooser;
  return chooser;
}

QString ChooseFile(QWidget* page, const QString& suggested) {
  if (Chooser()) return Chooser()(page, suggested);
  return QFileDialog::getSaveFileName(page, QStringLiteral("导出CSV"), suggested, QStringLiteral("CSV (*.csv)"));
}

// "sz000006 · 1分钟线 · 7,680 条" for a read that found records; the
// reader's own message otherwise (why nothing is shown).
QString StatusSentence(const DataView& view) {
  if (!view.ok) return QString::fromStdString(view.message);
  const ViewRequest& r = view.request;
  QStringList parts = {QString::fromStdString(SecurityStem(r.market, r.code)), QString::fromUtf8(ViewKindName(r.kind)),
                       QLocale(QLocale::Chinese, QLocale::China).toString(static_cast<qlonglong>(view.rows.size())) +
                           QStringLiteral(" 条")};
  if (view.flaggedRows > 0) parts << QStringLiteral("其中%1条日期异常").arg(view.flaggedRows);
  if (view.truncated) parts << QStringLiteral("记录过多,只显示这些,请缩小日期范围");
  return parts.join(QStringLiteral(" · "));
}

}  // namespace

void PgBrowse::SetFileChooser(FileChooser chooser) { Chooser() = std::move(chooser); }

PgBrowse::PgBrowse(QWidget* parent)
    : QWidget(parent), exportDir_(QDir::homePath()), view_(std::make_unique<DataView>()) {
  setObjectName(QStringLiteral("PgBrowse"));
  code_ = NewEdit(5001, this);
  LetEnterThrough(code_);
  kind_ = new QComboBox(this);
  kind_->setObjectName(ControlName(5002));
  for (ViewKind kind : kKinds) kind_->addItem(QString::fromUtf8(ViewKindName(kind)));
  first_ = NewDatePicker(5003, this);
  last_ = NewDatePicker(5004, this);
  first_->setDate(first_->date().addYears(-1));
  allDates_ = new QCheckBox(QStringLiteral("全部日期"), this);
  allDates_->setObjectName(ControlName(5005));
  allDates_->setChecked(true);
  show_ = NewButton(QStringLiteral("显示"), 5006, this);
  export_ = NewButton(QStringLiteral("导出CSV"), 5007, this);
  export_->setEnabled(false);
  chart_ = new BarChart(this);
  chart_->setObjectName(ControlName(5008));
  table_ = new QTableView(this);
  table_->setObjectName(ControlName(5009));
  model_ = new DataViewModel(this);
  table_->setModel(model_);
  table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  table_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  status_ = new StatusLine(this);
  status_->setObjectName(ControlName(5010));
  completer_ = new QCompleter(new QStringListModel(this), this);
  completer_->setCaseSensitivity(Qt::CaseInsensitive);
  completer_->setFilterMode(Qt::MatchContains);
  code_->setCompleter(completer_);
  // A click on 显示 while the list is open closes it and shows at once.
  completer_->popup()->setAttribute(Qt::WA_NoMouseReplay);
  completer_->popup()->installEventFilter(this);

  auto* grid = new QGridLayout(this);
  grid->addWidget(NewLabel(QStringLiteral("股票代码:"), QStringLiteral("lblCode"), this), 0, 0);
  grid->addWidget(code_, 0, 1);
  grid->addWidget(NewLabel(QStringLiteral("数据类型:"), QStringLiteral("lblKind"), this), 0, 2);
  grid->addWidget(kind_, 0, 3);
  grid->addWidget(show_, 0, 4);
  grid->addWidget(NewLabel(QStringLiteral("日期选择:"), QStringLiteral("lblDates"), this), 1, 0);
  grid->addWidget(first_, 1, 1);
  grid->addWidget(NewLabel(QStringLiteral("-"), QStringLiteral("lblDash"), this), 1, 2, Qt::AlignCenter);
  grid->addWidget(last_, 1, 3);
  grid->addWidget(allDates_, 1, 4);
  auto* splitter = new QSplitter(Qt::Vertical, this);
  splitter->addWidget(chart_);
  splitter->addWidget(table_);
  splitter->setStretchFactor(0, 3);
  splitter->setStretchFactor(1, 2);
  grid->addWidget(splitter, 2, 0, 1, 5);
  grid->setRowStretch(2, 1);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(status_, 1);
  bottom->addWidget(export_);
  grid->addLayout(bottom, 3, 0, 1, 5);
  grid->setColumnStretch(1, 1);
  grid->setColumnStretch(3, 1);

  auto datesFollow = [this](bool all) {
    first_->setEnabled(!all);
    last_->setEnabled(!all);
  };
  datesFollow(true);
  connect(allDates_, &QCheckBox::toggled, this, datesFollow);
  connect(show_, &QPushButton::clicked, this, &PgBrowse::Show);
  connect(code_, &QLineEdit::returnPressed, this, &PgBrowse::Show);
  connect(export_, &QPushButton::clicked, this, &PgBrowse::ExportCsv);
  connect(kind_, &QComboBox::currentIndexChanged, this, &PgBrowse::RefreshCompletion);
}

PgBrowse::~PgBrowse() = default;

ViewKind PgBrowse::Kind() const { return kKinds[std::clamp(kind_->currentIndex(), 0, 3)]; }

void PgBrowse::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  RefreshCompletion();
}

bool PgBrowse::eventFilter(QObject* watched, QEvent* event) {
  if (watched == completer_->popup() && event->type() == QEvent::MouseButtonPress) {
    const QPoint at = static_cast<QMouseEvent*>(event)->globalPosition().toPoint();
    if (show_->isEnabled() && show_->rect().contains(show_->mapFromGlobal(at))) {
      completer_->popup()->hide();
      QMetaObject::invokeMethod(this, &PgBrowse::Show, Qt::QueuedConnection);
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

// The codes that have a file of the chosen kind in the tree; the first is
// the code field's hint, and what an empty field shows.
void PgBrowse::RefreshCompletion() {
  QStringList stems;
  for (const std::string& stem : SecuritiesWithData(CurrentLayout(), Kind())) stems << QString::fromStdString(stem);
  static_cast<QStringListModel*>(completer_->model())->setStringList(stems);
  code_->setPlaceholderText(stems.value(0));
}

void PgBrowse::ShowStatus(const QString& text) { status_->setText(text); }

bool PgBrowse::ReadRequest(ViewRequest* request) {
  const QString code = code_->text().trimmed().isEmpty() ? code_->placeholderText() : code_->text();
  const auto security = ParseSingleSecurity(TrimSpaces(code.toStdString()), true);
  if (!security) {
    ShowStatus(QString::fromUtf8(kCodeFormatMessage));
    code_->setFocus(Qt::OtherFocusReason);
    return false;
  }
  *request = ViewRequest{security->market, security->code, Kind(), 0, 0, Settings().tckv4};
  if (allDates_->isChecked()) return true;
  const PickedDates dates = ReadPickers(first_, last_);
  const DateRangeCheck check = CheckPicked(dates, false);
  if (check != DateRangeCheck::kOk) {
    ShowStatus(QString::fromUtf8(DateRangeMessage(check)));
    first_->setFocus(Qt::OtherFocusReason);
    return false;
  }
  request->first = dates.first;
  request->last = dates.last;
  return true;
}

// Every Show reads the files again; the table and the chart let go of the
// old rows before they are replaced.
void PgBrowse::Show() {
  ViewRequest request;
  if (!ReadRequest(&request)) return;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  auto view = std::make_unique<DataView>(ReadDataView(CurrentLayout(), request));
  QApplication::restoreOverrideCursor();
  model_->SetView(nullptr);
  chart_->SetView(nullptr);
  view_ = std::move(view);
  model_->SetView(view_.get());
  chart_->SetView(view_.get());
  table_->resizeColumnsToContents();
  export_->setEnabled(!view_->rows.empty());
  ShowStatus(StatusSentence(*view_));
}

void PgBrowse::ExportCsv() {
  if (view_->rows.empty()) return;
  const ViewRequest& r = view_->request;
  const QString name = QString::fromStdString(SecurityStem(r.market, r.code) + "-" +
                                              kKindStems[static_cast<int>(r.kind)] + ".csv");
  const QString path = ChooseFile(this, QDir(exportDir_).filePath(name));
  if (path.isEmpty()) return;
  exportDir_ = QFileInfo(path).absolutePath();
  QSaveFile file(path);
  const std::string csv = DataViewCsv(*view_);
  if (!file.open(QIODevice::WriteOnly) ||
      file.write(csv.data(), static_cast<qint64>(csv.size())) != static_cast<qint64>(csv.size()) || !file.commit()) {
    ShowStatus(QStringLiteral("写入%1失败!").arg(path));
    return;
  }
  ShowStatus(QStringLiteral("已导出%1条记录到%2").arg(view_->rows.size()).arg(path));
}

}  // namespace marbloom::ui
