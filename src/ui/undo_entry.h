#pragma once
// What the daily and tick pages share for their undo entry and their repair
// button: the last run of the tree's undo journal, its undo on the worker,
// and the question before a repair.
#include <QString>

#include "common/operation_result.h"
#include "ui/engine_slot.h"

class QWidget;

namespace marbloom::ui {

inline constexpr const char* kUndoEntry = "撤销上次操作";

// Window thread: the newest run of the current tree's journal once the user
// confirmed its undo (asked with its operation, time and number of files),
// or 0: nothing to undo, or not confirmed.
int ConfirmUndo(QWidget* owner);
// The status line of the undo entry: the last run's operation, time and
// number of files, or that there is nothing to undo.
QString LastJournalRunText();
// Worker thread: takes run `id` back with an engine the slot can cancel.
OperationResult UndoJournalRun(EngineSlot& engines, int id);
// Window thread: true when the user confirms a repair changing `files` files.
bool ConfirmRepair(QWidget* owner, int files);

// The journal's bounds as the undo entry's two fields show them, and their
// saving from those fields: false, with the status line saying why, when a
// field does not read or the bounds cannot be stored.
QString JournalRunsText();
QString JournalBytesText();
bool SaveJournalLimits(const QString& runs, const QString& bytes);

}  // namespace marbloom::ui
