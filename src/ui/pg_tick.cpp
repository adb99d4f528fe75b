#include "ui/window_reports.h"
#include "ui/pg_tick.h"

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
#include "base/run_log.h"
#include "common/code_pattern.h"
#include "common/shared_state.h"
#include "undo/undo_engine.h"
#include "ui/status_line.h"
#include "ui/undo_entry.h"

namespace marbloom::ui {
namespace {

const FrameParams kTickFrame = {
    .listId = 4001,
    .firstPickerId = 4003,
    .lastPickerId = 4005,
    .progressId = 4006,
    .statusId = 4009,
    .executeId = 4007,
    .cancelId = 4008,
    .executeCaption = "执行",
    .cancelCaption = "取消执行",
    .timerId = 16,
    .timerPeriodMs = 50,
    .threadFailureMessage = "分笔功能线程创建失败!",
    .logThreadFailure = false,
    .zeroProgressOnCancel = true,
};

constexpr const char* kEntries[] = {
    "转档指定时间段分笔数据(要求已经下载)", "转档指定时间段分钟数据(要求分笔已转档)",
    "转档全部分钟数据(直接覆盖原有分钟数据)", "删除指定区间分笔数据",
    "删除指定区间分钟数据",                 "分笔数据检查",
    "批量修改分钟数据",                     kUndoEntry,
};

constexpr const char* kNote =
    "注：\n    每次按时段进行转档数据，跨度不得超过31个自然日，超过需分批。\n"
    "    若有较长时段数据需要处理，建议直接从其他服务器拷贝。\n    只支持2022.5.1之后的数据下载和转档。";

struct FactorSpec {
  int captionId, editId;
  const char* caption;
};
constexpr FactorSpec kFactors[] = {
    {4013, 4014, "开盘价:"}, {4015, 4016, "最高价:"}, {4017, 4018, "最低价:"},
    {4019, 4020, "收盘价:"}, {4021, 4022, "成交量:"}, {4023, 4024, "成交金额:"},
};

float* FactorOf(MinuteFactors& f, int i) {
  float* fields[] = {&f.open, &f.high, &f.low, &f.close, &f.volume, &f.amount};
  return fields[i];
}

bool UsesDates(int entry) {
  return entry != PgTick::kRebuildAllMinutes && entry != PgTick::kCheckTicks && entry != PgTick::kUndo;
}

}  // namespace

PgTick::PgTick(QWidget* parent) : OperationPage(kTickFrame, parent) {
  setObjectName(QStringLiteral("PgTick"));
  dateCaption_ = NewLabel(QStringLiteral("日期选择:"), ControlName(4002), this);
  dash_ = NewLabel(QStringLiteral("-"), ControlName(4004), this);
  codeCaption_ = NewLabel(QStringLiteral("股票代码:"), ControlName(4010), this);
  code_ = NewEdit(4011, this);
  factorsNote_ = NewLabel(QStringLiteral("（以下均为变动乘数）"), ControlName(4012), this);
  repair_ = NewButton(QStringLiteral("修复"), 4026, this);
  for (int i = 0; i < 6; ++i) {
    factorCaptions_[i] = NewLabel(QString::fromUtf8(kFactors[i].caption), ControlName(kFactors[i].captionId), this);
    factors_[i] = NewEdit(kFactors[i].editId, this);
    factors_[i]->setText(FormatNumber(1.0));
  }

  auto* grid = new QGridLayout(this);
  grid->addWidget(NewLabel(QStringLiteral("分时功能:"), QStringLiteral("lblFunction"), this), 0, 0);
  grid->addWidget(list_, 0, 1, 1, 3);
  grid->addWidget(dateCaption_, 1, 0);
  grid->addWidget(first_, 1, 1);
  grid->addWidget(dash_, 1, 2, Qt::AlignCenter);
  grid->addWidget(last_, 1, 3);
  grid->addWidget(repair_, 1, 3);
  grid->addWidget(codeCaption_, 2, 0);
  grid->addWidget(code_, 2, 1);
  grid->addWidget(factorsNote_, 3, 0, 1, 4);
  for (int i = 0; i < 6; ++i) {
    grid->addWidget(factorCaptions_[i], 4 + i / 2, (i % 2) * 2);
    grid->addWidget(factors_[i], 4 + i / 2, (i % 2) * 2 + 1);
  }
  grid->setRowStretch(7, 1);
  auto* note = NewLabel(QString::fromUtf8(kNote), QStringLiteral("lblNote"), this);
  note->setWordWrap(true);
  grid->addWidget(note, 8, 0, 1, 4);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(progress_, 1);
  bottom->addWidget(buttonPair_);
  grid->addLayout(bottom, 9, 0, 1, 4);
  grid->addWidget(status_, 10, 0, 1, 4);
  grid->setColumnStretch(1, 1);
  grid->setColumnStretch(3, 1);

  ShowStatus(QString());
  for (const char* entry : kEntries) list_->addItem(QString::fromUtf8(entry));
  list_->setCurrentIndex(0);
  LayOut(0);
  connect(list_, &QComboBox::currentIndexChanged, this, &PgTick::OnSelectionChanged);
  connect(repair_, &QPushButton::clicked, this, &PgTick::OnRepair);
}

PgTick::~PgTick() { StopWorker(); }

QString PgTick::HelpText(int entry) {
  if (entry != kModifyMinutes) return QString();
  return QStringLiteral(
      "代码串前两位用sz和sh表示沪深，后面带6位数字。可以用?代替一位数字或用??代替沪深，如sz??????就代表所有深市代码，"
      "????????表示所有代码。");
}

void PgTick::OnSelectionChanged(int index) {
  if (index < 0 || index == operation_) return;
  operation_ = index;
  ShowStatus(QString());
  LayOut(index);
}

void PgTick::LayOut(int entry) {
  const bool dates = UsesDates(entry);
  for (QWidget* w : {static_cast<QWidget*>(dateCaption_), static_cast<QWidget*>(first_),
                     static_cast<QWidget*>(dash_), static_cast<QWidget*>(last_)})
    w->setVisible(dates);
  const bool modify = entry == kModifyMinutes;
  codeCaption_->setVisible(modify);
  code_->setVisible(modify);
  factorsNote_->setVisible(modify);
  for (int i = 0; i < 6; ++i) {
    factorCaptions_[i]->setVisible(modify);
    factors_[i]->setVisible(modify);
  }
  repair_->setVisible(entry == kCheckTicks && damagedFiles_ > 0);
  ShowStatus(entry == kUndo ? LastJournalRunText() : HelpText(entry));
}

void PgTick::ShowRepair(int damagedFiles) {
  damagedFiles_ = damagedFiles;
  repair_->setVisible(operation_ == kCheckTicks && damagedFiles_ > 0);
}

void PgTick::OnRepair() {
  if (IsRunning() || damagedFiles_ == 0 || !ConfirmRepair(this, damagedFiles_)) return;
  repairAsked_ = true;
  Execute();
}

bool PgTick::PrepareRun() {
  Request request;
  request.entry = operation_;
  request.pattern = TrimSpaces(code_->text().toStdString());
  request.repair = std::exchange(repairAsked_, false) && request.entry == kCheckTicks;
  if (request.entry == kUndo) {
    request.undoRun = ConfirmUndo(this);
    if (request.undoRun == 0) {
      ShowStatus(LastJournalRunText());
      return false;
    }
    journalOperation_ = UndoOperationName(request.undoRun);
  }
  if (request.entry == kModifyMinutes) {
    for (int i = 0; i < 6; ++i) {
      const std::optional<double> value = ReadNumber(factors_[i]);
      if (!value) {
        WindowReports().Status(NotANumberMessage(factorCaptions_[i]->text()));
        RefreshFromSharedState();
        factors_[i]->setFocus(Qt::OtherFocusReason);
        return false;
      }
      *FactorOf(request.factors, i) = static_cast<float>(*value);
    }
  }
  request_ = std::move(request);
  return true;
}

void PgTick::SetInputsEnabled(bool enabled) {
  code_->setEnabled(enabled);
  repair_->setEnabled(enabled);
  for (QLineEdit* edit : factors_) edit->setEnabled(enabled);
}

OperationResult PgTick::WithTickEngine(const std::function<OperationResult(TickEngine&)>& step) {
  SlotEngine<TickEngine> engine(Engines(), PageLayout());
  OperationResult result = step(*engine);
  ShowResult(result);
  return result;
}

OperationResult PgTick::WithMinuteEngine(const std::function<OperationResult(MinuteEngine&)>& step) {
  SlotEngine<MinuteEngine> engine(Engines(), PageLayout(), CurrentMinuteOptions());
  OperationResult result = step(*engine);
  ShowResult(result);
  return result;
}

bool PgTick::CheckDates() {
  if (request_.entry == kModifyMinutes) {
    if (!HasPatternLength(request_.pattern)) {
      WindowReports().Status(kPatternLengthMessage);
      return false;
    }
    if (CheckPicked(Dates(), false) == DateRangeCheck::kReversed) {
      WindowReports().Status(kDateRangeInvalidMessage);
      return false;
    }
    return true;
  }
  return !UsesDates(request_.entry) || ReportPickedRange(true);
}

void PgTick::RunOperation() {
  if (!DataTreeReady) {
    WindowReports().Status(kTickDataGuardMessage);
    WindowReports().LogF("%s", kTickDataGuardMessage);
    return;
  }
  if (!CheckDates()) return;
  const int first = Dates().first, last = Dates().last;
  switch (request_.entry) {
    case kConvertTicks:
      WithTickEngine([&](TickEngine& e) { return e.ConvertTickRange(first, last); });
      return;
    case kBuildMinutes:
      WithMinuteEngine([&](MinuteEngine& e) { return e.BuildMinuteLines(first, last); });
      return;
    case kRebuildAllMinutes:
      WithMinuteEngine([](MinuteEngine& e) { return e.BuildMinuteLines(0, 0); });
      return;
    case kDeleteTicks:
      WithTickEngine([&](TickEngine& e) { return e.DeleteTickRange(first, last); });
      return;
    case kDeleteMinutes:
      // One engine for both passes: a cancel that ends the first also ends the second.
      WithMinuteEngine([&](MinuteEngine& e) { return e.DeleteMinuteRange(first, last); });
      return;
    case kCheckTicks:
      return RunCheck();
    case kModifyMinutes:
      WithMinuteEngine(
          [&](MinuteEngine& e) { return e.ModifyMinuteRange(first, last, request_.factors, request_.pattern); });
      return;
    case kUndo:
      ShowResult(UndoJournalRun(Engines(), request_.undoRun));
      return;
    default:
      return;
  }
}

void PgTick::RunCheck() {
  if (request_.repair) {
    SlotEngine<TickRepair> engine(Engines(), PageLayout());
    ShowResult(engine->RepairTickFiles(false));
    return PostToWindow([this] { ShowRepair(0); });
  }
  WindowReports().Status("检查分笔文件开始");
  const OperationResult result = WithTickEngine([](TickEngine& e) { return e.CheckTickFiles(); });
  const int damaged = result.done() || result.outcome == Outcome::kFailed ? result.failedItems : 0;
  PostToWindow([this, damaged] { ShowRepair(damaged); });
}

}  // namespace marbloom::ui
