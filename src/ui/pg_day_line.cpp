#include "ui/window_reports.h"
#include "ui/pg_day_line.h"

#include <QComboBox>
#include <QDateTimeEdit>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <utility>

#include "app/settings.h"
#include "base/file_helpers.h"
#include "common/code_pattern.h"
#include "common/shared_state.h"
#include "daily/daily_batch_modify.h"
#include "daily/daily_check.h"
#include "daily/daily_closing.h"
#include "daily/daily_conversion.h"
#include "daily/daily_merge.h"
#include "daily/daily_range_delete.h"
#include "daily/daily_repair.h"
#include "undo/undo_engine.h"
#include "ui/folder_picker.h"
#include "ui/status_line.h"
#include "ui/undo_entry.h"

namespace marbloom::ui {
namespace {

const FrameParams kDailyFrame = {
    .listId = 3000,
    .firstPickerId = 3002,
    .lastPickerId = 3004,
    .progressId = 3030,
    .statusId = 3033,
    .executeId = 3031,
    .cancelId = 3032,
    .executeCaption = "执行",
    .cancelCaption = "取消执行",
    .timerId = 48,
    .timerPeriodMs = 200,
    .threadFailureMessage = "日线功能线程创建失败!",
    .logThreadFailure = false,
    .zeroProgressOnCancel = true,
};

constexpr const char* kEntries[] = {
    "转档指定时间段日线数据(要求已经下载)", "删除指定区间日线数据", "手工修改日线数据",
    "批量修改日线数据",                     "日线数据检查(日期信息顺序)", "合并日线文件",
    kUndoEntry,
};

constexpr const char* kPatternHelp =
    "代码串前两位用sh/sz/bj表示沪深京，后面带6位数字。可以用?代替一位数字或字母，如sz??????就代表所有深市代码，"
    "????????表示所有代码。";

constexpr const char* kNote =
    "注：\n    每次按时段进行转档数据，跨度不得超过31个自然日，超过需分批。\n"
    "    若有较长时段数据需要处理，建议直接从其他服务器拷贝。\n"
    "    编辑数据时，单条记录编辑填入具体值，批量编辑填入变动比例乘数。\n"
    "    只支持2022.5.1之后的数据下载和转档。";

struct NumberSpec {
  int captionId, editId;
  const char* caption;
};
constexpr NumberSpec kNumbers[] = {
    {3020, 3012, "开盘价:"}, {3021, 3013, "最高价:"}, {3022, 3014, "最低价:"},   {3023, 3015, "收盘价:"},
    {3024, 3016, "成交量:"}, {3025, 3017, "成交金额:"}, {3026, 3018, "上涨家数:"}, {3027, 3019, "下跌家数:"},
};

double* FieldOf(DailyEditFields& f, int i) {
  double* fields[] = {&f.open, &f.high, &f.low, &f.close, &f.volume, &f.amount, &f.advancing, &f.declining};
  return fields[i];
}

}  // namespace

PgDayLine::PgDayLine(QWidget* parent) : OperationPage(kDailyFrame, parent) {
  setObjectName(QStringLiteral("PgDayLine"));
  dateCaption_ = NewLabel(QStringLiteral("日期选择:"), ControlName(3001), this);
  dash_ = NewLabel(QStringLiteral("-"), ControlName(3003), this);
  sourceCaption_ = NewLabel(QStringLiteral("来源目录:"), ControlName(3005), this);
  sourceDir_ = NewEdit(3006, this);
  browse_ = NewButton(QStringLiteral("浏览..."), 3007, this);
  codeCaption_ = NewLabel(QStringLiteral("股票代码:"), ControlName(3009), this);
  code_ = NewEdit(3010, this);
  factorsNote_ = NewLabel(QStringLiteral("（以下均为变动乘数）"), ControlName(3011), this);
  extract_ = NewButton(QStringLiteral("提取"), 3008, this);
  repair_ = NewButton(QStringLiteral("修复"), 3034, this);
  keepRunsCaption_ = NewLabel(QStringLiteral("撤销记录保留次数:"), ControlName(3035), this);
  keepRuns_ = NewEdit(3036, this);
  keepBytesCaption_ = NewLabel(QStringLiteral("最多占用(字节, 可带K/M/G):"), ControlName(3037), this);
  keepBytes_ = NewEdit(3038, this);
  saveLimits_ = NewButton(QStringLiteral("保存上限"), 3039, this);
  for (int i = 0; i < 8; ++i) {
    numbers_[i].caption = NewLabel(QString::fromUtf8(kNumbers[i].caption), ControlName(kNumbers[i].captionId), this);
    numbers_[i].edit = NewEdit(kNumbers[i].editId, this);
  }
  indexNotes_[0] = NewLabel(QStringLiteral("（仅指数）"), ControlName(3028), this);
  indexNotes_[1] = NewLabel(QStringLiteral("（仅指数）"), ControlName(3029), this);

  auto* grid = new QGridLayout(this);
  grid->addWidget(list_, 0, 0, 1, 5);
  grid->addWidget(dateCaption_, 1, 0);
  grid->addWidget(first_, 1, 1);
  grid->addWidget(dash_, 1, 2, Qt::AlignCenter);
  grid->addWidget(last_, 1, 3);
  grid->addWidget(sourceCaption_, 2, 0);
  grid->addWidget(sourceDir_, 2, 1, 1, 3);
  grid->addWidget(browse_, 2, 4);
  grid->addWidget(codeCaption_, 3, 0);
  grid->addWidget(code_, 3, 1);
  grid->addWidget(extract_, 3, 3, Qt::AlignLeft);
  grid->addWidget(repair_, 1, 4);
  grid->addWidget(keepRunsCaption_, 2, 0);
  grid->addWidget(keepRuns_, 2, 1);
  grid->addWidget(keepBytesCaption_, 3, 0);
  grid->addWidget(keepBytes_, 3, 1);
  grid->addWidget(saveLimits_, 3, 3, Qt::AlignLeft);
  grid->addWidget(factorsNote_, 4, 0, 1, 4);
  for (int i = 0; i < 6; ++i) {
    grid->addWidget(numbers_[i].caption, 5 + i / 2, (i % 2) * 2);
    grid->addWidget(numbers_[i].edit, 5 + i / 2, (i % 2) * 2 + 1);
  }
  for (int i = 0; i < 2; ++i) {
    grid->addWidget(numbers_[6 + i].caption, 8 + i, 0);
    grid->addWidget(numbers_[6 + i].edit, 8 + i, 1);
    grid->addWidget(indexNotes_[i], 8 + i, 2, 1, 2);
  }
  grid->setRowStretch(10, 1);
  auto* note = NewLabel(QString::fromUtf8(kNote), QStringLiteral("lblNote"), this);
  note->setWordWrap(true);
  grid->addWidget(note, 11, 0, 1, 5);
  grid->addWidget(progress_, 12, 0, 1, 4);
  grid->addWidget(buttonPair_, 12, 4);
  grid->addWidget(status_, 13, 0, 1, 5);
  grid->setColumnStretch(1, 1);
  grid->setColumnStretch(3, 1);

  // The fields' first values: factors of 1 and no counts.
  PushFields(DailyEditFields{});
  ShowStatus(QString());
  for (const char* entry : kEntries) list_->addItem(QString::fromUtf8(entry));
  list_->setCurrentIndex(0);
  LayOut(0);
  connect(list_, &QComboBox::currentIndexChanged, this, &PgDayLine::OnSelectionChanged);
  connect(browse_, &QPushButton::clicked, this, &PgDayLine::OnBrowse);
  connect(extract_, &QPushButton::clicked, this, &PgDayLine::OnExtract);
  connect(repair_, &QPushButton::clicked, this, &PgDayLine::OnRepair);
  connect(saveLimits_, &QPushButton::clicked, this, &PgDayLine::OnSaveLimits);
}

PgDayLine::~PgDayLine() { StopWorker(); }

QString PgDayLine::HelpText(int entry) {
  switch (entry) {
    case kDelete:
    case kModify:
      return QString::fromUtf8(kPatternHelp);
    case kEdit:
      return QStringLiteral(
          "提取出指定代码的日线数据，编辑完之后执行来写回文件。代码前两位用sh/sz/bj表示沪深京，后面带6位数字，"
          "注意价量比例。");
    case kCheck:
      return QStringLiteral("对转档后的日线文件检错。");
    case kMerge:
      return QStringLiteral("将来源vipdoc目录的日线数据合并入配置的历史数据目录。");
    default:
      return QString();
  }
}

void PgDayLine::OnSelectionChanged(int index) {
  if (index < 0 || index == currentEntry_) return;
  currentEntry_ = index;
  ShowStatus(QString());
  LayOut(index);
}

void PgDayLine::LayOut(int entry) {
  const bool dates = entry == kConvert || entry == kDelete || entry == kEdit || entry == kModify;
  const bool code = entry == kDelete || entry == kEdit || entry == kModify;
  const bool numbers = entry == kEdit || entry == kModify;
  dateCaption_->setVisible(dates);
  first_->setVisible(dates);
  dash_->setVisible(dates && entry != kEdit);
  last_->setVisible(dates && entry != kEdit);
  codeCaption_->setVisible(code);
  code_->setVisible(code);
  extract_->setVisible(entry == kEdit);
  factorsNote_->setVisible(entry == kModify);
  for (int i = 0; i < 8; ++i) {
    const bool shown = i < 6 ? numbers : entry == kEdit;
    numbers_[i].caption->setVisible(shown);
    numbers_[i].edit->setVisible(shown);
  }
  for (QLabel* note : indexNotes_) note->setVisible(entry == kEdit);
  sourceCaption_->setVisible(entry == kMerge);
  sourceDir_->setVisible(entry == kMerge);
  browse_->setVisible(entry == kMerge);
  repair_->setVisible(entry == kCheck && damagedFiles_ > 0);
  for (QWidget* w : {static_cast<QWidget*>(keepRunsCaption_), static_cast<QWidget*>(keepRuns_),
                     static_cast<QWidget*>(keepBytesCaption_), static_cast<QWidget*>(keepBytes_),
                     static_cast<QWidget*>(saveLimits_)})
    w->setVisible(entry == kUndo);
  if (entry == kUndo) {
    keepRuns_->setText(JournalRunsText());
    keepBytes_->setText(JournalBytesText());
  }
  ShowStatus(entry == kUndo ? LastJournalRunText() : HelpText(entry));
}

void PgDayLine::OnSaveLimits() {
  if (IsRunning()) return;
  SaveJournalLimits(keepRuns_->text(), keepBytes_->text());
  RefreshFromSharedState();
}

void PgDayLine::ShowRepair(int damagedFiles) {
  damagedFiles_ = damagedFiles;
  repair_->setVisible(currentEntry_ == kCheck && damagedFiles_ > 0);
}

void PgDayLine::OnRepair() {
  if (IsRunning() || damagedFiles_ == 0 || !ConfirmRepair(this, damagedFiles_)) return;
  repairAsked_ = true;
  Execute();
}

void PgDayLine::PushFields(const DailyEditFields& fields) {
  DailyEditFields copy = fields;
  for (int i = 0; i < 8; ++i) numbers_[i].edit->setText(FormatNumber(*FieldOf(copy, i)));
}

bool PgDayLine::ReadFields(int count, DailyEditFields* fields) {
  for (int i = 0; i < count; ++i) {
    const std::optional<double> value = ReadNumber(numbers_[i].edit);
    if (!value) {
      WindowReports().Status(NotANumberMessage(numbers_[i].caption->text()));
      RefreshFromSharedState();
      numbers_[i].edit->setFocus(Qt::OtherFocusReason);
      return false;
    }
    *FieldOf(*fields, i) = *value;
  }
  return true;
}

void PgDayLine::OnBrowse() {
  FolderPicker picker(sourceDir_->text(), this);
  if (picker.Browse() != kFolderChosen) return;
  QString folder = picker.GetPath().replace(QLatin1Char('\\'), QLatin1Char('/'));
  if (!folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
  sourceDir_->setText(folder);
}

void PgDayLine::OnExtract() {
  if (IsRunning()) return;
  if (!DataTreeReady) {
    WindowReports().Status(kDataGuardMessage);
    RefreshFromSharedState();
    return;
  }
  DailyEditFields fields;
  DailySingleEdit engine(PageLayout(), DataTreeReady != 0);
  const int date = ReadPickers(first_, last_).first;
  const OperationResult result = engine.ExtractDailyFields(code_->text().toStdString(), date, &fields);
  if (result.done()) {
    PushFields(fields);
  } else {
    code_->setFocus(Qt::OtherFocusReason);
  }
  ShowResult(result);
  RefreshFromSharedState();
}

bool PgDayLine::PrepareRun() {
  if (!DataTreeReady) {
    WindowReports().Status(kDataGuardMessage);
    RefreshFromSharedState();
    return false;
  }
  Request request;
  request.entry = currentEntry_;
  request.code = TrimSpaces(code_->text().toStdString());
  request.sourceDir = TrimSpaces(sourceDir_->text().toStdString());
  request.repair = std::exchange(repairAsked_, false) && request.entry == kCheck;
  if (request.entry == kMerge) journalSourceTree_ = NormalizeDirPath(request.sourceDir);
  if (request.entry == kUndo) {
    request.undoRun = ConfirmUndo(this);
    if (request.undoRun == 0) {
      ShowStatus(LastJournalRunText());
      return false;
    }
    journalOperation_ = UndoOperationName(request.undoRun);
  }
  const int numbers = request.entry == kEdit ? 8 : request.entry == kModify ? 6 : 0;
  if (!ReadFields(numbers, &request.fields)) return false;
  request_ = std::move(request);
  return true;
}

void PgDayLine::SetInputsEnabled(bool enabled) {
  for (QWidget* w : {static_cast<QWidget*>(sourceDir_), static_cast<QWidget*>(browse_),
                     static_cast<QWidget*>(code_), static_cast<QWidget*>(extract_)})
    w->setEnabled(enabled);
  for (QWidget* w : {static_cast<QWidget*>(repair_), static_cast<QWidget*>(keepRuns_),
                     static_cast<QWidget*>(keepBytes_), static_cast<QWidget*>(saveLimits_)})
    w->setEnabled(enabled);
  for (const NumberRow& row : numbers_) row.edit->setEnabled(enabled);
}

template <class Engine>
OperationResult PgDayLine::WithEngine(const std::function<OperationResult(Engine&)>& step) {
  SlotEngine<Engine> engine(Engines(), PageLayout());
  OperationResult result = step(*engine);
  ShowResult(result);
  return result;
}

void PgDayLine::StartRun() {
  RequestRunningMode(true);
  WindowReports().Progress(0);
}

void PgDayLine::EndRun() {
  RequestRunningMode(false);
  WindowReports().Progress(0);
}

bool PgDayLine::CheckCodeLength(const char* message) {
  if (HasPatternLength(request_.code)) return true;
  WindowReports().Status(message);
  RequestFocus(code_);
  return false;
}

void PgDayLine::RunOperation() {
  switch (request_.entry) {
    case kConvert: return RunConvert();
    case kDelete: return RunDelete();
    case kEdit: return RunEdit();
    case kModify: return RunModify();
    case kCheck: return RunCheck();
    case kMerge: return RunMerge();
    case kUndo: return RunUndo();
    default: return;
  }
}

void PgDayLine::RunConvert() {
  if (!ReportPickedRange(true)) return;
  StartRun();
  WithEngine<DailyConversion>(
      [this](DailyConversion& e) { return e.ConvertDailyRange(Dates().first, Dates().last); });
  EndRun();
}

void PgDayLine::RunDelete() {
  if (!ReportPickedRange(false) || !CheckCodeLength(kCodeFormatMessage)) return;
  StartRun();
  WithEngine<DailyRangeDelete>(
      [this](DailyRangeDelete& e) { return e.DeleteDailyRange(Dates().first, Dates().last, request_.code); });
  EndRun();
}

// The single record is written at once: no running mode, no progress.
void PgDayLine::RunEdit() {
  const OperationResult result = WithEngine<DailySingleEdit>(
      [this](DailySingleEdit& e) { return e.WriteBackDailyFields(request_.code, Dates().first, request_.fields); });
  if (result.outcome == Outcome::kInvalid) RequestFocus(code_);
}

void PgDayLine::RunModify() {
  if (!CheckCodeLength(kPatternLengthMessage) || !ReportPickedRange(false)) return;
  const DailyEditFields& f = request_.fields;
  const DailyFactors factors{static_cast<float>(f.open),  static_cast<float>(f.high),
                             static_cast<float>(f.low),   static_cast<float>(f.close),
                             static_cast<float>(f.volume), static_cast<float>(f.amount)};
  StartRun();
  const OperationResult result = WithEngine<DailyBatchModify>(
      [&](DailyBatchModify& e) { return e.ModifyDailyRange(Dates().first, Dates().last, factors, request_.code); });
  ShowResult(CloseDailyOperation(WindowReports(), DailyClosing::kModify, result));
  EndRun();
}

void PgDayLine::RunCheck() {
  StartRun();
  if (request_.repair) {
    WithEngine<DailyRepair>([](DailyRepair& e) { return e.RepairDailyFiles(); });
    PostToWindow([this] { ShowRepair(0); });
    return EndRun();
  }
  WindowReports().Status(kDailyCheckStartMessage);
  const OperationResult result = WithEngine<DailyCheck>([](DailyCheck& e) { return e.CheckDailyFiles(); });
  ShowResult(CloseDailyOperation(WindowReports(), DailyClosing::kCheck, result));
  const int damaged = result.done() || result.outcome == Outcome::kFailed ? result.failedItems : 0;
  PostToWindow([this, damaged] { ShowRepair(damaged); });
  EndRun();
}

void PgDayLine::RunUndo() {
  StartRun();
  ShowResult(UndoJournalRun(Engines(), request_.undoRun));
  EndRun();
}

void PgDayLine::RunMerge() {
  if (request_.sourceDir.empty()) {
    WindowReports().Status("请先选择用于补充的vipdoc源!");
    return;
  }
  StartRun();
  const DataLayout source(std::string(), NormalizeDirPath(request_.sourceDir));
  const OperationResult result = WithEngine<DailyMerge>([&](DailyMerge& e) { return e.MergeDailyFiles(source); });
  ShowResult(CloseDailyOperation(WindowReports(), DailyClosing::kMerge, result));
  EndRun();
}

}  // namespace marbloom::ui
