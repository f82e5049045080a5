// Running independent blocks of work on several threads while their results
// are used in block order, so that the outcome never depends on the number of
// threads.
#pragma once

#include <cstddef>
#include <functional>

namespace fpskit {

// The number of threads to use for `blockCount` blocks: `requested`, or the
// machine's hardware threads when it is 0; never more than the blocks, never
// fewer than 1.
unsigned WorkerCount(unsigned requested, size_t blockCount);

// Calls process(worker, block) for every block in 0..blockCount-1, spread over
// `workers` threads (the calling thread is worker 0; worker indices are below
// `workers`), and deliver(block) for every block in increasing order, one call
// at a time, each after its process() has returned. At most `slotCount` blocks
// are processed ahead of delivery: block i starts only after block
// i - slotCount was delivered, so a caller can keep per-block results in
// `slotCount` slots (block % slotCount). When a thread cannot be started, the
// others do its share. An exception thrown by process() or deliver() on any
// thread stops the work and is thrown again to the caller.
void ProcessBlocksInOrder(size_t blockCount, unsigned workers, size_t slotCount,
                          const std::function<void(unsigned worker, size_t block)>& process,
                          const std::function<void(size_t block)>& deliver);

}  // namespace fpskit
