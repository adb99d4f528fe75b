#include "ui/undo_entry.h"

#include "app/settings.h"
#include "common/shared_state.h"
#include "common/undo_engine.h"
#include "ui/message_box.h"

namespace marbloom::ui {

int LastJournalRun() {
  const std::vector<JournalRun> runs = ReadJournal(CurrentLayout());
  return runs.empty() ? 0 : runs.front().id;
}

QString LastJournalRunText() {
  const std::vector<JournalRun> runs = ReadJournal(CurrentLayout());
  if (runs.empty()) return QStringLiteral("没有可以撤销的操作。");
  const JournalRun& run = runs.front();
  return QStringLiteral("上次操作: %1, %2, %3个文件。执行将恢复这些文件。")
      .arg(QString::fromStdString(run.operation), QString::fromStdString(JournalTimeText(run.time)))
      .arg(run.entries.size());
}

OperationResult UndoJournalRun(EngineSlot& engines, int id) {
  SlotEngine<UndoEngine> engine(engines, CurrentLayout());
  return engine->UndoRun(id, false);
}

bool ConfirmRepair(QWidget* owner, int files) {
  return AskYesNo(owner, QStringLiteral("修复将改动%1个文件(可以撤销), 是否修复?").arg(files), QStringLiteral("修复"));
}

QString JournalRunsText() { return QString::number(ReadJournalLimits(CurrentLayout()).runs); }

QString JournalBytesText() { return QString::number(ReadJournalLimits(CurrentLayout()).bytes); }

bool SaveJournalLimits(const QString& runs, const QString& bytes) {
  bool number = false;
  JournalLimits limits;
  limits.runs = runs.trimmed().toInt(&number);
  const std::optional<int64_t> size = ParseByteSize(bytes.trimmed().toStdString());
  if (!number || limits.runs <= 0 || !size) {
    SetStatusText("保留次数须为正整数, 占用上限须为字节数或带K/M/G的数!");
    return false;
  }
  limits.bytes = *size;
  const DataLayout layout = CurrentLayout();
  if (!WriteJournalLimits(layout, limits)) {
    SetStatusText("无法保存撤销记录的上限!");
    return false;
  }
  PruneJournal(layout);
  SetStatusText("撤销记录的上限已保存。");
  return true;
}

}  // namespace marbloom::ui
