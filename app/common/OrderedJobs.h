// Work on many items by several threads, with the results handed over in the
// items' order: what a run prints does not depend on how many threads it had.
#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/Interrupts.h"

namespace talveco {

// Calls work(i) for every i below `count` on up to `threads` threads (the
// calling thread alone for 1), and deliver(i, result) on the calling thread
// for i = 0, 1, ... as each result and all before it are there. `work` must
// not throw. Threads that cannot be started leave their share to the others.
template <typename Work, typename Deliver>
void runInOrder(std::size_t count, unsigned threads, Work work, Deliver deliver) {
    using Result = decltype(work(std::size_t{0}));
    if (threads <= 1 || count <= 1) {
        for (std::size_t i = 0; i < count; ++i)
            deliver(i, work(i));
        return;
    }
    std::vector<std::optional<Result>> done(count);
    std::mutex lock;
    std::condition_variable arrived;
    std::atomic<std::size_t> next{0};
    auto worker = [&] {
        for (std::size_t i; (i = next.fetch_add(1)) < count;) {
            Result result = work(i);
            const std::lock_guard guard(lock);
            done[i].emplace(std::move(result));
            arrived.notify_one();
        }
    };
    std::vector<std::thread> workers;
    {
        // The workers start with the interrupt signals blocked, so that the
        // calling thread is the one that handles them.
        const InterruptsBlocked blocked;
        for (unsigned t = 0; t < std::min<std::size_t>(threads, count); ++t) {
            try {
                workers.emplace_back(worker);
            } catch (const std::system_error&) {
                break;
            }
        }
    }
    if (workers.empty()) worker();  // no thread at all: the work is done here
    for (std::size_t i = 0; i < count; ++i) {
        std::unique_lock guard(lock);
        arrived.wait(guard, [&] { return done[i].has_value(); });
        Result result = std::move(*done[i]);
        done[i].reset();
        guard.unlock();
        deliver(i, std::move(result));
    }
    for (std::thread& thread : workers)
        thread.join();
}

}  // namespace talveco
