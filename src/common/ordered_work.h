#pragma once
// Per-item work on a few threads with the results taken in item order: the
// engines run their per-security work this way, so that log lines, status,
// progress and failures come out exactly as one thread gives them.
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace marbloom {

class OperationEngine;

// The threads an engine uses by default: the machine's cores, at least two.
int DefaultWorkerCount();

// What one item reported while it ran on a worker, handed to the engine
// when the item's turn comes.
struct ItemReport {
  std::vector<std::string> lines;  // run log lines, in the order they came
  int failures = 0;
  bool wrote = false;  // the item changed the tree

  void Log(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // Logs the line and counts a failed item.
  void Fail(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // Writes the lines to the run log and counts the failures on `engine`;
  // the report is then empty.
  void Deliver(OperationEngine& engine);
};

// Runs work(item, worker) for every item of [0, count) on `workers` threads
// (worker numbers 0 .. workers-1, each used by one thread at a time) and
// calls announce(item) and take(item) on the calling thread for item 0, 1,
// ... : one after the other as each is done, or with one worker announce
// before the item's work and take after it.
// When take answers false no further item is started; the items already
// started still finish and are taken (take's answer for them is ignored).
// With one worker everything runs on the calling thread, one item after the
// other. Workers run at most a few items ahead of take.
// With `batches`, before(from, to) is called on the calling thread for
// [0, size), [size, 2 * size), ... each before the work of any of its items
// starts (the items name the files they are about to change, so that the
// undo journal keeps a whole batch at once).
struct OrderedBatches {
  std::size_t size = 256;
  std::function<void(std::size_t from, std::size_t to)> before;
};
void RunOrdered(std::size_t count, int workers, const std::function<void(std::size_t item)>& announce,
                const std::function<void(std::size_t item, int worker)>& work,
                const std::function<bool(std::size_t item)>& take, const OrderedBatches& batches = {});

}  // namespace marbloom
