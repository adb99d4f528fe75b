#include "ui/pg_config.h"

#include <QCheckBox>
#include <QDir>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/disk_use.h"
#include "app/settings.h"
#include "app/startup.h"
#include "ui/folder_picker.h"
#include "ui/main_dlg.h"
#include "ui/message_box.h"
#include "ui/page_controls.h"

namespace marbloom::ui {
namespace {

QFrame* NewLine(const QString& name, QWidget* parent) {
  auto* line = new QFrame(parent);
  line->setObjectName(name);
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  return line;
}

// The days entry: decimal digits (blanks around allowed), 50 to 250.
std::optional<int> ParseDays(const QString& text) {
  const QString digits = text.trimmed();
  if (digits.isEmpty() || digits.size() > 9) return std::nullopt;
  for (QChar c : digits)
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) return std::nullopt;
  const int days = digits.toInt();
  if (days < kMinEntryMinuteDays || days > kMaxEntryMinuteDays) return std::nullopt;
  return days;
}

// Why one text entry would not read back from the settings file as entered.
std::string TextProblem(std::string AppSettings::*field, const QString& text) {
  AppSettings probe;
  probe.*field = text.toStdString();
  return SettingTextProblem(probe);
}

QCheckBox* NewCheck(const QString& text, int id, QWidget* parent) {
  auto* box = new QCheckBox(text, parent);
  box->setObjectName(ControlName(id));
  return box;
}

}  // namespace

PgConfig::PgConfig(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("PgConfig"));
  domain_ = NewEdit(1005, this);
  mirrors_ = NewEdit(1006, this);
  mirrors_->setPlaceholderText(QStringLiteral("镜像站点（可选，按顺序依次尝试，以空格分隔）"));
  historyDir_ = NewEdit(1000, this);
  browse_ = NewButton(QStringLiteral("浏览..."), 1001, this);
  days_ = NewEdit(1002, this);
  days_->setMaximumWidth(fontMetrics().horizontalAdvance(QStringLiteral("00000")) + 12);
  minutesAfterTick_ =
      NewCheck(QStringLiteral("下载分笔并转档时，同时生成分钟数据（直接执行分笔操作时不处理分钟）"), 1003, this);
  tckv4_ = NewCheck(QStringLiteral("转码已经启用TCKV4配置"), 4025, this);
  confirm_ = NewButton(QStringLiteral("设置确认"), 1004, this);

  auto* grid = new QGridLayout(this);
  auto* domainLabel = NewLabel(
      QStringLiteral("下载站点（无DNS的可以改为IP，注意按照类似http://XXX.XXX.XXX.XXX/格式）："),
      QStringLiteral("lblDomain"), this);
  domainLabel->setWordWrap(true);
  grid->addWidget(domainLabel, 0, 0, 1, 2);
  auto* sites = new QVBoxLayout;
  sites->addWidget(domain_);
  sites->addWidget(mirrors_);
  grid->addLayout(sites, 1, 0);
  grid->addWidget(NewLabel(QStringLiteral("历史数据目录（完整的绝对路径）："), QStringLiteral("lblHistoryDir"), this),
                  2, 0, 1, 2);
  grid->addWidget(historyDir_, 3, 0);
  grid->addWidget(browse_, 3, 1);
  historyPath_ = NewLabel(QString(), QStringLiteral("lblHistoryPath"), this);
  historyPath_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  historyPath_->setWordWrap(true);
  grid->addWidget(historyPath_, 4, 0, 1, 2);
  grid->addWidget(NewLine(QStringLiteral("line1"), this), 5, 0, 1, 2);
  auto* daysRow = new QHBoxLayout;
  daysRow->addWidget(NewLabel(QStringLiteral("1分钟线保留："), QStringLiteral("lblDays"), this));
  daysRow->addWidget(days_);
  auto* daysNote = NewLabel(QStringLiteral("天（5分钟天数为1分钟天数的5倍，但都不超过500天）"),
                            QStringLiteral("lblDaysNote"), this);
  daysNote->setWordWrap(true);
  daysRow->addWidget(daysNote, 1);
  grid->addLayout(daysRow, 6, 0, 1, 2);
  grid->addWidget(minutesAfterTick_, 7, 0, 1, 2);
  grid->addWidget(tckv4_, 8, 0, 1, 2);
  grid->addWidget(NewLine(QStringLiteral("line2"), this), 9, 0, 1, 2);
  auto* confirmNote = NewLabel(QStringLiteral("修改配置后需要点击右侧按钮才会生效   ==================>"),
                               QStringLiteral("lblConfirmNote"), this);
  confirmNote->setWordWrap(true);
  grid->addWidget(confirmNote, 10, 0);
  grid->addWidget(confirm_, 10, 1);
  grid->addWidget(NewLine(QStringLiteral("line3"), this), 11, 0, 1, 2);
  journalUse_ = NewLabel(QString(), QStringLiteral("lblJournalUse"), this);
  downloadUse_ = NewLabel(QString(), QStringLiteral("lblDownloadUse"), this);
  journalUse_->setWordWrap(true);
  downloadUse_->setWordWrap(true);
  clearJournal_ = NewButton(QStringLiteral("清除"), 0, this);
  clearJournal_->setObjectName(QStringLiteral("btnClearJournal"));
  clearDownloads_ = NewButton(QStringLiteral("清除"), 0, this);
  clearDownloads_->setObjectName(QStringLiteral("btnClearDownloads"));
  grid->addWidget(journalUse_, 12, 0);
  grid->addWidget(clearJournal_, 12, 1);
  grid->addWidget(downloadUse_, 13, 0);
  grid->addWidget(clearDownloads_, 13, 1);
  grid->setColumnStretch(0, 1);
  grid->setRowStretch(14, 1);
  minutesAfterTick_->setMinimumWidth(0);

  connect(historyDir_, &QLineEdit::textChanged, this, &PgConfig::ShowHistoryPath);
  connect(browse_, &QPushButton::clicked, this, &PgConfig::OnBrowse);
  connect(confirm_, &QPushButton::clicked, this, &PgConfig::OnConfirm);
  connect(clearJournal_, &QPushButton::clicked, this, [this] {
    Clear(QStringLiteral("清除撤销记录后, 以前的操作都不能再撤销。是否清除?"), ClearUndoJournal);
  });
  connect(clearDownloads_, &QPushButton::clicked, this, [this] {
    Clear(QStringLiteral("是否删除已下载的日线和分笔压缩包?"), ClearDownloads);
  });
  InitFromSettings();
}

void PgConfig::InitFromSettings() {
  const AppSettings& s = Settings();
  domain_->setText(QString::fromStdString(s.downloadBase));
  mirrors_->setText(QString::fromStdString(s.mirrors));
  historyDir_->setText(QString::fromStdString(s.historyDir));
  minutesAfterTick_->setChecked(s.minutesAfterTick != 0);
  days_->setText(QString::number(s.minuteDays));
  tckv4_->setChecked(s.tckv4 != 0);
  confirmed_ = Entries();
}

void PgConfig::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  ShowDiskUse();
}

// The sizes of what the program keeps beside the data, as they are now.
void PgConfig::ShowDiskUse() {
  const DataLayout layout = CurrentLayout();
  const DiskUse use = MeasureDiskUse(layout);
  journalUse_->setText(QStringLiteral("撤销记录(%1): %2")
                           .arg(QString::fromStdString(layout.UndoDir()),
                                QString::fromStdString(ByteSizeText(use.undoJournal))));
  downloadUse_->setText(QStringLiteral("下载文件(%1): %2")
                            .arg(QString::fromStdString(layout.DownDir()),
                                 QString::fromStdString(ByteSizeText(use.downloads))));
}

void PgConfig::Clear(const QString& question, OperationResult (*clear)(const DataLayout&)) {
  if (!AskYesNo(this, question, QStringLiteral("磁盘占用"))) return;
  const OperationResult result = clear(CurrentLayout());
  ShowMessageBox(this, QString::fromStdString(result.message), QStringLiteral("磁盘占用"),
                 result.done() ? BoxIcon::kInformation : BoxIcon::kWarning);
  ShowDiskUse();
}

// The folder the history directory's text names, over the work directory.
void PgConfig::ShowHistoryPath() {
  QString text = historyDir_->text().trimmed();
  text.replace(QLatin1Char('\\'), QLatin1Char('/'));
  const QString path = QDir::cleanPath(QDir(QString::fromStdString(WorkDirectory())).absoluteFilePath(text));
  historyPath_->setText(text.isEmpty() ? QString() : QStringLiteral("实际位置: ") + path);
}

void PgConfig::OnBrowse() {
  FolderPicker picker(historyDir_->text(), this);
  if (picker.Browse() == kFolderChosen) historyDir_->setText(picker.GetPath());
}

void PgConfig::Refuse(const QString& message, QLineEdit* field) {
  ShowMessageBox(this, message, QString(), BoxIcon::kWarning);
  field->setFocus(Qt::OtherFocusReason);
  field->selectAll();
}

// Nothing is cut silently: a text the settings file would not give back as
// entered is refused here, with the focus on its field.
bool PgConfig::ReadEntries(AppSettings* entered) {
  std::string problem = TextProblem(&AppSettings::historyDir, historyDir_->text());
  if (!problem.empty()) {
    Refuse(QString::fromStdString(problem), historyDir_);
    return false;
  }
  const std::optional<int> days = ParseDays(days_->text());
  if (!days) {
    Refuse(QString::fromUtf8(kMinuteDaysEntryMessage), days_);
    return false;
  }
  problem = TextProblem(&AppSettings::downloadBase, domain_->text());
  if (!problem.empty()) {
    Refuse(QString::fromStdString(problem), domain_);
    return false;
  }
  problem = TextProblem(&AppSettings::mirrors, mirrors_->text());
  if (!problem.empty()) {
    Refuse(QString::fromStdString(problem), mirrors_);
    return false;
  }
  entered->mirrors = mirrors_->text().toStdString();
  entered->downloadBase = domain_->text().toStdString();
  entered->historyDir = historyDir_->text().toStdString();
  entered->minuteDays = *days;
  entered->minutesAfterTick = minutesAfterTick_->isChecked() ? 1 : 0;
  entered->tckv4 = tckv4_->isChecked() ? 1 : 0;
  return true;
}

QStringList PgConfig::Entries() const {
  return {domain_->text(), mirrors_->text(), historyDir_->text(), days_->text(), QString::number(minutesAfterTick_->isChecked()),
          QString::number(tckv4_->isChecked())};
}

bool PgConfig::HasUnconfirmedEntries() const { return Entries() != confirmed_; }

void PgConfig::OnConfirm() { Confirm(); }

bool PgConfig::Confirm() {
  AppSettings entered = Settings();
  if (!ReadEntries(&entered)) return false;
  LockSheetTabs(this, true);
  const int shownBefore = CoreMessagesShown();
  const OperationResult result = ConfirmSettings(entered, RealFileSystem());
  LockSheetTabs(this, false);
  if (result.done()) {
    ShowMessageBox(this, QString::fromStdString(result.message), QStringLiteral("系统设置"), BoxIcon::kInformation);
  } else if (CoreMessagesShown() == shownBefore) {
    // A failure the core has not shown yet (the settings file not written).
    ShowMessageBox(this, QString::fromStdString(result.message), QString(), BoxIcon::kWarning);
  }
  if (result.done()) confirmed_ = Entries();
  return result.done();
}

}  // namespace marbloom::ui
