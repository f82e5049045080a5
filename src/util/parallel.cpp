#include "util/parallel.h"

#include <algorithm>
#include <atomic>
#include <barrier>
#include <system_error>
#include <thread>
#include <vector>

namespace fpskit {

unsigned WorkerCount(unsigned requested, size_t blockCount) {
  unsigned workers = requested != 0 ? requested : std::max(1u, std::thread::hardware_concurrency());
  return unsigned(std::max<size_t>(1, std::min<size_t>(workers, blockCount)));
}

void ProcessBlocksInOrder(size_t blockCount, unsigned workers, size_t roundSize,
                          const std::function<void(unsigned worker, size_t block)>& process,
                          const std::function<void(size_t block)>& deliver) {
  roundSize = std::max<size_t>(1, roundSize);
  if (workers <= 1 || blockCount <= 1) {
    for (size_t block = 0; block < blockCount; ++block) {
      process(0, block);
      deliver(block);
    }
    return;
  }

  // Workers take blocks of the current round from a shared counter; the last
  // one to run out arrives at the barrier, whose completion step (run while
  // every worker waits) delivers the round in order and opens the next one.
  std::atomic<size_t> next{0};
  size_t roundEnd = std::min(blockCount, roundSize);
  size_t delivered = 0;
  bool finished = false;
  auto completeRound = [&]() noexcept {
    for (; delivered < roundEnd; ++delivered) deliver(delivered);
    if (roundEnd == blockCount) {
      finished = true;
    } else {
      roundEnd = std::min(blockCount, roundEnd + roundSize);
      next.store(delivered);
    }
  };
  std::barrier sync(std::ptrdiff_t(workers), completeRound);
  auto work = [&](unsigned worker) {
    for (;;) {
      const size_t block = next.fetch_add(1);
      if (block < roundEnd) {
        process(worker, block);
        continue;
      }
      sync.arrive_and_wait();
      if (finished) return;
    }
  };

  std::vector<std::thread> helpers;
  helpers.reserve(workers - 1);
  for (unsigned worker = 1; worker < workers; ++worker) {
    try {
      helpers.emplace_back(work, worker);
    } catch (const std::system_error&) {
      sync.arrive_and_drop();  // this share falls to the threads that did start
    }
  }
  work(0);
  for (std::thread& helper : helpers) helper.join();
}

}  // namespace fpskit
