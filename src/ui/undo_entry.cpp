#include "ui/undo_entry.h"

#include "app/settings.h"
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

}  // namespace marbloom::ui
