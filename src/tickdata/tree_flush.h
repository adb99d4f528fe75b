#pragma once
// The end of every writing operation of the tick and minute engines.
#include "common/data_layout.h"
#include "common/operation_engine.h"

namespace marbloom {

// When the operation wrote anything: one flush of the file system holding the
// tree, so that an operation that reports done has its data on disk. A
// failed flush is logged and counts as a failed item.
void FlushWrittenTree(OperationEngine& engine, const DataLayout& layout, bool wrote);

}  // namespace marbloom
