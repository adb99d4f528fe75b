#include "common/ordered_work.h"

#include <algorithm>
#include <condition_variable>
#include <cstdarg>
#include <mutex>
#include <thread>

#include "base/text_encoding.h"
#include "common/operation_engine.h"

namespace marbloom {

int DefaultWorkerCount() { return std::max(2, static_cast<int>(std::thread::hardware_concurrency())); }

void ItemReport::Log(const char* format, ...) {
  va_list args;
  va_start(args, format);
  lines.push_back(FormatTextV(format, args));
  va_end(args);
}

void ItemReport::Fail(const char* format, ...) {
  va_list args;
  va_start(args, format);
  lines.push_back(FormatTextV(format, args));
  va_end(args);
  ++failures;
}

void ItemReport::Deliver(OperationEngine& engine) {
  for (const std::string& line : lines) engine.Reports().Log(line);
  for (; failures > 0; --failures) engine.NoteFailure();
  lines.clear();
}

void RunOrdered(std::size_t count, int workers, const std::function<void(std::size_t item)>& announce,
                const std::function<void(std::size_t item, int worker)>& work,
                const std::function<bool(std::size_t item)>& take, const OrderedBatches& batches) {
  std::mutex mutex;
  std::condition_variable changed;
  std::size_t released = batches.before ? 0 : count;  // items whose batch was named; written by this thread
  // Names the batches up to item `until`, without the lock.
  auto release = [&](std::size_t until) {
    for (std::size_t from = released; from < std::min(until, count);) {
      const std::size_t to = std::min(count, from + std::max<std::size_t>(batches.size, 1));
      batches.before(from, to);
      const std::lock_guard<std::mutex> lock(mutex);
      released = from = to;
      changed.notify_all();
    }
  };
  if (workers <= 1 || count <= 1) {
    for (std::size_t i = 0; i < count; ++i) {
      release(i + 1);
      announce(i);
      work(i, 0);
      if (!take(i)) break;
    }
    return;
  }
  const std::size_t ahead = static_cast<std::size_t>(workers) * 4;  // items done but not yet taken, at most
  std::vector<char> done(count, 0);
  std::size_t next = 0, taken = 0;
  bool stop = false;
  auto run = [&](int worker) {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      changed.wait(lock, [&] { return stop || next >= count || (next < taken + ahead && next < released); });
      if (stop || next >= count) return;
      const std::size_t item = next++;
      lock.unlock();
      work(item, worker);
      lock.lock();
      done[item] = 1;
      changed.notify_all();
    }
  };
  std::vector<std::thread> threads;
  for (int w = 0; w < workers; ++w) threads.emplace_back(run, w);
  std::unique_lock<std::mutex> lock(mutex);
  for (std::size_t i = 0; i < count; ++i) {
    // The next batch is named while the workers are still busy with this one.
    if (const std::size_t until = i + ahead + batches.size / 2; !stop && released < std::min(until, count)) {
      lock.unlock();
      release(until);
      lock.lock();
    }
    changed.wait(lock, [&] { return done[i] != 0 || (stop && i >= next); });
    if (!done[i]) break;  // stopped: never started
    lock.unlock();
    announce(i);
    const bool more = take(i);
    lock.lock();
    taken = i + 1;
    if (!more) stop = true;
    changed.notify_all();
  }
  stop = true;
  changed.notify_all();
  lock.unlock();
  for (std::thread& thread : threads) thread.join();
}

}  // namespace marbloom
