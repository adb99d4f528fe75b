#pragma once
// The repair of the tick store's damaged pairs from what can still be read.
#include "common/data_layout.h"
#include "common/operation_engine.h"
#include "common/ordered_work.h"
#include "common/security_walk.h"
#include "tickdata/tick_engine.h"
#include "tickdata/tick_pair.h"
#include "tickdata/tick_reader.h"

namespace marbloom {

class TickRepair : public OperationEngine {
 public:
  explicit TickRepair(DataLayout layout) : OperationEngine(layout.Reports()), layout_(std::move(layout)), reader_(layout_), check_(layout_) {}

  // Rebuilds every damaged pair (with `deep`, also a pair whose blocks do not
  // all decode) from what can still be read: each entry whose block lies
  // inside the data file (and with `deep` inflates and decodes) is kept, in
  // date order under a new header; every other day is reported as lost. A
  // pair left without a day is removed. The rebuilt pairs are checked again
  // (failedItems: pairs still damaged or not written).
  OperationResult RepairTickFiles(bool deep);

 private:
  // Whether the pair needs a repair; reports nothing.
  bool PairNeedsRepair(const SecurityFile& file, bool deep);
  // Rebuilds one pair; false when it could not be read or written, or is
  // still damaged (reported and counted).
  bool RebuildPair(const SecurityFile& file, bool deep);
  void Deliver(ItemReport& report);

  DataLayout layout_;
  TickPair old_;               // the pair judged before a repair
  TickSecurityReader reader_;  // the pair whose blocks a deep repair decodes
  TickEngine check_;           // checks the rebuilt pairs
  bool wrote_ = false;         // the running repair changed the tree
};

}  // namespace marbloom
