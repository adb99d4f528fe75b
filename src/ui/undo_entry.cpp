#include "ui/window_reports.h"
#include "ui/undo_entry.h"

#include <utility>

#include "app/settings.h"
#include "common/shared_state.h"
#include "common/tree_lock.h"
#include "undo/undo_engine.h"
#include "ui/message_box.h"

namespace marbloom::ui {

namespace {

// The operations marbloom-cli journals under its command names; the pages
// journal theirs under their entries' texts.
constexpr std::pair<const char*, const char*> kCommandTexts[] = {
    {"daily convert", "日线数据转档"},    {"daily delete", "删除日线数据"},     {"daily scale", "批量修改日线数据"},
    {"daily check", "修复日线数据"},      {"daily merge", "合并日线文件"},      {"daily edit", "手工修改日线数据"},
    {"tick convert", "分笔数据转档"},     {"tick delete", "删除分笔数据"},      {"tick check", "修复分笔数据"},
    {"minutes build", "分钟数据转档"},    {"minutes delete", "删除分钟数据"},   {"minutes scale", "批量修改分钟数据"},
    {"download daily", "下载日线数据"},   {"download tick", "下载分笔数据"},    {"update", "更新数据"},
    {"import", "导入数据包"},
};

// A journalled operation as the window names it.
QString OperationText(const std::string& operation) {
  if (const int undone = UndoneRunOf(operation); undone > 0) return QStringLiteral("撤销操作%1").arg(undone);
  for (const auto& [command, text] : kCommandTexts)
    if (operation == command) return QString::fromUtf8(text);
  return QString::fromStdString(operation);
}

QString RunText(const JournalRun& run) {
  return QStringLiteral("%1, %2, %3个文件")
      .arg(OperationText(run.operation), QString::fromStdString(JournalTimeText(run.time)))
      .arg(run.entries.size());
}

}  // namespace

int ConfirmUndo(QWidget* owner) {
  const std::vector<JournalRun> runs = ReadJournal(PageLayout());
  if (runs.empty()) return 0;
  const QString question = QStringLiteral("撤销上次操作(%1)? 这些文件将恢复为该操作之前的样子。").arg(RunText(runs.front()));
  return AskYesNo(owner, question, QStringLiteral("撤销")) ? runs.front().id : 0;
}

QString LastJournalRunText() {
  const std::vector<JournalRun> runs = ReadJournal(PageLayout());
  if (runs.empty()) return QStringLiteral("没有可以撤销的操作。");
  return QStringLiteral("上次操作: %1。执行将恢复这些文件。").arg(RunText(runs.front()));
}

OperationResult UndoJournalRun(EngineSlot& engines, int id) {
  SlotEngine<UndoEngine> engine(engines, PageLayout());
  return engine->UndoRun(id, false);
}

bool ConfirmRepair(QWidget* owner, int files) {
  return AskYesNo(owner, QStringLiteral("修复将改动%1个文件(可以撤销), 是否修复?").arg(files), QStringLiteral("修复"));
}

QString JournalRunsText() { return QString::number(ReadJournalLimits(PageLayout()).runs); }

QString JournalBytesText() { return QString::number(ReadJournalLimits(PageLayout()).bytes); }

bool SaveJournalLimits(const QString& runs, const QString& bytes) {
  bool number = false;
  JournalLimits limits;
  limits.runs = runs.trimmed().toInt(&number);
  const std::optional<int64_t> size = ParseByteSize(bytes.trimmed().toStdString());
  if (!number || limits.runs <= 0 || !size) {
    WindowReports().Status("保留次数须为正整数, 占用上限须为字节数或带K/M/G的数!");
    return false;
  }
  limits.bytes = *size;
  const DataLayout layout = PageLayout();
  const TreeWriteLock lock(layout);
  if (!lock.held()) {
    lock.Refuse();
    return false;
  }
  if (!WriteJournalLimits(layout, limits)) {
    WindowReports().Status("无法保存撤销记录的上限!");
    return false;
  }
  PruneJournal(layout);
  WindowReports().Status("撤销记录的上限已保存。");
  return true;
}

}  // namespace marbloom::ui
