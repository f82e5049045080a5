#include "util/parallel.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "util/replacement_catcher.h"
#include "util/reporter.h"

namespace fpskit {

unsigned WorkerCount(unsigned requested, size_t blockCount) {
  unsigned workers = requested != 0 ? requested : std::max(1u, std::thread::hardware_concurrency());
  return unsigned(std::max<size_t>(1, std::min<size_t>(workers, blockCount)));
}

void ProcessBlocksInOrder(size_t blockCount, unsigned workers, size_t slotCount,
                          const std::function<void(unsigned worker, size_t block)>& process,
                          const std::function<void(size_t block)>& deliver) {
  slotCount = std::max<size_t>(1, slotCount);
  if (workers <= 1 || blockCount <= 1) {
    for (size_t block = 0; block < blockCount; ++block) {
      process(0, block);
      deliver(block);
    }
    return;
  }

  // Workers take blocks in increasing order from a shared counter. A block
  // starts only once the block `slotCount` before it was delivered, so that
  // its slot is free. The worker that finishes the oldest undelivered block
  // delivers it and every finished block after it, under the lock.
  std::atomic<size_t> next{0};
  std::mutex lock;
  std::condition_variable slotFreed;
  std::vector<bool> finished(slotCount, false);
  size_t delivered = 0;          // guarded by `lock`
  std::exception_ptr failure;    // guarded by `lock`: the first exception of any worker
  bool stopping = false;         // guarded by `lock`

  // An exception (std::bad_alloc) in process() or deliver() stops every
  // worker and is thrown again in the calling thread once all have ended;
  // escaping a thread it would end the process.
  // Helper threads print through the caller's reporter and hand their
  // replacements to the caller's catcher, as the caller's own work would.
  Reporter& reporter = CurrentReporter();
  const ReplacementCatcher* catcher = CurrentReplacementCatcher();
  auto work = [&](unsigned worker) {
    std::optional<ScopedReporter> scopedReporter;
    std::optional<ScopedReplacementCatcher> scopedCatcher;
    if (worker != 0) {
      scopedReporter.emplace(reporter);
      scopedCatcher.emplace(catcher);
    }
    try {
      for (;;) {
        const size_t block = next.fetch_add(1);
        if (block >= blockCount) return;
        {
          std::unique_lock<std::mutex> guard(lock);
          slotFreed.wait(guard, [&] { return stopping || block < delivered + slotCount; });
          if (stopping) return;
        }
        process(worker, block);
        std::lock_guard<std::mutex> guard(lock);
        if (stopping) return;
        finished[block % slotCount] = true;
        if (block != delivered) continue;
        for (; delivered < blockCount && finished[delivered % slotCount]; ++delivered) {
          deliver(delivered);
          finished[delivered % slotCount] = false;
        }
        slotFreed.notify_all();
      }
    } catch (...) {
      std::lock_guard<std::mutex> guard(lock);
      if (!failure) failure = std::current_exception();
      stopping = true;
      slotFreed.notify_all();
    }
  };

  std::vector<std::thread> helpers;
  helpers.reserve(workers - 1);
  for (unsigned worker = 1; worker < workers; ++worker) {
    try {
      helpers.emplace_back(work, worker);
    } catch (const std::system_error&) {
      break;  // the threads that did start share the blocks
    }
  }
  work(0);
  for (std::thread& helper : helpers) helper.join();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace fpskit
