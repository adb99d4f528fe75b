#pragma once
// The program's working directories and the history data tree.

namespace marbloom {

// Creates and write-probes the 18 directories in order; 1 when all are usable,
// 0 at the first that is not. With quiet 0 the failure is shown as a message.
int CreateDataTree(int quiet);

}  // namespace marbloom
