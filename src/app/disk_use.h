#pragma once
// What the program keeps on disk beside the data: the undo journal of the
// tree (its hidden folder in the history directory) and the download area
// of the work directory. The settings page shows their sizes and clears
// them; only what the program itself wrote there is ever removed.
#include <cstdint>
#include <string>

#include "common/data_layout.h"
#include "common/operation_result.h"

namespace marbloom {

struct DiskUse {
  int64_t undoJournal = 0;  // the journal's files
  int64_t downloads = 0;    // the files of down/, down/dayzip/ and down/tickzip/
};
DiskUse MeasureDiskUse(const DataLayout& layout);

// Drops every run of the undo journal (the journal's own clearing, under
// the tree's writer lock): busy when another operation holds the lock.
OperationResult ClearUndoJournal(const DataLayout& layout);

// Removes the downloaded archives, under the tree's writer lock: the day
// archives of down/dayzip/ and down/tickzip/ and the configuration archive
// down/downit.zip, nothing else. Failed, naming it, when one could not be
// removed.
OperationResult ClearDownloads(const DataLayout& layout);

// "0 B", "12.3 KB", "4.5 MB", "1.2 GB".
std::string ByteSizeText(int64_t bytes);

}  // namespace marbloom
