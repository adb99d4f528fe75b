#include "ui/window_reports.h"
#include "ui/pg_download.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QGridLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>
#include <ctime>

#include "app/settings.h"
#include "common/shared_state.h"
#include "download/catch_up_plan.h"
#include "download/download_run.h"
#include "ui/status_line.h"

namespace marbloom::ui {
namespace {

const FrameParams kDownloadFrame = {
    .listId = 2000,
    .firstPickerId = 2003,
    .lastPickerId = 2004,
    .progressId = 2005,
    .statusId = 2006,
    .executeId = 2007,
    .cancelId = 2008,
    .executeCaption = "开始下载",
    .cancelCaption = "取消下载",
    .timerId = 32,
    .timerPeriodMs = 50,
    .threadFailureMessage = "下载功能线程创建失败!",
    .logThreadFailure = true,
    .zeroProgressOnCancel = false,
};

constexpr const char* kNote =
    "注：\n    每次按时段进行下载和处理数据，跨度不得超过31个自然日，超过需分批。\n"
    "    若有较长时段数据需要处理，建议直接从其他服务器拷贝。\n    当日盘后数据要在17：30之后下载。\n"
    "    只支持2022.5.1之后的数据下载和转档。";

}  // namespace

PgDownLoad::PgDownLoad(QWidget* parent) : OperationPage(kDownloadFrame, parent) {
  setObjectName(QStringLiteral("PgDownLoad"));
  convertBox_ = new QCheckBox(QStringLiteral("转档"), this);
  convertBox_->setObjectName(ControlName(2002));
  convertBox_->setChecked(true);

  auto* grid = new QGridLayout(this);
  grid->addWidget(NewLabel(QStringLiteral("下载功能:"), QStringLiteral("lblFunction"), this), 0, 0);
  grid->addWidget(list_, 0, 1, 1, 3);
  grid->addWidget(NewLabel(QStringLiteral("日期选择:"), QStringLiteral("lblDate"), this), 1, 0);
  grid->addWidget(first_, 1, 1);
  grid->addWidget(NewLabel(QStringLiteral("-"), QStringLiteral("lblDash"), this), 1, 2, Qt::AlignCenter);
  grid->addWidget(last_, 1, 3);
  grid->addWidget(convertBox_, 2, 1);
  grid->setRowStretch(3, 1);
  auto* note = NewLabel(QString::fromUtf8(kNote), QStringLiteral("lblNote"), this);
  note->setWordWrap(true);
  grid->addWidget(note, 4, 0, 1, 4);
  position_ = NewLabel(QString(), QStringLiteral("lblRunPosition"), this);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(position_);
  bottom->addWidget(progress_, 1);
  bottom->addWidget(buttonPair_);
  grid->addLayout(bottom, 5, 0, 1, 4);
  grid->addWidget(status_, 6, 0, 1, 4);
  grid->setColumnStretch(1, 1);
  grid->setColumnStretch(3, 1);

  list_->addItem(QStringLiteral("日线数据(日线及以上级别K线)"));
  list_->addItem(QStringLiteral("分笔数据(分时线和分笔成交)"));
  list_->setCurrentIndex(0);
  connect(list_, &QComboBox::currentIndexChanged, this, &PgDownLoad::OnSelectionChanged);
  ShowCatchUpDates();
}

// The dates a catch-up of daily data would take first: from the day after
// the last complete day to the latest day the server can have, within 31
// days; the latest day alone when the tree is up to date.
void PgDownLoad::ShowCatchUpDates() {
  if (!DataTreeReady) return;
  const CatchUpPlan plan = PlanCatchUp(PageLayout(), DownloadKind::kDaily, CatchUpRequest{.now = std::time(nullptr)});
  const DayRange range = plan.runs.empty() ? DayRange{plan.latest, plan.latest} : plan.runs.front();
  auto show = [](QDateTimeEdit* picker, int date) {
    picker->setDateTime(QDateTime(QDate(date / 10000, date / 100 % 100, date % 100), QTime(12, 0)));
  };
  show(first_, range.first);
  show(last_, range.last);
}

PgDownLoad::~PgDownLoad() { StopWorker(); }

void PgDownLoad::OnSelectionChanged(int index) {
  if (index == 1) {
    kind_ = DownloadKind::kTick;
    return;
  }
  kind_ = DownloadKind::kDaily;
  if (index != 0) list_->setCurrentIndex(0);
}

bool PgDownLoad::PrepareRun() {
  cancel_->setText(QString::fromUtf8(Params().cancelCaption));
  convert_ = convertBox_->isChecked();
  runKind_ = kind_;
  return true;
}

void PgDownLoad::SetInputsEnabled(bool enabled) { convertBox_->setEnabled(enabled); }

void PgDownLoad::ShowConvertCancelCaption() {
  PostToWindow([this] {
    cancel_->setText(QStringLiteral("取消转档"));
    SetPosition(RunPosition{.converting = true});
  });
}

void PgDownLoad::SetPosition(const RunPosition& position) {
  shown_ = position;
  RefreshFromSharedState();
}

// While downloading, the bar covers the whole range: the days done and the
// part of the current archive.
void PgDownLoad::RefreshFromSharedState() {
  OperationPage::RefreshFromSharedState();
  if (shown_.converting) {
    position_->setText(QStringLiteral("转档"));
  } else if (shown_.days > 0) {
    position_->setText(QStringLiteral("第%1/%2天 %3").arg(shown_.day).arg(shown_.days).arg(shown_.date));
    const double whole = (shown_.day - 1 + ProgressFraction()) / shown_.days;
    progress_->setValue(std::clamp(static_cast<int>(whole * 100), 0, 99));
  } else {
    position_->clear();
  }
}

// A fresh run on the current settings; Cancel reaches it through the slot,
// first the download loop, then the conversion step running at that moment.
void PgDownLoad::RunOperation() {
  SlotEngine<DownloadRun> run(Engines(), PageDownloadSetup());
  run->onFocusFirstDate = [this] { RequestFocus(first_); };
  run->onConverting = [this] { ShowConvertCancelCaption(); };
  run->onDay = [this](int day, int days, int date) {
    PostToWindow([this, position = RunPosition{day, days, date}] { SetPosition(position); });
  };
  const PickedDates& picked = Dates();
  ShowResult(run->Run(DownloadRequest{runKind_, picked.firstTime, picked.lastTime, convert_}));
  PostToWindow([this] { SetPosition(RunPosition{}); });  // before the page returns to idle
}

}  // namespace marbloom::ui
