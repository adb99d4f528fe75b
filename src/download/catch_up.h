#pragma once
// A catch-up: brings each kind of data to the newest day the server has,
// through the download run the page and `download` use. For each kind it
// fetches the planned weekdays one at a time, so that it learns the server's
// answer for each: a day the server lacks (a 404, nothing else) is a holiday
// once a later day arrives; when no later day does, it is "not published
// yet" if it is one of the two newest weekdays by the market's clock
// (OldestUnpublishedDay), else a failure that names the server's path. The
// days obtained in a run of the plan are converted in one batch (with
// TRANSMIN one minute build per batch); only a batch that fails is converted
// again day by day, to find the day that fails. One flush of the tree ends
// the update; the state file takes the days converted without failure only
// after that flush.
//
// Threads. Each kind owns a DownloadRun of its own (client, engines, days).
// The daily kind runs on the caller's thread. The tick kind starts on a
// thread of its own while the daily kind converts its last batch; it reports
// through a buffering reporter released when the daily kind ends, and waits
// for that release before it converts, so that the log, the status lines and
// the tree read as if the kinds ran one after the other. Without a daily
// batch to overlap, the tick kind runs on the caller's thread after it. Both
// runs owe their writes to the update's one deferred flush; the state file
// and the commits are guarded by a mutex; CancelAll (any thread) reaches
// both runs, also one that has not started yet.
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "common/data_layout.h"
#include "common/operation_engine.h"
#include "common/operation_result.h"
#include "common/shared_state.h"
#include "download/catch_up_plan.h"
#include "download/download_run.h"

namespace marbloom {

class CatchUp {
 public:
  // Built on what a DownloadRun is built on.
  explicit CatchUp(DownloadRunSetup setup);
  ~CatchUp();

  // Runs on the caller's thread (and a second one, see above), holding the
  // tree's writer lock throughout; once.
  // Done when every kind asked for is up to date, also when the newest days
  // are not published yet; failed when a day of a kind failed or is missing
  // without being one of the newest (the kind stops there, keeping every day
  // before it; the other kind still runs);
  // cancelled at once by CancelAll, without converting the days obtained.
  OperationResult Run(const CatchUpRequest& request);

  void Reset();
  void CancelAll();
  // A kind's download run, for its client's test seams.
  DownloadRun& run(DownloadKind kind) { return kind == DownloadKind::kTick ? tickRun_ : dailyRun_; }

 private:
  class KindAhead;
  // Called before each batch of a kind is converted; true for the plan's last run.
  using BeforeConverting = std::function<void(bool lastRun)>;
  OperationResult UpdateKind(DownloadKind kind, const CatchUpRequest& request, const BeforeConverting& beforeConverting);
  // Converts the days obtained; the day that failed in *failedDay.
  OperationResult Convert(DownloadKind kind, const std::vector<int>& days, CatchUpState& state, int* failedDay);
  // Writes the state file now.
  void Save(DownloadKind kind, const CatchUpState& state);
  // Keeps a state for the next SettleCommits.
  void Commit(DownloadKind kind, const CatchUpState& state);
  bool CommitPending(DownloadKind kind);
  OperationResult SettleCommits();

  DownloadRunSetup SetupFor(DownloadKind kind, DownloadRunSetup setup);
  Reporter& ReportsOf(DownloadKind kind);

  const DataLayout layout_;
  DeferredFlush flush_;
  BufferingReporter tickReports_;  // released when the daily kind has ended
  DownloadRun dailyRun_;
  DownloadRun tickRun_;
  std::mutex stateMutex_;  // the kinds run on two threads
  int stateFailures_ = 0;
  std::optional<CatchUpState> committed_[2];  // daily, tick
};

}  // namespace marbloom
